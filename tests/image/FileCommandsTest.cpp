#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

#include "ImageFixtures.h"
#include "image/BinaryFile.h"
#include "image/IntelHex.h"
#include "tests/support/WithoutPrivileges.h"

namespace fs = std::filesystem;

namespace {

const std::string HEX_FILE = ":03000000020030CB\r\n:00000001FF\r\n"; // 02 00 30 at address 0
const std::string HEX_BYTES("\x02\x00\x30", 3);

std::string Bytes(size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i)
        s.push_back(static_cast<char>(i * 7 + 1));
    return s;
}

std::string Error(const char* text) {
    return std::string("error: ") + text;
}
std::string Info(const char* text) {
    return std::string("info: ") + text;
}

// Bytes 0.. of the image equal prefix and every later byte is 0xFF.
testing::AssertionResult ImageIs(const FirmwareBuffer& buffer, const std::string& prefix) {
    for (size_t i = 0; i < buffer.m_image.size(); ++i) {
        const uint8_t want = i < prefix.size() ? static_cast<uint8_t>(prefix[i]) : 0xFF;
        if (buffer.m_image[i] != want)
            return testing::AssertionFailure()
                   << "byte " << i << " is " << int(buffer.m_image[i]) << ", not " << int(want);
    }
    return testing::AssertionSuccess();
}

} // namespace

TEST(FileKind, TakesTheExtensionOfTheFileNameLowerCased) {
    const struct {
        const char* path;
        FileKind kind;
        const char* title;
    } cases[] = {
        {"/home/u/FIRMWARE.HEX", FileKind::IntelHex, "FIRMWARE.HEX"},
        {"/home/u/firmware.Hex", FileKind::IntelHex, "firmware.Hex"},
        {"/x/prog.IHX", FileKind::IntelHex, "prog.IHX"},
        {"/x/a.b.bin", FileKind::Binary, "a.b.bin"},
        {"/x/a.bin.txt", FileKind::None, "a.bin.txt"},
        {"/x/firmware.txt", FileKind::None, "firmware.txt"},
        {"/x/firmware", FileKind::None, "firmware"},
        {"/x/firmware.", FileKind::None, "firmware."},
        {"/x/hex", FileKind::None, "hex"},
        {"/x/dir.bin/firmware", FileKind::None, "firmware"},
        {"/x/dir.hex/", FileKind::None, ""},
        {"relative.bin", FileKind::Binary, "relative.bin"},
        {"/x/.hex", FileKind::IntelHex, ".hex"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileKindFromPath(c.path), c.kind) << c.path;
        EXPECT_EQ(FileTitle(c.path), c.title) << c.path;
    }
}

TEST(OpenCommand, LoadsByKindAndRemembersOnlyWhatLoaded) {
    enum class Remembers { Opened, None, Earlier };
    struct Case {
        const char* name;                   // under the temporary folder
        std::optional<std::string> content; // none: no such file
        std::vector<std::string> events;    // the title event is filled in for loads
        std::string image;                  // the image's start, 0xFF after it
        Remembers remembers;
        int32_t kind;
    };
    const std::string tooLarge = Error(MSG_FILE_TOO_LARGE), cannotLoad = Error(MSG_BIN_CANNOT_LOAD);
    const std::string untitled = std::string("untitled: ") + UNTITLED;
    // clang-format off
    const Case cases[] = {
        {"firmware.hex", HEX_FILE, {Info(MSG_HEX_LOADED), "opened: firmware.hex"}, HEX_BYTES, Remembers::Opened, SOURCE_HEX},
        {"FIRMWARE.HEX", HEX_FILE, {Info(MSG_HEX_LOADED), "opened: FIRMWARE.HEX"}, HEX_BYTES, Remembers::Opened, SOURCE_HEX},
        {"firmware.Ihx", HEX_FILE, {Info(MSG_HEX_LOADED), "opened: firmware.Ihx"}, HEX_BYTES, Remembers::Opened, SOURCE_HEX},
        {"a.b.bin", Bytes(100), {Info(MSG_BIN_LOADED), "opened: a.b.bin"}, Bytes(100), Remembers::Opened, SOURCE_BIN},
        {"exact.bin", Bytes(4096), {Info(MSG_BIN_LOADED), "opened: exact.bin"}, Bytes(4096), Remembers::Opened, SOURCE_BIN},
        {"empty.bin", std::string(), {Info(MSG_BIN_LOADED), "opened: empty.bin"}, "", Remembers::Opened, SOURCE_BIN},
        {"big.bin", Bytes(4097), {tooLarge, cannotLoad, untitled}, "", Remembers::None, 0},
        {"missing.bin", std::nullopt, {cannotLoad, untitled}, "", Remembers::None, 0},
        {"missing.hex", std::nullopt, {Error(MSG_HEX_CANNOT_OPEN), untitled}, "", Remembers::None, 0},
        {"broken.hex", ":03000000020030CB\n \n", {Error(MSG_HEX_INVALID_LINE), untitled}, "", Remembers::None, 0},
        {"large.hex", ":03000000020030CB\n:01100000AA45\n", {Error(MSG_HEX_TOO_LARGE), untitled}, "", Remembers::None, 0},
        {"firmware.txt", HEX_FILE, {"cleared"}, "", Remembers::Earlier, SOURCE_HEX},
        {"firmware", Bytes(10), {"cleared"}, "", Remembers::Earlier, SOURCE_HEX},
        {"dir.bin/firmware", Bytes(10), {"cleared"}, "", Remembers::Earlier, SOURCE_HEX},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir dir;
        const std::string path = dir / c.name;
        fs::create_directories(fs::path(path).parent_path());
        if (c.content)
            WriteFile(path, *c.content);
        FirmwareBuffer buffer;
        buffer.m_imageSize = 4096;
        buffer.m_image.fill(0x55);
        buffer.m_sourcePath = dir / "earlier.hex";
        buffer.m_sourceKind = SOURCE_HEX;
        CRecorder recorder;

        EXPECT_EQ(OpenFirmwareFile(path, buffer, recorder).ok, c.remembers == Remembers::Opened);
        EXPECT_EQ(recorder.m_events, c.events);
        EXPECT_TRUE(ImageIs(buffer, c.image));
        const std::string remembered = c.remembers == Remembers::Opened ? path
                                       : c.remembers == Remembers::None ? SOURCE_NONE
                                                                        : dir / "earlier.hex";
        EXPECT_EQ(buffer.m_sourcePath, remembered);
        if (c.remembers != Remembers::None) {
            EXPECT_EQ(buffer.m_sourceKind, c.kind);
        }
    }
}

TEST(ReloadCommand, LoadsTheRememberedFileAgainAgainstTheBoundInForce) {
    struct Case {
        const char* title;
        const char* name;
        std::string opened;                 // content when opened (bound 4096)
        std::optional<std::string> changed; // content at the Reload; none: deleted
        int32_t boundAtReload;
        bool loads;
        std::vector<std::string> events;
        std::string image;
    };
    const std::string failed = Error(MSG_RELOAD_FAILED);
    const std::string twoRecords = ":03000000020030CB\n:01080000AA4D\n:00000001FF\n";
    // clang-format off
    const Case cases[] = {
        {"hex changed on disk", "f.hex", HEX_FILE, ":010000007788\n:00000001FF\n", 4096, true, {"reloaded"}, "\x77"},
        {"hex lost a record: 0xFF where it was", "f.hex", twoRecords, HEX_FILE, 4096, true, {"reloaded"}, HEX_BYTES},
        {"binary changed on disk", "f.bin", Bytes(50), Bytes(20), 4096, true, {"reloaded"}, Bytes(20)},
        {"hex deleted", "f.hex", HEX_FILE, std::nullopt, 4096, false, {Error(MSG_HEX_CANNOT_OPEN), failed}, ""},
        {"binary deleted", "f.bin", Bytes(50), std::nullopt, 4096, false, {failed}, ""},
        {"binary too large for the smaller chip now selected", "f.bin", Bytes(4096), Bytes(4096), 2048, false, {Error(MSG_FILE_TOO_LARGE), failed}, ""},
        {"binary fits the smaller chip", "f.bin", Bytes(2048), Bytes(2048), 2048, true, {"reloaded"}, Bytes(2048)},
        {"hex too large for the smaller chip: earlier records stay", "f.hex", twoRecords, twoRecords, 2048, false, {Error(MSG_HEX_TOO_LARGE), failed}, HEX_BYTES},
        {"hex broken since the Open", "f.hex", HEX_FILE, ":03000000020030CB\n", 4096, false, {Error(MSG_HEX_INVALID_LINE), failed}, HEX_BYTES},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        CTempDir dir;
        const std::string path = dir / c.name;
        WriteFile(path, c.opened);
        FirmwareBuffer buffer;
        buffer.m_imageSize = 4096;
        CRecorder opening;
        ASSERT_TRUE(OpenFirmwareFile(path, buffer, opening));
        const int32_t kind = buffer.m_sourceKind;

        if (c.changed)
            WriteFile(path, *c.changed);
        else
            fs::remove(path);
        buffer.m_imageSize = c.boundAtReload;
        buffer.m_image.fill(0x55);
        CRecorder recorder;
        EXPECT_EQ(ReloadFirmwareFile(buffer, recorder).ok, c.loads);
        EXPECT_EQ(recorder.m_events, c.events);
        EXPECT_TRUE(ImageIs(buffer, c.image));
        // Success or failure, the remembered file stays for the next try.
        EXPECT_EQ(buffer.m_sourcePath, path);
        EXPECT_EQ(buffer.m_sourceKind, kind);
    }
}

TEST(ReloadCommand, DoesNothingWithoutARememberedFileAndRetriesAfterARepair) {
    FirmwareBuffer buffer;
    buffer.m_image.fill(0x55);
    CRecorder recorder;
    EXPECT_FALSE(ReloadFirmwareFile(buffer, recorder));
    EXPECT_TRUE(recorder.m_events.empty());
    EXPECT_EQ(buffer.m_image[0], 0x55);

    // A failed Open forgets the file, so Reload does nothing afterwards either.
    CTempDir dir;
    ASSERT_FALSE(OpenFirmwareFile(dir / "missing.hex", buffer, recorder));
    recorder.m_events.clear();
    EXPECT_FALSE(ReloadFirmwareFile(buffer, recorder));
    EXPECT_TRUE(recorder.m_events.empty());

    WriteFile(dir / "f.hex", HEX_FILE);
    ASSERT_TRUE(OpenFirmwareFile(dir / "f.hex", buffer, recorder));
    fs::remove(dir / "f.hex");
    EXPECT_FALSE(ReloadFirmwareFile(buffer, recorder));
    WriteFile(dir / "f.hex", ":010000007788\n:00000001FF\n");
    recorder.m_events.clear();
    EXPECT_TRUE(ReloadFirmwareFile(buffer, recorder));
    EXPECT_EQ(recorder.m_events, (std::vector<std::string>{"reloaded"}));
    EXPECT_TRUE(ImageIs(buffer, "\x77"));
}

TEST(BinaryLoader, RefusesWhatIsTooLargeOrNoRegularFileWithoutReadingIt) {
    CTempDir dir;
    // A sparse file of 1 GiB: refused from its size alone, at once.
    {
        WriteFile(dir / "huge.bin", "");
        ASSERT_EQ(truncate((dir / "huge.bin").c_str(), off_t(1) << 30), 0);
    }
    mkdir((dir / "folder.bin").c_str(), 0755);
    mkfifo((dir / "fifo.bin").c_str(), 0644); // no writer: must not wait for one
    const struct {
        const char* name;
        std::vector<std::string> messages;
    } cases[] = {
        {"huge.bin", {Error(MSG_FILE_TOO_LARGE)}},
        {"folder.bin", {}},
        {"fifo.bin", {}},
        {"missing.bin", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareBuffer buffer;
        buffer.m_imageSize = 12288;
        buffer.m_image.fill(0x55);
        CRecorder messages;
        EXPECT_FALSE(LoadBinaryFile(dir / c.name, buffer, messages));
        EXPECT_EQ(messages.m_events, c.messages);
        EXPECT_TRUE(ImageIs(buffer, "")); // cleared first, whatever happens next
    }
}

TEST(BinaryLoader, UnreadableFileFailsLikeAMissingOne) {
    CTempDir dir;
    WriteFile(dir / "secret.bin", Bytes(16));
    chmod((dir / "secret.bin").c_str(), 0);
    FirmwareBuffer buffer;
    CRecorder recorder;
    bool opened = true;
    WithoutPrivileges([&] { opened = OpenFirmwareFile(dir / "secret.bin", buffer, recorder).ok; });
    EXPECT_FALSE(opened);
    EXPECT_EQ(recorder.m_events,
              (std::vector<std::string>{Error(MSG_BIN_CANNOT_LOAD), std::string("untitled: ") + UNTITLED}));
}
