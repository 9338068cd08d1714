#pragma once
// One connection to the programmer. Shows nothing, never waits, never retries: pacing and messages
// belong to the calling operation. libusb-0.1 keeps process-wide state, so only one thread may use
// the library at a time; device operations never overlap. An open connection holds an exclusive
// flock on the programmer's device file, so one process (or one CProgrammer) uses it at a time.

#include <cstdint>
#include <string>
#include <vector>

#include "link/IProgrammer.h"
#include "link/Requests.h"

struct usb_dev_handle;

class CProgrammer : public IProgrammer {
public:
    CProgrammer();
    ~CProgrammer() override; // closes a held device
    CProgrammer(const CProgrammer&) = delete;
    CProgrammer& operator=(const CProgrammer&) = delete;

    // Walks buses and devices in list order and keeps the first device with the programmer's ids whose
    // string descriptor 2 is exactly ISP_PRODUCT_STRING and that no one else holds (it is locked
    // before anything is sent to it). Releases a device already held first.
    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return m_hDevice != nullptr; }

    bool PowerOn() override;
    bool PowerOff() override;
    bool ReadBlock(uint16_t address, uint8_t* buffer) override; // 8 bytes
    bool WriteBlock(uint16_t address, const uint8_t* data, int length) override;
    bool ReadSignature() override;
    bool EraseChip() override;
    bool TestHardware() override;
    bool WriteLockMode(int mode) override; // 1..4; anything else fails without a transfer
    // 0 when the request fails, as a received 0 would read; ok (when given) tells the two apart.
    uint8_t ReadLockBits(bool* ok = nullptr) override;
    bool SetSpeed(uint8_t code) override;
    uint8_t GetSpeed(bool* ok = nullptr) override;

    const uint8_t* GetSignature() const override { return m_signature; }
    const char* GetProductString() const override; // null while no device is held

    // Restricts Open to the device at "BUS/DEVICE" (the names of ProgrammerLocation); empty: any.
    void SetLocation(const std::string& busSlashDevice) override { m_location = busSlashDevice; }
    // "BUS/DEVICE" of the device the last Open that succeeded took; empty after a failed one.
    const std::string& HeldLocation() const override { return m_heldLocation; }
    // After a failed Open: a device with the programmer's ids was found that this user may not open
    // or whose string could not be read for lack of permission.
    bool AccessDenied() const override { return m_accessDenied; }
    // After a failed Open: a device with the programmer's ids was passed over because another program
    // (or another connection of this one) holds it.
    bool Busy() const override { return m_busy; }

    // Every attached device with the programmer's ids, in walk order.
    static std::vector<ProgrammerLocation> List();

private:
    int Transfer(const RequestSpec& spec, uint16_t value, uint8_t* data, int length);

    usb_dev_handle* m_hDevice;
    uint8_t m_signature[3];
    char m_productString[255];
    std::string m_location;
    std::string m_heldLocation;
    bool m_accessDenied = false;
    bool m_busy = false;
    int m_lockFd = -1; // the device file, flocked, while a device is held
};
