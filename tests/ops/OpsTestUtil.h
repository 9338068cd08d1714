#pragma once
// What the device-sequence tests share: recorders for the sequences' interfaces, the simulator's
// vendor requests as (request, value) pairs, and images to burn.

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

// Records everything the burn worker reports; thread-safe. The hooks (optional) run on the worker.
class CBurnRecorder : public IBurnUi {
public:
    void AddRow(RowKind kind, const std::string& text) override;
    void SetProgress(int position, const std::string& percentText) override;
    void SetProgressPosition(int position) override;
    void SetChipsWritten(const std::string& text) override;
    void StartElapsedTimer() override { Log("timer start"); }
    void StopElapsedTimer() override { Log("timer stop"); }
    void FinishTask() override { Log("finish"); }
    bool AskWriteMore() override;

    std::vector<std::string> Rows() const;
    std::vector<std::string> Log() const; // rows and every other call except progress, in order
    std::vector<std::pair<int, std::string>> Progress() const;
    int Asked() const;

    // Answers to "Write More Chips ?" in order; No once they run out. The hook runs before answering.
    std::deque<bool> m_answers;
    std::function<void(int question)> m_onAsk;
    std::function<void(int position)> m_onProgress;

private:
    void Log(const std::string& entry);
    mutable std::mutex m_mutex;
    std::vector<std::string> m_rows;
    std::vector<std::string> m_log;
    std::vector<std::pair<int, std::string>> m_progress;
    int m_asked = 0;
};

// Message boxes as "info: text", "error: text" or "ask: text"; questions answered from m_answers.
class CMessageRecorder : public IMessageSink {
public:
    void ShowMessage(const std::string& text, MsgIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    std::vector<std::string> m_shown;
    std::deque<bool> m_answers;
};

class CReadRecorder : public IReadUi {
public:
    void ShowMessage(const std::string& text, MsgIcon icon) override;
    void SetStatus(const std::string& text) override;
    void EnableClose(bool enable) override;
    void EnableAbort(bool enable) override;
    void StepProgress(int position) override;
    void StopAnimation() override;

    std::vector<std::string> Log() const; // every call but progress, in order
    std::vector<int> Positions() const;
    std::function<void(int position)> m_onProgress;

private:
    void Add(const std::string& entry);
    mutable std::mutex m_mutex;
    std::vector<std::string> m_log;
    std::vector<int> m_positions;
};

// Deterministic bytes of a firmware image with blank blocks in between (every fifth block).
std::vector<uint8_t> PatternImage(int size, unsigned seed);

// The simulator's chip: a configuration for catalogue index chip.
sim::DeviceConfig Chip(int chip);

} // namespace opstest
