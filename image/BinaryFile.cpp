#include "image/BinaryFile.h"

#include <algorithm>

#include <sys/stat.h>

#include "image/FileIo.h"

bool LoadBinaryFile(const std::string& path, FirmwareBuffer& buffer, IMessageSink& messages) {
    buffer.ClearImage();
    // Only a regular file has a length to check before reading.
    CFileDescriptor file(OpenForReading(path, true));
    if (!file.IsOpen())
        return false;
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0)
        return false;
    // The bound never reaches past the image, whatever m_imageSize says.
    const int bound = std::clamp(buffer.m_imageSize, 0, IMAGE_CAPACITY);
    if (st.st_size > static_cast<off_t>(bound)) {
        messages.ShowMessage(MSG_FILE_TOO_LARGE, MsgIcon::Error);
        return false;
    }
    const auto length = static_cast<unsigned long>(st.st_size);
    return ReadFully(file.Get(), buffer.m_image.data(), length) == static_cast<long>(length);
}
