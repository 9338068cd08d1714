#include "image/FileIo.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

bool CFileDescriptor::Close() {
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    // Linux releases the descriptor even when close fails (EINTR included), so it is never retried.
    return ::close(fd) == 0;
}

int OpenForReading(const std::string& path, bool regularOnly) {
    // O_NONBLOCK only so that opening a FIFO does not wait for a writer; it is cleared again below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    const int statError = errno;
    const bool usable = stated && !S_ISDIR(st.st_mode) && (!regularOnly || S_ISREG(st.st_mode));
    const int flags = usable ? ::fcntl(fd, F_GETFL) : -1;
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        // The reason a caller can name: a folder, or something that is no regular file.
        const int reason = !stated ? statError : !usable ? (S_ISDIR(st.st_mode) ? EISDIR : EINVAL) : errno;
        ::close(fd);
        errno = reason;
        return -1;
    }
    return fd;
}

long ReadFully(int fd, void* data, unsigned long size) {
    auto* out = static_cast<char*>(data);
    unsigned long done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, out + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<unsigned long>(got);
    }
    return static_cast<long>(done);
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(put));
    }
    return true;
}

namespace {

uint64_t RandomBits() {
    uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits))
        return bits;
    // No entropy yet (early boot): time and process id still make clashes unlikely, and O_EXCL
    // catches the rest.
    static uint64_t s_counter = 0;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint64_t>(now) * 0x9E3779B97F4A7C15u ^ (static_cast<uint64_t>(::getpid()) << 32) ^
           ++s_counter;
}

// Creates a new, empty file with a name no one else uses in the folder dirFd; fills name.
int CreateTemporary(int dirFd, mode_t mode, std::string& name) {
    static const char s_letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint64_t bits = RandomBits();
        // A short name of fixed length, so that it fits wherever the target's own name fits.
        name = ".veltro51-";
        for (int i = 0; i < 10; ++i, bits /= 62)
            name += s_letters[bits % 62];
        name += ".tmp";
        const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

namespace {

// The folder that holds the last name of path, as the system looks it up.
std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The kernel's rule for following a link (fs.protected_symlinks), kept whatever the system is set
// to, since the links are followed here, where the kernel cannot judge them: in a sticky folder that
// anyone may write, only a link of this user or of the folder's owner is followed. Anyone could have
// planted another there, for root to write through it.
bool MayFollow(const std::string& path, const struct stat& link) {
    if (link.st_uid == ::geteuid())
        return true;
    struct stat folder {};
    if (::stat(FolderOf(path).c_str(), &folder) != 0)
        return false;
    constexpr mode_t OPEN_TO_ALL = S_ISVTX | S_IWOTH;
    if ((folder.st_mode & OPEN_TO_ALL) != OPEN_TO_ALL || folder.st_uid == link.st_uid)
        return true;
    errno = EACCES; // as the kernel refuses it
    return false;
}

} // namespace

bool ResolveSymbolicLinks(std::string& path) {
    for (int hops = 0; hops <= 40; ++hops) {
        // The link itself, held: the owner looked at and the text read are of the same link.
        CFileDescriptor link(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!link.IsOpen() || ::fstat(link.Get(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true; // what is not there is made by the save; other failures fail it there
        if (!MayFollow(path, st))
            return false;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
        for (;;) {
            const ssize_t size = ::readlinkat(link.Get(), "", target.data(), target.size());
            if (size <= 0) {
                if (size == 0)
                    errno = ENOENT; // an empty link names nothing
                return false;
            }
            if (static_cast<size_t>(size) < target.size()) {
                target.resize(static_cast<size_t>(size));
                break;
            }
            target.resize(target.size() * 2); // a size the system did not tell (as in /proc)
        }
        const auto slash = path.rfind('/');
        path =
            target.front() == '/' || slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
    }
    errno = ELOOP; // as the system says of a chain it will not follow
    return false;
}

namespace {

bool Replace(const std::string& requested, std::string_view data, unsigned newMode, bool durableName) {
    // A name that is no file's is refused with the system's word for it.
    auto namesNoFile = [](const std::string& name) {
        if (!name.empty() && name.back() != '/')
            return false;
        errno = name.empty() ? ENOENT : EISDIR;
        return true;
    };
    std::string path = requested;
    if (namesNoFile(path) || !ResolveSymbolicLinks(path) || namesNoFile(path))
        return false;
    const bool throughLink = path != requested; // a link names itself only in a loop, refused above
    const auto slash = path.rfind('/');
    const std::string folder = FolderOf(path);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

    // Read-only means read-only for every user: root passes every access check, so the write bits
    // themselves are looked at (a folder or file that no one may write is refused).
    auto readOnly = [](const struct stat& st) {
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0)
            return false;
        errno = EACCES;
        return true;
    };

    // Everything below works relative to the folder, so the temporary never makes a path longer.
    CFileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat folderStat {};
    if (!dir.IsOpen() || ::fstat(dir.Get(), &folderStat) != 0 || readOnly(folderStat))
        return false;

    // An existing target lends its permission bits; a name too long, a folder in the way, anything
    // but a regular file, a file this user may not write (rename would replace it all the same, as
    // the folder is the user's) or that no one may, or a target that cannot be looked at fails here,
    // before anything is written. A link in place of the resolved name has appeared since: refused
    // as well. A link to nothing makes nothing: a new file goes only where its name was given.
    struct stat st {};
    bool replacing = false;
    if (::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL; // the reason a caller can name
            return false;
        }
        if (::faccessat(dir.Get(), name.c_str(), W_OK, AT_EACCESS) != 0 || readOnly(st))
            return false;
        replacing = true;
    } else if (errno != ENOENT || throughLink) {
        return false; // errno still ENOENT for the link to nothing
    }

    std::string temporary;
    CFileDescriptor file(
        CreateTemporary(dir.Get(), replacing ? 0600 : static_cast<mode_t>(newMode), temporary));
    if (!file.IsOpen())
        return false;
    if (replacing) {
        // Best effort: only root may give a file away, and some file systems keep no modes. The owner
        // first, since a change of owner clears the set-id bits that the mode then restores.
        [[maybe_unused]] const int owned = ::fchown(file.Get(), st.st_uid, st.st_gid);
        (void)::fchmod(file.Get(), st.st_mode & 07777);
    }

    bool ok = WriteAll(file.Get(), data);
    ok = ok && ::fsync(file.Get()) == 0;
    ok = file.Close() && ok;
    ok = ok && ::renameat(dir.Get(), temporary.c_str(), dir.Get(), name.c_str()) == 0;
    if (!ok) {
        const int reason = errno;
        ::unlinkat(dir.Get(), temporary.c_str(), 0);
        errno = reason;
        return false;
    }
    // Makes the new name itself durable. The file is in place already, so for a save a failure
    // changes nothing; a caller that must know the name survives a power loss is told.
    const bool flushed = ::fsync(dir.Get()) == 0;
    return flushed || !durableName;
}

} // namespace

bool ReplaceFileContents(const std::string& path, std::string_view data, unsigned newMode) {
    return Replace(path, data, newMode, false);
}

bool ReplaceFileContentsDurably(const std::string& path, std::string_view data, unsigned newMode) {
    return Replace(path, data, newMode, true);
}

std::string SystemReason() {
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}
