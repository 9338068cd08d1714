#include "ops/dlg/ProgressModel.h"

#include <cstdio>

#include "ops/Texts.h"

void CProgressModel::SetRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
    SetPos(m_pos);
}

void CProgressModel::SetPos(int pos) {
    if (pos < m_lower)
        pos = m_lower;
    if (pos > m_upper)
        pos = m_upper;
    m_pos = pos;
}

int CProgressModel::StepIt() {
    const long long next = static_cast<long long>(m_pos) + m_step;
    if (next > m_upper)
        m_pos = m_lower;
    else if (next < m_lower)
        m_pos = m_upper;
    else
        m_pos = static_cast<int>(next);
    return m_pos;
}

std::string CProgressModel::PercentText() const {
    const double span = static_cast<double>(m_upper) - m_lower;
    const double percent = span > 0 ? 100.0 * (static_cast<double>(m_pos) - m_lower) / span : 0.0;
    char text[32];
    std::snprintf(text, sizeof text, PERCENT_FORMAT, percent);
    return text;
}

CProgressModel BurnProgressModel(int32_t lastAddress) {
    const int upper = static_cast<int>((2 * static_cast<int64_t>(lastAddress) + 2) & 0xFFFF);
    return CProgressModel(0, upper, BURN_PROGRESS_STEP);
}

int BurnProgressUpper(int totalBlocks) {
    return static_cast<int>((static_cast<int64_t>(totalBlocks) * BURN_PROGRESS_STEP) & 0xFFFF);
}
