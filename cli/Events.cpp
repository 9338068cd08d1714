#include "cli/Events.h"

#include <cerrno>

#include <unistd.h>

#include "image/FileIo.h"
#include "ops/ChipSession.h"

namespace {

std::string Clean(const std::string& text) {
    std::string clean = text;
    for (char& c : clean)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return clean;
}

const char* KindLetter(RowKind kind) {
    return kind == RowKind::Error ? "E" : kind == RowKind::Success ? "S" : "I";
}

} // namespace

// A line within PIPE_BUF goes into the pipe whole, also beside the abort's rows of the main thread.
void CEventWriterPort::Put(const std::string& line) {
    (void)WriteAll(m_fd, line + "\n");
}

void CEventWriterPort::Row(RowKind kind, const std::string& text) {
    Put(std::string("R\t") + KindLetter(kind) + "\t" + Clean(text));
    m_inner.Row(kind, text);
}

// A line per block would be thousands of writes per chip; the bench shows no more than the percentage.
void CEventWriterPort::Progress(int done, int total) {
    std::string percent = PercentText(done, total);
    if (done == 0 || percent != m_lastPercent)
        Put("P\t" + std::to_string(done) + "\t" + std::to_string(total));
    m_lastPercent = std::move(percent);
    m_inner.Progress(done, total);
}

void CEventWriterPort::CycleEnded(const CycleReport& report) {
    const char* outcome = CycleOutcomeName(report.outcome);
    const std::string chip = report.chip >= 0 ? ChipName(report.chip) : "-";
    Put(std::string("C\t") + outcome + "\t" + chip + "\t" +
        (report.serial >= 0 ? std::to_string(report.serial) : std::string("-")) + "\t" +
        Clean(report.failure));
    m_inner.CycleEnded(report);
}

void CEventWriterPort::Message(const std::string& text, MsgIcon icon) {
    Put(std::string("R\t") + (icon == MsgIcon::Error ? "E" : "I") + "\t" + Clean(text));
    m_inner.Message(text, icon);
}

RowKind RowKindOfLetter(const std::string& letter) {
    return letter == "E" ? RowKind::Error : letter == "S" ? RowKind::Success : RowKind::Information;
}

bool ParseWorkerEvent(const std::string& line, WorkerEvent& event) {
    if (line.size() < 2 || line[1] != '\t')
        return false;
    event.type = line[0];
    event.fields.clear();
    size_t from = 2;
    for (;;) {
        const size_t tab = line.find('\t', from);
        event.fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            break;
        from = tab + 1;
    }
    const size_t wanted = event.type == 'R' ? 2 : event.type == 'P' ? 2 : event.type == 'C' ? 4 : 0;
    return wanted > 0 && event.fields.size() >= wanted;
}
