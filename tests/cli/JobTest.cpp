// Job files through the real veltro51-cli, under veltro51-sim with a kept device tree: a job written
// from a burn's command line burns as that line, a firmware of another SHA-256 or a bad job file never
// reaches the programmer, and an option that contradicts the job is refused.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs argv with a clean simulator environment and the settings folder given; stdin is empty.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& configHome) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        unsetenv("USB_DEVFS_PATH");
        unsetenv("LD_PRELOAD");
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv(
            "ASAN_OPTIONS",
            ((asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") + "verify_asan_link_order=0")
                .c_str(),
            1);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    RunResult result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    for (int open = 2; open > 0;) {
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
            (k == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
        }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Sha256Of(const std::string& bytes) {
    return Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// A small firmware in Intel HEX: 16 bytes at 0.
const std::string kFirmwareHex = ":10000000020030758108D2AFD2A8C2B580FE22FFAF\n"
                                 ":00000001FF\n";

class JobTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltro-job-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        fs::create_directory(Path("line"));
        WriteFile(Path("line/blink.hex"), kFirmwareHex);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string Path(const std::string& name) const { return m_folder + "/" + name; }

    // veltro51-cli ARGS under veltro51-sim with the tree given (one AT89S52 programmer unless
    // simOptions say otherwise).
    RunResult Cli(const std::string& tree, const std::vector<std::string>& args,
                  const std::vector<std::string>& simOptions = {"--chip", "AT89S52"}) const {
        std::vector<std::string> argv = {kSim, "--tree", tree};
        argv.insert(argv.end(), simOptions.begin(), simOptions.end());
        argv.push_back("--");
        argv.push_back(kCli);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, Path("config"));
    }
    RunResult Offline(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, Path("config"));
    }

    // A job for line/blink.hex with its true SHA-256 and the lines given after it.
    std::string WriteJob(const std::string& rest, const std::string& name = "line/job.toml") const {
        WriteFile(Path(name),
                  "firmware = \"blink.hex\"\nsha256 = \"" + Sha256Of(kFirmwareHex) + "\"\n" + rest);
        return Path(name);
    }

    std::string m_folder;
};

// The job a burn's command line describes, run from elsewhere after its folder moved, gives the chip,
// the serial number, the lock and the log line that the command line itself gives.
TEST_F(JobTest, AJobWrittenFromABurnLineBurnsAsThatLine) {
    const std::vector<std::string> line = {Path("line/blink.hex"),
                                           "--lock",
                                           "2",
                                           "--serial",
                                           "0x1FF0,500,1,be2",
                                           "--serial-file",
                                           Path("line/serial.txt"),
                                           "--log",
                                           Path("line/production.log")};
    auto with = [&](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), line.begin(), line.end());
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const std::vector<std::string> jobArgs =
        with({"--chip", "AT89S52", "job", Path("line/job.toml"), "burn"}, {});
    const RunResult written = Offline(jobArgs);
    ASSERT_EQ(written.status, 0) << written.err;
    const std::string job = ReadFile(Path("line/job.toml"));
    // Files in the job's folder are named relative to it, and the firmware's hash is the file's.
    EXPECT_NE(job.find("firmware = 'blink.hex'"), std::string::npos) << job;
    EXPECT_NE(job.find(Sha256Of(kFirmwareHex)), std::string::npos) << job;
    EXPECT_NE(job.find("serial_store = 'serial.txt'"), std::string::npos) << job;
    EXPECT_NE(job.find("lock = 2"), std::string::npos) << job;
    // A job is never written over a file of its line.
    const RunResult over = Offline({"job", Path("line/blink.hex"), "burn", Path("line/blink.hex")});
    EXPECT_EQ(over.status, 2) << over.err;
    EXPECT_EQ(ReadFile(Path("line/blink.hex")), kFirmwareHex);
    // Nor over another firmware (the operands swapped or mistyped), nor a file called '-'.
    WriteFile(Path("line/other.bin"), "\x02\x00\x30");
    const RunResult overFirmware = Offline({"job", Path("line/other.bin"), "burn", Path("line/blink.hex")});
    EXPECT_EQ(overFirmware.status, 2) << overFirmware.err;
    EXPECT_EQ(ReadFile(Path("line/other.bin")), "\x02\x00\x30");
    fs::remove("-"); // one a build without the refusal left in the working directory
    const RunResult dash = Offline({"job", "-", "burn", Path("line/blink.hex")});
    EXPECT_EQ(dash.status, 2) << dash.err;
    EXPECT_EQ(dash.out, "");
    EXPECT_FALSE(fs::exists("-"));

    // The job, moved with its folder and run from elsewhere, burns as the line would: the file, the
    // serial number of a fresh serial file at its place, the lock, the log line.
    fs::rename(Path("line"), Path("moved"));
    const RunResult run = Cli(Path("tree"), {"run", Path("moved/job.toml"), "--quiet"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "001/001  chip 1  verified  AT89S52  serial 500");

    std::vector<uint8_t> expected(8192, 0xFF);
    const uint8_t head[] = {0x02, 0x00, 0x30, 0x75, 0x81, 0x08, 0xD2, 0xAF,
                            0xD2, 0xA8, 0xC2, 0xB5, 0x80, 0xFE, 0x22, 0xFF};
    std::copy(std::begin(head), std::end(head), expected.begin());
    expected[0x1FF0] = 0x01; // 500, big-endian
    expected[0x1FF1] = 0xF4;
    sim::CSimBus b(Path("tree"));
    EXPECT_EQ(b.State(0).flash, expected);
    EXPECT_EQ(b.State(0).lockMode, 2);
    EXPECT_NE(ReadFile(Path("moved/serial.txt")).find("next=501"), std::string::npos);
    EXPECT_NE(ReadFile(Path("moved/production.log")).find("\"serial\":500"), std::string::npos)
        << "the log is the job folder's, not the working directory's";
}

// A firmware file that is not the one the job pins is refused before any request reaches a
// programmer, alone or on the whole bench, and the message names both hashes.
TEST_F(JobTest, AFirmwareOfAnotherHashIsRefusedBeforeAnyRequest) {
    for (const std::string sockets : {"", "sockets = \"all\"\n"}) {
        SCOPED_TRACE(sockets);
        const std::string job = WriteJob("chip = \"AT89S52\"\n" + sockets);
        const std::string changed = kFirmwareHex + ":0100100042AD\n";
        WriteFile(Path("line/blink.hex"), changed);
        const std::string tree = Path(sockets.empty() ? "tree-one" : "tree-all");
        const RunResult run = Cli(tree, {"run", job}, {"--chip", "AT89S52", "--programmers", "2"});
        WriteFile(Path("line/blink.hex"), kFirmwareHex);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_NE(run.err.find("Firmware Refused : SHA-256 of " + Path("line/blink.hex") + " is " +
                               Sha256Of(changed) + ", " + Sha256Of(kFirmwareHex) + " expected"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("Erasing"), std::string::npos) << run.out;
        sim::CSimBus bus(tree);
        EXPECT_TRUE(bus.Transcript().empty()) << "a programmer was touched";
    }
}

// Each mistake in a job file is named with its file and line, and nothing else is done.
TEST_F(JobTest, AJobFileThatIsWrongNamesTheLine) {
    const std::string sha = Sha256Of(kFirmwareHex);
    const std::string head = "firmware = \"blink.hex\"\nsha256 = \"" + sha + "\"\n";
    struct Case {
        const char* what;
        std::string text;
        int line;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"unknown key", head + "chip = \"AT89S52\"\nchips = \"AT89S51\"\n", 4, "unknown key 'chips'"},
        {"unknown table", head + "[line]\nmode = \"rounds\"\n", 3, "unknown key 'line'"},
        {"wrong type", head + "lock = \"2\"\n", 3, "lock wants a lock mode"},
        {"lock out of range", head + "\nlock = 5\n", 4, "lock wants a lock mode"},
        {"missing sha256", "# line 3\nfirmware = \"blink.hex\"\nmode = \"rounds\"\n", 3,
         "missing key 'sha256'"},
        {"missing firmware", "sha256 = \"" + sha + "\"\n", 1, "missing key 'firmware'"},
        {"bad mode", head + "mode = \"fast\"\n", 3, "mode wants \"rounds\" or \"watch\", not 'fast'"},
        {"bad sockets word", head + "sockets = \"every\"\n", 3, "sockets wants \"all\" or a list"},
        {"bad socket in a list", head + "sockets = [\n  \"001/001\",\n  \"1-2\",\n]\n", 5, "sockets wants"},
        {"socket twice", head + "sockets = [\"1/1\", \"001/001\"]\n", 3, "sockets names 001/001 twice"},
        {"sha256 too short", "firmware = \"blink.hex\"\nsha256 = \"" + sha.substr(1) + "\"\n", 2,
         "sha256 wants the firmware file's SHA-256 as 64 hexadecimal digits"},
        {"sha256 not hex", "firmware = \"blink.hex\"\nsha256 = \"" + std::string(63, 'a') + "g\"\n", 2,
         "sha256 wants"},
        {"firmware of no known kind", "firmware = \"blink.txt\"\nsha256 = \"" + sha + "\"\n", 1,
         "is neither Intel HEX"},
        {"unknown chip", head + "chip = \"AT89C51\"\n", 3, "unknown chip 'AT89C51'"},
        {"bad serial", head + "serial = \"0x1FF0,1,0\"\nserial_store = \"s.txt\"\n", 3,
         "serial '0x1FF0,1,0': "},
        {"serial without store", head + "serial = \"0x1FF0\"\n", 3, "serial and serial_store go together"},
        {"not TOML", head + "lock = \n", 3, ""},
        {"a key twice", head + "lock = 1\nlock = 2\n", 4, ""},
        // The file opened would be blink.hex, the log another file than the job names.
        {"NUL in a path", head + "log = \"line.log\\u0000.old\"\n", 3, "log holds a NUL character"},
        {"NUL in firmware", "firmware = \"blink.hex\\u0000x.hex\"\nsha256 = \"" + sha + "\"\n", 1,
         "firmware holds a NUL character"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(Path("line/job.toml"), c.text);
        const RunResult run = Offline({"run", Path("line/job.toml")});
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.out, "");
        const std::string prefix =
            "veltro51-cli: " + Path("line/job.toml") + ":" + std::to_string(c.line) + ": ";
        EXPECT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
    }
    const RunResult missing = Offline({"run", Path("line/none.toml")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "veltro51-cli: " + Path("line/none.toml") +
                               ": cannot read the job: No such file or directory\n");
}

// An option beside run may repeat what the job says; one that says anything else, also about a key
// the job leaves out, is refused before a programmer is touched.
TEST_F(JobTest, AnOptionThatContradictsTheJobIsRefused) {
    const std::string job = WriteJob("chip = \"AT89S52\"\nlock = 2\nsockets = [\"1/1\"]\n");
    struct Case {
        std::vector<std::string> options;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{"--lock", "3"}, "option --lock 3 contradicts the job, which says lock = 2"},
        {{"--chip", "AT89S51"}, "option --chip AT89S51 contradicts the job, which says chip = \"AT89S52\""},
        {{"--all"}, "option --all contradicts the job, which says sockets = [\"001/001\"]"},
        {{"--programmer", "1/2"}, "option --programmer 001/002 contradicts the job"},
        {{"--log", Path("other.log")}, "which says no log"},
        {{"--serial", "0x1FF0", "--serial-file", Path("s.txt")}, "which says no serial number"},
        {{"--watch"}, "option --watch contradicts the job, which says mode = \"rounds\""},
        {{"--sha256", std::string(64, '0')}, "option --sha256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::string> args = {"run", job};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const RunResult run = Cli(Path("tree"), args);
        EXPECT_EQ(run.status, 2) << run.out << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_TRUE(sim::CSimBus(Path("tree")).Transcript().empty()) << "a programmer was touched";
    }
    // What the job says, in other words, is no contradiction.
    const RunResult same = Cli(
        Path("tree"), {"--chip", "at89s52", "--programmer", "001/1", "run", job, "--lock", "2", "--quiet"});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out.substr(0, same.out.find('\n')), "001/001  chip 1  verified  AT89S52");
    EXPECT_EQ(sim::CSimBus(Path("tree")).State(0).lockMode, 2);
}

} // namespace
