// The programmer's side of a control transfer: standard descriptor requests, vendor requests 5..18
// and the chip in the socket, with the injected faults.

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "sim/SimFiles.h"

namespace sim::detail {

namespace {

// One transfer at a time within a process; the file's record lock orders the processes.
std::mutex g_deviceMutex;

constexpr uint8_t USB_DIR_IN = 0x80;
constexpr uint8_t USB_TYPE_MASK = 0x60;
constexpr uint8_t USB_TYPE_STANDARD = 0x00;
constexpr uint8_t USB_TYPE_VENDOR = 0x40;
constexpr uint8_t GET_DESCRIPTOR = 6;

uint8_t LockStatus(int lockMode) {
    switch (lockMode) {
    case 2:
        return 0x04;
    case 3:
        return 0x0C;
    case 4:
        return 0x1C;
    default:
        return 0x00;
    }
}

// What a read of a chip in lock mode 3 or 4 returns instead of the flash: verify is disabled.
uint8_t LockedReadPattern(unsigned address) {
    return static_cast<uint8_t>(0xA5 ^ (address & 0xFF));
}

struct Outcome {
    int result = -EPIPE;
    std::vector<uint8_t> reply; // device-to-host bytes, before trimming to the result
    double sleepMs = 0.0;
    bool unplug = false;
};

std::vector<uint8_t> StringDescriptor(const std::string& text) {
    const size_t chars = std::min<size_t>(text.size(), 126);
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(2 + 2 * chars), 3};
    for (size_t i = 0; i < chars; ++i) {
        bytes.push_back(static_cast<uint8_t>(text[i]));
        bytes.push_back(0);
    }
    return bytes;
}

void AnswerStandard(int fd, const Record& record, const usbdevfs_ctrltransfer& ctrl, Outcome& out) {
    if (ctrl.bRequestType != USB_DIR_IN || ctrl.bRequest != GET_DESCRIPTOR)
        return; // stall
    const int type = ctrl.wValue >> 8;
    const int index = ctrl.wValue & 0xFF;
    if (type == 1 || type == 2) {
        std::vector<uint8_t> bytes(18); // the device descriptor, or the whole configuration
        if (pread(fd, bytes.data(), bytes.size(), type == 1 ? 0 : 18) != static_cast<ssize_t>(bytes.size()))
            return;
        out.reply = bytes;
    } else if (type == 3 && index == 0) {
        out.reply = {4, 3, 0x09, 0x04}; // English (United States)
    } else if (type == 3 && index == 2 && !record.stringUnreadable) {
        out.reply = StringDescriptor(record.product);
    } else {
        return;
    }
    out.result = std::min<int>(ctrl.wLength, static_cast<int>(out.reply.size()));
}

// Runs one vendor request against record and flash; returns false when the request is none of 5..18
// or goes the wrong way (the device stalls).
bool AnswerVendor(Record& record, std::vector<uint8_t>& flash, bool& flashChanged,
                  const usbdevfs_ctrltransfer& ctrl, int moved, const uint8_t* sent, Outcome& out) {
    const bool in = (ctrl.bRequestType & USB_DIR_IN) != 0;
    const bool chip = record.chip >= 0;
    const unsigned address = ctrl.wValue;
    auto flashIndex = [&](unsigned offset) {
        return (address + offset) % static_cast<unsigned>(flash.size());
    };

    if (ctrl.bRequest == 8) {
        if (in)
            return false;
        if (chip && record.lockMode < 2 && !record.ignoreWrites) {
            for (int i = 0; i < moved; ++i)
                flash[flashIndex(static_cast<unsigned>(i))] &= sent[i];
            flashChanged = moved > 0;
        }
        // The programmer writes byte by byte whatever the chip makes of it.
        if (chip)
            out.sleepMs += moved * record.byteWriteUs / 1000.0;
        return true;
    }
    if (!in)
        return false;
    switch (ctrl.bRequest) {
    case 5:
        record.powered = 1;
        out.reply = {0};
        return true;
    case 6:
        record.powered = 0;
        return true;
    case 7:
        out.reply.assign(8, 0xFF);
        for (unsigned i = 0; chip && i < 8; ++i)
            out.reply[i] = record.lockMode >= 3 ? LockedReadPattern(address + i) : flash[flashIndex(i)];
        return true;
    case 9:
        out.reply.assign(3, 0xFF);
        for (size_t i = 0; chip && i < 3; ++i)
            out.reply[i] =
                record.signatureOverride >= 0
                    ? static_cast<uint8_t>(record.signatureOverride >> (16 - 8 * static_cast<int>(i)))
                    : static_cast<uint8_t>(g_chipCatalogue[static_cast<size_t>(record.chip)].signature[i]);
        return true;
    case 10:
        if (chip) {
            std::fill(flash.begin(), flash.end(), 0xFF);
            flashChanged = true;
            record.lockMode = 1;
        }
        return true;
    case 11:
        out.reply.assign(record.identity, record.identity + sizeof record.identity);
        return true;
    case 12:
    case 13:
    case 14:
    case 15:
        // Lock bits are only ever programmed; only an erase clears them.
        if (chip)
            record.lockMode = std::max<int>(record.lockMode, ctrl.bRequest - 11);
        return true;
    case 16:
        out.reply = {record.lockStatusOverride >= 0 ? static_cast<uint8_t>(record.lockStatusOverride)
                     : chip                         ? LockStatus(record.lockMode)
                                                    : uint8_t{0xFF}};
        return true;
    case 17:
        record.speedCode = static_cast<uint8_t>(ctrl.wValue & 0xFF);
        out.reply = {0};
        return true;
    case 18:
        out.reply = {record.speedCode};
        return true;
    default:
        return false;
    }
}

} // namespace

int AnswerControl(int fd, const std::string& path, void* transfer) {
    auto& ctrl = *static_cast<usbdevfs_ctrltransfer*>(transfer);
    Outcome out;
    TranscriptEntry entry{
        -1, ctrl.bRequest, ctrl.bRequestType, ctrl.wValue, ctrl.wLength, 0, static_cast<int>(ctrl.timeout)};
    {
        std::lock_guard<std::mutex> guard(g_deviceMutex);
        CFileLock lock(fd, true);
        Record record{};
        if (!ReadRecord(fd, record))
            return -EIO;
        entry.device = record.index;
        const bool writable = (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR;
        bool recordChanged = false;

        if (record.unplugged) {
            out.result = -ENODEV;
        } else if (record.accessDenied || !writable) {
            out.result = -EPERM; // usbfs refuses every request on a file not open for writing
        } else if ((ctrl.bRequestType & USB_TYPE_MASK) == USB_TYPE_STANDARD) {
            AnswerStandard(fd, record, ctrl, out);
            out.sleepMs = record.delayMs;
        } else if ((ctrl.bRequestType & USB_TYPE_MASK) == USB_TYPE_VENDOR && record.chip != FOREIGN_DEVICE &&
                   ctrl.bRequest >= 5 && ctrl.bRequest <= 18) {
            out.sleepMs = record.delayMs;
            ++record.vendorRequests;
            recordChanged = true;
            const bool failing = record.failAt > 0 && record.vendorRequests >= record.failAt &&
                                 record.vendorRequests < record.failAt + std::max(record.failCount, 0);
            const auto kind = static_cast<FailKind>(record.failKind);
            if (failing && kind == FailKind::Stall) {
                out.result = -EPIPE;
            } else if (failing && kind == FailKind::Timeout) {
                out.result = -ETIMEDOUT;
                if (!record.instantTimeouts)
                    out.sleepMs += ctrl.timeout;
            } else if (failing && kind == FailKind::Unplug) {
                out.result = -ENODEV;
                record.unplugged = 1;
                out.unplug = true;
            } else {
                const bool in = (ctrl.bRequestType & USB_DIR_IN) != 0;
                int moved = in ? 0 : ctrl.wLength;
                if (!in && failing)
                    moved = std::max(moved - 1, 0);
                std::vector<uint8_t> sent(static_cast<size_t>(moved));
                if (moved > 0 && ctrl.data != nullptr)
                    std::memcpy(sent.data(), ctrl.data, sent.size());
                std::vector<uint8_t> flash;
                bool flashChanged = false;
                if (!ReadFlash(fd, record, flash))
                    return -EIO;
                if (AnswerVendor(record, flash, flashChanged, ctrl, moved, sent.data(), out)) {
                    if (in) {
                        moved = std::min<int>(ctrl.wLength, static_cast<int>(out.reply.size()));
                        if (failing)
                            moved = std::max(moved - 1, 0); // a short transfer
                    }
                    out.result = moved;
                }
                if (flashChanged && !WriteFlash(fd, flash))
                    return -EIO;
            }
        } else {
            out.sleepMs = record.delayMs; // other vendor requests, other devices' vendor requests: stall
        }
        if (recordChanged && !WriteRecord(fd, record))
            return -EIO;
        entry.result = out.result;
        AppendTranscript(path, entry);
        if (out.unplug) {
            // Gone from the next walk: the library skips dot names. The open descriptor stays valid.
            const size_t slash = path.rfind('/');
            const std::string hidden = path.substr(0, slash + 1) + "." + path.substr(slash + 1);
            rename(path.c_str(), hidden.c_str());
        }
    }
    if (out.result > 0 && (ctrl.bRequestType & USB_DIR_IN) != 0 && ctrl.data != nullptr)
        std::memcpy(ctrl.data, out.reply.data(), static_cast<size_t>(out.result));
    if (out.sleepMs > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(out.sleepMs));
    return out.result;
}

} // namespace sim::detail
