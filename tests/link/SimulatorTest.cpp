// The simulated programmer's own model, driven through CProgrammer and the real libusb-0.1.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "chips/ChipCatalogue.h"
#include "link/Programmer.h"
#include "sim/SimApi.h"
#include "sim/SimOptions.h"

using sim::CSimBus;
using sim::DeviceConfig;
using sim::FailKind;
using sim::TranscriptEntry;

namespace {

constexpr int AT89S52 = 3;

DeviceConfig Chip(int chip = AT89S52) {
    DeviceConfig config;
    config.chip = chip;
    config.instantTimeouts = true;
    return config;
}

std::vector<uint8_t> Block(uint8_t value) {
    return std::vector<uint8_t>(8, value);
}

class SimTest : public ::testing::Test {
protected:
    void Plug(const DeviceConfig& config = Chip()) {
        m_device = m_bus.Add(config);
        ASSERT_TRUE(m_programmer.Open());
    }
    std::vector<uint8_t> Read(uint16_t address) {
        std::vector<uint8_t> block(8, 0);
        EXPECT_TRUE(m_programmer.ReadBlock(address, block.data()));
        return block;
    }
    bool Write(uint16_t address, const std::vector<uint8_t>& block) {
        return m_programmer.WriteBlock(address, block.data(), static_cast<int>(block.size()));
    }

    CSimBus m_bus;
    CProgrammer m_programmer;
    int m_device = -1;
};

TEST_F(SimTest, EachChipAnswersItsCatalogueSignatureAndAnEmptySocketAnswersFF) {
    for (int chip = -1; chip < CHIP_COUNT; ++chip) {
        SCOPED_TRACE(chip);
        CSimBus bus;
        const int device = bus.Add(Chip(chip));
        CProgrammer programmer;
        ASSERT_TRUE(programmer.Open());
        ASSERT_TRUE(programmer.ReadSignature());
        const uint8_t* signature = programmer.GetSignature();
        for (int i = 0; i < 3; ++i) {
            const uint32_t expected =
                chip < 0 ? 0xFF : g_chipCatalogue[static_cast<size_t>(chip)].signature[i];
            EXPECT_EQ(signature[i], expected);
        }
        const size_t size =
            chip < 0 ? 0 : static_cast<size_t>(g_chipCatalogue[static_cast<size_t>(chip)].flashSize);
        EXPECT_EQ(bus.State(device).flash, std::vector<uint8_t>(size, 0xFF)) << "a new chip is erased";
    }
}

TEST_F(SimTest, ProgrammingOnlyClearsBitsAndEraseSetsEveryByte) {
    Plug();
    ASSERT_TRUE(Write(0x0010, Block(0x3C)));
    ASSERT_TRUE(Write(0x0010, Block(0xF0)));
    EXPECT_EQ(Read(0x0010), Block(0x30));
    EXPECT_EQ(Read(0x0018), Block(0xFF)) << "neighbours untouched";

    ASSERT_TRUE(m_programmer.WriteLockMode(2));
    ASSERT_TRUE(m_programmer.EraseChip());
    const sim::DeviceState state = m_bus.State(m_device);
    EXPECT_EQ(state.flash, std::vector<uint8_t>(8192, 0xFF));
    EXPECT_EQ(state.lockMode, 1) << "erase clears the lock bits";
    EXPECT_EQ(m_programmer.ReadLockBits(), 0x00);
}

TEST_F(SimTest, LockModesShowInTheStatusByteAndProtectTheFlash) {
    struct Case {
        int mode;
        uint8_t status;
        bool programmable;
        bool readable;
    };
    const Case cases[] = {
        {1, 0x00, true, true},
        {2, 0x04, false, true},
        {3, 0x0C, false, false},
        {4, 0x1C, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        CSimBus bus;
        const int device = bus.Add(Chip());
        std::vector<uint8_t> content(8192, 0xFF);
        content[0x20] = 0x12;
        bus.SetFlash(device, content);
        CProgrammer programmer;
        ASSERT_TRUE(programmer.Open());
        ASSERT_TRUE(programmer.WriteLockMode(c.mode));
        EXPECT_EQ(programmer.ReadLockBits(), c.status);

        const uint8_t zeros[8] = {};
        ASSERT_TRUE(programmer.WriteBlock(0x0100, zeros, 8)) << "the request itself succeeds";
        EXPECT_EQ(bus.State(device).flash[0x100], c.programmable ? 0x00 : 0xFF);

        uint8_t block[8];
        ASSERT_TRUE(programmer.ReadBlock(0x0020, block));
        EXPECT_EQ(block[0] == 0x12 && block[1] == 0xFF, c.readable);
    }
}

TEST_F(SimTest, LockBitsAreOnlyEverProgrammed) {
    Plug();
    ASSERT_TRUE(m_programmer.WriteLockMode(3));
    ASSERT_TRUE(m_programmer.WriteLockMode(2));
    ASSERT_TRUE(m_programmer.WriteLockMode(1));
    EXPECT_EQ(m_programmer.ReadLockBits(), 0x0C);
    EXPECT_EQ(m_bus.State(m_device).lockMode, 3);
}

TEST_F(SimTest, AnEmptySocketReadsFFAndTakesNothing) {
    Plug(Chip(-1));
    EXPECT_TRUE(Write(0, Block(0x00)));
    EXPECT_EQ(Read(0), Block(0xFF));
    EXPECT_TRUE(m_programmer.EraseChip());
    EXPECT_TRUE(m_bus.State(m_device).flash.empty());
}

TEST_F(SimTest, TheDeviceKeepsItsStateForTheNextConnection) {
    Plug();
    ASSERT_TRUE(Write(0x1FF8, Block(0x5A)));
    ASSERT_TRUE(m_programmer.SetSpeed(3));
    ASSERT_TRUE(m_programmer.WriteLockMode(2));
    ASSERT_TRUE(m_programmer.PowerOn());
    EXPECT_TRUE(m_bus.State(m_device).powered);
    ASSERT_TRUE(m_programmer.PowerOff());
    m_programmer.Close();

    CProgrammer later;
    ASSERT_TRUE(later.Open());
    uint8_t block[8];
    ASSERT_TRUE(later.ReadBlock(0x1FF8, block));
    EXPECT_EQ(std::vector<uint8_t>(block, block + 8), Block(0x5A));
    EXPECT_EQ(later.GetSpeed(), 3);
    EXPECT_EQ(later.ReadLockBits(), 0x04);
    const sim::DeviceState state = m_bus.State(m_device);
    EXPECT_FALSE(state.powered);
    EXPECT_EQ(state.speedCode, 3);
    EXPECT_EQ(state.vendorRequests, 8);
}

TEST_F(SimTest, AFaultHitsTheKthVendorRequestForNRequests) {
    DeviceConfig config = Chip();
    config.failAt = 3;
    config.failCount = 2;
    Plug(config); // string requests are not counted
    std::vector<bool> results;
    for (int i = 0; i < 6; ++i)
        results.push_back(m_programmer.PowerOn());
    EXPECT_EQ(results, (std::vector<bool>{true, true, false, false, true, true}));
    std::vector<int> seen;
    for (const TranscriptEntry& entry : m_bus.VendorTranscript())
        seen.push_back(entry.result);
    EXPECT_EQ(seen, (std::vector<int>{1, 1, -EPIPE, -EPIPE, 1, 1}));
    EXPECT_EQ(m_bus.State(m_device).vendorRequests, 6);
}

TEST_F(SimTest, ATimeOutFailsWithETIMEDOUT) {
    Plug();
    m_bus.SetFault(m_device, 1, 1, FailKind::Timeout);
    EXPECT_FALSE(m_programmer.EraseChip());
    EXPECT_EQ(m_bus.VendorTranscript().at(0).result, -ETIMEDOUT);
    EXPECT_TRUE(m_programmer.EraseChip());
}

TEST_F(SimTest, AnUnpluggedDeviceAnswersNothingMoreAndIsGoneFromTheWalk) {
    const int spare = m_bus.Add(Chip(), 2);
    Plug();
    m_bus.SetFault(m_device, 2, 1, FailKind::Unplug);
    EXPECT_TRUE(m_programmer.PowerOn());
    EXPECT_FALSE(m_programmer.PowerOn());
    EXPECT_FALSE(m_programmer.PowerOff()) << "no further request reaches it";
    EXPECT_EQ(m_bus.VendorTranscript().back().result, -ENODEV);
    EXPECT_TRUE(m_bus.State(m_device).unplugged);

    ASSERT_TRUE(m_programmer.Open());
    m_bus.ClearTranscript();
    ASSERT_TRUE(m_programmer.PowerOn());
    EXPECT_EQ(m_bus.VendorTranscript().at(0).device, spare);

    m_bus.Unplug(spare);
    EXPECT_FALSE(m_programmer.Open());
    EXPECT_EQ(CProgrammer::List().size(), 0u);
}

TEST_F(SimTest, TheTranscriptListsStandardRequestsAndTheVendorViewOnlyRequests5To18) {
    Plug();
    ASSERT_TRUE(m_programmer.GetSpeed() == 0);
    const std::vector<TranscriptEntry> all = m_bus.Transcript();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].value, 0x0300) << "language ids first";
    EXPECT_EQ(all[1].value, 0x0302);
    EXPECT_EQ(all[1].requestType, 0x80);
    EXPECT_EQ(all[1].result, 2 + 2 * 11);
    ASSERT_EQ(m_bus.VendorTranscript().size(), 1u);
    EXPECT_EQ(m_bus.VendorTranscript()[0].request, 18);
    m_bus.ClearTranscript();
    EXPECT_TRUE(m_bus.Transcript().empty());
}

TEST_F(SimTest, TestKnobsForOtherSequences) {
    DeviceConfig config = Chip();
    config.ignoreWrites = true;
    config.lockStatusOverride = 0x03;
    Plug(config);
    EXPECT_TRUE(Write(0, Block(0x00)));
    EXPECT_EQ(Read(0), Block(0xFF));
    EXPECT_EQ(m_programmer.ReadLockBits(), 0x03);
}

TEST_F(SimTest, AWorkerMayDriveTheDeviceWhileAnotherThreadReadsItsState) {
    Plug();
    std::thread worker([this] {
        for (uint16_t address = 0; address < 0x400; address += 8) {
            const uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, static_cast<uint8_t>(address >> 3)};
            m_programmer.WriteBlock(address, block, 8);
        }
    });
    int lastSeen = 0;
    for (int i = 0; i < 50; ++i) {
        const int count = m_bus.State(m_device).vendorRequests;
        EXPECT_GE(count, lastSeen);
        lastSeen = count;
    }
    worker.join();
    const sim::DeviceState state = m_bus.State(m_device);
    EXPECT_EQ(state.vendorRequests, 128);
    EXPECT_EQ(state.flash[0x3FF], 0x7F);
}

// The byte-mode chip's write time: given to a tree that exists already (as veltro51-sim --tree does),
// each byte a WriteBlock moves takes it. A lower bound only: a sleep is never shorter.
TEST_F(SimTest, AByteModeChipsWriteTimeIsWaitedOutForEveryByteWritten) {
    Plug();
    sim::detail::SimSetup setup;
    std::string error;
    for (const char* bad : {"-1", "abc", "", "100001"})
        EXPECT_FALSE(sim::detail::ApplySetting(setup, "byte-write-us", bad, error)) << bad;
    ASSERT_TRUE(sim::detail::ApplySetting(setup, "byte-write-us", "2500", error)) << error;
    ASSERT_TRUE(sim::detail::UpdateTree(m_bus.Root(), setup, error)) << error;

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Write(0, Block(0x5A)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(8 * 2500));
    EXPECT_EQ(Read(0), Block(0x5A));
}

} // namespace
