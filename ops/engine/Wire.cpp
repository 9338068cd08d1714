#include "ops/engine/Wire.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "chips/ChipCatalogue.h"
#include "image/FileIo.h"
#include "ops/ChipSession.h"

namespace {

// ---- the wire's names of the outcome vocabulary: kept here only, in both directions ----

const char* EndingName(Result ending) {
    // A burn ends done, aborted or failed; any other result is a failure on the wire.
    if (ending == Result::Done)
        return "done";
    return ending == Result::Aborted ? "aborted" : "failed";
}

bool EndingOfName(const std::string& name, Result& ending) {
    for (Result candidate : {Result::Done, Result::Failed, Result::Aborted})
        if (name == EndingName(candidate)) {
            ending = candidate;
            return true;
        }
    return false;
}

bool OutcomeOfName(const std::string& name, Result& outcome) {
    for (Result candidate : {Result::Done, Result::Failed, Result::Aborted})
        if (name == CycleOutcomeName(candidate)) {
            outcome = candidate;
            return true;
        }
    return false;
}

const char* KindLetter(RowKind kind) {
    return kind == RowKind::Error ? "E" : kind == RowKind::Success ? "S" : "I";
}

bool KindOfLetter(const std::string& letter, RowKind& kind) {
    if (letter == "E" || letter == "S" || letter == "I") {
        kind = letter == "E" ? RowKind::Error : letter == "S" ? RowKind::Success : RowKind::Information;
        return true;
    }
    return false;
}

const char* IconLetter(MsgIcon icon) {
    return icon == MsgIcon::Error ? "E" : icon == MsgIcon::Information ? "I" : "N";
}

bool IconOfLetter(const std::string& letter, MsgIcon& icon) {
    if (letter == "E" || letter == "I" || letter == "N") {
        icon = letter == "E" ? MsgIcon::Error : letter == "I" ? MsgIcon::Information : MsgIcon::None;
        return true;
    }
    return false;
}

// ---- fields ----

std::string Escape(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case '\t':
            escaped += "\\t";
            break;
        case '\n':
            escaped += "\\n";
            break;
        case '\r':
            escaped += "\\r";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool Unescape(const std::string& field, std::string& text) {
    text.clear();
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            text += field[i];
            continue;
        }
        if (++i == field.size())
            return false;
        const char c = field[i];
        if (c == '\\')
            text += '\\';
        else if (c == 't')
            text += '\t';
        else if (c == 'n')
            text += '\n';
        else if (c == 'r')
            text += '\r';
        else
            return false;
    }
    return true;
}

// A decimal number in [low, high], digits only (a leading '-' where low is negative).
bool ParseInt(const std::string& field, int64_t low, int64_t high, int64_t& value) {
    size_t i = 0;
    const bool negative = !field.empty() && field[0] == '-';
    if (negative)
        i = 1;
    if (i == field.size() || field.size() - i > 18)
        return false;
    int64_t magnitude = 0;
    for (; i < field.size(); ++i) {
        if (field[i] < '0' || field[i] > '9')
            return false;
        magnitude = magnitude * 10 + (field[i] - '0');
    }
    value = negative ? -magnitude : magnitude;
    return value >= low && value <= high;
}

bool ParseInt(const std::string& field, int low, int high, int& value) {
    int64_t wide = 0;
    if (!ParseInt(field, static_cast<int64_t>(low), static_cast<int64_t>(high), wide))
        return false;
    value = static_cast<int>(wide);
    return true;
}

bool ParseFlag(const std::string& field, bool& value) {
    if (field != "0" && field != "1")
        return false;
    value = field == "1";
    return true;
}

std::string SignatureField(const CycleReport& report) {
    if (!report.signatureRead)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%02X%02X%02X", report.signature[0], report.signature[1],
                  report.signature[2]);
    return text;
}

bool ParseSignature(const std::string& field, CycleReport& report) {
    report.signatureRead = field != "-";
    if (!report.signatureRead)
        return true;
    if (field.size() != 6)
        return false;
    for (int i = 0; i < 3; ++i) {
        unsigned value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = field[static_cast<size_t>(2 * i + k)];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return false;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        report.signature[i] = static_cast<uint8_t>(value);
    }
    return true;
}

constexpr size_t REPORT_FIELDS = 12;

std::string ReportFields(const CycleReport& report) {
    return std::to_string(report.cycle) + "\t" + CycleOutcomeName(report.outcome) + "\t" +
           Escape(report.failure) + "\t" + SignatureField(report) + "\t" +
           (report.chip >= 0 ? ChipName(report.chip) : "-") + "\t" + Escape(report.product) + "\t" +
           Escape(report.location) + "\t" + std::to_string(report.lockMode) + "\t" +
           (report.lockFailed ? "1" : "0") + "\t" + (report.erased ? "1" : "0") + "\t" +
           (report.serial >= 0 ? std::to_string(report.serial) : "-") + "\t" +
           (report.powerOffFailed ? "1" : "0");
}

// fields[0..11] as ReportFields writes them.
bool ParseReport(const std::vector<std::string>& fields, CycleReport& report, std::string& error) {
    report = CycleReport{};
    auto bad = [&error](const char* what) {
        error = std::string("bad ") + what;
        return false;
    };
    if (!ParseInt(fields[0], 0, 1000000000, report.cycle))
        return bad("cycle");
    if (!OutcomeOfName(fields[1], report.outcome))
        return bad("outcome");
    if (!Unescape(fields[2], report.failure))
        return bad("failure text");
    if (!ParseSignature(fields[3], report))
        return bad("signature");
    if (fields[4] == "-") {
        report.chip = -1;
    } else if ((report.chip = FindChipByName(fields[4])) < 0) {
        return bad("chip");
    }
    if (!Unescape(fields[5], report.product))
        return bad("product text");
    if (!Unescape(fields[6], report.location))
        return bad("location text");
    if (!ParseInt(fields[7], 0, 4, report.lockMode))
        return bad("lock mode");
    if (!ParseFlag(fields[8], report.lockFailed))
        return bad("lock flag");
    if (!ParseFlag(fields[9], report.erased))
        return bad("erase flag");
    if (fields[10] == "-")
        report.serial = -1;
    else if (!ParseInt(fields[10], int64_t{0}, int64_t{0xFFFFFFFF}, report.serial))
        return bad("serial");
    if (!ParseFlag(fields[11], report.powerOffFailed))
        return bad("PowerOff flag");
    return true;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
        const size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            return fields;
        from = tab + 1;
    }
}

} // namespace

std::string WireEscape(const std::string& text) {
    return Escape(text);
}
bool WireUnescape(const std::string& field, std::string& text) {
    return Unescape(field, text);
}

std::string WireHelloLine() {
    return "W\t" + std::to_string(WIRE_VERSION);
}
std::string WireRowLine(RowKind kind, const std::string& text) {
    return std::string("R\t") + KindLetter(kind) + "\t" + Escape(text);
}
std::string WireMessageLine(const std::string& text, MsgIcon icon) {
    return std::string("M\t") + IconLetter(icon) + "\t" + Escape(text);
}
std::string WireProgressLine(int done, int total) {
    return "P\t" + std::to_string(done) + "\t" + std::to_string(total);
}
std::string WireCycleStartedLine(int cycle) {
    return "S\t" + std::to_string(cycle);
}
std::string WireReportLine(WireType type, const CycleReport& report) {
    return std::string(type == WireType::Identified ? "I" : "C") + "\t" + ReportFields(report);
}
std::string WireChipVerifiedLine(int chipsWritten) {
    return "V\t" + std::to_string(chipsWritten);
}
std::string WireEndedLine(Result ending) {
    return std::string("E\t") + EndingName(ending);
}
std::string WireKeepAliveLine() {
    return "K";
}
std::string WireChipAwaitedLine() {
    return "A";
}
std::string WireChipRemovedLine() {
    return "X";
}

bool ParseWireLine(const std::string& line, WireEvent& event, std::string& error) {
    event = WireEvent{};
    if (line.empty()) {
        error = "an empty line";
        return false;
    }
    const std::vector<std::string> all = Split(line);
    const std::string& type = all[0];
    const std::vector<std::string> fields(all.begin() + 1, all.end());
    auto want = [&](size_t count) {
        if (fields.size() == count)
            return true;
        error =
            "'" + type + "' wants " + std::to_string(count) + " fields, not " + std::to_string(fields.size());
        return false;
    };
    auto bad = [&error, &type](const char* what) {
        error = "'" + type + "' has a bad " + what;
        return false;
    };
    if (type == "W") {
        event.type = WireType::Hello;
        return want(1) && (ParseInt(fields[0], 1, 1000000, event.version) || bad("version"));
    }
    if (type == "R" || type == "M") {
        event.type = type == "R" ? WireType::Row : WireType::Message;
        if (!want(2))
            return false;
        const bool kind =
            type == "R" ? KindOfLetter(fields[0], event.kind) : IconOfLetter(fields[0], event.icon);
        if (!kind)
            return bad("kind");
        return Unescape(fields[1], event.text) || bad("text");
    }
    if (type == "P") {
        event.type = WireType::Progress;
        return want(2) && ((ParseInt(fields[0], 0, 1 << 24, event.first) &&
                            ParseInt(fields[1], 0, 1 << 24, event.second) && event.first <= event.second) ||
                           bad("count"));
    }
    if (type == "S" || type == "V") {
        event.type = type == "S" ? WireType::CycleStarted : WireType::ChipVerified;
        return want(1) && (ParseInt(fields[0], 0, 1000000000, event.first) || bad("count"));
    }
    if (type == "I" || type == "C") {
        event.type = type == "I" ? WireType::Identified : WireType::CycleEnded;
        if (!want(REPORT_FIELDS))
            return false;
        std::string reason;
        if (!ParseReport(fields, event.report, reason)) {
            error = "'" + type + "' has a " + reason;
            return false;
        }
        return true;
    }
    if (type == "E") {
        event.type = WireType::Ended;
        return want(1) && (EndingOfName(fields[0], event.ending) || bad("ending"));
    }
    if (type == "K" || type == "A" || type == "X") {
        event.type = type == "K"   ? WireType::KeepAlive
                     : type == "A" ? WireType::ChipAwaited
                                   : WireType::ChipRemoved;
        return want(0);
    }
    error = "unknown event '" + type.substr(0, 16) + "'";
    return false;
}

void DeliverWireEvent(const WireEvent& event, IOperationPort& port) {
    switch (event.type) {
    case WireType::Row:
        port.Row(event.kind, event.text);
        break;
    case WireType::Message:
        port.Message(event.text, event.icon);
        break;
    case WireType::Progress:
        port.Progress(event.first, event.second);
        break;
    case WireType::CycleStarted:
        port.CycleStarted(event.first);
        break;
    case WireType::Identified:
        port.Identified(event.report);
        break;
    case WireType::ChipVerified:
        port.ChipVerified(event.first);
        break;
    case WireType::CycleEnded:
        port.CycleEnded(event.report);
        break;
    case WireType::Ended:
        port.Ended(event.ending);
        break;
    case WireType::ChipAwaited:
        port.ChipAwaited();
        break;
    case WireType::ChipRemoved:
        port.ChipRemoved();
        break;
    case WireType::Hello:
    case WireType::KeepAlive:
        break;
    }
}

// ---- the worker's side ----

CWireWriterPort::CWireWriterPort(IOperationPort* inner, int fd) : m_inner(inner), m_fd(fd) {
    Put(WireHelloLine());
}

void CWireWriterPort::Put(const std::string& line) {
    if (m_fd >= 0)
        (void)WriteAll(m_fd, line + "\n");
}

void CWireWriterPort::KeepAlive() {
    Put(WireKeepAliveLine());
}

void CWireWriterPort::Row(RowKind kind, const std::string& text) {
    Put(WireRowLine(kind, text));
    if (m_inner)
        m_inner->Row(kind, text);
}

void CWireWriterPort::Progress(int done, int total) {
    std::string percent = PercentText(done, total);
    if (done == 0 || percent != m_lastPercent)
        Put(WireProgressLine(done, total));
    m_lastPercent = std::move(percent);
    if (m_inner)
        m_inner->Progress(done, total);
}

void CWireWriterPort::CycleStarted(int cycle) {
    Put(WireCycleStartedLine(cycle));
    if (m_inner)
        m_inner->CycleStarted(cycle);
}

void CWireWriterPort::Identified(const CycleReport& report) {
    Put(WireReportLine(WireType::Identified, report));
    if (m_inner)
        m_inner->Identified(report);
}

void CWireWriterPort::ChipVerified(int chipsWritten) {
    Put(WireChipVerifiedLine(chipsWritten));
    if (m_inner)
        m_inner->ChipVerified(chipsWritten);
}

void CWireWriterPort::CycleEnded(const CycleReport& report) {
    Put(WireReportLine(WireType::CycleEnded, report));
    if (m_inner)
        m_inner->CycleEnded(report);
}

void CWireWriterPort::Ended(Result ending) {
    Put(WireEndedLine(ending));
    if (m_inner)
        m_inner->Ended(ending);
}

void CWireWriterPort::Message(const std::string& text, MsgIcon icon) {
    Put(WireMessageLine(text, icon));
    if (m_inner)
        m_inner->Message(text, icon);
}

void CWireWriterPort::ChipAwaited() {
    Put(WireChipAwaitedLine());
    if (m_inner)
        m_inner->ChipAwaited();
}

void CWireWriterPort::ChipRemoved() {
    Put(WireChipRemovedLine());
    if (m_inner)
        m_inner->ChipRemoved();
}

// ---- the engine's side ----

void CWireReader::Feed(const char* data, size_t size) {
    if (Broken())
        return;
    m_pending.append(data, size);
    size_t end;
    while (!Broken() && (end = m_pending.find('\n')) != std::string::npos) {
        const std::string line = m_pending.substr(0, end);
        m_pending.erase(0, end + 1);
        Take(line);
    }
    // No event is this long: a worker that writes without line ends is garbling, not reporting.
    constexpr size_t LONGEST = 64 * 1024;
    if (!Broken() && m_pending.size() > LONGEST)
        m_error = "a wire line longer than " + std::to_string(LONGEST) + " bytes";
}

void CWireReader::Finish() {
    if (!Broken() && !m_pending.empty())
        m_error = "a truncated wire line";
    m_pending.clear();
}

void CWireReader::Take(const std::string& line) {
    WireEvent event;
    std::string error;
    if (!ParseWireLine(line, event, error)) {
        m_error = "a garbled wire line: " + error;
        return;
    }
    if (!m_hello) {
        if (event.type != WireType::Hello) {
            m_error = "a wire without its version line";
            return;
        }
        if (event.version != WIRE_VERSION) {
            m_error =
                "wire version " + std::to_string(event.version) + ", not " + std::to_string(WIRE_VERSION);
            return;
        }
        m_hello = true;
        return;
    }
    if (event.type == WireType::Hello) {
        m_error = "a second version line";
        return;
    }
    if (event.type == WireType::CycleEnded) {
        m_cycleEnded = true;
        m_report = event.report;
    } else if (event.type == WireType::Ended) {
        m_ended = true;
        m_ending = event.ending;
    }
    DeliverWireEvent(event, m_port);
}
