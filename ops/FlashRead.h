#pragma once
// Read Flash: a worker reads the chip's flash in 8-byte blocks into a staging buffer. The image takes
// the buffer only after the dialog has closed and only when the read succeeded. No window here: the
// worker reports to an IReadUi, so the dialog, the command-line tool and the tests run the same code.

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "image/Messages.h"
#include "ops/Sleeper.h"

constexpr int READ_BUFFER_SIZE = 65536;

// Process-wide state of the read. g_readLength is set by the view before the dialog opens; the
// staging buffer is never cleared and keeps the bytes of the last read, complete or not.
extern int32_t g_readLength;
extern std::array<uint8_t, READ_BUFFER_SIZE> g_readBuffer;
// Set to 1 by the worker once every block was read; cleared by the dialog's constructor.
extern std::atomic<int32_t> g_readSucceeded;
// Set to 1 by Abort; cleared by the dialog's constructor; the worker looks at it after each block.
extern std::atomic<int32_t> g_readAbort;

constexpr int READ_ABORT_WAIT_MS = 1000;

// What the worker reports. Every call comes on the worker thread and must not block (post it), except
// ShowMessage (from IMessageSink), which may wait until the message box is dismissed.
class IReadUi : public IMessageSink {
public:
    virtual void SetStatus(const std::string& text) = 0; // replaces the status line
    virtual void EnableClose(bool enable) = 0;
    virtual void EnableAbort(bool enable) = 0;
    // After each block read: the bar advanced by one step of 8 and now stands at position
    // (range 0..length).
    virtual void StepProgress(int position) = 0;
    virtual void StopAnimation() = 0;
};

// Everything one read worker gets. The pointers must stay valid until ReadFlashThread returns.
struct ReadJob {
    int32_t length = 0;                    // bytes to read, the selected chip's flash size (at most 65536)
    uint8_t* buffer = g_readBuffer.data(); // READ_BUFFER_SIZE bytes; block k lands at 8k..8k+7
    std::atomic<int32_t>* succeeded = &g_readSucceeded;
    std::atomic<int32_t>* abort = &g_readAbort;
    ISleeper* sleeper = nullptr; // null: real sleeps
    std::string location;        // "BUS/DEVICE", or empty for the first programmer found
};

// The worker: status texts, buttons, progress, the flags; PowerOff before the connection is released
// whenever a device was held. Always returns 0.
unsigned ReadFlashThread(ReadJob& job, IReadUi& ui);
