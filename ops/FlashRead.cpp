#include "ops/FlashRead.h"

#include "link/Programmer.h"
#include "ops/Format.h"
#include "ops/Texts.h"

int32_t g_readLength = 0;
std::array<uint8_t, READ_BUFFER_SIZE> g_readBuffer{};
std::atomic<int32_t> g_readSucceeded{0};
std::atomic<int32_t> g_readAbort{0};

namespace {

constexpr int BLOCK = 8;
constexpr int WAIT_STEP_MS = 500;

// Reads until done, aborted or failed. Returns with the device held or not; the caller releases it.
// poweredOff tells whether PowerOff was already sent.
void ReadBlocks(ReadJob& job, IReadUi& ui, CProgrammer& programmer, bool& poweredOff) {
    CRealSleeper realSleeper;
    ISleeper& sleeper = job.sleeper ? *job.sleeper : realSleeper;
    auto fail = [&ui](const std::string& message) {
        ui.ShowMessage(message, MsgIcon::Error);
        ui.SetStatus(STATUS_ERROR);
    };

    ui.SetStatus(STATUS_INITIALIZING);
    sleeper.Sleep(WAIT_STEP_MS);
    ui.SetStatus(STATUS_DETECTING);
    sleeper.Sleep(WAIT_STEP_MS);
    if (!programmer.Open())
        return fail(NoProgrammerMessage(programmer));

    ui.SetStatus(STATUS_TESTING);
    sleeper.Sleep(WAIT_STEP_MS);
    if (!programmer.TestHardware())
        return fail(MSG_BAD_ANSWER);

    ui.SetStatus(STATUS_HARDWARE_OK);
    sleeper.Sleep(WAIT_STEP_MS);
    if (!programmer.PowerOn())
        return fail(MSG_NOT_RESPONDING);

    ui.SetStatus(STATUS_READING);
    ui.EnableAbort(true);
    // Every block must lie inside the buffer, whatever length the caller passed.
    const int length = job.length < READ_BUFFER_SIZE ? job.length : READ_BUFFER_SIZE;
    for (int offset = 0; offset < length; offset += BLOCK) {
        if (!programmer.ReadBlock(static_cast<uint16_t>(offset), job.buffer + offset))
            return fail(MSG_NOT_RESPONDING);
        // Looked at only after a block was read, so the block in flight always completes.
        if (job.abort->load() != 0) {
            programmer.PowerOff();
            poweredOff = true;
            ui.SetStatus(STATUS_ABORTED);
            ui.StopAnimation();
            return;
        }
        ui.StepProgress(offset + BLOCK < length ? offset + BLOCK : length);
    }
    job.succeeded->store(1);
    ui.SetStatus(STATUS_SUCCESS);
    programmer.PowerOff();
    poweredOff = true;
    ui.StopAnimation();
}

} // namespace

unsigned ReadFlashThread(ReadJob& job, IReadUi& ui) {
    CProgrammer programmer;
    programmer.SetLocation(job.location);
    ui.EnableClose(false);
    ui.EnableAbort(false);
    bool poweredOff = false;
    ReadBlocks(job, ui, programmer, poweredOff);
    // A failure after Open would leave the target powered otherwise.
    if (programmer.IsOpen() && !poweredOff)
        programmer.PowerOff();
    ui.EnableClose(true);
    ui.EnableAbort(false);
    programmer.Close();
    return 0;
}
