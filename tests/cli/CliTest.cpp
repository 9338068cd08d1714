// veltro51-cli as a user runs it: the real program, under veltro51-sim with a kept device tree, so
// that one simulated chip passes from command to command and the test can look at it afterwards.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Version.h"
#include "chips/Settings.h"
#include "image/FirmwareBuffer.h"
#include "image/IntelHex.h"
#include "image/Checksum.h"
#include "chips/ChipCatalogue.h"
#include "ops/Texts.h"
#include "ops/Texts.h"
#include "sim/SimApi.h"

namespace fs = std::filesystem;

namespace {

const std::string kCli = VELTRO_CLI;
const std::string kSim = VELTRO_SIM_PROGRAM;

struct RunResult {
    int status = -1; // exit status, or 128 + signal
    int signal = 0;  // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;
};

// Called with the output so far whenever more arrived; returns true once it has acted (it is then
// not called again). pid is the process group of the run.
using Watcher = std::function<bool(pid_t group, const std::string& out, const std::string& err)>;

// Runs in the child just before exec (limits, alarms): async-signal-safe calls only.
using BeforeExec = std::function<void()>;

// Runs argv in a process group of its own, as a terminal runs a job, with a clean simulator
// environment and the settings folder given; feeds input to its standard input.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& configHome,
                     const std::string& input = "", const Watcher& watcher = {},
                     const BeforeExec& beforeExec = {}) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        unsetenv("USB_DEVFS_PATH");
        unsetenv("LD_PRELOAD");
        for (const char* name :
             {"CHIP", "PROGRAMMERS", "PRODUCT", "IDENTITY", "STRING_UNREADABLE", "ACCESS_DENIED", "FAIL_AT",
              "FAIL_COUNT", "FAIL_KIND", "INSTANT_TIMEOUTS", "DELAY_MS", "SPEED", "LOCK"})
            unsetenv((std::string("VELTRO_SIM_") + name).c_str());
        setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        // A sanitized program refuses a preloaded library unless its runtime comes first; it still works.
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
        if (beforeExec)
            beforeExec();
        execv(args[0], args.data());
        _exit(127);
    }
    setpgid(child, child); // either side may win the race; both set the same group
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
        ADD_FAILURE() << "cannot feed the program";
    close(in[1]);

    RunResult result;
    bool watching = static_cast<bool>(watcher);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
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
            (k == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
        }
        if (watching && watcher(child, result.out, result.err))
            watching = false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
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

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A firmware file in the Intel HEX of a build tool: records of several lengths, not on row bounds,
// one of them in the last row of an AT89S52, and the image it stands for.
const std::string kFirmwareHex = ":10000000020030758108D2AFD2A8C2B580FE22FFAF\r\n"
                                 ":0400100001020304E2\r\n"
                                 ":031FFD00A5A55A3D\r\n"
                                 ":00000001FF\r\n";
std::string FirmwareImage(int size) {
    std::string image(static_cast<size_t>(size), '\xFF');
    const unsigned char head[] = {0x02, 0x00, 0x30, 0x75, 0x81, 0x08, 0xD2, 0xAF, 0xD2, 0xA8,
                                  0xC2, 0xB5, 0x80, 0xFE, 0x22, 0xFF, 0x01, 0x02, 0x03, 0x04};
    image.replace(0, sizeof head, reinterpret_cast<const char*>(head), sizeof head);
    image.replace(0x1FFD, 3, "\xA5\xA5\x5A");
    return image;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltro-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_config = m_folder + "/config";
        m_tree = m_folder + "/tree";
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string Path(const std::string& name) const { return m_folder + "/" + name; }

    // veltro51-cli ARGS under veltro51-sim with the kept tree; simulator options first.
    RunResult Cli(const std::vector<std::string>& simOptions, const std::vector<std::string>& args,
                  const std::string& input = "", const Watcher& watcher = {},
                  const BeforeExec& beforeExec = {}) const {
        std::vector<std::string> argv = {kSim, "--tree", m_tree};
        argv.insert(argv.end(), simOptions.begin(), simOptions.end());
        argv.push_back("--");
        argv.push_back(kCli);
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, m_config, input, watcher, beforeExec);
    }
    // veltro51-cli ARGS on the kept tree with no veltro51-sim in between (its environment set as the
    // simulator sets it), so that the test sees how the program itself ended.
    RunResult Direct(const std::vector<std::string>& args, const Watcher& watcher) const {
        std::vector<std::string> argv = {kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string tree = m_tree;
        const std::string library = (fs::path(kSim).parent_path() / "libveltrosim.so").string();
        return RunProgram(argv, m_config, "", watcher, [tree, library] {
            setenv("USB_DEVFS_PATH", tree.c_str(), 1);
            setenv("LD_PRELOAD", library.c_str(), 1);
        });
    }
    // veltro51-cli ARGS alone, for what needs no programmer.
    RunResult Offline(const std::vector<std::string>& args, const BeforeExec& beforeExec = {}) const {
        std::vector<std::string> argv = {kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, m_config, "", {}, beforeExec);
    }

    std::string m_folder;
    std::string m_config;
    std::string m_tree;
};

// Every row of an operation on a chip: time, mark, text.
const std::regex kRow(R"(\d\d:\d\d:\d\d [AP]M \[[ix+]\] .*)");

// The lines of a run with the rows' times taken off ("[+] Found:"); other lines as they are.
std::vector<std::string> Texts(const std::string& output) {
    std::vector<std::string> texts;
    for (const std::string& line : Lines(output))
        texts.push_back(std::regex_match(line, kRow) ? line.substr(12) : line);
    return texts;
}

bool Has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The rows every operation on a chip starts with, up to the chip's catalogue name.
std::vector<std::string> StartRows(const std::string& found, const std::string& signature,
                                   const std::string& catalogue) {
    std::vector<std::string> rows = {"[i] Initializing...",
                                     "[i] Detecting Programmer ...",
                                     "[+] Found:",
                                     "[+] Veltro-8051",
                                     "[i] Testing Programmer Hardware ...",
                                     "[+] Hardware Test OK",
                                     "[i] Powering On ...",
                                     "[+] Powered On Level 1",
                                     "[+] Powered On Level 2",
                                     "[+] Powered On Level 3",
                                     "[+] Powered On Level 4",
                                     "[i] Auto Detecting Chip ...",
                                     "[+] Found : " + found,
                                     "[i] Signature : " + signature + " "};
    if (!catalogue.empty())
        rows.push_back("[i] Catalogue Chip : " + catalogue);
    return rows;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string ChecksumRow(const std::string& image) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());
    char text[96];
    std::snprintf(text, sizeof text, "[i] CRC-32 : 0x%08X, Sum : 0x%04X, %zu Bytes",
                  Crc32(bytes, image.size()), unsigned{Sum16(bytes, image.size())}, image.size());
    return text;
}

// The erase requests of a device's transcript: none means the chip's old content is there.
long Erases(const sim::CSimBus& tree, int device = 0) {
    long erases = 0;
    for (const sim::TranscriptEntry& e : tree.VendorTranscript())
        erases += e.device == device && e.request == 10;
    return erases;
}

// Enough of a JSON parser to check what --json prints: strict about the grammar (one value, nothing
// after it, escapes and control characters as JSON has them), keeping the members' order.
struct Json {
    enum Kind { Missing, Null, Bool, Number, String, Array, Object } kind = Missing;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& operator[](const std::string& key) const {
        static const Json missing;
        for (const auto& [name, value] : members)
            if (name == key)
                return value;
        return missing;
    }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& member : members)
            keys.push_back(member.first);
        return keys;
    }
    bool IsNull() const { return kind == Null; }
};

class CJsonParser {
public:
    explicit CJsonParser(const std::string& text) : m_text(text) {}
    // The whole text as one value; false when it is no JSON.
    bool Parse(Json& value) { return ParseValue(value) && (SkipSpace(), m_pos == m_text.size()); }

private:
    void SkipSpace() {
        while (m_pos < m_text.size() && std::strchr(" \t\r\n", m_text[m_pos]) != nullptr)
            ++m_pos;
    }
    bool Literal(const char* word) {
        const size_t length = std::strlen(word);
        if (m_text.compare(m_pos, length, word) != 0)
            return false;
        m_pos += length;
        return true;
    }
    bool ParseString(std::string& out) {
        if (m_pos >= m_text.size() || m_text[m_pos] != '"')
            return false;
        for (++m_pos; m_pos < m_text.size(); ++m_pos) {
            const char c = m_text[m_pos];
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (++m_pos >= m_text.size())
                return false;
            const char e = m_text[m_pos];
            const char* plain = std::strchr("\"\\/bfnrt", e);
            if (plain != nullptr && e != '\0') {
                out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
            } else if (e == 'u' && m_pos + 4 < m_text.size() &&
                       std::all_of(m_text.begin() + static_cast<long>(m_pos) + 1,
                                   m_text.begin() + static_cast<long>(m_pos) + 5, ::isxdigit)) {
                out += "\\u" + m_text.substr(m_pos + 1, 4); // kept as written
                m_pos += 4;
            } else {
                return false;
            }
        }
        return false;
    }
    bool ParseValue(Json& value) {
        SkipSpace();
        if (m_pos >= m_text.size())
            return false;
        const char c = m_text[m_pos];
        if (c == '{') {
            value.kind = Json::Object;
            ++m_pos;
            SkipSpace();
            if (Literal("}"))
                return true;
            for (;;) {
                std::string key;
                Json member;
                SkipSpace();
                if (!ParseString(key) || (SkipSpace(), !Literal(":")) || !ParseValue(member))
                    return false;
                value.members.emplace_back(key, member);
                SkipSpace();
                if (Literal("}"))
                    return true;
                if (!Literal(","))
                    return false;
            }
        }
        if (c == '[') {
            value.kind = Json::Array;
            ++m_pos;
            SkipSpace();
            if (Literal("]"))
                return true;
            for (;;) {
                Json item;
                if (!ParseValue(item))
                    return false;
                value.items.push_back(item);
                SkipSpace();
                if (Literal("]"))
                    return true;
                if (!Literal(","))
                    return false;
            }
        }
        if (c == '"') {
            value.kind = Json::String;
            return ParseString(value.text);
        }
        if (Literal("true") || Literal("false")) {
            value.kind = Json::Bool;
            value.boolean = m_text[m_pos - 2] == 'u'; // "true" ends in "ue"
            return true;
        }
        if (Literal("null")) {
            value.kind = Json::Null;
            return true;
        }
        static const std::regex number(R"(-?(0|[1-9]\d*)(\.\d+)?([eE][+-]?\d+)?)");
        std::smatch match;
        const std::string rest = m_text.substr(m_pos);
        if (!std::regex_search(rest, match, number, std::regex_constants::match_continuous))
            return false;
        value.kind = Json::Number;
        value.number = std::stod(match.str());
        m_pos += static_cast<size_t>(match.length());
        return true;
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

// Each line of standard output as one JSON object; fails the test for any line that is none.
std::vector<Json> JsonLines(const std::string& out) {
    std::vector<Json> objects;
    for (const std::string& line : Lines(out)) {
        Json value;
        EXPECT_TRUE(CJsonParser(line).Parse(value) && value.kind == Json::Object)
            << "no JSON object: " << line;
        objects.push_back(value);
    }
    return objects;
}

std::string HexOf(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return text;
}

TEST_F(CliTest, BurnsAndLocksAChipThenReadsTheSameBytesBack) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    const RunResult burn =
        Cli({"--chip", "AT89S52"}, {"--chip", "at89s52", "burn", Path("firmware.hex"), "--lock", "2"});
    EXPECT_EQ(burn.status, 0) << burn.out << burn.err;
    EXPECT_EQ(burn.err, "");

    const std::vector<std::string> lines = Lines(burn.out);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"(Time Elapsed \d\d:\d\d:\d\d)"))) << lines.back();
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, kRow) || line == "HEX file loaded successfully" ||
                    line == "Chips Written - 1" || line == lines.back())
            << "not a row: " << line;
    std::vector<std::string> texts = Texts(burn.out);
    texts.pop_back();
    const std::vector<std::string> expected = Join(
        StartRows("Atmel AT89S52", "0x1E 0x52 0x06", "AT89S52"),
        {"HEX file loaded successfully", ChecksumRow(FirmwareImage(8192)), "[i] Erasing Chip ...",
         "[+] Chip Erased", "[i] Burn Process Started at 3000KHz", "[+] Burn Process Completed Successfully",
         "[i] Burn Process Started at 3000KHz", "[+] Data Verification Success",
         "[+] Burn Process Completed Successfully", "[i] Thankyou", "Chips Written - 1",
         "[i] Auto Lock Option Selected, Device Will be Locked Now", "[+] Lock Mode 2 Activated"});
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(burn.out.find('\r'), std::string::npos) << "no progress bar when the output is no terminal";

    // Lock mode 2 still lets the flash be read; without --chip the socket names the chip.
    const RunResult read = Cli({}, {"read", Path("chip.bin")});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.err, "");
    const std::vector<std::string> readTexts = Texts(read.out);
    ASSERT_GE(readTexts.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(readTexts.end() - 4, readTexts.end()),
              (std::vector<std::string>{"[i] Reading Flash ...", "[+] Flash Read",
                                        ChecksumRow(FirmwareImage(8192)), "Flash Read Success"}));
    EXPECT_EQ(ReadFile(Path("chip.bin")), FirmwareImage(8192)) << "exactly the chip's flash, byte for byte";

    sim::CSimBus tree(m_tree);
    const sim::DeviceState state = tree.State(0);
    EXPECT_EQ(state.lockMode, 2);
    EXPECT_FALSE(state.powered);
}

TEST_F(CliTest, CtrlCAbortsABurnAsTheDialogsAbortAndPowersTheTargetOff) {
    WriteFile(Path("firmware.bin"), FirmwareImage(8192).substr(0, 20));
    // Slow transfers, so that the read-back lasts long enough to be interrupted.
    const Watcher ctrlC = [](pid_t group, const std::string& out, const std::string&) {
        if (out.find("Burn Process Completed Successfully") == std::string::npos)
            return false;
        kill(-group, SIGINT); // the whole job, as the terminal sends it: veltro51-sim ignores it
        return true;
    };
    const RunResult burn = Cli({"--chip", "AT89S52", "--delay", "3"},
                               {"--chip", "AT89S52", "burn", Path("firmware.bin")}, "", ctrlC);
    EXPECT_EQ(burn.status, 130) << "ended by SIGINT, as veltro51-sim reports it";
    EXPECT_EQ(burn.out.find("Data Verification Success"), std::string::npos) << burn.out;
    const std::vector<std::string> errors = Lines(burn.err);
    ASSERT_EQ(errors.size(), 2u) << burn.err;
    EXPECT_TRUE(std::regex_match(errors[0], std::regex(R"(.* \[x\] Aborting \.\.\.)"))) << errors[0];
    EXPECT_TRUE(std::regex_match(errors[1], std::regex(R"(.* \[x\] Aborted By User)"))) << errors[1];

    sim::CSimBus tree(m_tree);
    EXPECT_FALSE(tree.State(0).powered) << "PowerOff before the programmer was released";
    const std::vector<sim::TranscriptEntry> requests = tree.VendorTranscript();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().request, 6) << "the last request is PowerOff";
}

// Ctrl+C before the erase: the burn stops before anything reaches the chip, and the chip keeps what
// it held.
TEST_F(CliTest, CtrlCBeforeTheEraseLeavesTheChipAsItWas) {
    const RunResult made = Cli({"--chip", "AT89S52"}, {"list"});
    ASSERT_EQ(made.status, 0);
    const std::string old = FirmwareImage(8192);
    sim::CSimBus(m_tree).SetFlash(0, std::vector<uint8_t>(old.begin(), old.end()));
    WriteFile(Path("firmware.bin"), std::string(100, '\x42'));
    const Watcher ctrlC = [](pid_t group, const std::string& out, const std::string&) {
        if (out.find("Testing Programmer Hardware") == std::string::npos)
            return false;
        kill(-group, SIGINT);
        return true;
    };
    const RunResult burn = Cli({}, {"burn", Path("firmware.bin")}, "", ctrlC);
    EXPECT_EQ(burn.status, 130) << "ended by SIGINT, as veltro51-sim reports it";
    EXPECT_EQ(Texts(burn.err), (std::vector<std::string>{"[x] Aborting ...", "[x] Aborted By User"}));
    EXPECT_EQ(burn.out.find("Erasing"), std::string::npos) << burn.out;
    sim::CSimBus tree(m_tree);
    EXPECT_EQ(Erases(tree), 0);
    const std::vector<uint8_t> flash = tree.State(0).flash;
    EXPECT_EQ(std::string(flash.begin(), flash.end()), old);
    EXPECT_FALSE(tree.State(0).powered);
}

// After the safe ending (every target off, PowerOff last) a stop signal ends the program as it ends
// any program, by that signal, so that "for f in *.hex; do veltro51-cli burn $f; done" stops at
// Ctrl+C; the bench of burn --all as well.
TEST_F(CliTest, AStopSignalEndsTheCommandByItselfAfterTheTargetIsOff) {
    WriteFile(Path("firmware.bin"), std::string(100, '\x42'));
    const struct Case {
        const char* what;
        int programmers;
        std::vector<std::string> args;
        int signal;
    } cases[] = {
        {"Ctrl+C in a burn", 1, {"burn", Path("firmware.bin")}, SIGINT},
        {"SIGTERM in a burn", 1, {"burn", Path("firmware.bin")}, SIGTERM},
        {"SIGHUP in a blank check", 1, {"blank"}, SIGHUP},
        {"Ctrl+C in a bench of two", 2, {"burn", "--all", Path("firmware.bin")}, SIGINT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_tree);
        ASSERT_EQ(Cli({"--programmers", std::to_string(c.programmers)}, {"--version"}).status, 0);
        const int signal = c.signal;
        const Watcher stop = [signal](pid_t group, const std::string& out, const std::string&) {
            if (out.find("Testing Programmer Hardware") == std::string::npos)
                return false;
            kill(-group, signal);
            return true;
        };
        const RunResult run = Direct(c.args, stop);
        EXPECT_EQ(run.signal, c.signal) << "status " << run.status << ": " << run.err;
        EXPECT_NE(run.err.find("Aborted By User"), std::string::npos) << run.err;
        sim::CSimBus tree(m_tree);
        for (int device = 0; device < tree.DeviceCount(); ++device) {
            EXPECT_FALSE(tree.State(device).powered) << device;
            EXPECT_EQ(Erases(tree, device), 0) << device;
        }
        const std::vector<sim::TranscriptEntry> requests = tree.VendorTranscript();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.back().request, 6) << "the last request is PowerOff";
    }
}

TEST_F(CliTest, AFailedBurnExitsWithOneAfterItsRows) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    // Vendor requests 1..8: TestHardware, four PowerOn, ReadSignature, EraseChip, GetSpeed; 9 the first
    // write.
    const RunResult burn = Cli({"--chip", "AT89S52", "--fail-at", "9", "--fail-kind", "stall"},
                               {"--chip", "AT89S52", "burn", Path("firmware.hex")});
    EXPECT_EQ(burn.status, 1);
    EXPECT_EQ(Texts(burn.err),
              (std::vector<std::string>{"[x] Burn Process Failed", "[x] Programmer Not Responding"}));
    EXPECT_NE(burn.out.find("[i] Please Disconect the Programmer and Connect Again After Few Seconds."),
              std::string::npos);
    EXPECT_FALSE(sim::CSimBus(m_tree).State(0).powered);
}

// The signature decides: without --chip the catalogue chip in the socket is used, with its own size.
TEST_F(CliTest, EachChipIsFoundByItsSignatureAndReadAtItsSize) {
    for (int chip = 0; chip < CHIP_COUNT; ++chip) {
        const ChipInfo& info = g_chipCatalogue[static_cast<size_t>(chip)];
        SCOPED_TRACE(info.name);
        fs::remove_all(m_tree);
        fs::remove(Path("chip.bin"));
        // The settings say AT89S2051, as a desktop program left them: they no longer decide.
        const RunResult read = Cli({"--chip", info.name}, {"read", Path("chip.bin")});
        EXPECT_EQ(read.status, 0) << read.err;
        EXPECT_TRUE(Has(Texts(read.out), std::string("[i] Catalogue Chip : ") + info.name)) << read.out;
        EXPECT_EQ(ReadFile(Path("chip.bin")).size(), static_cast<size_t>(info.flashSize));
    }
}

// Another chip than the one asked for is refused before anything reaches its flash; --force goes on
// as the desktop program would, with the size of the chip asked for.
TEST_F(CliTest, AWrongChipIsRefusedAndKeepsItsFlash) {
    ASSERT_EQ(Cli({"--chip", "AT89S52"}, {"list"}).status, 0);
    const std::string old = FirmwareImage(8192);
    sim::CSimBus(m_tree).SetFlash(0, std::vector<uint8_t>(old.begin(), old.end()));
    WriteFile(Path("firmware.bin"), std::string(4096, '\x11'));

    const RunResult refused = Cli({}, {"--chip", "AT89S51", "burn", Path("firmware.bin")});
    EXPECT_EQ(refused.status, 4);
    const std::vector<std::string> errors = Texts(refused.err);
    ASSERT_EQ(errors.size(), 2u) << refused.err;
    EXPECT_EQ(errors[0], "[x] Wrong Chip : AT89S52 in the Socket, AT89S51 Asked For");
    EXPECT_NE(errors[1].find("--force"), std::string::npos);
    {
        sim::CSimBus tree(m_tree);
        EXPECT_EQ(Erases(tree), 0);
        const std::vector<uint8_t> flash = tree.State(0).flash;
        EXPECT_EQ(std::string(flash.begin(), flash.end()), old) << "the chip is untouched";
    }
    const RunResult verify = Cli({}, {"--chip", "AT89S51", "verify", Path("firmware.bin")});
    EXPECT_EQ(verify.status, 4);

    const RunResult forced = Cli({}, {"--chip", "AT89S51", "--force", "burn", Path("firmware.bin")});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(Has(Texts(forced.out), "[i] Forced : Programming as AT89S51"));
    EXPECT_TRUE(Has(Texts(forced.out), "[+] Data Verification Success"));
}

// An empty socket and a signature of no catalogue chip stop with the bytes read; --chip programs the
// unknown chip as the chip named.
TEST_F(CliTest, AnEmptySocketOrAnUnknownChipStops) {
    const RunResult empty = Cli({"--chip", "none"}, {"info"});
    EXPECT_EQ(empty.status, 4);
    EXPECT_EQ(Texts(empty.err), (std::vector<std::string>{"[x] No Chip Inserted Into Socket"}));

    fs::remove_all(m_tree);
    WriteFile(Path("firmware.bin"), std::string(64, '\x33'));
    const RunResult unknown = Cli({"--signature", "1E9906"}, {"burn", Path("firmware.bin")});
    EXPECT_EQ(unknown.status, 4);
    const std::vector<std::string> errors = Texts(unknown.err);
    ASSERT_EQ(errors.size(), 2u) << unknown.err;
    EXPECT_EQ(errors[0], "[x] Unknown Signature 0x1E 0x99 0x06 : No Supported Chip");
    EXPECT_NE(errors[1].find("--chip"), std::string::npos);
    EXPECT_EQ(Erases(sim::CSimBus(m_tree)), 0);

    const RunResult named = Cli({}, {"--chip", "AT89S52", "burn", Path("firmware.bin")});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(Has(Texts(named.out), "[+] Found : Unknown Chip"));
}

// A chip in lock mode 3 answers reads with a pattern: read and verify refuse it and write nothing;
// --force reads it all the same.
TEST_F(CliTest, ALockedChipIsNotReadUnlessForced) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    ASSERT_EQ(Cli({"--chip", "AT89S52", "--lock", "3"}, {"list"}).status, 0);
    const std::string refusal = "[x] Device is locked with Lock Mode 3";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read", Path("chip.hex")}, {"verify", Path("firmware.hex")}, {"blank"}}) {
        SCOPED_TRACE(args[0]);
        const RunResult run = Cli({}, args);
        EXPECT_EQ(run.status, 4);
        const std::vector<std::string> errors = Texts(run.err);
        ASSERT_GE(errors.size(), 2u) << run.err;
        EXPECT_EQ(errors[0], refusal);
        EXPECT_EQ(errors[1], "You CANNOT read Flash Memory !!!");
        EXPECT_EQ(run.out.find("Reading Flash"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(Path("chip.hex")));
    const RunResult forced = Cli({}, {"--force", "read", Path("chip.bin")});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(ReadFile(Path("chip.bin")).size(), 8192u);
}

// verify compares without erasing, blank tells the first byte that is not 0xFF, erase empties the chip.
TEST_F(CliTest, VerifyBlankAndEraseAgainstTheChip) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    WriteFile(Path("other.bin"), FirmwareImage(8192).substr(0, 16) + std::string(3, '\0'));
    struct Step {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> tail; // the last rows of standard output or error, as their stream ends
        bool onError;
    };
    const Step steps[] = {
        {{"blank"}, 0, {"[i] Reading Flash ...", "[+] Flash Read", "[+] Chip is Blank"}, false},
        {{"burn", Path("firmware.hex")}, 0, {"Chips Written - 1"}, false},
        {{"verify", Path("firmware.hex")}, 0, {"[+] Flash Read", "[+] Data Verification Success"}, false},
        {{"verify", Path("other.bin")},
         1,
         {"[x] Data Mismatch at:", "[x] 0x0010 CHIP: 0x01 | BUFFER: 0x00", "[x] 7 Bytes Differ"},
         true},
        {{"blank"}, 1, {"[x] Chip is Not Blank : 0x0000 Holds 0x02", "[x] 22 Bytes are Not 0xFF"}, true},
        {{"erase"},
         0,
         {"[+] Chip Erased", "[i] Reading Flash ...", "[+] Flash Read", "[+] Chip is Blank"},
         false},
        {{"blank"}, 0, {"[+] Chip is Blank"}, false},
    };
    std::vector<std::string> simOptions = {"--chip", "AT89S52"};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[0] + (step.args.size() > 1 ? " " + step.args[1] : ""));
        const RunResult run = Cli(simOptions, step.args);
        simOptions.clear();
        EXPECT_EQ(run.status, step.status) << run.out << run.err;
        std::vector<std::string> texts = Texts(step.onError ? run.err : run.out);
        if (step.args[0] == "burn")
            texts.pop_back(); // the elapsed time
        ASSERT_GE(texts.size(), step.tail.size());
        EXPECT_EQ(std::vector<std::string>(texts.end() - static_cast<long>(step.tail.size()), texts.end()),
                  step.tail);
    }
    const std::vector<uint8_t> flash = sim::CSimBus(m_tree).State(0).flash;
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(CliTest, LockBitsSpeedAndInfoRoundTrip) {
    struct Step {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> tail; // the last lines of standard output
    };
    const Step steps[] = {
        {{"lock"}, 0, {"[i] Device is NOT locked !!!"}},
        {{"lock", "--write", "3"}, 0, {"[+] Lock Mode 2 Activated", "[+] Lock Mode 3 Activated"}},
        {{"lock"}, 0, {"[i] Device is locked with Lock Mode 3", "You CANNOT read Flash Memory !!!"}},
        {{"speed"}, 0, {"3000KHz"}},
        {{"speed", "--set", "188"}, 0, {"Programming Speed Changed Successfuly !"}},
        {{"speed"}, 0, {"188KHz"}},
        {{"info"},
         0,
         Join(StartRows("Atmel AT89S51", "0x1E 0x51 0x06", "AT89S51"),
              {"[i] Device is locked with Lock Mode 3", "You CANNOT read Flash Memory !!!",
               "[i] Programming Speed : 188KHz"})},
    };
    std::vector<std::string> simOptions = {"--chip", "AT89S51"}; // for the tree's first run
    for (const Step& step : steps) {
        const RunResult run = Cli(simOptions, step.args);
        simOptions.clear();
        EXPECT_EQ(run.status, step.status) << step.args[0];
        const std::vector<std::string> texts = Texts(run.out);
        ASSERT_GE(texts.size(), step.tail.size()) << step.args[0];
        EXPECT_EQ(std::vector<std::string>(texts.end() - static_cast<long>(step.tail.size()), texts.end()),
                  step.tail)
            << step.args[0];
        EXPECT_EQ(run.err, "") << step.args[0];
    }

    // A programmer that stops answering: the rows, and status 1; Programming Speed its message.
    const RunResult lock = Cli({"--fail-at", "1"}, {"lock", "--write", "2"});
    EXPECT_EQ(lock.status, 1);
    EXPECT_EQ(Texts(lock.err), (std::vector<std::string>{"[x] Programmer Not Responding"}));
    const RunResult speed = Cli({"--fail-at", "1"}, {"speed"});
    EXPECT_EQ(speed.status, 1);
    EXPECT_EQ(speed.err, "Error : Programer Does Not Answer Properly\n");
    sim::CSimBus tree(m_tree);
    EXPECT_EQ(tree.State(0).lockMode, 3);
    EXPECT_EQ(tree.State(0).speedCode, 2);
}

// A script can tell the outcomes apart by the exit status alone.
TEST_F(CliTest, EveryExitStatus) {
    WriteFile(Path("firmware.bin"), std::string(16, '\x5A'));
    const struct Case {
        const char* what;
        std::vector<std::string> simOptions;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {"success", {"--chip", "AT89S2051"}, {"blank"}, 0},
        {"the operation failed on the chip", {"--fail-at", "6"}, {"info"}, 1},
        {"bad usage", {}, {"blank", "extra"}, 2},
        {"no usable programmer", {"--programmers", "0"}, {"info"}, 3},
        {"access denied", {"--access-denied"}, {"burn", Path("firmware.bin")}, 3},
        {"the chip", {"--chip", "none"}, {"verify", Path("firmware.bin")}, 4},
    };
    for (const Case& c : cases) {
        fs::remove_all(m_tree);
        const RunResult run = Cli(c.simOptions, c.args);
        EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
    }
}

TEST_F(CliTest, TwoProgrammersServeTwoProcessesAtOnce) {
    const RunResult list = Cli({"--programmers", "2"}, {"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "001/001  Veltro-8051\n002/001  Veltro-8051\n");

    // Two different chips in the two sockets, read at the same time by two processes.
    std::vector<uint8_t> first(8192), second(8192, 0xFF);
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<uint8_t>(i * 7 + 3);
    second[0x0123] = 0x5A;
    {
        sim::CSimBus tree(m_tree);
        ASSERT_EQ(tree.DeviceCount(), 2);
        tree.SetFlash(0, first);
        tree.SetFlash(1, second);
    }
    RunResult readFirst, readSecond;
    std::thread other([&] { readSecond = Cli({}, {"--programmer", "2/1", "read", Path("second.hex")}); });
    readFirst = Cli({}, {"--programmer", "001/001", "read", Path("first.bin")});
    other.join();
    EXPECT_EQ(readFirst.status, 0) << readFirst.err;
    EXPECT_EQ(readSecond.status, 0) << readSecond.err;
    EXPECT_EQ(ReadFile(Path("first.bin")), std::string(first.begin(), first.end()));
    FirmwareBuffer expected;
    expected.m_imageSize = 8192;
    std::copy(second.begin(), second.end(), expected.m_image.begin());
    ASSERT_TRUE(WriteIntelHex(Path("expected.hex"), expected));
    EXPECT_EQ(ReadFile(Path("second.hex")), ReadFile(Path("expected.hex")))
        << "read OUT.hex is what Save writes";

    // One programmer's speed, not the other's.
    EXPECT_EQ(Cli({}, {"--programmer", "002/001", "speed", "--set", "94"}).status, 0);
    EXPECT_EQ(Cli({}, {"--programmer", "002/001", "speed"}).out, "94KHz\n");
    EXPECT_EQ(Cli({}, {"--programmer", "001/001", "speed"}).out, "3000KHz\n");
    const RunResult missing = Cli({}, {"--programmer", "003/001", "speed"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "Error : Cannot Find Any Valid Programmer Installed On System\n");
    const RunResult burnMissing = Cli({}, {"--programmer", "9/9", "blank"});
    EXPECT_EQ(burnMissing.status, 3);
    EXPECT_EQ(Texts(burnMissing.err),
              (std::vector<std::string>{"[x] No Valid Programmer Detected On System"}));

    // A programmer this user may not open is listed with the reason, as an error.
    fs::remove_all(m_tree);
    const RunResult denied = Cli({"--access-denied"}, {"list"});
    EXPECT_EQ(denied.status, 3);
    EXPECT_EQ(denied.out, "");
    EXPECT_EQ(denied.err, std::string("001/001  ") + MSG_ACCESS_DENIED + "\n");
}

// list: a line per programmer found, a busy one said to be in use (it is not asked for its string),
// one this user may not open on standard error; the status is 0 only when one can be used now.
TEST_F(CliTest, ListSaysWhyAProgrammerCannotBeUsed) {
    const std::string free = "Veltro-8051";
    const std::string busy = MSG_PROGRAMMER_BUSY;
    const struct Case {
        const char* what;
        std::vector<std::string> simOptions;
        std::vector<std::string> held; // device files another program holds
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"one of two in use",
         {"--programmers", "2"},
         {"001/001"},
         0,
         "001/001  " + busy + "\n002/001  " + free + "\n",
         ""},
        {"every one in use",
         {"--programmers", "2"},
         {"001/001", "002/001"},
         3,
         "001/001  " + busy + "\n002/001  " + busy + "\n",
         ""},
        {"its string unreadable",
         {"--string-unreadable"},
         {},
         3,
         "001/001  (product string unreadable)\n",
         ""},
        {"none attached", {"--programmers", "0"}, {}, 3, "", std::string(MSG_NO_PROGRAMMER) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_tree);
        ASSERT_EQ(Cli(c.simOptions, {"--version"}).status, 0); // makes the tree
        std::vector<int> holds;
        for (const std::string& device : c.held) {
            holds.push_back(open((m_tree + "/" + device).c_str(), O_RDONLY | O_CLOEXEC));
            EXPECT_EQ(flock(holds.back(), LOCK_EX), 0) << device;
        }
        const RunResult run = Cli({}, {"list"});
        for (int fd : holds)
            close(fd);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

// The flash bytes of every device of the tree.
std::vector<std::vector<uint8_t>> Flashes(const std::string& tree) {
    sim::CSimBus bus(tree);
    std::vector<std::vector<uint8_t>> flashes;
    for (int device = 0; device < bus.DeviceCount(); ++device)
        flashes.push_back(bus.State(device).flash);
    return flashes;
}

// burn --all: one worker per programmer, a serial number in every chip that no other chip has, a
// line of the log per chip whose checksum is the file's, and a summary; each chip reads back right.
TEST_F(CliTest, ABenchOfFourBurnsEveryChipWithItsOwnSerialAndLogLine) {
    const std::string firmware(100, '\x3C');
    WriteFile(Path("firmware.bin"), firmware);
    const RunResult run = Cli({"--programmers", "4", "--chip", "AT89S52"},
                              {"burn", Path("firmware.bin"), "--all", "--serial", "0x1FF0,7,3,be2",
                               "--serial-file", Path("serial.txt"), "--log", Path("log.jsonl")});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_TRUE(std::regex_match(
        lines.back(), std::regex(R"(Chips verified : 4 of 4, Time Elapsed .*, Chips per hour : \d+)")))
        << lines.back();
    long summaryRows = 0;
    for (const std::string& line : lines)
        summaryRows += std::regex_match(line, std::regex(R"(00\d/001  AT89S52     verified   \d+ *)"));
    EXPECT_EQ(summaryRows, 4) << run.out;

    std::vector<int> serials;
    for (const std::vector<uint8_t>& flash : Flashes(m_tree)) {
        ASSERT_EQ(flash.size(), 8192u);
        EXPECT_EQ(std::string(flash.begin(), flash.begin() + 100), firmware);
        serials.push_back(flash[0x1FF0] << 8 | flash[0x1FF1]);
        EXPECT_EQ(flash[0x1FF2], 0xFF);
    }
    std::sort(serials.begin(), serials.end());
    EXPECT_EQ(serials, (std::vector<int>{7, 10, 13, 16})) << "every chip its own number, none twice";
    EXPECT_NE(ReadFile(Path("serial.txt")).find("next=19"), std::string::npos)
        << ReadFile(Path("serial.txt"));

    // A JSON reader takes every line, with the file's own SHA-256 and the chip's number.
    WriteFile(Path("check.py"), R"(import hashlib, json, sys
image = open(sys.argv[2], 'rb').read().ljust(8192, b'\xff')
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 4, lines
seen = set()
for line in lines:
    r = json.loads(line)
    assert r['file_sha256'] == hashlib.sha256(image).hexdigest(), r
    assert r['outcome'] == 'verified' and r['chip'] == 'AT89S52' and r['signature'] == '1E 52 06', r
    assert r['programmer'] not in seen, r
    seen.add(r['programmer'])
print(sorted(json.loads(l)['serial'] for l in lines))
)");
    const std::string command =
        "python3 '" + Path("check.py") + "' '" + Path("log.jsonl") + "' '" + Path("firmware.bin") + "' 2>&1";
    FILE* check = popen(command.c_str(), "r");
    ASSERT_NE(check, nullptr);
    char answer[256] = {};
    const size_t got = fread(answer, 1, sizeof answer - 1, check);
    EXPECT_EQ(pclose(check), 0) << std::string(answer, got);
    EXPECT_EQ(std::string(answer, got), "[7, 10, 13, 16]\n");
}

// One socket failing among four: the others are still verified, the summary names the failure, and
// the exit status is not 0.
TEST_F(CliTest, OneFailingSocketLeavesTheOthersVerified) {
    const std::string firmware = FirmwareImage(8192).substr(0, 20);
    WriteFile(Path("firmware.bin"), firmware);
    ASSERT_EQ(Cli({"--programmers", "4", "--chip", "AT89S52"}, {"list"}).status, 0);
    sim::CSimBus(m_tree).SetFault(2, 9, 1, sim::FailKind::Stall); // its first block write
    const RunResult run = Cli({}, {"burn", Path("firmware.bin"), "--all", "--quiet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(Lines(run.out), "003/001  AT89S52     failed     -      Burn Process Failed")) << run.out;
    EXPECT_TRUE(Has(Lines(run.err), "003/001  [x] Burn Process Failed")) << run.err;
    EXPECT_TRUE(std::regex_match(Lines(run.out).back(), std::regex("Chips verified : 3 of 4, .*")));
    const std::vector<std::vector<uint8_t>> flashes = Flashes(m_tree);
    for (int device : {0, 1, 3})
        EXPECT_EQ(std::string(flashes[static_cast<size_t>(device)].begin(),
                              flashes[static_cast<size_t>(device)].begin() + 20),
                  firmware)
            << device;
}

// A bench tells why: a file that cannot be read before any worker starts, a log that cannot be written
// beside the socket it failed for.
TEST_F(CliTest, ABenchNamesWhatFailed) {
    const RunResult missing =
        Cli({"--programmers", "2", "--chip", "AT89S52"}, {"burn", Path("missing.hex"), "--all"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Cannot open hex file\n" + Path("missing.hex") + ": No such file or directory\n");
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(Erases(sim::CSimBus(m_tree)), 0);

    WriteFile(Path("firmware.bin"), std::string(16, '\x42'));
    const RunResult full = Cli({}, {"burn", Path("firmware.bin"), "--all", "--quiet", "--log", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    long named = 0;
    for (const std::string& line : Lines(full.out))
        named += line.find("verified") != std::string::npos &&
                 line.find("Production Log Not Written") != std::string::npos;
    EXPECT_EQ(named, 2) << full.out;
}

// Vendor requests of one kind in a device's transcript (5 PowerOn, 6 PowerOff, 10 erase).
long Requests(const sim::CSimBus& tree, int request) {
    long count = 0;
    for (const sim::TranscriptEntry& e : tree.VendorTranscript())
        count += e.request == request;
    return count;
}

// burn --all --more burns the file the bench started with: a file replaced between rounds is refused
// in every socket, with the reason, and no chip is erased for it.
TEST_F(CliTest, ABenchRefusesAFileReplacedBetweenRounds) {
    WriteFile(Path("firmware.bin"), std::string(16, '\x42'));
    const Watcher replace = [this](pid_t, const std::string& out, const std::string&) {
        // Both sockets of the first round have loaded their image by their erase.
        size_t erased = 0;
        for (size_t at = 0; (at = out.find("Chip Erased", at)) != std::string::npos; ++at)
            ++erased;
        if (erased < 2)
            return false;
        WriteFile(Path("firmware.bin"), std::string(16, '\x24'));
        return true;
    };
    const RunResult run = Cli({"--programmers", "2", "--chip", "AT89S52"},
                              {"burn", Path("firmware.bin"), "--all", "--more"}, "y\nn\n", replace);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    long refused = 0;
    for (const std::string& line : Lines(run.out))
        refused +=
            std::regex_match(line, std::regex(R"(00[12]/001  -           failed     -      .*firmware\.bin )"
                                              R"(changed since the bench started .*)"));
    EXPECT_EQ(refused, 2) << run.out;
    EXPECT_TRUE(std::regex_match(Lines(run.out).back(), std::regex("Chips verified : 2 of 4, .*")));
    const sim::CSimBus tree(m_tree);
    for (int device : {0, 1}) {
        EXPECT_EQ(Erases(tree, device), 1) << device << ": the second round erased nothing";
        EXPECT_EQ(tree.State(device).flash[0], 0x42) << device;
    }
}

// The simulated operator changes a tree that programs use: a chip in and out of a socket (any
// catalogue chip, a locked one, an unknown signature), a programmer unplugged and plugged in again.
TEST_F(CliTest, TheSimulatedOperatorChangesSocketsAndProgrammers) {
    ASSERT_EQ(Cli({"--programmers", "2", "--chip", "AT89S52"}, {"list"}).status, 0);
    auto socket = [this](const std::vector<std::string>& args) {
        std::vector<std::string> argv = {kSim, "socket", "--tree", m_tree};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, m_config);
    };
    const struct {
        std::vector<std::string> operation;
        int status; // of the operation
        std::vector<std::string> cli;
        int cliStatus;
        const char* cliSays; // in the command's output
    } steps[] = {
        {{"--programmer", "2", "remove"}, 0, {"--programmer", "002/001", "info"}, 4, "No Chip Inserted"},
        {{"--programmer", "2", "remove"}, 1, {}, 0, ""},
        {{"--programmer", "002/001", "insert", "at89s8253", "--lock", "3"},
         0,
         {"--programmer", "002/001", "info"},
         0,
         "Lock Mode 3"},
        {{"--programmer", "2", "insert", "AT89S52"}, 1, {}, 0, ""},
        {{"--programmer", "1", "remove"}, 0, {}, 0, ""},
        {{"--programmer", "1", "insert", "AT89S52", "--signature", "123456"},
         0,
         {"--programmer", "001/001", "info"},
         4,
         "0x12 0x34 0x56"},
        {{"--programmer", "1", "unplug"}, 0, {"list"}, 0, "002/001"},
        {{"--programmer", "1", "unplug"}, 1, {"--programmer", "001/001", "info"}, 3, "No Valid Programmer"},
        {{"--programmer", "1", "plug"}, 0, {"list"}, 0, "001/001"},
        {{"--programmer", "3", "remove"}, 1, {}, 0, ""},
        {{"--programmer", "1", "insert", "AT89C99"}, 2, {}, 0, ""},
        {{"--programmer", "1", "remove", "AT89S52"}, 2, {}, 0, ""},
        {{"--programmer", "1", "shake"}, 2, {}, 0, ""},
    };
    for (const auto& step : steps) {
        std::string what;
        for (const std::string& arg : step.operation)
            what += arg + " ";
        const RunResult done = socket(step.operation);
        EXPECT_EQ(done.status, step.status) << what << done.err;
        if (step.status != 0) {
            EXPECT_FALSE(done.err.empty()) << what;
        }
        if (step.cli.empty())
            continue;
        const RunResult seen = Cli({}, step.cli);
        EXPECT_EQ(seen.status, step.cliStatus) << what << seen.out << seen.err;
        EXPECT_NE((seen.out + seen.err).find(step.cliSays), std::string::npos)
            << what << seen.out << seen.err;
    }
    // An inserted chip comes erased, and a burn in it reads back.
    WriteFile(Path("firmware.bin"), std::string(16, '\x42'));
    ASSERT_EQ(socket({"--programmer", "1", "remove"}).status, 0);
    ASSERT_EQ(socket({"--programmer", "1", "insert", "AT89S51"}).status, 0);
    EXPECT_EQ(Cli({}, {"--programmer", "001/001", "blank"}).status, 0);
    EXPECT_EQ(Cli({}, {"--programmer", "001/001", "burn", Path("firmware.bin")}).status, 0);
    EXPECT_EQ(Flashes(m_tree)[0].size(), 4096u);
}

// A programmer unplugged after the bench found it: its worker ends before it finds the programmer,
// and its log line still names the socket the bench gave it; the other socket is verified.
TEST_F(CliTest, ABenchLogsTheSocketOfAWorkerThatFoundNoProgrammer) {
    WriteFile(Path("firmware.bin"), std::string(16, '\x42'));
    const Watcher unplug = [this](pid_t, const std::string& out, const std::string&) {
        // Before its programmer is opened: "Initializing..." is followed by a 500 ms wait.
        if (out.find("002/001  [i] Initializing...") == std::string::npos)
            return false;
        EXPECT_EQ(
            RunProgram({kSim, "socket", "--tree", m_tree, "--programmer", "2", "unplug"}, m_config).status,
            0);
        return true;
    };
    const RunResult run =
        Cli({"--programmers", "2", "--chip", "AT89S52"},
            {"burn", Path("firmware.bin"), "--all", "--log", Path("log.jsonl")}, "", unplug);
    EXPECT_EQ(run.status, 3) << "the one failure's own status: " << run.out << run.err;
    EXPECT_TRUE(
        Has(Lines(run.out), "002/001  -           failed     -      No Valid Programmer Detected On System"))
        << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(001/001  AT89S52     verified )"))) << run.out;
    const std::string log = ReadFile(Path("log.jsonl"));
    EXPECT_NE(log.find(R"("programmer":"002/001")"), std::string::npos) << log;
    EXPECT_EQ(log.find(R"("programmer":null)"), std::string::npos) << log;
}

// A person holding the serial file's lock (to set the next number) keeps the burn waiting, told, before
// the target is powered; Ctrl+C then ends the wait, takes no number and leaves the chip as it was.
TEST_F(CliTest, CtrlCWhileTheSerialFileIsLockedTakesNoNumber) {
    ASSERT_EQ(Cli({"--chip", "AT89S52"}, {"list"}).status, 0);
    const std::string old = FirmwareImage(8192);
    sim::CSimBus(m_tree).SetFlash(0, std::vector<uint8_t>(old.begin(), old.end()));
    WriteFile(Path("firmware.bin"), std::string(16, '\x42'));
    WriteFile(Path("serial.txt"), "next=7\n");
    const int lock = open((Path("serial.txt") + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const Watcher ctrlC = [](pid_t group, const std::string&, const std::string& err) {
        if (err.find("Waiting For the serial file's lock") == std::string::npos)
            return false;
        usleep(300 * 1000);
        kill(-group, SIGINT);
        return true;
    };
    const RunResult burn =
        Cli({}, {"burn", Path("firmware.bin"), "--serial", "0x1FF0", "--serial-file", Path("serial.txt")}, "",
            ctrlC);
    close(lock);
    EXPECT_EQ(burn.status, 130);
    EXPECT_NE(burn.err.find("Aborted By User"), std::string::npos) << burn.err;
    EXPECT_EQ(burn.err.find("Cannot End Burner Thread"), std::string::npos) << burn.err;
    EXPECT_EQ(ReadFile(Path("serial.txt")), "next=7\n") << "no number taken";
    EXPECT_NE(burn.err.find("Waiting For the serial file's lock " + Path("serial.txt") +
                            ".lock, held by another process ..."),
              std::string::npos)
        << burn.err;
    sim::CSimBus tree(m_tree);
    EXPECT_EQ(Erases(tree), 0);
    EXPECT_EQ(Requests(tree, 5), 0) << "the target was powered while the burn waited";
    const std::vector<uint8_t> flash = tree.State(0).flash;
    EXPECT_EQ(std::string(flash.begin(), flash.end()), old);
}

// What others may put where the serial file's lock or the log goes: a FIFO at the lock is refused at
// once with the target never powered; a FIFO log with no reader, or a log another process holds
// locked until Ctrl+C, fails the line with its reason after a verified chip, and the status says so.
TEST_F(CliTest, FifosAndLocksOfOthersNeitherHangTheBurnNorLoseTheRecordSilently) {
    WriteFile(Path("firmware.bin"), std::string(16, '\x42'));
    ASSERT_EQ(mkfifo((Path("serial.txt") + ".lock").c_str(), 0666), 0);
    const RunResult fifoLock = Cli({"--chip", "AT89S52"}, {"burn", Path("firmware.bin"), "--serial", "0x1FF0",
                                                           "--serial-file", Path("serial.txt")});
    EXPECT_EQ(fifoLock.status, 1);
    EXPECT_NE(
        fifoLock.err.find("Serial Number : the lock " + Path("serial.txt") + ".lock is not a regular file"),
        std::string::npos)
        << fifoLock.err;
    EXPECT_EQ(Requests(sim::CSimBus(m_tree), 5), 0) << "powered for nothing";
    EXPECT_EQ(Erases(sim::CSimBus(m_tree)), 0);

    ASSERT_EQ(mkfifo(Path("fifo.log").c_str(), 0666), 0);
    const RunResult fifoLog = Cli({}, {"burn", Path("firmware.bin"), "--log", Path("fifo.log")});
    EXPECT_EQ(fifoLog.status, 1);
    EXPECT_NE(fifoLog.err.find("Production Log Not Written : cannot open the log " + Path("fifo.log") +
                               ": no process reads it"),
              std::string::npos)
        << fifoLog.err;
    EXPECT_NE(fifoLog.out.find("Data Verification Success"), std::string::npos) << fifoLog.out;

    WriteFile(Path("held.log"), "");
    const int held = open(Path("held.log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const Watcher ctrlC = [](pid_t group, const std::string& out, const std::string&) {
        if (out.find("Thankyou") == std::string::npos)
            return false;
        usleep(300 * 1000); // at the log's lock by now
        kill(-group, SIGINT);
        return true;
    };
    const auto start = std::chrono::steady_clock::now();
    const RunResult locked = Cli({}, {"burn", Path("firmware.bin"), "--log", Path("held.log")}, "", ctrlC);
    close(held);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8))
        << "the wait gave way to Ctrl+C";
    EXPECT_EQ(locked.status, 128 + SIGINT); // after the safe ending, by the signal
    EXPECT_NE(locked.err.find("Production Log Not Written : the log " + Path("held.log") +
                              " is locked by another process; aborted while waiting"),
              std::string::npos)
        << locked.err;
    EXPECT_EQ(locked.err.find("Cannot End Burner Thread"), std::string::npos) << locked.err;
    EXPECT_EQ(ReadFile(Path("held.log")), "");
}

// A log that is the firmware or the serial file would be written over them: refused as bad usage before
// anything is touched, the files as they were.
TEST_F(CliTest, ALogThatIsTheFirmwareOrTheSerialFileIsRefused) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    WriteFile(Path("serial.txt"), "next=5\n");
    fs::create_symlink("firmware.hex", Path("link.hex"));
    const struct {
        const char* what;
        std::string log;
        std::string names;
    } cases[] = {
        {"the firmware", Path("firmware.hex"), Path("firmware.hex")},
        {"the firmware by another name", Path("link.hex"), Path("firmware.hex")},
        {"the serial file", Path("serial.txt"), Path("serial.txt")},
    };
    for (const auto& c : cases) {
        const RunResult run =
            Cli({"--chip", "AT89S52"}, {"burn", Path("firmware.hex"), "--serial", "0x1FF0", "--serial-file",
                                        Path("serial.txt"), "--log", c.log});
        EXPECT_EQ(run.status, 2) << c.what << ": " << run.err;
        EXPECT_NE(run.err.find("is the file " + c.names), std::string::npos) << c.what << ": " << run.err;
        EXPECT_TRUE(sim::CSimBus(m_tree).VendorTranscript().empty()) << c.what;
    }
    EXPECT_EQ(ReadFile(Path("firmware.hex")), kFirmwareHex);
    EXPECT_EQ(ReadFile(Path("serial.txt")), "next=5\n");
}

// A PowerOff that fails after a verified chip: the log line says failed, with the reason, as the exit
// status does.
TEST_F(CliTest, AFailedPowerOffIsWhatTheLogSays) {
    WriteFile(Path("firmware.bin"), std::string(16, '\x42'));
    ASSERT_EQ(Cli({"--chip", "AT89S52"}, {"burn", Path("firmware.bin")}).status, 0);
    const std::vector<sim::TranscriptEntry> transcript = sim::CSimBus(m_tree).VendorTranscript();
    long last = 0; // the number of the last PowerOff among the vendor requests
    for (size_t i = 0; i < transcript.size(); ++i)
        if (transcript[i].request == 6)
            last = static_cast<long>(i) + 1;
    ASSERT_GT(last, 0);
    fs::remove_all(m_tree);
    const RunResult run = Cli({"--chip", "AT89S52", "--fail-at", std::to_string(last)},
                              {"burn", Path("firmware.bin"), "--log", Path("log.jsonl")});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("Power Off Failed"), std::string::npos) << run.err;
    const std::string log = ReadFile(Path("log.jsonl"));
    EXPECT_NE(
        log.find("\"outcome\":\"failed\",\"failure\":\"Power Off Failed : the Target May Still be Powered\""),
        std::string::npos)
        << log;
}

// A number field outside the chip's flash, or over the file's data, is refused as bad usage before the
// programmer is touched, also without --chip (the largest chip's flash then), and takes no number;
// the hint for --force comes only where --force helps.
TEST_F(CliTest, ASerialFieldThatCannotBeWrittenIsRefusedFirst) {
    WriteFile(Path("firmware.bin"), std::string(32, '\x01'));
    const struct {
        const char* what;
        std::vector<std::string> args;
        bool forceHelps;
    } cases[] = {
        {"past the flash",
         {"--chip", "AT89S52", "burn", Path("firmware.bin"), "--serial", "0x1FFF,1,1,le2"},
         false},
        {"past every chip's flash", {"burn", Path("firmware.bin"), "--serial", "0x7FFF,1,1,le2"}, false},
        {"over the file's data",
         {"--chip", "AT89S52", "burn", Path("firmware.bin"), "--serial", "0x10"},
         true},
        {"over the file's data, the chip named by the socket",
         {"burn", Path("firmware.bin"), "--serial", "0x10"},
         true},
    };
    for (const auto& c : cases) {
        fs::remove_all(m_tree);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--serial-file", Path("serial.txt")});
        const RunResult run = Cli({"--chip", "AT89S52"}, args);
        EXPECT_EQ(run.status, 2) << c.what << ": " << run.err;
        EXPECT_NE(run.err.find("Serial Number : "), std::string::npos) << c.what << ": " << run.err;
        EXPECT_EQ(run.err.find("Give --force") != std::string::npos, c.forceHelps)
            << c.what << ": " << run.err;
        EXPECT_FALSE(fs::exists(Path("serial.txt"))) << c.what << ": no number was taken";
        EXPECT_TRUE(sim::CSimBus(m_tree).VendorTranscript().empty())
            << c.what << ": the programmer was touched";
    }
    // --force writes it over the data.
    fs::remove_all(m_tree);
    const RunResult forced = Cli({"--chip", "AT89S52"}, {"burn", Path("firmware.bin"), "--serial", "0x10",
                                                         "--serial-file", Path("serial.txt"), "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    const std::vector<uint8_t> flash = Flashes(m_tree)[0];
    EXPECT_EQ(flash[0x10], 1);
    EXPECT_EQ(flash[0x11], 0);
}

TEST_F(CliTest, ConvertLoadsAsOpenAndSavesAsSaveWithTheirMessages) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    WriteFile(Path("short.bin"), FirmwareImage(8192).substr(0, 20));
    WriteFile(Path("large.bin"), std::string(2049, '\0'));
    WriteFile(Path("broken.hex"), ":0400100001020304E2\r\n:04001X00\r\n:00000001FF\r\n");
    WriteFile(Path("old.hex"), "earlier contents");

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
        std::string written; // what OUT holds afterwards ("" for no file)
    };
    const std::string shortHex = ":10000000020030758108D2AFD2A8C2B580FE22FFAF\r\n"
                                 ":1000100001020304FFFFFFFFFFFFFFFFFFFFFFFFE2\r\n:00000001FF\r\n";
    const Case cases[] = {
        {{"--chip", "AT89S52", "convert", Path("firmware.hex"), Path("out.hex")},
         0,
         "HEX file loaded successfully\n",
         "",
         ":10000000020030758108D2AFD2A8C2B580FE22FFAF\r\n:1000100001020304FFFFFFFFFFFFFFFFFFFFFFFFE2\r\n"
         ":101FF000FFFFFFFFFFFFFFFFFFFFFFFFFFA5A55A4A\r\n:00000001FF\r\n"},
        {{"--chip", "AT89S2051", "convert", Path("short.bin"), Path("out.hex")},
         0,
         "BIN File loaded successfully\n",
         "",
         shortHex},
        // .bin is written as raw binary of exactly the chip's size, as read writes it.
        {{"--chip", "AT89S52", "convert", Path("firmware.hex"), Path("out.bin")},
         0,
         "HEX file loaded successfully\n",
         "",
         FirmwareImage(8192)},
        // Past the AT89S2051's 2048 bytes: nothing is written.
        {{"--chip", "at89s2051", "convert", Path("large.bin"), Path("out.hex")},
         1,
         "",
         "File Too Large for Selected MCU\nCannot Load BIN File\n",
         ""},
        // Strict by default: the file and line of the failure; --lenient reads as Open does.
        {{"--chip", "AT89S52", "convert", Path("broken.hex"), Path("out.hex")},
         1,
         "",
         Path("broken.hex") + ":2: 'X' in column 7 is not a hexadecimal digit\n",
         ""},
        {{"--chip", "AT89S52", "--lenient", "convert", Path("broken.hex"), Path("out.hex")},
         1,
         "",
         "Invalid Hex line\n",
         ""},
        // The file and the system's reason follow the product's message.
        {{"--chip", "AT89S52", "convert", Path("missing.hex"), Path("out.hex")},
         1,
         "",
         "Cannot open hex file\n" + Path("missing.hex") + ": No such file or directory\n",
         ""},
        // The last record lies beyond an AT89S51's 4096 bytes.
        {{"--chip", "AT89S51", "convert", Path("firmware.hex"), Path("out.hex")},
         1,
         "",
         Path("firmware.hex") + ":3: address 1FFD lies outside the flash (4096 bytes)\n",
         ""},
        {{"--chip", "AT89S52", "convert", Path("firmware.hex"), Path("no/such/folder/out.hex")},
         1,
         "HEX file loaded successfully\n",
         "Cannot Write to file\n" + Path("no/such/folder/out.hex") + ": No such file or directory\n",
         ""},
        // Save replaces an earlier file whatever its name says.
        {{"--chip", "AT89S2051", "convert", Path("short.bin"), Path("old.hex")},
         0,
         "BIN File loaded successfully\n",
         "",
         shortHex},
    };
    for (const Case& c : cases) {
        fs::remove(Path("out.hex"));
        fs::remove(Path("out.bin"));
        const RunResult run = Offline(c.args);
        const std::string& in = c.args[c.args.size() - 2];
        EXPECT_EQ(run.status, c.status) << in;
        EXPECT_EQ(run.out, c.out) << in;
        EXPECT_EQ(run.err, c.err) << in;
        const std::string& outPath = c.args.back();
        EXPECT_EQ(fs::exists(outPath) ? ReadFile(outPath) : "", c.written) << in;
    }
}

// A digit corrupted in transit: the desktop's reading burns it and "verifies" it; the command line
// refuses it before the programmer is touched, naming the file and the line.
TEST_F(CliTest, FirmwareFilesAreReadStrictlyUnlessLenient) {
    std::string corrupted = kFirmwareHex;
    corrupted[corrupted.find(":0400100001020304E2") + 12] = '9'; // 01020304 -> 01020394
    WriteFile(Path("corrupted.hex"), corrupted);
    for (const char* command : {"burn", "verify"}) {
        const RunResult run = Cli(fs::exists(m_tree) ? std::vector<std::string>{}
                                                     : std::vector<std::string>{"--chip", "AT89S52"},
                                  {command, Path("corrupted.hex")});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.err,
                  Path("corrupted.hex") + ":2: checksum E2 does not match the record (its bytes need DB)\n")
            << command;
        EXPECT_EQ(run.out, "") << command;
    }
    EXPECT_TRUE(sim::CSimBus(m_tree).VendorTranscript().empty()) << "the programmer was never touched";

    const RunResult lenient = Cli({}, {"--lenient", "burn", Path("corrupted.hex")});
    EXPECT_EQ(lenient.status, 0) << lenient.err;
    EXPECT_TRUE(Has(Texts(lenient.out), "[+] Data Verification Success"));

    // srec_cat's default output starts with an extended linear address record.
    WriteFile(Path("fw.bin"), FirmwareImage(8192));
    ASSERT_EQ(
        std::system(("srec_cat " + Path("fw.bin") + " -binary -o " + Path("srec.hex") + " -intel").c_str()),
        0);
    ASSERT_EQ(ReadFile(Path("srec.hex")).rfind(":020000040000FA", 0), 0u);
    const RunResult burn = Cli({}, {"burn", Path("srec.hex")});
    EXPECT_EQ(burn.status, 0) << burn.err;
    EXPECT_TRUE(Has(Texts(burn.out), ChecksumRow(FirmwareImage(8192))));
    const RunResult refused = Cli({}, {"--lenient", "verify", Path("srec.hex")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Invalid record type in HEX line\n");
}

// --json: one object per command on standard output, in the documented order of keys, the rows on
// standard error (none with --quiet); a burn gives the production log's line for each chip.
TEST_F(CliTest, JsonGivesTheResultOnStandardOutputAndTheRowsOnStandardError) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    WriteFile(Path("other.bin"), std::string(16, '\x5A'));
    const std::string crc =
        HexOf(Crc32(reinterpret_cast<const uint8_t*>(FirmwareImage(8192).data()), 8192), 8);
    const std::vector<std::string> chipKeys = {"command",     "time",    "version",       "result",
                                               "exit_status", "failure", "programmer",    "product",
                                               "signature",   "chip",    "chip_requested"};
    const auto keys = [&](std::vector<std::string> tail) { return Join(chipKeys, tail); };

    const RunResult list = Cli({"--chip", "AT89S52"}, {"list", "--json"});
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<Json> objects = JsonLines(list.out);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].Keys(),
              (std::vector<std::string>{"command", "time", "version", "exit_status", "programmers"}));
    ASSERT_EQ(objects[0]["programmers"].items.size(), 1u);
    const Json& programmer = objects[0]["programmers"].items[0];
    EXPECT_EQ(programmer["programmer"].text, "001/001");
    EXPECT_EQ(programmer["product"].text, "Veltro-8051");
    EXPECT_TRUE(programmer["usable"].boolean);
    EXPECT_TRUE(
        std::regex_match(objects[0]["time"].text, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));

    // Two chips with --more: a line for each, as the log writes it, while the rows go to standard error.
    const RunResult burn =
        Cli({}, {"burn", Path("firmware.hex"), "--json", "--more", "--chip", "AT89S52"}, "y\nn\n");
    ASSERT_EQ(burn.status, 0) << burn.err;
    objects = JsonLines(burn.out);
    ASSERT_EQ(objects.size(), 2u) << burn.out;
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(
            objects[k].Keys(),
            (std::vector<std::string>{"time", "host", "version", "programmer", "product", "signature", "chip",
                                      "chip_requested", "file", "file_sha256", "file_crc32", "file_sum16",
                                      "serial", "lock_mode", "outcome", "failure", "duration_ms"}));
        EXPECT_EQ(objects[k]["outcome"].text, "verified");
        EXPECT_EQ(objects[k]["chip_requested"].text, "AT89S52");
        EXPECT_EQ(objects[k]["file_crc32"].text, crc);
        EXPECT_TRUE(objects[k]["serial"].IsNull());
    }
    EXPECT_TRUE(Has(Texts(burn.err), "[+] Data Verification Success"));

    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> keys;
        std::string result;
        std::function<void(const Json&)> check;
    };
    const Case cases[] = {
        {{"info"},
         0,
         keys({"lock_status", "lock_mode", "speed_code", "speed_khz"}),
         "done",
         [](const Json& o) {
             EXPECT_EQ(o["signature"].text, "1E 52 06");
             EXPECT_EQ(o["chip"].text, "AT89S52");
             EXPECT_EQ(o["lock_mode"].number, 1);
             EXPECT_EQ(o["speed_khz"].number, 3000);
             EXPECT_TRUE(o["failure"].IsNull());
         }},
        {{"verify", Path("firmware.hex")},
         0,
         keys({"file", "file_sha256", "file_crc32", "file_sum16", "differences", "first_difference"}),
         "done",
         [&](const Json& o) {
             EXPECT_EQ(o["file_crc32"].text, crc);
             EXPECT_EQ(o["differences"].number, 0);
             EXPECT_TRUE(o["first_difference"].IsNull());
         }},
        {{"verify", Path("other.bin")},
         1,
         keys({"file", "file_sha256", "file_crc32", "file_sum16", "differences", "first_difference"}),
         "mismatch",
         [&](const Json& o) {
             EXPECT_EQ(o["file"].text, Path("other.bin"));
             EXPECT_GT(o["differences"].number, 0);
             EXPECT_EQ(o["first_difference"].number, 0);
             EXPECT_FALSE(o["failure"].text.empty());
         }},
        {{"read", Path("chip.hex")},
         0,
         keys({"file", "saved", "bytes", "flash_sha256", "flash_crc32", "flash_sum16"}),
         "done",
         [&](const Json& o) {
             EXPECT_TRUE(o["saved"].boolean);
             EXPECT_EQ(o["bytes"].number, 8192);
             EXPECT_EQ(o["flash_crc32"].text, crc);
         }},
        {{"blank"},
         1,
         keys({"differences", "first_difference"}),
         "not_blank",
         [](const Json& o) { EXPECT_EQ(o["first_difference"].number, 0); }},
        {{"erase"},
         0,
         keys({"differences", "first_difference"}),
         "done",
         [](const Json& o) { EXPECT_EQ(o["differences"].number, 0); }},
        {{"blank", "--quiet"}, 0, keys({"differences", "first_difference"}), "done", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const RunResult run = Cli({}, args);
        SCOPED_TRACE(args[0] + " " + run.err);
        EXPECT_EQ(run.status, c.status);
        objects = JsonLines(run.out);
        ASSERT_EQ(objects.size(), 1u);
        EXPECT_EQ(objects[0].Keys(), c.keys);
        EXPECT_EQ(objects[0]["command"].text, args[0]);
        EXPECT_EQ(objects[0]["result"].text, c.result);
        EXPECT_EQ(objects[0]["exit_status"].number, c.status);
        if (c.check)
            c.check(objects[0]);
        const bool quiet = std::find(args.begin(), args.end(), "--quiet") != args.end();
        EXPECT_EQ(Has(Texts(run.err), "[+] Hardware Test OK"), !quiet) << "the rows, on standard error";
    }
    EXPECT_EQ(ReadFile(Path("chip.hex")).substr(0, 45), ":10000000020030758108D2AFD2A8C2B580FE22FFAF\r\n");

    // Without a programmer the result still comes, with its status.
    for (const char* command : {"list", "info"}) {
        const RunResult none = Offline({command, "--json"});
        EXPECT_EQ(none.status, 3) << command;
        objects = JsonLines(none.out);
        ASSERT_EQ(objects.size(), 1u) << command;
        EXPECT_EQ(objects[0]["exit_status"].number, 3);
        if (std::string(command) == "list")
            EXPECT_TRUE(objects[0]["programmers"].items.empty());
        else
            EXPECT_EQ(objects[0]["result"].text, "no_programmer");
    }
}

// "-" as a file: standard input read once, before the programmer; standard output holding only the
// image, the rows and messages on standard error.
TEST_F(CliTest, StandardInputAndOutputServeAsFiles) {
    const std::string image = FirmwareImage(8192);
    const auto offline = [&](const std::vector<std::string>& args, const std::string& input) {
        std::vector<std::string> argv = {kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, m_config, input);
    };
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    const RunResult toFile =
        offline({"--chip", "AT89S52", "convert", Path("firmware.hex"), Path("saved.hex")}, "");
    ASSERT_EQ(toFile.status, 0);

    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;
        std::string err;
    };
    const std::string loaded = "HEX file loaded successfully\n";
    const Case cases[] = {
        {{"convert", "-", Path("out.bin"), "--format", "hex"}, kFirmwareHex, 0, loaded, ""},
        {{"convert", Path("firmware.hex"), "-", "--format", "bin"}, "", 0, image, loaded},
        {{"convert", Path("firmware.hex"), "-", "--format", "hex"},
         "",
         0,
         ReadFile(Path("saved.hex")),
         loaded},
        {{"convert", "-", "-", "--format", "bin"},
         image.substr(0, 20),
         0,
         image.substr(0, 20) + std::string(8172, '\xFF'),
         "BIN File loaded successfully\n"},
        {{"dump", "--sum", "-", "--format", "hex"}, kFirmwareHex, 0, ChecksumRow(image).substr(4) + "\n", ""},
        {{"convert", "-", Path("out.bin"), "--format", "bin"},
         std::string(8193, '\0'),
         1,
         "",
         "File Too Large for Selected MCU\nCannot Load BIN File\n"},
        {{"convert", "-", Path("out.bin"), "--format", "hex"},
         ":0400100001020304E2\n",
         1,
         "",
         "standard input:1: the file ends without an end-of-file record (:00000001FF)\n"},
        // An empty pipe (the tool before it failed) is no image of 0xFF bytes.
        {{"convert", "-", Path("out.bin"), "--format", "bin"},
         "",
         1,
         "",
         "standard input: empty, no firmware was read\nCannot Load BIN File\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--chip", "AT89S52"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult run = offline(args, c.input);
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.out == c.out) << "standard output holds " << run.out.size() << " bytes";
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_EQ(ReadFile(Path("out.bin")), image) << "from standard input";

    // A burn from standard input refuses a corrupted file before it touches the programmer.
    std::string corrupted = kFirmwareHex;
    corrupted[corrupted.find(":0400100001020304E2") + 12] = '9';
    const RunResult refused = Cli({"--chip", "AT89S52"}, {"burn", "-", "--format", "hex"}, corrupted);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "standard input:2: checksum E2 does not match the record (its bytes need DB)\n");
    EXPECT_TRUE(sim::CSimBus(m_tree).VendorTranscript().empty());
    const RunResult empty = Cli({"--chip", "AT89S52"}, {"burn", "-", "--format", "bin"}, "");
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(sim::CSimBus(m_tree).VendorTranscript().empty()) << "an empty input erased the chip";

    const RunResult burn = Cli({}, {"burn", "-", "--format", "hex"}, kFirmwareHex);
    EXPECT_EQ(burn.status, 0) << burn.err;
    EXPECT_TRUE(Has(Texts(burn.out), "[+] Data Verification Success"));
    const RunResult verify = Cli({}, {"verify", "-", "--format", "bin"}, image);
    EXPECT_EQ(verify.status, 0) << verify.err;

    const RunResult read = Cli({}, {"read", "-", "--format", "bin"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_TRUE(read.out == image) << "only the flash on standard output";
    EXPECT_EQ(Lines(read.err).back(), "Flash Read Success");
    EXPECT_TRUE(Has(Texts(read.err), "[+] Flash Read"));
}

TEST_F(CliTest, DumpShowsTheHexViewOfTheChipTheDesktopApplicationStored) {
    WriteFile(Path("firmware.hex"), kFirmwareHex);
    WriteFile(Path("short.bin"), FirmwareImage(8192).substr(0, 20));
    // The desktop application's choice, in its settings file: AT89S4051, 4096 bytes, 256 rows.
    ASSERT_TRUE(CIniSettingsStore(m_config + "/Mardane/Veltro 51.conf").WriteInt("State", "SelectedChip", 1));

    // The chip taken is named beside the rows, so that a CRC-32 of another chip's size is no surprise.
    const std::string named =
        "Chip : AT89S4051, the desktop application's selected chip (--chip names another)\n";
    const RunResult dump = Offline({"dump", Path("short.bin")});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.err, named);
    const std::vector<std::string> rows = Lines(dump.out);
    ASSERT_EQ(rows.size(), 256u) << "the load message is no row";
    EXPECT_EQ(rows[0], "0000 - 02 00 30 75 81 08 D2 AF D2 A8 C2 B5 80 FE 22 FF");
    EXPECT_EQ(rows[1], "0010 - 01 02 03 04 FF FF FF FF FF FF FF FF FF FF FF FF");
    EXPECT_EQ(rows[255], "0FF0 - FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF");

    // --chip wins over the stored choice.
    const RunResult large = Offline({"--chip", "AT89S52", "dump", Path("firmware.hex")});
    ASSERT_EQ(Lines(large.out).size(), 512u);
    EXPECT_EQ(Lines(large.out)[511], "1FF0 - FF FF FF FF FF FF FF FF FF FF FF FF FF A5 A5 5A");

    // --sum: the checksums that burn, read and verify print, of the image within the chip's size.
    const RunResult sum = Offline({"--chip", "AT89S52", "dump", "--sum", Path("firmware.hex")});
    EXPECT_EQ(sum.status, 0);
    EXPECT_EQ(sum.out, ChecksumRow(FirmwareImage(8192)).substr(4) + "\n");
    EXPECT_EQ(sum.err, "") << "--chip named it";
    const RunResult storedSum = Offline({"dump", "--sum", Path("short.bin")});
    EXPECT_EQ(storedSum.out,
              ChecksumRow(FirmwareImage(8192).substr(0, 20) + std::string(4096 - 20, '\xFF')).substr(4) +
                  "\n");
    EXPECT_EQ(storedSum.err, named);
    const RunResult converted = Offline({"convert", Path("short.bin"), Path("out.bin")});
    EXPECT_EQ(converted.status, 0);
    EXPECT_EQ(converted.err, named);
    EXPECT_EQ(ReadFile(Path("out.bin")).size(), 4096u);
}

TEST_F(CliTest, BadUsageExitsWithTwoAndAOneLineHintAndDoesNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--chip", "AT89C52", "info"},
        {"--chip"},
        {"--colour", "list"},
        {"--programmer", "001", "list"},
        {"speed", "--set", "1000"},
        {"lock", "--write", "5"},
        {"burn", "--lock", "0", "a.hex"},
        {"burn"},
        {"convert", "a.hex"},
        {"list", "extra"},
        {"read", "out.txt"},
        {"read", "out.bin", "--lock", "2"},
        {"speed", "--more"},
        {"speed", "--force"},
        {"burn", "--sum", "a.hex"},
        {"verify"},
        {"verify", "a.txt"},
        {"--more=yes", "burn", "a.hex"},
        {"burn", "-"},
        {"convert", "a.hex", "-"},
        {"burn", "a.hex", "--format", "elf"},
        {"read", "-", "--format", "bin", "--json"},
        {"burn", "-", "--format", "hex", "--more"},
        {"burn", "a.hex", "--all", "--json"},
        {"burn", "-", "--format", "hex", "--all"},
        {"read", "out.bin", "--lenient"},
        {"lock", "--json"},
        {"dump", "a.img"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const std::string& arg : args)
            line += arg + " ";
        const RunResult run = Offline(args);
        EXPECT_EQ(run.status, 2) << line;
        EXPECT_EQ(run.out, "") << line;
        EXPECT_EQ(Lines(run.err).size(), 1u) << line << ": " << run.err;
        EXPECT_TRUE(std::regex_match(run.err, std::regex("veltro51-cli: .*--help.*\n")))
            << line << ": " << run.err;
    }

    const RunResult help = Offline({"burn", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: veltro51-cli [--chip NAME] [--programmer BUS/DEVICE] COMMAND ...\n", 0),
              0u);
    const RunResult version = Offline({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("veltro51-cli ") + VELTRO_VERSION + "\n" + VELTRO_COPYRIGHT + "\n" +
                               VELTRO_LICENCE_NOTICE + "\n");
}

// The names in a folder that a save's temporary would have.
std::vector<std::string> Temporaries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind(".veltro51-", 0) == 0)
            names.push_back(entry.path().filename().string());
    return names;
}

// Under a file-size limit (ulimit -f) the program is not ended by SIGXFSZ: the write fails, the
// earlier file stays, and nothing claims a success.
TEST_F(CliTest, AFileSizeLimitFailsTheSaveWithItsMessageAndNoSuccess) {
    std::vector<uint8_t> flash(8192); // no blank row: the HEX file is as large as it gets
    for (size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<uint8_t>(i * 5 + 1);
    WriteFile(Path("full.bin"), std::string(flash.begin(), flash.end()));
    ASSERT_EQ(Cli({"--chip", "AT89S52"}, {"list"}).status, 0); // makes the tree
    sim::CSimBus(m_tree).SetFlash(0, flash);
    // The transcript would outgrow the limit first: it goes nowhere for these runs.
    fs::remove(m_tree + "/.transcript");
    fs::create_symlink("/dev/null", m_tree + "/.transcript");
    const BeforeExec limit = [] {
        rlimit small{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &small);
    };
    const std::vector<std::string> commands[] = {
        {"--chip", "AT89S52", "read", Path("out.bin")},
        {"--chip", "AT89S52", "read", Path("out.hex")},
        {"--chip", "AT89S52", "convert", Path("full.bin"), Path("out.hex")},
    };
    for (const auto& args : commands) {
        SCOPED_TRACE(args[2] + " " + args.back());
        WriteFile(args.back(), "earlier contents");
        const RunResult run = args[2] == "read" ? Cli({}, args, "", {}, limit) : Offline(args, limit);
        EXPECT_EQ(run.status, 1) << "not ended by SIGXFSZ (153)";
        EXPECT_EQ(run.err, "Cannot Write to file\n" + args.back() + ": " + std::strerror(EFBIG) + "\n");
        EXPECT_EQ(run.out.find(MSG_READ_SUCCESS), std::string::npos) << run.out;
        EXPECT_EQ(ReadFile(args.back()), "earlier contents");
        EXPECT_EQ(Temporaries(m_folder), std::vector<std::string>{});
    }
}

// As root, where every access check passes: a target that no one may write, and a link that another
// user planted in a sticky folder anyone may write (as /tmp) or that points at nothing, are refused
// with the system's reason, and nothing is written anywhere.
TEST_F(CliTest, AsRootReadAndConvertRefuseReadOnlyTargetsAndPlantedLinks) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a link away and passes every access check";
    constexpr uid_t NOBODY = 65534;
    WriteFile(Path("firmware.bin"), std::string(16, '\x5A'));
    ASSERT_EQ(Cli({"--chip", "AT89S2051"}, {"list"}).status, 0); // makes the tree
    const std::string earlier = "earlier contents";
    const struct Case {
        const char* what;
        std::function<std::string()> setup; // makes the target, returns it
        const char* reason;
        bool alsoRead; // through read as well (a chip read takes seconds; the save is the same)
    } cases[] = {
        {"a read-only file",
         [&] {
             WriteFile(Path("out.hex"), earlier);
             chmod(Path("out.hex").c_str(), 0444);
             return Path("out.hex");
         },
         "Permission denied", true},
        {"a file in a read-only folder",
         [&] {
             fs::create_directory(Path("locked"));
             WriteFile(Path("locked/out.hex"), earlier);
             chmod(Path("locked").c_str(), 0555);
             return Path("locked/out.hex");
         },
         "Permission denied", false},
        {"another user's link in a sticky folder anyone may write",
         [&] {
             fs::create_directory(Path("shared"));
             chmod(Path("shared").c_str(), 01777);
             fs::create_symlink(Path("victim.hex"), Path("shared/out.hex"));
             EXPECT_EQ(lchown(Path("shared/out.hex").c_str(), NOBODY, NOBODY), 0);
             return Path("shared/out.hex");
         },
         "Permission denied", true},
        {"a link to nothing",
         [&] {
             fs::create_symlink(Path("nothing.hex"), Path("dangling.hex"));
             return Path("dangling.hex");
         },
         "No such file or directory", false},
    };
    for (const Case& c : cases) {
        for (const bool read : {true, false}) {
            if (read && !c.alsoRead)
                continue;
            SCOPED_TRACE(std::string(c.what) + (read ? ", read" : ", convert"));
            WriteFile(Path("victim.hex"), earlier);
            const std::string target = c.setup();
            const RunResult run =
                read ? Cli({}, {"--chip", "AT89S2051", "read", target})
                     : Offline({"--chip", "AT89S2051", "convert", Path("firmware.bin"), target});
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "Cannot Write to file\n" + target + ": " + c.reason + "\n");
            EXPECT_EQ(run.out.find(MSG_READ_SUCCESS), std::string::npos) << run.out;
            EXPECT_EQ(ReadFile(Path("victim.hex")), earlier);
            EXPECT_FALSE(fs::exists(Path("nothing.hex")));
            for (const char* kept : {"out.hex", "locked/out.hex"})
                EXPECT_TRUE(!fs::exists(Path(kept)) || ReadFile(Path(kept)) == earlier) << kept;
            chmod(Path("locked").c_str(), 0755);
            for (const char* name : {"out.hex", "locked", "shared", "dangling.hex"})
                fs::remove_all(Path(name));
            EXPECT_EQ(Temporaries(m_folder), std::vector<std::string>{});
        }
    }
}

// A settings file in the way that is no file (a FIFO without writer, a link to an endless device)
// reads as missing at once: the chip is the default one, as without a settings file.
TEST_F(CliTest, SettingsThatAreNoFileDoNotHoldUpTheTool) {
    WriteFile(Path("short.bin"), FirmwareImage(8192).substr(0, 20));
    const BeforeExec deadline = [] { alarm(20); }; // a hang ends as SIGALRM (142)
    const RunResult plain = Offline({"dump", Path("short.bin")}, deadline);
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string settings = m_config + "/Mardane/Veltro 51.conf";
    fs::create_directories(m_config + "/Mardane");
    const std::function<void()> makers[] = {
        [&] { mkfifo(settings.c_str(), 0600); },
        [&] { fs::create_symlink("/dev/zero", settings); },
    };
    for (const auto& make : makers) {
        fs::remove(settings);
        make();
        const RunResult run = Offline({"dump", Path("short.bin")}, deadline);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, plain.out);
    }
}

} // namespace
