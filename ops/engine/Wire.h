#pragma once
// The bench's wire: every event of the operation port, from a worker process to the engine, one
// event a line on a pipe, fields separated by tabs, each line written whole with one write (a line
// within PIPE_BUF is never torn apart by another writer of the same pipe). Texts keep every
// character: a backslash, a tab, a line end and a carriage return travel as \\, \t, \n and \r.
//
// The first line names the wire's version ("W\t2"); a reader refuses lines of another version, so
// that a worker of another build is a failed socket with a reason, not a misread one. The events and
// their fields are the README's table ("The bench's wire").

#include <string>

#include "ops/Port.h"

// 2: the watch events ChipAwaited and ChipRemoved.
constexpr int WIRE_VERSION = 2;

enum class WireType {
    Hello,        // W version
    Row,          // R kind text
    Message,      // M icon text
    Progress,     // P done total
    CycleStarted, // S cycle
    Identified,   // I report
    ChipVerified, // V chipsWritten
    CycleEnded,   // C report
    Ended,        // E ending
    KeepAlive,    // K: the worker is alive, nothing happened
    ChipAwaited,  // A
    ChipRemoved,  // X
};

struct WireEvent {
    WireType type = WireType::KeepAlive;
    int version = 0;                     // Hello
    RowKind kind = RowKind::Information; // Row
    MsgIcon icon = MsgIcon::None;        // Message
    std::string text;                    // Row, Message
    int first = 0, second = 0;           // Progress: done, total; CycleStarted: cycle; ChipVerified: chips
    CycleReport report;                  // Identified, CycleEnded
    Result ending = Result::Failed;      // Ended
};

// The line of an event, without its line end.
std::string WireHelloLine();
std::string WireRowLine(RowKind kind, const std::string& text);
std::string WireMessageLine(const std::string& text, MsgIcon icon);
std::string WireProgressLine(int done, int total);
std::string WireCycleStartedLine(int cycle);
std::string WireReportLine(WireType type, const CycleReport& report); // Identified or CycleEnded
std::string WireChipVerifiedLine(int chipsWritten);
std::string WireEndedLine(Result ending);
std::string WireKeepAliveLine();
std::string WireChipAwaitedLine();
std::string WireChipRemovedLine();

// One line (without its line end) into event; false with the reason in error for a line that is
// not a whole event of this wire: an unknown type, a field missing or left over, a number out of
// range, a bad escape, a name the wire does not know.
bool ParseWireLine(const std::string& line, WireEvent& event, std::string& error);

// A text as a field of the wire (and of a worker's job), and back; false for a bad escape.
std::string WireEscape(const std::string& text);
bool WireUnescape(const std::string& field, std::string& text);

// Hands an event to a port as the worker's own port got it (Hello and KeepAlive: nothing).
void DeliverWireEvent(const WireEvent& event, IOperationPort& port);

// Forwards every event to inner (when given) and writes it to fd: the worker's side. The Hello line
// goes out first. Used on the operation's thread and, for the abort's rows, on the main thread:
// each line is one write. A write that fails is dropped: the reader may have gone, and the chip's
// safe ending matters more than its report.
class CWireWriterPort : public IOperationPort {
public:
    CWireWriterPort(IOperationPort* inner, int fd);

    void Row(RowKind kind, const std::string& text) override;
    void Progress(int done, int total) override;
    void CycleStarted(int cycle) override;
    void Identified(const CycleReport& report) override;
    void ChipVerified(int chipsWritten) override;
    void CycleEnded(const CycleReport& report) override;
    void Ended(Result ending) override;
    void Message(const std::string& text, MsgIcon icon) override;
    void ChipAwaited() override;
    void ChipRemoved() override;
    bool Ask(Question question) override { return m_inner != nullptr && m_inner->Ask(question); }

    // The keep-alive line, from any thread.
    void KeepAlive();

private:
    void Put(const std::string& line);
    IOperationPort* m_inner;
    int m_fd;
    std::string m_lastPercent; // of the last progress line: one line per percentage, not per block
};

// Splits a byte stream into lines and parses them: the engine's side. Feed what was read; each
// whole line is parsed and delivered. After a line that is not an event, or an event of another
// wire version, the reader is Broken() with the reason, and takes nothing more.
class CWireReader {
public:
    explicit CWireReader(IOperationPort& port) : m_port(port) {}

    void Feed(const char* data, size_t size);
    // The end of the stream: a line left without its end is a truncated line (Broken).
    void Finish();

    bool Broken() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }
    // What came so far.
    bool SawCycleEnded() const { return m_cycleEnded; }
    const CycleReport& LastReport() const { return m_report; }
    bool SawEnded() const { return m_ended; }
    Result LastEnding() const { return m_ending; }

private:
    void Take(const std::string& line);
    IOperationPort& m_port;
    std::string m_pending;
    std::string m_error;
    bool m_hello = false;
    bool m_cycleEnded = false;
    CycleReport m_report;
    bool m_ended = false;
    Result m_ending = Result::Failed;
};
