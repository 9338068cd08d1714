#pragma once
// The road from a gang's worker (one veltro51-cli per programmer, started by burn --all) to the
// process that shows the bench: the worker's events as lines on a pipe, one event a line, fields
// separated by tabs, written whole with one write each.
//   R <kind I|E|S> <text>                       a row
//   P <done> <total>                            progress
//   C <outcome verified|failed|aborted> <chip> <serial|-> <failure>   a chip cycle ended
// Texts have their tabs and line ends replaced by blanks.

#include <string>
#include <vector>

#include "ops/Port.h"

// Forwards every event to inner and writes it to fd. Used on one thread at a time (the port's
// contract); a write that fails is dropped, as the reader may have gone.
class CEventWriterPort : public IOperationPort {
public:
    CEventWriterPort(IOperationPort& inner, int fd) : m_inner(inner), m_fd(fd) {}

    void Row(RowKind kind, const std::string& text) override;
    void Progress(int done, int total) override;
    void CycleStarted(int cycle) override { m_inner.CycleStarted(cycle); }
    void Identified(const CycleReport& report) override { m_inner.Identified(report); }
    void ChipVerified(int chipsWritten) override { m_inner.ChipVerified(chipsWritten); }
    void CycleEnded(const CycleReport& report) override;
    void Ended(Result ending) override { m_inner.Ended(ending); }
    void Message(const std::string& text, MsgIcon icon) override;
    bool Ask(Question question) override { return m_inner.Ask(question); }

private:
    void Put(const std::string& line);
    IOperationPort& m_inner;
    int m_fd;
    std::string m_lastPercent; // of the last P line
};

// One event line, split.
struct WorkerEvent {
    char type = 0; // 'R', 'P', 'C'
    std::vector<std::string> fields;
};
bool ParseWorkerEvent(const std::string& line, WorkerEvent& event);
// The kind of an R event's row, from its first field.
RowKind RowKindOfLetter(const std::string& letter);
