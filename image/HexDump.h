#pragma once
// One row of the hex view as text: "%04X -" and the 16 bytes from address, " %02X" each.

#include <string>

#include "image/FirmwareBuffer.h"

std::string HexDumpRow(const FirmwareBuffer& buffer, int address);
