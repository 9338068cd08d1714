#include "ops/Speed.h"

#include "link/Programmer.h"
#include "ops/Format.h"
#include "ops/Texts.h"

namespace {

constexpr int WAIT_BEFORE_OPEN_MS = 100;
constexpr int WAIT_BEFORE_TEST_MS = 250;
constexpr int WAIT_BEFORE_READ_MS = 100;
constexpr int WAIT_BEFORE_SET_MS = 250;
constexpr int WAIT_AFTER_SET_MS = 100;

// Open, then TestHardware after its wait, each failure with its message. False when the dialog's
// work cannot go on; the device (if held) is still to be released by the caller.
bool Reach(CProgrammer& programmer, IMessageSink& messages, ISleeper& sleeper) {
    if (!programmer.Open()) {
        messages.ShowMessage(NoProgrammerMessage(programmer), MsgIcon::Error);
        return false;
    }
    sleeper.Sleep(WAIT_BEFORE_TEST_MS);
    if (!programmer.TestHardware()) {
        messages.ShowMessage(MSG_BAD_ANSWER, MsgIcon::Error);
        return false;
    }
    return true;
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

SpeedOpening OpenSpeed(IMessageSink& messages, ISleeper& sleeper, const std::string& location) {
    SpeedOpening opening;
    CProgrammer programmer;
    programmer.SetLocation(location);
    sleeper.Sleep(WAIT_BEFORE_OPEN_MS);
    if (Reach(programmer, messages, sleeper)) {
        sleeper.Sleep(WAIT_BEFORE_READ_MS);
        bool ok = false;
        const uint8_t code = programmer.GetSpeed(&ok);
        if (!ok) {
            // Not a code 0: the dialog cannot show the programmer's speed, so it closes.
            messages.ShowMessage(MSG_NOT_RESPONDING, MsgIcon::Error);
        } else {
            opening.stayOpen = true;
            opening.code = code;
            const int position = SpeedPositionFromCode(code);
            if (position >= 0)
                opening.position = position;
        }
    }
    ReleaseProgrammer(programmer);
    return opening;
}

bool ConfirmSpeed(int position, IMessageSink& messages, ISleeper& sleeper, const std::string& location) {
    if (position < 0)
        position = 0;
    if (position > SPEED_SLIDER_MAX)
        position = SPEED_SLIDER_MAX;
    bool changed = false;
    CProgrammer programmer;
    programmer.SetLocation(location);
    if (Reach(programmer, messages, sleeper)) {
        sleeper.Sleep(WAIT_BEFORE_SET_MS);
        const int code = SpeedCodeFromPosition(position);
        programmer.SetSpeed(static_cast<uint8_t>(code)); // the read-back alone decides
        sleeper.Sleep(WAIT_AFTER_SET_MS);
        bool ok = false;
        const uint8_t readBack = programmer.GetSpeed(&ok);
        changed = ok && readBack == code;
        if (changed)
            messages.ShowMessage(MSG_SPEED_CHANGED, MsgIcon::Information);
        else
            messages.ShowMessage(MSG_SPEED_NOT_CHANGED, MsgIcon::Error);
    }
    ReleaseProgrammer(programmer);
    return changed;
}
