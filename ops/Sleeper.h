#pragma once
// The pauses that pace the device sequences. The sequences never sleep by themselves: they ask an
// ISleeper, so that the dialogs and the command-line tool wait for real while the tests only record
// the waits and run in milliseconds.

#include <cstdint>
#include <functional>
#include <vector>

class ISleeper {
public:
    virtual ~ISleeper() = default;
    // Blocks the calling thread for ms milliseconds (0 or less: returns at once).
    virtual void Sleep(int ms) = 0;
};

// Sleeps for real, without busy waiting. Counts what it was asked for and how long it really slept,
// so that a caller can tell the mandated waits from the time spent beyond them. One thread at a time.
class CRealSleeper : public ISleeper {
public:
    void Sleep(int ms) override;
    int64_t RequestedMs() const { return m_requestedMs; }
    int64_t SleptNs() const { return m_sleptNs; } // requested plus the scheduler's lateness

private:
    int64_t m_requestedMs = 0;
    int64_t m_sleptNs = 0;
};

// Returns at once and records each wait in order. The hook (optional) runs inside Sleep, on the
// sequence's thread, with the wait and its index: tests use it to act at a known point of a sequence.
class CRecordingSleeper : public ISleeper {
public:
    void Sleep(int ms) override;
    const std::vector<int>& Waits() const { return m_waits; }
    int64_t TotalMs() const;

    std::function<void(int ms, size_t index)> m_onSleep;

private:
    std::vector<int> m_waits;
};
