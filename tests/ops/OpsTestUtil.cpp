#include "OpsTestUtil.h"

#include <ostream>

namespace opstest {

std::ostream& operator<<(std::ostream& os, const Req& r) {
    return os << "{" << r.request << ", " << r.value << "}";
}

std::vector<Req> VendorRequests(const sim::CSimBus& bus) {
    std::vector<Req> requests;
    for (const sim::TranscriptEntry& e : bus.Transcript())
        if ((e.requestType & 0x60) == 0x40)
            requests.push_back({e.request, e.value});
    return requests;
}

std::string RowText(RowKind kind, const std::string& text) {
    const char* mark = kind == RowKind::Information ? "I " : kind == RowKind::Error ? "E " : "S ";
    return mark + text;
}

std::string MessageText(const std::string& text, MsgIcon icon) {
    return (icon == MsgIcon::Error ? "error: " : icon == MsgIcon::Information ? "info: " : "plain: ") + text;
}

std::string EndingText(Result ending) {
    return ending == Result::Done ? "done" : ending == Result::Aborted ? "aborted" : "failed";
}

std::string OutcomeText(Result outcome) {
    return outcome == Result::Done ? "verified" : outcome == Result::Aborted ? "aborted" : "failed";
}

void CEventRecorder::Add(const std::string& entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(entry);
}

void CEventRecorder::Row(RowKind kind, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rows.push_back(RowText(kind, text));
    m_log.push_back(RowText(kind, text));
}

void CEventRecorder::Progress(int done, int total) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (done == 0) {
            ++m_phaseStarts;
            return;
        }
        m_progress.emplace_back(done, total);
    }
    if (m_onProgress)
        m_onProgress(done);
}

void CEventRecorder::CycleStarted(int) {
    Add("cycle start");
}

void CEventRecorder::ChipVerified(int chipsWritten) {
    Add("verified " + std::to_string(chipsWritten));
}

void CEventRecorder::CycleEnded(const CycleReport& report) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.push_back(report);
    m_log.push_back("cycle end " + OutcomeText(report.outcome));
}

void CEventRecorder::Ended(Result ending) {
    Add("ended " + EndingText(ending));
}

void CEventRecorder::Message(const std::string& text, MsgIcon icon) {
    Add(MessageText(text, icon));
}

bool CEventRecorder::Ask(Question question) {
    int asked;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        asked = ++m_asked;
        m_log.push_back(question == Question::WriteMore ? "ask"
                                                        : std::string("ask: ") + QuestionText(question));
    }
    if (m_onAsk)
        m_onAsk(asked);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_answers.empty())
        return false;
    const bool yes = m_answers.front();
    m_answers.pop_front();
    return yes;
}

std::vector<std::string> CEventRecorder::Rows() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rows;
}

std::vector<std::string> CEventRecorder::Log() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

std::vector<std::pair<int, int>> CEventRecorder::Progress() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progress;
}

int CEventRecorder::PhaseStarts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_phaseStarts;
}

std::vector<CycleReport> CEventRecorder::Reports() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
}

int CEventRecorder::Asked() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_asked;
}

std::vector<uint8_t> PatternImage(int size, unsigned seed) {
    std::vector<uint8_t> image(static_cast<size_t>(size), 0xFF);
    unsigned x = seed * 2654435761u + 12345u;
    for (int a = 0; a < size; ++a) {
        x = x * 1103515245u + 12345u;
        if ((a / 8) % 5 != 4)
            image[static_cast<size_t>(a)] = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

sim::DeviceConfig Chip(int chip) {
    sim::DeviceConfig config;
    config.chip = chip;
    config.instantTimeouts = true;
    return config;
}

} // namespace opstest
