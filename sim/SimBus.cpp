#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <usb.h>

#include "sim/SimApi.h"
#include "sim/SimFiles.h"
#include "sim/SimHooks.h"
#include "sim/SimOptions.h"

using namespace sim::detail;

namespace sim {

namespace {

// Makes libusb drop every bus and device it knew, so that the next walk (CProgrammer::Open calls
// usb_init again) lists the real tree afresh. Two rescans of the idle tree: first with the known bus
// folders empty, which frees their devices, then with no bus at all, which frees the buses (libusb
// frees a vanished bus but not the devices still on it).
void ForgetLibraryLists(const std::string& root) {
    const std::string idle = root + "/" + IDLE_FOLDER;
    std::vector<std::string> buses;
    for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next)
        if (mkdir((idle + "/" + bus->dirname).c_str(), 0755) == 0)
            buses.push_back(idle + "/" + bus->dirname);
    setenv("USB_DEVFS_PATH", idle.c_str(), 1);
    usb_init();
    usb_find_busses();
    usb_find_devices();
    for (const std::string& bus : buses)
        rmdir(bus.c_str());
    usb_find_busses();
    setenv("USB_DEVFS_PATH", root.c_str(), 1);
}

// Runs change on the record (and flash) of a device under an exclusive lock.
template <typename Change> bool Modify(const std::string& path, Change change) {
    const int fd = open(CurrentPath(path).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok;
    {
        CFileLock lock(fd, true);
        Record record{};
        ok = ReadRecord(fd, record) && change(fd, record) && WriteRecord(fd, record);
    }
    close(fd);
    return ok;
}

} // namespace

CSimBus::CSimBus() {
    veltro_sim_interpose_anchor = 1;
    m_root = MakeTemporaryFolder("veltro-sim-");
    std::string error;
    if (m_root.empty() || !CreateTree(m_root, error))
        std::fprintf(stderr, "CSimBus: cannot make a device tree: %s\n", error.c_str());
    if (const char* saved = std::getenv("USB_DEVFS_PATH")) {
        m_hadDevfsPath = true;
        m_savedDevfsPath = saved;
    }
    ForgetLibraryLists(m_root);
}

CSimBus::CSimBus(const std::string& existingRoot) : m_root(existingRoot), m_owned(false) {
    veltro_sim_interpose_anchor = 1;
    m_devices = FindDeviceFiles(m_root);
    if (const char* saved = std::getenv("USB_DEVFS_PATH")) {
        m_hadDevfsPath = true;
        m_savedDevfsPath = saved;
    }
    ForgetLibraryLists(m_root);
}

CSimBus::~CSimBus() {
    if (m_owned)
        RemoveTree(m_root);
    if (m_hadDevfsPath)
        setenv("USB_DEVFS_PATH", m_savedDevfsPath.c_str(), 1);
    else
        unsetenv("USB_DEVFS_PATH");
}

int CSimBus::Add(const DeviceConfig& config, int busNumber) {
    std::string error;
    const std::string path =
        CreateDeviceFile(m_root, busNumber, static_cast<int>(m_devices.size()), config, false, error);
    if (path.empty()) {
        std::fprintf(stderr, "CSimBus::Add: %s\n", error.c_str());
        return -1;
    }
    m_devices.push_back(path);
    ForgetLibraryLists(m_root);
    return static_cast<int>(m_devices.size()) - 1;
}

int CSimBus::AddForeign(uint16_t vendorId, uint16_t productId, int busNumber) {
    DeviceConfig config;
    config.vendorId = vendorId;
    config.productId = productId;
    config.product = "USB Keyboard";
    config.identity = "";
    std::string error;
    const std::string path =
        CreateDeviceFile(m_root, busNumber, static_cast<int>(m_devices.size()), config, true, error);
    if (path.empty()) {
        std::fprintf(stderr, "CSimBus::AddForeign: %s\n", error.c_str());
        return -1;
    }
    m_devices.push_back(path);
    ForgetLibraryLists(m_root);
    return static_cast<int>(m_devices.size()) - 1;
}

std::string CSimBus::DevicePath(int device) const {
    return device >= 0 && device < DeviceCount() ? m_devices[static_cast<size_t>(device)] : std::string();
}

DeviceState CSimBus::State(int device) const {
    DeviceState state;
    const int fd = open(CurrentPath(DevicePath(device)).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return state;
    {
        CFileLock lock(fd, false);
        Record record{};
        if (ReadRecord(fd, record) && ReadFlash(fd, record, state.flash)) {
            state.lockMode = record.lockMode;
            state.speedCode = record.speedCode;
            state.vendorRequests = record.vendorRequests;
            state.unplugged = record.unplugged != 0;
            state.powered = record.powered != 0;
        }
    }
    close(fd);
    return state;
}

void CSimBus::SetFlash(int device, const std::vector<uint8_t>& flash) {
    Modify(DevicePath(device), [&](int fd, Record& record) {
        std::vector<uint8_t> content(static_cast<size_t>(record.flashSize), 0xFF);
        std::copy_n(flash.begin(), std::min(flash.size(), content.size()), content.begin());
        return WriteFlash(fd, content);
    });
}

void CSimBus::SetLockMode(int device, int mode) {
    Modify(DevicePath(device), [&](int, Record& record) {
        record.lockMode = std::clamp(mode, 1, 4);
        return true;
    });
}

void CSimBus::SetSpeedCode(int device, uint8_t code) {
    Modify(DevicePath(device), [&](int, Record& record) {
        record.speedCode = code;
        return true;
    });
}

void CSimBus::SetFault(int device, int failAt, int failCount, FailKind kind) {
    Modify(DevicePath(device), [&](int, Record& record) {
        record.failAt = failAt;
        record.failCount = failCount;
        record.failKind = static_cast<uint8_t>(kind);
        record.vendorRequests = 0;
        return true;
    });
}

void CSimBus::Unplug(int device) {
    const std::string path = DevicePath(device);
    const bool done = Modify(path, [&](int, Record& record) {
        record.unplugged = 1;
        return true;
    });
    if (done && CurrentPath(path) == path) {
        const size_t slash = path.rfind('/');
        rename(path.c_str(), (path.substr(0, slash + 1) + "." + path.substr(slash + 1)).c_str());
    }
}

std::vector<TranscriptEntry> CSimBus::Transcript() const {
    return ReadTranscript(m_root);
}

std::vector<TranscriptEntry> CSimBus::VendorTranscript() const {
    std::vector<TranscriptEntry> vendor;
    for (const TranscriptEntry& entry : Transcript())
        if ((entry.requestType & 0x60) == 0x40 && entry.request >= 5 && entry.request <= 18)
            vendor.push_back(entry);
    return vendor;
}

void CSimBus::ClearTranscript() {
    if (truncate((m_root + "/" + TRANSCRIPT_FILE).c_str(), 0) != 0)
        std::fprintf(stderr, "CSimBus: cannot clear the transcript: %s\n", std::strerror(errno));
}

} // namespace sim
