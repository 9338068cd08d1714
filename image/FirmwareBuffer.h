#pragma once
// The one in-memory image of the target's flash. Every field is used on the user-interface thread
// only; the workers get copies.

#include <array>
#include <cstdint>
#include <string>

constexpr int IMAGE_CAPACITY = 65536;
constexpr int SOURCE_HEX = 1;
constexpr int SOURCE_BIN = 2;
constexpr const char* SOURCE_NONE = "none";

struct FirmwareBuffer {
    int32_t m_imageSize = 2048;                    // the selected chip's flash size: the image bound
    std::array<uint8_t, IMAGE_CAPACITY> m_image{}; // byte k is flash address k; 0xFF where nothing was loaded
    std::string m_sourcePath = SOURCE_NONE;        // the last file that Open loaded, or "none"
    int32_t m_sourceKind = 0;                      // SOURCE_HEX or SOURCE_BIN while m_sourcePath names a file

    FirmwareBuffer() { ClearImage(); }
    void ClearImage() { m_image.fill(0xFF); }
    bool HasSource() const { return m_sourcePath != SOURCE_NONE; }
};
