#pragma once
// The one port every operation reports through: the device sequences (burn, flash read, lock bits,
// programming speed, identification, verify, blank check, erase) and the file commands. It names
// what happened to the operation, never what a window should do with it: each presenter (a dialog,
// the command-line tool, a test, a gang view) decides how that looks. Every method has an empty
// default, so a presenter overrides only the events it shows.
//
// Thread contract: every call comes on the thread that runs the operation (a dialog's worker, the
// user-interface thread for Lock Bits and Programming Speed, the command line's worker), one at a
// time, in the order things happened. Row, Progress, CycleStarted, ChipVerified, CycleEnded and Ended
// must not block: a dialog posts them to its user-interface thread. Message and Ask may block until
// the user has answered; the operation waits for them.

#include <cstdint>
#include <string>

#include "ops/Result.h"

enum class RowKind {
    Information, // blue information sign
    Error,       // red cross
    Success,     // green tick
};

// The icon of a message box.
enum class MsgIcon {
    None,        // no icon (the burn's questions)
    Information, // results and confirmations of success
    Error,       // failures: the stop icon
};

// The questions an operation needs answered. Their words are QuestionText's.
enum class Question {
    WriteMore, // "Write More Chips ?", at the end of every burn cycle
    AbortBurn, // "Burn in Progress. Are you sure want to Abort ?", when the user presses Abort
};
const char* QuestionText(Question question);

struct CycleReport {
    int cycle = 0;                   // 1 for the first cycle of the burn
    Result outcome = Result::Failed; // Done: verified (a lock mode that failed is in lockFailed)
    std::string failure;             // the row that tells why the cycle failed, empty otherwise
    bool signatureRead = false;      // signature holds the bytes the programmer returned
    uint8_t signature[3] = {};       // in the order received
    int chip = -1;                   // the catalogue chip of that signature, -1 for none
    std::string product;             // the programmer's product string, empty before it was found
    std::string location;            // the programmer's "BUS/DEVICE", empty before it was found
    int lockMode = 0;                // the highest lock mode written, 0 for none
    bool lockFailed = false;         // a lock mode asked for was not written
    bool erased = false;             // the chip's old content is gone (the erase was sent)
    int64_t serial = -1;             // the serial number written into this chip's image, -1 for none
    bool powerOffFailed = false;     // the PowerOff at the end of the cycle failed
};

class IOperationPort {
public:
    virtual ~IOperationPort() = default;

    // One row of the operation's report, in order (the burn's task list, the read's status line).
    virtual void Row(RowKind, const std::string&) {}
    // Blocks moved so far of the blocks of the current block phase set: 0 when it starts, then one
    // more after each block (a burn cycle counts its write and read-back blocks together).
    virtual void Progress(int /*done*/, int /*total*/) {}
    // A burn's chip cycle starts (cycle 1, 2, ...) and ends; the elapsed time runs in between.
    virtual void CycleStarted(int /*cycle*/) {}
    // The chip in the socket is known and is the one to work on (after its rows, before the work).
    virtual void Identified(const CycleReport&) {}
    // The chip of the running cycle was verified; chipsWritten counts the verified chips so far.
    virtual void ChipVerified(int /*chipsWritten*/) {}
    virtual void CycleEnded(const CycleReport&) {}
    // The operation's last event.
    virtual void Ended(Result) {}

    // A socket that starts on its own (watch mode): it is empty and waits for a chip (at the start,
    // and after each removal); and the chip of the last cycle, burned or refused, was taken out.
    // No chip is burned again between a CycleEnded and the ChipRemoved after it.
    virtual void ChipAwaited() {}
    virtual void ChipRemoved() {}

    // A message box with the application's caption and an OK button.
    virtual void Message(const std::string&, MsgIcon) {}
    // A Yes/No question without icon; true for Yes. A presenter that cannot ask answers No.
    virtual bool Ask(Question) { return false; }
};

// "%.1f" of 100 * done / total, "0.0" when total is 0 or less: every presenter's percentage.
std::string PercentText(int done, int total);
