#include "ops/Burn.h"

#include <algorithm>

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
    CBurnWorker(const BurnJob& job, IOperationPort& port, ISleeper& sleeper)
        : m_job(job), m_port(port), m_sleeper(sleeper) {
        // Every block of both buffers must lie inside them, whatever the caller passed.
        m_lastAddress = job.lastAddress < BURN_BUFFER_SIZE ? job.lastAddress : BURN_BUFFER_SIZE - 1;
        m_blocks = m_lastAddress > 0 ? (m_lastAddress + BLOCK - 1) / BLOCK : 0;
        m_programmer.SetLocation(job.location);
    }

    BurnResult Run() {
        for (;;) {
            const CycleEnd end = Cycle();
            if (end == CycleEnd::Failure)
                return EndFailure();
            if (end == CycleEnd::Abort)
                return EndAbort();
            m_programmer.PowerOff();
            m_port.CycleEnded(m_report);
            if (!m_port.Ask(Question::WriteMore))
                return EndNoMore();
        }
    }

private:
    void Info(const std::string& text) { m_port.Row(RowKind::Information, text); }
    void Error(const std::string& text) { m_port.Row(RowKind::Error, text); }
    void Success(const std::string& text) { m_port.Row(RowKind::Success, text); }
    void Wait(int ms) { m_sleeper.Sleep(ms); }
    bool AbortRequested() const { return m_job.abort->load() != 0; }

    void Step() { m_port.Progress(++m_stepsDone, 2 * m_blocks); }

    // The error row that says why the cycle fails, then the rows that follow it.
    CycleEnd Failed(const std::string& reason) {
        Error(reason);
        m_report.outcome = CycleOutcome::Failed;
        if (m_report.failure.empty())
            m_report.failure = reason;
        ++m_result.chipsFailed;
        return CycleEnd::Failure;
    }

    CycleEnd Aborted() {
        m_report.outcome = CycleOutcome::Aborted;
        return CycleEnd::Abort;
    }

    CycleEnd Cycle() {
        m_report = CycleReport{};
        m_report.cycle = ++m_cycles;
        m_stepsDone = 0;
        m_port.CycleStarted(m_report.cycle);
        if (m_result.chipsWritten > 0)
            Info(FormatText(ROW_CHIP_START, m_result.chipsWritten + 1));
        Info(ROW_INITIALIZING);
        Wait(WAIT_INITIALIZING_MS);

        Info(ROW_DETECTING);
        if (!m_programmer.Open()) {
            const CycleEnd end = Failed(ROW_NO_PROGRAMMER);
            for (const std::string& reason : NoProgrammerReasons(m_programmer))
                Error(reason);
            return end;
        }
        Success(ROW_FOUND);
        const char* product = m_programmer.GetProductString();
        m_report.product = product ? product : "";
        Success(m_report.product);

        Info(ROW_TESTING);
        Wait(WAIT_TEST_MS);
        if (!m_programmer.TestHardware())
            return Failed(ROW_NOT_RESPONDING);
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
            const CycleEnd end = Failed(ROW_NOT_RESPONDING);
            Info(ROW_RECONNECT_LOWER);
            return end;
        }
        const uint8_t* signature = m_programmer.GetSignature();
        m_report.signatureRead = true;
        std::copy(signature, signature + 3, m_report.signature);
        m_report.chip = FindChipBySignature(signature);
        if (signature[0] == 0xFF && signature[1] == 0xFF && signature[2] == 0xFF) {
            const CycleEnd end = Failed(ROW_NO_CHIP);
            Info(ROW_INSERT_CHIP);
            return end;
        }
        // The detected chip only names itself: the selected chip's size is burned whatever it is.
        Success(FormatText(ROW_FOUND_CHIP, ChipNameFromSignature(signature).c_str()));
        Info(FormatText(ROW_SIGNATURE, unsigned{signature[0]}, unsigned{signature[1]},
                        unsigned{signature[2]}));

        Info(ROW_ERASING);
        m_report.erased = true;
        if (!m_programmer.EraseChip()) {
            const CycleEnd end = Failed(ROW_NOT_RESPONDING);
            Info(ROW_RECONNECT_LOWER);
            return end;
        }
        Wait(WAIT_ERASE_MS);
        Success(ROW_ERASED);

        // A failed read gives 0, the 3000 kHz line.
        const char* speedLine = ROW_SPEED[m_programmer.GetSpeed() & 3];
        Info(speedLine);

        const uint8_t* image = m_job.image;
        m_port.Progress(0, 2 * m_blocks);
        for (int a = 0; a < m_lastAddress; a += BLOCK) {
            if (!IsBlankBlock(image + a)) {
                if (!m_programmer.WriteBlock(static_cast<uint16_t>(a), image + a, BLOCK)) {
                    const CycleEnd end = Failed(ROW_BURN_FAILED);
                    Error(ROW_NOT_RESPONDING);
                    Info(ROW_RECONNECT_UPPER);
                    return end;
                }
                if (AbortRequested())
                    return Aborted();
            }
            Step();
        }
        Success(ROW_BURN_COMPLETED);
        Wait(WAIT_AFTER_WRITE_MS);
        Info(speedLine);

        uint8_t* readBack = m_job.readBack;
        for (int a = 0; a < m_lastAddress; a += BLOCK) {
            if (!m_programmer.ReadBlock(static_cast<uint16_t>(a), readBack + a)) {
                const CycleEnd end = Failed(ROW_VERIFY_FAILED);
                Error(ROW_NOT_RESPONDING);
                Info(ROW_RECONNECT_UPPER);
                return end;
            }
            if (AbortRequested())
                return Aborted();
            Step();
        }

        for (int i = 0; i <= m_lastAddress; ++i) {
            if (readBack[i] != image[i]) {
                const std::string difference = FormatText(ROW_MISMATCH_AT, static_cast<unsigned>(i),
                                                          unsigned{readBack[i]}, unsigned{image[i]});
                Error(ROW_MISMATCH);
                Error(difference);
                Error(ROW_TASK_FAILED);
                Info(ROW_TRY_AGAIN);
                m_report.outcome = CycleOutcome::Failed;
                m_report.failure = std::string(ROW_MISMATCH) + " " + difference;
                ++m_result.chipsFailed;
                return CycleEnd::Asked;
            }
        }

        Success(ROW_VERIFY_OK);
        Success(ROW_BURN_COMPLETED);
        Info(ROW_THANKYOU);
        ++m_result.chipsWritten;
        m_report.outcome = CycleOutcome::Verified;
        m_port.ChipVerified(m_result.chipsWritten);
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
                m_report.lockFailed = true;
                ++m_result.lockFailures;
                return;
            }
            m_report.lockMode = mode;
        }
    }

    BurnResult EndFailure() {
        m_programmer.PowerOff();
        m_port.CycleEnded(m_report);
        m_job.running->store(0);
        m_result.ending = BurnEnding::Failure;
        m_port.Ended(Ending::Failed);
        m_programmer.Close();
        return m_result;
    }

    BurnResult EndAbort() {
        m_programmer.PowerOff();
        m_port.CycleEnded(m_report);
        m_job.running->store(0);
        m_result.ending = BurnEnding::Abort;
        m_port.Ended(Ending::Aborted);
        Wait(WAIT_ABORT_END_MS);
        m_programmer.Close();
        return m_result;
    }

    // PowerOff was sent before the question.
    BurnResult EndNoMore() {
        m_job.running->store(0);
        m_result.ending = BurnEnding::NoMore;
        m_port.Ended(Ending::Done);
        m_programmer.Close();
        return m_result;
    }

    const BurnJob& m_job;
    IOperationPort& m_port;
    ISleeper& m_sleeper;
    int m_lastAddress = 0;
    int m_blocks = 0;    // blocks of one phase
    int m_stepsDone = 0; // blocks of both phases so far in this cycle
    int m_cycles = 0;
    CycleReport m_report;
    BurnResult m_result;
    CProgrammer m_programmer;
};

} // namespace

bool IsBlankBlock(const uint8_t* block) {
    for (int i = 0; i < BLOCK; ++i)
        if (block[i] != 0xFF)
            return false;
    return true;
}

BurnResult BurnThreadProc(const BurnJob& job, IOperationPort& port, ISleeper& sleeper) {
    CBurnWorker worker(job, port, sleeper);
    return worker.Run();
}

std::string RowTimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    if (std::strftime(text, sizeof text, ROW_TIME_FORMAT, &local) == 0)
        return "";
    return text;
}

AbortOutcome AbortBurn(IOperationPort& port, IWorkerWait& worker, std::atomic<int32_t>& running,
                       std::atomic<int32_t>& abort) {
    if (!port.Ask(Question::AbortBurn))
        return AbortOutcome::Declined;
    if (running.load() == 0)
        return AbortOutcome::NotRunning;
    port.Row(RowKind::Error, ROW_ABORTING);
    abort.store(1);
    if (worker.WaitForWorker(BURN_ABORT_WAIT_MS)) {
        port.Row(RowKind::Error, ROW_ABORTED);
        port.Ended(Ending::Aborted);
        return AbortOutcome::Ended;
    }
    port.Message(MSG_CANNOT_END_BURNER, MsgIcon::Error);
    return AbortOutcome::TimedOut;
}
