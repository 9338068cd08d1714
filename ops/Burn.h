#pragma once
// The burn: one worker that writes the image into the chip in the socket, reads the whole flash back,
// compares, optionally locks, and offers further chips until the user declines. No window here: the
// worker reports through the operation port, so the burn dialog, the command-line tool and the tests
// run the same sequence.

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "ops/ChipSession.h"
#include "ops/Port.h"
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

// Gives each chip cycle its image once the chip in the socket is known: the command line loads its
// file then, within that chip's flash size, and writes a serial number into it. Runs on the worker
// before the erase. chip is the catalogue chip to use (-1 when the burn does not check the chip).
// False ends the cycle as failed before anything was written: the source has reported why through
// port and, in report.failure, the row that says it.
class IChipImageSource {
public:
    virtual ~IChipImageSource() = default;
    virtual bool PrepareChip(int chip, CycleReport& report, IOperationPort& port, const uint8_t*& image,
                             int32_t& lastAddress) = 0;
    // Before the cycle touches the programmer: whatever may have to wait (a lock another process
    // holds) waits here, with the target unpowered. False ends the cycle as PrepareChip's does.
    virtual bool BeforePower(CycleReport& /*report*/, IOperationPort& /*port*/) { return true; }
    // At the end of every cycle: gives back what BeforePower held and PrepareChip did not take (a
    // cycle that failed in between, at the wrong chip, keeps no lock from the other processes).
    virtual void CycleOver() {}
};

// What one burn worker is asked to do. The pointers must stay valid until BurnThreadProc returns.
struct BurnJob {
    const uint8_t* image = g_burnImage.data(); // BURN_BUFFER_SIZE bytes; addresses 0..lastAddress burned
    uint8_t* readBack = g_readBack.data();     // BURN_BUFFER_SIZE bytes
    int32_t lastAddress = 0;                   // N - 1; kept inside the buffers
    bool autoLock = false;                     // lock after each verified chip ...
    int32_t lockLevel = 1; // ... with modes 1 up to this one (0 or less: none; above 4: 4)
    std::atomic<int32_t>* running = &g_burnRunning;
    std::atomic<int32_t>* abort = &g_burnAbort;
    std::string location; // "BUS/DEVICE" to use one programmer of several; empty: the first found
    // The command line's: the chip that must be in the socket, and where each cycle's image comes
    // from (null: image and lastAddress above, as the desktop program burns).
    ChipExpectation expect;
    IChipImageSource* source = nullptr;
};

// What it came to.
struct BurnResult {
    Result ending = Result::Failed; // Done: the user wanted no further chip; Failed: a cycle failed
                                    // before its question; Aborted
    int chipsWritten = 0;           // verified chips (a failed lock does not undo the count)
    int chipsFailed = 0;            // cycles that failed or did not verify
    int lockFailures = 0;           // chips whose lock modes were not all written
    int powerOffFailures = 0;       // cycles whose PowerOff failed: the target may have stayed powered
    Result status = Result::Done;   // why the last failed cycle failed
};

// The worker's whole life: chip cycles until an ending, reported through port (rows, progress of
// both phases of a cycle together, the cycle's start, verification and end, "Write More Chips ?" at
// the end of every cycle, then the ending). Sets *job.running to 0 on every ending, before its
// Ended event, and sends PowerOff before the connection is released. Works on link, which it opens
// and closes.
BurnResult BurnThreadProc(IProgrammer& link, const BurnJob& job, IOperationPort& port, ISleeper& sleeper);

// True when the PROGRAMMER_BLOCK bytes at block are all 0xFF: such a block is not written, only read back.
bool IsBlankBlock(const uint8_t* block);

// The time column of a row: "%I:%M:%S %p" of the local time t.
std::string RowTimeText(std::time_t t);

// The wait of the burn dialog's Abort: up to ms for the worker's end, true when it has ended. A
// dialog's wait keeps serving what the worker posts, so that a worker in the middle of a report can
// still end.
class IWorkerWait {
public:
    virtual ~IWorkerWait() = default;
    virtual bool WaitForWorker(int ms) = 0;
};

constexpr int BURN_ABORT_WAIT_MS = 10000;

// The Abort button, an operation of its own on the user-interface thread, beside the burn's worker:
// asks "Burn in Progress. Are you sure want to Abort ?"; then, while the worker runs, the error row
// "Aborting ...", sets abort, waits for the worker up to 10000 ms, and reports the error row "Aborted
// By User", or shows "Cannot End Burner Thread". Its port is its own: the burn's Ended came from the
// worker already, and what the abort came to is its result, Declined, NotRunning, Aborted (the worker
// ended within the wait) or TimedOut.
Result AbortBurn(IOperationPort& port, IWorkerWait& worker, std::atomic<int32_t>& running,
                 std::atomic<int32_t>& abort);
