#pragma once
// POSIX file helpers of the image files (private to image/). Paths are never copied into a buffer
// of fixed size: a path too long for the system simply fails like any other path.

#include <string>
#include <string_view>

// A file descriptor closed on destruction; -1 holds nothing.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd = -1) : m_fd(fd) {}
    ~CFileDescriptor() { Close(); }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    // False when close reported an error (a write that was not yet stored may be lost).
    bool Close();

private:
    int m_fd;
};

// Opens path for reading. A directory fails like a missing file, and so does anything that is not a
// regular file when regularOnly is set. Never blocks on a FIFO without a writer. Returns -1 on failure.
int OpenForReading(const std::string& path, bool regularOnly);

// Reads up to size bytes, retrying after signals and short reads. Returns the count read (less than
// size only at the end of the file), or -1 on a read error.
long ReadFully(int fd, void* data, unsigned long size);

// Replaces the file at path with data: writes a temporary file in the same folder, flushes it to the
// disk, closes it and renames it over path. An existing file keeps its permission bits; a new one gets
// 0666 less the umask. False on any failure, with the earlier file as it was and no temporary left.
bool ReplaceFileContents(const std::string& path, std::string_view data);
