// Lock Bits and Programming Speed through the main window's commands, against the simulator.
#include <wx/checkbox.h>
#include <wx/slider.h>

#include "ops/Texts.h"
#include "ops/dlg/LockBitsDlg.h"
#include "ops/dlg/SpeedDlg.h"
#include "tests/dialogs/DialogTestSupport.h"
#include "res/Ids.h"
#include "ui/OstrelView.h"

namespace {

struct Boxes {
    bool lb1, lb2, lb3, autoLock;
    bool operator==(const Boxes&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Boxes& b) {
    return out << "LB1 " << b.lb1 << " LB2 " << b.lb2 << " LB3 " << b.lb3 << " auto " << b.autoLock;
}

CLockBitsDlg* LockDlg() {
    return FindShownDialog<CLockBitsDlg>();
}

Boxes BoxesOf(wxWindow* dlg) {
    auto ticked = [dlg](int id) { return dynamic_cast<wxCheckBox*>(dlg->FindWindow(id))->GetValue(); };
    return {ticked(IDC_LOCK_LB1), ticked(IDC_LOCK_LB2), ticked(IDC_LOCK_LB3), ticked(IDC_LOCK_AFTER_BURN)};
}

std::vector<std::string> TextsOf(const std::vector<BoxShown>& shown, long icon) {
    std::vector<std::string> texts;
    for (const BoxShown& box : shown) {
        EXPECT_EQ(box.caption, "Veltro 51");
        EXPECT_EQ(box.style, wxOK | icon) << box.text;
        texts.push_back(box.text.utf8_string());
    }
    return texts;
}

using LockBitsDialogTest = CDeviceDialogFixture;

TEST_F(LockBitsDialogTest, BoxesOpenFromTheSettingsAndStayConsistent) {
    View()->m_lockMode = 3;
    View()->m_autoLock = true;
    std::vector<Boxes> seen;
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the dialog open", [] { return LockDlg() != nullptr; },
        [&seen] {
            CLockBitsDlg* dlg = LockDlg();
            seen.push_back(BoxesOf(dlg));
            ClickCheckBox(dlg, IDC_LOCK_LB3); // ticks all three
            seen.push_back(BoxesOf(dlg));
            ClickCheckBox(dlg, IDC_LOCK_LB1); // cannot be cleared under LB2
            seen.push_back(BoxesOf(dlg));
            ClickCheckBox(dlg, IDC_LOCK_LB3); // clearing LB3 leaves LB1 and LB2
            seen.push_back(BoxesOf(dlg));
            ClickCheckBox(dlg, IDC_LOCK_LB2); // with LB3 clear, LB2 may go
            seen.push_back(BoxesOf(dlg));
            ClickButton(dlg, wxID_OK);
        });
    driver.Start();
    Command(ID_LOCK_BITS);
    ASSERT_TRUE(driver.Finished());
    EXPECT_FALSE(LockDlg());
    const std::vector<Boxes> expected = {{true, true, false, true},
                                         {true, true, true, true},
                                         {true, true, true, true},
                                         {true, true, false, true},
                                         {true, false, false, true}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(View()->m_lockMode, 2);
    EXPECT_TRUE(View()->m_autoLock);
    EXPECT_TRUE(m_messages.shown.empty());
}

// How the dialog ends decides whether the auto-lock box, changed without any handler, is taken.
struct EndingCase {
    const char* name;
    int how; // 0 Close, 1 Escape, 2 the close box
    bool autoLockTaken;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const EndingCase& c, std::ostream* out) {
    *out << c.name;
}

class LockBitsEndingTest : public CDeviceDialogFixture, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(LockBitsEndingTest, LockBitBoxesAlwaysCountTheAutoLockBoxOnlyOnClose) {
    const EndingCase& c = GetParam();
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the dialog open", [] { return LockDlg() != nullptr; },
        [&c] {
            CLockBitsDlg* dlg = LockDlg();
            ClickCheckBox(dlg, IDC_LOCK_LB2);
            // A tick of the auto-lock box reaches no handler of the dialog.
            auto* box = dynamic_cast<wxCheckBox*>(dlg->FindWindow(IDC_LOCK_AFTER_BURN));
            box->SetValue(true);
            if (c.how == 0)
                ClickButton(dlg, wxID_OK);
            else if (c.how == 1)
                PressKey(dlg, WXK_ESCAPE);
            else
                dlg->Close();
        });
    driver.Start();
    Command(ID_LOCK_BITS);
    ASSERT_TRUE(driver.Finished());
    EXPECT_FALSE(LockDlg());
    EXPECT_EQ(View()->m_lockMode, 3);
    EXPECT_EQ(View()->m_autoLock, c.autoLockTaken);
}

INSTANTIATE_TEST_SUITE_P(LockBits, LockBitsEndingTest,
                         ::testing::Values(EndingCase{"Close", 0, true}, EndingCase{"Escape", 1, false},
                                           EndingCase{"CloseBox", 2, false}),
                         [](const ::testing::TestParamInfo<EndingCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LockBitsDialogTest, WriteAndReadTalkToTheChip) {
    sim::DeviceConfig config;
    config.chip = 3;
    m_bus.Add(config);
    Boxes afterRead{};
    std::vector<BoxShown> writeMessages;
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the dialog open", [] { return LockDlg() != nullptr; },
        [&] {
            CLockBitsDlg* dlg = LockDlg();
            ClickCheckBox(dlg, IDC_LOCK_LB3);
            ClickButton(dlg, IDC_LOCK_WRITE);
            writeMessages = m_messages.shown;
            m_messages.shown.clear();
            // Mode 3 in the chip, no box ticked: Read ticks LB1 and LB2.
            m_bus.SetLockMode(0, 3);
            ClickCheckBox(dlg, IDC_LOCK_LB3);
            ClickCheckBox(dlg, IDC_LOCK_LB2);
            ClickCheckBox(dlg, IDC_LOCK_LB1);
            ClickButton(dlg, IDC_LOCK_READ);
            afterRead = BoxesOf(dlg);
            ClickButton(dlg, wxID_OK);
        });
    driver.Start();
    Command(ID_LOCK_BITS);
    ASSERT_TRUE(driver.Finished());
    EXPECT_EQ(TextsOf(writeMessages, wxICON_INFORMATION),
              (std::vector<std::string>{"Device Locked - Lock Mode = 2", "Device Locked - Lock Mode = 3",
                                        "Device Locked - Lock Mode = 4"}));
    EXPECT_EQ(TextsOf(m_messages.shown, wxICON_INFORMATION), (std::vector<std::string>{MSG_LOCKED_MODE3}));
    EXPECT_EQ(afterRead, (Boxes{true, true, false, false}));
    EXPECT_EQ(View()->m_lockMode, 3) << "the read boxes are taken back";
    EXPECT_FALSE(m_bus.State(0).powered) << "every button powers the target off again";
}

TEST_F(LockBitsDialogTest, ReadWithoutAnswerLeavesTheBoxes) {
    struct {
        const char* name;
        bool plugged;
        int lockStatus; // what the chip answers to the lock read, -1: its real state
        long icon;
        std::vector<std::string> messages;
    } cases[] = {
        {"no programmer", false, -1, wxICON_ERROR, {MSG_NO_PROGRAMMER}},
        {"LB2 alone (0x08)", true, 0x08, wxICON_INFORMATION, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.plugged) {
            sim::DeviceConfig config;
            config.chip = 3;
            config.lockStatusOverride = c.lockStatus;
            m_bus.Add(config);
        }
        m_messages.shown.clear();
        View()->m_lockMode = 2;
        Boxes afterRead{};
        CModalDriver driver(m_sleeper, m_messages);
        driver.When(
            "the dialog open", [] { return LockDlg() != nullptr; },
            [&afterRead] {
                ClickButton(LockDlg(), IDC_LOCK_READ);
                afterRead = BoxesOf(LockDlg());
                PressKey(LockDlg(), WXK_ESCAPE);
            });
        driver.Start();
        Command(ID_LOCK_BITS);
        ASSERT_TRUE(driver.Finished());
        EXPECT_EQ(afterRead, (Boxes{true, false, false, false}));
        EXPECT_EQ(TextsOf(m_messages.shown, c.icon), c.messages);
        EXPECT_EQ(View()->m_lockMode, 2);
    }
}

CSpeedDlg* SpeedDlg() {
    return FindShownDialog<CSpeedDlg>();
}

struct SpeedView {
    int position;
    wxString label;
};

SpeedView SpeedOf(wxWindow* dlg) {
    return {dynamic_cast<wxSlider*>(dlg->FindWindow(IDC_SPEED_SLIDER))->GetValue(),
            LabelOf(dlg, IDC_SPEED_LABEL)};
}

// Moves the slider as the user drags it: the control changes, then notifies.
void MoveSlider(wxWindow* dlg, int position) {
    auto* slider = dynamic_cast<wxSlider*>(dlg->FindWindow(IDC_SPEED_SLIDER));
    slider->SetValue(position);
    wxCommandEvent moved(wxEVT_SLIDER, IDC_SPEED_SLIDER);
    moved.SetInt(position);
    moved.SetEventObject(slider);
    slider->GetEventHandler()->ProcessEvent(moved);
}

struct SpeedCase {
    const char* name;
    uint8_t storedCode;
    int openPosition;
    const char* openLabel;
    int moveTo;
    const char* movedLabel;
    bool ok; // OK, else Cancel
    uint8_t codeAfter;
    std::vector<std::string> messages;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SpeedCase& c, std::ostream* out) {
    *out << c.name;
}

class SpeedDialogTest : public CDeviceDialogFixture, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(SpeedDialogTest, OpensAtTheStoredCodeAndWritesTheSlidersCode) {
    const SpeedCase& c = GetParam();
    sim::DeviceConfig config;
    config.speedCode = c.storedCode;
    m_bus.Add(config);
    SpeedView opened{}, moved{};
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the dialog open", [] { return SpeedDlg() != nullptr; },
        [&] {
            opened = SpeedOf(SpeedDlg());
            MoveSlider(SpeedDlg(), c.moveTo);
            moved = SpeedOf(SpeedDlg());
            ClickButton(SpeedDlg(), c.ok ? wxID_OK : wxID_CANCEL);
        });
    driver.Start();
    Command(ID_PROGRAMMING_SPEED);
    ASSERT_TRUE(driver.Finished());
    EXPECT_FALSE(SpeedDlg());
    EXPECT_EQ(opened.position, c.openPosition);
    EXPECT_EQ(opened.label, c.openLabel);
    EXPECT_EQ(moved.label, c.movedLabel);
    EXPECT_EQ(m_bus.State(0).speedCode, c.codeAfter);
    EXPECT_EQ(TextsOf(m_messages.shown, wxICON_INFORMATION), c.messages);
    EXPECT_FALSE(m_bus.State(0).powered);
}

INSTANTIATE_TEST_SUITE_P(
    Speed, SpeedDialogTest,
    ::testing::Values(SpeedCase{"Code2ToFast", 2, 1, "188KHz", 3, "3000KHz", true, 0, {MSG_SPEED_CHANGED}},
                      SpeedCase{"Code5OpensSlow", 5, 0, "94KHz", 0, "94KHz", true, 3, {MSG_SPEED_CHANGED}},
                      SpeedCase{"CancelWritesNothing", 1, 2, "750KHz", 0, "94KHz", false, 1, {}}),
    [](const ::testing::TestParamInfo<SpeedCase>& info) { return std::string(info.param.name); });

using SpeedFailureTest = CDeviceDialogFixture;

TEST_F(SpeedFailureTest, WithoutProgrammerItsErrorAndNoDialog) {
    bool dialogSeen = false;
    m_messages.onShow = [&dialogSeen](const BoxShown&) { dialogSeen = SpeedDlg() != nullptr; };
    Command(ID_PROGRAMMING_SPEED);
    EXPECT_FALSE(dialogSeen);
    EXPECT_FALSE(SpeedDlg());
    EXPECT_EQ(TextsOf(m_messages.shown, wxICON_ERROR), (std::vector<std::string>{MSG_NO_PROGRAMMER}));
}

} // namespace
