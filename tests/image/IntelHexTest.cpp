#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include <sys/stat.h>

#include "ImageFixtures.h"
#include "chips/ChipCatalogue.h"
#include "image/IntelHex.h"

namespace {

// A data record with a correct checksum for the bytes given as hex text, without line end.
std::string Record(int address, const std::string& data) {
    const int count = static_cast<int>(data.size() / 2);
    int sum = count + (address >> 8) + (address & 0xFF);
    for (size_t i = 0; i < data.size(); i += 2)
        sum += std::stoi(data.substr(i, 2), nullptr, 16);
    char head[10], tail[3];
    std::snprintf(head, sizeof head, ":%02X%04X00", count, address);
    std::snprintf(tail, sizeof tail, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return head + data + tail;
}

struct Patch {
    int address;
    std::string bytes; // hex text
};

FirmwareBuffer ExpectedImage(int32_t imageSize, const std::vector<Patch>& patches) {
    FirmwareBuffer b;
    b.m_imageSize = imageSize;
    for (const auto& p : patches)
        for (size_t i = 0; i < p.bytes.size(); i += 2)
            b.m_image[static_cast<size_t>(p.address) + i / 2] =
                static_cast<uint8_t>(std::stoi(p.bytes.substr(i, 2), nullptr, 16));
    return b;
}

// First address where the two images differ, or -1.
int FirstDifference(const FirmwareBuffer& a, const FirmwareBuffer& b) {
    for (int i = 0; i < IMAGE_CAPACITY; ++i)
        if (a.m_image[static_cast<size_t>(i)] != b.m_image[static_cast<size_t>(i)])
            return i;
    return -1;
}

const std::string END = ":00000001FF";
const std::string INVALID = std::string("error: ") + MSG_HEX_INVALID_LINE;
const std::string ABNORMAL = std::string("error: ") + MSG_HEX_ABNORMAL_END;
const std::string BAD_TYPE = std::string("error: ") + MSG_HEX_INVALID_TYPE;
const std::string TOO_LARGE = std::string("error: ") + MSG_HEX_TOO_LARGE;

} // namespace

TEST(IntelHexReader, ChecksLinesInOrderAndKeepsWhatWasReadBeforeAFailure) {
    struct Case {
        const char* name;
        int32_t imageSize;
        std::string file;
        bool loads;
        std::vector<std::string> messages;
        std::vector<Patch> image; // over 0xFF throughout
    };
    const std::string r0 = Record(0, "020030");
    const std::string r10 = Record(0x10, "AABBCCDD");
    // clang-format off
    const Case cases[] = {
        {"CR LF line ends", 4096, r0 + "\r\n" + r10 + "\r\n" + END + "\r\n", true, {}, {{0, "020030"}, {0x10, "AABBCCDD"}}},
        {"LF line ends", 4096, r0 + "\n" + r10 + "\n" + END + "\n", true, {}, {{0, "020030"}, {0x10, "AABBCCDD"}}},
        {"end record without final LF", 4096, r0 + "\n" + END, true, {}, {{0, "020030"}}},
        {"lower-case digits", 4096, ":03001000deadbe00\n:00000001ff\n", true, {}, {{0x10, "DEADBE"}}},
        {"wrong checksum is not checked", 4096, ":0300000002003000\n" + END + "\n", true, {}, {{0, "020030"}}},
        {"non-digits read as zero digits", 4096, ":0200000G1GG100\n" + END + "\n", true, {}, {{0, "1001"}}},
        {"end record's other fields do not matter", 4096, r0 + "\n:0G1234011Z\n", true, {}, {{0, "020030"}}},
        {"empty data record", 4096, ":0000100000\n" + END + "\n", true, {}, {}},
        {"lines after the end record are never read", 4096, r0 + "\n" + END + "\n" + "garbage\n:020000040000FA\n", true, {}, {{0, "020030"}}},
        {"records out of order and overlapping", 4096, Record(0x20, "1111") + "\n" + Record(0x10, "2222") + "\n" + Record(0x0F, "33333333") + "\n" + END + "\n", true, {}, {{0x0F, "33333333"}, {0x20, "1111"}}},
        {"count says more bytes than the line holds", 4096, r0 + "\n:0400000002003000\n" + END + "\n", false, {INVALID}, {{0, "020030"}}},
        {"count says fewer bytes than the line holds", 4096, ":0200000002003000\n" + END + "\n", false, {INVALID}, {}},
        {"trailing blank", 4096, r0 + "\n" + r10 + " \n" + END + "\n", false, {INVALID}, {{0, "020030"}}},
        {"trailing blank after CR LF's CR", 4096, r0 + "\r \n" + END + "\n", false, {INVALID}, {}},
        {"a CR not before LF is part of the line", 4096, r0 + "\r\r\n" + END + "\n", false, {INVALID}, {}},
        {"empty line", 4096, r0 + "\n\n" + END + "\n", false, {INVALID}, {{0, "020030"}}},
        {"empty file", 4096, "", false, {INVALID}, {}},
        {"no colon", 4096, "03000000020030CB\n" + END + "\n", false, {INVALID}, {}},
        {"line under 9 characters", 4096, ":0000000\n" + END + "\n", false, {INVALID}, {}},
        {"line of 300 characters", 4096, ":" + std::string(299, '0') + "\n" + END + "\n", false, {INVALID}, {}},
        {"127-byte record fits", 12288, Record(0, std::string(254, 'A')) + "\n" + END + "\n", true, {}, {{0, std::string(254, 'A')}}},
        {"128-byte record", 12288, Record(0, std::string(256, 'A')) + "\n" + END + "\n", false, {INVALID}, {}},
        {"missing end record, final LF", 4096, r0 + "\n" + r10 + "\n", false, {INVALID}, {{0, "020030"}, {0x10, "AABBCCDD"}}},
        {"missing end record, no final LF", 4096, r0 + "\n" + r10, false, {ABNORMAL}, {{0, "020030"}, {0x10, "AABBCCDD"}}},
        {"extended address record at address 0", 4096, r0 + "\n:020000040000FA\n" + END + "\n", false, {BAD_TYPE}, {{0, "020030"}}},
        {"extended segment address record", 4096, ":020000021000EC\n" + END + "\n", false, {BAD_TYPE}, {}},
        {"record ends at the last flash byte", 4096, Record(0x0FF0, std::string(32, '5')) + "\n" + END + "\n", true, {}, {{0x0FF0, std::string(32, '5')}}},
        {"record one byte past the flash", 4096, r0 + "\n" + Record(0x0FF1, std::string(32, '5')) + "\n" + END + "\n", false, {TOO_LARGE}, {{0, "020030"}}},
        {"bound is the selected chip's", 2048, Record(0x0800, "00") + "\n" + END + "\n", false, {TOO_LARGE}, {}},
        {"count checked before type", 4096, ":0200000400\n" + END + "\n", false, {INVALID}, {}},
        {"type checked before bound", 4096, Record(0xFFF0, "00").replace(7, 2, "04") + "\n", false, {BAD_TYPE}, {}},
    };
    // clang-format on
    CTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "in.hex";
        WriteFile(path, c.file);
        FirmwareBuffer buffer;
        buffer.m_imageSize = c.imageSize;
        CRecorder messages;
        EXPECT_EQ(ReadIntelHex(path, buffer, messages), c.loads);
        EXPECT_EQ(messages.m_events, c.messages);
        EXPECT_EQ(FirstDifference(buffer, ExpectedImage(c.imageSize, c.image)), -1);

        // Standard input's text in memory reads exactly as the file does.
        FirmwareBuffer fromText;
        fromText.m_imageSize = c.imageSize;
        const FileResult text = ReadIntelHexText(c.file, fromText);
        EXPECT_EQ(text.ok, c.loads);
        EXPECT_EQ(text.ok || text.message == nullptr
                      ? std::vector<std::string>{}
                      : std::vector<std::string>{std::string("error: ") + text.message},
                  c.messages);
        EXPECT_EQ(FirstDifference(fromText, buffer), -1);
    }
}

TEST(IntelHexReader, DoesNotClearAndFailsOnWhatCannotBeOpened) {
    CTempDir dir;
    WriteFile(dir / "in.hex", Record(0x10, "0102") + "\n" + END + "\n");
    FirmwareBuffer buffer;
    buffer.m_image.fill(0x55);
    CRecorder messages;
    EXPECT_TRUE(ReadIntelHex(dir / "in.hex", buffer, messages));
    EXPECT_EQ(buffer.m_image[0x0F], 0x55);
    EXPECT_EQ(buffer.m_image[0x10], 0x01);
    EXPECT_EQ(buffer.m_image[0x12], 0x55);

    mkdir((dir / "folder.hex").c_str(), 0755);
    mkfifo((dir / "fifo.hex").c_str(), 0644); // no writer: must not wait for one
    for (const std::string name : {"missing.hex", "folder.hex", "fifo.hex"}) {
        SCOPED_TRACE(name);
        FirmwareBuffer untouched;
        untouched.m_image.fill(0x55);
        CRecorder m;
        EXPECT_FALSE(ReadIntelHex(dir / name, untouched, m));
        const std::vector<std::string> expected = {
            name == "fifo.hex" ? INVALID : std::string("error: ") + MSG_HEX_CANNOT_OPEN};
        EXPECT_EQ(m.m_events, expected);
        EXPECT_EQ(untouched.m_image[0], 0x55);
    }
}

TEST(IntelHexReader, HexFieldValueIsLenient) {
    const struct {
        const char* text;
        int value;
    } cases[] = {
        {"00", 0},        {"FF", 255},      {"ff", 255},        {"fF", 255},   {"1G", 0x10},
        {"G1", 0x01},     {"0x", 0},        {" 1", 1},          {"z9", 9},     {"FFFF", 0xFFFF},
        {"fffF", 0xFFFF}, {"0FF0", 0x0FF0}, {"FFFFF", 0xFFFFF}, {"FFFFFF", 0}, {"123456", 0},
        {"", 0},          {"-1", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexFieldValue(c.text), c.value) << '"' << c.text << '"';
}

TEST(IntelHexWriter, RecordsCarryAddressDataAndChecksum) {
    uint8_t row[16];
    std::fill(std::begin(row), std::end(row), 0xFF);
    row[0] = 0x02, row[1] = 0x00, row[2] = 0x30;
    EXPECT_EQ(HexDataRecord(0x0000, row), ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB");
    EXPECT_EQ(HexDataRecord(0x0100, row), ":10010000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCA");
    const uint8_t zeros[16] = {};
    EXPECT_EQ(HexDataRecord(0x2FF0, zeros), ":102FF000" + std::string(32, '0') + "D1");
    uint8_t blank[16];
    std::fill(std::begin(blank), std::end(blank), 0xFF);
    EXPECT_TRUE(IsBlankRow(blank));
    blank[15] = 0xFE;
    EXPECT_FALSE(IsBlankRow(blank));
}

TEST(IntelHexWriter, BlankImageGivesOnlyTheEndRecord) {
    CTempDir dir;
    FirmwareBuffer buffer;
    buffer.m_imageSize = 12288;
    ASSERT_TRUE(WriteIntelHex(dir / "blank.hex", buffer));
    EXPECT_EQ(ReadFile(dir / "blank.hex"), ":00000001FF\r\n");
}

TEST(IntelHexWriter, RoundTripsEveryChipSizeAndWritesNothingBeyondTheBound) {
    std::mt19937 random(51);
    FirmwareBuffer source;
    for (auto& b : source.m_image)
        b = static_cast<uint8_t>(random());
    // Blank rows, a row with one byte set, and a row whose only 0xFF-free byte is the last.
    std::fill_n(source.m_image.begin() + 0x40, 0x30, 0xFF);
    source.m_image[0x45] = 0x00;
    std::fill_n(source.m_image.begin() + 0x100, 16, 0xFF);
    source.m_image[0x10F] = 0x7E;

    CTempDir dir;
    for (const auto& chip : g_chipCatalogue) {
        SCOPED_TRACE(chip.name);
        source.m_imageSize = chip.flashSize;
        const std::string path = dir / "out.hex";
        ASSERT_TRUE(WriteIntelHex(path, source));

        const std::string text = ReadFile(path);
        size_t at = 0;
        int rows = 0, lastAddress = -1;
        for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
            const std::string line = text.substr(at, end - at);
            if (line == END)
                break;
            ++rows;
            ASSERT_EQ(line.size(), 43u) << line;
            EXPECT_EQ(line.find_first_not_of(":0123456789ABCDEF"), std::string::npos) << line;
            int sum = 0;
            for (size_t i = 1; i < 43; i += 2)
                sum += std::stoi(line.substr(i, 2), nullptr, 16);
            EXPECT_EQ(sum & 0xFF, 0) << line;
            const int address = std::stoi(line.substr(3, 4), nullptr, 16);
            EXPECT_GT(address, lastAddress);
            EXPECT_EQ(address % 16, 0);
            lastAddress = address;
        }
        EXPECT_EQ(text.substr(at), END + "\r\n");
        EXPECT_LT(lastAddress, chip.flashSize);
        EXPECT_EQ(rows, chip.flashSize / 16 - 2); // rows 0x50 and 0x60 are blank

        FirmwareBuffer back;
        back.m_imageSize = chip.flashSize;
        CRecorder messages;
        ASSERT_TRUE(ReadIntelHex(path, back, messages));
        EXPECT_TRUE(
            std::equal(back.m_image.begin(), back.m_image.begin() + chip.flashSize, source.m_image.begin()));
        EXPECT_TRUE(std::all_of(back.m_image.begin() + chip.flashSize, back.m_image.end(),
                                [](uint8_t b) { return b == 0xFF; }));
    }
}
