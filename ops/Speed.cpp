#include "ops/Speed.h"

#include <algorithm>

#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/Texts.h"

namespace {

constexpr int WAIT_BEFORE_OPEN_MS = 100;
constexpr int WAIT_BEFORE_TEST_MS = 250;
constexpr int WAIT_BEFORE_READ_MS = 100;
constexpr int WAIT_BEFORE_SET_MS = 250;
constexpr int WAIT_AFTER_SET_MS = 100;

// Open, then TestHardware after its wait, each failure with its message.
constexpr OpeningStep REACH[] = {
    {OpeningStep::Open}, {OpeningStep::Wait, WAIT_BEFORE_TEST_MS}, {OpeningStep::Test}};

bool Reach(CChipSession& session, bool& noProgrammer) {
    const Result status = session.OpenSteps(REACH);
    noProgrammer = status == Result::NoProgrammer;
    return status == Result::Done;
}

} // namespace

int SpeedCodeFromPosition(int position) {
    return SPEED_SLIDER_MAX - position;
}

int SpeedPositionFromCode(int code) {
    return (code >= 0 && code <= SPEED_SLIDER_MAX) ? SPEED_SLIDER_MAX - code : -1;
}

int SpeedKhzAtPosition(int position) {
    if (position < 0 || position > SPEED_SLIDER_MAX)
        return 0;
    return SPEED_KHZ[SpeedCodeFromPosition(position)];
}

std::string SpeedLabel(int position) {
    return FormatText(LABEL_SPEED, SpeedKhzAtPosition(position));
}

std::string SpeedCodeText(int code) {
    const int position = SpeedPositionFromCode(code);
    return position >= 0 ? SpeedLabel(position) : FormatText(LABEL_SPEED_UNKNOWN, code);
}

int SpeedPositionFromKhz(int khz) {
    for (int position = 0; position <= SPEED_SLIDER_MAX; ++position)
        if (SpeedKhzAtPosition(position) == khz)
            return position;
    return -1;
}

SpeedOpening OpenSpeed(IProgrammer& link, const SpeedJob& job, IOperationPort& port, ISleeper& sleeper) {
    SpeedOpening opening;
    CChipSession session(link, port, sleeper, nullptr, job.location);
    IProgrammer& programmer = session.Programmer();
    sleeper.Sleep(WAIT_BEFORE_OPEN_MS);
    if (Reach(session, opening.noProgrammer)) {
        sleeper.Sleep(WAIT_BEFORE_READ_MS);
        bool ok = false;
        const uint8_t code = programmer.GetSpeed(&ok);
        if (!ok) {
            // Not a code 0: the dialog cannot show the programmer's speed, so it closes.
            port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        } else {
            opening.stayOpen = true;
            opening.code = code;
            const int position = SpeedPositionFromCode(code);
            if (position >= 0)
                opening.position = position;
        }
    }
    opening.powerOffFailed = !session.Release();
    return opening;
}

SpeedResult ConfirmSpeed(IProgrammer& link, const SpeedJob& job, IOperationPort& port, ISleeper& sleeper) {
    const int position = std::clamp(job.position, 0, SPEED_SLIDER_MAX);
    SpeedResult result;
    CChipSession session(link, port, sleeper, nullptr, job.location);
    IProgrammer& programmer = session.Programmer();
    if (Reach(session, result.noProgrammer)) {
        sleeper.Sleep(WAIT_BEFORE_SET_MS);
        const int code = SpeedCodeFromPosition(position);
        programmer.SetSpeed(static_cast<uint8_t>(code)); // the read-back alone decides
        sleeper.Sleep(WAIT_AFTER_SET_MS);
        bool ok = false;
        const uint8_t readBack = programmer.GetSpeed(&ok);
        result.changed = ok && readBack == code;
        if (result.changed)
            port.Message(MSG_SPEED_CHANGED, MsgIcon::Information);
        else
            port.Message(MSG_SPEED_NOT_CHANGED, MsgIcon::Error);
    }
    result.powerOffFailed = !session.Release();
    return result;
}
