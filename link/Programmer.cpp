#include "link/Programmer.h"

#include <usb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Refreshes the library's bus and device lists. usb_init runs on every scan as well: it is cheap, and
// it takes USB_DEVFS_PATH afresh, so a device tree named after the first scan is the one walked.
void ScanBuses() {
    usb_init();
    usb_find_busses();
    usb_find_devices();
}

bool HasProgrammerIds(const struct usb_device* device) {
    return device->descriptor.idVendor == ISP_VENDOR_ID && device->descriptor.idProduct == ISP_PRODUCT_ID;
}

bool IsPermissionError(int error) {
    return error == EACCES || error == EPERM;
}

// Whether folder holds an entry whose name does not start with a dot: libusb-0.1's test of a tree.
bool LooksLikeDeviceTree(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr)
        return false;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// The folder whose BUS/DEVICE files libusb-0.1 opens. The library keeps its choice to itself, so it
// is made again here as the library makes it: USB_DEVFS_PATH when that names a tree, else
// /dev/bus/usb, else /proc/bus/usb.
std::string DeviceTreeRoot() {
    const char* named = std::getenv("USB_DEVFS_PATH");
    if (named != nullptr && LooksLikeDeviceTree(named))
        return named;
    if (LooksLikeDeviceTree("/dev/bus/usb"))
        return "/dev/bus/usb";
    return "/proc/bus/usb";
}

enum class Claim { Held, Busy, Denied, Unavailable };

// Opens the device file at path and takes its exclusive lock without waiting; fd holds it when Held.
// The lock is on the file, not the library's descriptor, so it binds every program that takes it
// (and a second connection in this process: a flock belongs to the open file, not the process).
Claim ClaimDevice(const std::string& path, int& fd) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return IsPermissionError(errno) ? Claim::Denied : Claim::Unavailable;
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0)
        return Claim::Held;
    const int error = errno;
    ::close(fd);
    fd = -1;
    return error == EWOULDBLOCK ? Claim::Busy : Claim::Unavailable;
}

void ReleaseClaim(int& fd) {
    if (fd >= 0)
        ::close(fd); // closing the last descriptor of the open file drops the lock
    fd = -1;
}

// Reads string descriptor 2 into buffer (NUL-terminated); the library's result, negative on failure.
int ReadProductString(usb_dev_handle* handle, char* buffer, int size) {
    buffer[0] = '\0';
    const int result =
        usb_get_string_simple(handle, ISP_PRODUCT_STRING_INDEX, buffer, static_cast<size_t>(size));
    if (result < 0)
        buffer[0] = '\0';
    return result;
}

// One device with the programmer's ids, as Open and List look at it: claimed, opened and asked for
// its product string. Nothing is sent to a device that another program holds.
struct Probe {
    Claim claim = Claim::Unavailable;
    bool denied = false;              // the device file, the open or the string request was refused
    usb_dev_handle* handle = nullptr; // open, with lock held, when the claim was Held and usb_open worked
    int lock = -1;
    bool productRead = false; // product holds the string
};

Probe ProbeDevice(struct usb_device* device, const std::string& path, char* product, int size) {
    Probe probe;
    probe.claim = ClaimDevice(path, probe.lock);
    probe.denied = probe.claim == Claim::Denied;
    if (probe.claim != Claim::Held)
        return probe;
    errno = 0;
    probe.handle = usb_open(device);
    if (probe.handle == nullptr) {
        probe.denied = IsPermissionError(errno);
        ReleaseClaim(probe.lock);
        return probe;
    }
    const int result = ReadProductString(probe.handle, product, size);
    probe.productRead = result >= 0;
    probe.denied = result < 0 && IsPermissionError(-result);
    return probe;
}

// Lets go of what a probe holds (after the library's descriptor, the lock).
void ReleaseProbe(Probe& probe) {
    if (probe.handle != nullptr)
        usb_close(probe.handle);
    probe.handle = nullptr;
    ReleaseClaim(probe.lock);
}

// Whether the bytes received are judged a success by the request's rule. NoTest requests succeed
// when the byte they return arrived.
bool Judge(const RequestSpec& spec, int result, int length) {
    switch (spec.success) {
    case Success::NonNegative:
        return result >= 0;
    case Success::ExactLength:
        return result == length;
    case Success::NoTest:
        return result >= 1;
    }
    return false;
}

} // namespace

// The signature starts as zeros rather than whatever the memory held: nothing was read yet.
CProgrammer::CProgrammer() : m_hDevice(nullptr), m_signature{}, m_productString{} {}

CProgrammer::~CProgrammer() {
    Close();
}

bool CProgrammer::Open() {
    Close();
    m_accessDenied = false;
    m_busy = false;
    m_productString[0] = '\0';
    ScanBuses();
    const std::string root = DeviceTreeRoot();

    bool denied = false, busy = false;
    for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (!HasProgrammerIds(device))
                continue;
            const std::string place = std::string(bus->dirname) + "/" + device->filename;
            if (!m_location.empty() && m_location != place)
                continue;
            // Locked before the library opens it: nothing at all is sent to a programmer in use.
            Probe probe = ProbeDevice(device, root + "/" + place, m_productString, sizeof m_productString);
            busy = busy || probe.claim == Claim::Busy;
            denied = denied || probe.denied;
            if (probe.productRead && std::strcmp(m_productString, ISP_PRODUCT_STRING) == 0) {
                m_hDevice = probe.handle;
                m_lockFd = probe.lock;
                m_heldLocation = place;
                return true;
            }
            ReleaseProbe(probe);
        }
    }
    m_productString[0] = '\0';
    m_heldLocation.clear();
    m_accessDenied = denied;
    m_busy = busy;
    return false;
}

void CProgrammer::Close() {
    if (m_hDevice != nullptr) {
        usb_close(m_hDevice);
        m_hDevice = nullptr;
    }
    // After the library's descriptor: the next holder never overlaps this connection.
    ReleaseClaim(m_lockFd);
}

int CProgrammer::Transfer(const RequestSpec& spec, uint16_t value, uint8_t* data, int length) {
    if (m_hDevice == nullptr)
        return -ENODEV;
    return usb_control_msg(m_hDevice, spec.bmRequestType, spec.bRequest, value, 0,
                           reinterpret_cast<char*>(data), length, spec.timeoutMs);
}

bool CProgrammer::PowerOn() {
    uint8_t reply[1] = {};
    return Judge(req::PowerOn, Transfer(req::PowerOn, 0, reply, req::PowerOn.length), req::PowerOn.length);
}

bool CProgrammer::PowerOff() {
    return Judge(req::PowerOff, Transfer(req::PowerOff, 0, nullptr, 0), 0);
}

bool CProgrammer::ReadBlock(uint16_t address, uint8_t* buffer) {
    if (buffer == nullptr)
        return false;
    const int length = req::ReadBlock.length;
    return Judge(req::ReadBlock, Transfer(req::ReadBlock, address, buffer, length), length);
}

bool CProgrammer::WriteBlock(uint16_t address, const uint8_t* data, int length) {
    // A control transfer carries at most 65535 bytes; a negative or unbacked length is refused here
    // rather than handed to the library as a huge wLength.
    if (length < 0 || length > 0xFFFF || (data == nullptr && length > 0))
        return false;
    // The library takes a non-const buffer but only reads it for a host-to-device request.
    uint8_t* bytes = const_cast<uint8_t*>(data);
    return Judge(req::WriteBlock, Transfer(req::WriteBlock, address, bytes, length), length);
}

bool CProgrammer::ReadSignature() {
    const int length = req::ReadSignature.length;
    return Judge(req::ReadSignature, Transfer(req::ReadSignature, 0, m_signature, length), length);
}

bool CProgrammer::EraseChip() {
    return Judge(req::EraseChip, Transfer(req::EraseChip, 0, nullptr, 0), 0);
}

bool CProgrammer::TestHardware() {
    uint8_t reply[8] = {};
    const int length = req::TestHardware.length;
    const int result = Transfer(req::TestHardware, 0, reply, length);
    if (!Judge(req::TestHardware, result, length))
        return false;
    // Only the bytes received count: the reply must hold its terminating NUL itself.
    const void* end = std::memchr(reply, 0, static_cast<size_t>(result));
    return end != nullptr && std::strcmp(reinterpret_cast<const char*>(reply), ISP_IDENTITY) == 0;
}

bool CProgrammer::WriteLockMode(int mode) {
    static constexpr const RequestSpec* kModes[4] = {&req::WriteLockMode1, &req::WriteLockMode2,
                                                     &req::WriteLockMode3, &req::WriteLockMode4};
    if (mode < 1 || mode > 4)
        return false;
    const RequestSpec& spec = *kModes[mode - 1];
    return Judge(spec, Transfer(spec, 0, nullptr, 0), 0);
}

uint8_t CProgrammer::ReadLockBits(bool* ok) {
    uint8_t reply[1] = {};
    const bool received = Judge(req::ReadLockBits, Transfer(req::ReadLockBits, 0, reply, 1), 1);
    if (ok != nullptr)
        *ok = received;
    return received ? reply[0] : 0;
}

bool CProgrammer::SetSpeed(uint8_t code) {
    uint8_t reply[1] = {};
    return Judge(req::SetSpeed, Transfer(req::SetSpeed, code, reply, req::SetSpeed.length),
                 req::SetSpeed.length);
}

uint8_t CProgrammer::GetSpeed(bool* ok) {
    uint8_t reply[1] = {};
    const bool received = Judge(req::GetSpeed, Transfer(req::GetSpeed, 0, reply, 1), 1);
    if (ok != nullptr)
        *ok = received;
    return received ? reply[0] : 0;
}

const char* CProgrammer::GetProductString() const {
    return m_hDevice != nullptr ? m_productString : nullptr;
}

std::vector<ProgrammerLocation> CProgrammer::List() {
    std::vector<ProgrammerLocation> found;
    ScanBuses();
    const std::string root = DeviceTreeRoot();
    for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
            if (!HasProgrammerIds(device))
                continue;
            ProgrammerLocation location{bus->dirname, device->filename, {}};
            // Held for the string request only: a programmer another program uses is not asked.
            char product[255];
            Probe probe = ProbeDevice(device, root + "/" + location.bus + "/" + location.device, product,
                                      sizeof product);
            location.busy = probe.claim == Claim::Busy;
            location.accessDenied = probe.denied;
            if (probe.productRead)
                location.product = product;
            ReleaseProbe(probe);
            found.push_back(std::move(location));
        }
    }
    return found;
}
