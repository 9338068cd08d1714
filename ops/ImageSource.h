#pragma once
// The command line's image for a chip: FILE, loaded as Open HEX File loads it, within the flash size
// of the chip in the socket, once the chip is known. The same image serves every further chip of
// that size; a chip of another size loads the file again within its own.

#include <cstdint>
#include <string>

#include "image/FirmwareBuffer.h"
#include "ops/Burn.h"

class CFileImageSource : public IChipImageSource {
public:
    explicit CFileImageSource(std::string path) : m_path(std::move(path)) {}

    // Loads the file (its messages through port; the checksums of the image as an information row)
    // unless it is loaded for this size already. chip -1 keeps the size of the last load.
    bool PrepareChip(int chip, CycleReport& report, IOperationPort& port, const uint8_t*& image,
                     int32_t& lastAddress) override;

    // Loads the file within size bytes now, as PrepareChip does.
    bool Load(int32_t size, IOperationPort& port);

    const std::string& Path() const { return m_path; }
    bool Loaded() const { return m_loaded; }
    // The image as loaded, bytes 0..Size()-1.
    const FirmwareBuffer& Image() const { return m_buffer; }
    int32_t Size() const { return m_buffer.m_imageSize; }
    // The system's reason when the last load failed for want of the file, 0 otherwise.
    int SystemError() const { return m_systemError; }

private:
    std::string m_path;
    FirmwareBuffer m_buffer;
    bool m_loaded = false;
    int m_systemError = 0;
};
