#pragma once
// The programmer's wire protocol: every vendor request on endpoint 0, in one table.
// wIndex is always 0. 0xC0: vendor, device-to-host, device; 0x40: vendor, host-to-device, device.
// Requests without data still use 0xC0 with length 0.

#include <cstdint>

constexpr uint16_t ISP_VENDOR_ID = 0x1781;
constexpr uint16_t ISP_PRODUCT_ID = 0x0C9E;
constexpr const char* ISP_PRODUCT_STRING = "Veltro-8051";
constexpr const char* ISP_IDENTITY = "TALMORE";
constexpr int ISP_PRODUCT_STRING_INDEX = 2; // a fixed index, not the descriptor's iProduct

constexpr uint8_t REQTYPE_IN = 0xC0;
constexpr uint8_t REQTYPE_OUT = 0x40;

// How a request's result (bytes moved, or negative on error) is judged.
enum class Success : uint8_t {
    NonNegative, // result >= 0
    ExactLength, // result == length: a short transfer is a failure
    NoTest,      // the caller takes the byte; 0 on failure
};

struct RequestSpec {
    const char* name;
    uint8_t bRequest;
    uint8_t bmRequestType;
    uint16_t length; // data stage bytes (WriteBlock: the length its caller passes, always 8)
    int timeoutMs;
    Success success;
};

namespace req {
constexpr RequestSpec PowerOn{"PowerOn", 5, REQTYPE_IN, 1, 400, Success::NonNegative};
constexpr RequestSpec PowerOff{"PowerOff", 6, REQTYPE_IN, 0, 100, Success::NonNegative};
constexpr RequestSpec ReadBlock{"ReadBlock", 7, REQTYPE_IN, 8, 200, Success::ExactLength};
constexpr RequestSpec WriteBlock{"WriteBlock", 8, REQTYPE_OUT, 8, 400, Success::ExactLength};
// All three bytes or none: bytes that did not arrive would name a chip that is not there.
constexpr RequestSpec ReadSignature{"ReadSignature", 9, REQTYPE_IN, 3, 100, Success::ExactLength};
constexpr RequestSpec EraseChip{"EraseChip", 10, REQTYPE_IN, 0, 100, Success::NonNegative};
constexpr RequestSpec TestHardware{"TestHardware", 11, REQTYPE_IN, 8, 100, Success::NonNegative};
constexpr RequestSpec WriteLockMode1{"WriteLockMode1", 12, REQTYPE_IN, 0, 100, Success::NonNegative};
constexpr RequestSpec WriteLockMode2{"WriteLockMode2", 13, REQTYPE_IN, 0, 100, Success::NonNegative};
constexpr RequestSpec WriteLockMode3{"WriteLockMode3", 14, REQTYPE_IN, 0, 100, Success::NonNegative};
constexpr RequestSpec WriteLockMode4{"WriteLockMode4", 15, REQTYPE_IN, 0, 100, Success::NonNegative};
constexpr RequestSpec ReadLockBits{"ReadLockBits", 16, REQTYPE_IN, 1, 100, Success::NoTest};
constexpr RequestSpec SetSpeed{"SetSpeed", 17, REQTYPE_IN, 1, 100, Success::NonNegative};
constexpr RequestSpec GetSpeed{"GetSpeed", 18, REQTYPE_IN, 1, 100, Success::NoTest};
} // namespace req

// Speed code stored in the programmer: 0 = 3000 kHz, 1 = 750, 2 = 188, 3 = 94.
constexpr int SPEED_KHZ[4] = {3000, 750, 188, 94};
// Lock status byte: LB1..LB3 in bits 2..4.
constexpr uint8_t LOCK_BITS_MASK = 0x1C;
