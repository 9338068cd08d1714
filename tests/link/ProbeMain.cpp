// veltro51-probe: a small libusb-0.1 program that knows nothing of the simulator, for black-box runs.
//   veltro51-probe                    product string and signature of the first programmer
//   veltro51-probe list               every device with the programmer's ids
//   veltro51-probe read ADDR          the 8 flash bytes at ADDR
//   veltro51-probe write ADDR B0..B7  programs 8 bytes at ADDR (numbers in C notation)
//   veltro51-probe erase
// Exit status: 0 done, 1 a request failed, 2 no programmer, 3 access denied, 4 usage.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/Programmer.h"

namespace {

bool ParseNumber(const char* text, unsigned long high, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 0);
    return end != text && *end == '\0' && value <= high;
}

void PrintBytes(const uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i)
        std::printf("%s%02X", i > 0 ? " " : "", bytes[i]);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "list") {
        for (const ProgrammerLocation& location : CProgrammer::List())
            std::printf("%s/%s \"%s\"\n", location.bus.c_str(), location.device.c_str(),
                        location.product.c_str());
        return 0;
    }
    CProgrammer programmer;
    if (!programmer.Open()) {
        std::printf(programmer.AccessDenied() ? "access denied\n" : "no programmer\n");
        return programmer.AccessDenied() ? 3 : 2;
    }
    if (command.empty()) {
        if (!programmer.TestHardware() || !programmer.ReadSignature())
            return 1;
        std::printf("product: %s\nsignature: ", programmer.GetProductString());
        PrintBytes(programmer.GetSignature(), 3);
        return 0;
    }
    unsigned long address = 0;
    if (command == "read" && argc == 3 && ParseNumber(argv[2], 0xFFFF, address)) {
        uint8_t block[8];
        if (!programmer.ReadBlock(static_cast<uint16_t>(address), block))
            return 1;
        PrintBytes(block, 8);
        return 0;
    }
    if (command == "write" && argc == 11 && ParseNumber(argv[2], 0xFFFF, address)) {
        uint8_t block[8];
        for (int i = 0; i < 8; ++i) {
            unsigned long value = 0;
            if (!ParseNumber(argv[3 + i], 0xFF, value))
                return 4;
            block[i] = static_cast<uint8_t>(value);
        }
        return programmer.WriteBlock(static_cast<uint16_t>(address), block, 8) ? 0 : 1;
    }
    if (command == "erase" && argc == 2)
        return programmer.EraseChip() ? 0 : 1;
    std::fprintf(stderr, "usage: veltro51-probe [list | read ADDR | write ADDR B0..B7 | erase]\n");
    return 4;
}
