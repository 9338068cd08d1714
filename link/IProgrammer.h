#pragma once
// What a device operation asks of a programmer: the requests of link/Requests.h and the connection
// they go over. The sequences of ops/ take the link they use as this interface, so a second
// programmer model is one more implementation (and its entry in link/ProgrammerModels.cpp), and a
// test or a tracer can stand in for the hardware. CProgrammer, over libusb-0.1, is the one model.
//
// Shows nothing, never waits, never retries: pacing and messages belong to the calling operation.

#include <cstdint>
#include <string>

#include "link/Requests.h"

// One attached device with the programmer's ids, as the bus walk found it.
struct ProgrammerLocation {
    std::string bus;           // the bus folder's name, for example "001"
    std::string device;        // the device file's name, for example "004"
    std::string product;       // string descriptor 2, empty when it could not be read
    bool accessDenied = false; // this user may not open it, or may not read its string
    bool busy = false;         // another program holds it: it was not asked for its string

    // A programmer that Open could take now: the product string, this user's, free.
    bool Usable() const { return !busy && !accessDenied && product == ISP_PRODUCT_STRING; }
};

// The bytes one ReadBlock returns and one WriteBlock of a sequence sends.
constexpr int PROGRAMMER_BLOCK = req::ReadBlock.length;

class IProgrammer {
public:
    virtual ~IProgrammer() = default;

    // Takes the first free programmer (at the location set, when one is). Releases a device already
    // held first.
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual bool PowerOn() = 0;
    virtual bool PowerOff() = 0;
    virtual bool ReadBlock(uint16_t address, uint8_t* buffer) = 0; // PROGRAMMER_BLOCK bytes
    virtual bool WriteBlock(uint16_t address, const uint8_t* data, int length) = 0;
    virtual bool ReadSignature() = 0;
    virtual bool EraseChip() = 0;
    virtual bool TestHardware() = 0;
    virtual bool WriteLockMode(int mode) = 0; // 1..4; anything else fails without a transfer
    // 0 when the request fails, as a received 0 would read; ok (when given) tells the two apart.
    virtual uint8_t ReadLockBits(bool* ok = nullptr) = 0;
    virtual bool SetSpeed(uint8_t code) = 0;
    virtual uint8_t GetSpeed(bool* ok = nullptr) = 0;

    // The three bytes of the last ReadSignature that succeeded (zeros before one).
    virtual const uint8_t* GetSignature() const = 0;
    virtual const char* GetProductString() const = 0; // null while no device is held

    // Restricts Open to the device at "BUS/DEVICE"; empty: any.
    virtual void SetLocation(const std::string& busSlashDevice) = 0;
    // "BUS/DEVICE" of the device the last Open that succeeded took; empty after a failed one.
    virtual const std::string& HeldLocation() const = 0;
    // After a failed Open: a programmer was found that this user may not use.
    virtual bool AccessDenied() const = 0;
    // After a failed Open: a programmer was passed over because another program holds it.
    virtual bool Busy() const = 0;
};
