#pragma once
// One connection to the chip in the socket, for every device operation: the opening steps (find and
// test the programmer, power the target), the lock-mode writes, the erase, the block reads, the
// read-back compare and the PowerOff at the end with its report. Two openings: the burn's (rows, four
// power steps, the signature and the chip's name), which the burn and the command line's chip
// operations share, and the message-box dialogs' (Read Flash, Lock Bits, Programming Speed), each a
// list of steps with its own waits. The session works on the link it is given; it never makes one.
//
// Used on one thread, the operation's; the rows go through its port.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/IProgrammer.h"
#include "ops/Port.h"
#include "ops/Sleeper.h"

// What the caller knows of the chip it wants. Without a check, the signature only names the chip
// and the caller's size is used whatever the socket holds (the desktop program's burn).
struct ChipExpectation {
    bool check = false;
    int chip = -1;      // the catalogue chip asked for; -1: the chip whose signature was read
    bool force = false; // go on with another catalogue chip than the one asked for
};

// How the lock-mode writes are reported: the burn's rows, or the Lock Bits dialog's messages.
enum class LockReport { Rows, Messages };

// One step of a message-box dialog's opening: a status row, a wait, or a request whose failure ends
// the opening with its message.
struct OpeningStep {
    enum Kind { Status, Wait, Open, Test, PowerOn } kind;
    int ms = 0;                // Wait
    const char* row = nullptr; // Status: an information row
};

class CChipSession {
public:
    // abort (may be null) is looked at before each step that talks to the programmer. The location
    // ("BUS/DEVICE", empty for the first found) restricts the link's Open.
    CChipSession(IProgrammer& link, IOperationPort& port, ISleeper& sleeper,
                 const std::atomic<int32_t>* abort, const std::string& location);

    // "Initializing..." and its 500 ms, detecting, the hardware test after 500 ms, four power-on
    // steps of 250 ms, 1000 ms, the signature and the chip's name, with the burn's rows. Fills
    // report (product, signature, chip) and, when it ends otherwise than Done, report.failure.
    Result Start(CycleReport& report);

    // The message-box dialogs' opening: the steps in order. A failed Open shows why no programmer
    // could be used (NoProgrammer), a failed hardware test "Error : Programer Does Not Answer
    // Properly", a failed PowerOn the not-responding message (Failed); after the message, the error
    // row failureRow when given. Done when every step went through.
    template <size_t N> Result OpenSteps(const OpeningStep (&steps)[N], const char* failureRow = nullptr) {
        return OpenSteps(steps, N, failureRow);
    }
    Result OpenSteps(const OpeningStep* steps, size_t count, const char* failureRow);

    // The chip to use by the expectation: Done with chip set to the catalogue index (for a
    // check-less expectation, -1), or UnknownChip / WrongChip with an error row, before anything
    // was written. A catalogue chip is named in an information row. Done reports Identified.
    Result CheckIdentity(const ChipExpectation& expect, CycleReport& report, int& chip);

    // "Erasing Chip ...", the erase, 500 ms, "Chip Erased". A failed erase: the not-responding rows;
    // false. report.erased is set before the request goes out.
    bool Erase(CycleReport& report);

    // Lock modes 1 up to top (at most 4), lowest first, 500 ms after each, with the burn's rows:
    // "Lock Mode %d Activated" for modes 2..4, "Lock Mode %d Failed" for a mode that failed, after
    // which no higher mode is sent. report.lockMode gets the highest written; false when one failed.
    bool WriteLockModes(int top, CycleReport& report);
    // The lock-mode writes of both forms: the modes in order; Rows as above, Messages as the Lock
    // Bits dialog shows them (no wait, "Device Locked - Lock Mode = %d" for modes 2..4, the
    // not-responding message for a mode that failed).
    bool WriteLockModes(const std::vector<int>& modes, LockReport how, CycleReport& report);

    // PowerOff while a device is held. When it fails: the error row that the target may still be
    // powered and the row that says to disconnect the programmer first, unless quiet (after a failed
    // request, whose rows already tell to disconnect the programmer); returns false.
    bool PowerOff(bool quiet = false);
    // The message-box dialogs' end: PowerOff while a device is held, then Close. A failed PowerOff
    // shows that the target may still be powered and to disconnect the programmer first; false then.
    bool Release();
    void Close() { m_programmer.Close(); }

    bool AbortRequested() const { return m_abort != nullptr && m_abort->load() != 0; }
    IProgrammer& Programmer() { return m_programmer; }
    ISleeper& Sleeper() { return m_sleeper; }

    void Info(const std::string& text) { m_port.Row(RowKind::Information, text); }
    void Error(const std::string& text) { m_port.Row(RowKind::Error, text); }
    void Success(const std::string& text) { m_port.Row(RowKind::Success, text); }
    // The error row reason, kept as the cycle's failure when it has none yet; returns status.
    Result Fail(Result status, const std::string& reason, CycleReport& report);

private:
    Result Identity(const ChipExpectation& expect, CycleReport& report, int& chip);

    IOperationPort& m_port;
    ISleeper& m_sleeper;
    const std::atomic<int32_t>* m_abort;
    IProgrammer& m_programmer;
};

// The catalogue name of chip, or "" for -1.
const char* ChipName(int chip);

// The blocks (PROGRAMMER_BLOCK bytes each) that cover length bytes.
int BlocksOf(int length);

// Reads blocks 0 .. blocks - 1 of the flash into buffer, one request each. after runs once a block
// was read (the block in flight always completes); false from it stops the read: Aborted. A block
// that cannot be read: Failed, with nothing reported (the caller's rows say it).
Result ReadFlashBlocks(IProgrammer& programmer, uint8_t* buffer, int blocks,
                       const std::function<bool()>& after);

// How length bytes of flash compare with image (null: with the blank 0xFF): the first address that
// differs (-1 for none) and how many do.
struct FlashComparison {
    int first = -1;
    int differences = 0;
};
FlashComparison CompareFlash(const uint8_t* flash, const uint8_t* image, int length);

// The row that names the first difference, "0x%04X CHIP: 0x%02X | BUFFER: 0x%02X", and the failure
// of a cycle that had it: "Data Mismatch at: " and that row.
std::string DifferenceRow(int address, uint8_t chip, uint8_t image);
std::string MismatchFailure(const std::string& differenceRow);
