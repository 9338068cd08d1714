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

void CBurnRecorder::Log(const std::string& entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(entry);
}

void CBurnRecorder::AddRow(RowKind kind, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rows.push_back(RowText(kind, text));
    m_log.push_back(RowText(kind, text));
}

void CBurnRecorder::SetProgress(int position, const std::string& percentText) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_progress.emplace_back(position, percentText);
    }
    if (m_onProgress)
        m_onProgress(position);
}

void CBurnRecorder::SetProgressPosition(int position) {
    Log("position " + std::to_string(position));
}

void CBurnRecorder::SetChipsWritten(const std::string& text) {
    Log("label " + text);
}

bool CBurnRecorder::AskWriteMore() {
    int question;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        question = ++m_asked;
        m_log.push_back("ask");
    }
    if (m_onAsk)
        m_onAsk(question);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_answers.empty())
        return false;
    const bool yes = m_answers.front();
    m_answers.pop_front();
    return yes;
}

std::vector<std::string> CBurnRecorder::Rows() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rows;
}

std::vector<std::string> CBurnRecorder::Log() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

std::vector<std::pair<int, std::string>> CBurnRecorder::Progress() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progress;
}

int CBurnRecorder::Asked() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_asked;
}

static std::string IconText(MsgIcon icon) {
    return icon == MsgIcon::Error ? "error: " : icon == MsgIcon::Information ? "info: " : "plain: ";
}

void CMessageRecorder::ShowMessage(const std::string& text, MsgIcon icon) {
    m_shown.push_back(IconText(icon) + text);
}

bool CMessageRecorder::AskYesNo(const std::string& text) {
    m_shown.push_back("ask: " + text);
    if (m_answers.empty())
        return false;
    const bool yes = m_answers.front();
    m_answers.pop_front();
    return yes;
}

void CReadRecorder::Add(const std::string& entry) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(entry);
}

void CReadRecorder::ShowMessage(const std::string& text, MsgIcon icon) {
    Add(IconText(icon) + text);
}
void CReadRecorder::SetStatus(const std::string& text) {
    Add("status " + text);
}
void CReadRecorder::EnableClose(bool enable) {
    Add(enable ? "close on" : "close off");
}
void CReadRecorder::EnableAbort(bool enable) {
    Add(enable ? "abort on" : "abort off");
}
void CReadRecorder::StopAnimation() {
    Add("stop animation");
}

void CReadRecorder::StepProgress(int position) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_positions.push_back(position);
    }
    if (m_onProgress)
        m_onProgress(position);
}

std::vector<std::string> CReadRecorder::Log() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

std::vector<int> CReadRecorder::Positions() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_positions;
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
