#include "image/BinaryFile.h"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

#include "image/FileIo.h"

FileResult LoadBinaryFile(const std::string& path, FirmwareBuffer& buffer) {
    buffer.ClearImage();
    // Only a regular file has a length to check before reading.
    CFileDescriptor file(OpenForReading(path, true));
    if (!file.IsOpen())
        return FileResult::Failure(nullptr, errno);
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0)
        return FileResult::Failure(nullptr, errno);
    // The bound never reaches past the image, whatever m_imageSize says.
    const int bound = std::clamp(buffer.m_imageSize, 0, IMAGE_CAPACITY);
    if (st.st_size > static_cast<off_t>(bound))
        return FileResult::Failure(MSG_FILE_TOO_LARGE);
    const auto length = static_cast<unsigned long>(st.st_size);
    const long got = ReadFully(file.Get(), buffer.m_image.data(), length);
    if (got < 0)
        return FileResult::Failure(nullptr, errno);
    return got == static_cast<long>(length) ? FileResult::Success() : FileResult::Failure(nullptr);
}
