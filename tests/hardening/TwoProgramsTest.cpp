// Two programs on one programmer, as two users start them: the real veltro51-cli under veltro51-sim,
// the second started while the first is at a given row. The first must run as if alone; the second
// must find the programmer in use, say so, and send it nothing. With a second programmer plugged in,
// the second program uses that one. The pairs run side by side, each on a tree of its own.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "HardeningSupport.h"
#include "sim/SimApi.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const std::string kCli = VELTRO_CLI;
const std::string kSim = VELTRO_SIM_PROGRAM;
constexpr int FLASH = 8192; // AT89S52
constexpr int R_TEST = 11;
constexpr int R_POWER_OFF = 6;
const std::string BUSY_BURN[] = {"[x] No Valid Programmer Detected On System",
                                 "[x] The programmer is in use by another program."};
const std::string BUSY_MESSAGE = "Error : Cannot Find Any Valid Programmer Installed On System\n"
                                 "The programmer is in use by another program.\n";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Pattern(int multiplier, int offset) {
    std::string bytes(FLASH, '\0');
    for (int i = 0; i < FLASH; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>(i * multiplier + offset);
    return bytes;
}

// One program started with its output going to files, in a process group of its own.
class CRun {
public:
    CRun(const std::vector<std::string>& argv, const std::string& folder, const std::string& name)
        : m_out(folder + "/" + name + ".out"), m_err(folder + "/" + name + ".err") {
        // The environment is made here, not in the child: other threads start programs too.
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (text.rfind("USB_DEVFS_PATH=", 0) != 0 && text.rfind("LD_PRELOAD=", 0) != 0 &&
                text.rfind("VELTRO_SIM_", 0) != 0 && text.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
                text.rfind("ASAN_OPTIONS=", 0) != 0)
                env.push_back(text);
        }
        env.push_back("XDG_CONFIG_HOME=" + folder + "/config");
        const char* asan = std::getenv("ASAN_OPTIONS");
        env.push_back("ASAN_OPTIONS=" + (asan != nullptr && *asan ? std::string(asan) + ":" : std::string()) +
                      "verify_asan_link_order=0");
        std::vector<char*> args, envp;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        for (const std::string& entry : env)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&m_pid, args[0], &actions, &attributes, args.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CRun() {
        if (m_pid > 0 && m_status < 0) {
            kill(-m_pid, SIGKILL);
            Wait();
        }
    }

    // Waits until the program's standard output holds text; false when it ended or 60 s passed first.
    bool WaitFor(const std::string& text) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Out().find(text) != std::string::npos)
                return true;
            siginfo_t ended{};
            if (m_pid <= 0 ||
                (waitid(P_PID, static_cast<id_t>(m_pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                 ended.si_pid == m_pid))
                return Out().find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    int Wait() {
        int status = 0;
        if (m_status < 0 && m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status;
    }
    std::string Out() const { return ReadFile(m_out); }
    std::string Err() const { return ReadFile(m_err); }

private:
    std::string m_out, m_err;
    pid_t m_pid = -1;
    int m_status = -1;
};

enum class Kind { Burn, Read, Other };

struct Pair {
    const char* name;
    Kind firstKind;
    std::vector<std::string> first; // veltro51-cli arguments; A.bin, B.bin and OUT are put in below
    const char* trigger;            // the row of the first after which the second starts
    Kind secondKind;
    std::vector<std::string> second;
    int programmers = 1;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// What the pair's programs printed that they should not have; empty when they behaved.
std::vector<std::string> RunPair(const Pair& pair, const std::string& folder) {
    std::vector<std::string> problems;
    auto command = [&](const std::vector<std::string>& args) {
        std::vector<std::string> argv = {kSim, "--tree", folder + "/tree", "--", kCli, "--chip", "AT89S52"};
        for (std::string arg : args) {
            if (arg == "A.bin" || arg == "B.bin" || arg == "first.bin" || arg == "second.bin")
                arg = folder + "/" + arg;
            argv.push_back(arg);
        }
        return argv;
    };
    CRun first(command(pair.first), folder, "first");
    if (!first.WaitFor(pair.trigger)) {
        problems.push_back(std::string("the first never printed '") + pair.trigger + "': " + first.Out() +
                           first.Err());
        return problems;
    }
    CRun second(command(pair.second), folder, "second");
    const int secondStatus = second.Wait();
    const int firstStatus = first.Wait();

    const char* successOf[] = {"Data Verification Success", "Flash Read Success", ""};
    const std::string firstSuccess = successOf[static_cast<int>(pair.firstKind)];
    if (firstStatus != 0 || first.Out().find(firstSuccess) == std::string::npos)
        problems.push_back("the first did not succeed (" + std::to_string(firstStatus) + "): " + first.Out() +
                           first.Err());
    if (pair.programmers > 1) {
        const std::string secondSuccess = successOf[static_cast<int>(pair.secondKind)];
        if (secondStatus != 0 || second.Out().find(secondSuccess) == std::string::npos)
            problems.push_back("the second did not use the free programmer (" + std::to_string(secondStatus) +
                               "): " + second.Out() + second.Err());
        return problems;
    }
    // 3: no usable programmer.
    if (secondStatus != 3)
        problems.push_back("the second exited with " + std::to_string(secondStatus));
    // Every command on a chip reports the burn's rows; Programming Speed, which needs no chip, the
    // dialog's message.
    if (pair.second.front() != "speed") {
        std::vector<std::string> errors;
        for (const std::string& line : Lines(second.Err()))
            errors.push_back(line.size() > 12 ? line.substr(12) : line);
        if (errors != std::vector<std::string>(std::begin(BUSY_BURN), std::end(BUSY_BURN)))
            problems.push_back("the second's errors: " + second.Err());
        if (second.Out().find("[+]") != std::string::npos)
            problems.push_back("the second claims a success: " + second.Out());
    } else {
        if (second.Err() != BUSY_MESSAGE)
            problems.push_back("the second's message: " + second.Err());
        if (second.Out() != "" && second.Out().find("Success") != std::string::npos)
            problems.push_back("the second claims a success: " + second.Out());
    }
    if (fs::exists(folder + "/second.bin"))
        problems.push_back("the second read wrote a file");
    return problems;
}

// Whatever the programs claimed, checked on the device: the chips hold what was verified or read,
// and each device saw one session (one hardware test, PowerOff last), so the second sent nothing.
void CheckDevices(const Pair& pair, const std::string& folder, std::vector<std::string>& problems) {
    sim::CSimBus tree(folder + "/tree");
    const std::string a = ReadFile(folder + "/A.bin"), b = ReadFile(folder + "/B.bin");
    const std::string preset = Pattern(3, 1);
    for (int device = 0; device < pair.programmers; ++device) {
        const sim::DeviceState state = tree.State(device);
        const std::string flash(state.flash.begin(), state.flash.end());
        const Kind kind = device == 0 ? pair.firstKind : pair.secondKind;
        const std::string expected = kind == Kind::Burn ? (device == 0 ? a : b) : preset;
        if (flash != expected)
            problems.push_back("device " + std::to_string(device) +
                               " holds neither the image verified nor the chip's own");
        if (state.lockMode != 1 || state.speedCode != 0)
            problems.push_back("device " + std::to_string(device) + " lock mode or speed changed");
        if (state.powered)
            problems.push_back("device " + std::to_string(device) + " left powered");
        int tests = 0;
        int last = -1;
        for (const sim::TranscriptEntry& entry : tree.VendorTranscript()) {
            if (entry.device != device)
                continue;
            tests += entry.request == R_TEST;
            last = entry.request;
        }
        if (tests != 1 || last != R_POWER_OFF)
            problems.push_back("device " + std::to_string(device) + " saw " + std::to_string(tests) +
                               " sessions, the last request " + std::to_string(last));
    }
    if (pair.firstKind == Kind::Read && ReadFile(folder + "/first.bin") != preset)
        problems.push_back("the first read's file is not the chip");
}

} // namespace

TEST(TwoPrograms, TheSecondOnABusyProgrammerIsRefusedAndTheFirstRunsAsIfAlone) {
    const std::vector<std::string> burnA = {"burn", "A.bin"}, burnB = {"burn", "B.bin"};
    const std::vector<std::string> readFirst = {"read", "first.bin"}, readSecond = {"read", "second.bin"};
    const Pair pairs[] = {
        {"burn, then burn once the programmer is found", Kind::Burn, burnA, "[+] Found:", Kind::Burn, burnB},
        {"burn, then burn while writing", Kind::Burn, burnA, "Burn Process Started", Kind::Burn, burnB},
        {"burn, then read while verifying", Kind::Burn, burnA, "Burn Process Completed Successfully",
         Kind::Read, readSecond},
        {"burn, then info after the erase", Kind::Burn, burnA, "Chip Erased", Kind::Other, {"info"}},
        {"burn, then lock bits while writing",
         Kind::Burn,
         burnA,
         "Burn Process Started",
         Kind::Other,
         {"lock", "--write", "2"}},
        {"burn, then programming speed",
         Kind::Burn,
         burnA,
         "[+] Found:",
         Kind::Other,
         {"speed", "--set", "94"}},
        {"read, then burn", Kind::Read, readFirst, "Reading Flash ...", Kind::Burn, burnB},
        {"read, then read", Kind::Read, readFirst, "Reading Flash ...", Kind::Read, readSecond},
        {"two programmers: burn, then burn", Kind::Burn, burnA, "[+] Found:", Kind::Burn, burnB, 2},
    };
    const size_t count = std::size(pairs);

    // Each pair's tree, made and filled one after another: a bus object is one at a time in a process.
    char pattern[] = "/tmp/veltro-two-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string top = pattern;
    std::vector<std::string> folders;
    for (size_t i = 0; i < count; ++i) {
        const std::string folder = top + "/" + std::to_string(i);
        fs::create_directories(folder + "/config");
        std::ofstream(folder + "/A.bin", std::ios::binary) << Pattern(7, 3);
        std::ofstream(folder + "/B.bin", std::ios::binary) << Pattern(11, 5);
        // Slow transfers (3 ms), so that the first still holds the programmer when the second,
        // after its own waits, comes to it.
        CRun make({kSim, "--tree", folder + "/tree", "--chip", "AT89S52", "--programmers",
                   std::to_string(pairs[i].programmers), "--delay", "3", "--", "/bin/true"},
                  folder, "make");
        ASSERT_EQ(make.Wait(), 0) << make.Err();
        sim::CSimBus tree(folder + "/tree");
        const std::string preset = Pattern(3, 1);
        for (int device = 0; device < pairs[i].programmers; ++device)
            tree.SetFlash(device, std::vector<uint8_t>(preset.begin(), preset.end()));
        folders.push_back(folder);
    }

    std::vector<std::vector<std::string>> problems(count);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < count; ++i)
        workers.emplace_back([&, i] { problems[i] = RunPair(pairs[i], folders[i]); });
    for (std::thread& worker : workers)
        worker.join();

    long passed = 0;
    for (size_t i = 0; i < count; ++i) {
        CheckDevices(pairs[i], folders[i], problems[i]);
        std::string report;
        for (const std::string& problem : problems[i])
            report += "\n  " + problem;
        EXPECT_TRUE(problems[i].empty()) << pairs[i].name << ":" << report;
        passed += problems[i].empty();
    }
    hardening::RecordFigures("two-programs", {{"tried", static_cast<long>(count)}, {"passed", passed}});
    fs::remove_all(top);
}
