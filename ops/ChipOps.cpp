#include "ops/ChipOps.h"

#include "chips/ChipCatalogue.h"
#include "image/Checksum.h"
#include "ops/Format.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"

namespace {

constexpr int BLOCK = 8;
constexpr int WAIT_ERASE_MS = 500;

bool Reads(ChipAction action) {
    return action == ChipAction::Read || action == ChipAction::Verify || action == ChipAction::BlankCheck ||
           action == ChipAction::Erase;
}

class CChipOperation {
public:
    CChipOperation(const ChipJob& job, IOperationPort& port, ISleeper& sleeper)
        : m_job(job), m_port(port), m_session(port, sleeper, job.abort, job.location) {}

    ChipResult Run() {
        m_result.status = Steps();
        if (!m_session.PowerOff(m_result.status == ChipStatus::Failed) && m_result.status == ChipStatus::Done)
            m_result.status = ChipStatus::Failed;
        m_port.Ended(m_result.status == ChipStatus::Done      ? Ending::Done
                     : m_result.status == ChipStatus::Aborted ? Ending::Aborted
                                                              : Ending::Failed);
        m_session.Close();
        return m_result;
    }

private:
    CProgrammer& Programmer() { return m_session.Programmer(); }
    ChipStatus Fail(ChipStatus status, const std::string& reason) {
        return m_session.Fail(status, reason, m_result.identity);
    }
    ChipStatus NotResponding() {
        Fail(ChipStatus::Failed, ROW_NOT_RESPONDING);
        m_session.Info(ROW_RECONNECT_UPPER);
        return ChipStatus::Failed;
    }

    ChipStatus Steps() {
        CycleReport& report = m_result.identity;
        ChipStatus status = m_session.Start(report);
        if (status == ChipStatus::Done)
            status = m_session.CheckIdentity(m_job.expect, report, m_result.chip);
        if (status != ChipStatus::Done)
            return status;
        if (m_result.chip >= 0)
            m_result.length = g_chipCatalogue[static_cast<size_t>(m_result.chip)].flashSize;

        if (Reads(m_job.action) && m_job.action != ChipAction::Erase) {
            status = CheckReadable();
            if (status != ChipStatus::Done)
                return status;
        }
        switch (m_job.action) {
        case ChipAction::Identify:
            status = ReadLockStatus();
            return status == ChipStatus::Done ? ReadSpeed() : status;
        case ChipAction::ReadLock:
            return ReadLockStatus();
        case ChipAction::WriteLock:
            if (m_session.AbortRequested())
                return ChipStatus::Aborted;
            return m_session.WriteLockModes(m_job.lockMode, report) ? ChipStatus::Done : ChipStatus::Failed;
        case ChipAction::Erase:
            status = Erase();
            return status == ChipStatus::Done ? ReadAndJudge() : status;
        case ChipAction::Read:
        case ChipAction::Verify:
        case ChipAction::BlankCheck:
            return ReadAndJudge();
        }
        return ChipStatus::Failed;
    }

    // A chip in lock mode 3 or 4 answers reads with a pattern, not its flash.
    ChipStatus CheckReadable() {
        if (m_session.AbortRequested())
            return ChipStatus::Aborted;
        bool ok = false;
        const uint8_t status = Programmer().ReadLockBits(&ok);
        if (!ok)
            return NotResponding();
        m_result.lockRead = true;
        m_result.lockStatus = status;
        const LockStatusRow* row = FindLockStatus(status);
        if (row == nullptr || row->mode < 3)
            return ChipStatus::Done;
        if (!m_job.readLocked)
            return Fail(ChipStatus::Locked, row->message);
        m_session.Info(row->message);
        return ChipStatus::Done;
    }

    ChipStatus ReadLockStatus() {
        bool ok = false;
        const uint8_t status = Programmer().ReadLockBits(&ok);
        if (!ok)
            return NotResponding();
        m_result.lockRead = true;
        m_result.lockStatus = status;
        if (const LockStatusRow* row = FindLockStatus(status))
            m_session.Info(row->message);
        else
            m_session.Info(FormatText(ROW_LOCK_STATUS_OTHER, unsigned{status}));
        return ChipStatus::Done;
    }

    ChipStatus ReadSpeed() {
        bool ok = false;
        const uint8_t code = Programmer().GetSpeed(&ok);
        if (!ok)
            return NotResponding();
        m_result.speedRead = true;
        m_result.speedCode = code;
        const int position = SpeedPositionFromCode(code);
        if (position >= 0)
            m_session.Info(FormatText(ROW_SPEED_NOW, SpeedLabel(position).c_str()));
        else
            m_session.Info(FormatText(ROW_SPEED_UNKNOWN, code));
        return ChipStatus::Done;
    }

    ChipStatus Erase() {
        if (m_session.AbortRequested())
            return ChipStatus::Aborted;
        m_session.Info(ROW_ERASING);
        m_result.identity.erased = true;
        if (!Programmer().EraseChip()) {
            Fail(ChipStatus::Failed, ROW_NOT_RESPONDING);
            m_session.Info(ROW_RECONNECT_LOWER);
            return ChipStatus::Failed;
        }
        m_session.Sleeper().Sleep(WAIT_ERASE_MS);
        m_session.Success(ROW_ERASED);
        return ChipStatus::Done;
    }

    ChipStatus ReadAndJudge() {
        const uint8_t* image = nullptr;
        if (m_job.action == ChipAction::Verify) {
            int32_t lastAddress = 0;
            if (m_job.source == nullptr ||
                !m_job.source->PrepareChip(m_result.chip, m_result.identity, m_port, image, lastAddress))
                return ChipStatus::Failed;
            m_result.length = lastAddress + 1;
        }
        const ChipStatus status = ReadFlash();
        if (status != ChipStatus::Done)
            return status;
        const uint8_t* flash = m_job.buffer;
        const int length = m_result.length;
        if (m_job.action == ChipAction::Read) {
            m_session.Info(FormatText(ROW_CHECKSUMS, Crc32(flash, static_cast<size_t>(length)),
                                      unsigned{Sum16(flash, static_cast<size_t>(length))}, length));
            return ChipStatus::Done;
        }
        for (int i = 0; i < length; ++i) {
            const uint8_t expected = image != nullptr ? image[i] : 0xFF;
            if (flash[i] != expected) {
                if (m_result.firstDifference < 0)
                    m_result.firstDifference = i;
                ++m_result.differences;
            }
        }
        const int first = m_result.firstDifference;
        if (image != nullptr) {
            if (first < 0) {
                m_session.Success(ROW_VERIFY_OK);
                return ChipStatus::Done;
            }
            const std::string difference = FormatText(ROW_MISMATCH_AT, static_cast<unsigned>(first),
                                                      unsigned{flash[first]}, unsigned{image[first]});
            Fail(ChipStatus::Mismatch, ROW_MISMATCH);
            m_result.identity.failure = std::string(ROW_MISMATCH) + " " + difference;
            m_session.Error(difference);
            m_session.Error(FormatText(ROW_DIFFERENCES, m_result.differences));
            return ChipStatus::Mismatch;
        }
        if (first < 0) {
            m_session.Success(ROW_BLANK);
            return ChipStatus::Done;
        }
        Fail(ChipStatus::NotBlank,
             FormatText(ROW_NOT_BLANK, static_cast<unsigned>(first), unsigned{flash[first]}));
        m_session.Error(FormatText(ROW_NOT_BLANK_COUNT, m_result.differences));
        return ChipStatus::NotBlank;
    }

    ChipStatus ReadFlash() {
        const int length = std::min(m_result.length, 65536);
        const int blocks = length / BLOCK;
        if (m_session.AbortRequested())
            return ChipStatus::Aborted;
        m_session.Info(STATUS_READING);
        m_port.Progress(0, blocks);
        for (int block = 0; block < blocks; ++block) {
            const int address = block * BLOCK;
            if (!Programmer().ReadBlock(static_cast<uint16_t>(address), m_job.buffer + address))
                return NotResponding();
            if (m_session.AbortRequested())
                return ChipStatus::Aborted;
            m_port.Progress(block + 1, blocks);
        }
        m_session.Success(ROW_READ_DONE);
        return ChipStatus::Done;
    }

    const ChipJob& m_job;
    IOperationPort& m_port;
    CChipSession m_session;
    ChipResult m_result;
};

} // namespace

ChipResult RunChipJob(const ChipJob& job, IOperationPort& port, ISleeper& sleeper) {
    CChipOperation operation(job, port, sleeper);
    return operation.Run();
}
