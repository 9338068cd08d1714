#pragma once
// The burn dialog's progress bar as a value: the dialog moves it from the port's Progress(done,
// total) and shows its position and percentage, so that bar and label always agree.

#include <cstdint>
#include <string>

class CProgressModel {
public:
    CProgressModel() = default;
    CProgressModel(int lower, int upper, int step) : m_lower(lower), m_upper(upper), m_step(step) {}

    // Like the native bar: the position is kept inside lower..upper.
    void SetRange(int lower, int upper);
    void SetStep(int step) { m_step = step; }
    void SetPos(int pos);
    // Adds the step; a position past the upper bound starts over from the lower bound (and one below
    // the lower bound, for a negative step, from the upper bound). Returns the new position.
    int StepIt();

    int Lower() const { return m_lower; }
    int Upper() const { return m_upper; }
    int Pos() const { return m_pos; }
    int Step() const { return m_step; }

    // 100 * (pos - lower) / (upper - lower) with "%.1f"; "0.0" for an empty range.
    std::string PercentText() const;

private:
    int m_lower = 0;
    int m_upper = 100;
    int m_step = 10;
    int m_pos = 0;
};

constexpr int BURN_PROGRESS_STEP = 8;
// The burn's bar: 0 .. ((2 * lastAddress + 2) & 0xFFFF), that is 0 .. 2N, step 8.
CProgressModel BurnProgressModel(int32_t lastAddress);
// The upper bound of the burn's bar for a cycle of totalBlocks blocks (write and read-back), a
// block a step: 8 * totalBlocks, kept to 16 bits as the native bar keeps it.
int BurnProgressUpper(int totalBlocks);
