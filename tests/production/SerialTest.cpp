// Serial numbers: the --serial text, the field's bytes and place, and the serial file that never
// hands out a number twice (also across processes and when a process is killed at any moment).

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <set>
#include <thread>

#include <sys/stat.h>

#include "ops/Serial.h"
#include "tests/production/ProductionTestSupport.h"
#include "tests/support/WithoutPrivileges.h"

namespace {

SerialSpec Spec(SerialFormat format, int width, uint64_t start = 1, uint64_t step = 1) {
    SerialSpec spec;
    spec.format = format;
    spec.width = width;
    spec.start = start;
    spec.step = step;
    return spec;
}

TEST(SerialSpecTest, ParsesAddressStartStepAndFormat) {
    const struct {
        const char* text;
        uint32_t address;
        uint64_t start, step;
        const char* format;
    } cases[] = {
        {"0x7FF0", 0x7FF0, 1, 1, "le2"},
        {"16,100", 16, 100, 1, "le2"},
        {"0x10,0x100,5,be4", 16, 256, 5, "be4"},
        {"0XFF,0,1,Le1", 255, 0, 1, "le1"},
        {"0,,,dec6", 0, 1, 1, "dec6"},
        {"0x1FFD,,10,BCD3", 0x1FFD, 1, 10, "bcd3"},
        {"010,010", 10, 10, 1, "le2"}, // leading zeros are decimal, not octal
        {"0,65534", 0, 65534, 1, "le2"},
        {"0,9999999999,1,dec10", 0, 9999999999u, 1, "dec10"},
        {"4294967295,0,18446744073709551615,bcd5", 4294967295u, 0, UINT64_MAX, "bcd5"},
    };
    for (const auto& c : cases) {
        SerialSpec spec;
        std::string error;
        ASSERT_TRUE(ParseSerialSpec(c.text, spec, error)) << c.text << ": " << error;
        EXPECT_EQ(spec.address, c.address) << c.text;
        EXPECT_EQ(spec.start, c.start) << c.text;
        EXPECT_EQ(spec.step, c.step) << c.text;
        EXPECT_EQ(SerialFormatName(spec), c.format) << c.text;
    }
}

TEST(SerialSpecTest, RefusesWhatIsNoSpecAndLeavesTheSpecAlone) {
    const char* cases[] = {
        "",
        "-1",
        "+5",
        " 16",
        "16 ",
        "0x",
        "0xG",
        "1e3",
        "4294967296",
        "18446744073709551616",
        "16,-1",
        "16,1,0",
        "16,1,-1",
        "16,1,18446744073709551616",
        "16,1,1,",
        "16,1,1,le",
        "16,1,1,le0",
        "16,1,1,le5",
        "16,1,1,be9",
        "16,1,1,dec0",
        "16,1,1,dec11",
        "16,1,1,bcd6",
        "16,1,1,xe2",
        "16,1,1,le2x",
        "16,1,1, le2",
        "16,1,1,le2,9",
        "16,65536",
        "16,256,1,le1",
        // All bytes 0xFF is what an erased field reads: never a number.
        "16,65535",
        "16,255,1,le1",
        "16,0xFFFFFFFF,1,be4",
        "16,1000000,1,dec6",
    };
    for (const char* text : cases) {
        SerialSpec spec;
        spec.address = 77;
        std::string error;
        EXPECT_FALSE(ParseSerialSpec(text, spec, error)) << '"' << text << '"';
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(spec.address, 77u) << text;
    }
}

TEST(SerialEncodeTest, EveryFormatAndItsLargestNumber) {
    using V = std::vector<uint8_t>;
    const struct {
        SerialFormat format;
        int width;
        uint64_t number;
        bool fits;
        V bytes;
    } cases[] = {
        {SerialFormat::LittleEndian, 2, 0x1234, true, {0x34, 0x12}},
        {SerialFormat::LittleEndian, 4, 0x12345678, true, {0x78, 0x56, 0x34, 0x12}},
        {SerialFormat::LittleEndian, 1, 254, true, {0xFE}},
        {SerialFormat::LittleEndian, 1, 255, false, {}}, // 0xFF reads as an erased field
        {SerialFormat::LittleEndian, 2, 65535, false, {}},
        {SerialFormat::BigEndian, 2, 65534, true, {0xFF, 0xFE}},
        {SerialFormat::BigEndian, 4, 0xFFFFFFFF, false, {}},
        {SerialFormat::LittleEndian, 1, 256, false, {}},
        {SerialFormat::LittleEndian, 4, 0xFFFFFFFE, true, {0xFE, 0xFF, 0xFF, 0xFF}},
        {SerialFormat::LittleEndian, 4, 0x100000000, false, {}},
        {SerialFormat::BigEndian, 2, 0x1234, true, {0x12, 0x34}},
        {SerialFormat::BigEndian, 3, 0x123456, true, {0x12, 0x34, 0x56}},
        {SerialFormat::BigEndian, 3, 0x1000000, false, {}},
        {SerialFormat::Decimal, 6, 42, true, {'0', '0', '0', '0', '4', '2'}},
        {SerialFormat::Decimal, 1, 7, true, {'7'}},
        {SerialFormat::Decimal, 6, 999999, true, {'9', '9', '9', '9', '9', '9'}},
        {SerialFormat::Decimal, 6, 1000000, false, {}},
        {SerialFormat::Decimal, 10, 9876543210, true, {'9', '8', '7', '6', '5', '4', '3', '2', '1', '0'}},
        {SerialFormat::Bcd, 3, 123456, true, {0x12, 0x34, 0x56}},
        {SerialFormat::Bcd, 2, 42, true, {0x00, 0x42}},
        {SerialFormat::Bcd, 1, 99, true, {0x99}},
        {SerialFormat::Bcd, 1, 100, false, {}},
        {SerialFormat::Bcd, 5, 9999999999, true, {0x99, 0x99, 0x99, 0x99, 0x99}},
        {SerialFormat::Bcd, 5, 10000000000, false, {}},
    };
    for (const auto& c : cases) {
        const SerialSpec spec = Spec(c.format, c.width);
        std::vector<uint8_t> bytes;
        std::string error;
        EXPECT_EQ(EncodeSerial(spec, c.number, bytes, error), c.fits)
            << SerialFormatName(spec) << " " << c.number;
        if (c.fits)
            EXPECT_EQ(bytes, c.bytes) << SerialFormatName(spec) << " " << c.number;
        else
            EXPECT_FALSE(error.empty());
        EXPECT_EQ(SerialFieldSize(spec), c.width);
    }
}

TEST(SerialFieldTest, InsideTheFlashAndOnlyOverErasedBytesUnlessForced) {
    std::vector<uint8_t> image(65536, 0xFF);
    image[0x100] = 0x12; // data of the file
    const struct {
        uint32_t address;
        int width;
        int32_t flashSize;
        bool force;
        bool ok;
    } cases[] = {
        {0x1FFE, 2, 8192, false, true},      // the last two bytes
        {0x1FFF, 2, 8192, false, false},     // one byte past the end
        {0x2000, 1, 8192, true, false},      // force does not move the end of the flash
        {0xFFFFFFFF, 4, 8192, false, false}, // no wrap-around
        {0x0FF, 2, 8192, false, false},      // over 0x100
        {0x0FF, 2, 8192, true, true},        // ... allowed with force
        {0x101, 2, 8192, false, true},       // beside it
        {0x000, 1, 0, false, false},         // no flash at all
    };
    for (const auto& c : cases) {
        SerialSpec spec = Spec(SerialFormat::LittleEndian, c.width);
        spec.address = c.address;
        std::string error;
        EXPECT_EQ(CheckSerialField(spec, c.flashSize, image.data(), c.force, error), c.ok)
            << std::hex << c.address << " width " << c.width;
        EXPECT_EQ(error.empty(), c.ok) << error;
    }
}

TEST(SerialFieldTest, PutWritesTheFieldOnlyAndNothingWhenItCannot) {
    std::vector<uint8_t> image(8192, 0xFF);
    SerialSpec spec = Spec(SerialFormat::BigEndian, 2);
    spec.address = 0x10;
    std::string error;
    ASSERT_TRUE(PutSerial(spec, 0xABCD, image.data(), 8192, error)) << error;
    std::vector<uint8_t> expected(8192, 0xFF);
    expected[0x10] = 0xAB;
    expected[0x11] = 0xCD;
    EXPECT_EQ(image, expected);

    EXPECT_FALSE(PutSerial(spec, 0x10000, image.data(), 8192, error));
    spec.address = 0x1FFF;
    EXPECT_FALSE(PutSerial(spec, 1, image.data(), 8192, error));
    EXPECT_EQ(image, expected);
}

TEST(SerialFileTest, StartsAtStartWhenMissingAndStepsFromTheFile) {
    CProductionDir dir;
    const std::string path = dir / "serial";
    const SerialSpec spec = Spec(SerialFormat::LittleEndian, 2, 100, 5);
    for (uint64_t expected : {100, 105, 110}) {
        uint64_t number = 0;
        std::string error;
        ASSERT_TRUE(TakeSerialNumber(path, spec, number, error)) << error;
        EXPECT_EQ(number, expected);
    }
    EXPECT_EQ(ReadWholeFile(path), SerialFileText(115));
    uint64_t next = 0;
    EXPECT_TRUE(ParseSerialFile(ReadWholeFile(path), next));
    EXPECT_EQ(next, 115u);

    // The file rules over the spec's start; a hand-written one is read as it is (with no number given
    // from it before: the high-water mark would refuse one set back).
    for (const auto& [text, expected] : std::vector<std::pair<std::string, uint64_t>>{
             {"1000\n", 1000}, {"# set by hand\n\n  next = 7 \r\n", 7}, {"next=0x20", 32}}) {
        std::filesystem::remove(path + ".high");
        WriteWholeFile(path, text);
        uint64_t number = 0;
        std::string error;
        ASSERT_TRUE(TakeSerialNumber(path, spec, number, error)) << error;
        EXPECT_EQ(number, expected) << text;
        EXPECT_EQ(ReadWholeFile(path), SerialFileText(expected + 5));
    }
}

TEST(SerialFileTest, AFileThatIsThereButNotUnderstoodIsRefusedAndKept) {
    CProductionDir dir;
    const std::string path = dir / "serial";
    const SerialSpec spec = Spec(SerialFormat::LittleEndian, 2);
    const std::string cases[] = {
        "",
        "\n",
        "# only a comment\n",
        "next=",
        "next=abc",
        "next=1\nnext=2",
        "1\n2\n",
        "next=-1",
        "next:5",
        "nxt=5",
        "next=18446744073709551616",
        std::string(5000, '#') + "\nnext=1\n",
        std::string("next=1\0", 7),
    };
    for (const std::string& text : cases) {
        WriteWholeFile(path, text);
        uint64_t number = 12345;
        std::string error;
        EXPECT_FALSE(TakeSerialNumber(path, spec, number, error)) << '"' << text.substr(0, 40) << '"';
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(number, 12345u);
        EXPECT_EQ(ReadWholeFile(path), text);
    }

    // What cannot be read is no missing file either.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    uint64_t number = 0;
    std::string error;
    EXPECT_FALSE(TakeSerialNumber(path, spec, number, error));
    std::filesystem::remove(path);
    WriteWholeFile(path, "next=9\n");
    ::chmod(path.c_str(), 0);
    WithoutPrivileges([&] { EXPECT_FALSE(TakeSerialNumber(path, spec, number, error)); });
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(ReadWholeFile(path), "next=9\n");
}

TEST(SerialFileTest, TheLastNumberOfTheFormatIsGivenThenNoMore) {
    CProductionDir dir;
    const std::string path = dir / "serial";
    const SerialSpec spec = Spec(SerialFormat::LittleEndian, 1);
    // 255 would be 0xFF, an erased field: 254 is the last.
    WriteWholeFile(path, "next=254\n");
    uint64_t number = 0;
    std::string error;
    ASSERT_TRUE(TakeSerialNumber(path, spec, number, error)) << error;
    EXPECT_EQ(number, 254u);
    EXPECT_FALSE(TakeSerialNumber(path, spec, number, error));
    EXPECT_NE(error.find("used up"), std::string::npos) << error;
    EXPECT_EQ(ReadWholeFile(path), SerialFileText(255));

    // A step that would run past every number there is gives nothing either.
    std::filesystem::remove(path + ".high");
    WriteWholeFile(path, "next=1\n");
    EXPECT_FALSE(TakeSerialNumber(path, Spec(SerialFormat::LittleEndian, 1, 1, UINT64_MAX), number, error));
    EXPECT_EQ(ReadWholeFile(path), "next=1\n");
}

TEST(SerialFileTest, EveryNameOfTheFileMeetsOneLock) {
    CProductionDir dir;
    const std::string target = dir / "serial";
    const std::string link = dir / "line-serial";
    std::filesystem::create_symlink("serial", link);
    WriteWholeFile(target, "next=1\n"); // a link to nothing makes no file
    const SerialSpec spec = Spec(SerialFormat::LittleEndian, 2);
    uint64_t first = 0, second = 0;
    std::string error;
    ASSERT_TRUE(TakeSerialNumber(link, spec, first, error)) << error;
    ASSERT_TRUE(TakeSerialNumber(target, spec, second, error)) << error;
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(second, 2u);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::exists(target + ".lock"));
    EXPECT_FALSE(std::filesystem::exists(link + ".lock"));
}

// The file store keeps a high-water mark beside the file: a next number at or below a number given
// before is refused, whichever way the file went back; --serial-reset lets it through once.
TEST(SerialFileTest, AFileThatWentBackIsRefusedUnlessReset) {
    const SerialSpec spec = Spec(SerialFormat::LittleEndian, 2, 100);
    const struct {
        const char* what;
        std::function<void(const std::string& path, const std::string& old)> goBack;
    } cases[] = {
        {"deleted", [](const std::string& path, const std::string&) { std::filesystem::remove(path); }},
        {"restored from an old copy",
         [](const std::string& path, const std::string& old) { WriteWholeFile(path, old); }},
        {"edited down",
         [](const std::string& path, const std::string&) { WriteWholeFile(path, "next=101\n"); }},
    };
    for (const auto& c : cases) {
        CProductionDir dir;
        const std::string path = dir / "serial";
        uint64_t number = 0;
        std::string error;
        ASSERT_TRUE(TakeSerialNumber(path, spec, number, error)) << error;
        const std::string old = ReadWholeFile(path); // next=101
        ASSERT_TRUE(TakeSerialNumber(path, spec, number, error)) << error;
        ASSERT_TRUE(TakeSerialNumber(path, spec, number, error)) << error;
        ASSERT_EQ(number, 102u);
        c.goBack(path, old);
        const std::string before = ReadWholeFile(path);
        EXPECT_FALSE(TakeSerialNumber(path, spec, number, error)) << c.what;
        EXPECT_NE(error.find("--serial-reset"), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find("102"), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(ReadWholeFile(path), before) << c.what << ": nothing taken";

        // Meant: the file's number is given, and from then on the mark follows the file again.
        CSerialFileStore reset(path, true);
        ASSERT_TRUE(reset.Take(spec, number, error, nullptr)) << c.what << ": " << error;
        const uint64_t first = number;
        EXPECT_LE(first, 102u) << c.what;
        ASSERT_TRUE(reset.Take(spec, number, error, nullptr)) << c.what << ": " << error;
        EXPECT_EQ(number, first + 1) << c.what;
        WriteWholeFile(path, "next=" + std::to_string(first) + "\n");
        EXPECT_FALSE(reset.Take(spec, number, error, nullptr)) << c.what << ": the reset was for one number";
    }
}

// Anything but a regular file at the lock's name is refused at once: a FIFO there would hold open().
TEST(SerialFileTest, ALockThatIsNoRegularFileIsRefusedWithoutWaiting) {
    CProductionDir dir;
    const std::string path = dir / "serial";
    const std::string fifo = path + ".lock";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess child = StartChild([&](int fd) {
        ::alarm(5); // a hang ends the child, and the parent sees no answer
        uint64_t number = 0;
        std::string error;
        const bool taken = TakeSerialNumber(path, Spec(SerialFormat::LittleEndian, 2), number, error);
        const std::string answer = (taken ? "taken " : "refused ") + error;
        if (::write(fd, answer.data(), answer.size()) < 0)
            ::_exit(4);
    });
    const std::string answer = CollectChild(child);
    EXPECT_EQ(answer, "refused the lock " + fifo + " is not a regular file");
    EXPECT_FALSE(std::filesystem::exists(path));

    std::filesystem::remove(fifo);
    std::filesystem::create_directory(fifo);
    uint64_t number = 0;
    std::string error;
    EXPECT_FALSE(TakeSerialNumber(path, Spec(SerialFormat::LittleEndian, 2), number, error));
    EXPECT_NE(error.find(fifo), std::string::npos) << error;
}

// Numbers as the children report them: 8 bytes each, one write each (atomic in a pipe).
std::vector<uint64_t> Numbers(const std::string& data) {
    std::vector<uint64_t> numbers(data.size() / 8);
    if (!numbers.empty())
        std::memcpy(numbers.data(), data.data(), numbers.size() * 8);
    return numbers;
}

void Report(int fd, uint64_t number) {
    if (::write(fd, &number, sizeof number) != sizeof number)
        ::_exit(4);
}

TEST(SerialFileTest, ProcessesSharingOneFileGetDistinctNumbersAndLoseNone) {
    CProductionDir dir;
    const std::string path = dir / "serial";
    const SerialSpec spec = Spec(SerialFormat::LittleEndian, 4, 10, 3);
    constexpr int CHILDREN = 3;
    constexpr int TAKES = 40;
    std::vector<ChildProcess> children;
    for (int k = 0; k < CHILDREN; ++k) {
        children.push_back(StartChild([&](int fd) {
            for (int i = 0; i < TAKES; ++i) {
                uint64_t number = 0;
                std::string error;
                if (!TakeSerialNumber(path, spec, number, error))
                    ::_exit(3);
                Report(fd, number);
            }
        }));
    }
    std::vector<uint64_t> all;
    for (ChildProcess& child : children) {
        int status = 0;
        const std::vector<uint64_t> numbers = Numbers(CollectChild(child, &status));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(numbers.size(), static_cast<size_t>(TAKES));
        all.insert(all.end(), numbers.begin(), numbers.end());
    }
    std::sort(all.begin(), all.end());
    std::vector<uint64_t> expected;
    for (int i = 0; i < CHILDREN * TAKES; ++i)
        expected.push_back(10 + 3 * static_cast<uint64_t>(i));
    EXPECT_EQ(all, expected);
    EXPECT_EQ(ReadWholeFile(path), SerialFileText(10 + 3 * CHILDREN * TAKES));
}

// A child takes numbers as fast as it can and reports each only after it was returned; it is killed
// at a random moment, over and over. No number reported may come again, and the file must always be
// readable and ahead of every number reported.
TEST(SerialFileTest, KilledAtAnyMomentNoNumberComesTwice) {
    CProductionDir dir;
    const std::string path = dir / "serial";
    const SerialSpec spec = Spec(SerialFormat::LittleEndian, 4);
    const unsigned seed = 20260301;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 25000); // microseconds before the kill
    std::multiset<uint64_t> given;
    for (int round = 0; round < 30; ++round) {
        ChildProcess child = StartChild([&](int fd) {
            for (;;) {
                uint64_t number = 0;
                std::string error;
                if (!TakeSerialNumber(path, spec, number, error))
                    ::_exit(3);
                Report(fd, number);
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        ::kill(child.pid, SIGKILL);
        int status = 0;
        for (uint64_t number : Numbers(CollectChild(child, &status)))
            given.insert(number);
        ASSERT_TRUE(WIFSIGNALED(status))
            << "round " << round << " (seed " << seed << "): the child ended by itself";

        // The file is never left unreadable: the next number is there for the next process.
        uint64_t number = 0;
        std::string error;
        ASSERT_TRUE(TakeSerialNumber(path, spec, number, error)) << "round " << round << ": " << error;
        given.insert(number);
    }
    for (uint64_t number : given)
        EXPECT_EQ(given.count(number), 1u) << number << " given twice (seed " << seed << ")";
    uint64_t next = 0;
    ASSERT_TRUE(ParseSerialFile(ReadWholeFile(path), next));
    EXPECT_GT(next, *given.rbegin());
    EXPECT_GT(given.size(), 30u); // the children took numbers too, not only the parent
}

} // namespace
