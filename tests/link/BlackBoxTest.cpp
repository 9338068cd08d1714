// A program that does not link the simulator, run under veltro51-sim or with libveltrosim.so
// preloaded, and on this machine's own USB.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/wait.h>

#include "sim/SimApi.h"

namespace fs = std::filesystem;

namespace {

struct RunResult {
    int status;
    std::string output;
};

// Runs a shell command line with a clean simulator environment; stdout only.
RunResult Shell(const std::string& command) {
    std::string clean =
        "unset USB_DEVFS_PATH LD_PRELOAD; for v in $(env | grep -o '^VELTRO_SIM_[A-Z_]*'); do unset $v; "
        "done; ";
    // A sanitized probe refuses a preloaded library unless its runtime comes first; it still works.
    clean += "export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0; ";
    FILE* pipe = popen((clean + command).c_str(), "r");
    if (pipe == nullptr)
        return {-1, {}};
    std::string output;
    std::array<char, 256> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr)
        output += buffer.data();
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

const std::string kProbe = VELTRO_PROBE;
const std::string kSim = VELTRO_SIM_PROGRAM;
const std::string kLibrary = VELTRO_SIM_LIBRARY;

class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltro-blackbox-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_tree = m_folder + "/chip";
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string m_folder;
    std::string m_tree;
};

TEST(BlackBox, AProgramFindsTheSimulatedProgrammerUnderVeltro51Sim) {
    const RunResult run = Shell(kSim + " --chip at89s51 -- " + kProbe);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "product: Veltro-8051\nsignature: 1E 51 06\n");

    EXPECT_EQ(Shell(kSim + " --chip none " + kProbe).output, "product: Veltro-8051\nsignature: FF FF FF\n");
    EXPECT_EQ(Shell(kSim + " --programmers 0 -- " + kProbe).status, 2);
    EXPECT_EQ(Shell(kSim + " --product Veltro-8052 -- " + kProbe).status, 2);
    EXPECT_EQ(Shell(kSim + " --access-denied -- " + kProbe).status, 3);
    EXPECT_EQ(Shell(kSim + " --identity talmore -- " + kProbe).status, 1);
    EXPECT_EQ(Shell(kSim + " --fail-at 2 --fail-kind timeout --instant-timeouts -- " + kProbe).status, 1);
    EXPECT_EQ(Shell("VELTRO_SIM_CHIP=AT89S8253 " + kSim + " -- " + kProbe).output,
              "product: Veltro-8051\nsignature: 1E 73 00\n");
    EXPECT_EQ(Shell(kSim + " --programmers 3 -- " + kProbe + " list").output,
              "001/001 \"Veltro-8051\"\n002/001 \"Veltro-8051\"\n003/001 \"Veltro-8051\"\n");
}

TEST(BlackBox, Veltro51SimReportsItsOwnFailuresApartFromTheProgramsStatus) {
    EXPECT_EQ(Shell(kSim + " --chip AT89C52 -- true 2>/dev/null").status, 125);
    EXPECT_EQ(Shell(kSim + " --fail-kind sometimes -- true 2>/dev/null").status, 125);
    EXPECT_EQ(Shell(kSim + " --no-such-option -- true 2>/dev/null").status, 125);
    EXPECT_EQ(Shell(kSim + " 2>/dev/null").status, 125);
    EXPECT_EQ(Shell(kSim + " -- /nonexistent/program 2>/dev/null").status, 127);
    EXPECT_EQ(Shell(kSim + " -- sh -c 'exit 7'").status, 7);
    EXPECT_EQ(Shell(kSim + " -- sh -c 'test -f \"$USB_DEVFS_PATH/001/001\" && echo \"$LD_PRELOAD\"'").output,
              fs::canonical(kLibrary).string() + "\n");
}

TEST_F(TempTree, TwoRunsShareOneChipThroughAKeptTree) {
    const std::string sim = kSim + " --tree " + m_tree + " -- " + kProbe;
    EXPECT_EQ(Shell(kSim + " --tree " + m_tree + " --chip AT89S52 -- " + kProbe +
                    " write 0x0100 1 2 3 4 0x50 0x60 0x70 0x80")
                  .status,
              0);
    EXPECT_EQ(Shell(sim + " read 0x0100").output, "01 02 03 04 50 60 70 80\n");
    EXPECT_EQ(Shell(sim + " write 0x0100 0xF0 0xF0 0xF0 0xF0 0xF0 0xF0 0xF0 0xF0").status, 0);
    EXPECT_EQ(Shell(sim + " read 0x0100").output, "00 00 00 00 50 60 70 80\n");

    // A fault given for a kept tree applies from then on; the chip stays.
    EXPECT_EQ(Shell(kSim + " --tree " + m_tree + " --fail-at 1 -- " + kProbe + " read 0x0100").status, 1);
    EXPECT_EQ(Shell(kSim + " --tree " + m_tree + " --fail-at 0 -- " + kProbe + " read 0x0100").status, 0);
    EXPECT_EQ(Shell(kSim + " --tree " + m_tree + " -- " + kProbe + " erase").status, 0);

    sim::CSimBus attached(m_tree);
    ASSERT_EQ(attached.DeviceCount(), 1);
    const sim::DeviceState state = attached.State(0);
    EXPECT_EQ(state.flash.size(), 8192u);
    EXPECT_EQ(state.flash[0x104], 0xFF);
    std::vector<int> requests;
    for (const sim::TranscriptEntry& entry : attached.VendorTranscript())
        requests.push_back(entry.request);
    EXPECT_EQ(requests, (std::vector<int>{8, 7, 8, 7, 7, 7, 10}))
        << "every run appends to the tree's transcript";
}

TEST(BlackBox, ThePreloadedLibraryMakesATreeFromItsVariables) {
    const std::string preload = "LD_PRELOAD=" + kLibrary + " ";
    EXPECT_EQ(Shell(preload + "VELTRO_SIM_CHIP=AT89S2051 " + kProbe).output,
              "product: Veltro-8051\nsignature: 1E 23 FF\n");
    EXPECT_EQ(Shell(preload + "VELTRO_SIM_STRING_UNREADABLE=1 " + kProbe).status, 2);
    const RunResult leftover = Shell(preload + "VELTRO_SIM_CHIP=none printenv USB_DEVFS_PATH");
    ASSERT_FALSE(leftover.output.empty());
    EXPECT_FALSE(fs::exists(leftover.output.substr(0, leftover.output.size() - 1))) << "removed at exit";
}

TEST(BlackBox, OpenFindsNothingOnThisMachinesOwnUsb) {
    std::error_code error;
    if (fs::exists("/dev/bus/usb", error) && !fs::is_empty("/dev/bus/usb", error))
        GTEST_SKIP() << "this machine has USB devices";
    const RunResult run = Shell(kProbe);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, "no programmer\n");
}

} // namespace
