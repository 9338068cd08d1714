#include "ops/Sleeper.h"

#include <chrono>
#include <thread>

void CRealSleeper::Sleep(int ms) {
    if (ms <= 0)
        return;
    m_requestedMs += ms;
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    m_sleptNs +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
            .count();
}

void CRecordingSleeper::Sleep(int ms) {
    m_waits.push_back(ms);
    if (m_onSleep)
        m_onSleep(ms, m_waits.size() - 1);
}

int64_t CRecordingSleeper::TotalMs() const {
    int64_t total = 0;
    for (int ms : m_waits)
        total += ms;
    return total;
}
