#include "ops/LockBits.h"

#include "link/Programmer.h"
#include "ops/Format.h"
#include "ops/Texts.h"

const LockStatusRow LOCK_STATUS_TABLE[4] = {
    {0x00, 1, MSG_NOT_LOCKED, 0, 0, 0},
    {0x04, 2, MSG_LOCKED_MODE2, 1, 0, 0},
    {0x0C, 3, MSG_LOCKED_MODE3, 1, 1, 0},
    {0x1C, 4, MSG_LOCKED_MODE4, 1, 1, 1},
};

const LockStatusRow* FindLockStatus(uint8_t status) {
    const uint8_t masked = status & LOCK_BITS_MASK;
    for (const LockStatusRow& row : LOCK_STATUS_TABLE)
        if (row.masked == masked)
            return &row;
    return nullptr;
}

void OnLb1(LockBoxes& boxes) {
    if (boxes.m_lb2 && !boxes.m_lb1)
        boxes.m_lb1 = 1;
}

void OnLb2(LockBoxes& boxes) {
    if (boxes.m_lb2)
        boxes.m_lb1 = 1;
    if (boxes.m_lb3 && !boxes.m_lb2)
        boxes.m_lb2 = 1;
}

void OnLb3(LockBoxes& boxes) {
    if (boxes.m_lb3) {
        boxes.m_lb1 = 1;
        boxes.m_lb2 = 1;
    }
}

void SetBoxesFromMode(LockBoxes& boxes, int mode) {
    boxes.m_lb1 = (mode == 2 || mode == 3 || mode == 4) ? 1 : 0;
    boxes.m_lb2 = (mode == 3 || mode == 4) ? 1 : 0;
    boxes.m_lb3 = (mode == 4) ? 1 : 0;
}

int ModeFromBoxes(const LockBoxes& boxes) {
    if (boxes.m_lb3)
        return 4;
    if (boxes.m_lb2)
        return 3;
    if (boxes.m_lb1)
        return 2;
    return 1;
}

namespace {

// Open, TestHardware, PowerOn with their messages. False when the button's work cannot go on; the
// device (if held) is then still to be powered off and released by the caller.
bool Prepare(CProgrammer& programmer, IMessageSink& messages, const std::string& location) {
    programmer.SetLocation(location);
    if (!programmer.Open()) {
        messages.ShowMessage(NoProgrammerMessage(programmer), MsgIcon::Error);
        return false;
    }
    if (!programmer.TestHardware()) {
        messages.ShowMessage(MSG_BAD_ANSWER, MsgIcon::Error);
        return false;
    }
    if (!programmer.PowerOn()) {
        messages.ShowMessage(MSG_NOT_RESPONDING, MsgIcon::Error);
        return false;
    }
    return true;
}

} // namespace

bool WriteLockBitsToChip(const LockBoxes& boxes, IMessageSink& messages, const std::string& location) {
    CProgrammer programmer;
    bool ok = Prepare(programmer, messages, location);
    if (ok && !programmer.WriteLockMode(1)) {
        messages.ShowMessage(MSG_NOT_RESPONDING, MsgIcon::Error);
        ok = false;
    }
    const int ticked[3] = {boxes.m_lb1, boxes.m_lb2, boxes.m_lb3};
    for (int k = 0; ok && k < 3; ++k) {
        if (!ticked[k])
            continue;
        const int mode = k + 2;
        if (!programmer.WriteLockMode(mode)) {
            messages.ShowMessage(MSG_NOT_RESPONDING, MsgIcon::Error);
            ok = false;
        } else {
            messages.ShowMessage(FormatText(MSG_DEVICE_LOCKED, mode), MsgIcon::Information);
        }
    }
    ReleaseProgrammer(programmer);
    return ok;
}

bool ReadLockBitsFromChip(LockBoxes& boxes, IMessageSink& messages, const std::string& location,
                          uint8_t* status) {
    CProgrammer programmer;
    bool ok = Prepare(programmer, messages, location);
    if (ok) {
        const uint8_t value = programmer.ReadLockBits(&ok);
        if (!ok) {
            // A failed request is no news about the chip: the boxes stay as they are.
            messages.ShowMessage(MSG_NOT_RESPONDING, MsgIcon::Error);
        } else {
            if (status)
                *status = value;
            if (const LockStatusRow* row = FindLockStatus(value)) {
                messages.ShowMessage(row->message, MsgIcon::Information);
                boxes.m_lb1 = row->lb1;
                boxes.m_lb2 = row->lb2;
                boxes.m_lb3 = row->lb3;
            }
        }
    }
    ReleaseProgrammer(programmer);
    return ok;
}
