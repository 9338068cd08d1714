#include "ops/Burn.h"

#include <algorithm>

#include "chips/ChipCatalogue.h"
#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/Texts.h"

std::array<uint8_t, BURN_BUFFER_SIZE> g_burnImage{};
std::array<uint8_t, BURN_BUFFER_SIZE> g_readBack{};
int32_t g_burnLastAddress = 0;
std::atomic<int32_t> g_burnRunning{0};
std::atomic<int32_t> g_burnAbort{0};

namespace {

constexpr int WAIT_AFTER_WRITE_MS = 300;
constexpr int WAIT_ABORT_END_MS = 500;

class CBurnWorker {
public:
    CBurnWorker(IProgrammer& link, const BurnJob& job, IOperationPort& port, ISleeper& sleeper)
        : m_job(job), m_port(port), m_sleeper(sleeper),
          m_session(link, port, sleeper, job.abort, job.location) {
        SetImage(job.image, job.lastAddress);
    }

    BurnResult Run() {
        for (;;) {
            const Result end = Cycle();
            if (m_job.source != nullptr)
                m_job.source->CycleOver();
            if (end == Result::Failed)
                return EndFailure();
            if (end == Result::Aborted)
                return EndAbort();
            // A socket that may still be powered is no place to change the chip: no question then.
            if (!PowerOff()) {
                m_result.status = Result::Failed;
                m_port.CycleEnded(m_report);
                return EndAfterPowerOff(Result::Failed);
            }
            m_port.CycleEnded(m_report);
            if (!m_port.Ask(Question::WriteMore))
                return EndAfterPowerOff(Result::Done);
        }
    }

private:
    void Info(const std::string& text) { m_session.Info(text); }
    void Error(const std::string& text) { m_session.Error(text); }
    void Success(const std::string& text) { m_session.Success(text); }
    void Wait(int ms) { m_sleeper.Sleep(ms); }
    bool AbortRequested() const { return m_session.AbortRequested(); }
    IProgrammer& Programmer() { return m_session.Programmer(); }

    // Every block of both buffers must lie inside them, whatever the caller passed.
    void SetImage(const uint8_t* image, int32_t lastAddress) {
        m_image = image;
        m_lastAddress = std::clamp(lastAddress, 0, BURN_BUFFER_SIZE - 1);
        m_blocks = BlocksOf(m_lastAddress);
    }

    void Step() { m_port.Progress(++m_stepsDone, 2 * m_blocks); }

    bool PowerOff() {
        if (m_session.PowerOff(m_result.status == Result::Failed))
            return true;
        m_report.powerOffFailed = true;
        if (m_report.failure.empty() && m_report.outcome != Result::Done)
            m_report.failure = ROW_POWER_OFF_FAILED;
        ++m_result.powerOffFailures;
        return false;
    }

    // The cycle failed with status; its rows are out.
    Result Failed(Result status) {
        m_report.outcome = Result::Failed;
        m_result.status = status;
        ++m_result.chipsFailed;
        return Result::Failed;
    }

    Result Aborted() {
        m_report.outcome = Result::Aborted;
        m_result.status = Result::Aborted;
        return Result::Aborted;
    }

    Result Cycle() {
        m_report = CycleReport{};
        m_report.cycle = ++m_cycles;
        m_stepsDone = 0;
        m_port.CycleStarted(m_report.cycle);
        if (m_result.chipsWritten > 0)
            Info(FormatText(ROW_CHIP_START, m_result.chipsWritten + 1));

        Result status = Result::Done;
        if (m_job.source != nullptr && !m_job.source->BeforePower(m_report, m_port)) {
            if (m_report.failure.empty())
                m_report.failure = "image not prepared";
            status = AbortRequested() ? Result::Aborted : Result::Failed;
        }
        if (status == Result::Done)
            status = m_session.Start(m_report);
        int chip = -1;
        if (status == Result::Done)
            status = m_session.CheckIdentity(m_job.expect, m_report, chip);
        if (status == Result::Done && m_job.source != nullptr) {
            const uint8_t* image = nullptr;
            int32_t lastAddress = 0;
            if (!m_job.source->PrepareChip(chip, m_report, m_port, image, lastAddress)) {
                if (m_report.failure.empty())
                    m_report.failure = "image not prepared";
                status = AbortRequested() ? Result::Aborted : Result::Failed;
            } else {
                SetImage(image, lastAddress);
            }
        }
        if (status == Result::Done && AbortRequested())
            status = Result::Aborted;
        if (status == Result::Aborted)
            return Aborted();
        if (status != Result::Done)
            return Failed(status);

        if (!m_session.Erase(m_report))
            return Failed(Result::Failed);

        // A failed read gives 0, the 3000 kHz line.
        const char* speedLine = ROW_SPEED[Programmer().GetSpeed() & 3];
        Info(speedLine);

        const uint8_t* image = m_image;
        m_port.Progress(0, 2 * m_blocks);
        for (int a = 0; a < m_lastAddress; a += PROGRAMMER_BLOCK) {
            if (!IsBlankBlock(image + a)) {
                if (!Programmer().WriteBlock(static_cast<uint16_t>(a), image + a, PROGRAMMER_BLOCK)) {
                    m_session.Fail(Result::Failed, ROW_BURN_FAILED, m_report);
                    Error(ROW_NOT_RESPONDING);
                    Info(ROW_RECONNECT_UPPER);
                    return Failed(Result::Failed);
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
        const Result read = ReadFlashBlocks(Programmer(), readBack, m_blocks, [this] {
            if (AbortRequested())
                return false;
            Step();
            return true;
        });
        if (read == Result::Aborted)
            return Aborted();
        if (read != Result::Done) {
            m_session.Fail(Result::Failed, ROW_VERIFY_FAILED, m_report);
            Error(ROW_NOT_RESPONDING);
            Info(ROW_RECONNECT_UPPER);
            return Failed(Result::Failed);
        }

        const int first = CompareFlash(readBack, image, m_lastAddress + 1).first;
        if (first >= 0) {
            const std::string difference = DifferenceRow(first, readBack[first], image[first]);
            Error(ROW_MISMATCH);
            Error(difference);
            Error(ROW_TASK_FAILED);
            Info(ROW_TRY_AGAIN);
            m_report.outcome = Result::Failed;
            m_report.failure = MismatchFailure(difference);
            ++m_result.chipsFailed;
            return Result::Done;
        }

        Success(ROW_VERIFY_OK);
        Success(ROW_BURN_COMPLETED);
        Info(ROW_THANKYOU);
        ++m_result.chipsWritten;
        m_report.outcome = Result::Done;
        m_port.ChipVerified(m_result.chipsWritten);
        if (m_job.autoLock)
            Lock();
        return Result::Done;
    }

    // A chip left unlocked is no chip as asked for: its cycle reports the failed mode, though the
    // chip, verified before, stays counted as written.
    void Lock() {
        Info(ROW_AUTO_LOCK);
        if (!m_session.WriteLockModes(m_job.lockLevel, m_report)) {
            ++m_result.lockFailures;
            m_report.outcome = Result::Failed;
            m_report.failure = FormatText(ROW_LOCK_FAILED, m_report.lockMode + 1);
        }
    }

    BurnResult EndFailure() {
        PowerOff();
        m_port.CycleEnded(m_report);
        m_job.running->store(0);
        m_result.ending = Result::Failed;
        m_port.Ended(Result::Failed);
        m_session.Close();
        return m_result;
    }

    BurnResult EndAbort() {
        PowerOff();
        m_port.CycleEnded(m_report);
        m_job.running->store(0);
        m_result.ending = Result::Aborted;
        m_port.Ended(Result::Aborted);
        Wait(WAIT_ABORT_END_MS);
        m_session.Close();
        return m_result;
    }

    // PowerOff was sent at the end of the cycle.
    BurnResult EndAfterPowerOff(Result ending) {
        m_job.running->store(0);
        m_result.ending = ending;
        m_port.Ended(ending);
        m_session.Close();
        return m_result;
    }

    const BurnJob& m_job;
    IOperationPort& m_port;
    ISleeper& m_sleeper;
    CChipSession m_session;
    const uint8_t* m_image = nullptr;
    int m_lastAddress = 0;
    int m_blocks = 0;    // blocks of one phase
    int m_stepsDone = 0; // blocks of both phases so far in this cycle
    int m_cycles = 0;
    CycleReport m_report;
    BurnResult m_result;
};

} // namespace

bool IsBlankBlock(const uint8_t* block) {
    for (int i = 0; i < PROGRAMMER_BLOCK; ++i)
        if (block[i] != 0xFF)
            return false;
    return true;
}

BurnResult BurnThreadProc(IProgrammer& link, const BurnJob& job, IOperationPort& port, ISleeper& sleeper) {
    CBurnWorker worker(link, job, port, sleeper);
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

Result AbortBurn(IOperationPort& port, IWorkerWait& worker, std::atomic<int32_t>& running,
                 std::atomic<int32_t>& abort) {
    if (!port.Ask(Question::AbortBurn))
        return Result::Declined;
    if (running.load() == 0)
        return Result::NotRunning;
    port.Row(RowKind::Error, ROW_ABORTING);
    abort.store(1);
    if (worker.WaitForWorker(BURN_ABORT_WAIT_MS)) {
        port.Row(RowKind::Error, ROW_ABORTED);
        return Result::Aborted;
    }
    port.Message(MSG_CANNOT_END_BURNER, MsgIcon::Error);
    return Result::TimedOut;
}
