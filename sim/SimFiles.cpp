#include "sim/SimFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "chips/ChipCatalogue.h"

namespace sim::detail {

namespace {

bool WriteWhole(int fd, const void* data, size_t size, off_t offset) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t done = pwrite(fd, bytes, size, offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        size -= static_cast<size_t>(done);
        offset += done;
    }
    return true;
}

bool ReadWhole(int fd, void* data, size_t size, off_t offset) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t done = pread(fd, bytes, size, offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        bytes += done;
        size -= static_cast<size_t>(done);
        offset += done;
    }
    return true;
}

bool MakeFolder(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool MakeFile(const std::string& path, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = content.empty() || WriteWhole(fd, content.data(), content.size(), 0);
    close(fd);
    return ok;
}

std::string BusFolder(const std::string& root, int busNumber) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d", busNumber);
    return root + "/" + name;
}

void PutWord(std::vector<uint8_t>& bytes, uint16_t word) {
    bytes.push_back(static_cast<uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<uint8_t>(word >> 8));
}

std::vector<uint8_t> Descriptors(uint16_t vendorId, uint16_t productId, bool foreign) {
    std::vector<uint8_t> bytes = {18, 1};
    PutWord(bytes, 0x0110);                     // USB 1.1
    bytes.push_back(foreign ? 0x00 : 0xFF);     // class: per interface, or vendor specific
    bytes.insert(bytes.end(), {0x00, 0x00, 8}); // subclass, protocol, endpoint 0 packet size
    PutWord(bytes, vendorId);
    PutWord(bytes, productId);
    PutWord(bytes, 0x0100);
    bytes.insert(bytes.end(), {0, 2, 0, 1}); // no manufacturer, product string 2, no serial, 1 configuration
    bytes.insert(bytes.end(), {9, 2});
    PutWord(bytes, 18);                             // configuration and one interface
    bytes.insert(bytes.end(), {1, 1, 0, 0x80, 50}); // bus powered, 100 mA
    bytes.insert(bytes.end(), {9, 4, 0, 0, 0, foreign ? uint8_t{3} : uint8_t{0xFF}, 0, 0, 0});
    return bytes;
}

int HighestDeviceNumber(const std::string& bus) {
    int highest = 0;
    if (DIR* dir = opendir(bus.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const char* name = entry->d_name[0] == '.' ? entry->d_name + 1 : entry->d_name;
            char* end = nullptr;
            const long number = std::strtol(name, &end, 10);
            if (end != name && *end == '\0')
                highest = std::max(highest, static_cast<int>(number));
        }
        closedir(dir);
    }
    return highest;
}

} // namespace

int FlashSizeOf(int chip) {
    if (chip < 0 || chip >= CHIP_COUNT)
        return 0;
    return g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
}

bool IsTree(const std::string& root) {
    return access((root + "/" + TREE_MARKER).c_str(), F_OK) == 0;
}

bool CreateTree(const std::string& root, std::string& error) {
    const bool ok = MakeFolder(root) && MakeFile(root + "/" + TREE_MARKER, "") &&
                    MakeFile(root + "/devices", "") && MakeFile(root + "/" + TRANSCRIPT_FILE, "") &&
                    MakeFolder(root + "/" + IDLE_FOLDER) &&
                    MakeFile(root + "/" + IDLE_FOLDER + "/devices", "");
    if (!ok)
        error = "cannot make the device tree " + root + ": " + std::strerror(errno);
    return ok;
}

std::string CreateDeviceFile(const std::string& root, int busNumber, int index, const DeviceConfig& config,
                             bool foreign, std::string& error) {
    if (busNumber < 1 || busNumber > 999) {
        error = "bus number out of 1..999";
        return {};
    }
    const std::string bus = BusFolder(root, busNumber);
    if (!MakeFolder(bus)) {
        error = "cannot make " + bus + ": " + std::strerror(errno);
        return {};
    }
    char name[16];
    std::snprintf(name, sizeof name, "%03d", HighestDeviceNumber(bus) + 1);
    const std::string path = bus + "/" + name;

    Record record{};
    std::memcpy(record.magic, RECORD_MAGIC, sizeof record.magic);
    record.recordSize = sizeof(Record);
    record.index = index;
    record.chip =
        foreign ? FOREIGN_DEVICE : (config.chip >= 0 && config.chip < CHIP_COUNT ? config.chip : -1);
    record.vendorId = config.vendorId;
    record.productId = config.productId;
    record.stringUnreadable = config.stringUnreadable;
    record.accessDenied = config.accessDenied;
    record.ignoreWrites = config.ignoreWrites;
    record.instantTimeouts = config.instantTimeouts;
    record.failKind = static_cast<uint8_t>(config.failKind);
    record.speedCode = config.speedCode;
    record.lockStatusOverride = config.lockStatusOverride;
    record.signatureOverride = config.signatureOverride;
    record.failAt = config.failAt;
    record.failCount = config.failCount;
    record.lockMode = 1;
    record.flashSize = FlashSizeOf(record.chip);
    record.delayMs = config.delayMs;
    record.byteWriteUs = config.byteWriteUs;
    std::snprintf(record.product, sizeof record.product, "%s", config.product.c_str());
    std::memcpy(record.identity, config.identity.data(),
                std::min(config.identity.size(), sizeof record.identity));

    std::vector<uint8_t> bytes = Descriptors(config.vendorId, config.productId, foreign);
    const auto* raw = reinterpret_cast<const uint8_t*>(&record);
    bytes.insert(bytes.end(), raw, raw + sizeof record);
    bytes.insert(bytes.end(), static_cast<size_t>(record.flashSize), 0xFF);

    // Written under a temporary dot name and renamed, so a walk never sees half a device.
    const std::string temporary = bus + "/.new-" + name;
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || !WriteWhole(fd, bytes.data(), bytes.size(), 0) || close(fd) != 0 ||
        rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return {};
    }
    return path;
}

bool ReadRecord(int fd, Record& record) {
    return ReadWhole(fd, &record, sizeof record, RECORD_OFFSET) &&
           std::memcmp(record.magic, RECORD_MAGIC, sizeof record.magic) == 0 &&
           record.recordSize == sizeof(Record);
}

bool WriteRecord(int fd, const Record& record) {
    return WriteWhole(fd, &record, sizeof record, RECORD_OFFSET);
}

bool ReadFlash(int fd, const Record& record, std::vector<uint8_t>& flash) {
    flash.assign(static_cast<size_t>(std::max(record.flashSize, 0)), 0xFF);
    return flash.empty() || ReadWhole(fd, flash.data(), flash.size(), FLASH_OFFSET);
}

bool WriteFlash(int fd, const std::vector<uint8_t>& flash) {
    return flash.empty() || WriteWhole(fd, flash.data(), flash.size(), FLASH_OFFSET);
}

std::vector<std::string> FindDeviceFiles(const std::string& root) {
    std::vector<std::pair<int, std::string>> found;
    DIR* top = opendir(root.c_str());
    if (top == nullptr)
        return {};
    while (dirent* bus = readdir(top)) {
        if (bus->d_name[0] == '.')
            continue;
        const std::string busPath = root + "/" + bus->d_name;
        DIR* inner = opendir(busPath.c_str());
        if (inner == nullptr)
            continue;
        while (dirent* device = readdir(inner)) {
            const std::string name = device->d_name;
            if (name == "." || name == ".." || name.rfind(".new-", 0) == 0)
                continue;
            const std::string path = busPath + "/" + name;
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            Record record{};
            if (ReadRecord(fd, record))
                found.emplace_back(record.index, busPath + "/" + (name[0] == '.' ? name.substr(1) : name));
            close(fd);
        }
        closedir(inner);
    }
    closedir(top);
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [index, path] : found)
        paths.push_back(path);
    return paths;
}

std::string CurrentPath(const std::string& path) {
    if (access(path.c_str(), F_OK) == 0)
        return path;
    const size_t slash = path.rfind('/');
    return path.substr(0, slash + 1) + "." + path.substr(slash + 1);
}

// Open-file-description record locks, not flock: the host side flocks the device file for a whole
// connection, and the two kinds of lock never meet, so a transfer is not held up by its own holder.
CFileLock::CFileLock(int fd, bool exclusive) : m_fd(fd) {
    struct flock range {};
    range.l_type = exclusive ? F_WRLCK : F_RDLCK;
    range.l_whence = SEEK_SET; // start 0, length 0: the whole file
    while (fcntl(m_fd, F_OFD_SETLKW, &range) != 0 && errno == EINTR) {
    }
}

CFileLock::~CFileLock() {
    struct flock range {};
    range.l_type = F_UNLCK;
    range.l_whence = SEEK_SET;
    fcntl(m_fd, F_OFD_SETLK, &range);
}

void AppendTranscript(const std::string& devicePath, const TranscriptEntry& entry) {
    // devicePath is ROOT/BUS/NAME
    const size_t deviceSlash = devicePath.rfind('/');
    const size_t busSlash =
        deviceSlash == std::string::npos ? std::string::npos : devicePath.rfind('/', deviceSlash - 1);
    if (busSlash == std::string::npos)
        return;
    const std::string path = devicePath.substr(0, busSlash) + "/" + TRANSCRIPT_FILE;
    char line[96];
    const int size =
        std::snprintf(line, sizeof line, "%d %d %d %d %d %d %d\n", entry.device, entry.request,
                      entry.requestType, entry.value, entry.length, entry.result, entry.timeoutMs);
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return;
    // One write of one line: appends from several processes do not interleave.
    [[maybe_unused]] const ssize_t written = write(fd, line, static_cast<size_t>(size));
    close(fd);
}

std::vector<TranscriptEntry> ReadTranscript(const std::string& root) {
    std::vector<TranscriptEntry> entries;
    FILE* file = std::fopen((root + "/" + TRANSCRIPT_FILE).c_str(), "re");
    if (file == nullptr)
        return entries;
    TranscriptEntry entry{};
    while (std::fscanf(file, "%d %d %d %d %d %d %d", &entry.device, &entry.request, &entry.requestType,
                       &entry.value, &entry.length, &entry.result, &entry.timeoutMs) == 7)
        entries.push_back(entry);
    std::fclose(file);
    return entries;
}

} // namespace sim::detail
