#include "ops/LogPort.h"

#include "ops/Format.h"
#include "ops/ImageSource.h"
#include "ops/ProductionLog.h"
#include "ops/ChipSession.h"
#include "ops/Texts.h"

CProductionLogPort::CProductionLogPort(IOperationPort& inner, ProductionContext context)
    : m_inner(inner), m_context(std::move(context)) {
    if (!m_context.logPath.empty()) {
        m_json = std::make_unique<CJsonLogSink>(m_context.logPath);
        m_sinks.push_back(m_json.get());
    }
    for (IRecordSink* sink : m_context.sinks)
        if (sink != nullptr)
            m_sinks.push_back(sink);
}

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
    if (record.hasSerial)
        record.series = context.series;
    record.lockMode = report.lockMode;
    record.outcome = report.outcome;
    if (record.outcome == CycleOutcome::Failed)
        record.failure = report.failure;
    // The chip may be verified, but the target may still be powered: the run failed, and says so.
    if (report.powerOffFailed) {
        if (record.outcome == CycleOutcome::Verified)
            record.outcome = CycleOutcome::Failed;
        if (record.failure.empty())
            record.failure = ROW_POWER_OFF_FAILED;
    }
    record.durationMs = durationMs;
    return record;
}

void CProductionLogPort::CycleEnded(const CycleReport& report) {
    const ProductionRecord record = CycleRecord(
        m_context, report,
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_cycleStart)
            .count());
    for (IRecordSink* sink : m_sinks) {
        std::string error;
        if (!sink->Write(record, error, m_context.abort)) {
            m_failed = true;
            m_inner.Row(RowKind::Error, FormatText(ROW_LOG_FAILED, error.c_str()));
        }
    }
    m_inner.CycleEnded(report);
}

bool CProductionLogPort::Ask(Question question) {
    if (question == Question::WriteMore && m_failed)
        return false;
    return m_inner.Ask(question);
}
