#include "image/HexDump.h"

#include <cstdio>

std::string HexDumpRow(const FirmwareBuffer& buffer, int address) {
    char text[8 + 16 * 3 + 1];
    int at = std::snprintf(text, sizeof text, "%04X -", static_cast<unsigned>(address));
    for (int j = 0; j < 16 && address + j < IMAGE_CAPACITY; ++j)
        at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), " %02X",
                            unsigned{buffer.m_image[static_cast<size_t>(address + j)]});
    return text;
}
