// The per-chip cost of the stations' database on a local server: taking a serial number (one
// transaction, synchronous commit) and writing the chip's record, on a throw-away cluster started
// here (Unix socket, fsync on). Prints medians and the 95th percentiles in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "ops/store/PgStore.h"
#include "tests/production/PgServer.h"

namespace {

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Print(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-32s median %.3f ms, 95th percentile %.3f ms (%zu runs)\n", what, times[times.size() / 2],
                times[times.size() * 95 / 100], times.size());
}

} // namespace

int main() {
    CPgServer server;
    if (!server.Ready()) {
        std::fprintf(stderr, "%s\n", server.Missing().c_str());
        return 1;
    }
    const std::string url = server.Url("veltro", "veltro_admin");
    std::string error;
    if (!InitPgSchema(url, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    CPgSerialStore store(url + "&series=bench");
    CPgRecordSink sink(url);
    SerialSpec spec;
    spec.width = 4;
    ProductionRecord record;
    record.host = "bench";
    record.chip = "AT89S52";
    record.fileSha256 = std::string(64, 'a');
    record.hasSerial = true;
    record.series = "bench";
    record.outcome = CycleOutcome::Verified;
    std::vector<double> take, write, both;
    for (int i = 0; i < 400; ++i) {
        const auto start = std::chrono::steady_clock::now();
        uint64_t number = 0;
        if (!store.Prepare(error, nullptr, {}) || !store.Take(spec, number, error, nullptr)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto taken = std::chrono::steady_clock::now();
        record.serial = number;
        record.time = std::chrono::system_clock::now();
        if (!sink.Write(record, error, nullptr)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto written = std::chrono::steady_clock::now();
        take.push_back(Ms(taken - start));
        write.push_back(Ms(written - taken));
        both.push_back(Ms(written - start));
    }
    Print("take a serial number", take);
    Print("write the chip's record", write);
    Print("both, per chip", both);
    return 0;
}
