// Chips per hour of a bench with one operator, rounds (burn --all --more) against watch (burn --all
// --watch), on 1, 4 and 8 sockets, for an operator who needs S seconds to swap the chip of one socket
// and serves the sockets in turn.
//
// The per-chip times are measured, not assumed: real short runs of veltro51-cli under veltro51-sim
// (an AT89S52, 1.2 ms per transfer as a real low-speed USB device): the wall time of a round of
// burn --all on one socket, and in a real watch the time from a chip's insertion (veltro51-sim socket)
// to its "verified" line, which holds the poll's detection too. The schedules of N sockets are then
// computed from them (a round of N sockets takes as long as one: production_bench measures 99 % and
// more of N times one socket's throughput); running 8 sockets for an hour would take an hour.
//
//   watch_bench [S ...]     default: 3 and 1 seconds

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kCli = VELTRO_CLI;
const std::string kSim = VELTRO_SIM_PROGRAM;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs argv to its end, its output thrown away; the exit status.
int Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A watch under the simulator, its standard output read line by line.
class CWatch {
public:
    CWatch(const std::string& tree, const std::string& firmware) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            setpgid(0, 0);
            dup2(out[1], STDOUT_FILENO);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            execl(kSim.c_str(), kSim.c_str(), "--tree", tree.c_str(), "--programmers", "1", "--chip", "none",
                  "--delay", "1.2", "--", kCli.c_str(), "burn", firmware.c_str(), "--all", "--watch",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        setpgid(m_pid, m_pid);
        close(out[1]);
        m_out = out[0];
    }
    ~CWatch() {
        if (m_pid > 0) {
            kill(-m_pid, SIGINT);
            int status = 0;
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (m_out >= 0)
            close(m_out);
    }
    // Reads until a line holds text; false at the end of the output or after 120 s.
    bool WaitFor(const std::string& text) {
        const auto end = Clock::now() + std::chrono::seconds(120);
        for (;;) {
            const size_t found = m_text.find(text);
            if (found != std::string::npos) {
                m_text.erase(0, found + text.size());
                return true;
            }
            if (Clock::now() > end)
                return false;
            pollfd ready{m_out, POLLIN, 0};
            if (poll(&ready, 1, 1000) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(m_out, buffer, sizeof buffer);
            if (got <= 0)
                return false;
            m_text.append(buffer, static_cast<size_t>(got));
        }
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_text;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Rounds: every socket burns at once (one round lasts round seconds), then the operator swaps the N
// chips one after the other and starts the next round.
double RoundsPerHour(int sockets, double round, double swap) {
    return 3600.0 * sockets / (round + sockets * swap);
}

// Watch: the operator walks from socket to socket; at each he waits until its chip is done, swaps it
// (swap seconds), and the socket burns the new chip (chip seconds from the insertion, detection
// included) while he serves the others. Scheduled chip by chip over ten hours, from empty sockets.
double WatchPerHour(int sockets, double chip, double swap) {
    std::vector<double> ready(static_cast<size_t>(sockets), 0.0); // when each socket's chip is done
    double now = 0;
    long chips = 0;
    const double end = 36000;
    for (size_t k = 0;; k = (k + 1) % ready.size()) {
        now = std::max(now, ready[k]) + swap;
        if (now + chip > end)
            break;
        ready[k] = now + chip;
        ++chips;
    }
    return chips / 10.0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<double> swaps;
    for (int k = 1; k < argc; ++k)
        swaps.push_back(std::atof(argv[k]));
    if (swaps.empty())
        swaps = {3.0, 1.0};

    const fs::path folder = fs::temp_directory_path() / ("veltro-watch-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string firmware = (folder / "firmware.bin").string();
    std::ofstream(firmware, std::ios::binary) << std::string(8192, '\x5A'); // every block written
    const std::string tree = (folder / "tree").string();

    // A round of burn --all on one socket: starting its worker, the burn, the summary.
    std::vector<double> rounds;
    for (int k = 0; k < 3; ++k) {
        const auto start = Clock::now();
        const int status = Run({kSim, "--chip", "AT89S52", "--delay", "1.2", "--", kCli, "burn", firmware,
                                "--all", "--quiet"});
        rounds.push_back(Since(start));
        if (status != 0) {
            std::fprintf(stderr, "watch_bench: burn --all failed with status %d\n", status);
            return 1;
        }
    }
    const double round = Median(rounds);

    // A real watch: insertion to "verified", three chips.
    std::vector<double> chips;
    {
        CWatch watch(tree, firmware);
        if (!watch.WaitFor("Waiting For a Chip")) {
            std::fprintf(stderr, "watch_bench: the watch did not start\n");
            return 1;
        }
        for (int k = 1; k <= 3; ++k) {
            const auto start = Clock::now();
            Run({kSim, "socket", "--tree", tree, "--programmer", "1", "insert", "AT89S52"});
            if (!watch.WaitFor("chip " + std::to_string(k) + "  verified")) {
                std::fprintf(stderr, "watch_bench: chip %d was not verified\n", k);
                return 1;
            }
            chips.push_back(Since(start));
            Run({kSim, "socket", "--tree", tree, "--programmer", "1", "remove"});
            if (!watch.WaitFor("Chip Removed")) {
                std::fprintf(stderr, "watch_bench: the removal was not seen\n");
                return 1;
            }
        }
    }
    const double chip = Median(chips);
    fs::remove_all(folder);

    std::printf("Measured against veltro51-sim (AT89S52, 8 KiB, 1.2 ms per transfer), median of 3:\n");
    std::printf("  a round of burn --all, one socket:           %.2f s\n", round);
    std::printf("  watch, a chip's insertion to its verified:   %.2f s (the poll's detection included)\n", chip);
    std::printf("Computed schedules (an operator who swaps one socket's chip in S s, sockets in turn):\n\n");
    std::printf("| S | sockets | rounds, chips/h | watch, chips/h | watch / rounds |\n");
    std::printf("|---|---|---|---|---|\n");
    for (double swap : swaps)
        for (int sockets : {1, 4, 8}) {
            const double r = RoundsPerHour(sockets, round, swap);
            const double w = WatchPerHour(sockets, chip, swap);
            std::printf("| %.0f s | %d | %.0f | %.0f | %+.0f %% |\n", swap, sockets, r, w, 100.0 * (w / r - 1));
        }
    return 0;
}
