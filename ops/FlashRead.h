#pragma once
// Read Flash: a worker reads the chip's flash in 8-byte blocks into a staging buffer. The image takes
// the buffer only after the dialog has closed and only when the read succeeded. No window here: the
// worker reports through the operation port, so the dialog, the command-line tool and the tests run
// the same code.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "image/FirmwareBuffer.h"
#include "link/IProgrammer.h"
#include "ops/Port.h"
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

// What one read worker is asked to do. The pointers must stay valid until ReadFlashThread returns.
struct ReadJob {
    int32_t length = 0;                    // bytes to read, the selected chip's flash size (at most 65536)
    uint8_t* buffer = g_readBuffer.data(); // READ_BUFFER_SIZE bytes; block k lands at 8k..8k+7
    std::atomic<int32_t>* succeeded = &g_readSucceeded;
    std::atomic<int32_t>* abort = &g_readAbort;
    std::string location; // "BUS/DEVICE", or empty for the first programmer found
};

struct ReadResult {
    Result ending = Result::Failed; // Done: every block was read
};

// The worker. Its status texts are rows (the status "Error" an error row, the others information),
// its failures message boxes (Message, which may block); Progress(0, blocks) when the block phase
// starts, from which on an abort is looked at, then one step per block read; Ended last. PowerOff
// before the connection is released whenever a device was held. Works on link, which it opens and
// closes.
ReadResult ReadFlashThread(IProgrammer& link, const ReadJob& job, IOperationPort& port, ISleeper& sleeper);

// Hands a finished read to the image. When every block was read: "Flash Read Success", then the
// staging buffer's first m_imageSize bytes into the image; true. Otherwise "Error : No Data Read !!!"
// and the image is untouched. Bound, source file and title are left as they are.
// keep (when given) runs between the copy and the success message, and the message is shown only
// when it returns true: the command line saves the read first, so that success means a file.
bool HandReadToImage(bool succeeded, const uint8_t* staging, FirmwareBuffer& buffer, IOperationPort& port,
                     const std::function<bool(const FirmwareBuffer&)>& keep = {});
