// CProgrammer through the real libusb-0.1, against the simulated programmer.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/Programmer.h"
#include "sim/SimApi.h"
#include "tests/support/WithoutPrivileges.h"

namespace fs = std::filesystem;
using sim::CSimBus;
using sim::DeviceConfig;
using sim::FailKind;
using sim::TranscriptEntry;

namespace {

constexpr int AT89S52 = 3;

DeviceConfig Programmer(const std::string& product = "Veltro-8051") {
    DeviceConfig config;
    config.chip = AT89S52;
    config.product = product;
    config.instantTimeouts = true;
    return config;
}

// Whether this process holds a descriptor on the file at path (a device left open).
bool HoldsOpen(const std::string& path) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
        std::error_code ignored;
        if (fs::read_symlink(entry.path(), ignored) == path)
            return true;
    }
    return false;
}

// String descriptor 2 requests in the transcript, as the list of devices they went to.
std::vector<int> ProductStringReads(const CSimBus& bus) {
    std::vector<int> devices;
    for (const TranscriptEntry& entry : bus.Transcript())
        if (entry.requestType == 0x80 && entry.request == 6 && entry.value == 0x0302)
            devices.push_back(entry.device);
    return devices;
}

class LinkTest : public ::testing::Test {
protected:
    CSimBus m_bus;
    CProgrammer m_programmer;
};

// One operation of the request table: the call (true when it reports success; ReadLockBits and
// GetSpeed report through ok) and what the device must see.
struct RequestCase {
    const char* name;
    std::function<bool(CProgrammer&)> call;
    int request;
    int requestType;
    int value;
    int length;
    int timeoutMs;
    bool succeedsShort; // still a success when the device moves one byte fewer
};

const uint8_t kBlock[8] = {0x02, 0x00, 0x30, 0x75, 0x81, 0x60, 0x80, 0xFE};

std::vector<RequestCase> RequestTable() {
    auto lockBits = [](CProgrammer& p) {
        bool ok = false;
        p.ReadLockBits(&ok);
        return ok;
    };
    auto speed = [](CProgrammer& p) {
        bool ok = false;
        p.GetSpeed(&ok);
        return ok;
    };
    static uint8_t scratch[8];
    return {
        {"PowerOn", [](CProgrammer& p) { return p.PowerOn(); }, 5, 0xC0, 0, 1, 400, true},
        {"PowerOff", [](CProgrammer& p) { return p.PowerOff(); }, 6, 0xC0, 0, 0, 100, true},
        {"ReadBlock", [](CProgrammer& p) { return p.ReadBlock(0x1238, scratch); }, 7, 0xC0, 0x1238, 8, 200,
         false},
        {"WriteBlock", [](CProgrammer& p) { return p.WriteBlock(0x0040, kBlock, 8); }, 8, 0x40, 0x0040, 8,
         400, false},
        // A short reply would leave a byte of an earlier chip in the signature.
        {"ReadSignature", [](CProgrammer& p) { return p.ReadSignature(); }, 9, 0xC0, 0, 3, 100, false},
        {"EraseChip", [](CProgrammer& p) { return p.EraseChip(); }, 10, 0xC0, 0, 0, 100, true},
        // A short reply lacks the identity's NUL.
        {"TestHardware", [](CProgrammer& p) { return p.TestHardware(); }, 11, 0xC0, 0, 8, 100, false},
        {"WriteLockMode(1)", [](CProgrammer& p) { return p.WriteLockMode(1); }, 12, 0xC0, 0, 0, 100, true},
        {"WriteLockMode(2)", [](CProgrammer& p) { return p.WriteLockMode(2); }, 13, 0xC0, 0, 0, 100, true},
        {"WriteLockMode(3)", [](CProgrammer& p) { return p.WriteLockMode(3); }, 14, 0xC0, 0, 0, 100, true},
        {"WriteLockMode(4)", [](CProgrammer& p) { return p.WriteLockMode(4); }, 15, 0xC0, 0, 0, 100, true},
        {"ReadLockBits", lockBits, 16, 0xC0, 0, 1, 100, false},
        {"SetSpeed(2)", [](CProgrammer& p) { return p.SetSpeed(2); }, 17, 0xC0, 2, 1, 100, true},
        {"GetSpeed", speed, 18, 0xC0, 0, 1, 100, false},
    };
}

TEST_F(LinkTest, EachRequestGoesOutAsTheTableSaysAndIsJudgedByItsRule) {
    const int device = m_bus.Add(Programmer());
    ASSERT_TRUE(m_programmer.Open());
    for (const RequestCase& c : RequestTable()) {
        SCOPED_TRACE(c.name);
        m_bus.SetFault(device, 0, 1, FailKind::Stall);
        m_bus.ClearTranscript();
        EXPECT_TRUE(c.call(m_programmer));
        const std::vector<TranscriptEntry> sent = m_bus.Transcript();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].request, c.request);
        EXPECT_EQ(sent[0].requestType, c.requestType);
        EXPECT_EQ(sent[0].value, c.value);
        EXPECT_EQ(sent[0].length, c.length);
        EXPECT_EQ(sent[0].timeoutMs, c.timeoutMs);
        EXPECT_EQ(sent[0].result, c.length);

        for (FailKind kind : {FailKind::Stall, FailKind::Timeout}) {
            m_bus.SetFault(device, 1, 1, kind);
            EXPECT_FALSE(c.call(m_programmer)) << "a negative result";
        }
        m_bus.SetFault(device, 1, 1, FailKind::Short);
        EXPECT_EQ(c.call(m_programmer), c.succeedsShort) << "one byte short";
        EXPECT_TRUE(m_programmer.IsOpen()) << "a failed request keeps the device";
    }
}

TEST_F(LinkTest, WriteBlockSendsTheCallersLengthAndBytes) {
    const int device = m_bus.Add(Programmer());
    ASSERT_TRUE(m_programmer.Open());
    ASSERT_TRUE(m_programmer.WriteBlock(0x0100, kBlock, 8));
    const std::vector<uint8_t> flash = m_bus.State(device).flash;
    EXPECT_EQ(std::vector<uint8_t>(flash.begin() + 0x100, flash.begin() + 0x108),
              std::vector<uint8_t>(kBlock, kBlock + 8));

    m_bus.ClearTranscript();
    EXPECT_TRUE(m_programmer.WriteBlock(0x0200, kBlock, 4));
    EXPECT_EQ(m_bus.VendorTranscript().at(0).length, 4);
    EXPECT_FALSE(m_programmer.WriteBlock(0x0200, kBlock, -1)) << "refused before the library";
    EXPECT_FALSE(m_programmer.WriteBlock(0x0200, nullptr, 8));
    EXPECT_EQ(m_bus.VendorTranscript().size(), 1u);
}

TEST_F(LinkTest, ReadLockBitsAndGetSpeedReadAFailureAsZeroAndOkTellsItFromAReceivedZero) {
    const int device = m_bus.Add(Programmer());
    m_bus.SetSpeedCode(device, 2);
    m_bus.SetLockMode(device, 3);
    ASSERT_TRUE(m_programmer.Open());
    bool ok = false;
    EXPECT_EQ(m_programmer.GetSpeed(&ok), 2);
    EXPECT_TRUE(ok);
    EXPECT_EQ(m_programmer.ReadLockBits(&ok), 0x0C);
    EXPECT_TRUE(ok);

    m_bus.SetFault(device, 1, 2, FailKind::Stall);
    EXPECT_EQ(m_programmer.GetSpeed(&ok), 0) << "reads as the 3000 kHz code";
    EXPECT_FALSE(ok);
    EXPECT_EQ(m_programmer.ReadLockBits(&ok), 0) << "reads as an unlocked chip";
    EXPECT_FALSE(ok);

    m_bus.SetSpeedCode(device, 0);
    EXPECT_EQ(m_programmer.GetSpeed(&ok), 0);
    EXPECT_TRUE(ok) << "a received 0";
    EXPECT_EQ(m_programmer.GetSpeed(), 0) << "ok may be left out";
}

TEST_F(LinkTest, WriteLockModeOutsideOneToFourFailsWithoutATransfer) {
    m_bus.Add(Programmer());
    ASSERT_TRUE(m_programmer.Open());
    m_bus.ClearTranscript();
    for (int mode : {0, 5, -1, 16, 255}) {
        EXPECT_FALSE(m_programmer.WriteLockMode(mode)) << mode;
    }
    EXPECT_TRUE(m_bus.Transcript().empty());
}

TEST_F(LinkTest, TestHardwarePassesOnlyOnTheIdentityWithItsNul) {
    struct Case {
        std::string reply; // the 8 bytes, NUL-padded
        bool passes;
    };
    const Case cases[] = {
        {std::string("TALMORE\0", 8), true},
        {"talmore", false},
        {"TALMOREX", false}, // the eighth byte is no NUL
        {"TALMOR", false},
        {"", false},
        {"TALM\0RE", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        CSimBus bus;
        DeviceConfig config = Programmer();
        config.identity = c.reply;
        bus.Add(config);
        CProgrammer programmer;
        ASSERT_TRUE(programmer.Open());
        EXPECT_EQ(programmer.TestHardware(), c.passes);
    }
}

TEST_F(LinkTest, ProductStringMustMatchWholeAndCaseSensitive) {
    struct Case {
        const char* product;
        bool found;
    };
    const Case cases[] = {
        {"Veltro-8051", true}, {"Veltro-8051 ", false}, {"veltro-8051", false},
        {"Veltro-805", false}, {" Veltro-8051", false}, {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.product);
        CSimBus bus;
        const int device = bus.Add(Programmer(c.product));
        CProgrammer programmer;
        EXPECT_EQ(programmer.Open(), c.found);
        EXPECT_EQ(programmer.IsOpen(), c.found);
        EXPECT_EQ(ProductStringReads(bus), std::vector<int>{device}) << "read once, index 2";
        if (c.found) {
            EXPECT_STREQ(programmer.GetProductString(), c.product);
        } else {
            EXPECT_FALSE(HoldsOpen(bus.DevicePath(device))) << "closed when skipped";
        }
        EXPECT_FALSE(programmer.AccessDenied());
    }
}

TEST_F(LinkTest, OpenTakesTheFirstMatchInBusThenDeviceOrder) {
    // Added out of order: the walk goes by bus, then device, not by the order of plugging.
    const int onBus2 = m_bus.Add(Programmer(), 2);
    const int wrongString = m_bus.Add(Programmer("Veltro-8052"), 1); // 001/001
    const int first = m_bus.Add(Programmer(), 1);                    // 001/002
    const int alsoBus1 = m_bus.Add(Programmer(), 1);                 // 001/003
    ASSERT_TRUE(m_programmer.Open());
    EXPECT_EQ(ProductStringReads(m_bus), (std::vector<int>{wrongString, first}));
    EXPECT_FALSE(HoldsOpen(m_bus.DevicePath(wrongString))) << "the wrong one was opened, read and closed";
    EXPECT_TRUE(HoldsOpen(m_bus.DevicePath(first)));

    m_bus.ClearTranscript();
    ASSERT_TRUE(m_programmer.ReadSignature());
    EXPECT_EQ(m_bus.VendorTranscript().at(0).device, first);
    (void)onBus2;
    (void)alsoBus1;
}

TEST_F(LinkTest, OpenSkipsUnreadableStringsAndForeignDevices) {
    DeviceConfig unreadable = Programmer();
    unreadable.stringUnreadable = true;
    const int keyboard = m_bus.AddForeign(0x046D, 0xC31C, 1);
    const int mute = m_bus.Add(unreadable, 1);
    const int good = m_bus.Add(Programmer(), 1);
    ASSERT_TRUE(m_programmer.Open());
    for (const TranscriptEntry& entry : m_bus.Transcript())
        EXPECT_NE(entry.device, keyboard) << "a device of other ids is not opened";
    EXPECT_FALSE(HoldsOpen(m_bus.DevicePath(mute)));
    EXPECT_TRUE(HoldsOpen(m_bus.DevicePath(good)));
    EXPECT_FALSE(m_programmer.AccessDenied());
}

TEST_F(LinkTest, OpenFindsNothingOnAnEmptyBusOrWithOnlyUnreadableStrings) {
    EXPECT_FALSE(m_programmer.Open());
    EXPECT_EQ(m_programmer.GetProductString(), nullptr);

    DeviceConfig unreadable = Programmer();
    unreadable.stringUnreadable = true;
    const int device = m_bus.Add(unreadable);
    EXPECT_FALSE(m_programmer.Open());
    EXPECT_FALSE(HoldsOpen(m_bus.DevicePath(device)));
    EXPECT_FALSE(m_programmer.AccessDenied()) << "a stall is no lack of permission";
}

TEST_F(LinkTest, OpenReleasesTheHeldDeviceAndFindsADevicePluggedInSince) {
    const int first = m_bus.Add(Programmer(), 2);
    ASSERT_TRUE(m_programmer.Open());
    const int second = m_bus.Add(Programmer(), 1);
    ASSERT_TRUE(m_programmer.Open());
    EXPECT_FALSE(HoldsOpen(m_bus.DevicePath(first)));
    EXPECT_TRUE(HoldsOpen(m_bus.DevicePath(second)));
    m_programmer.Close();
    EXPECT_FALSE(HoldsOpen(m_bus.DevicePath(second)));
    EXPECT_FALSE(m_programmer.IsOpen());
}

TEST_F(LinkTest, WithoutADeviceEveryRequestFailsWithoutATransfer) {
    m_bus.Add(Programmer("Veltro-8051 "));
    CProgrammer neverOpened;
    CProgrammer failedOpen;
    ASSERT_FALSE(failedOpen.Open());
    CProgrammer closed;
    m_bus.Add(Programmer());
    ASSERT_TRUE(closed.Open());
    closed.Close();
    m_bus.ClearTranscript();
    for (CProgrammer* programmer : {&neverOpened, &failedOpen, &closed}) {
        for (const RequestCase& c : RequestTable()) {
            SCOPED_TRACE(c.name);
            EXPECT_FALSE(c.call(*programmer));
        }
        EXPECT_EQ(programmer->ReadLockBits(), 0);
        EXPECT_EQ(programmer->GetSpeed(), 0);
        EXPECT_EQ(programmer->GetProductString(), nullptr);
        EXPECT_FALSE(programmer->IsOpen());
    }
    EXPECT_TRUE(m_bus.Transcript().empty());
}

TEST_F(LinkTest, ListShowsEveryDeviceWithTheIdsAndSetLocationPicksOne) {
    DeviceConfig unreadable = Programmer();
    unreadable.stringUnreadable = true;
    m_bus.AddForeign(0x046D, 0xC31C, 1);
    m_bus.Add(Programmer("Other"), 1);
    const int mute = m_bus.Add(unreadable, 1);
    const int onBus2 = m_bus.Add(Programmer(), 2);
    const int onBus3 = m_bus.Add(Programmer(), 3);

    const std::vector<ProgrammerLocation> found = CProgrammer::List();
    ASSERT_EQ(found.size(), 4u);
    const std::vector<std::string> expected = {"001/002 Other", "001/003 ", "002/001 Veltro-8051",
                                               "003/001 Veltro-8051"};
    for (size_t i = 0; i < found.size(); ++i)
        EXPECT_EQ(found[i].bus + "/" + found[i].device + " " + found[i].product, expected[i]);
    for (const ProgrammerLocation& location : found)
        EXPECT_FALSE(HoldsOpen(m_bus.Root() + "/" + location.bus + "/" + location.device));

    m_programmer.SetLocation("003/001");
    ASSERT_TRUE(m_programmer.Open());
    EXPECT_TRUE(HoldsOpen(m_bus.DevicePath(onBus3)));
    m_bus.ClearTranscript();
    for (const char* elsewhere : {"001/002", "001/003", "009/001", "003", ""}) {
        SCOPED_TRACE(elsewhere);
        m_programmer.SetLocation(elsewhere);
        const bool any = std::string(elsewhere).empty();
        EXPECT_EQ(m_programmer.Open(), any);
        if (any) {
            EXPECT_TRUE(HoldsOpen(m_bus.DevicePath(onBus2)));
        }
    }
    (void)mute;
}

TEST_F(LinkTest, AccessDeniedTellsAPermissionFailureFromNoProgrammer) {
    DeviceConfig denied = Programmer();
    denied.accessDenied = true;
    EXPECT_FALSE(m_programmer.Open());
    EXPECT_FALSE(m_programmer.AccessDenied()) << "nothing there";

    const int device = m_bus.Add(denied, 1);
    EXPECT_FALSE(m_programmer.Open());
    EXPECT_TRUE(m_programmer.AccessDenied());
    EXPECT_FALSE(HoldsOpen(m_bus.DevicePath(device)));
    ASSERT_EQ(m_bus.Transcript().size(), 1u) << "the language ids are refused already";
    EXPECT_EQ(m_bus.Transcript()[0].result, -EPERM);

    m_bus.Add(Programmer(), 2);
    EXPECT_TRUE(m_programmer.Open()) << "a usable programmer after the refused one";
    EXPECT_FALSE(m_programmer.AccessDenied());
}

TEST_F(LinkTest, AFileOpenReadOnlyIsRefusedLikeUsbfsDoes) {
    // What libusb-0.1 falls back to when the user may not write the device node.
    const int device = m_bus.Add(Programmer());
    ASSERT_EQ(chmod(m_bus.DevicePath(device).c_str(), 0444), 0);
    bool opened = true;
    WithoutPrivileges([&] { opened = m_programmer.Open(); });
    EXPECT_FALSE(opened);
    EXPECT_TRUE(m_programmer.AccessDenied());
}

// What another program holding the device file does: an exclusive flock of its own open file.
class CForeignHolder {
public:
    explicit CForeignHolder(const std::string& path) : m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~CForeignHolder() { close(m_fd); }
    bool Take() { return flock(m_fd, LOCK_EX | LOCK_NB) == 0; }

private:
    int m_fd;
};

TEST_F(LinkTest, AProgrammerInUseIsPassedOverWithoutARequestAndFreedByCloseOrDestruction) {
    const int first = m_bus.Add(Programmer(), 1);
    const int second = m_bus.Add(Programmer(), 2);
    ASSERT_TRUE(m_programmer.Open());
    EXPECT_TRUE(HoldsOpen(m_bus.DevicePath(first)));
    EXPECT_FALSE(CForeignHolder(m_bus.DevicePath(first)).Take()) << "held against every other program";

    m_bus.ClearTranscript();
    CProgrammer other;
    ASSERT_TRUE(other.Open()) << "the first free programmer";
    EXPECT_TRUE(HoldsOpen(m_bus.DevicePath(second)));
    EXPECT_EQ(ProductStringReads(m_bus), std::vector<int>{second}) << "nothing sent to the one in use";
    {
        m_bus.ClearTranscript();
        CProgrammer third;
        EXPECT_FALSE(third.Open());
        EXPECT_TRUE(third.Busy());
        EXPECT_FALSE(third.AccessDenied());
        EXPECT_TRUE(m_bus.Transcript().empty());
        third.SetLocation("002/001");
        EXPECT_FALSE(third.Open());
        EXPECT_TRUE(third.Busy());
    }

    other.Close();
    CProgrammer third;
    third.SetLocation("002/001");
    EXPECT_TRUE(third.Open()) << "freed by Close";
    EXPECT_FALSE(third.Busy());
    {
        CProgrammer scoped;
        m_programmer.Close();
        ASSERT_TRUE(scoped.Open());
    }
    EXPECT_TRUE(m_programmer.Open()) << "freed by the destructor";

    // Another program's lock, and a failed Open that found nothing else: busy, not denied.
    m_programmer.Close();
    CForeignHolder holder(m_bus.DevicePath(first));
    ASSERT_TRUE(holder.Take());
    m_programmer.SetLocation("001/001");
    EXPECT_FALSE(m_programmer.Open());
    EXPECT_TRUE(m_programmer.Busy());
    EXPECT_FALSE(m_programmer.AccessDenied());
}

} // namespace
