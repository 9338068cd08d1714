#pragma once
// POSIX file helpers of the core: reading the image files, and the one safe replace through which every
// file the programs write goes (images, settings). Paths are never copied into a buffer of fixed
// size: a path too long for the system simply fails like any other path.

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

// Writes all of data, going on after signals and short writes. False on a failure (errno tells it)
// or a write that took nothing.
bool WriteAll(int fd, std::string_view data);

// Replaces the file at path with data: writes a temporary file in the same folder, flushes it to the
// disk, closes it and renames it over path. False on any failure, with the earlier file as it was
// and no temporary left.
// - A symbolic link is written through: the file it names is replaced, beside itself, and the link
//   stays a link. A link to nothing is refused (ENOENT): no file is made where a link points. Links
//   are followed only where the kernel's fs.protected_symlinks would follow them (see
//   ResolveSymbolicLinks).
// - An existing target must be a regular file that this user (this thread's credentials) may write;
//   anything else (a folder, FIFO, device, socket, a read-only or someone else's file) is refused.
//   A file or folder without any write bit is refused for root as well (EACCES).
// - A replaced file keeps its permission bits (and its owner and group where allowed); a new one
//   gets newMode less the umask.
// - A hard link is not written through: the name given gets the new file, and the file's other
//   names keep the earlier contents. Keeping them would mean writing in place, and a failure
//   half-way would then leave a half-written file.
// On failure errno tells the reason, as the call that failed set it.
bool ReplaceFileContents(const std::string& path, std::string_view data, unsigned newMode = 0666);

// As ReplaceFileContents, and false as well when the folder could not be flushed after the rename:
// the new contents may then be in place but need not survive a power loss. For files whose old
// contents must never come back (the next serial number).
bool ReplaceFileContentsDurably(const std::string& path, std::string_view data, unsigned newMode = 0666);

// Follows symbolic links from path to the file they name, which need not exist (the path the safe
// replace writes). False for a chain that does not end (more than the system's 40 links, ELOOP), a
// link that cannot be read, or one the kernel's protection would not follow whatever the system is
// set to (EACCES): in a sticky folder that anyone may write, a link owned by neither this user nor
// the folder's owner.
bool ResolveSymbolicLinks(std::string& path);

// ": " and the system's text for errno, or "" when errno is 0: the tail of a message that tells why
// a file call failed.
std::string SystemReason();
