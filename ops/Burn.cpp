#include "ops/Burn.h"

#include "chips/ChipCatalogue.h"
#include "link/Programmer.h"
#include "ops/Format.h"
#include "ops/Texts.h"

std::array<uint8_t, BURN_BUFFER_SIZE> g_burnImage{};
std::array<uint8_t, BURN_BUFFER_SIZE> g_readBack{};
int32_t g_burnLastAddress = 0;
std::atomic<int32_t> g_burnRunning{0};
std::atomic<int32_t> g_burnAbort{0};

namespace {

constexpr int BLOCK = 8;
constexpr int WAIT_INITIALIZING_MS = 500;
constexpr int WAIT_TEST_MS = 500;
constexpr int WAIT_POWER_STEP_MS = 250;
constexpr int WAIT_SIGNATURE_MS = 1000;
constexpr int WAIT_ERASE_MS = 500;
constexpr int WAIT_AFTER_WRITE_MS = 300;
constexpr int WAIT_LOCK_MODE_MS = 500;
constexpr int WAIT_ABORT_END_MS = 500;

enum class CycleEnd { Asked, Failure, Abort };

class CBurnWorker {
public:
    CBurnWorker(BurnJob& job, IBurnUi& ui)
        : m_job(job), m_ui(ui), m_sleeper(job.sleeper ? *job.sleeper : m_realSleeper),
          m_progress(BurnProgressModel(job.lastAddress)) {
        // Every block of both buffers must lie inside them, whatever the caller passed.
        m_lastAddress = job.lastAddress < BURN_BUFFER_SIZE ? job.lastAddress : BURN_BUFFER_SIZE - 1;
        m_programmer.SetLocation(job.location);
    }

    void Run() {
        for (;;) {
            const CycleEnd end = Cycle();
            if (end == CycleEnd::Failure)
                return EndFailure();
            if (end == CycleEnd::Abort)
                return EndAbort();
            // End of the cycle: the elapsed time stands still while the user decides.
            m_ui.StopElapsedTimer();
            m_programmer.PowerOff();
            if (!m_ui.AskWriteMore())
                return EndNoMore();
        }
    }

private:
    void Info(const std::string& text) { m_ui.AddRow(RowKind::Information, text); }
    void Error(const std::string& text) { m_ui.AddRow(RowKind::Error, text); }
    void Success(const std::string& text) { m_ui.AddRow(RowKind::Success, text); }
    void Wait(int ms) { m_sleeper.Sleep(ms); }
    bool AbortRequested() const { return m_job.abort->load() != 0; }

    void Step() {
        m_progress.StepIt();
        m_ui.SetProgress(m_progress.Pos(), m_progress.PercentText());
    }

    CycleEnd Failed() {
        ++m_job.chipsFailed;
        return CycleEnd::Failure;
    }

    CycleEnd Cycle() {
        if (m_job.chipsWritten > 0)
            Info(FormatText(ROW_CHIP_START, m_job.chipsWritten + 1));
        m_ui.StartElapsedTimer();
        Info(ROW_INITIALIZING);
        Wait(WAIT_INITIALIZING_MS);

        Info(ROW_DETECTING);
        if (!m_programmer.Open()) {
            Error(ROW_NO_PROGRAMMER);
            if (m_programmer.AccessDenied())
                Error(MSG_ACCESS_DENIED);
            if (m_programmer.Busy())
                Error(MSG_PROGRAMMER_BUSY);
            return Failed();
        }
        Success(ROW_FOUND);
        const char* product = m_programmer.GetProductString();
        Success(product ? product : "");

        Info(ROW_TESTING);
        Wait(WAIT_TEST_MS);
        if (!m_programmer.TestHardware()) {
            Error(ROW_NOT_RESPONDING);
            return Failed();
        }
        Success(ROW_HARDWARE_OK);

        Info(ROW_POWERING_ON);
        for (int level = 1; level <= 4; ++level) {
            if (m_programmer.PowerOn())
                Success(FormatText(ROW_POWERED_LEVEL, level));
            else
                Error(ROW_CONTINUING);
            Wait(WAIT_POWER_STEP_MS);
        }

        Info(ROW_AUTO_DETECTING);
        Wait(WAIT_SIGNATURE_MS);
        if (!m_programmer.ReadSignature()) {
            Error(ROW_NOT_RESPONDING);
            Info(ROW_RECONNECT_LOWER);
            return Failed();
        }
        const uint8_t* signature = m_programmer.GetSignature();
        if (signature[0] == 0xFF && signature[1] == 0xFF && signature[2] == 0xFF) {
            Error(ROW_NO_CHIP);
            Info(ROW_INSERT_CHIP);
            return Failed();
        }
        // The detected chip only names itself: the selected chip's size is burned whatever it is.
        Success(FormatText(ROW_FOUND_CHIP, ChipNameFromSignature(signature).c_str()));
        Info(FormatText(ROW_SIGNATURE, unsigned{signature[0]}, unsigned{signature[1]},
                        unsigned{signature[2]}));

        Info(ROW_ERASING);
        if (!m_programmer.EraseChip()) {
            Error(ROW_NOT_RESPONDING);
            Info(ROW_RECONNECT_LOWER);
            return Failed();
        }
        Wait(WAIT_ERASE_MS);
        Success(ROW_ERASED);

        // A failed read gives 0, the 3000 kHz line.
        const char* speedLine = ROW_SPEED[m_programmer.GetSpeed() & 3];
        Info(speedLine);

        const uint8_t* image = m_job.image;
        for (int a = 0; a < m_lastAddress; a += BLOCK) {
            if (!IsBlankBlock(image + a)) {
                if (!m_programmer.WriteBlock(static_cast<uint16_t>(a), image + a, BLOCK)) {
                    Error(ROW_BURN_FAILED);
                    Error(ROW_NOT_RESPONDING);
                    Info(ROW_RECONNECT_UPPER);
                    return Failed();
                }
                if (AbortRequested())
                    return CycleEnd::Abort;
            }
            Step();
        }
        Success(ROW_BURN_COMPLETED);
        Wait(WAIT_AFTER_WRITE_MS);
        Info(speedLine);

        uint8_t* readBack = m_job.readBack;
        for (int a = 0; a < m_lastAddress; a += BLOCK) {
            if (!m_programmer.ReadBlock(static_cast<uint16_t>(a), readBack + a)) {
                Error(ROW_VERIFY_FAILED);
                Error(ROW_NOT_RESPONDING);
                Info(ROW_RECONNECT_UPPER);
                return Failed();
            }
            if (AbortRequested())
                return CycleEnd::Abort;
            Step();
        }

        for (int i = 0; i <= m_lastAddress; ++i) {
            if (readBack[i] != image[i]) {
                Error(ROW_MISMATCH);
                Error(FormatText(ROW_MISMATCH_AT, static_cast<unsigned>(i), unsigned{readBack[i]},
                                 unsigned{image[i]}));
                Error(ROW_TASK_FAILED);
                Info(ROW_TRY_AGAIN);
                ++m_job.chipsFailed;
                return CycleEnd::Asked;
            }
        }

        Success(ROW_VERIFY_OK);
        Success(ROW_BURN_COMPLETED);
        Info(ROW_THANKYOU);
        ++m_job.chipsWritten;
        m_ui.SetChipsWritten(FormatText(LABEL_CHIPS_WRITTEN, m_job.chipsWritten));
        if (m_job.autoLock)
            Lock();
        return CycleEnd::Asked;
    }

    // Modes 1 up to the lock level, lowest first. The chip was verified before, so it stays counted
    // as written when a mode fails; no higher mode follows a failed one.
    void Lock() {
        Info(ROW_AUTO_LOCK);
        const int top = m_job.lockLevel < 4 ? m_job.lockLevel : 4;
        for (int mode = 1; mode <= top; ++mode) {
            const bool written = m_programmer.WriteLockMode(mode);
            if (!written)
                Error(FormatText(ROW_LOCK_FAILED, mode));
            else if (mode > 1)
                Success(FormatText(ROW_LOCK_ACTIVATED, mode));
            Wait(WAIT_LOCK_MODE_MS);
            if (!written) {
                ++m_job.lockFailures;
                return;
            }
        }
    }

    void EndFailure() {
        m_programmer.PowerOff();
        m_ui.FinishTask();
        m_job.running->store(0);
        m_programmer.Close();
        m_job.ending = BurnEnding::Failure;
    }

    void EndAbort() {
        m_programmer.PowerOff();
        m_ui.FinishTask();
        m_job.running->store(0);
        m_progress.SetPos(2 * m_job.lastAddress);
        m_ui.SetProgressPosition(m_progress.Pos());
        Wait(WAIT_ABORT_END_MS);
        m_programmer.Close();
        m_job.ending = BurnEnding::Abort;
    }

    // PowerOff was sent before the question.
    void EndNoMore() {
        m_ui.FinishTask();
        m_job.running->store(0);
        m_programmer.Close();
        m_job.ending = BurnEnding::NoMore;
    }

    BurnJob& m_job;
    IBurnUi& m_ui;
    CRealSleeper m_realSleeper;
    ISleeper& m_sleeper;
    CProgressModel m_progress;
    int m_lastAddress;
    CProgrammer m_programmer;
};

} // namespace

bool IsBlankBlock(const uint8_t* block) {
    for (int i = 0; i < BLOCK; ++i)
        if (block[i] != 0xFF)
            return false;
    return true;
}

unsigned BurnThreadProc(BurnJob& job, IBurnUi& ui) {
    job.chipsWritten = 0;
    job.chipsFailed = 0;
    job.lockFailures = 0;
    CBurnWorker worker(job, ui);
    worker.Run();
    return 0;
}

std::string RowTimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    if (std::strftime(text, sizeof text, ROW_TIME_FORMAT, &local) == 0)
        return "";
    return text;
}

AbortOutcome AbortBurn(IMessageSink& messages, IBurnAbortUi& ui, std::atomic<int32_t>& running,
                       std::atomic<int32_t>& abort) {
    if (!messages.AskYesNo(ASK_ABORT_BURN))
        return AbortOutcome::Declined;
    if (running.load() == 0)
        return AbortOutcome::NotRunning;
    ui.AddRow(RowKind::Error, ROW_ABORTING);
    abort.store(1);
    if (ui.WaitForWorker(BURN_ABORT_WAIT_MS)) {
        ui.AddRow(RowKind::Error, ROW_ABORTED);
        ui.SetFinishedButtons();
        return AbortOutcome::Ended;
    }
    messages.ShowMessage(MSG_CANNOT_END_BURNER, MsgIcon::Error);
    return AbortOutcome::TimedOut;
}
