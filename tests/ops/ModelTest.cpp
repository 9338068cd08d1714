// The parts of the device operations that need no device: the lock boxes, the speed slider, the
// Abort handler and the row time.

#include <gtest/gtest.h>

#include <ctime>

#include "ops/Burn.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"
#include "OpsTestUtil.h"

using namespace opstest;

TEST(LockBoxes, RulesKeepLb3ImpliesLb2ImpliesLb1) {
    struct Case {
        const char* what;
        LockBoxes before; // with the clicked box already toggled, as the dialog pulls it
        void (*handler)(LockBoxes&);
        LockBoxes after;
    };
    const Case cases[] = {
        {"tick LB3", {0, 0, 1, 0}, OnLb3, {1, 1, 1, 0}},
        {"untick LB3", {1, 1, 0, 1}, OnLb3, {1, 1, 0, 1}},
        {"untick LB1 under LB2", {0, 1, 0, 0}, OnLb1, {1, 1, 0, 0}},
        {"untick LB1 alone", {0, 0, 0, 0}, OnLb1, {0, 0, 0, 0}},
        {"tick LB2", {0, 1, 0, 0}, OnLb2, {1, 1, 0, 0}},
        {"untick LB2 under LB3", {1, 0, 1, 0}, OnLb2, {1, 1, 1, 0}},
        {"untick LB2", {1, 0, 0, 0}, OnLb2, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        LockBoxes boxes = c.before;
        c.handler(boxes);
        EXPECT_EQ(boxes.m_lb1, c.after.m_lb1) << c.what;
        EXPECT_EQ(boxes.m_lb2, c.after.m_lb2) << c.what;
        EXPECT_EQ(boxes.m_lb3, c.after.m_lb3) << c.what;
        EXPECT_EQ(boxes.m_lockAfterBurn, c.after.m_lockAfterBurn) << c.what;
    }
}

TEST(LockBoxes, ModeAndBoxesMapBothWays) {
    const int expected[][3] = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 1}, {0, 0, 0}};
    for (int mode = 0; mode <= 5; ++mode) {
        LockBoxes boxes{1, 1, 1, 1};
        SetBoxesFromMode(boxes, mode);
        EXPECT_EQ(boxes.m_lb1, expected[mode][0]) << mode;
        EXPECT_EQ(boxes.m_lb2, expected[mode][1]) << mode;
        EXPECT_EQ(boxes.m_lb3, expected[mode][2]) << mode;
        EXPECT_EQ(boxes.m_lockAfterBurn, 1) << "left alone";
        EXPECT_EQ(ModeFromBoxes(boxes), mode >= 2 && mode <= 4 ? mode : 1);
    }
    EXPECT_EQ(ModeFromBoxes({0, 1, 0, 0}), 3); // the highest ticked box decides
}

TEST(LockBoxes, StatusTableUsesOnlyBitsTwoToFour) {
    EXPECT_EQ(FindLockStatus(0x0C)->mode, 3);
    EXPECT_EQ(FindLockStatus(0xE3)->mode, 1); // other bits do not count
    EXPECT_EQ(FindLockStatus(0xFF)->mode, 4);
    EXPECT_EQ(FindLockStatus(0x08), nullptr); // LB2 alone
    EXPECT_EQ(FindLockStatus(0x10), nullptr);
}

TEST(SpeedSlider, CodePositionAndLabel) {
    const struct {
        int code, position;
        const char* label;
    } rows[] = {{3, 0, "94KHz"}, {2, 1, "188KHz"}, {1, 2, "750KHz"}, {0, 3, "3000KHz"}};
    for (const auto& r : rows) {
        EXPECT_EQ(SpeedPositionFromCode(r.code), r.position);
        EXPECT_EQ(SpeedCodeFromPosition(r.position), r.code);
        EXPECT_EQ(SpeedLabel(r.position), r.label);
    }
    EXPECT_EQ(SpeedPositionFromCode(5), -1);
    EXPECT_EQ(SpeedPositionFromCode(-1), -1);
}

namespace {
// The abort's wait, logged among the recorder's events.
class CFakeWorker : public IWorkerWait {
public:
    explicit CFakeWorker(CEventRecorder& log) : m_log(log) {}
    bool WaitForWorker(int ms) override {
        m_log.Row(RowKind::Information, "wait " + std::to_string(ms));
        return m_workerEnds;
    }
    CEventRecorder& m_log;
    bool m_workerEnds = true;
};
} // namespace

TEST(AbortBurn, EachAnswerAndOutcome) {
    struct Case {
        const char* what;
        bool yes;
        int running;
        bool workerEnds;
        Result outcome;
        int abortAfter;
        std::vector<std::string> log;
    };
    const std::string ask = std::string("ask: ") + ASK_ABORT_BURN;
    const Case cases[] = {
        {"no", false, 1, true, Result::Declined, 0, {ask}},
        {"not running", true, 0, true, Result::NotRunning, 0, {ask}},
        {"ends",
         true,
         1,
         true,
         Result::Aborted,
         1,
         {ask, "E Aborting ...", "I wait 10000", "E Aborted By User"}},
        {"times out",
         true,
         1,
         false,
         Result::TimedOut,
         1,
         {ask, "E Aborting ...", "I wait 10000", "error: Cannot End Burner Thread"}},
    };
    for (const Case& c : cases) {
        CEventRecorder port;
        port.m_answers = {c.yes};
        CFakeWorker worker(port);
        worker.m_workerEnds = c.workerEnds;
        std::atomic<int32_t> running{c.running};
        std::atomic<int32_t> abort{0};
        EXPECT_EQ(AbortBurn(port, worker, running, abort), c.outcome) << c.what;
        EXPECT_EQ(abort.load(), c.abortAfter) << c.what;
        EXPECT_EQ(port.Log(), c.log) << c.what;
    }
}

TEST(RowTime, TwelveHourClockWithAmPm) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 9;
    t.tm_hour = 21;
    t.tm_min = 5;
    t.tm_sec = 7;
    t.tm_isdst = -1;
    EXPECT_EQ(RowTimeText(std::mktime(&t)), "09:05:07 PM");
    t.tm_hour = 0;
    EXPECT_EQ(RowTimeText(std::mktime(&t)), "12:05:07 AM");
}
