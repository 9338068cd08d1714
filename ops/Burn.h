#pragma once
// The burn: one worker that writes the image into the chip in the socket, reads the whole flash back,
// compares, optionally locks, and offers further chips until the user declines. No window here: the
// worker reports to an IBurnUi, so the burn dialog, the command-line tool and the tests run the same
// sequence.

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "image/Messages.h"
#include "ops/Progress.h"
#include "ops/Sleeper.h"

constexpr int BURN_BUFFER_SIZE = 65536;

// Process-wide state shared by the Write command, the burn dialog and its worker.
// g_burnImage and g_burnLastAddress are written by the Write command before the worker starts and
// never while it runs. g_readBack belongs to the worker; it is never cleared.
extern std::array<uint8_t, BURN_BUFFER_SIZE> g_burnImage;
extern std::array<uint8_t, BURN_BUFFER_SIZE> g_readBack;
extern int32_t g_burnLastAddress; // N - 1, N the selected chip's flash size
// 1 while a worker runs: set by the dialog just before it starts the worker, cleared by the worker.
extern std::atomic<int32_t> g_burnRunning;
// 1 once the user confirmed Abort: cleared by the dialog when it starts, set by Abort, never cleared
// by the worker. The worker looks at it only after a block it wrote or read.
extern std::atomic<int32_t> g_burnAbort;

enum class RowKind {
    Information, // blue information sign
    Error,       // red cross
    Success,     // green tick
};

// What the worker reports. Every call comes on the worker thread, in order, and must not block
// (post it to the user-interface thread), except AskWriteMore, which waits for the user's answer.
class IBurnUi {
public:
    virtual ~IBurnUi() = default;
    // One row at the end of the task list; the receiver stamps it with the current time.
    virtual void AddRow(RowKind kind, const std::string& text) = 0;
    // After each block: the bar's new position and the percentage label's text ("%.1f").
    virtual void SetProgress(int position, const std::string& percentText) = 0;
    // Moves the bar only; the percentage label keeps its text (the abort ending).
    virtual void SetProgressPosition(int position) = 0;
    // The chips-written label, "Chips Written - %d".
    virtual void SetChipsWritten(const std::string& text) = 0;
    // The elapsed-time tick (timer 1, every 1000 ms): started at the start of each chip cycle,
    // stopped at its end. It counts only while g_burnRunning is 1.
    virtual void StartElapsedTimer() = 0;
    virtual void StopElapsedTimer() = 0;
    // The end-of-burn state: Abort disabled, Close enabled, animation stopped and hidden.
    virtual void FinishTask() = 0;
    // "Write More Chips ?" as a Yes/No question without icon; blocks until answered. true = Yes.
    // The dialog's Close stays disabled while it is asked.
    virtual bool AskWriteMore() = 0;
};

enum class BurnEnding {
    Failure, // a chip cycle failed before its question (no programmer, no chip, a failed request)
    Abort,   // the user's abort took effect after a block
    NoMore,  // the user answered No to "Write More Chips ?"
};

// Everything one burn worker gets. The pointers must stay valid until BurnThreadProc returns.
struct BurnJob {
    const uint8_t* image = g_burnImage.data(); // BURN_BUFFER_SIZE bytes; addresses 0..lastAddress burned
    uint8_t* readBack = g_readBack.data();     // BURN_BUFFER_SIZE bytes
    int32_t lastAddress = 0;                   // N - 1; kept inside the buffers
    bool autoLock = false;                     // lock after each verified chip ...
    int32_t lockLevel = 1; // ... with modes 1 up to this one (0 or less: none; above 4: 4)
    std::atomic<int32_t>* running = &g_burnRunning;
    std::atomic<int32_t>* abort = &g_burnAbort;
    ISleeper* sleeper = nullptr; // the waits between steps; null: real sleeps
    std::string location;        // "BUS/DEVICE" to use one programmer of several; empty: the first found

    // Filled by the worker; read by its owner only after the worker has ended.
    BurnEnding ending = BurnEnding::Failure;
    int chipsWritten = 0; // verified chips (a failed lock does not undo the count)
    int chipsFailed = 0;  // cycles that failed or did not verify
    int lockFailures = 0; // chips whose lock modes were not all written
};

// The worker's whole life: chip cycles until an ending. Sets *job.running to 0 on every ending and
// sends PowerOff before the connection is released. Always returns 0.
unsigned BurnThreadProc(BurnJob& job, IBurnUi& ui);

// True when the 8 bytes at block are all 0xFF: such a block is not written, only read back.
bool IsBlankBlock(const uint8_t* block);

// The time column of a row: "%I:%M:%S %p" of the local time t.
std::string RowTimeText(std::time_t t);

// What the burn dialog's Abort button needs besides the message box (which comes through
// IMessageSink: AskYesNo for the question, ShowMessage for the failure). All on the UI thread.
class IBurnAbortUi {
public:
    virtual ~IBurnAbortUi() = default;
    virtual void AddRow(RowKind kind, const std::string& text) = 0;
    // Waits up to ms for the worker's end and returns true when it has ended. The dialog's wait keeps
    // serving what the worker posts, so a worker in the middle of an update can still end.
    virtual bool WaitForWorker(int ms) = 0;
    // Close enabled, Abort disabled.
    virtual void SetFinishedButtons() = 0;
};

enum class AbortOutcome {
    Declined,   // the user answered No
    NotRunning, // the worker had already ended: nothing done
    Ended,      // the worker ended within the wait; "Aborted By User" added
    TimedOut,   // "Cannot End Burner Thread" shown; the worker enables Close itself when it ends
};

constexpr int BURN_ABORT_WAIT_MS = 10000;

// The Abort button: "Burn in Progress. Are you sure want to Abort ?"; then, while the worker runs,
// the error row "Aborting ...", sets abort, waits for the worker up to 10000 ms, and adds
// "Aborted By User" with Close enabled and Abort disabled, or shows "Cannot End Burner Thread".
AbortOutcome AbortBurn(IMessageSink& messages, IBurnAbortUi& ui, std::atomic<int32_t>& running,
                       std::atomic<int32_t>& abort);
