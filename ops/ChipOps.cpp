#include "ops/ChipOps.h"

#include "chips/ChipCatalogue.h"
#include "image/Checksum.h"
#include "ops/Format.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"

namespace {

// The actions that want the chip's flash as it is: a locked chip has none to give.
bool ReadsAsItIs(ChipAction action) {
    return action == ChipAction::Read || action == ChipAction::Verify || action == ChipAction::BlankCheck;
}

class CChipOperation {
public:
    CChipOperation(IProgrammer& link, const ChipJob& job, IOperationPort& port, ISleeper& sleeper)
        : m_job(job), m_port(port), m_session(link, port, sleeper, job.abort, job.location) {}

    ChipResult Run() {
        m_result.status = Steps();
        // The rows of an abort are the burn dialog's, with nobody else to add them here.
        if (m_result.status == Result::Aborted)
            m_session.Error(ROW_ABORTED);
        if (!m_session.PowerOff(m_result.status == Result::Failed) && m_result.status == Result::Done)
            m_result.status = Result::Failed;
        m_port.Ended(m_result.status == Result::Done      ? Result::Done
                     : m_result.status == Result::Aborted ? Result::Aborted
                                                          : Result::Failed);
        m_session.Close();
        return m_result;
    }

private:
    IProgrammer& Programmer() { return m_session.Programmer(); }
    Result Fail(Result status, const std::string& reason) {
        return m_session.Fail(status, reason, m_result.identity);
    }
    Result NotResponding() {
        Fail(Result::Failed, ROW_NOT_RESPONDING);
        m_session.Info(ROW_RECONNECT_UPPER);
        return Result::Failed;
    }

    Result Steps() {
        CycleReport& report = m_result.identity;
        Result status = m_session.Start(report);
        if (status == Result::Done)
            status = m_session.CheckIdentity(m_job.expect, report, m_result.chip);
        if (status != Result::Done)
            return status;
        if (m_result.chip >= 0)
            m_result.length = g_chipCatalogue[static_cast<size_t>(m_result.chip)].flashSize;

        if (ReadsAsItIs(m_job.action)) {
            status = CheckReadable();
            if (status != Result::Done)
                return status;
        }
        switch (m_job.action) {
        case ChipAction::Identify:
            status = ReadLockStatus();
            return status == Result::Done ? ReadSpeed() : status;
        case ChipAction::ReadLock:
            return ReadLockStatus();
        case ChipAction::WriteLock:
            if (m_session.AbortRequested())
                return Result::Aborted;
            return m_session.WriteLockModes(m_job.lockMode, report) ? Result::Done : Result::Failed;
        case ChipAction::Erase:
            status = Erase();
            return status == Result::Done ? ReadAndJudge() : status;
        case ChipAction::Read:
        case ChipAction::Verify:
        case ChipAction::BlankCheck:
            return ReadAndJudge();
        }
        return Result::Failed;
    }

    // The lock status byte, kept in the result.
    Result ReadLockByte() {
        bool ok = false;
        const uint8_t status = Programmer().ReadLockBits(&ok);
        if (!ok)
            return NotResponding();
        m_result.lockRead = true;
        m_result.lockStatus = status;
        return Result::Done;
    }

    // A chip in lock mode 3 or 4 answers reads with a pattern, not its flash.
    Result CheckReadable() {
        if (m_session.AbortRequested())
            return Result::Aborted;
        const Result status = ReadLockByte();
        if (status != Result::Done)
            return status;
        const LockStatusRow* row = FindLockStatus(m_result.lockStatus);
        if (row == nullptr || row->mode < 3)
            return Result::Done;
        if (!m_job.readLocked)
            return Fail(Result::Locked, row->message);
        m_session.Info(row->message);
        return Result::Done;
    }

    Result ReadLockStatus() {
        const Result status = ReadLockByte();
        if (status != Result::Done)
            return status;
        if (const LockStatusRow* row = FindLockStatus(m_result.lockStatus))
            m_session.Info(row->message);
        else
            m_session.Info(FormatText(ROW_LOCK_STATUS_OTHER, unsigned{m_result.lockStatus}));
        return Result::Done;
    }

    Result ReadSpeed() {
        bool ok = false;
        const uint8_t code = Programmer().GetSpeed(&ok);
        if (!ok)
            return NotResponding();
        m_result.speedRead = true;
        m_result.speedCode = code;
        m_session.Info(FormatText(ROW_SPEED_NOW, SpeedCodeText(code).c_str()));
        return Result::Done;
    }

    Result Erase() {
        if (m_session.AbortRequested())
            return Result::Aborted;
        return m_session.Erase(m_result.identity) ? Result::Done : Result::Failed;
    }

    Result ReadAndJudge() {
        const uint8_t* image = nullptr;
        if (m_job.action == ChipAction::Verify) {
            int32_t lastAddress = 0;
            if (m_job.source == nullptr ||
                !m_job.source->PrepareChip(m_result.chip, m_result.identity, m_port, image, lastAddress))
                return Result::Failed;
            m_result.length = lastAddress + 1;
        }
        const Result status = ReadFlash();
        if (status != Result::Done)
            return status;
        const uint8_t* flash = m_job.buffer;
        const int length = m_result.length;
        if (m_job.action == ChipAction::Read) {
            m_session.Info(FormatText(ROW_CHECKSUMS, Crc32(flash, static_cast<size_t>(length)),
                                      unsigned{Sum16(flash, static_cast<size_t>(length))}, length));
            return Result::Done;
        }
        const FlashComparison comparison = CompareFlash(flash, image, length);
        m_result.firstDifference = comparison.first;
        m_result.differences = comparison.differences;
        const int first = m_result.firstDifference;
        if (image != nullptr) {
            if (first < 0) {
                m_session.Success(ROW_VERIFY_OK);
                return Result::Done;
            }
            const std::string difference = DifferenceRow(first, flash[first], image[first]);
            Fail(Result::Mismatch, ROW_MISMATCH);
            m_result.identity.failure = MismatchFailure(difference);
            m_session.Error(difference);
            m_session.Error(FormatText(ROW_DIFFERENCES, m_result.differences));
            return Result::Mismatch;
        }
        if (first < 0) {
            m_session.Success(ROW_BLANK);
            return Result::Done;
        }
        Fail(Result::NotBlank,
             FormatText(ROW_NOT_BLANK, static_cast<unsigned>(first), unsigned{flash[first]}));
        m_session.Error(FormatText(ROW_NOT_BLANK_COUNT, m_result.differences));
        return Result::NotBlank;
    }

    Result ReadFlash() {
        const int blocks = BlocksOf(std::min(m_result.length, 65536));
        if (m_session.AbortRequested())
            return Result::Aborted;
        m_session.Info(STATUS_READING);
        m_port.Progress(0, blocks);
        int done = 0;
        const Result status = ReadFlashBlocks(Programmer(), m_job.buffer, blocks, [&] {
            if (m_session.AbortRequested())
                return false;
            m_port.Progress(++done, blocks);
            return true;
        });
        if (status == Result::Failed)
            return NotResponding();
        if (status == Result::Done)
            m_session.Success(ROW_READ_DONE);
        return status;
    }

    const ChipJob& m_job;
    IOperationPort& m_port;
    CChipSession m_session;
    ChipResult m_result;
};

} // namespace

ChipResult RunChipJob(IProgrammer& link, const ChipJob& job, IOperationPort& port, ISleeper& sleeper) {
    CChipOperation operation(link, job, port, sleeper);
    return operation.Run();
}
