#pragma once

#include <string>

#include "image/FirmwareBuffer.h"
#include "image/FileResult.h"

constexpr const char* MSG_FILE_TOO_LARGE = "File Too Large for Selected MCU";

// Clears the image, then reads the whole file into it from address 0. A file longer than
// m_imageSize fails with "File Too Large for Selected MCU" (without reading it); a file that cannot
// be opened or reads short fails without a message, and so does a directory or anything else that
// is not a regular file.
FileResult LoadBinaryFile(const std::string& path, FirmwareBuffer& buffer);
