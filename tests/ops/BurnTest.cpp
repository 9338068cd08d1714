// The burn worker against the simulated programmer, through the real libusb-0.1: rows, requests,
// waits, progress and the chip's flash afterwards. Waits are recorded, not slept.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>

#include "ops/Burn.h"
#include "ops/Format.h"
#include "link/Programmer.h"
#include "ops/Texts.h"
#include "OpsTestUtil.h"

using namespace opstest;

namespace {

using Rows = std::vector<std::string>;

const std::vector<int> CYCLE_WAITS = {500, 500, 250, 250, 250, 250, 1000, 500, 300};
const std::string LOWER = std::string("I ") + ROW_RECONNECT_LOWER;
const std::string UPPER = std::string("I ") + ROW_RECONNECT_UPPER;

std::string SignatureRow(const uint32_t s[3]) {
    char text[64];
    std::snprintf(text, sizeof text, ROW_SIGNATURE, s[0], s[1], s[2]);
    return std::string("I ") + text;
}

// The rows of a cycle from its start to the speed line before writing.
Rows RowsUpToWriting(int chip, const char* speedLine = ROW_SPEED[0]) {
    const ChipInfo& info = g_chipCatalogue[static_cast<size_t>(chip)];
    const uint8_t sig[3] = {static_cast<uint8_t>(info.signature[0]), static_cast<uint8_t>(info.signature[1]),
                            static_cast<uint8_t>(info.signature[2])};
    return {"I Initializing...",
            "I Detecting Programmer ...",
            "S Found:",
            "S Veltro-8051",
            "I Testing Programmer Hardware ...",
            "S Hardware Test OK",
            "I Powering On ...",
            "S Powered On Level 1",
            "S Powered On Level 2",
            "S Powered On Level 3",
            "S Powered On Level 4",
            "I Auto Detecting Chip ...",
            "S Found : " + ChipNameFromSignature(sig),
            SignatureRow(info.signature),
            "I Erasing Chip ...",
            "S Chip Erased",
            std::string("I ") + speedLine};
}

Rows Join(Rows rows, const Rows& more) {
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

Rows SuccessRows(int chip, const char* speedLine = ROW_SPEED[0]) {
    return Join(RowsUpToWriting(chip, speedLine),
                {"S Burn Process Completed Successfully", std::string("I ") + speedLine,
                 "S Data Verification Success", "S Burn Process Completed Successfully", "I Thankyou"});
}

Rows MismatchRows(int chip, const std::string& difference) {
    return Join(RowsUpToWriting(chip),
                {"S Burn Process Completed Successfully", "I Burn Process Started at 3000KHz",
                 "E Data Mismatch at:", "E " + difference, "E Task Failed", "I Thankyou, Please try again "});
}

Rows Tail(const Rows& rows, size_t n) {
    return n <= rows.size() ? Rows(rows.end() - static_cast<long>(n), rows.end()) : rows;
}

template <class T> long Count(const std::vector<T>& v, const std::function<bool(const T&)>& pred) {
    return std::count_if(v.begin(), v.end(), pred);
}

// One burn's world: a bus, recorders, flags and buffers. One rig (one bus) at a time.
struct CBurnRig {
    sim::CSimBus bus;
    CRecordingSleeper sleeper;
    CEventRecorder ui;
    std::atomic<int32_t> running{1};
    std::atomic<int32_t> abort{0};
    std::vector<uint8_t> image = std::vector<uint8_t>(BURN_BUFFER_SIZE, 0xFF);
    std::vector<uint8_t> readBack = std::vector<uint8_t>(BURN_BUFFER_SIZE, 0x00);
    BurnResult result;

    CProgrammer link;
    void Run(const BurnJob& job) { result = BurnThreadProc(link, job, ui, sleeper); }

    // The job for data (the rest of the buffer 0xFF), burned as a chip of flashSize bytes.
    BurnJob Job(const std::vector<uint8_t>& data, int flashSize) {
        std::copy(data.begin(), data.end(), image.begin());
        BurnJob job;
        job.image = image.data();
        job.readBack = readBack.data();
        job.lastAddress = flashSize - 1;
        job.running = &running;
        job.abort = &abort;
        return job;
    }

    // The requests of one whole cycle up to the PowerOff before the question.
    std::vector<Req> CycleRequests(int flashSize, const std::vector<int>& lockModes = {}) const {
        std::vector<Req> r = {{R_TEST, 0},     {R_POWER_ON, 0},  {R_POWER_ON, 0}, {R_POWER_ON, 0},
                              {R_POWER_ON, 0}, {R_SIGNATURE, 0}, {R_ERASE, 0},    {R_GET_SPEED, 0}};
        for (int a = 0; a < flashSize; a += 8)
            if (!IsBlankBlock(image.data() + a))
                r.push_back({R_WRITE_BLOCK, a});
        for (int a = 0; a < flashSize; a += 8)
            r.push_back({R_READ_BLOCK, a});
        for (int mode : lockModes)
            r.push_back({R_LOCK1 + mode - 1, 0});
        r.push_back({R_POWER_OFF, 0});
        return r;
    }
};

class WholeBurn : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(WholeBurn, OfEachChip) {
    const int chip = GetParam();
    const int size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
    CBurnRig rig;
    rig.bus.Add(Chip(chip));
    const std::vector<uint8_t> data = PatternImage(size, static_cast<unsigned>(chip));
    BurnJob job = rig.Job(data, size);

    rig.Run(job);

    EXPECT_EQ(rig.ui.Rows(), SuccessRows(chip));
    const Rows log = Join(Join({"cycle start"}, SuccessRows(chip)),
                          {"verified 1", "cycle end verified", "ask", "ended done"});
    EXPECT_EQ(rig.ui.Log(), log);
    EXPECT_EQ(VendorRequests(rig.bus), rig.CycleRequests(size));
    EXPECT_EQ(rig.sleeper.Waits(), CYCLE_WAITS);

    EXPECT_EQ(rig.bus.State(0).flash, data);
    EXPECT_FALSE(rig.bus.State(0).powered);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rig.readBack.begin()));

    // Both phases count their blocks together: half-way after writing, all after reading.
    const int blocks = 2 * size / 8;
    const auto progress = rig.ui.Progress();
    ASSERT_EQ(progress.size(), static_cast<size_t>(blocks));
    EXPECT_EQ(progress[0], std::make_pair(1, blocks));
    EXPECT_EQ(progress[static_cast<size_t>(size / 8 - 1)], std::make_pair(blocks / 2, blocks));
    EXPECT_EQ(progress.back(), std::make_pair(blocks, blocks));
    EXPECT_EQ(rig.ui.PhaseStarts(), 1);

    EXPECT_EQ(rig.result.ending, Result::Done);
    EXPECT_EQ(rig.result.chipsWritten, 1);
    EXPECT_EQ(rig.result.chipsFailed, 0);
    EXPECT_EQ(rig.running.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Chips, WholeBurn, ::testing::Range(0, CHIP_COUNT),
                         [](const auto& info) { return std::string(g_chipCatalogue[info.param].name); });

TEST(Burn, BlankImageWritesNothingAndReadsEverything) {
    CBurnRig rig;
    rig.bus.Add(Chip(3));
    BurnJob job = rig.Job({}, 8192);
    rig.Run(job);
    EXPECT_EQ(rig.ui.Rows(), SuccessRows(3));
    const std::vector<Req> requests = VendorRequests(rig.bus);
    EXPECT_EQ(requests, rig.CycleRequests(8192));
    EXPECT_EQ(Count<Req>(requests, [](const Req& r) { return r.request == R_WRITE_BLOCK; }), 0);
    EXPECT_EQ(rig.result.chipsWritten, 1);
}

TEST(Burn, ChipThatIgnoresWritesReportsTheFirstDifference) {
    CBurnRig rig;
    sim::DeviceConfig config = Chip(0);
    config.ignoreWrites = true;
    rig.bus.Add(config);
    std::vector<uint8_t> data(2048, 0xFF);
    data[0x123] = 0x5A;
    data[0x200] = 0x00;
    BurnJob job = rig.Job(data, 2048);
    rig.Run(job);

    EXPECT_EQ(rig.ui.Rows(), MismatchRows(0, "0x0123 CHIP: 0xFF | BUFFER: 0x5A"));
    const Rows log = rig.ui.Log();
    EXPECT_EQ(Count<std::string>(log, [](const std::string& e) { return e.rfind("verified", 0) == 0; }), 0)
        << "an unverified chip is not counted";
    EXPECT_EQ(Tail(log, 3), (Rows{"cycle end failed", "ask", "ended done"}));
    ASSERT_EQ(rig.ui.Reports().size(), 1u);
    EXPECT_EQ(rig.ui.Reports()[0].failure, "Data Mismatch at: 0x0123 CHIP: 0xFF | BUFFER: 0x5A");
    EXPECT_EQ(VendorRequests(rig.bus), rig.CycleRequests(2048));
    EXPECT_EQ(rig.result.chipsWritten, 0);
    EXPECT_EQ(rig.result.chipsFailed, 1);
    EXPECT_EQ(rig.result.ending, Result::Done);
}

TEST(Burn, NoProgrammer) {
    const Rows base = {"I Initializing...", "I Detecting Programmer ...",
                       "E No Valid Programmer Detected On System"};
    const struct Case {
        const char* what;
        std::function<void(sim::CSimBus&)> setup;
        Rows rows;
        bool inUse = false; // another connection holds the programmer
    } cases[] = {
        {"nothing attached", [](sim::CSimBus& bus) { bus.AddForeign(0x046D, 0xC31C); }, base},
        {"in use", [](sim::CSimBus& bus) { bus.Add(Chip(3)); },
         Join(base, {std::string("E ") + MSG_PROGRAMMER_BUSY}), true},
        {"another product string",
         [](sim::CSimBus& bus) {
             sim::DeviceConfig config = Chip(3);
             config.product = "Veltro-8051 ";
             bus.Add(config);
         },
         base},
        {"access denied",
         [](sim::CSimBus& bus) {
             sim::DeviceConfig config = Chip(3);
             config.accessDenied = true;
             bus.Add(config);
         },
         Join(base, {std::string("E ") + MSG_ACCESS_DENIED})},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        c.setup(rig.bus);
        CProgrammer holder;
        ASSERT_EQ(c.inUse && holder.Open(), c.inUse);
        BurnJob job = rig.Job(PatternImage(2048, 1), 2048);
        rig.Run(job);
        EXPECT_EQ(rig.ui.Rows(), c.rows) << c.what;
        EXPECT_EQ(rig.ui.Log().front(), "cycle start") << c.what;
        EXPECT_EQ(rig.ui.Log().back(), "ended failed") << c.what;
        EXPECT_EQ(VendorRequests(rig.bus), std::vector<Req>{}) << c.what;
        EXPECT_EQ(rig.sleeper.Waits(), std::vector<int>{500}) << c.what;
        EXPECT_EQ(rig.result.ending, Result::Failed) << c.what;
        EXPECT_EQ(rig.running.load(), 0) << c.what;
    }
}

TEST(Burn, ChipProblemsBeforeWriting) {
    const struct Case {
        const char* what;
        sim::DeviceConfig config;
        Rows tail;
        std::vector<Req> requests;
    } cases[] = {
        {"wrong identity",
         [] {
             sim::DeviceConfig c = Chip(3);
             c.identity = "talmore";
             return c;
         }(),
         {"I Testing Programmer Hardware ...", "E Programmer Not Responding"},
         {{R_TEST, 0}, {R_POWER_OFF, 0}}},
        {"empty socket",
         Chip(-1),
         {"I Auto Detecting Chip ...", "E No Chip Inserted Into Socket",
          "I Please Insert a Valid Chip into the Socket"},
         {{R_TEST, 0},
          {R_POWER_ON, 0},
          {R_POWER_ON, 0},
          {R_POWER_ON, 0},
          {R_POWER_ON, 0},
          {R_SIGNATURE, 0},
          {R_POWER_OFF, 0}}},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        rig.bus.Add(c.config);
        BurnJob job = rig.Job(PatternImage(8192, 2), 8192);
        rig.Run(job);
        EXPECT_EQ(Tail(rig.ui.Rows(), c.tail.size()), c.tail) << c.what;
        EXPECT_EQ(rig.ui.Log().back(), "ended failed") << c.what;
        EXPECT_EQ(VendorRequests(rig.bus), c.requests) << c.what;
        EXPECT_EQ(rig.result.ending, Result::Failed) << c.what;
        EXPECT_EQ(rig.running.load(), 0) << c.what;
    }
}

// A request failing at each stage that ends the burn: the step's rows, then PowerOff and nothing else.
TEST(Burn, RequestFailingAtEachStage) {
    // Four written blocks; requests: 1 test, 2-5 power, 6 signature, 7 erase, 8 speed, 9-12 write,
    // 13-268 read (256 blocks), then PowerOff.
    const std::vector<uint8_t> data(32, 0x42);
    const Rows writeFailed = {"I Burn Process Started at 3000KHz", "E Burn Process Failed",
                              "E Programmer Not Responding", UPPER};
    const Rows readFailed = {"I Burn Process Started at 3000KHz", "E Data Verification  Failed",
                             "E Programmer Not Responding", UPPER};
    const struct Case {
        const char* what;
        int failAt;
        sim::FailKind kind;
        Rows tail;
    } cases[] = {
        {"identity request",
         1,
         sim::FailKind::Stall,
         {"I Testing Programmer Hardware ...", "E Programmer Not Responding"}},
        {"identity times out",
         1,
         sim::FailKind::Timeout,
         {"I Testing Programmer Hardware ...", "E Programmer Not Responding"}},
        {"signature",
         6,
         sim::FailKind::Stall,
         {"I Auto Detecting Chip ...", "E Programmer Not Responding", LOWER}},
        {"erase", 7, sim::FailKind::Timeout, {"I Erasing Chip ...", "E Programmer Not Responding", LOWER}},
        {"first write", 9, sim::FailKind::Stall, writeFailed},
        {"short write", 11, sim::FailKind::Short, writeFailed},
        {"unplugged while writing", 12, sim::FailKind::Unplug, writeFailed},
        {"first read", 13, sim::FailKind::Stall, readFailed},
        {"short read", 100, sim::FailKind::Short, readFailed},
        {"unplugged while reading", 150, sim::FailKind::Unplug, readFailed},
        {"last read times out", 268, sim::FailKind::Timeout, readFailed},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        sim::DeviceConfig config = Chip(0);
        config.failAt = c.failAt;
        config.failKind = c.kind;
        rig.bus.Add(config);
        BurnJob job = rig.Job(data, 2048);
        const std::vector<Req> whole = rig.CycleRequests(2048);
        rig.Run(job);

        EXPECT_EQ(Tail(rig.ui.Rows(), c.tail.size()), c.tail) << c.what;
        EXPECT_EQ(rig.ui.Log().back(), "ended failed") << c.what;
        EXPECT_EQ(rig.result.ending, Result::Failed) << c.what;
        EXPECT_EQ(rig.result.chipsFailed, 1) << c.what;
        EXPECT_EQ(rig.running.load(), 0) << c.what;

        // Every request up to the failing one, then PowerOff (which an unplugged device refuses).
        const std::vector<Req> requests = VendorRequests(rig.bus);
        std::vector<Req> expected(whole.begin(), whole.begin() + c.failAt);
        expected.push_back({R_POWER_OFF, 0});
        EXPECT_EQ(requests, expected) << c.what;
        if (c.kind != sim::FailKind::Unplug) {
            EXPECT_FALSE(rig.bus.State(0).powered) << c.what;
        }
    }
}

TEST(Burn, FailedPowerOnStepAndSpeedReadAreReportedAndTheBurnGoesOn) {
    const struct Case {
        const char* what;
        int failAt;
        Rows rows;
    } cases[] = {
        // The stored speed code 2 shows as 188 kHz ...
        {"second PowerOn", 3,
         [] {
             Rows r = SuccessRows(2, ROW_SPEED[2]);
             r[8] = "E Continuing with Errors ...";
             return r;
         }()},
        // ... and a failed read of it as 3000 kHz.
        {"GetSpeed", 8, SuccessRows(2, ROW_SPEED[0])},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        sim::DeviceConfig config = Chip(2);
        config.speedCode = 2;
        config.failAt = c.failAt;
        rig.bus.Add(config);
        BurnJob job = rig.Job(PatternImage(4096, 7), 4096);
        rig.Run(job);
        EXPECT_EQ(rig.ui.Rows(), c.rows) << c.what;
        EXPECT_EQ(rig.sleeper.Waits(), CYCLE_WAITS) << c.what;
        EXPECT_EQ(rig.result.chipsWritten, 1) << c.what;
        EXPECT_EQ(rig.bus.State(0).flash, PatternImage(4096, 7)) << c.what;
    }
}

// Lock modes 1 up to the level, cumulative, lowest first; rows for 2 to 4; 500 ms after each.
TEST(Burn, AutoLockLevels) {
    const struct Case {
        int level;
        std::vector<int> modes;
        Rows rows;
    } cases[] = {
        {0, {}, {}},
        {1, {1}, {}},
        {2, {1, 2}, {"S Lock Mode 2 Activated"}},
        {3, {1, 2, 3}, {"S Lock Mode 2 Activated", "S Lock Mode 3 Activated"}},
        {4, {1, 2, 3, 4}, {"S Lock Mode 2 Activated", "S Lock Mode 3 Activated", "S Lock Mode 4 Activated"}},
        {5, {1, 2, 3, 4}, {"S Lock Mode 2 Activated", "S Lock Mode 3 Activated", "S Lock Mode 4 Activated"}},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        rig.bus.Add(Chip(1));
        BurnJob job = rig.Job(PatternImage(4096, 3), 4096);
        job.autoLock = true;
        job.lockLevel = c.level;
        rig.Run(job);
        EXPECT_EQ(rig.ui.Rows(), Join(Join(SuccessRows(1), {std::string("I ") + ROW_AUTO_LOCK}), c.rows))
            << c.level;
        EXPECT_EQ(VendorRequests(rig.bus), rig.CycleRequests(4096, c.modes)) << c.level;
        std::vector<int> waits = CYCLE_WAITS;
        waits.insert(waits.end(), c.modes.size(), 500);
        EXPECT_EQ(rig.sleeper.Waits(), waits) << c.level;
        EXPECT_EQ(rig.bus.State(0).lockMode, c.modes.empty() ? 1 : c.modes.back()) << c.level;
        EXPECT_EQ(rig.result.lockFailures, 0);
    }

    CBurnRig rig;
    rig.bus.Add(Chip(1));
    BurnJob job = rig.Job(PatternImage(4096, 3), 4096);
    job.lockLevel = 4; // auto-lock off: no lock request whatever the level
    rig.Run(job);
    EXPECT_EQ(rig.ui.Rows(), SuccessRows(1));
    EXPECT_EQ(VendorRequests(rig.bus), rig.CycleRequests(4096));
}

// A failed lock mode is reported, and no higher mode follows; the verified chip stays counted.
TEST(Burn, FailedLockModeStopsTheLocking) {
    // 2048 bytes blank: requests 1-8 before writing, 9-264 reads, then the lock modes from 265.
    const struct Case {
        int failingMode;
        std::vector<int> modesSent;
        Rows rows;
    } cases[] = {
        {1, {1}, {"E Lock Mode 1 Failed"}},
        {3, {1, 2, 3}, {"S Lock Mode 2 Activated", "E Lock Mode 3 Failed"}},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        sim::DeviceConfig config = Chip(0);
        config.failAt = 264 + c.failingMode;
        rig.bus.Add(config);
        BurnJob job = rig.Job({}, 2048);
        job.autoLock = true;
        job.lockLevel = 4;
        rig.Run(job);
        EXPECT_EQ(rig.ui.Rows(), Join(Join(SuccessRows(0), {std::string("I ") + ROW_AUTO_LOCK}), c.rows))
            << c.failingMode;
        EXPECT_EQ(VendorRequests(rig.bus), rig.CycleRequests(2048, c.modesSent)) << c.failingMode;
        EXPECT_EQ(rig.result.chipsWritten, 1);
        EXPECT_EQ(rig.result.lockFailures, 1);
        const Rows log = rig.ui.Log();
        EXPECT_NE(std::find(log.begin(), log.end(), "verified 1"), log.end());
        // Counted as written, but the cycle is no chip as asked for: its report says which mode failed.
        EXPECT_EQ(Tail(log, 3), (Rows{"cycle end failed", "ask", "ended done"}));
        EXPECT_TRUE(rig.ui.Reports().back().lockFailed);
        EXPECT_EQ(rig.ui.Reports().back().failure, FormatText(ROW_LOCK_FAILED, c.failingMode));
        EXPECT_EQ(rig.ui.Reports().back().lockMode, c.failingMode - 1);
    }
}

// Chips are changed while the question is open: the old programmer's device goes, a new one comes.
TEST(Burn, SeveralChipsWithAFailedOneBetween) {
    const struct Case {
        const char* what;
        std::vector<bool> good; // per chip: takes writes, or ignores them
        Rows chipRows;          // the chip-number rows, in order
        Rows labels;
    } cases[] = {
        {"good, bad, good",
         {true, false, true},
         {"I ------------------  CHIP NO (2)  START------------------",
          "I ------------------  CHIP NO (2)  START------------------"},
         {"verified 1", "verified 2"}},
        {"bad, good, good",
         {false, true, true},
         {"I ------------------  CHIP NO (2)  START------------------"},
         {"verified 1", "verified 2"}},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        auto config = [&c](size_t k) {
            sim::DeviceConfig d = Chip(3);
            d.ignoreWrites = !c.good[k];
            return d;
        };
        rig.bus.Add(config(0));
        rig.ui.m_answers = {true, true, false};
        std::vector<Req> lastBeforeAsk;
        rig.ui.m_onAsk = [&](int question) {
            const std::vector<Req> requests = VendorRequests(rig.bus);
            lastBeforeAsk.push_back(requests.back());
            if (question < 3) {
                rig.bus.Unplug(question - 1);
                rig.bus.Add(config(static_cast<size_t>(question)));
            }
        };
        const std::vector<uint8_t> data = PatternImage(8192, 5);
        BurnJob job = rig.Job(data, 8192);
        rig.Run(job);

        const Rows rows = rig.ui.Rows();
        Rows chipRows;
        std::copy_if(rows.begin(), rows.end(), std::back_inserter(chipRows),
                     [](const std::string& r) { return r.find("CHIP NO") != std::string::npos; });
        EXPECT_EQ(chipRows, c.chipRows) << c.what;
        const Rows log = rig.ui.Log();
        Rows labels;
        std::copy_if(log.begin(), log.end(), std::back_inserter(labels),
                     [](const std::string& e) { return e.rfind("verified", 0) == 0; });
        EXPECT_EQ(labels, c.labels) << c.what;
        EXPECT_EQ(Count<std::string>(log, [](const std::string& e) { return e == "cycle start"; }), 3);
        EXPECT_EQ(Count<std::string>(log, [](const std::string& e) { return e.rfind("cycle end", 0) == 0; }),
                  3);
        EXPECT_EQ(lastBeforeAsk, (std::vector<Req>(3, {R_POWER_OFF, 0}))) << "PowerOff before each question";
        EXPECT_EQ(rig.result.chipsWritten, 2) << c.what;
        EXPECT_EQ(rig.result.chipsFailed, 1) << c.what;
        EXPECT_EQ(rig.result.ending, Result::Done);
        for (int k = 0; k < 3; ++k) {
            if (c.good[static_cast<size_t>(k)]) {
                EXPECT_EQ(rig.bus.State(k).flash, data) << c.what << " chip " << k;
            }
        }

        // Each chip counts its blocks afresh.
        const auto progress = rig.ui.Progress();
        ASSERT_EQ(progress.size(), 3u * 2048u);
        EXPECT_EQ(progress[2047], std::make_pair(2048, 2048));
        EXPECT_EQ(progress[2048], std::make_pair(1, 2048));
        EXPECT_EQ(rig.ui.PhaseStarts(), 3);
    }
}

// The abort flag is looked at only after a block that was written or read.
TEST(Burn, AbortTakesEffectAfterTheNextWrittenOrReadBlock) {
    const std::vector<Req> before = {{R_TEST, 0},     {R_POWER_ON, 0},  {R_POWER_ON, 0}, {R_POWER_ON, 0},
                                     {R_POWER_ON, 0}, {R_SIGNATURE, 0}, {R_ERASE, 0},    {R_GET_SPEED, 0}};
    auto with = [&before](std::vector<Req> more) {
        std::vector<Req> r = before;
        r.insert(r.end(), more.begin(), more.end());
        r.push_back({R_POWER_OFF, 0});
        return r;
    };
    // Data in blocks 0 and 1 only.
    std::vector<uint8_t> data(16, 0x11);
    const struct Case {
        const char* what;
        int abortAtStep; // set after this many blocks; 0: at the question
        std::vector<Req> requests;
        size_t steps; // progress steps before the ending
        Rows tail;
    } cases[] = {
        // Abort while only blank blocks remain: the write phase runs out, the first read ends it.
        {"blank blocks remain",
         4,
         with({{R_WRITE_BLOCK, 0}, {R_WRITE_BLOCK, 8}, {R_READ_BLOCK, 0}}),
         256,
         {"S Burn Process Completed Successfully", "I Burn Process Started at 3000KHz"}},
        // An abort during the question ends the next cycle before it reaches the programmer.
        {"during the question",
         0,
         {},
         512,
         {"I ------------------  CHIP NO (2)  START------------------", "I Initializing..."}},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        rig.bus.Add(Chip(0));
        if (c.abortAtStep > 0)
            rig.ui.m_onProgress = [&](int done) {
                if (done == c.abortAtStep)
                    rig.abort = 1;
            };
        rig.ui.m_onAsk = [&](int) { rig.abort = 1; };
        rig.ui.m_answers = {true};
        BurnJob job = rig.Job(data, 2048);
        rig.Run(job);

        std::vector<Req> requests = c.requests;
        if (c.abortAtStep == 0) { // a whole cycle, and of the next only the ending's PowerOff
            requests = rig.CycleRequests(2048);
            requests.push_back({R_POWER_OFF, 0});
        }
        EXPECT_EQ(VendorRequests(rig.bus), requests) << c.what;
        EXPECT_EQ(rig.ui.Progress().size(), c.steps) << c.what;
        EXPECT_EQ(Tail(rig.ui.Rows(), c.tail.size()), c.tail) << c.what;
        EXPECT_EQ(Tail(rig.ui.Log(), 2), (Rows{"cycle end aborted", "ended aborted"})) << c.what;
        EXPECT_EQ(rig.sleeper.Waits().back(), 500) << c.what;
        EXPECT_EQ(rig.result.ending, Result::Aborted) << c.what;
        EXPECT_EQ(rig.running.load(), 0) << c.what;
    }
}

// The Abort button on the user-interface thread while the worker writes on its own thread.
TEST(Burn, AbortButtonDuringWritingOnARealThread) {
    CBurnRig rig;
    rig.bus.Add(Chip(0));
    const std::vector<uint8_t> data = PatternImage(2048, 9); // blocks 0..3 hold data
    BurnJob job = rig.Job(data, 2048);

    std::promise<void> atGate;
    rig.ui.m_onProgress = [&](int done) {
        if (done != 3)
            return;
        atGate.set_value();
        while (rig.abort.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };

    // The Abort button's side: its rows join the burn's; its outcome is its result, no second Ended.
    struct CThreadAbortPort : IOperationPort, IWorkerWait {
        explicit CThreadAbortPort(CEventRecorder& rows) : m_rows(rows) {}
        void Row(RowKind kind, const std::string& text) override { m_rows.Row(kind, text); }
        bool Ask(Question question) override { return question == Question::AbortBurn; }
        void Ended(Result ending) override { m_ending = EndingText(ending); }
        bool WaitForWorker(int ms) override {
            std::unique_lock<std::mutex> lock(m_mutex);
            return m_ended.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_done; });
        }
        void WorkerEnded() {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
            m_ended.notify_all();
        }
        CEventRecorder& m_rows;
        std::mutex m_mutex;
        std::condition_variable m_ended;
        bool m_done = false;
        std::string m_ending;
    } abortPort(rig.ui);

    std::thread worker([&] {
        rig.Run(job);
        abortPort.WorkerEnded();
    });
    atGate.get_future().wait();
    const Result outcome = AbortBurn(abortPort, abortPort, rig.running, rig.abort);
    worker.join();

    EXPECT_EQ(outcome, Result::Aborted);
    EXPECT_EQ(abortPort.m_ending, "");
    EXPECT_EQ(Tail(rig.ui.Rows(), 3),
              (Rows{"I Burn Process Started at 3000KHz", "E Aborting ...", "E Aborted By User"}));
    const std::vector<Req> requests = VendorRequests(rig.bus);
    ASSERT_GE(requests.size(), 5u);
    EXPECT_EQ(std::vector<Req>(requests.end() - 5, requests.end()), (std::vector<Req>{{R_WRITE_BLOCK, 0},
                                                                                      {R_WRITE_BLOCK, 8},
                                                                                      {R_WRITE_BLOCK, 16},
                                                                                      {R_WRITE_BLOCK, 24},
                                                                                      {R_POWER_OFF, 0}}));
    EXPECT_EQ(rig.ui.Progress().back().first, 3);
    EXPECT_EQ(rig.result.ending, Result::Aborted);
    EXPECT_EQ(rig.running.load(), 0);
}

// An abort before the erase leaves the chip as it was: it is honoured before every step that talks
// to the programmer, and the chip's old content is never erased after the user asked to stop.
TEST(Burn, AbortBeforeTheEraseLeavesTheChipAlone) {
    const struct Case {
        const char* what;
        size_t wait; // the abort comes during this wait of the cycle (CYCLE_WAITS)
        std::vector<Req> requests;
        std::string lastRow;
    } cases[] = {
        {"while initializing", 0, {}, "I Initializing..."},
        {"while testing the programmer", 1, {{R_POWER_OFF, 0}}, "I Testing Programmer Hardware ..."},
        {"while powering on",
         3,
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_POWER_ON, 0}, {R_POWER_ON, 0}, {R_POWER_ON, 0}, {R_POWER_OFF, 0}},
         "I Auto Detecting Chip ..."},
        {"while the signature is awaited",
         6,
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_POWER_ON, 0}, {R_POWER_ON, 0}, {R_POWER_ON, 0}, {R_POWER_OFF, 0}},
         "I Auto Detecting Chip ..."},
    };
    for (const Case& c : cases) {
        CBurnRig rig;
        rig.bus.Add(Chip(3));
        const std::vector<uint8_t> old = PatternImage(8192, 21);
        rig.bus.SetFlash(0, old);
        rig.bus.ClearTranscript();
        rig.sleeper.m_onSleep = [&](int, size_t index) {
            if (index == c.wait)
                rig.abort = 1;
        };
        rig.Run(rig.Job(PatternImage(8192, 22), 8192));
        EXPECT_EQ(VendorRequests(rig.bus), c.requests) << c.what;
        EXPECT_EQ(rig.ui.Rows().back(), c.lastRow) << c.what;
        EXPECT_EQ(Tail(rig.ui.Log(), 2), (Rows{"cycle end aborted", "ended aborted"})) << c.what;
        EXPECT_EQ(rig.result.ending, Result::Aborted) << c.what;
        EXPECT_FALSE(rig.ui.Reports().back().erased) << c.what;
        EXPECT_EQ(rig.bus.State(0).flash, old) << c.what << ": the chip keeps its content";
        EXPECT_FALSE(rig.bus.State(0).powered) << c.what;
    }
}

// A PowerOff that fails is no success: rows that say the target may still be powered, and no
// question about a further chip in a socket that may be live.
TEST(Burn, FailedPowerOffEndsTheBurnWithoutTheQuestion) {
    CBurnRig rig;
    sim::DeviceConfig config = Chip(0);
    config.failAt = 8 + 256 + 1; // 2048 blank bytes: 8 requests, 256 reads, then the PowerOff
    rig.bus.Add(config);
    rig.ui.m_answers = {true};
    rig.Run(rig.Job({}, 2048));
    EXPECT_EQ(Tail(rig.ui.Rows(), 3), (Rows{"I Thankyou", std::string("E ") + ROW_POWER_OFF_FAILED,
                                            std::string("I ") + ROW_DISCONNECT_FIRST}));
    EXPECT_EQ(rig.ui.Asked(), 0);
    EXPECT_EQ(rig.ui.Log().back(), "ended failed");
    EXPECT_EQ(rig.result.ending, Result::Failed);
    EXPECT_EQ(rig.result.chipsWritten, 1) << "the chip itself was verified";
    EXPECT_EQ(rig.result.powerOffFailures, 1);
    EXPECT_TRUE(rig.ui.Reports().back().powerOffFailed);
}
