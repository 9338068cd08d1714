#pragma once
// Raw binary writer: the image's bytes from address 0, nothing else.

#include <string>

#include "image/FirmwareBuffer.h"

// Writes bytes 0..m_imageSize-1 (exactly the bound, blank bytes included) to a temporary file beside
// path, flushes it and renames it over path. False on any failure, with the earlier file untouched
// and no temporary left behind. Shows nothing: the caller says "Cannot Write to file".
bool WriteBinaryFile(const std::string& path, const FirmwareBuffer& buffer);
