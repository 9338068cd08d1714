// Lock Bits and Programming Speed against the simulated programmer: requests, messages, the boxes and
// the slider; every failure powers the target off while a device is held.

#include <gtest/gtest.h>

#include <functional>

#include "link/Programmer.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"
#include "OpsTestUtil.h"

using namespace opstest;

namespace {
using Shown = std::vector<std::string>;

const std::string NO_PROGRAMMER = std::string("error: ") + MSG_NO_PROGRAMMER;
const std::string DENIED = NO_PROGRAMMER + "\n" + MSG_ACCESS_DENIED;
const std::string BAD_ANSWER = std::string("error: ") + MSG_BAD_ANSWER;
const std::string NOT_RESPONDING = std::string("error: ") + MSG_NOT_RESPONDING;

// How the bus is set up for a case.
enum class Rig { Good, None, Denied, WrongIdentity };

sim::DeviceConfig Device(int failAt = 0, uint8_t speedCode = 0, int lockStatus = -1) {
    sim::DeviceConfig c = Chip(3);
    c.failAt = failAt;
    c.speedCode = speedCode;
    c.lockStatusOverride = lockStatus;
    return c;
}

void PrepareBus(sim::CSimBus& bus, Rig rig, const sim::DeviceConfig& config) {
    sim::DeviceConfig c = config;
    switch (rig) {
    case Rig::None:
        bus.AddForeign(0x046D, 0xC31C);
        return;
    case Rig::Denied:
        c.accessDenied = true;
        break;
    case Rig::WrongIdentity:
        c.identity = "TALMORF";
        break;
    case Rig::Good:
        break;
    }
    bus.Add(c);
}
} // namespace

TEST(LockBits, Write) {
    const struct Case {
        const char* what;
        Rig rig;
        int failAt;
        LockBoxes boxes;
        bool ok;
        Shown shown;
        std::vector<Req> requests;
        int lockMode; // the chip's afterwards
    } cases[] = {
        {"all three",
         Rig::Good,
         0,
         {1, 1, 1, 0},
         true,
         {"info: Device Locked - Lock Mode = 2", "info: Device Locked - Lock Mode = 3",
          "info: Device Locked - Lock Mode = 4"},
         {{R_TEST, 0},
          {R_POWER_ON, 0},
          {R_LOCK1, 0},
          {R_LOCK2, 0},
          {R_LOCK3, 0},
          {R_LOCK4, 0},
          {R_POWER_OFF, 0}},
         4},
        {"LB1 and LB2",
         Rig::Good,
         0,
         {1, 1, 0, 1},
         true,
         {"info: Device Locked - Lock Mode = 2", "info: Device Locked - Lock Mode = 3"},
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_LOCK1, 0}, {R_LOCK2, 0}, {R_LOCK3, 0}, {R_POWER_OFF, 0}},
         3},
        {"none",
         Rig::Good,
         0,
         {0, 0, 0, 0},
         true,
         {},
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_LOCK1, 0}, {R_POWER_OFF, 0}},
         1},
        {"mode 1 fails",
         Rig::Good,
         3,
         {1, 1, 1, 0},
         false,
         {NOT_RESPONDING},
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_LOCK1, 0}, {R_POWER_OFF, 0}},
         1},
        {"mode 3 fails",
         Rig::Good,
         5,
         {1, 1, 1, 0},
         false,
         {"info: Device Locked - Lock Mode = 2", NOT_RESPONDING},
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_LOCK1, 0}, {R_LOCK2, 0}, {R_LOCK3, 0}, {R_POWER_OFF, 0}},
         2},
        {"no programmer", Rig::None, 0, {1, 1, 1, 0}, false, {NO_PROGRAMMER}, {}, -1},
        {"access denied", Rig::Denied, 0, {1, 1, 1, 0}, false, {DENIED}, {}, 1},
        {"wrong identity",
         Rig::WrongIdentity,
         0,
         {1, 1, 1, 0},
         false,
         {BAD_ANSWER},
         {{R_TEST, 0}, {R_POWER_OFF, 0}},
         1},
        {"PowerOn fails",
         Rig::Good,
         2,
         {1, 1, 1, 0},
         false,
         {NOT_RESPONDING},
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_POWER_OFF, 0}},
         1},
    };
    for (const Case& c : cases) {
        sim::CSimBus bus;
        PrepareBus(bus, c.rig, Device(c.failAt));
        CEventRecorder messages;
        CRecordingSleeper sleeper;
        CProgrammer link;
        EXPECT_EQ(WriteLockBitsToChip(link, LockJob{c.boxes, ""}, messages, sleeper).ok, c.ok) << c.what;
        EXPECT_TRUE(sleeper.Waits().empty()) << c.what;
        EXPECT_EQ(messages.Log(), c.shown) << c.what;
        EXPECT_EQ(VendorRequests(bus), c.requests) << c.what;
        if (c.lockMode > 0) {
            EXPECT_EQ(bus.State(0).lockMode, c.lockMode) << c.what;
            EXPECT_FALSE(bus.State(0).powered) << c.what;
        }
    }
}

TEST(LockBits, Read) {
    const LockBoxes before{1, 1, 0, 1};
    const struct Case {
        const char* what;
        Rig rig;
        int failAt;
        int status; // the device's answer, or -1 for its own lock state (set to mode 3)
        bool ok;
        Shown shown;
        LockBoxes after;
        std::vector<Req> requests;
    } cases[] = {
        {"0x00", Rig::Good, 0, 0x00, true, {"info: Device is NOT locked !!!"}, {0, 0, 0, 1}, {}},
        {"0x04",
         Rig::Good,
         0,
         0x04,
         true,
         {"info: Device is locked with Lock Mode 2\nBut You can still Read the Flash !!!"},
         {1, 0, 0, 1},
         {}},
        {"0x0C",
         Rig::Good,
         0,
         0x0C,
         true,
         {"info: Device is locked with Lock Mode 3\nYou CANNOT read Flash Memory !!!"},
         {1, 1, 0, 1},
         {}},
        {"0x1C",
         Rig::Good,
         0,
         0x1C,
         true,
         {"info: Device is locked with Lock Mode 4\nYou CANNOT read Flash Memory !!!"},
         {1, 1, 1, 1},
         {}},
        {"0xE3, other bits", Rig::Good, 0, 0xE3, true, {"info: Device is NOT locked !!!"}, {0, 0, 0, 1}, {}},
        {"0x08, LB2 alone", Rig::Good, 0, 0x08, true, {}, before, {}},
        {"the chip's own mode 3",
         Rig::Good,
         0,
         -1,
         true,
         {"info: Device is locked with Lock Mode 3\nYou CANNOT read Flash Memory !!!"},
         {1, 1, 0, 1},
         {}},
        {"request fails", Rig::Good, 3, 0x1C, false, {NOT_RESPONDING}, before, {}},
        {"no programmer", Rig::None, 0, 0x1C, false, {NO_PROGRAMMER}, before, {{-1, 0}}},
        {"wrong identity",
         Rig::WrongIdentity,
         0,
         0x1C,
         false,
         {BAD_ANSWER},
         before,
         {{R_TEST, 0}, {R_POWER_OFF, 0}}},
        {"PowerOn fails",
         Rig::Good,
         2,
         0x1C,
         false,
         {NOT_RESPONDING},
         before,
         {{R_TEST, 0}, {R_POWER_ON, 0}, {R_POWER_OFF, 0}}},
    };
    const std::vector<Req> whole = {{R_TEST, 0}, {R_POWER_ON, 0}, {R_LOCK_BITS, 0}, {R_POWER_OFF, 0}};
    for (const Case& c : cases) {
        sim::CSimBus bus;
        PrepareBus(bus, c.rig, Device(c.failAt, 0, c.status));
        if (c.status < 0)
            bus.SetLockMode(0, 3);
        CEventRecorder messages;
        CRecordingSleeper sleeper;
        CProgrammer link;
        const LockResult result = ReadLockBitsFromChip(link, LockJob{before, ""}, messages, sleeper);
        const LockBoxes& boxes = result.boxes;
        const uint8_t status = result.ok ? result.status : 0xAA;
        EXPECT_EQ(result.ok, c.ok) << c.what;
        EXPECT_EQ(messages.Log(), c.shown) << c.what;
        EXPECT_EQ(boxes.m_lb1, c.after.m_lb1) << c.what;
        EXPECT_EQ(boxes.m_lb2, c.after.m_lb2) << c.what;
        EXPECT_EQ(boxes.m_lb3, c.after.m_lb3) << c.what;
        EXPECT_EQ(boxes.m_lockAfterBurn, 1) << c.what;
        if (c.rig != Rig::None) {
            EXPECT_FALSE(bus.State(0).powered) << c.what;
        }
        if (c.ok) {
            EXPECT_EQ(status, c.status < 0 ? 0x0C : c.status) << c.what;
        }
        const std::vector<Req> expected =
            c.requests.empty() ? whole : (c.requests[0].request < 0 ? std::vector<Req>{} : c.requests);
        EXPECT_EQ(VendorRequests(bus), expected) << c.what;
    }
}

TEST(ProgrammingSpeed, Opening) {
    const struct Case {
        const char* what;
        Rig rig;
        int failAt;
        uint8_t stored;
        bool stayOpen;
        int position;
        Shown shown;
        std::vector<Req> requests;
        std::vector<int> waits;
    } cases[] = {
        {"code 2",
         Rig::Good,
         0,
         2,
         true,
         1,
         {},
         {{R_TEST, 0}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         {100, 250, 100}},
        {"code 0",
         Rig::Good,
         0,
         0,
         true,
         3,
         {},
         {{R_TEST, 0}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         {100, 250, 100}},
        {"code 5",
         Rig::Good,
         0,
         5,
         true,
         0,
         {},
         {{R_TEST, 0}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         {100, 250, 100}},
        {"GetSpeed fails",
         Rig::Good,
         2,
         2,
         false,
         0,
         {NOT_RESPONDING},
         {{R_TEST, 0}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         {100, 250, 100}},
        {"no programmer", Rig::None, 0, 2, false, 0, {NO_PROGRAMMER}, {}, {100}},
        {"access denied", Rig::Denied, 0, 2, false, 0, {DENIED}, {}, {100}},
        {"wrong identity",
         Rig::WrongIdentity,
         0,
         2,
         false,
         0,
         {BAD_ANSWER},
         {{R_TEST, 0}, {R_POWER_OFF, 0}},
         {100, 250}},
    };
    for (const Case& c : cases) {
        sim::CSimBus bus;
        PrepareBus(bus, c.rig, Device(c.failAt, c.stored));
        CEventRecorder messages;
        CRecordingSleeper sleeper;
        CProgrammer link;
        const SpeedOpening opening = OpenSpeed(link, SpeedJob{}, messages, sleeper);
        EXPECT_EQ(opening.stayOpen, c.stayOpen) << c.what;
        EXPECT_EQ(opening.position, c.position) << c.what;
        EXPECT_EQ(opening.code, c.stayOpen ? c.stored : -1) << c.what;
        EXPECT_EQ(messages.Log(), c.shown) << c.what;
        EXPECT_EQ(VendorRequests(bus), c.requests) << c.what;
        EXPECT_EQ(sleeper.Waits(), c.waits) << c.what;
    }
}

TEST(ProgrammingSpeed, Confirming) {
    const std::string changed = std::string("info: ") + MSG_SPEED_CHANGED;
    const std::string notChanged = std::string("error: ") + MSG_SPEED_NOT_CHANGED;
    const struct Case {
        const char* what;
        Rig rig;
        int failAt;
        int position;
        bool ok;
        Shown shown;
        std::vector<Req> requests;
        int storedAfter; // the programmer's code afterwards (it starts with 2)
        std::vector<int> waits;
    } cases[] = {
        {"far right",
         Rig::Good,
         0,
         3,
         true,
         {changed},
         {{R_TEST, 0}, {R_SET_SPEED, 0}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         0,
         {250, 250, 100}},
        {"far left",
         Rig::Good,
         0,
         0,
         true,
         {changed},
         {{R_TEST, 0}, {R_SET_SPEED, 3}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         3,
         {250, 250, 100}},
        // A failed read-back is no proof, also for code 0.
        {"read-back fails, code 0",
         Rig::Good,
         3,
         3,
         false,
         {notChanged},
         {{R_TEST, 0}, {R_SET_SPEED, 0}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         0,
         {250, 250, 100}},
        {"read-back fails, code 3",
         Rig::Good,
         3,
         0,
         false,
         {notChanged},
         {{R_TEST, 0}, {R_SET_SPEED, 3}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         3,
         {250, 250, 100}},
        {"SetSpeed fails",
         Rig::Good,
         2,
         3,
         false,
         {notChanged},
         {{R_TEST, 0}, {R_SET_SPEED, 0}, {R_GET_SPEED, 0}, {R_POWER_OFF, 0}},
         2,
         {250, 250, 100}},
        {"no programmer", Rig::None, 0, 3, false, {NO_PROGRAMMER}, {}, -1, {}},
        {"wrong identity",
         Rig::WrongIdentity,
         0,
         3,
         false,
         {BAD_ANSWER},
         {{R_TEST, 0}, {R_POWER_OFF, 0}},
         2,
         {250}},
    };
    for (const Case& c : cases) {
        sim::CSimBus bus;
        PrepareBus(bus, c.rig, Device(c.failAt, 2));
        CEventRecorder messages;
        CRecordingSleeper sleeper;
        CProgrammer link;
        EXPECT_EQ(ConfirmSpeed(link, SpeedJob{c.position, ""}, messages, sleeper).changed, c.ok) << c.what;
        EXPECT_EQ(messages.Log(), c.shown) << c.what;
        EXPECT_EQ(VendorRequests(bus), c.requests) << c.what;
        EXPECT_EQ(sleeper.Waits(), c.waits) << c.what;
        if (c.storedAfter >= 0) {
            EXPECT_EQ(bus.State(0).speedCode, c.storedAfter) << c.what;
        }
    }
}

// A PowerOff that fails at the end is told after what the operation found, as the burn tells it:
// the target may still be powered. The result of the operation itself stands.
TEST(LockBitsAndSpeed, FailedPowerOffIsTold) {
    const std::string powerOff = std::string("error: ") + MSG_POWER_OFF_FAILED;
    const struct Case {
        const char* what;
        int failAt;                                                        // the PowerOff
        std::function<bool(IProgrammer&, IOperationPort&, ISleeper&)> run; // true: the result stands
        Shown shown;
    } cases[] = {
        {"Write Lock Bits",
         7,
         [](IProgrammer& link, IOperationPort& port, ISleeper& sleeper) {
             const LockResult r = WriteLockBitsToChip(link, LockJob{{1, 1, 1, 0}, ""}, port, sleeper);
             return r.ok && r.powerOffFailed;
         },
         {"info: Device Locked - Lock Mode = 2", "info: Device Locked - Lock Mode = 3",
          "info: Device Locked - Lock Mode = 4", powerOff}},
        {"Read Lock Bits",
         4,
         [](IProgrammer& link, IOperationPort& port, ISleeper& sleeper) {
             const LockResult r = ReadLockBitsFromChip(link, LockJob{}, port, sleeper);
             return r.ok && r.powerOffFailed;
         },
         {"info: Device is NOT locked !!!", powerOff}},
        {"Programming Speed opening",
         3,
         [](IProgrammer& link, IOperationPort& port, ISleeper& sleeper) {
             const SpeedOpening r = OpenSpeed(link, SpeedJob{}, port, sleeper);
             return r.stayOpen && r.powerOffFailed;
         },
         {powerOff}},
        {"Programming Speed OK",
         4,
         [](IProgrammer& link, IOperationPort& port, ISleeper& sleeper) {
             const SpeedResult r = ConfirmSpeed(link, SpeedJob{3, ""}, port, sleeper);
             return r.changed && r.powerOffFailed;
         },
         {std::string("info: ") + MSG_SPEED_CHANGED, powerOff}},
    };
    for (const Case& c : cases) {
        sim::CSimBus bus;
        PrepareBus(bus, Rig::Good, Device(c.failAt));
        CEventRecorder messages;
        CRecordingSleeper sleeper;
        CProgrammer link;
        EXPECT_TRUE(c.run(link, messages, sleeper)) << c.what;
        EXPECT_EQ(messages.Log(), c.shown) << c.what;
        const std::vector<Req> requests = VendorRequests(bus);
        ASSERT_FALSE(requests.empty()) << c.what;
        EXPECT_EQ(requests.back().request, R_POWER_OFF) << c.what;
        EXPECT_EQ(static_cast<int>(requests.size()), c.failAt) << c.what;
    }
}
