#pragma once
// The command line's Intel HEX reader, for production: every record's checksum is verified, every
// character must be a hexadecimal digit, extended segment (02) and extended linear (04) address
// records are followed, start-address records (03, 05) are read and ignored, and no byte may fall
// outside the image bound or be given twice. Its failures say which line failed and why.

#include <cstddef>
#include <string>
#include <string_view>

#include "image/FirmwareBuffer.h"

// What a strict read came to, as a value.
struct HexReadResult {
    bool ok = false;
    int line = 0;        // 1-based line the failure is on; 0 when it is not a line's (the file itself)
    std::string message; // why, in plain words; empty on success
    int systemError = 0; // errno of the system call that failed; 0 when the file's content failed

    explicit operator bool() const { return ok; }
    // "NAME:LINE: message", "NAME: message" for a failure of the file's content as a whole, and the
    // message alone for one of the system (its reason, with the name, is told after it).
    std::string Describe(const std::string& name) const;
};

// Longest firmware file read: far more than any flash needs, even with a byte per record.
constexpr size_t FIRMWARE_FILE_MAX = 4u << 20;

// Reads the whole file at path (a regular file, a FIFO or a device such as /dev/stdin) into text, at
// most FIRMWARE_FILE_MAX bytes. A failure names no line; one of the system has the reader's
// messages ("Cannot open hex file", "Abnormal end of file") and its errno.
HexReadResult ReadFirmwareText(const std::string& path, std::string& text);
// The same for a descriptor that is already open (standard input), read to its end.
HexReadResult ReadFirmwareText(int fd, std::string& text);

// Clears the image and reads text into it within buffer.m_imageSize. Lines end with LF or CR LF;
// empty lines are skipped; the end-of-file record ends the reading, whatever follows it. On failure
// the image is cleared again, so that no half-read image can be used.
HexReadResult ReadIntelHexStrict(std::string_view text, FirmwareBuffer& buffer);
