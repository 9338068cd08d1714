#pragma once
// The production log as a presenter of the burn: every event goes on to the port it wraps, and the
// end of each chip cycle appends the cycle's line to the log. A line that cannot be written is an
// error row, and no further chip is asked for: a chip must not go unrecorded.

#include <chrono>
#include <string>

#include "ops/Port.h"
#include "ops/ProductionLog.h"

class CFileImageSource;

// What the log says of every line of one burn.
struct ProductionContext {
    std::string logPath;
    std::string version;
    std::string chipRequested;                // the catalogue name asked for, empty for none
    const CFileImageSource* source = nullptr; // the file and its checksums
};

// The log's record of a cycle that ends now, after durationMs (the command line's --json prints it too).
ProductionRecord CycleRecord(const ProductionContext& context, const CycleReport& report, int64_t durationMs);

class CProductionLogPort : public IOperationPort {
public:
    CProductionLogPort(IOperationPort& inner, ProductionContext context)
        : m_inner(inner), m_context(std::move(context)) {}

    void Row(RowKind kind, const std::string& text) override { m_inner.Row(kind, text); }
    void Progress(int done, int total) override { m_inner.Progress(done, total); }
    void CycleStarted(int cycle) override;
    void Identified(const CycleReport& report) override { m_inner.Identified(report); }
    void ChipVerified(int chipsWritten) override { m_inner.ChipVerified(chipsWritten); }
    void CycleEnded(const CycleReport& report) override;
    void Ended(Ending ending) override { m_inner.Ended(ending); }
    void Message(const std::string& text, MsgIcon icon) override { m_inner.Message(text, icon); }
    bool Ask(Question question) override;

    // True once a line could not be written.
    bool Failed() const { return m_failed; }

private:
    IOperationPort& m_inner;
    ProductionContext m_context;
    std::chrono::steady_clock::time_point m_cycleStart;
    bool m_failed = false;
};
