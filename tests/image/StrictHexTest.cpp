// The command line's strict Intel HEX reader: files that the usual tools write, and what it refuses.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "ImageFixtures.h"
#include "image/IntelHex.h"
#include "image/StrictHex.h"

namespace {

// Runs a shell command line of the test; fails the test when it does not succeed.
void Shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random() & 0xFF);
    return bytes;
}

// The image as the reader gives it: the bound's bytes.
std::string ImageOf(const FirmwareBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.m_image.data()),
                       static_cast<size_t>(buffer.m_imageSize));
}

// A firmware of size bytes with data at offset, 0xFF elsewhere.
std::string Placed(int size, int offset, const std::string& data) {
    std::string image(static_cast<size_t>(size), '\xFF');
    image.replace(static_cast<size_t>(offset), data.size(), data);
    return image;
}

HexReadResult ReadStrict(const std::string& text, FirmwareBuffer& buffer, int size) {
    buffer.m_imageSize = size;
    return ReadIntelHexStrict(text, buffer);
}

} // namespace

// Files as srec_cat (in each of its address formats, with a start address), objcopy and SDCC's
// packihx write them read to the bytes they were made from.
TEST(StrictHexReader, ReadsWhatTheUsualToolsWrite) {
    CTempDir dir;
    const std::string data = RandomBytes(3000, 51);
    WriteFile(dir / "fw.bin", data);
    const std::string bin = dir / "fw.bin";
    struct Case {
        const char* name;
        std::string command; // writes out.hex
        int offset;          // where the data lies in the flash
    };
    const Case cases[] = {
        {"srec_cat, default (linear)", "srec_cat " + bin + " -binary -o OUT -intel", 0},
        {"srec_cat, 16-bit", "srec_cat " + bin + " -binary -offset 0x1000 -o OUT -intel --address-length=2",
         0x1000},
        {"srec_cat, segmented, start address",
         "srec_cat " + bin +
             " -binary -offset 0x0123 -execution-start-address=0 -o OUT -intel --address-length=3",
         0x0123},
        {"srec_cat, linear, start address",
         "srec_cat " + bin +
             " -binary -offset 0x0800 -execution-start-address=0x0800 -o OUT -intel "
             "--address-length=4 --line-length=76",
         0x0800},
        {"objcopy", "objcopy -I binary -O ihex " + bin + " OUT", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string command = c.command;
        command.replace(command.find("OUT"), 3, dir / "out.hex");
        Shell(command);
        FirmwareBuffer buffer;
        const HexReadResult result = ReadStrict(ReadFile(dir / "out.hex"), buffer, 8192);
        EXPECT_TRUE(result) << result.Describe("out.hex");
        EXPECT_EQ(ImageOf(buffer), Placed(8192, c.offset, data));
    }

    // SDCC's own output: its linker's .ihx, and packihx's packed records of the same program.
    WriteFile(dir / "blink.c", "#include <8051.h>\n"
                               "void main(void) { unsigned char i = 0; for (;;) { P1 = i++; } }\n");
    Shell("cd " + dir.Path() +
          " && sdcc -mmcs51 blink.c >/dev/null && packihx blink.ihx >blink.hex 2>/dev/null");
    FirmwareBuffer desktop;
    desktop.m_imageSize = 4096;
    ASSERT_TRUE(ReadIntelHex(dir / "blink.ihx", desktop).ok) << "the desktop's reader as the reference";
    for (const char* name : {"blink.ihx", "blink.hex"}) {
        SCOPED_TRACE(name);
        FirmwareBuffer buffer;
        const HexReadResult result = ReadStrict(ReadFile(dir / name), buffer, 4096);
        EXPECT_TRUE(result) << result.Describe(name);
        EXPECT_EQ(ImageOf(buffer), ImageOf(desktop));
    }
    EXPECT_NE(ImageOf(desktop), std::string(4096, '\xFF'));
}

TEST(StrictHexReader, FollowsAddressRecordsAndSkipsWhatCarriesNoData) {
    struct Case {
        const char* name;
        std::string file;
        int offset;
        std::string data;
    };
    const std::string end = ":00000001FF\n";
    // clang-format off
    const Case cases[] = {
        {"segment 0x0100 puts offset 0x0010 at 0x1010", ":020000020100FB\n:02001000AABB89\n" + end, 0x1010, "\xAA\xBB"},
        {"linear base 0 as srec_cat starts", ":020000040000FA\n:02001000AABB89\n" + end, 0x0010, "\xAA\xBB"},
        {"a linear record ends the segment", ":020000020100FB\n:020000040000FA\n:02001000AABB89\n" + end, 0x0010, "\xAA\xBB"},
        {"start segment and start linear addresses are ignored", ":0400000300000000F9\n:0400000500001234B1\n:02001000AABB89\n" + end, 0x0010, "\xAA\xBB"},
        {"lower case, CR LF, empty lines, no final line end", ":02001000aabb89\r\n\r\n\n:00000001ff", 0x0010, "\xAA\xBB"},
        {"whatever follows the end record is not read", ":02001000AABB89\n" + end + "garbage\n:0100\x1A", 0x0010, "\xAA\xBB"},
        {"an empty data record", ":00001000F0\n" + end, 0, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareBuffer buffer;
        const HexReadResult result = ReadStrict(c.file, buffer, 8192);
        EXPECT_TRUE(result) << result.Describe("in.hex");
        EXPECT_EQ(ImageOf(buffer), Placed(8192, c.offset, c.data));
    }
}

// Each corrupted record is refused with its line and what is wrong with it, and leaves no half-read
// image behind, even where earlier lines were good.
TEST(StrictHexReader, RefusesCorruptedRecordsNamingTheLine) {
    struct Case {
        const char* name;
        std::string file;
        int line;
        std::string message;
    };
    const std::string good = ":10000000020030758108D2AFD2A8C2B580FE22FFAF\n";
    const std::string end = ":00000001FF\n";
    // clang-format off
    const Case cases[] = {
        {"one digit changed", good + ":10001000020030758108D2AFD2A8C2B580FE22FFAF\n" + end, 2, "checksum AF does not match the record (its bytes need 9F)"},
        {"checksum digit changed", ":0300000002003000\n" + end, 1, "checksum 00 does not match the record (its bytes need CB)"},
        {"letter that is no hex digit", good + ":03000000020G30CB\n" + end, 2, "'G' in column 13 is not a hexadecimal digit"},
        {"blank at the end of the line", good + ":03000000020030CB \n" + end, 2, "' ' in column 18 is not a hexadecimal digit"},
        {"control character", ":03000000020030CB\x01\n" + end, 1, "byte 0x01 in column 18 is not a hexadecimal digit"},
        {"a CR inside the line", ":0300000002\r0030CB\n" + end, 1, "byte 0x0D in column 12 is not a hexadecimal digit"},
        {"no colon", good + "03000000020030CB\n" + end, 2, "a record starts with ':', this line with '0'"},
        {"half a byte", ":03000000020030C\n" + end, 1, "a record of 16 characters is too short or has half a byte"},
        {"too short", ":000000FF\n" + end, 1, "a record of 9 characters is too short or has half a byte"},
        {"count says more than the line has", ":04000000020030CB\n" + end, 1, "the byte count says 4 data bytes, the record has 3"},
        {"unknown record type", ":00000006FA\n" + end, 1, "record type 06 is none of Intel HEX's (00 to 05)"},
        {"end record with data", ":0100000100FE\n", 1, "a record of type 01 has 0 data bytes, not 1"},
        {"linear record of one byte", ":01000004FFFC\n" + end, 1, "a record of type 04 has 2 data bytes, not 1"},
        {"start address of two bytes", ":020000050000F9\n" + end, 1, "a record of type 05 has 4 data bytes, not 2"},
        {"past the flash", ":02" "1FFF" "00AABB" "7B\n" + end, 1, "address 2000 lies outside the flash (8192 bytes)"},
        {"linear base beyond 64 KiB", ":020000040001F9\n:01000000AA55\n" + end, 2, "address 10000 lies outside the flash (8192 bytes)"},
        {"segment beyond the flash", ":020000020200FA\n:01000000AA55\n" + end, 2, "address 2000 lies outside the flash (8192 bytes)"},
        {"a byte given twice", good + ":0100050000FA\n" + end, 2, "address 0005 was given already on line 1"},
        {"no end record", good, 1, "the file ends without an end-of-file record (:00000001FF)"},
        {"empty file", "", 1, "the file ends without an end-of-file record (:00000001FF)"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareBuffer buffer;
        const HexReadResult result = ReadStrict(c.file, buffer, 8192);
        EXPECT_FALSE(result);
        EXPECT_EQ(result.line, c.line);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.systemError, 0);
        EXPECT_EQ(ImageOf(buffer), std::string(8192, '\xFF'));
    }

    FirmwareBuffer buffer;
    const HexReadResult result = ReadStrict(good + ":0100050000FA\n" + end, buffer, 8192);
    EXPECT_EQ(result.Describe("fw.hex"), "fw.hex:2: address 0005 was given already on line 1");
}

TEST(StrictHexReader, ReadsWholeFilesAndNamesTheSystemsReason) {
    CTempDir dir;
    std::string text;
    HexReadResult missing = ReadFirmwareText(dir / "missing.hex", text);
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.systemError, ENOENT);
    EXPECT_EQ(missing.Describe("missing.hex"), MSG_HEX_CANNOT_OPEN);

    WriteFile(dir / "huge.hex", std::string(FIRMWARE_FILE_MAX + 1, '\n'));
    const HexReadResult huge = ReadFirmwareText(dir / "huge.hex", text);
    EXPECT_FALSE(huge);
    EXPECT_EQ(huge.systemError, 0);
    EXPECT_EQ(huge.Describe("huge.hex"),
              "huge.hex: longer than 4 MiB, which no firmware file of these chips is");

    const std::string whole = RandomBytes(40000, 8051); // longer than one read
    WriteFile(dir / "whole.bin", whole);
    ASSERT_TRUE(ReadFirmwareText(dir / "whole.bin", text));
    EXPECT_EQ(text, whole);
}
