#include "image/BinaryWriter.h"

#include <algorithm>
#include <string_view>

#include "image/FileIo.h"

bool WriteBinaryFile(const std::string& path, const FirmwareBuffer& buffer) {
    // The bound never reaches past the image, whatever m_imageSize says.
    const int bound = std::clamp(buffer.m_imageSize, 0, IMAGE_CAPACITY);
    const std::string_view bytes(reinterpret_cast<const char*>(buffer.m_image.data()),
                                 static_cast<size_t>(bound));
    return ReplaceFileContents(path, bytes);
}
