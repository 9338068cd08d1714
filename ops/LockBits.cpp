#include "ops/LockBits.h"

#include <vector>

#include "ops/ChipSession.h"
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

// Open, TestHardware, PowerOn with their messages, no waits.
constexpr OpeningStep OPENING[] = {{OpeningStep::Open}, {OpeningStep::Test}, {OpeningStep::PowerOn}};

} // namespace

LockResult WriteLockBitsToChip(IProgrammer& link, const LockJob& job, IOperationPort& port,
                               ISleeper& sleeper) {
    LockResult result;
    result.boxes = job.boxes;
    CChipSession session(link, port, sleeper, nullptr, job.location);
    bool ok = session.OpenSteps(OPENING) == Result::Done;
    if (ok) {
        // Mode 1, then one more per ticked box, lowest first.
        std::vector<int> modes = {1};
        const int ticked[3] = {job.boxes.m_lb1, job.boxes.m_lb2, job.boxes.m_lb3};
        for (int k = 0; k < 3; ++k)
            if (ticked[k])
                modes.push_back(k + 2);
        CycleReport report;
        ok = session.WriteLockModes(modes, LockReport::Messages, report);
    }
    result.powerOffFailed = !session.Release();
    result.ok = ok;
    return result;
}

LockResult ReadLockBitsFromChip(IProgrammer& link, const LockJob& job, IOperationPort& port,
                                ISleeper& sleeper) {
    LockResult result;
    result.boxes = job.boxes;
    CChipSession session(link, port, sleeper, nullptr, job.location);
    bool ok = session.OpenSteps(OPENING) == Result::Done;
    if (ok) {
        const uint8_t value = session.Programmer().ReadLockBits(&ok);
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
    result.powerOffFailed = !session.Release();
    result.ok = ok;
    return result;
}
