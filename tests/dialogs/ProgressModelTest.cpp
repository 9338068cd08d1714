// The burn dialog's progress bar as a value, without a window.

#include <gtest/gtest.h>

#include "chips/ChipCatalogue.h"
#include "ops/dlg/ProgressModel.h"

TEST(ProgressModel, BurnRangeIsTwiceTheFlashWithStepEight) {
    for (const ChipInfo& chip : g_chipCatalogue) {
        const CProgressModel bar = BurnProgressModel(chip.flashSize - 1);
        EXPECT_EQ(bar.Lower(), 0);
        EXPECT_EQ(bar.Upper(), 2 * chip.flashSize) << chip.name;
        EXPECT_EQ(bar.Step(), 8);
        EXPECT_EQ(bar.Pos(), 0);
    }
}

TEST(ProgressModel, StepsFillTheBarAndStartOverPastTheTop) {
    CProgressModel bar = BurnProgressModel(4095); // 0..8192
    for (int i = 0; i < 512; ++i)
        bar.StepIt();
    EXPECT_EQ(bar.Pos(), 4096);
    EXPECT_EQ(bar.PercentText(), "50.0");
    for (int i = 0; i < 512; ++i)
        bar.StepIt();
    EXPECT_EQ(bar.Pos(), 8192);
    EXPECT_EQ(bar.PercentText(), "100.0");
    // The next chip's first step starts the bar over from the bottom.
    EXPECT_EQ(bar.StepIt(), 0);
    EXPECT_EQ(bar.PercentText(), "0.0");
    EXPECT_EQ(bar.StepIt(), 8);
    EXPECT_EQ(bar.PercentText(), "0.1");
}

TEST(ProgressModel, PercentIsRelativeToTheLowerBoundAndSetPosStaysInRange) {
    CProgressModel bar(100, 300, 8);
    bar.SetPos(150);
    EXPECT_EQ(bar.PercentText(), "25.0");
    bar.SetPos(1000);
    EXPECT_EQ(bar.Pos(), 300);
    bar.SetPos(-5);
    EXPECT_EQ(bar.Pos(), 100);
    CProgressModel empty(0, 0, 8);
    EXPECT_EQ(empty.PercentText(), "0.0"); // no division by zero
}

// A cycle reports its write and read-back blocks together: 2N / 8 blocks, a step of 8 each, on a bar
// that keeps to 16 bits as the native one does.
TEST(ProgressModel, TheRangeOfACycleComesFromItsBlocks) {
    for (const ChipInfo& chip : g_chipCatalogue)
        EXPECT_EQ(BurnProgressUpper(2 * chip.flashSize / 8), BurnProgressModel(chip.flashSize - 1).Upper())
            << chip.name;
    EXPECT_EQ(BurnProgressUpper(1024), 8192);
    EXPECT_EQ(BurnProgressUpper(8192), 0); // 64 KiB twice: 0x20000 kept to 16 bits
    EXPECT_EQ(BurnProgressUpper(0), 0);
}
