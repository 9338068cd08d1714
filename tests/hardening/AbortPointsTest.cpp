// Abort requested from another thread at seeded random points of burns and flash reads, many times,
// the way the dialogs' Abort buttons do it: the worker runs on its own thread and the abort comes
// while it works, so the ThreadSanitizer build sees the flags, the workers and the simulator under
// real concurrency. Each run must end (the burn within the Abort button's wait), never leave the
// target powered, never claim a chip or a read it did not finish, and leave the image alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "HardeningSupport.h"
#include "OpsTestUtil.h"
#include "image/FirmwareBuffer.h"
#include "link/Programmer.h"
#include "ops/Burn.h"
#include "ops/FlashRead.h"
#include "ops/Texts.h"

using namespace opstest;

namespace {

constexpr int BURN_RUNS = 200;
constexpr int READ_RUNS = 200;
constexpr unsigned SEED = 51;

// Lets the test thread wait until the worker has reached the chosen point (or has ended).
class CPoint {
public:
    void Reach() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reached = true;
        m_changed.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_reached; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_reached = false;
};

// The burn dialog's side of Abort: rows of its own, and a wait for the worker's end.
class CAbortUi : public IOperationPort, public IWorkerWait {
public:
    void Row(RowKind kind, const std::string& text) override { m_rows.push_back(RowText(kind, text)); }
    // Yes to "Burn in Progress. Are you sure want to Abort ?"
    bool Ask(Question question) override { return question == Question::AbortBurn; }
    void Ended(Result) override { m_finished = true; }
    bool WaitForWorker(int ms) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_ended; });
    }
    void WorkerEnded() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }

    std::vector<std::string> m_rows;
    bool m_finished = false;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
};

// Failed checks of the running test so far: a run passed when it added none.
size_t FailuresSoFar() {
    return static_cast<size_t>(
        testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count());
}

bool LastIsPowerOff(const sim::CSimBus& bus) {
    const auto requests = bus.VendorTranscript();
    return !requests.empty() && requests.back().request == R_POWER_OFF && requests.back().result >= 0;
}

} // namespace

TEST(AbortPoints, BurnAbortedAtRandomPointsEndsCleanly) {
    std::mt19937 random(SEED);
    long tried = 0, passed = 0;
    for (int run = 0; run < BURN_RUNS; ++run) {
        const int chip = std::uniform_int_distribution<int>(0, CHIP_COUNT - 1)(random);
        const int size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
        // A point on the progress bar (0 .. 2N, the write phase then the read-back); 0: at once.
        const int point = std::uniform_int_distribution<int>(0, 2 * size)(random);
        SCOPED_TRACE("run " + std::to_string(run) + ": chip " + std::to_string(chip) + ", abort at " +
                     std::to_string(point));
        const size_t expectsBefore = FailuresSoFar();

        sim::CSimBus bus;
        bus.Add(Chip(chip));
        const std::vector<uint8_t> pattern = PatternImage(size, static_cast<unsigned>(run));
        std::vector<uint8_t> image(BURN_BUFFER_SIZE, 0xFF), readBack(BURN_BUFFER_SIZE, 0);
        std::copy(pattern.begin(), pattern.end(), image.begin());
        std::atomic<int32_t> running{1}, abort{0};
        CRecordingSleeper sleeper;
        BurnJob job;
        job.image = image.data();
        job.readBack = readBack.data();
        job.lastAddress = size - 1;
        job.running = &running;
        job.abort = &abort;
        CEventRecorder ui; // answers No to "Write More Chips ?"
        CPoint reached;
        ui.m_onProgress = [&](int done) {
            if (8 * done >= point)
                reached.Reach();
        };
        ui.m_onAsk = [&](int) { reached.Reach(); };
        CAbortUi abortUi;
        BurnResult result;
        std::thread worker([&] {
            CProgrammer link;
            result = BurnThreadProc(link, job, ui, sleeper);
            reached.Reach();
            abortUi.WorkerEnded();
        });
        if (point > 0)
            reached.Wait();
        const Result outcome = AbortBurn(abortUi, abortUi, running, abort);
        worker.join();

        EXPECT_TRUE(outcome == Result::Aborted || outcome == Result::NotRunning);
        EXPECT_EQ(running.load(), 0);
        const std::vector<std::string> rows = ui.Rows();
        const std::vector<std::string> log = ui.Log();
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [](const std::string& e) { return e.rfind("ended ", 0) == 0; }),
                  1);
        const bool verified = std::count(rows.begin(), rows.end(), "S Data Verification Success") == 1;
        if (result.ending == Result::Aborted) {
            EXPECT_FALSE(verified);
            EXPECT_EQ(result.chipsWritten, 0);
            EXPECT_EQ(log.back(), "ended aborted");
            EXPECT_EQ(outcome, Result::Aborted);
            EXPECT_FALSE(abortUi.m_finished) << "the burn's one Ended is the worker's";
            EXPECT_EQ(abortUi.m_rows, (std::vector<std::string>{"E Aborting ...", "E Aborted By User"}));
        } else {
            // Too late to stop it: the burn finished, and then it must be true.
            EXPECT_EQ(result.ending, Result::Done);
            EXPECT_TRUE(verified);
            const sim::DeviceState state = bus.State(0);
            EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), state.flash.begin()));
        }
        EXPECT_TRUE(LastIsPowerOff(bus));
        EXPECT_FALSE(bus.State(0).powered);
        EXPECT_EQ(hardening::DescriptorsUnder(bus.Root()), 0);

        ++tried;
        const size_t expectsAfter = FailuresSoFar();
        passed += expectsAfter == expectsBefore;
    }
    hardening::RecordFigures("abort-burn", {{"tried", tried}, {"passed", passed}});
}

// Abort in one of the waits before the erase (initializing, testing, powering on, awaiting the
// signature): the chip keeps its content, whatever the programmer was doing.
TEST(AbortPoints, BurnAbortedBeforeTheEraseKeepsTheChip) {
    std::mt19937 random(SEED + 2);
    long tried = 0, passed = 0;
    for (int run = 0; run < BURN_RUNS; ++run) {
        const int chip = std::uniform_int_distribution<int>(0, CHIP_COUNT - 1)(random);
        const int size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
        // The waits before the erase: 0 initializing, 1 testing, 2..5 the power steps, 6 the signature.
        const size_t wait = std::uniform_int_distribution<size_t>(0, 6)(random);
        SCOPED_TRACE("run " + std::to_string(run) + ": chip " + std::to_string(chip) + ", abort in wait " +
                     std::to_string(wait));
        const size_t expectsBefore = FailuresSoFar();

        sim::CSimBus bus;
        bus.Add(Chip(chip));
        const std::vector<uint8_t> old = PatternImage(size, static_cast<unsigned>(run) + 300);
        bus.SetFlash(0, old);
        std::vector<uint8_t> image(BURN_BUFFER_SIZE, 0x00), readBack(BURN_BUFFER_SIZE, 0);
        std::atomic<int32_t> running{1}, abort{0};
        CRecordingSleeper sleeper;
        CPoint reached;
        // The worker stays in the wait until the abort is set, as a long wait would keep it there.
        sleeper.m_onSleep = [&](int, size_t index) {
            if (index != wait)
                return;
            reached.Reach();
            while (abort.load() == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        };
        BurnJob job;
        job.image = image.data();
        job.readBack = readBack.data();
        job.lastAddress = size - 1;
        job.running = &running;
        job.abort = &abort;
        CEventRecorder ui;
        CAbortUi abortUi;
        BurnResult result;
        std::thread worker([&] {
            CProgrammer link;
            result = BurnThreadProc(link, job, ui, sleeper);
            abortUi.WorkerEnded();
        });
        reached.Wait();
        const Result outcome = AbortBurn(abortUi, abortUi, running, abort);
        worker.join();

        EXPECT_EQ(outcome, Result::Aborted);
        EXPECT_EQ(result.ending, Result::Aborted);
        EXPECT_EQ(abortUi.m_rows, (std::vector<std::string>{"E Aborting ...", "E Aborted By User"}));
        const std::vector<sim::TranscriptEntry> requests = bus.VendorTranscript();
        EXPECT_TRUE(std::none_of(requests.begin(), requests.end(), [](const sim::TranscriptEntry& e) {
            return e.request == R_ERASE || e.request == R_WRITE_BLOCK;
        }));
        EXPECT_EQ(bus.State(0).flash, old) << "the chip keeps what it held";
        EXPECT_FALSE(bus.State(0).powered);
        EXPECT_EQ(hardening::DescriptorsUnder(bus.Root()), 0);

        ++tried;
        passed += FailuresSoFar() == expectsBefore;
    }
    hardening::RecordFigures("abort-before-erase", {{"tried", tried}, {"passed", passed}});
}

TEST(AbortPoints, FlashReadAbortedAtRandomPointsLeavesTheImageAlone) {
    std::mt19937 random(SEED + 1);
    long tried = 0, passed = 0;
    for (int run = 0; run < READ_RUNS; ++run) {
        const int chip = std::uniform_int_distribution<int>(0, CHIP_COUNT - 1)(random);
        const int size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
        const int point = std::uniform_int_distribution<int>(0, size)(random);
        SCOPED_TRACE("run " + std::to_string(run) + ": chip " + std::to_string(chip) + ", abort at " +
                     std::to_string(point));
        const size_t expectsBefore = FailuresSoFar();

        sim::CSimBus bus;
        bus.Add(Chip(chip));
        const std::vector<uint8_t> flash = PatternImage(size, static_cast<unsigned>(run) + 100);
        bus.SetFlash(0, flash);
        std::vector<uint8_t> staging(READ_BUFFER_SIZE, 0x5A);
        std::atomic<int32_t> succeeded{0}, abort{0};
        CRecordingSleeper sleeper;
        ReadJob job;
        job.length = size;
        job.buffer = staging.data();
        job.succeeded = &succeeded;
        job.abort = &abort;
        CEventRecorder ui;
        CPoint reached;
        ui.m_onProgress = [&](int done) {
            if (8 * done >= point)
                reached.Reach();
        };
        std::thread worker([&] {
            CProgrammer link;
            ReadFlashThread(link, job, ui, sleeper);
            reached.Reach();
        });
        if (point > 0)
            reached.Wait();
        abort.store(1); // the Read Flash dialog's Abort
        worker.join();

        // The view takes the staging buffer only after a read that succeeded.
        FirmwareBuffer buffer;
        buffer.m_imageSize = size;
        buffer.m_image.fill(0x33);
        if (succeeded.load() == 1)
            std::copy_n(staging.begin(), size, buffer.m_image.begin());
        const std::vector<std::string> log = ui.Log();
        // The last status row.
        const auto status = std::find_if(log.rbegin(), log.rend(), [](const std::string& e) {
            return e.rfind("I ", 0) == 0 || e.rfind("E ", 0) == 0;
        });
        ASSERT_NE(status, log.rend());
        if (succeeded.load() == 1) {
            // Too late to stop it: the read finished, and then it must hold the chip's bytes.
            EXPECT_EQ(*status, std::string("I ") + STATUS_SUCCESS);
            EXPECT_TRUE(std::equal(flash.begin(), flash.end(), buffer.m_image.begin()));
        } else {
            EXPECT_EQ(*status, std::string("I ") + STATUS_ABORTED);
            EXPECT_TRUE(std::all_of(buffer.m_image.begin(), buffer.m_image.end(),
                                    [](uint8_t b) { return b == 0x33; }));
        }
        EXPECT_TRUE(std::all_of(staging.begin() + size, staging.end(), [](uint8_t b) { return b == 0x5A; }));
        EXPECT_EQ(log.back(), succeeded.load() == 1 ? "ended done" : "ended aborted");
        EXPECT_TRUE(LastIsPowerOff(bus));
        EXPECT_FALSE(bus.State(0).powered);
        EXPECT_EQ(hardening::DescriptorsUnder(bus.Root()), 0);

        ++tried;
        const size_t expectsAfter = FailuresSoFar();
        passed += expectsAfter == expectsBefore;
    }
    hardening::RecordFigures("abort-read", {{"tried", tried}, {"passed", passed}});
}
