#include "image/StrictHex.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "image/FileIo.h"
#include "image/IntelHex.h"

namespace {

constexpr int RECORD_DATA = 0x00;
constexpr int RECORD_END = 0x01;
constexpr int RECORD_SEGMENT = 0x02;
constexpr int RECORD_START_SEGMENT = 0x03;
constexpr int RECORD_LINEAR = 0x04;
constexpr int RECORD_START_LINEAR = 0x05;

HexReadResult Fail(int line, std::string message, int systemError = 0) {
    HexReadResult result;
    result.line = line;
    result.message = std::move(message);
    result.systemError = systemError;
    return result;
}

std::string Hex(unsigned long value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*lX", digits, value);
    return text;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A character as the user can find it in the file, printable or not.
std::string Shown(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F)
        return std::string("'") + c + "'";
    return "byte 0x" + Hex(byte, 2);
}

HexReadResult ReadAll(int fd, std::string& text) {
    text.clear();
    char chunk[16384];
    for (;;) {
        const long got = ReadFully(fd, chunk, sizeof chunk);
        if (got < 0)
            return Fail(0, MSG_HEX_ABNORMAL_END, errno);
        text.append(chunk, static_cast<size_t>(got));
        if (text.size() > FIRMWARE_FILE_MAX)
            return Fail(0, "longer than " + std::to_string(FIRMWARE_FILE_MAX >> 20) +
                               " MiB, which no firmware file of these chips is");
        if (got < static_cast<long>(sizeof chunk))
            break;
    }
    HexReadResult result;
    result.ok = true;
    return result;
}

} // namespace

std::string HexReadResult::Describe(const std::string& name) const {
    if (systemError != 0)
        return message;
    return line > 0 ? name + ":" + std::to_string(line) + ": " + message : name + ": " + message;
}

HexReadResult ReadFirmwareText(const std::string& path, std::string& text) {
    text.clear();
    CFileDescriptor file(OpenForReading(path, false));
    if (!file.IsOpen())
        return Fail(0, MSG_HEX_CANNOT_OPEN, errno);
    return ReadAll(file.Get(), text);
}

HexReadResult ReadFirmwareText(int fd, std::string& text) {
    return ReadAll(fd, text);
}

HexReadResult ReadIntelHexStrict(std::string_view text, FirmwareBuffer& buffer) {
    buffer.ClearImage();
    // The bound never reaches past the image, whatever m_imageSize says.
    const long bound = std::clamp(buffer.m_imageSize, 0, IMAGE_CAPACITY);
    std::vector<int> givenBy(static_cast<size_t>(bound), 0); // the line that gave each byte
    std::vector<int> bytes;
    bytes.reserve(261);
    unsigned long base = 0; // of the last extended address record
    bool segmented = false; // that record was a segment (02): offsets wrap within 64 KiB
    int lineNumber = 0;
    size_t position = 0;
    auto failed = [&](HexReadResult result) {
        buffer.ClearImage();
        return result;
    };
    while (position < text.size()) {
        ++lineNumber;
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (line[0] != ':')
            return failed(Fail(lineNumber, "a record starts with ':', this line with " + Shown(line[0])));
        for (size_t k = 1; k < line.size(); ++k)
            if (DigitValue(line[k]) < 0)
                return failed(Fail(lineNumber, Shown(line[k]) + " in column " + std::to_string(k + 1) +
                                                   " is not a hexadecimal digit"));
        if (line.size() < 11 || line.size() % 2 == 0)
            return failed(Fail(lineNumber, "a record of " + std::to_string(line.size()) +
                                               " characters is too short or has half a byte"));
        bytes.clear();
        for (size_t k = 1; k < line.size(); k += 2)
            bytes.push_back(DigitValue(line[k]) * 16 + DigitValue(line[k + 1]));
        const int count = bytes[0];
        if (static_cast<size_t>(count) + 5 != bytes.size())
            return failed(Fail(lineNumber, "the byte count says " + std::to_string(count) +
                                               " data bytes, the record has " +
                                               std::to_string(static_cast<long>(bytes.size()) - 5)));
        int sum = 0;
        for (size_t k = 0; k + 1 < bytes.size(); ++k)
            sum += bytes[k];
        const int expected = (0x100 - (sum & 0xFF)) & 0xFF;
        if (bytes.back() != expected)
            return failed(Fail(lineNumber, "checksum " + Hex(static_cast<unsigned long>(bytes.back()), 2) +
                                               " does not match the record (its bytes need " +
                                               Hex(static_cast<unsigned long>(expected), 2) + ")"));
        const unsigned long offset = static_cast<unsigned long>(bytes[1] * 256 + bytes[2]);
        const int type = bytes[3];
        const int* data = bytes.data() + 4;
        auto wants = [&](int length) {
            return Fail(lineNumber, "a record of type " + Hex(static_cast<unsigned long>(type), 2) + " has " +
                                        std::to_string(length) + " data bytes, not " + std::to_string(count));
        };
        switch (type) {
        case RECORD_DATA:
            for (int i = 0; i < count; ++i) {
                const unsigned long address = segmented
                                                  ? base + ((offset + static_cast<unsigned long>(i)) & 0xFFFF)
                                                  : base + offset + static_cast<unsigned long>(i);
                if (address >= static_cast<unsigned long>(bound))
                    return failed(Fail(lineNumber, "address " + Hex(address, 4) +
                                                       " lies outside the flash (" + std::to_string(bound) +
                                                       " bytes)"));
                int& owner = givenBy[address];
                if (owner != 0)
                    return failed(Fail(lineNumber, "address " + Hex(address, 4) +
                                                       " was given already on line " +
                                                       std::to_string(owner)));
                owner = lineNumber;
                buffer.m_image[address] = static_cast<uint8_t>(data[i]);
            }
            break;
        case RECORD_END: {
            if (count != 0)
                return failed(wants(0));
            HexReadResult done;
            done.ok = true;
            return done;
        }
        case RECORD_SEGMENT:
        case RECORD_LINEAR:
            if (count != 2)
                return failed(wants(2));
            segmented = type == RECORD_SEGMENT;
            base = static_cast<unsigned long>(data[0] * 256 + data[1]) << (segmented ? 4 : 16);
            break;
        case RECORD_START_SEGMENT:
        case RECORD_START_LINEAR:
            // Where a CPU with a loader would start; an 8051 starts at 0 after reset.
            if (count != 4)
                return failed(wants(4));
            break;
        default:
            return failed(Fail(lineNumber, "record type " + Hex(static_cast<unsigned long>(type), 2) +
                                               " is none of Intel HEX's (00 to 05)"));
        }
    }
    return failed(Fail(std::max(lineNumber, 1), "the file ends without an end-of-file record (:00000001FF)"));
}
