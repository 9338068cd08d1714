#pragma once
// Intel HEX reader (data and end-of-file records, 16-bit addresses, checksums not verified) and writer.

#include <cstdint>
#include <string>
#include <string_view>

#include "image/FirmwareBuffer.h"
#include "image/FileResult.h"

// Reader messages, shown with the error icon by whoever called the reader.
constexpr const char* MSG_HEX_CANNOT_OPEN = "Cannot open hex file";
constexpr const char* MSG_HEX_ABNORMAL_END = "Abnormal end of file";
constexpr const char* MSG_HEX_INVALID_LINE = "Invalid Hex line";
constexpr const char* MSG_HEX_INVALID_TYPE = "Invalid record type in HEX line";
constexpr const char* MSG_HEX_TOO_LARGE = "The hex file is too large for selected MCU";
constexpr const char* MSG_CANNOT_WRITE = "Cannot Write to file";

// Reads the file into buffer.m_image within buffer.m_imageSize; does not clear the image first.
// Succeeds when an end-of-file record was reached; otherwise the result holds the message that says
// why, and the records before the failing line stay written. A directory cannot be opened; a read
// error ends the file abnormally.
FileResult ReadIntelHex(const std::string& path, FirmwareBuffer& buffer);
// The same reading of a file's text already in memory (standard input).
FileResult ReadIntelHexText(std::string_view text, FirmwareBuffer& buffer);

// Value of a field of hexadecimal characters; lenient: a non-digit reads as a zero digit, a text
// longer than 5 characters reads as 0.
int HexFieldValue(std::string_view text);

// True when the 16 bytes at row are all 0xFF.
bool IsBlankRow(const uint8_t* row);

// The data record line for 16 bytes at address, without line end (43 characters).
std::string HexDataRecord(uint16_t address, const uint8_t* row);

// Writes bytes 0..m_imageSize-1 as Intel HEX (CR LF line ends) to a temporary file beside path,
// flushes it and renames it over path. False on any failure, with the earlier file untouched and no
// temporary left behind. Shows nothing: the caller says "Cannot Write to file".
bool WriteIntelHex(const std::string& path, const FirmwareBuffer& buffer);
// The text that WriteIntelHex writes (standard output takes it as it is).
std::string IntelHexText(const FirmwareBuffer& buffer);
