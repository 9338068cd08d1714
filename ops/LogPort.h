#pragma once
// The production log as a presenter of the burn: every event goes on to the port it wraps, and the
// end of each chip cycle appends the cycle's line to the log. A line that cannot be written is an
// error row, and no further chip is asked for: a chip must not go unrecorded. A cycle whose PowerOff
// failed is recorded as failed with that row, as its exit status says.

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>
#include <string>

#include "ops/Port.h"
#include "ops/ProductionLog.h"

class CFileImageSource;

// What the log says of every line of one burn.
struct ProductionContext {
    std::string logPath; // the JSON log; empty: none (the sinks below may still record)
    std::string version;
    std::string chipRequested;                   // the catalogue name asked for, empty for none
    const CFileImageSource* source = nullptr;    // the file and its checksums
    std::vector<IRecordSink*> sinks{};           // further records (a database table), after the log
    const std::atomic<int32_t>* abort = nullptr; // ends a wait for another process's lock on the log
    std::string series{};                        // ISerialStore::Series() of the numbers given
};

// The log's record of a cycle that ends now, after durationMs (the command line's --json prints it too).
ProductionRecord CycleRecord(const ProductionContext& context, const CycleReport& report, int64_t durationMs);

class CProductionLogPort : public IOperationPort {
public:
    CProductionLogPort(IOperationPort& inner, ProductionContext context);

    void Row(RowKind kind, const std::string& text) override { m_inner.Row(kind, text); }
    void Progress(int done, int total) override { m_inner.Progress(done, total); }
    void CycleStarted(int cycle) override;
    void Identified(const CycleReport& report) override { m_inner.Identified(report); }
    void ChipVerified(int chipsWritten) override { m_inner.ChipVerified(chipsWritten); }
    void CycleEnded(const CycleReport& report) override;
    void Ended(Result ending) override { m_inner.Ended(ending); }
    void Message(const std::string& text, MsgIcon icon) override { m_inner.Message(text, icon); }
    void ChipAwaited() override { m_inner.ChipAwaited(); }
    void ChipRemoved() override { m_inner.ChipRemoved(); }
    bool Ask(Question question) override;

    // True once a line could not be written.
    bool Failed() const { return m_failed; }

private:
    IOperationPort& m_inner;
    ProductionContext m_context;
    std::unique_ptr<CJsonLogSink> m_json;
    std::vector<IRecordSink*> m_sinks;
    std::chrono::steady_clock::time_point m_cycleStart;
    bool m_failed = false;
};
