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
bool Prepare(CProgrammer& programmer, IOperationPort& port, const std::string& location) {
    programmer.SetLocation(location);
    if (!programmer.Open()) {
        port.Message(NoProgrammerMessage(programmer), MsgIcon::Error);
        return false;
    }
    if (!programmer.TestHardware()) {
        port.Message(MSG_BAD_ANSWER, MsgIcon::Error);
        return false;
    }
    if (!programmer.PowerOn()) {
        port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        return false;
    }
    return true;
}

} // namespace

LockResult WriteLockBitsToChip(const LockJob& job, IOperationPort& port, ISleeper&) {
    LockResult result;
    result.boxes = job.boxes;
    CProgrammer programmer;
    bool ok = Prepare(programmer, port, job.location);
    if (ok && !programmer.WriteLockMode(1)) {
        port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        ok = false;
    }
    const int ticked[3] = {job.boxes.m_lb1, job.boxes.m_lb2, job.boxes.m_lb3};
    for (int k = 0; ok && k < 3; ++k) {
        if (!ticked[k])
            continue;
        const int mode = k + 2;
        if (!programmer.WriteLockMode(mode)) {
            port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
            ok = false;
        } else {
            port.Message(FormatText(MSG_DEVICE_LOCKED, mode), MsgIcon::Information);
        }
    }
    ReleaseProgrammer(programmer);
    result.ok = ok;
    return result;
}

LockResult ReadLockBitsFromChip(const LockJob& job, IOperationPort& port, ISleeper&) {
    LockResult result;
    result.boxes = job.boxes;
    CProgrammer programmer;
    bool ok = Prepare(programmer, port, job.location);
    if (ok) {
        const uint8_t value = programmer.ReadLockBits(&ok);
        if (!ok) {
            // A failed request is no news about the chip: the boxes stay as they are.
            port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        } else {
            result.status = value;
            if (const LockStatusRow* row = FindLockStatus(value)) {
                port.Message(row->message, MsgIcon::Information);
                result.boxes.m_lb1 = row->lb1;
                result.boxes.m_lb2 = row->lb2;
                result.boxes.m_lb3 = row->lb3;
            }
        }
    }
    ReleaseProgrammer(programmer);
    result.ok = ok;
    return result;
}
