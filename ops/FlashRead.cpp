#include "ops/FlashRead.h"

#include <algorithm>

#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/Texts.h"

int32_t g_readLength = 0;
std::array<uint8_t, READ_BUFFER_SIZE> g_readBuffer{};
std::atomic<int32_t> g_readSucceeded{0};
std::atomic<int32_t> g_readAbort{0};

namespace {

constexpr int WAIT_STEP_MS = 500;

constexpr OpeningStep OPENING[] = {
    {OpeningStep::Status, 0, STATUS_INITIALIZING},
    {OpeningStep::Wait, WAIT_STEP_MS},
    {OpeningStep::Status, 0, STATUS_DETECTING},
    {OpeningStep::Wait, WAIT_STEP_MS},
    {OpeningStep::Open},
    {OpeningStep::Status, 0, STATUS_TESTING},
    {OpeningStep::Wait, WAIT_STEP_MS},
    {OpeningStep::Test},
    {OpeningStep::Status, 0, STATUS_HARDWARE_OK},
    {OpeningStep::Wait, WAIT_STEP_MS},
    {OpeningStep::PowerOn},
};

// Reads until done, aborted or failed. Returns with the device held or not; the caller releases it.
// poweredOff tells whether PowerOff was already sent.
Result ReadBlocks(const ReadJob& job, IOperationPort& port, CChipSession& session, bool& poweredOff) {
    if (session.OpenSteps(OPENING, STATUS_ERROR) != Result::Done)
        return Result::Failed;

    session.Info(STATUS_READING);
    // Every block must lie inside the buffer, whatever length the caller passed.
    const int length = job.length < READ_BUFFER_SIZE ? job.length : READ_BUFFER_SIZE;
    const int blocks = BlocksOf(length);
    port.Progress(0, blocks);
    int done = 0;
    // The abort is looked at only after a block was read, so the block in flight always completes.
    const Result read = ReadFlashBlocks(session.Programmer(), job.buffer, blocks, [&] {
        if (job.abort->load() != 0)
            return false;
        port.Progress(++done, blocks);
        return true;
    });
    if (read == Result::Failed) {
        port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        session.Error(STATUS_ERROR);
        return Result::Failed;
    }
    if (read == Result::Aborted) {
        session.PowerOff(true);
        poweredOff = true;
        session.Info(STATUS_ABORTED);
        return Result::Aborted;
    }
    job.succeeded->store(1);
    session.Info(STATUS_SUCCESS);
    session.PowerOff(true);
    poweredOff = true;
    return Result::Done;
}

} // namespace

ReadResult ReadFlashThread(IProgrammer& link, const ReadJob& job, IOperationPort& port, ISleeper& sleeper) {
    CChipSession session(link, port, sleeper, nullptr, job.location);
    bool poweredOff = false;
    ReadResult result;
    result.ending = ReadBlocks(job, port, session, poweredOff);
    // A failure after Open would leave the target powered otherwise.
    if (!poweredOff)
        session.PowerOff(true);
    port.Ended(result.ending);
    session.Close();
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
