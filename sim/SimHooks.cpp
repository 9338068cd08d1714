// The simulator's side of the interposed calls: which descriptors and folders are ours, and the usbfs
// requests on them.

#include "sim/SimHooks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/SimFiles.h"

using namespace sim::detail;

namespace {

// A regular file carrying the record's magic after its descriptors: real usbfs nodes are character
// devices, so nothing else ever matches.
bool IsSimDevice(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    char magic[sizeof RECORD_MAGIC];
    return pread(fd, magic, sizeof magic, RECORD_OFFSET) == static_cast<ssize_t>(sizeof magic) &&
           std::memcmp(magic, RECORD_MAGIC, sizeof magic) == 0;
}

std::string PathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t size = readlink(link, path, sizeof path - 1);
    return size > 0 ? std::string(path, static_cast<size_t>(size)) : std::string();
}

// Refusals that usbfs makes before any request reaches the device; 0 when there is none.
int Refusal(int fd, const Record& record) {
    if (record.unplugged)
        return -ENODEV;
    if (record.accessDenied || (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR)
        return -EPERM;
    return 0;
}

int DeviceNumber(const std::string& path) {
    const size_t slash = path.rfind('/');
    const char* name = path.c_str() + slash + 1;
    if (*name == '.')
        ++name;
    return std::atoi(name);
}

int Answer(int fd, unsigned long request, void* arg) {
    if (request == USBDEVFS_CONTROL)
        return AnswerControl(fd, PathOf(fd), arg);
    Record record{};
    {
        CFileLock lock(fd, false);
        if (!ReadRecord(fd, record))
            return -EIO;
    }
    if (const int refusal = Refusal(fd, record))
        return refusal;
    if (request == USBDEVFS_CONNECTINFO) {
        auto* info = static_cast<usbdevfs_connectinfo*>(arg);
        info->devnum = static_cast<unsigned>(DeviceNumber(PathOf(fd)));
        info->slow = record.chip != FOREIGN_DEVICE; // the programmer is a low-speed device
        return 0;
    }
    return -ENOSYS; // USBDEVFS_IOCTL: no hub, no driver to ask
}

struct SortedFolder {
    std::vector<dirent> entries;
    size_t next = 0;
};

std::mutex g_folderMutex;
std::atomic<int> g_sortedFolders{0};

std::map<DIR*, SortedFolder>& Folders() {
    static auto* folders = new std::map<DIR*, SortedFolder>; // outlives every static destructor
    return *folders;
}

bool IsSimFolder(const char* path) {
    const std::string folder = path;
    return access((folder + "/" + TREE_MARKER).c_str(), F_OK) == 0 ||
           access((folder + "/../" + TREE_MARKER).c_str(), F_OK) == 0;
}

} // namespace

extern "C" int veltro_sim_ioctl(int fd, unsigned long request, void* arg, int* result) {
    if (request != USBDEVFS_CONTROL && request != USBDEVFS_CONNECTINFO && request != USBDEVFS_IOCTL)
        return 0;
    const int savedErrno = errno;
    if (!IsSimDevice(fd)) {
        errno = savedErrno;
        return 0;
    }
    int answer;
    try {
        answer = Answer(fd, request, arg);
    } catch (...) {
        answer = -ENOMEM;
    }
    if (answer < 0) {
        errno = -answer;
        *result = -1;
    } else {
        errno = savedErrno;
        *result = answer;
    }
    return 1;
}

extern "C" void veltro_sim_dir_opened(DIR* dir, const char* path, veltro_sim_readdir_fn readdir) {
    if (path == nullptr || !IsSimFolder(path))
        return;
    const int savedErrno = errno;
    try {
        SortedFolder folder;
        while (const dirent* entry = readdir(dir))
            folder.entries.push_back(*entry);
        rewinddir(dir); // callers of readdir64 and the like still see every entry
        std::sort(folder.entries.begin(), folder.entries.end(),
                  [](const dirent& a, const dirent& b) { return std::strcmp(a.d_name, b.d_name) < 0; });
        std::lock_guard<std::mutex> guard(g_folderMutex);
        Folders()[dir] = std::move(folder);
        ++g_sortedFolders;
    } catch (...) {
        rewinddir(dir);
    }
    errno = savedErrno;
}

extern "C" int veltro_sim_dir_next(DIR* dir, struct dirent** entry) {
    if (g_sortedFolders.load() == 0)
        return 0;
    std::lock_guard<std::mutex> guard(g_folderMutex);
    auto found = Folders().find(dir);
    if (found == Folders().end())
        return 0;
    SortedFolder& folder = found->second;
    *entry = folder.next < folder.entries.size() ? &folder.entries[folder.next++] : nullptr;
    return 1;
}

extern "C" void veltro_sim_dir_closed(DIR* dir) {
    if (g_sortedFolders.load() == 0)
        return;
    std::lock_guard<std::mutex> guard(g_folderMutex);
    if (Folders().erase(dir) > 0)
        --g_sortedFolders;
}
