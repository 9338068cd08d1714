// The fault sweep: every device operation against the simulated programmer, with one vendor request
// after another made to fail, in each way a cable or a chip can fail it (stall, time-out, unplug,
// short transfer). Every run is checked from the request transcript, the texts the user sees and
// the simulated device afterwards:
//  - the requests are those of the run without a fault, up to the failed one; after a failure that
//    ends the operation only PowerOff follows (also attempted after an unplug), and it is the last;
//  - the operation ends with the documented texts of the request that failed;
//  - whatever it reports is true of the device (a verified chip holds the image, a lock mode shown
//    as written is the chip's, a speed shown as changed is the programmer's, a read that claims
//    success holds the chip's bytes, a failed one leaves the image alone);
//  - the target is not left powered, the device is released, the operation ends (no hang).
// Burns of the larger chips send thousands of block requests: every other request is swept, and
// block requests at the first, second and last block and at a seeded sample of others.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include "HardeningSupport.h"
#include "OpsTestUtil.h"
#include "image/FirmwareBuffer.h"
#include "link/Requests.h"
#include "link/Programmer.h"
#include "ops/Burn.h"
#include "ops/FlashRead.h"
#include "ops/Format.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"

using namespace opstest;
using sim::FailKind;

namespace {

using Texts = std::vector<std::string>;

const FailKind KINDS[] = {FailKind::Stall, FailKind::Timeout, FailKind::Unplug, FailKind::Short};
constexpr int BLOCK_SAMPLE = 12; // block positions swept besides the first, second and last
constexpr unsigned SEED = 20240905;

const char* KindName(FailKind kind) {
    switch (kind) {
    case FailKind::Stall:
        return "stall";
    case FailKind::Timeout:
        return "timeout";
    case FailKind::Unplug:
        return "unplug";
    case FailKind::Short:
        return "short";
    }
    return "?";
}

// Whether a request that moves one byte fewer than asked fails, as the link judges it: exact
// lengths for blocks and the signature, the identity's NUL for the hardware test, the returned
// byte for lock bits and speed. The others have no data to miss or ignore the byte.
bool ShortFails(int request) {
    switch (request) {
    case R_READ_BLOCK:
    case R_WRITE_BLOCK:
    case R_SIGNATURE:
    case R_TEST:
    case R_LOCK_BITS:
    case R_GET_SPEED:
        return true;
    default:
        return false;
    }
}

bool IsBlock(int request) {
    return request == R_READ_BLOCK || request == R_WRITE_BLOCK;
}

// One run's observations. The operation's own checks of the truth add to problems.
struct Outcome {
    std::vector<sim::TranscriptEntry> requests; // vendor requests, in order
    Texts texts;                                // rows or messages and statuses, in order
    sim::DeviceState state;                     // the device after the run
    std::vector<std::string> problems;
};

struct Scenario {
    std::string name;
    sim::DeviceConfig device;
    // Runs the operation and checks what it reported against the bus's device afterwards.
    std::function<void(sim::CSimBus& bus, Outcome& outcome)> run;
    // Whether a failure of the request ends the operation, so that only PowerOff may follow.
    std::function<bool(int request)> ends;
    // The texts the operation ends with once that request failed and ended it.
    std::function<Texts(int request)> endTexts;
};

std::vector<sim::TranscriptEntry> VendorEntries(const sim::CSimBus& bus) {
    return bus.VendorTranscript();
}

bool Succeeded(const sim::TranscriptEntry& e) {
    return e.result >= 0 && !(e.result < e.length && ShortFails(e.request));
}

bool AnySucceeded(const Outcome& o, int request) {
    return std::any_of(o.requests.begin(), o.requests.end(),
                       [&](const sim::TranscriptEntry& e) { return e.request == request && Succeeded(e); });
}

long Count(const Texts& texts, const std::string& text) {
    return std::count(texts.begin(), texts.end(), text);
}

// The highest lock mode whose request went through (1 when none did): what the chip must hold.
int LockModeWritten(const Outcome& o) {
    int mode = 1;
    for (int m = 2; m <= 4; ++m)
        if (AnySucceeded(o, R_LOCK1 + m - 1))
            mode = m;
    return mode;
}

void Expect(Outcome& o, bool holds, const std::string& what) {
    if (!holds)
        o.problems.push_back(what);
}

std::string Message(MsgIcon icon, const std::string& text) {
    return (icon == MsgIcon::Error ? "error: " : "info: ") + text;
}

std::string PowerOffMessage() {
    return Message(MsgIcon::Error, MSG_POWER_OFF_FAILED);
}

// ---- the operations ----

Scenario BurnScenario(int chip) {
    const int size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
    Scenario s;
    s.name = std::string("burn ") + g_chipCatalogue[static_cast<size_t>(chip)].name;
    s.device = Chip(chip);
    s.device.speedCode = 1; // so that a failed GetSpeed shows (as 3000 kHz)
    s.run = [chip, size](sim::CSimBus& bus, Outcome& o) {
        const std::vector<uint8_t> pattern = PatternImage(size, static_cast<unsigned>(chip) + 1);
        std::vector<uint8_t> image(BURN_BUFFER_SIZE, 0xFF), readBack(BURN_BUFFER_SIZE, 0x5A);
        std::copy(pattern.begin(), pattern.end(), image.begin());
        std::atomic<int32_t> running{1}, abort{0};
        CRecordingSleeper sleeper;
        BurnJob job;
        job.image = image.data();
        job.readBack = readBack.data();
        job.lastAddress = size - 1;
        job.autoLock = true;
        job.lockLevel = 4;
        job.running = &running;
        job.abort = &abort;
        CEventRecorder ui; // answers No to "Write More Chips ?"
        BurnResult result;
        CProgrammer link;
        hardening::RunWithDeadline("burn", [&] { result = BurnThreadProc(link, job, ui, sleeper); });
        o.requests = VendorEntries(bus);
        o.texts = ui.Rows();
        o.state = bus.State(0);

        const Texts log = ui.Log();
        Expect(o, Count(log, "ended failed") + Count(log, "ended done") == 1 && running.load() == 0,
               "the worker did not end as it should");
        Expect(o, (result.ending == Result::Done) == (ui.Asked() == 1), "asked without ending by the answer");
        const bool verified = Count(o.texts, "S Data Verification Success") == 1;
        Expect(o, verified == (result.chipsWritten == 1), "the chips written disagree with the rows");
        if (verified)
            Expect(o,
                   o.state.flash.size() >= pattern.size() &&
                       std::equal(pattern.begin(), pattern.end(), o.state.flash.begin()),
                   "a chip reported verified does not hold the image");
        // The chip named and its signature are the socket's.
        const ChipInfo& info = g_chipCatalogue[static_cast<size_t>(chip)];
        const uint8_t signature[3] = {static_cast<uint8_t>(info.signature[0]),
                                      static_cast<uint8_t>(info.signature[1]),
                                      static_cast<uint8_t>(info.signature[2])};
        for (const std::string& row : o.texts) {
            if (row.rfind("S Found : ", 0) == 0)
                Expect(o, row == "S Found : " + ChipNameFromSignature(signature),
                       "a wrong chip named: " + row);
            if (row.rfind("I Signature : ", 0) == 0)
                Expect(o,
                       row == "I " + FormatText(ROW_SIGNATURE, info.signature[0], info.signature[1],
                                                info.signature[2]),
                       "a wrong signature shown: " + row);
        }
        // One row per power-on step, telling how it went.
        long poweredOk = 0, poweredFailed = 0;
        for (const auto& e : o.requests)
            if (e.request == R_POWER_ON)
                ++(Succeeded(e) ? poweredOk : poweredFailed);
        long levelRows = 0;
        for (const std::string& row : o.texts)
            levelRows += row.rfind("S Powered On Level ", 0) == 0;
        Expect(o, levelRows == poweredOk && Count(o.texts, "E Continuing with Errors ...") == poweredFailed,
               "the power-on rows disagree with the requests");
        // The speed line: the programmer's speed, or 3000 kHz when it could not be read.
        const std::string speedRow =
            std::string("I ") + ROW_SPEED[AnySucceeded(o, R_GET_SPEED) ? o.state.speedCode & 3 : 0];
        for (const std::string& row : o.texts)
            if (row.rfind("I Burn Process Started at", 0) == 0)
                Expect(o, row == speedRow, "a wrong speed line: " + row);
        // Lock modes: shown as activated exactly when written, and the chip holds the highest.
        for (int m = 2; m <= 4; ++m)
            Expect(o,
                   (Count(o.texts, "S " + FormatText(ROW_LOCK_ACTIVATED, m)) == 1) ==
                       AnySucceeded(o, R_LOCK1 + m - 1),
                   "lock mode " + std::to_string(m) + " shown otherwise than written");
        if (!o.state.unplugged)
            Expect(o, o.state.lockMode == LockModeWritten(o), "the chip's lock mode is not the one written");
    };
    s.ends = [](int request) { return request != R_POWER_ON && request != R_GET_SPEED; };
    s.endTexts = [](int request) -> Texts {
        const std::string lower = std::string("I ") + ROW_RECONNECT_LOWER;
        const std::string upper = std::string("I ") + ROW_RECONNECT_UPPER;
        switch (request) {
        case R_TEST:
            return {"E Programmer Not Responding"};
        case R_SIGNATURE:
        case R_ERASE:
            return {"E Programmer Not Responding", lower};
        case R_WRITE_BLOCK:
            return {"E Burn Process Failed", "E Programmer Not Responding", upper};
        case R_READ_BLOCK:
            return {"E Data Verification  Failed", "E Programmer Not Responding", upper};
        default: // a lock mode
            return {"E " + FormatText(ROW_LOCK_FAILED, request - R_LOCK1 + 1)};
        }
    };
    return s;
}

Scenario ReadScenario(int chip) {
    const int size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
    Scenario s;
    s.name = std::string("flash read ") + g_chipCatalogue[static_cast<size_t>(chip)].name;
    s.device = Chip(chip);
    s.run = [size](sim::CSimBus& bus, Outcome& o) {
        const std::vector<uint8_t> flash = PatternImage(size, 77);
        bus.SetFlash(0, flash);
        bus.ClearTranscript();
        std::vector<uint8_t> staging(READ_BUFFER_SIZE, 0x5A);
        std::atomic<int32_t> succeeded{0}, abort{0};
        CRecordingSleeper sleeper;
        ReadJob job;
        job.length = size;
        job.buffer = staging.data();
        job.succeeded = &succeeded;
        job.abort = &abort;
        CEventRecorder ui;
        CProgrammer link;
        hardening::RunWithDeadline("read", [&] { ReadFlashThread(link, job, ui, sleeper); });
        o.requests = VendorEntries(bus);
        o.texts = ui.Log();
        o.state = bus.State(0);

        // What the Read Flash command does once the dialog has closed: the image takes the staging
        // buffer only after a read that succeeded.
        FirmwareBuffer buffer;
        buffer.m_imageSize = size;
        buffer.m_image.fill(0x33);
        if (succeeded.load() == 1)
            std::copy_n(staging.begin(), size, buffer.m_image.begin());
        const bool complete = std::equal(flash.begin(), flash.end(), staging.begin());
        const bool claimed = Count(o.texts, std::string("I ") + STATUS_SUCCESS) == 1;
        Expect(o, claimed == (succeeded.load() == 1), "the success flag disagrees with the status");
        if (succeeded.load() == 1)
            Expect(o, complete && std::equal(flash.begin(), flash.end(), buffer.m_image.begin()),
                   "a read reported complete does not hold the chip's bytes");
        else
            Expect(o,
                   std::all_of(buffer.m_image.begin(), buffer.m_image.end(),
                               [](uint8_t b) { return b == 0x33; }),
                   "a failed read changed the image");
        Expect(o, std::all_of(staging.begin() + size, staging.end(), [](uint8_t b) { return b == 0x5A; }),
               "the read wrote past its length");
        Expect(o,
               !o.texts.empty() && o.texts.back().rfind("ended ", 0) == 0 &&
                   Count(o.texts, o.texts.back()) == 1,
               "the read did not end exactly once, last");
    };
    s.ends = [](int request) { return request != R_POWER_OFF; };
    s.endTexts = [](int request) -> Texts {
        return {Message(MsgIcon::Error, request == R_TEST ? MSG_BAD_ANSWER : MSG_NOT_RESPONDING),
                std::string("E ") + STATUS_ERROR, "ended failed"};
    };
    return s;
}

const Texts& ModeMessages() {
    static const Texts s_messages = {Message(MsgIcon::Information, FormatText(MSG_DEVICE_LOCKED, 2)),
                                     Message(MsgIcon::Information, FormatText(MSG_DEVICE_LOCKED, 3)),
                                     Message(MsgIcon::Information, FormatText(MSG_DEVICE_LOCKED, 4))};
    return s_messages;
}

Texts ReachTexts(int request) {
    return {Message(MsgIcon::Error, request == R_TEST ? MSG_BAD_ANSWER : MSG_NOT_RESPONDING)};
}

Scenario LockWriteScenario() {
    Scenario s;
    s.name = "lock write (modes 1 to 4)";
    s.device = Chip(3);
    s.run = [](sim::CSimBus& bus, Outcome& o) {
        LockBoxes boxes;
        boxes.m_lb1 = boxes.m_lb2 = boxes.m_lb3 = 1;
        CEventRecorder messages;
        bool written = false;
        hardening::RunWithDeadline("lock write", [&] {
            CRecordingSleeper sleeper;
            CProgrammer link;
            written = WriteLockBitsToChip(link, LockJob{boxes, ""}, messages, sleeper).ok;
        });
        o.requests = VendorEntries(bus);
        o.texts = messages.Log();
        o.state = bus.State(0);
        for (int m = 2; m <= 4; ++m)
            Expect(o,
                   (Count(o.texts, ModeMessages()[static_cast<size_t>(m - 2)]) == 1) ==
                       AnySucceeded(o, R_LOCK1 + m - 1),
                   "lock mode " + std::to_string(m) + " shown otherwise than written");
        Expect(o, written == (LockModeWritten(o) == 4 && AnySucceeded(o, R_LOCK1)),
               "the result disagrees with the modes written");
        if (!o.state.unplugged)
            Expect(o, o.state.lockMode == LockModeWritten(o), "the chip's lock mode is not the one written");
    };
    s.ends = [](int request) { return request != R_POWER_OFF; };
    s.endTexts = ReachTexts;
    return s;
}

Scenario LockReadScenario() {
    Scenario s;
    s.name = "lock read (a chip in mode 3)";
    s.device = Chip(3);
    s.run = [](sim::CSimBus& bus, Outcome& o) {
        bus.SetLockMode(0, 3);
        bus.ClearTranscript();
        LockBoxes boxes;
        boxes.m_lockAfterBurn = 1;
        CEventRecorder messages;
        bool read = false;
        hardening::RunWithDeadline("lock read", [&] {
            CRecordingSleeper sleeper;
            CProgrammer link;
            const LockResult result = ReadLockBitsFromChip(link, LockJob{boxes, ""}, messages, sleeper);
            read = result.ok;
            boxes = result.boxes;
        });
        o.requests = VendorEntries(bus);
        o.texts = messages.Log();
        o.state = bus.State(0);
        const bool shown = Count(o.texts, Message(MsgIcon::Information, MSG_LOCKED_MODE3)) == 1;
        Expect(o, read == shown && read == AnySucceeded(o, R_LOCK_BITS),
               "the lock state shown is not the chip's");
        if (read)
            Expect(o, boxes.m_lb1 == 1 && boxes.m_lb2 == 1 && boxes.m_lb3 == 0,
                   "the boxes are not the chip's");
        else
            Expect(o, boxes.m_lb1 == 0 && boxes.m_lb2 == 0 && boxes.m_lb3 == 0,
                   "a failed read changed the boxes");
        Expect(o, boxes.m_lockAfterBurn == 1, "the auto-lock box changed");
    };
    s.ends = [](int request) { return request != R_POWER_OFF; };
    s.endTexts = ReachTexts;
    return s;
}

Scenario SpeedOpenScenario() {
    Scenario s;
    s.name = "programming speed open (code 2)";
    s.device = Chip(3);
    s.device.speedCode = 2;
    s.run = [](sim::CSimBus& bus, Outcome& o) {
        CEventRecorder messages;
        CRecordingSleeper sleeper;
        SpeedOpening opening;
        CProgrammer link;
        hardening::RunWithDeadline("speed open",
                                   [&] { opening = OpenSpeed(link, SpeedJob{}, messages, sleeper); });
        o.requests = VendorEntries(bus);
        o.texts = messages.Log();
        o.state = bus.State(0);
        Expect(o, opening.stayOpen == AnySucceeded(o, R_GET_SPEED),
               "the dialog stays open without the speed");
        if (opening.stayOpen)
            Expect(o,
                   opening.code == 2 && opening.position == 1 &&
                       (o.texts.empty() || (opening.powerOffFailed && o.texts == Texts{PowerOffMessage()})),
                   "the speed shown is not the programmer's");
    };
    s.ends = [](int request) { return request != R_POWER_OFF; };
    s.endTexts = ReachTexts;
    return s;
}

Scenario SpeedOkScenario() {
    Scenario s;
    s.name = "programming speed OK (code 3 to 0)";
    s.device = Chip(3);
    s.device.speedCode = 3;
    s.run = [](sim::CSimBus& bus, Outcome& o) {
        CEventRecorder messages;
        CRecordingSleeper sleeper;
        bool changed = false;
        hardening::RunWithDeadline("speed OK", [&] {
            CProgrammer link;
            changed = ConfirmSpeed(link, SpeedJob{3, ""}, messages, sleeper).changed;
        });
        o.requests = VendorEntries(bus);
        o.texts = messages.Log();
        o.state = bus.State(0);
        const bool said = Count(o.texts, Message(MsgIcon::Information, MSG_SPEED_CHANGED)) == 1;
        Expect(o, said == changed, "the message disagrees with the result");
        if (changed)
            Expect(o, o.state.speedCode == 0, "a speed reported changed is not the programmer's");
        else if (AnySucceeded(o, R_GET_SPEED) && !o.state.unplugged)
            Expect(o, o.state.speedCode != 0, "a speed that was changed reported as not changed");
    };
    // SetSpeed's own result is not looked at: the read-back decides.
    s.ends = [](int request) { return request != R_POWER_OFF && request != R_SET_SPEED; };
    s.endTexts = [](int request) -> Texts {
        if (request == R_GET_SPEED)
            return {Message(MsgIcon::Error, MSG_SPEED_NOT_CHANGED)};
        return ReachTexts(request);
    };
    return s;
}

// ---- the sweep ----

struct Expected {
    int request;
    int value;
    bool fails;
};

// What the requests of a run with request k (from 1) failing must be, given the run without a
// fault: the same up to the failure; after an unplug every request fails; a failure that ends the
// operation is followed by PowerOff alone. endingRequest: the request whose failure ended it, or 0.
std::vector<Expected> ExpectedRequests(const Scenario& s, const std::vector<sim::TranscriptEntry>& clean,
                                       size_t k, FailKind kind, int& endingRequest) {
    std::vector<Expected> expected;
    endingRequest = 0;
    bool unplugged = false;
    for (size_t i = 0; i < clean.size(); ++i) {
        const sim::TranscriptEntry& e = clean[i];
        bool fails = unplugged;
        if (i + 1 == k) {
            fails = kind != FailKind::Short || ShortFails(e.request);
            unplugged = kind == FailKind::Unplug;
        }
        expected.push_back({e.request, e.value, fails});
        if (fails && e.request != R_POWER_OFF && s.ends(e.request)) {
            endingRequest = e.request;
            expected.push_back({R_POWER_OFF, 0, unplugged});
            break;
        }
    }
    return expected;
}

std::string Describe(const std::vector<sim::TranscriptEntry>& requests, size_t around) {
    std::ostringstream text;
    const size_t from = around > 3 ? around - 3 : 0;
    for (size_t i = from; i < requests.size() && i < around + 6; ++i)
        text << (i == from ? "" : " ") << "#" << i + 1 << ":" << requests[i].request << "/"
             << requests[i].value << "=" << requests[i].result;
    return text.str();
}

// Runs the operation with no fault, then with each chosen request failing in each way. Returns the
// count of runs and of runs that held every check.
std::pair<long, long> Sweep(const Scenario& s) {
    Outcome clean;
    {
        sim::CSimBus bus;
        bus.Add(s.device);
        s.run(bus, clean);
        for (const auto& problem : clean.problems)
            ADD_FAILURE() << s.name << " without a fault: " << problem;
        if (!clean.problems.empty() || clean.requests.empty() ||
            clean.requests.back().request != R_POWER_OFF ||
            !std::all_of(clean.requests.begin(), clean.requests.end(), Succeeded)) {
            ADD_FAILURE() << s.name << ": the run without a fault went wrong";
            return {0, 0};
        }
    }

    // Which requests to fail: every one but the blocks; of the blocks of each kind the first, the
    // second, the last and a seeded sample.
    std::vector<size_t> positions;
    std::map<int, std::vector<size_t>> blocks;
    for (size_t i = 0; i < clean.requests.size(); ++i) {
        if (IsBlock(clean.requests[i].request))
            blocks[clean.requests[i].request].push_back(i + 1);
        else
            positions.push_back(i + 1);
    }
    std::mt19937 random(SEED + static_cast<unsigned>(clean.requests.size()));
    for (auto& [request, at] : blocks) {
        std::vector<size_t> chosen = {at.front(), at.size() > 1 ? at[1] : at.front(), at.back()};
        std::uniform_int_distribution<size_t> pick(0, at.size() - 1);
        for (int n = 0; n < BLOCK_SAMPLE; ++n)
            chosen.push_back(at[pick(random)]);
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        positions.insert(positions.end(), chosen.begin(), chosen.end());
    }
    std::sort(positions.begin(), positions.end());

    long runs = 0, passed = 0, reported = 0;
    for (size_t k : positions) {
        for (FailKind kind : KINDS) {
            const std::string name = s.name + ", request #" + std::to_string(k) + " (" +
                                     std::to_string(clean.requests[k - 1].request) + ") " + KindName(kind);
            Outcome o;
            int endingRequest = 0;
            const std::vector<Expected> expected =
                ExpectedRequests(s, clean.requests, k, kind, endingRequest);
            {
                sim::DeviceConfig device = s.device;
                device.failAt = static_cast<int>(k);
                device.failCount = 1;
                device.failKind = kind;
                device.instantTimeouts = true;
                sim::CSimBus bus;
                bus.Add(device);
                s.run(bus, o);
                Expect(o, hardening::DescriptorsUnder(bus.Root()) == 0, "the device was not released");
            }
            // The requests, in order, and which of them failed.
            bool same = o.requests.size() == expected.size();
            for (size_t i = 0; same && i < expected.size(); ++i) {
                const sim::TranscriptEntry& e = o.requests[i];
                same = e.request == expected[i].request && e.value == expected[i].value &&
                       Succeeded(e) == !expected[i].fails;
            }
            Expect(o, same, "requests " + Describe(o.requests, k - 1));
            Expect(o, !o.requests.empty() && o.requests.back().request == R_POWER_OFF,
                   "the last request is not PowerOff");
            if (kind == FailKind::Unplug)
                for (size_t i = k; i < o.requests.size(); ++i)
                    Expect(o, o.requests[i].result == -ENODEV, "a request reached an unplugged device");
            else if (!o.requests.empty() && Succeeded(o.requests.back()))
                Expect(o, !o.state.powered, "the target was left powered"); // unless PowerOff itself failed
            // The texts: the documented ones of the failure that ended the operation; without any
            // failure the host could see, the same as without a fault.
            const bool anyFailed =
                std::any_of(expected.begin(), expected.end(), [](const Expected& e) { return e.fails; });
            if (endingRequest != 0) {
                const Texts tail = s.endTexts(endingRequest);
                // A PowerOff that failed after the ending (an unplugged device) adds its own rows.
                Texts texts = o.texts;
                const Texts powerOffRows = {std::string("E ") + ROW_POWER_OFF_FAILED,
                                            std::string("I ") + ROW_DISCONNECT_FIRST};
                const bool powerOffFailed = !o.requests.empty() && o.requests.back().request == R_POWER_OFF &&
                                            !Succeeded(o.requests.back());
                if (powerOffFailed && texts.size() >= 2 &&
                    std::equal(powerOffRows.begin(), powerOffRows.end(), texts.end() - 2))
                    texts.resize(texts.size() - 2);
                else if (powerOffFailed && !texts.empty() && texts.back() == PowerOffMessage())
                    texts.pop_back(); // the message-box operations' form of the same
                Expect(o,
                       texts.size() >= tail.size() &&
                           std::equal(tail.begin(), tail.end(), texts.end() - static_cast<long>(tail.size())),
                       "it did not end with the texts of request " + std::to_string(endingRequest) +
                           ", but " + (o.texts.empty() ? std::string("nothing") : o.texts.back()));
            } else if (!anyFailed) {
                Expect(o, o.texts == clean.texts, "a failure nobody could see changed the texts");
            }
            ++runs;
            if (o.problems.empty()) {
                ++passed;
            } else if (++reported <= 20) {
                std::string all;
                for (const auto& p : o.problems)
                    all += "\n  " + p;
                ADD_FAILURE() << name << ":" << all;
            }
        }
    }
    return {runs, passed};
}

// Runs the scenarios and records the figures under name.
void SweepAll(const std::string& name, const std::vector<Scenario>& scenarios) {
    long runs = 0, passed = 0;
    for (const Scenario& s : scenarios) {
        const auto [r, p] = Sweep(s);
        runs += r;
        passed += p;
        std::printf("%-40s %5ld faults injected, %5ld passed\n", s.name.c_str(), r, p);
    }
    hardening::RecordFigures("fault-sweep-" + name, {{"injected", runs}, {"passed", passed}});
    EXPECT_EQ(passed, runs);
}

} // namespace

class FaultSweepBurn : public testing::TestWithParam<int> {};

TEST_P(FaultSweepBurn, EveryRequestFailingInEachWay) {
    SweepAll("burn-" + std::to_string(GetParam()), {BurnScenario(GetParam())});
}

INSTANTIATE_TEST_SUITE_P(Chip, FaultSweepBurn, testing::Range(0, CHIP_COUNT));

TEST(FaultSweep, FlashReadOfEachChip) {
    std::vector<Scenario> scenarios;
    for (int chip = 0; chip < CHIP_COUNT; ++chip)
        scenarios.push_back(ReadScenario(chip));
    SweepAll("read", scenarios);
}

TEST(FaultSweep, LockBitsAndProgrammingSpeed) {
    SweepAll("lock-speed", {LockWriteScenario(), LockReadScenario(), SpeedOpenScenario(), SpeedOkScenario()});
}
