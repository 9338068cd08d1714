// Times the programmer link against the simulated programmer through the real libusb-0.1: Open, one
// 8-byte transfer without delay (the simulator's own cost), and transfers with a per-transfer delay
// of real hardware's order, to show how closely the sleep is kept.
//   link_bench [delay-ms]   (default 1.2)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/Programmer.h"
#include "sim/SimApi.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Average microseconds of one WriteBlock plus one ReadBlock pair over blocks 8-byte blocks.
double TimeBlocks(CProgrammer& programmer, int blocks) {
    const uint8_t data[8] = {0x02, 0x00, 0x30, 0x75, 0x81, 0x60, 0x80, 0xFE};
    uint8_t back[8];
    const auto start = Clock::now();
    for (int i = 0; i < blocks; ++i) {
        const auto address = static_cast<uint16_t>(i * 8);
        if (!programmer.WriteBlock(address, data, 8) || !programmer.ReadBlock(address, back)) {
            std::fprintf(stderr, "transfer failed at block %d\n", i);
            std::exit(1);
        }
    }
    return MicrosecondsSince(start) / blocks;
}

} // namespace

int main(int argc, char** argv) {
    const double delayMs = argc > 1 ? std::atof(argv[1]) : 1.2;
    sim::CSimBus bus;
    sim::DeviceConfig fast; // an AT89S52: 8192 bytes, 1024 blocks
    sim::DeviceConfig slow;
    slow.delayMs = delayMs;
    bus.AddForeign(0x046D, 0xC31C, 1);
    bus.Add(fast, 1);
    bus.Add(slow, 2);

    CProgrammer programmer;
    const int opens = 200;
    auto start = Clock::now();
    for (int i = 0; i < opens; ++i) {
        if (!programmer.Open()) {
            std::fprintf(stderr, "Open failed\n");
            return 1;
        }
    }
    std::printf("Open (2 buses, 3 devices, string read):  %8.1f us\n", MicrosecondsSince(start) / opens);

    const double pair = TimeBlocks(programmer, 1024);
    std::printf("WriteBlock + ReadBlock, no delay:         %8.1f us per pair (%.1f us per transfer)\n", pair,
                pair / 2);
    std::printf("8 KiB written and read back, no delay:    %8.1f ms\n", pair * 1024 / 1000);

    programmer.SetLocation("002/001");
    if (!programmer.Open())
        return 1;
    bus.ClearTranscript();
    const int blocks = 128;
    const double slowPair = TimeBlocks(programmer, blocks);
    std::printf("with %.2f ms delay per transfer:          %8.1f us per pair (%.1f us above the delay)\n",
                delayMs, slowPair, slowPair - 2 * delayMs * 1000);
    std::printf("8 KiB written and read back at that pace: %8.2f s\n", slowPair * 1024 / 1e6);
    std::printf("transfers in the transcript:              %8zu of %d\n", bus.VendorTranscript().size(),
                2 * blocks);
    return 0;
}
