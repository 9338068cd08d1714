#pragma once
// Lock bits: the Lock Bits dialog's box rules and its Read and Write buttons, without windows. Runs on
// the calling thread (the dialog's: the user-interface thread); message boxes come through the sink.
// Lock mode 1 is no bit programmed, 2 is LB1, 3 is LB1 and LB2, 4 is all three.

#include <cstdint>
#include <string>

#include "link/IProgrammer.h"
#include "ops/Port.h"
#include "ops/Sleeper.h"

// The dialog's four check boxes (0 or 1), as its members hold them.
struct LockBoxes {
    int m_lb1 = 0;
    int m_lb2 = 0;
    int m_lb3 = 0;
    int m_lockAfterBurn = 0;
};

// The lock status byte (ReadLockBits) masked with 0x1C, and what it means.
struct LockStatusRow {
    uint8_t masked;
    int mode;
    const char* message; // information icon
    int lb1, lb2, lb3;
};
extern const LockStatusRow LOCK_STATUS_TABLE[4];
// The row for status & 0x1C, or null for any other combination (no message, boxes unchanged).
const LockStatusRow* FindLockStatus(uint8_t status);

// Keeping LB3 => LB2 => LB1, after the clicked box's new state is in the members:
void OnLb1(LockBoxes& boxes); // LB1 cannot be cleared while LB2 is ticked
void OnLb2(LockBoxes& boxes); // ticking LB2 ticks LB1; LB2 cannot be cleared while LB3 is ticked
void OnLb3(LockBoxes& boxes); // ticking LB3 ticks LB1 and LB2; clearing it leaves them

// The lock-bit boxes for the selected lock mode (2: LB1; 3: LB1, LB2; 4: all; else none).
// m_lockAfterBurn is left alone.
void SetBoxesFromMode(LockBoxes& boxes, int mode);
// The selected lock mode the boxes stand for: 4 with LB3, else 3 with LB2, else 2 with LB1, else 1.
int ModeFromBoxes(const LockBoxes& boxes);

// What the Read and Write buttons are asked to do: the boxes as the dialog's members hold them, on
// the programmer at location ("BUS/DEVICE", or empty for the first found).
struct LockJob {
    LockBoxes boxes;
    std::string location;
};

struct LockResult {
    bool ok = false;             // every mode asked for was written, or the status byte was read
    uint8_t status = 0;          // Read: the status byte as received, unmasked
    LockBoxes boxes;             // Read: the job's boxes with the lock-bit boxes set by the status
    bool powerOffFailed = false; // the PowerOff at the end failed (its message was shown)
};

// Write: Open, TestHardware, PowerOn, then lock modes 1 and one more per ticked box, lowest first,
// with "Device Locked - Lock Mode = %d" after each of modes 2..4. A failed mode shows
// "Error : Programmer Not Responding, Please Remove and Reconnect Again" and no higher mode is sent.
// There are no waits; the sleeper is there for the sequences' one shape. Both buttons end with
// PowerOff; one that fails shows that the target may still be powered.
LockResult WriteLockBitsToChip(IProgrammer& link, const LockJob& job, IOperationPort& port,
                               ISleeper& sleeper);

// Read: Open, TestHardware, PowerOn, ReadLockBits; shows the table's message and sets the three
// lock-bit boxes by it. A failed request shows the not-responding error and leaves the boxes as they
// were.
LockResult ReadLockBitsFromChip(IProgrammer& link, const LockJob& job, IOperationPort& port,
                                ISleeper& sleeper);
