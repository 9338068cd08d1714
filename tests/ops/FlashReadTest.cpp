// The Read Flash worker against the simulated programmer: status texts, buttons, progress, the
// staging buffer and the success flag; failures, unplugging and abort.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "ops/FlashRead.h"
#include "link/Programmer.h"
#include "ops/Texts.h"
#include "OpsTestUtil.h"

using namespace opstest;

namespace {
using Log = std::vector<std::string>;

// The status texts are rows (the status "Error" an error row); the message boxes come between them.
const Log START = {"I Initializing ...", "I Detecting Programmer ..."};
const Log READING = {"I Testing ...", "I Hardware Test Ok !", "I Reading Flash ..."};
const Log FAILED = {"E Error", "ended failed"};

Log Join(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<Req> Reads(int from, int to) {
    std::vector<Req> r;
    for (int a = from; a < to; a += 8)
        r.push_back({R_READ_BLOCK, a});
    return r;
}

std::vector<Req> Cat(std::vector<Req> a, const std::vector<Req>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

TEST(FlashRead, WholeChipIntoTheStagingBuffer) {
    sim::CSimBus bus;
    bus.Add(Chip(3));
    const std::vector<uint8_t> flash = PatternImage(8192, 11);
    bus.SetFlash(0, flash);
    CRecordingSleeper sleeper;
    CEventRecorder ui;
    g_readSucceeded = 0;
    g_readAbort = 0;
    g_readBuffer.fill(0x00);
    ReadJob job; // the process-wide buffer and flags
    job.length = 8192;

    CProgrammer link;
    EXPECT_EQ(ReadFlashThread(link, job, ui, sleeper).ending, Result::Done);

    EXPECT_EQ(ui.Log(), Join({START, READING, {"I Success !", "ended done"}}));
    EXPECT_EQ(ui.PhaseStarts(), 1) << "the blocks, and with them Abort, start once";
    EXPECT_EQ(VendorRequests(bus),
              Cat(Cat({{R_TEST, 0}, {R_POWER_ON, 0}}, Reads(0, 8192)), {{R_POWER_OFF, 0}}));
    EXPECT_EQ(sleeper.Waits(), (std::vector<int>{500, 500, 500, 500}));
    const auto progress = ui.Progress();
    ASSERT_EQ(progress.size(), 1024u);
    EXPECT_EQ(progress.front(), std::make_pair(1, 1024));
    EXPECT_EQ(progress.back(), std::make_pair(1024, 1024));
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), g_readBuffer.begin()));
    EXPECT_EQ(g_readSucceeded.load(), 1);
}

// Every failure shows its message, ends with "Error", and powers the target off while a device is held.
TEST(FlashRead, Failures) {
    const std::string notResponding = std::string("error: ") + MSG_NOT_RESPONDING;
    const struct Case {
        const char* what;
        std::function<void(sim::CSimBus&)> setup;
        Log log;
        std::vector<Req> requests;
        bool inUse = false; // another connection holds the programmer
    } cases[] = {
        {"no programmer",
         [](sim::CSimBus& bus) { bus.AddForeign(0x046D, 0xC31C); },
         Join({START, {std::string("error: ") + MSG_NO_PROGRAMMER}, FAILED}),
         {}},
        {"access denied",
         [](sim::CSimBus& bus) {
             sim::DeviceConfig c = Chip(3);
             c.accessDenied = true;
             bus.Add(c);
         },
         Join({START, {std::string("error: ") + MSG_NO_PROGRAMMER + "\n" + MSG_ACCESS_DENIED}, FAILED}),
         {}},
        {"in use by another connection",
         [](sim::CSimBus& bus) { bus.Add(Chip(3)); },
         Join({START, {std::string("error: ") + MSG_NO_PROGRAMMER + "\n" + MSG_PROGRAMMER_BUSY}, FAILED}),
         {},
         true},
        {"wrong identity",
         [](sim::CSimBus& bus) {
             sim::DeviceConfig c = Chip(3);
             c.identity = "TALMORE!";
             bus.Add(c);
         },
         Join({START, {"I Testing ...", std::string("error: ") + MSG_BAD_ANSWER}, FAILED}),
         {{R_TEST, 0}, {R_POWER_OFF, 0}}},
        {"PowerOn fails",
         [](sim::CSimBus& bus) {
             sim::DeviceConfig c = Chip(3);
             c.failAt = 2;
             bus.Add(c);
         },
         Join({START, {"I Testing ...", "I Hardware Test Ok !", notResponding}, FAILED}),
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_POWER_OFF, 0}}},
        {"a block read fails",
         [](sim::CSimBus& bus) {
             sim::DeviceConfig c = Chip(3);
             c.failAt = 13; // the eleventh block, at 80
             c.failKind = sim::FailKind::Timeout;
             bus.Add(c);
         },
         Join({START, READING, {notResponding}, FAILED}),
         Cat(Cat({{R_TEST, 0}, {R_POWER_ON, 0}}, Reads(0, 88)), {{R_POWER_OFF, 0}})},
    };
    for (const Case& c : cases) {
        sim::CSimBus bus;
        c.setup(bus);
        CProgrammer holder;
        ASSERT_EQ(c.inUse && holder.Open(), c.inUse);
        CRecordingSleeper sleeper;
        CEventRecorder ui;
        std::vector<uint8_t> buffer(READ_BUFFER_SIZE);
        std::atomic<int32_t> succeeded{0}, abort{0};
        ReadJob job{8192, buffer.data(), &succeeded, &abort, ""};
        CProgrammer link;
        ReadFlashThread(link, job, ui, sleeper);
        EXPECT_EQ(ui.Log(), c.log) << c.what;
        EXPECT_EQ(VendorRequests(bus), c.requests) << c.what;
        EXPECT_EQ(succeeded.load(), 0) << c.what;
        if (bus.DeviceCount() > 0 && bus.State(0).vendorRequests > 0) {
            EXPECT_FALSE(bus.State(0).powered) << c.what;
        }
    }
}

TEST(FlashRead, UnpluggedMidRead) {
    sim::CSimBus bus;
    sim::DeviceConfig config = Chip(4);
    config.failAt = 500;
    config.failKind = sim::FailKind::Unplug;
    bus.Add(config);
    CRecordingSleeper sleeper;
    CEventRecorder ui;
    std::vector<uint8_t> buffer(READ_BUFFER_SIZE);
    std::atomic<int32_t> succeeded{0}, abort{0};
    ReadJob job{12288, buffer.data(), &succeeded, &abort, ""};
    CProgrammer link;
    ReadFlashThread(link, job, ui, sleeper);
    EXPECT_EQ(ui.Log(), Join({START, READING, {std::string("error: ") + MSG_NOT_RESPONDING}, FAILED}));
    EXPECT_EQ(ui.Progress().size(), 497u);
    EXPECT_EQ(succeeded.load(), 0);
    EXPECT_TRUE(bus.State(0).unplugged);
}

// Abort from another thread: the block in flight completes, then PowerOff and "Aborted By User".
TEST(FlashRead, AbortOnARealThread) {
    sim::CSimBus bus;
    bus.Add(Chip(3));
    CRecordingSleeper sleeper;
    CEventRecorder ui;
    std::vector<uint8_t> buffer(READ_BUFFER_SIZE);
    std::atomic<int32_t> succeeded{0}, abort{0};
    ReadJob job{8192, buffer.data(), &succeeded, &abort, ""};

    std::promise<void> atGate;
    ui.m_onProgress = [&](int done) {
        if (done != 100)
            return;
        atGate.set_value();
        while (abort.load() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::promise<void> ended;
    std::thread worker([&] {
        CProgrammer link;
        ReadFlashThread(link, job, ui, sleeper);
        ended.set_value();
    });
    atGate.get_future().wait();
    abort = 1; // the Abort button, which then waits up to 1000 ms
    EXPECT_EQ(ended.get_future().wait_for(std::chrono::milliseconds(READ_ABORT_WAIT_MS)),
              std::future_status::ready);
    worker.join();

    EXPECT_EQ(ui.Log(), Join({START, READING, {"I Aborted By User", "ended aborted"}}));
    EXPECT_EQ(VendorRequests(bus),
              Cat(Cat({{R_TEST, 0}, {R_POWER_ON, 0}}, Reads(0, 808)), {{R_POWER_OFF, 0}}));
    EXPECT_EQ(ui.Progress().back().first, 100);
    EXPECT_EQ(succeeded.load(), 0);
}
