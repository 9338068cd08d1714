// burn --all --watch as an operator runs it: the real program under veltro51-sim, and the test as the
// operator, inserting and removing chips (veltro51-sim socket) while it runs. Each socket must burn
// each chip once, wait for its removal, pass over a chip it cannot burn, find an unplugged programmer
// again, and end on Ctrl+C with every target off and PowerOff its last request.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/Checksum.h"
#include "sim/SimApi.h"

namespace fs = std::filesystem;

namespace {

const std::string kCli = VELTRO_CLI;
const std::string kSim = VELTRO_SIM_PROGRAM;
constexpr int kWaitMs = 60000; // for any one thing to show; a burn takes about 4 s

// A program that runs while the test acts: its output collected by a thread of its own.
class CRunning {
public:
    explicit CRunning(const std::vector<std::string>& argv, const std::string& configHome) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            setpgid(0, 0);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            const int null = open("/dev/null", O_RDONLY);
            dup2(null, STDIN_FILENO);
            unsetenv("USB_DEVFS_PATH");
            unsetenv("LD_PRELOAD");
            setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
            const char* asan = std::getenv("ASAN_OPTIONS");
            setenv("ASAN_OPTIONS",
                   ((asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
                    "verify_asan_link_order=0")
                       .c_str(),
                   1);
            std::vector<char*> args;
            for (const std::string& arg : argv)
                args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        setpgid(m_pid, m_pid);
        close(out[1]);
        close(err[1]);
        m_reader = std::thread([this, o = out[0], e = err[0]] { Read(o, e); });
    }
    ~CRunning() {
        if (!m_reaped && m_pid > 0) {
            kill(-m_pid, SIGKILL);
            Wait();
        }
    }

    // Waits until the output (standard output and error together) matches pattern; false on time-out.
    bool WaitFor(const std::string& pattern, int ms = kWaitMs) {
        const std::regex expression(pattern);
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            if (std::regex_search(All(), expression))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    // Ctrl+C, as a terminal sends it to the whole job.
    void Interrupt() { kill(-m_pid, SIGINT); }
    int Wait() {
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
        if (m_reader.joinable())
            m_reader.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Out() {
        std::lock_guard lock(m_mutex);
        return m_out;
    }
    std::string Err() {
        std::lock_guard lock(m_mutex);
        return m_err;
    }
    std::string All() {
        std::lock_guard lock(m_mutex);
        return m_out + m_err;
    }

private:
    void Read(int out, int err) {
        pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
        int open = 2;
        while (open > 0) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            for (int k = 0; k < 2; ++k) {
                if (fds[k].fd < 0 || fds[k].revents == 0)
                    continue;
                char buffer[4096];
                const ssize_t got = read(fds[k].fd, buffer, sizeof buffer);
                if (got <= 0) {
                    close(fds[k].fd);
                    fds[k].fd = -1;
                    --open;
                    continue;
                }
                std::lock_guard lock(m_mutex);
                (k == 0 ? m_out : m_err).append(buffer, static_cast<size_t>(got));
            }
        }
    }

    pid_t m_pid = -1;
    bool m_reaped = false;
    std::thread m_reader;
    std::mutex m_mutex;
    std::string m_out, m_err;
};

size_t Count(const std::string& text, const std::string& pattern) {
    const std::regex expression(pattern);
    return static_cast<size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), expression), std::sregex_iterator()));
}

class WatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltro-watch-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_tree = m_folder + "/tree";
        std::ofstream(Path("firmware.bin"), std::ios::binary) << std::string(40, '\x42');
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string Path(const std::string& name) const { return m_folder + "/" + name; }

    // The bench under the simulator, its sockets empty at the start.
    std::unique_ptr<CRunning> Start(int programmers, const std::vector<std::string>& args,
                                    const std::vector<std::string>& simOptions = {}) const {
        std::vector<std::string> argv = {
            kSim, "--tree", m_tree, "--programmers", std::to_string(programmers), "--chip", "none"};
        argv.insert(argv.end(), simOptions.begin(), simOptions.end());
        argv.push_back("--");
        argv.push_back(kCli);
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<CRunning>(argv, m_folder + "/config");
    }
    // The operator: veltro51-sim socket --programmer K ...
    void Socket(int programmer, const std::vector<std::string>& operation) const {
        std::vector<std::string> argv = {kSim,   "socket",       "--tree",
                                         m_tree, "--programmer", std::to_string(programmer)};
        argv.insert(argv.end(), operation.begin(), operation.end());
        CRunning run(argv, m_folder + "/config");
        ASSERT_EQ(run.Wait(), 0) << run.Err();
    }
    long Erases(int device) const {
        long erases = 0;
        for (const sim::TranscriptEntry& e : sim::CSimBus(m_tree).VendorTranscript())
            erases += e.device == device && e.request == 10;
        return erases;
    }
    // Every target off, and PowerOff the last request each programmer got.
    void ExpectSafelyOff(int devices) const {
        sim::CSimBus tree(m_tree);
        const std::vector<sim::TranscriptEntry> requests = tree.VendorTranscript();
        for (int device = 0; device < devices; ++device) {
            EXPECT_FALSE(tree.State(device).powered) << device;
            int last = -1;
            for (const sim::TranscriptEntry& e : requests)
                if (e.device == device)
                    last = e.request;
            EXPECT_EQ(last, 6) << "PowerOff last on programmer " << device;
        }
    }
    // Lets a few polls pass: a chip burned twice would show by then.
    static void FewPolls() { std::this_thread::sleep_for(std::chrono::milliseconds(2500)); }

    std::string m_folder;
    std::string m_tree;
};

// Three sockets, chips inserted at different times: each burned once; one taken out and put back is
// burned again; Ctrl+C ends the watch with the summary of every chip.
TEST_F(WatchTest, EachChipIsBurnedOnceAndAgainOnlyAfterItsRemoval) {
    auto bench = Start(3, {"burn", Path("firmware.bin"), "--all", "--watch"});
    ASSERT_TRUE(bench->WaitFor("003/001  \\[i\\] Waiting For a Chip")) << bench->All();
    Socket(2, {"insert", "AT89S52"});
    ASSERT_TRUE(bench->WaitFor("002/001  chip 1  verified  AT89S52")) << bench->All();
    Socket(1, {"insert", "AT89S51"});
    Socket(3, {"insert", "AT89S8253"});
    ASSERT_TRUE(bench->WaitFor("001/001  chip 1  verified  AT89S51")) << bench->All();
    ASSERT_TRUE(bench->WaitFor("003/001  chip 1  verified  AT89S8253")) << bench->All();
    FewPolls();
    EXPECT_EQ(Erases(0), 1);
    EXPECT_EQ(Erases(1), 1) << "a chip left in its socket is not burned again";
    EXPECT_EQ(Erases(2), 1);

    Socket(2, {"remove"});
    ASSERT_TRUE(bench->WaitFor("002/001  \\[\\+\\] Chip Removed")) << bench->All();
    Socket(2, {"insert", "AT89S52"});
    ASSERT_TRUE(bench->WaitFor("002/001  chip 2  verified  AT89S52")) << bench->All();
    EXPECT_EQ(Erases(1), 2);

    bench->Interrupt();
    EXPECT_EQ(bench->Wait(), 130) << bench->All();
    const std::string out = bench->Out();
    EXPECT_EQ(Count(out, "\n00[123]/001  AT89S[0-9]+ +verified "), 4u) << out;
    EXPECT_NE(out.find("Chips verified : 4 of 4"), std::string::npos) << out;
    ExpectSafelyOff(3);
}

// A chip that cannot be burned (the wrong one, an unknown signature) is told once, erased never, and
// waits for its removal while the other socket goes on; the right chip in its place is burned.
TEST_F(WatchTest, AChipThatCannotBeBurnedIsToldOnceAndPassedOver) {
    const struct {
        const char* what;
        std::vector<std::string> chipOption;
        std::vector<std::string> insert; // into socket 1
        const char* row;                 // told once
    } cases[] = {
        {"the wrong chip", {"--chip", "AT89S52"}, {"insert", "AT89S51"}, "Wrong Chip"},
        {"an unknown signature", {}, {"insert", "AT89S52", "--signature", "1E9906"}, "Unknown Signature"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_tree);
        // With serial numbers: a refused chip keeps no lock of the serial file from the other socket.
        std::vector<std::string> args = c.chipOption;
        for (const std::string& arg : {std::string("burn"), Path("firmware.bin"), std::string("--all"),
                                       std::string("--watch"), std::string("--serial"), std::string("0x100"),
                                       std::string("--serial-file"), Path("serial.txt")})
            args.push_back(arg);
        auto bench = Start(2, args);
        ASSERT_TRUE(bench->WaitFor("002/001  \\[i\\] Waiting For a Chip")) << bench->All();
        Socket(1, c.insert);
        Socket(2, {"insert", "AT89S52"});
        ASSERT_TRUE(bench->WaitFor("002/001  chip 1  verified")) << bench->All();
        ASSERT_TRUE(bench->WaitFor(std::string("001/001  chip 1  failed  .*") + c.row)) << bench->All();
        FewPolls();
        EXPECT_EQ(Count(bench->Err(), std::string("001/001  \\[x\\] ") + c.row), 1u) << bench->Err();
        EXPECT_EQ(Erases(0), 0);

        Socket(1, {"remove"});
        ASSERT_TRUE(bench->WaitFor("001/001  \\[\\+\\] Chip Removed")) << bench->All();
        Socket(1, {"insert", "AT89S52"});
        ASSERT_TRUE(bench->WaitFor("001/001  chip 2  verified")) << bench->All();
        bench->Interrupt();
        EXPECT_EQ(bench->Wait(), 130);
        EXPECT_NE(bench->Out().find("Chips verified : 2 of 3"), std::string::npos) << bench->Out();
        ExpectSafelyOff(2);
    }
}

// Ctrl+C while a chip is being written: that socket aborts as the burn aborts, the idle one ends its
// poll; every target is off, PowerOff last, and the summary is printed.
TEST_F(WatchTest, CtrlCInTheMiddleOfABurnEndsEverySocketSafely) {
    auto bench = Start(2, {"burn", Path("firmware.bin"), "--all", "--watch"}, {"--delay", "3"});
    ASSERT_TRUE(bench->WaitFor("002/001  \\[i\\] Waiting For a Chip")) << bench->All();
    Socket(1, {"insert", "AT89S52"});
    ASSERT_TRUE(bench->WaitFor("001/001  \\[\\+\\] Burn Process Completed Successfully")) << bench->All();
    bench->Interrupt();
    EXPECT_EQ(bench->Wait(), 130) << bench->All();
    EXPECT_EQ(bench->All().find("Data Verification Success"), std::string::npos) << bench->All();
    EXPECT_EQ(Count(bench->Err(), "00[12]/001  \\[x\\] Aborted By User"), 2u) << bench->Err();
    EXPECT_TRUE(std::regex_search(bench->Out(), std::regex("\n001/001  AT89S52 +aborted "))) << bench->Out();
    ExpectSafelyOff(2);
}

// A programmer unplugged and plugged in again is found again with a new worker, which does not burn
// the chip that was burned before; one plugged in while the bench runs is picked up.
TEST_F(WatchTest, AProgrammerUnpluggedAndPluggedInAgainIsFoundAgain) {
    std::unique_ptr<CRunning> bench;
    {
        // Programmer 2 is off the bus when the bench starts.
        auto made = Start(2, {"--version"});
        ASSERT_EQ(made->Wait(), 0);
        Socket(2, {"unplug"});
    }
    bench = Start(2, {"burn", Path("firmware.bin"), "--all", "--watch"});
    ASSERT_TRUE(bench->WaitFor("001/001  \\[i\\] Waiting For a Chip")) << bench->All();
    Socket(2, {"plug"});
    ASSERT_TRUE(bench->WaitFor("002/001  \\[i\\] Waiting For a Chip")) << bench->All();

    Socket(1, {"insert", "AT89S52"});
    ASSERT_TRUE(bench->WaitFor("001/001  chip 1  verified")) << bench->All();
    Socket(1, {"unplug"});
    ASSERT_TRUE(bench->WaitFor("001/001  Programmer gone")) << bench->All();
    Socket(1, {"plug"});
    ASSERT_TRUE(bench->WaitFor("001/001  Programmer found")) << bench->All();
    FewPolls();
    EXPECT_EQ(Erases(0), 1) << "the chip burned before the unplug was burned again";
    Socket(1, {"remove"});
    ASSERT_TRUE(bench->WaitFor("001/001  \\[\\+\\] Chip Removed")) << bench->All();
    Socket(1, {"insert", "AT89S51"});
    ASSERT_TRUE(bench->WaitFor("001/001  chip [0-9]+  verified  AT89S51")) << bench->All();
    bench->Interrupt();
    EXPECT_EQ(bench->Wait(), 130);
    ExpectSafelyOff(2);
}

// A job in watch mode with a list of sockets watches those programmers only.
TEST_F(WatchTest, AJobWatchesTheSocketsItLists) {
    std::ifstream file(Path("firmware.bin"), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string sha = Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::ofstream(Path("line.toml")) << "firmware = \"firmware.bin\"\nsha256 = \"" << sha
                                     << "\"\nsockets = [\"001/001\", \"003/001\"]\nmode = \"watch\"\n";
    // Without sockets there is nothing to watch: refused before a programmer is touched.
    std::ofstream(Path("nowhere.toml"))
        << "firmware = \"firmware.bin\"\nsha256 = \"" << sha << "\"\nmode = \"watch\"\n";
    auto refused = Start(1, {"run", Path("nowhere.toml")});
    EXPECT_EQ(refused->Wait(), 2);
    EXPECT_NE(refused->Err().find("give sockets = \"all\" or a list"), std::string::npos) << refused->Err();
    EXPECT_TRUE(sim::CSimBus(m_tree).VendorTranscript().empty());
    fs::remove_all(m_tree);

    auto bench = Start(3, {"run", Path("line.toml")});
    ASSERT_TRUE(bench->WaitFor("003/001  \\[i\\] Waiting For a Chip")) << bench->All();
    for (int programmer : {1, 2, 3})
        Socket(programmer, {"insert", "AT89S52"});
    ASSERT_TRUE(bench->WaitFor("001/001  chip 1  verified")) << bench->All();
    ASSERT_TRUE(bench->WaitFor("003/001  chip 1  verified")) << bench->All();
    bench->Interrupt();
    EXPECT_EQ(bench->Wait(), 130);
    EXPECT_EQ(bench->All().find("002/001"), std::string::npos) << bench->All();
    EXPECT_EQ(Erases(1), 0);
}

} // namespace
