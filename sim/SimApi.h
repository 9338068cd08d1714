#pragma once
// The simulated programmer, below libusb-0.1: a device tree of ordinary files that the real library
// walks (USB_DEVFS_PATH), and an interposed ioctl() that answers the usbfs requests for those files
// only. Each device file holds its descriptors and, after them, the device's state (flash, lock
// bits, speed code, request counter, faults), so several processes see the same chip: a burn by one
// program can be read back by another.
//
// In-process use (tests): link veltro_sim into the executable, make a CSimBus, add devices. The
// library's ioctl and readdir calls reach the simulator; everything else passes to the C library.
// Black-box use: LD_PRELOAD=libveltrosim.so with USB_DEVFS_PATH pointing at a tree that
// `veltro51-sim` made, or with VELTRO_SIM_* variables so that the preloaded library makes one.

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class FailKind : uint8_t {
    Stall,   // -EPIPE at once
    Timeout, // -ETIMEDOUT, after the request's time-out unless timeouts are instant
    Unplug,  // -ENODEV, and the device is gone from then on (no further request, not found by a walk)
    Short,   // one byte fewer than asked is moved; no error
};

struct DeviceConfig {
    int chip = 3;                        // catalogue index 0..4, or -1 for an empty socket (FF FF FF)
    std::string product = "Veltro-8051"; // string descriptor 2
    bool stringUnreadable = false;       // GET_DESCRIPTOR for string 2 stalls
    bool accessDenied = false;           // opening acts as for a file this user may not write
    std::string identity = "TALMORE";    // reply to request 11, NUL-padded to 8 bytes
    uint16_t vendorId = 0x1781;
    uint16_t productId = 0x0C9E;
    uint8_t speedCode = 0;       // stored speed code (any byte; 0..3 are meaningful)
    int lockStatusOverride = -1; // >= 0: request 16 answers this byte instead of the lock state
    int signatureOverride = -1;  // >= 0: request 9 answers bytes 0xAABBCC of it instead of the chip's
    bool ignoreWrites = false;   // a chip that does not take a write (for verify failures)
    // Failure injection: vendor requests (5..18) are counted from 1 per device; requests failAt ..
    // failAt + failCount - 1 fail with failKind. failAt 0: none.
    int failAt = 0;
    int failCount = 1;
    FailKind failKind = FailKind::Stall;
    bool instantTimeouts = false; // a Timeout fault returns at once instead of waiting
    double delayMs = 0.0;         // added to every control transfer, like a real round trip
    // Added per byte that a WriteBlock moves into a chip, like a byte-mode chip's write cycle (about
    // 410 us at 12 MHz): the programmer waits out each byte before the transfer completes.
    double byteWriteUs = 0.0;
};

// One control transfer as the device saw it. Transfers that usbfs refuses before they reach the
// device (-EPERM without write access, -ENODEV once unplugged) are listed as well.
struct TranscriptEntry {
    int device;      // index of the device in the bus (order of Add)
    int request;     // bRequest; standard requests appear too (6 = GET_DESCRIPTOR with requestType 0x80)
    int requestType; // bmRequestType
    int value;       // wValue
    int length;      // wLength
    int result;      // what the ioctl returned: bytes moved or -errno
    int timeoutMs;   // the time-out the host gave the transfer
};

struct DeviceState {
    std::vector<uint8_t> flash; // the chip's flash (empty for no chip)
    int lockMode = 1;           // 1..4
    uint8_t speedCode = 0;
    int vendorRequests = 0; // counted so far
    bool unplugged = false;
    bool powered = false; // a PowerOn (5) came after the last PowerOff (6)
};

class CSimDevice;

// A device tree in a fresh temporary folder. Sets USB_DEVFS_PATH for the life of the object and
// restores the earlier value after. One bus at a time may be live in a process.
// libusb-0.1 keeps the buses and devices it has seen and puts newly seen ones first; construction,
// Add and AddForeign make it forget them, so that the next walk sees every device in name order.
// Construct, destroy and add only while no other thread is inside libusb. Everything else here may be
// called from any thread, also while a worker drives the device.
class CSimBus {
public:
    CSimBus();
    // Attaches to a tree that already exists (veltro51-sim --tree DIR, say): the tree is kept.
    explicit CSimBus(const std::string& existingRoot);
    ~CSimBus(); // removes the tree (unless attached)
    CSimBus(const CSimBus&) = delete;
    CSimBus& operator=(const CSimBus&) = delete;

    // Adds a device on bus folder "%03d" of busNumber; devices are named "%03d" in order of adding.
    // The library walks buses and devices in name order.
    int Add(const DeviceConfig& config, int busNumber = 1);
    // Adds an ordinary file-backed device of other ids (a keyboard, say) for the walk to skip.
    int AddForeign(uint16_t vendorId, uint16_t productId, int busNumber = 1);

    const std::string& Root() const { return m_root; }
    int DeviceCount() const { return static_cast<int>(m_devices.size()); }
    std::string DevicePath(int device) const; // the file's name while plugged

    DeviceState State(int device) const;
    void SetFlash(int device, const std::vector<uint8_t>& flash);
    void SetLockMode(int device, int mode);
    void SetSpeedCode(int device, uint8_t code);
    // Changes the fault of a device from now on; the request counter restarts at 0.
    void SetFault(int device, int failAt, int failCount, FailKind kind);
    void Unplug(int device);

    std::vector<TranscriptEntry> Transcript() const;       // every device, in order of time
    std::vector<TranscriptEntry> VendorTranscript() const; // requests 5..18 only
    void ClearTranscript();

private:
    std::string m_root;
    std::string m_savedDevfsPath;
    bool m_hadDevfsPath = false;
    std::vector<std::string> m_devices;
    bool m_owned = true;
};

// Parses "stall", "timeout", "unplug", "short".
bool ParseFailKind(const std::string& text, FailKind& kind);

} // namespace sim
