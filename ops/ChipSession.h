#pragma once
// One connection to the chip in the socket, as the burn makes it: find and test the programmer,
// power the target in four steps, read the chip's signature and name it. The burn and the command
// line's chip operations (identify, read, verify, blank check, erase, lock bits) start with it, so
// that every one of them reports these steps with the same rows, waits and abort points.
//
// Used on one thread, the operation's; the rows go through its port.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "link/Programmer.h"
#include "ops/Port.h"
#include "ops/Sleeper.h"

// How an operation on a chip came out, as a script would act on it.
enum class ChipStatus {
    Done,         // everything asked for was done, and found as it should be
    Failed,       // a request failed (the rows say which), or a file could not be read or written
    NoProgrammer, // no programmer could be used: none attached, in use, or not this user's
    NoChip,       // the socket is empty (signature 0xFF 0xFF 0xFF)
    UnknownChip,  // the signature is no catalogue chip's, and no chip was asked for
    WrongChip,    // another catalogue chip than the one asked for is in the socket
    Locked,       // lock mode 3 or 4: the flash cannot be read
    Mismatch,     // the chip's flash differs from the image
    NotBlank,     // a byte of the flash is not 0xFF
    Aborted,      // the user's abort took effect
};

// What the caller knows of the chip it wants. Without a check, the signature only names the chip
// and the caller's size is used whatever the socket holds (the desktop program's burn).
struct ChipExpectation {
    bool check = false;
    int chip = -1;      // the catalogue chip asked for; -1: the chip whose signature was read
    bool force = false; // go on with another catalogue chip than the one asked for
};

class CChipSession {
public:
    // abort (may be null) is looked at before each step that talks to the programmer.
    CChipSession(IOperationPort& port, ISleeper& sleeper, const std::atomic<int32_t>* abort,
                 const std::string& location);

    // "Initializing..." and its 500 ms, detecting, the hardware test after 500 ms, four power-on
    // steps of 250 ms, 1000 ms, the signature and the chip's name, with the burn's rows. Fills
    // report (product, signature, chip) and, when it ends otherwise than Done, report.failure.
    ChipStatus Start(CycleReport& report);

    // The chip to use by the expectation: Done with chip set to the catalogue index (for a
    // check-less expectation, -1), or UnknownChip / WrongChip with an error row, before anything
    // was written. A catalogue chip is named in an information row. Done reports Identified.
    ChipStatus CheckIdentity(const ChipExpectation& expect, CycleReport& report, int& chip);

    // "Erasing Chip ...", the erase, 500 ms, "Chip Erased". A failed erase: the not-responding rows;
    // false. report.erased is set before the request goes out.
    bool Erase(CycleReport& report);

    // Lock modes 1 up to top (at most 4), lowest first, 500 ms after each, with the burn's rows:
    // "Lock Mode %d Activated" for modes 2..4, "Lock Mode %d Failed" for a mode that failed, after
    // which no higher mode is sent. report.lockMode gets the highest written; false when one failed.
    bool WriteLockModes(int top, CycleReport& report);

    // PowerOff while a device is held. When it fails: the error row that the target may still be
    // powered and the row that says to disconnect the programmer first, unless quiet (after a failed
    // request, whose rows already tell to disconnect the programmer); returns false.
    bool PowerOff(bool quiet = false);
    void Close() { m_programmer.Close(); }

    bool AbortRequested() const { return m_abort != nullptr && m_abort->load() != 0; }
    CProgrammer& Programmer() { return m_programmer; }
    ISleeper& Sleeper() { return m_sleeper; }

    void Info(const std::string& text) { m_port.Row(RowKind::Information, text); }
    void Error(const std::string& text) { m_port.Row(RowKind::Error, text); }
    void Success(const std::string& text) { m_port.Row(RowKind::Success, text); }
    // The error row reason, kept as the cycle's failure when it has none yet; returns status.
    ChipStatus Fail(ChipStatus status, const std::string& reason, CycleReport& report);

private:
    ChipStatus Identity(const ChipExpectation& expect, CycleReport& report, int& chip);

    IOperationPort& m_port;
    ISleeper& m_sleeper;
    const std::atomic<int32_t>* m_abort;
    CProgrammer m_programmer;
};

// The catalogue name of chip, or "" for -1.
const char* ChipName(int chip);

// The 8-byte blocks that cover length bytes.
int BlocksOf(int length);

// Reads blocks 0 .. blocks - 1 of the flash into buffer, one request each. after runs once a block
// was read (the block in flight always completes); false from it stops the read: Aborted. A block
// that cannot be read: Failed, with nothing reported (the caller's rows say it).
ChipStatus ReadFlashBlocks(CProgrammer& programmer, uint8_t* buffer, int blocks,
                           const std::function<bool()>& after);

// The row that names the first difference, "0x%04X CHIP: 0x%02X | BUFFER: 0x%02X", and the failure
// of a cycle that had it: "Data Mismatch at: " and that row.
std::string DifferenceRow(int address, uint8_t chip, uint8_t image);
std::string MismatchFailure(const std::string& differenceRow);
