#include "ops/Watch.h"

#include <algorithm>

#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/Texts.h"

namespace {

constexpr int TAKE_ATTEMPTS = 10;
constexpr int TAKE_RETRY_MS = 100;

// One chip's burn as a part of the watch: its cycle numbered across the watch, its question answered
// by the watch (no: the next chip comes by itself), its Ended kept back until the watch ends.
class CWatchChipPort : public IOperationPort {
public:
    explicit CWatchChipPort(IOperationPort& outer) : m_outer(outer) {}

    void Row(RowKind kind, const std::string& text) override { m_outer.Row(kind, text); }
    void Progress(int done, int total) override { m_outer.Progress(done, total); }
    void CycleStarted(int) override { m_outer.CycleStarted(cycle); }
    void Identified(const CycleReport& report) override { m_outer.Identified(Numbered(report)); }
    void ChipVerified(int) override { m_outer.ChipVerified(verified + 1); }
    void CycleEnded(const CycleReport& report) override {
        last = Numbered(report);
        m_outer.CycleEnded(last);
    }
    void Ended(Result) override {}
    void Message(const std::string& text, MsgIcon icon) override { m_outer.Message(text, icon); }
    bool Ask(Question question) override { return question != Question::WriteMore && m_outer.Ask(question); }

    int cycle = 0;    // of the chip being burned
    int verified = 0; // chips verified before it
    CycleReport last;

private:
    CycleReport Numbered(const CycleReport& report) const {
        CycleReport numbered = report;
        numbered.cycle = cycle;
        return numbered;
    }
    IOperationPort& m_outer;
};

class CWatcher {
public:
    CWatcher(IProgrammer& link, const WatchJob& job, IOperationPort& port, ISleeper& sleeper)
        : m_link(link), m_job(job), m_port(port), m_sleeper(sleeper), m_chipPort(port) {
        m_link.SetLocation(job.burn.location);
    }

    WatchResult Run() {
        if (!Take())
            return Gone();
        bool holding = m_job.awaitRemoval; // a chip dealt with is in the socket
        if (holding)
            m_port.Row(RowKind::Information, ROW_WATCH_REMOVE);
        else
            Await();
        uint8_t seen[3] = {};
        int same = 0; // polls in a row that read seen (or, while holding, an empty socket)
        for (;;) {
            if (Aborted())
                return End(Result::Aborted);
            if (Stopped())
                return End(Result::Done);
            uint8_t signature[3];
            const Poll poll = PollSocket(signature);
            if (poll == Poll::Gone)
                return Gone();
            if (poll == Poll::Read) {
                const bool empty = signature[0] == 0xFF && signature[1] == 0xFF && signature[2] == 0xFF;
                if (holding) {
                    same = empty ? same + 1 : 0;
                    if (same >= 2) {
                        holding = false;
                        same = 0;
                        m_faultTold = false;
                        m_port.Row(RowKind::Success, ROW_WATCH_REMOVED);
                        m_port.ChipRemoved();
                        Await();
                    }
                } else if (empty) {
                    same = 0;
                } else {
                    same = same > 0 && std::equal(signature, signature + 3, seen) ? same + 1 : 1;
                    std::copy(signature, signature + 3, seen);
                    if (same >= 2) {
                        same = 0;
                        const Result burned = Burn();
                        if (burned == Result::Aborted)
                            return End(Result::Aborted);
                        if (burned == Result::NoProgrammer)
                            return Gone();
                        if (const std::string reason = m_job.stopReason ? m_job.stopReason() : "";
                            !reason.empty()) {
                            m_port.Row(RowKind::Error, FormatText(ROW_WATCH_STOPPED, reason.c_str()));
                            return End(Result::Failed);
                        }
                        holding = true;
                        m_faultTold = false;
                        m_port.Row(RowKind::Information, ROW_WATCH_REMOVE);
                        // The burn released the programmer; the watch takes it again.
                        if (!Take())
                            return Gone();
                        continue; // the next poll at once: a chip already out is seen sooner
                    }
                }
            }
            m_sleeper.Sleep(m_job.pollMs);
        }
    }

private:
    enum class Poll { Read, Failed, Gone };

    bool Aborted() const { return m_job.burn.abort != nullptr && m_job.burn.abort->load() != 0; }
    bool Stopped() const { return m_job.stop != nullptr && m_job.stop->load() != 0; }

    // Opens the programmer again. Another program's look at the bus (a rescan's probe) may hold it for
    // a moment: busy is tried again for a while before the programmer counts as gone.
    bool Take() {
        for (int attempt = 0;; ++attempt) {
            if (m_link.Open())
                return true;
            if (!m_link.Busy() || attempt == TAKE_ATTEMPTS)
                return false;
            m_sleeper.Sleep(TAKE_RETRY_MS);
        }
    }

    void Await() {
        m_port.Row(RowKind::Information, ROW_WATCH_WAITING);
        m_port.ChipAwaited();
    }

    // Power on, the signature, power off; the socket is powered for this long only, and PowerOff is
    // sent whatever came before it. A failure is told once until a chip changes; the programmer is
    // then taken again, and when it cannot be, it is gone.
    Poll PollSocket(uint8_t* signature) {
        const char* failed = nullptr;
        if (!m_link.PowerOn())
            failed = "Power On";
        else {
            m_sleeper.Sleep(m_job.settleMs);
            if (!m_link.ReadSignature())
                failed = "Signature Read";
        }
        if (failed == nullptr) {
            const uint8_t* read = m_link.GetSignature();
            std::copy(read, read + 3, signature);
        }
        if (!m_link.PowerOff() && failed == nullptr)
            failed = "Power Off";
        if (failed == nullptr)
            return Poll::Read;
        if (!m_faultTold) {
            m_faultTold = true;
            m_port.Row(RowKind::Error, FormatText(ROW_WATCH_POLL_FAILED, failed));
        }
        if (!Take())
            return Poll::Gone;
        return Poll::Failed;
    }

    Result Burn() {
        m_chipPort.cycle = ++m_cycles;
        m_chipPort.verified = m_result.chipsWritten;
        BurnJob burn = m_job.burn;
        std::atomic<int32_t> running{1};
        burn.running = &running;
        const BurnResult result = BurnThreadProc(m_link, burn, m_chipPort, m_sleeper);
        m_result.chipsWritten += result.chipsWritten;
        m_result.chipsFailed += result.chipsFailed;
        m_result.lockFailures += result.lockFailures;
        m_result.powerOffFailures += result.powerOffFailures;
        if (result.ending == Result::Aborted)
            return Result::Aborted;
        if (result.ending == Result::Failed && result.status == Result::NoProgrammer)
            return Result::NoProgrammer;
        return Result::Done;
    }

    WatchResult Gone() {
        m_port.Row(RowKind::Error, ROW_WATCH_GONE);
        return End(Result::NoProgrammer);
    }

    WatchResult End(Result ending) {
        // Every poll and every burn ended with PowerOff already: nothing more goes out.
        m_link.Close();
        if (m_job.burn.running != nullptr)
            m_job.burn.running->store(0);
        m_result.ending = ending;
        m_port.Ended(ending == Result::NoProgrammer ? Result::Failed : ending);
        return m_result;
    }

    IProgrammer& m_link;
    const WatchJob& m_job;
    IOperationPort& m_port;
    ISleeper& m_sleeper;
    CWatchChipPort m_chipPort;
    int m_cycles = 0;
    bool m_faultTold = false;
    WatchResult m_result;
};

} // namespace

WatchResult WatchThreadProc(IProgrammer& link, const WatchJob& job, IOperationPort& port, ISleeper& sleeper) {
    CWatcher watcher(link, job, port, sleeper);
    return watcher.Run();
}
