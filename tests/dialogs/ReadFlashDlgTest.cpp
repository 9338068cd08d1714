// Read Flash through the main window's command: the dialog, its endings and what reaches the image.
#include <wx/gauge.h>

#include "ops/Texts.h"
#include "ops/dlg/ReadFlashDlg.h"
#include "tests/dialogs/DialogTestSupport.h"
#include "res/DialogUnits.h"
#include "res/Ids.h"
#include "ui/OstrelView.h"

namespace {

constexpr int AT89S52 = 3;

struct ReadState {
    wxString status;
    int position = -1;
    int range = -1;
    bool closeEnabled = false;
    bool abortEnabled = false;
    int barHeight = -1;      // the control's
    int drawnBarHeight = -1; // what GTK draws of it
};

CReadFlashDlg* Dlg() {
    return FindShownDialog<CReadFlashDlg>();
}

ReadState Snapshot(wxWindow* dlg) {
    ReadState state;
    state.status = LabelOf(dlg, IDC_READ_STATUS);
    auto* gauge = dynamic_cast<wxGauge*>(dlg->FindWindow(IDC_READ_PROGRESS));
    state.position = gauge->GetValue();
    state.range = gauge->GetRange();
    state.barHeight = gauge->GetSize().y;
    state.drawnBarHeight = DrawnHeight(gauge);
    state.closeEnabled = IsEnabled(dlg, IDC_READ_CLOSE);
    state.abortEnabled = IsEnabled(dlg, IDC_READ_ABORT);
    return state;
}

class ReadFlashDialogTest : public CDeviceDialogFixture {
protected:
    // An AT89S52 holding a pattern, selected in the main window, whose image holds other bytes.
    void Prepare(double delayMs = 0.0) {
        sim::DeviceConfig config;
        config.chip = AT89S52;
        config.delayMs = delayMs;
        m_bus.Add(config);
        std::vector<uint8_t> flash(8192);
        for (size_t i = 0; i < flash.size(); ++i)
            flash[i] = static_cast<uint8_t>(i * 13 + 5);
        m_bus.SetFlash(0, flash);
        SelectChip(AT89S52);
        auto& image = View()->Buffer().m_image;
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<uint8_t>(i ^ 0xA5);
        m_before = std::vector<uint8_t>(image.begin(), image.end());
    }

    // Runs the command; the driver presses Close once it is enabled.
    ReadState Run(CModalDriver& driver) {
        ReadState atEnd;
        driver.When(
            "Close enabled", [] { return Dlg() && IsEnabled(Dlg(), IDC_READ_CLOSE); },
            [&atEnd] {
                atEnd = Snapshot(Dlg());
                ClickButton(Dlg(), IDC_READ_CLOSE);
            });
        driver.Start();
        Command(ID_READ_FLASH);
        EXPECT_TRUE(driver.Finished());
        EXPECT_FALSE(Dlg());
        return atEnd;
    }

    std::vector<uint8_t> Image() const {
        const auto& image = View()->Buffer().m_image;
        return std::vector<uint8_t>(image.begin(), image.end());
    }

    std::vector<uint8_t> m_before;
};

TEST_F(ReadFlashDialogTest, ASuccessfulReadReachesTheImageAfterItsMessage) {
    Prepare();
    const std::string path = View()->Buffer().m_sourcePath;
    bool imageUntouchedAtMessage = false;
    m_messages.onShow = [&](const BoxShown&) { imageUntouchedAtMessage = Image() == m_before; };
    CModalDriver driver(m_sleeper, m_messages);
    const ReadState atEnd = Run(driver);

    EXPECT_EQ(atEnd.status, STATUS_SUCCESS);
    EXPECT_EQ(atEnd.range, 8192);
    EXPECT_EQ(atEnd.position, 8192);
    EXPECT_FALSE(atEnd.abortEnabled);
    // The bar is as high as its control (17 dialog units), not the theme's thin line.
    EXPECT_EQ(atEnd.barHeight, DluToPixelsY(17));
    EXPECT_GE(atEnd.drawnBarHeight, atEnd.barHeight - 2);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, MSG_READ_SUCCESS);
    EXPECT_EQ(m_messages.shown[0].caption, "Veltro 51");
    EXPECT_EQ(m_messages.shown[0].style, wxOK | wxICON_INFORMATION);
    EXPECT_TRUE(imageUntouchedAtMessage) << "the copy follows the message";

    std::vector<uint8_t> expected = m_before;
    const std::vector<uint8_t> flash = m_bus.State(0).flash;
    std::copy(flash.begin(), flash.begin() + 8192, expected.begin());
    EXPECT_EQ(Image(), expected) << "the bound's bytes come from the chip, the rest stay";
    EXPECT_EQ(View()->Buffer().m_sourcePath, path);
    EXPECT_EQ(View()->Buffer().m_imageSize, 8192);
}

// Endings that leave the image alone; each is followed by "Error : No Data Read !!!".
struct FailedReadCase {
    const char* name;
    bool plugged;
    bool abort;  // press Abort while the bar moves
    bool unplug; // the programmer vanishes after 100 blocks
    const char* status;
    std::vector<std::string> messages;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FailedReadCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadFlashFailureTest : public ReadFlashDialogTest,
                             public ::testing::WithParamInterface<FailedReadCase> {};

TEST_P(ReadFlashFailureTest, LeavesTheImageUntouched) {
    const FailedReadCase& c = GetParam();
    if (c.plugged) {
        Prepare(c.abort ? 1.0 : 0.0);
    } else {
        SelectChip(AT89S52);
        m_before = Image();
    }
    if (c.unplug) {
        // In the wait before PowerOn: request 1 is PowerOn, then the 101st block read fails.
        m_sleeper.OnSleep([this](int, size_t index) {
            if (index == 3)
                m_bus.SetFault(0, 1 + 101, 1, sim::FailKind::Unplug);
        });
    }
    CModalDriver driver(m_sleeper, m_messages);
    if (c.abort) {
        driver.When(
            "the bar moving",
            [] {
                auto* gauge = Dlg() ? dynamic_cast<wxGauge*>(Dlg()->FindWindow(IDC_READ_PROGRESS)) : nullptr;
                return gauge && gauge->GetValue() > 0 && gauge->GetValue() < 4096;
            },
            [] { ClickButton(Dlg(), IDC_READ_ABORT); });
    }
    const ReadState atEnd = Run(driver);
    EXPECT_EQ(atEnd.status, c.status);
    EXPECT_FALSE(atEnd.abortEnabled);
    std::vector<std::string> texts;
    for (const BoxShown& box : m_messages.shown) {
        texts.push_back(box.text.utf8_string());
        EXPECT_EQ(box.style, wxOK | wxICON_ERROR) << box.text;
    }
    EXPECT_EQ(texts, c.messages);
    EXPECT_EQ(Image(), m_before);
}

INSTANTIATE_TEST_SUITE_P(
    ReadFlash, ReadFlashFailureTest,
    ::testing::Values(
        FailedReadCase{"Aborted", true, true, false, STATUS_ABORTED, {MSG_NO_DATA_READ}},
        FailedReadCase{"Unplugged", true, false, true, STATUS_ERROR, {MSG_NOT_RESPONDING, MSG_NO_DATA_READ}},
        FailedReadCase{
            "NoProgrammer", false, false, false, STATUS_ERROR, {MSG_NO_PROGRAMMER, MSG_NO_DATA_READ}}),
    [](const ::testing::TestParamInfo<FailedReadCase>& info) { return std::string(info.param.name); });

// Once the read has ended, Enter presses Close, the default button.
TEST_F(ReadFlashDialogTest, EnterPressesCloseOnceTheReadHasEnded) {
    Prepare();
    bool isDefault = false;
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "Close enabled", [] { return Dlg() && IsEnabled(Dlg(), IDC_READ_CLOSE); },
        [&isDefault] {
            isDefault = Dlg()->GetDefaultItem() == Dlg()->FindWindow(IDC_READ_CLOSE);
            PressKey(Dlg(), WXK_RETURN);
        });
    driver.Start();
    Command(ID_READ_FLASH);
    ASSERT_TRUE(driver.Finished());
    EXPECT_TRUE(isDefault);
    EXPECT_FALSE(Dlg());
    EXPECT_EQ(m_messages.Texts(), (std::vector<wxString>{MSG_READ_SUCCESS}));
}

TEST_F(ReadFlashDialogTest, KeysAndClosingDoNotEndARunningRead) {
    Prepare();
    m_sleeper.HoldWhen([](int, size_t index) { return index == 0; });
    bool stayed = false;
    ReadState held;
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the worker held in its first wait", [this] { return Dlg() && m_sleeper.Holding(); },
        [this, &stayed, &held] {
            CReadFlashDlg* dlg = Dlg();
            held = Snapshot(dlg);
            PressKey(dlg, WXK_ESCAPE);
            PressKey(dlg, WXK_RETURN);
            dlg->Close();
            stayed = dlg->IsModal() && dlg->IsShown();
            m_sleeper.Release();
        });
    const ReadState atEnd = Run(driver);
    EXPECT_TRUE(stayed);
    EXPECT_FALSE(held.closeEnabled);
    EXPECT_FALSE(held.abortEnabled);
    EXPECT_EQ(atEnd.status, STATUS_SUCCESS);
    EXPECT_EQ(m_messages.Texts(), (std::vector<wxString>{MSG_READ_SUCCESS}));
}

} // namespace
