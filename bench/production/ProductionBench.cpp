// A production line on one host, against the simulated programmer: what the per-chip extras cost
// (a serial number taken durably, a log line appended and flushed, the image's checksums), and the
// wall time of full AT89S52 burns by the real veltro51-cli on 1, 2, 4 and 8 sockets at once, with the
// throughput of N sockets as a percentage of N times one socket (target: 95 % or more up to 8).
//
// Every burn writes all 8 KiB but the last 16 bytes (left erased for a serial number field). The
// sockets run as one `burn --all`, or with --separate as one veltro51-cli per programmer started
// side by side (--programmer 00k/001), as a shell script would. Each table is run with 1.2 ms per transfer; the second adds a byte-mode chip's
// write time per byte written (--byte-write-us, 410 us: an AT89S52 at 12 MHz), so that its figures
// can be quoted for real chips.
//
//   production_bench [--separate] [--delay MS] [--byte-write-us US,...] [--folder DIR] [-- BURN-ARGS...]
//     --byte-write-us  the tables to run, 0 for none [0,410]
//     --folder         where the serial file and the log of the first part go (the line's disk) [$TMPDIR]
//     BURN-ARGS        added to every burn command (--serial ..., --log ...)
// Exit status 1 when a burn fails.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/Checksum.h"
#include "image/FileIo.h"
#include "ops/ProductionLog.h"
#include "ops/Serial.h"
#include "sim/SimOptions.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Starts a program with its output thrown away; -1 on failure.
pid_t Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed != 0 ? -1 : pid;
}

bool Succeeded(pid_t pid) {
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void MeasureExtras(const std::string& folder) {
    std::printf("Per chip, in %s:\n", folder.c_str());
    const std::string serialFile = folder + "/bench-serial";
    const std::string log = folder + "/bench-production.log";
    std::remove(serialFile.c_str());
    std::remove((serialFile + ".high").c_str()); // the mark of a run before: a fresh series
    std::remove(log.c_str());
    SerialSpec spec;
    spec.width = 4;
    std::vector<double> takes, appends;
    ProductionRecord record;
    record.host = HostName();
    record.filePath = "/srv/firmware/bench.hex";
    record.fileSha256 = std::string(64, '0');
    for (int i = 0; i < 200; ++i) {
        uint64_t number = 0;
        std::string error;
        auto t0 = Clock::now();
        if (!TakeSerialNumber(serialFile, spec, number, error)) {
            std::printf("  serial number: %s\n", error.c_str());
            return;
        }
        takes.push_back(Seconds(Clock::now() - t0) * 1000);
        record.time = std::chrono::system_clock::now();
        record.serial = number;
        record.hasSerial = true;
        t0 = Clock::now();
        if (!AppendProductionLog(log, ProductionLogLine(record), error)) {
            std::printf("  log: %s\n", error.c_str());
            return;
        }
        appends.push_back(Seconds(Clock::now() - t0) * 1000);
    }
    std::printf("  serial number taken (lock, read, durable replace)   %7.3f ms median, %7.3f ms worst\n",
                Median(takes), *std::max_element(takes.begin(), takes.end()));
    std::printf("  log line appended and flushed                       %7.3f ms median, %7.3f ms worst\n",
                Median(appends), *std::max_element(appends.begin(), appends.end()));
    std::remove(serialFile.c_str());
    std::remove((serialFile + ".lock").c_str());
    std::remove((serialFile + ".high").c_str());
    std::remove(log.c_str());

    for (size_t size : {size_t{8192}, size_t{65536}}) {
        std::vector<uint8_t> image(size);
        std::mt19937 random(1);
        for (uint8_t& byte : image)
            byte = static_cast<uint8_t>(random());
        constexpr int ROUNDS = 200;
        volatile unsigned sink = 0; // keeps the work from being optimised away
        const auto t0 = Clock::now();
        for (int i = 0; i < ROUNDS; ++i)
            sink = sink + (Crc32(image.data(), size) ^ Sum16(image.data(), size) ^
                           static_cast<unsigned>(Sha256Hex(image.data(), size)[0]));
        const double ms = Seconds(Clock::now() - t0) * 1000 / ROUNDS;
        std::printf("  SHA-256, CRC-32 and sum of %5zu bytes               %7.3f ms\n", size, ms);
    }
}

// Wall time of one chip on each of the first n programmers of the tree, all at once.
double BurnSockets(const std::string& tree, const std::string& file, int n, bool all,
                   const std::vector<std::string>& extra, bool& ok) {
    std::vector<std::vector<std::string>> commands;
    auto command = [&](std::vector<std::string> cli) {
        std::vector<std::string> args = {VELTRO_SIM_PROGRAM, "--tree", tree,     "--",
                                         VELTRO_CLI,         "--chip", "AT89S52"};
        args.insert(args.end(), cli.begin(), cli.end());
        args.insert(args.end(), extra.begin(), extra.end());
        commands.push_back(args);
    };
    if (all) {
        command({"burn", file, "--all"});
    } else {
        for (int k = 1; k <= n; ++k) {
            char location[16];
            std::snprintf(location, sizeof location, "%03d/001", k);
            command({"--programmer", location, "burn", file});
        }
    }
    const auto t0 = Clock::now();
    std::vector<pid_t> pids;
    for (const auto& args : commands)
        pids.push_back(Spawn(args));
    ok = true;
    for (pid_t pid : pids)
        ok = Succeeded(pid) && ok;
    return Seconds(Clock::now() - t0);
}

bool RunTable(const std::string& file, double delayMs, double byteWriteUs, bool all,
              const std::vector<std::string>& extra) {
    std::printf("\nAT89S52, %.1f ms per transfer%s, %s:\n", delayMs,
                byteWriteUs > 0 ? (", " + std::to_string(static_cast<int>(byteWriteUs)) +
                                   " us per byte written (byte-mode chip's write time)")
                                      .c_str()
                                : ", no write time of the chip",
                all ? "burn --all" : "one veltro51-cli per programmer");
    bool ok = true;
    double one = 0.0;
    for (int n : {1, 2, 4, 8}) {
        // A tree of n programmers for each row, so that --all finds exactly n.
        const std::string tree = sim::detail::MakeTemporaryFolder("veltro-bench-");
        char delay[32], perByte[32], count[8];
        std::snprintf(delay, sizeof delay, "%g", delayMs);
        std::snprintf(perByte, sizeof perByte, "%g", byteWriteUs);
        std::snprintf(count, sizeof count, "%d", n);
        const bool made =
            Succeeded(Spawn({VELTRO_SIM_PROGRAM, "--tree", tree, "--programmers", count, "--chip", "AT89S52",
                             "--delay", delay, "--byte-write-us", perByte, "--", "/bin/true"}));
        bool burned = false;
        const double wall = made ? BurnSockets(tree, file, n, all, extra, burned) : 0.0;
        sim::detail::RemoveTree(tree);
        if (!made || !burned) {
            std::printf("  %d socket%s: a burn failed\n", n, n > 1 ? "s" : "");
            ok = false;
            continue;
        }
        if (n == 1) {
            one = wall;
            std::printf("  1 socket:  %6.2f s\n", wall);
        } else {
            std::printf("  %d sockets: %6.2f s   throughput %5.1f %% of %d x one socket\n", n, wall,
                        one > 0 ? 100.0 * one / wall : 0.0, n);
        }
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    bool all = true;
    double delayMs = 1.2;
    std::vector<double> byteWrites = {0, 410};
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    std::vector<std::string> extra;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--separate") {
            all = false;
        } else if (arg == "--delay" && i + 1 < argc) {
            delayMs = std::atof(argv[++i]);
        } else if (arg == "--byte-write-us" && i + 1 < argc) {
            byteWrites.clear();
            for (char* item = std::strtok(argv[++i], ","); item != nullptr; item = std::strtok(nullptr, ","))
                byteWrites.push_back(std::atof(item));
        } else if (arg == "--folder" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--") {
            extra.assign(argv + i + 1, argv + argc);
            break;
        } else {
            std::fprintf(stderr, "usage: production_bench [--separate] [--delay MS] [--byte-write-us US,...] "
                                 "[--folder DIR] [-- BURN-ARGS...]\n");
            return 2;
        }
    }

    MeasureExtras(folder);

    // Random bytes but the last 16, which stay erased for a serial number field.
    const std::string work = sim::detail::MakeTemporaryFolder("veltro-bench-file-");
    const std::string file = work + "/bench.bin";
    std::string image(8192, '\xFF');
    std::mt19937 random(52);
    for (size_t i = 0; i + 16 < image.size(); ++i)
        image[i] = static_cast<char>(random());
    if (work.empty() || !ReplaceFileContents(file, image)) {
        std::fprintf(stderr, "production_bench: cannot write %s\n", file.c_str());
        return 1;
    }
    bool ok = true;
    for (double us : byteWrites)
        ok = RunTable(file, delayMs, us, all, extra) && ok;
    sim::detail::RemoveTree(work);
    return ok ? 0 : 1;
}
