// Burns each of the five chips against the simulated programmer with the real waits, once with no
// transfer delay and once with 1.2 ms per transfer (a low-speed USB programmer's round trip), and
// prints per chip: wall time, the mandated waits, the time spent in the control transfers, the time
// beyond both (the host's overhead) and the process's CPU time. Targets: overhead under 1% and CPU
// under 5% of the wall time. Exit status 1 when a target is missed or a burn fails.
//
// The transfers' time is measured, not assumed: this program's usb_control_msg wraps the library's.
// On hardware that time is the bus round trip; here it is the simulated device answering (its file
// work and its delay), which is the device's time, not the host's.
//
//   ops_bench [DELAY_MS ...]    default: 0 1.2

#include <dlfcn.h>
#include <sys/resource.h>
#include <usb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chips/ChipCatalogue.h"
#include "link/Programmer.h"
#include "ops/Burn.h"
#include "ops/Sleeper.h"
#include "sim/SimApi.h"

namespace {
std::atomic<int64_t> g_transferNs{0};
std::atomic<int64_t> g_transferCount{0};
} // namespace

// Every control transfer of the link, timed, then handed to libusb-0.1.
extern "C" int usb_control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                               char* bytes, int size, int timeout) {
    using Fn = int (*)(usb_dev_handle*, int, int, int, int, char*, int, int);
    static const Fn real = [] {
        Fn fn = nullptr;
        void* symbol = dlsym(RTLD_NEXT, "usb_control_msg");
        std::memcpy(&fn, &symbol, sizeof fn);
        return fn;
    }();
    const auto t0 = std::chrono::steady_clock::now();
    const int result = real(dev, requesttype, request, value, index, bytes, size, timeout);
    g_transferNs +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
    ++g_transferCount;
    return result;
}

namespace {

// Takes the worker's reports and lets them go, as a dialog that posts them would.
class CQuietUi : public IOperationPort {
public:
    void Row(RowKind kind, const std::string& text) override {
        if (kind == RowKind::Error)
            m_errors.push_back(text);
    }
    std::vector<std::string> m_errors;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    double wall, waits, late, transfers, cpu;
    int64_t requests;
    bool ok;
};

Figures BurnOnce(int chip, double delayMs) {
    const int size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
    sim::CSimBus bus;
    sim::DeviceConfig config;
    config.chip = chip;
    config.delayMs = delayMs;
    bus.Add(config);

    // Every block holds data: the most a chip of this size needs.
    uint32_t x = 0x9E3779B9u * static_cast<uint32_t>(chip + 1);
    for (int a = 0; a < size; ++a) {
        x = x * 1664525u + 1013904223u;
        g_burnImage[static_cast<size_t>(a)] = static_cast<uint8_t>(x >> 24);
    }
    for (int a = 0; a < size; a += 8)
        g_burnImage[static_cast<size_t>(a)] = 0x00;

    CRealSleeper sleeper;
    CQuietUi ui;
    BurnJob job;
    job.lastAddress = size - 1;
    g_burnAbort = 0;
    g_burnRunning = 1;

    g_transferNs = 0;
    g_transferCount = 0;
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    CProgrammer link;
    const BurnResult result = BurnThreadProc(link, job, ui, sleeper);
    const auto t1 = std::chrono::steady_clock::now();
    const double cpu1 = CpuSeconds();

    Figures f{};
    f.wall = std::chrono::duration<double>(t1 - t0).count();
    f.waits = static_cast<double>(sleeper.RequestedMs()) / 1000.0;
    f.late = static_cast<double>(sleeper.SleptNs()) / 1e9 - f.waits;
    f.requests = g_transferCount.load();
    f.transfers = static_cast<double>(g_transferNs.load()) / 1e9;
    f.cpu = cpu1 - cpu0;
    const std::vector<uint8_t> flash = bus.State(0).flash;
    f.ok = result.chipsWritten == 1 && ui.m_errors.empty() && flash.size() == static_cast<size_t>(size) &&
           std::equal(flash.begin(), flash.end(), g_burnImage.begin());
    return f;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<double> delays;
    for (int i = 1; i < argc; ++i)
        delays.push_back(std::atof(argv[i]));
    if (delays.empty())
        delays = {0.0, 1.2};

    bool allOk = true;
    // beyond = wall - waits - transfers; "late" is the part of it that the waits overran (the
    // scheduler's wake-up lateness, large on a busy machine).
    std::printf("%-10s %7s %8s %8s %9s %11s %9s %8s %9s %7s %7s %s\n", "chip", "delay", "wall s", "waits s",
                "transfers", "transfers s", "beyond s", "late s", "overhead", "cpu s", "cpu", "result");
    for (double delay : delays) {
        for (int chip = 0; chip < CHIP_COUNT; ++chip) {
            const Figures f = BurnOnce(chip, delay);
            const double beyond = f.wall - f.waits - f.transfers;
            const double overhead = 100.0 * beyond / f.wall;
            const double cpu = 100.0 * f.cpu / f.wall;
            const bool ok = f.ok && overhead < 1.0 && cpu < 5.0;
            allOk = allOk && ok;
            std::printf("%-10s %5.1fms %8.3f %8.3f %9lld %11.3f %9.3f %8.3f %8.2f%% %7.3f %6.2f%% %s\n",
                        g_chipCatalogue[static_cast<size_t>(chip)].name, delay, f.wall, f.waits,
                        static_cast<long long>(f.requests), f.transfers, beyond, f.late, overhead, f.cpu, cpu,
                        !f.ok ? "BURN FAILED"
                        : ok  ? "ok"
                              : "OVER TARGET");
            std::fflush(stdout);
        }
    }
    std::printf("targets: overhead < 1%% of wall, cpu < 5%% of wall: %s\n", allOk ? "met" : "MISSED");
    return allOk ? 0 : 1;
}
