#include "ops/LogPort.h"

#include "ops/Format.h"
#include "ops/ImageSource.h"
#include "ops/ProductionLog.h"
#include "ops/ChipSession.h"
#include "ops/Texts.h"

void CProductionLogPort::CycleStarted(int cycle) {
    m_cycleStart = std::chrono::steady_clock::now();
    m_inner.CycleStarted(cycle);
}

ProductionRecord CycleRecord(const ProductionContext& context, const CycleReport& report,
                             int64_t durationMs) {
    ProductionRecord record;
    record.time = std::chrono::system_clock::now();
    record.host = HostName();
    record.version = context.version;
    record.programmerLocation = report.location;
    record.programmerProduct = report.product;
    record.signatureRead = report.signatureRead;
    std::copy(report.signature, report.signature + 3, record.signature);
    record.chip = ChipName(report.chip);
    record.chipRequested = context.chipRequested;
    if (const CFileImageSource* source = context.source) {
        record.filePath = source->Path();
        if (source->Loaded()) {
            record.fileSha256 = source->Sha256();
            record.fileCrc32 = source->Crc();
            record.fileSum16 = source->Sum();
        }
    }
    record.hasSerial = report.serial >= 0;
    record.serial = record.hasSerial ? static_cast<uint64_t>(report.serial) : 0;
    record.lockMode = report.lockMode;
    record.outcome = report.outcome;
    if (record.outcome == CycleOutcome::Failed)
        record.failure = report.failure;
    record.durationMs = durationMs;
    return record;
}

void CProductionLogPort::CycleEnded(const CycleReport& report) {
    const ProductionRecord record = CycleRecord(
        m_context, report,
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_cycleStart)
            .count());
    std::string error;
    if (!AppendProductionLog(m_context.logPath, ProductionLogLine(record), error)) {
        m_failed = true;
        m_inner.Row(RowKind::Error, FormatText(ROW_LOG_FAILED, error.c_str()));
    }
    m_inner.CycleEnded(report);
}

bool CProductionLogPort::Ask(Question question) {
    if (question == Question::WriteMore && m_failed)
        return false;
    return m_inner.Ask(question);
}
