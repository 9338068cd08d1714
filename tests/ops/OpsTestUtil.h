#pragma once
// What the device-sequence tests share: a recorder of the operation port, the simulator's vendor
// requests as (request, value) pairs, and images to burn.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "chips/ChipCatalogue.h"
#include "ops/Burn.h"
#include "ops/FlashRead.h"
#include "sim/SimApi.h"

namespace opstest {

// Vendor request numbers, as the device sees them.
enum : int {
    R_POWER_ON = 5,
    R_POWER_OFF = 6,
    R_READ_BLOCK = 7,
    R_WRITE_BLOCK = 8,
    R_SIGNATURE = 9,
    R_ERASE = 10,
    R_TEST = 11,
    R_LOCK1 = 12,
    R_LOCK2 = 13,
    R_LOCK3 = 14,
    R_LOCK4 = 15,
    R_LOCK_BITS = 16,
    R_SET_SPEED = 17,
    R_GET_SPEED = 18,
};

struct Req {
    int request;
    int value;
    bool operator==(const Req&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Req& r);

// The vendor requests (type 0x40 or 0xC0) of every device, in order, whatever their result.
std::vector<Req> VendorRequests(const sim::CSimBus& bus);

// A row as "I text", "E text" or "S text".
std::string RowText(RowKind kind, const std::string& text);
// A message box as "info: text", "error: text" or "plain: text".
std::string MessageText(const std::string& text, MsgIcon icon);

// An ending or a cycle's outcome as a word: "done", "failed", "aborted"; "verified".
std::string EndingText(Result ending);
std::string OutcomeText(Result outcome);

// Records everything an operation reports; thread-safe. The hooks (optional) run on the operation's
// thread. The log holds, in order: rows ("I text", "E text", "S text"), "cycle start", "verified N",
// "cycle end OUTCOME", "ask", message boxes ("info: text", "error: text") and "ended ENDING"; the
// progress is kept apart.
class CEventRecorder : public IOperationPort {
public:
    void Row(RowKind kind, const std::string& text) override;
    void Progress(int done, int total) override;
    void CycleStarted(int cycle) override;
    void ChipVerified(int chipsWritten) override;
    void CycleEnded(const CycleReport& report) override;
    void Ended(Result ending) override;
    void Message(const std::string& text, MsgIcon icon) override;
    bool Ask(Question question) override;

    std::vector<std::string> Rows() const;
    std::vector<std::string> Log() const;
    // The steps, (done, total), one per block moved; the starts of block phases are not among them.
    std::vector<std::pair<int, int>> Progress() const;
    int PhaseStarts() const; // Progress(0, total) events
    std::vector<CycleReport> Reports() const;
    int Asked() const;

    // Answers to the questions in order; No once they run out. The hook runs before answering.
    std::deque<bool> m_answers;
    std::function<void(int question)> m_onAsk;
    // Runs after each step with its done count.
    std::function<void(int done)> m_onProgress;

private:
    void Add(const std::string& entry);
    mutable std::mutex m_mutex;
    std::vector<std::string> m_rows;
    std::vector<std::string> m_log;
    std::vector<std::pair<int, int>> m_progress;
    std::vector<CycleReport> m_reports;
    int m_phaseStarts = 0;
    int m_asked = 0;
};

// Deterministic bytes of a firmware image with blank blocks in between (every fifth block).
std::vector<uint8_t> PatternImage(int size, unsigned seed);

// The simulator's chip: a configuration for catalogue index chip.
sim::DeviceConfig Chip(int chip);

} // namespace opstest
