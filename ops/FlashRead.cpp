#include "ops/FlashRead.h"

#include <algorithm>

#include "link/Programmer.h"
#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/Texts.h"

int32_t g_readLength = 0;
std::array<uint8_t, READ_BUFFER_SIZE> g_readBuffer{};
std::atomic<int32_t> g_readSucceeded{0};
std::atomic<int32_t> g_readAbort{0};

namespace {

constexpr int WAIT_STEP_MS = 500;

// Reads until done, aborted or failed. Returns with the device held or not; the caller releases it.
// poweredOff tells whether PowerOff was already sent.
Ending ReadBlocks(const ReadJob& job, IOperationPort& port, ISleeper& sleeper, CProgrammer& programmer,
                  bool& poweredOff) {
    auto status = [&port](const char* text) { port.Row(RowKind::Information, text); };
    auto fail = [&port](const std::string& message) {
        port.Message(message, MsgIcon::Error);
        port.Row(RowKind::Error, STATUS_ERROR);
        return Ending::Failed;
    };

    status(STATUS_INITIALIZING);
    sleeper.Sleep(WAIT_STEP_MS);
    status(STATUS_DETECTING);
    sleeper.Sleep(WAIT_STEP_MS);
    if (!programmer.Open())
        return fail(NoProgrammerMessage(programmer));

    status(STATUS_TESTING);
    sleeper.Sleep(WAIT_STEP_MS);
    if (!programmer.TestHardware())
        return fail(MSG_BAD_ANSWER);

    status(STATUS_HARDWARE_OK);
    sleeper.Sleep(WAIT_STEP_MS);
    if (!programmer.PowerOn())
        return fail(MSG_NOT_RESPONDING);

    status(STATUS_READING);
    // Every block must lie inside the buffer, whatever length the caller passed.
    const int length = job.length < READ_BUFFER_SIZE ? job.length : READ_BUFFER_SIZE;
    const int blocks = BlocksOf(length);
    port.Progress(0, blocks);
    int done = 0;
    // The abort is looked at only after a block was read, so the block in flight always completes.
    const ChipStatus read = ReadFlashBlocks(programmer, job.buffer, blocks, [&] {
        if (job.abort->load() != 0)
            return false;
        port.Progress(++done, blocks);
        return true;
    });
    if (read == ChipStatus::Failed)
        return fail(MSG_NOT_RESPONDING);
    if (read == ChipStatus::Aborted) {
        programmer.PowerOff();
        poweredOff = true;
        status(STATUS_ABORTED);
        return Ending::Aborted;
    }
    job.succeeded->store(1);
    status(STATUS_SUCCESS);
    programmer.PowerOff();
    poweredOff = true;
    return Ending::Done;
}

} // namespace

ReadResult ReadFlashThread(const ReadJob& job, IOperationPort& port, ISleeper& sleeper) {
    CProgrammer programmer;
    programmer.SetLocation(job.location);
    bool poweredOff = false;
    ReadResult result;
    result.ending = ReadBlocks(job, port, sleeper, programmer, poweredOff);
    // A failure after Open would leave the target powered otherwise.
    if (programmer.IsOpen() && !poweredOff)
        programmer.PowerOff();
    port.Ended(result.ending);
    programmer.Close();
    return result;
}

bool HandReadToImage(bool succeeded, const uint8_t* staging, FirmwareBuffer& buffer, IOperationPort& port,
                     const std::function<bool(const FirmwareBuffer&)>& keep) {
    if (!succeeded) {
        port.Message(MSG_NO_DATA_READ, MsgIcon::Error);
        return false;
    }
    const int size = std::clamp(buffer.m_imageSize, 0, std::min(IMAGE_CAPACITY, READ_BUFFER_SIZE));
    // The view says so before it copies; a keeper says so only once the image was kept.
    if (!keep)
        port.Message(MSG_READ_SUCCESS, MsgIcon::Information);
    std::copy_n(staging, size, buffer.m_image.begin());
    if (!keep)
        return true;
    if (!keep(buffer))
        return false;
    port.Message(MSG_READ_SUCCESS, MsgIcon::Information);
    return true;
}
