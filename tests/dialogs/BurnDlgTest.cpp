// The burn dialog as the user sees it, through the Write Device command, against the simulator.
#include <atomic>
#include <cctype>

#include <wx/animate.h>
#include <wx/gauge.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>
#include <wx/settings.h>

#include "chips/ChipCatalogue.h"
#include "ops/Texts.h"
#include "ops/dlg/BurnDlg.h"
#include "tests/dialogs/DialogTestSupport.h"
#include "res/DialogUnits.h"
#include "res/Ids.h"
#include "ui/OstrelView.h"

namespace {

constexpr int I = ROW_IMAGE_INFORMATION;
constexpr int E = ROW_IMAGE_ERROR;
constexpr int S = ROW_IMAGE_SUCCESS;
constexpr int AT89S51 = 2;
constexpr int AT89S52 = 3;

struct Row {
    int image;
    wxString icon; // the text of column 0
    wxString time;
    wxString text;
};

struct ExpectedRow {
    int image;
    std::string text;
};

struct BurnState {
    std::vector<Row> rows;
    bool closeEnabled = false;
    bool abortEnabled = false;
    bool animationShown = false;
    int position = -1;
    int range = -1;
    wxString percent;
    wxString chipsWritten;
    wxString elapsed;
    bool lastRowVisible = false;
    int barHeight = -1;      // the control's
    int drawnBarHeight = -1; // what GTK draws of it
};

wxListCtrl* TaskList(wxWindow* dlg) {
    return dynamic_cast<wxListCtrl*>(dlg->FindWindow(IDC_BURN_TASK_LIST));
}

std::vector<Row> RowsOf(wxWindow* dlg) {
    std::vector<Row> rows;
    wxListCtrl* list = dlg ? TaskList(dlg) : nullptr;
    if (!list)
        return rows;
    for (long i = 0; i < list->GetItemCount(); ++i) {
        wxListItem item;
        item.SetId(i);
        item.SetColumn(0);
        item.SetMask(wxLIST_MASK_IMAGE | wxLIST_MASK_TEXT);
        list->GetItem(item);
        rows.push_back({item.GetImage(), item.GetText(), list->GetItemText(i, 1), list->GetItemText(i, 2)});
    }
    return rows;
}

wxString LastRowText(wxWindow* dlg) {
    wxListCtrl* list = dlg ? TaskList(dlg) : nullptr;
    if (!list || list->GetItemCount() == 0)
        return wxString();
    return list->GetItemText(list->GetItemCount() - 1, 2);
}

BurnState Snapshot(wxWindow* dlg) {
    BurnState state;
    if (!dlg) {
        ADD_FAILURE() << "no burn dialog";
        return state;
    }
    state.rows = RowsOf(dlg);
    state.closeEnabled = IsEnabled(dlg, IDC_BURN_CLOSE);
    state.abortEnabled = IsEnabled(dlg, IDC_BURN_ABORT);
    state.animationShown = dlg->FindWindow(IDC_BURN_ANIMATION)->IsShown();
    auto* gauge = dynamic_cast<wxGauge*>(dlg->FindWindow(IDC_BURN_PROGRESS));
    state.position = gauge->GetValue();
    state.range = gauge->GetRange();
    state.barHeight = gauge->GetSize().y;
    state.drawnBarHeight = DrawnHeight(gauge);
    state.percent = LabelOf(dlg, IDC_BURN_PERCENT);
    state.chipsWritten = LabelOf(dlg, IDC_BURN_CHIPS_WRITTEN);
    state.elapsed = LabelOf(dlg, IDC_BURN_ELAPSED);
    wxListCtrl* list = TaskList(dlg);
    const long last = list->GetItemCount() - 1;
    wxRect rect;
    state.lastRowVisible = last >= 0 && list->GetItemRect(last, rect) && rect.y >= 0 &&
                           rect.GetBottom() <= list->GetClientSize().y;
    return state;
}

// "hh:mm:ss AM" or "... PM", hh from 01 to 12.
bool IsRowTime(const std::string& t) {
    auto digits = [&t](size_t at) {
        return std::isdigit(static_cast<unsigned char>(t[at])) &&
               std::isdigit(static_cast<unsigned char>(t[at + 1]));
    };
    if (t.size() != 11 || !digits(0) || !digits(3) || !digits(6) || t[2] != ':' || t[5] != ':' || t[8] != ' ')
        return false;
    const int hour = std::stoi(t.substr(0, 2));
    return hour >= 1 && hour <= 12 && t[3] <= '5' && t[6] <= '5' &&
           (t.substr(9) == "AM" || t.substr(9) == "PM");
}

std::string Text(const wxString& text) {
    return text.utf8_string();
}

void ExpectRows(const std::vector<Row>& rows, size_t from, const std::vector<ExpectedRow>& expected) {
    ASSERT_GE(rows.size(), from + expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(Text(rows[from + k].text), expected[k].text) << "row " << from + k;
        EXPECT_EQ(rows[from + k].image, expected[k].image) << "row " << from + k << ": " << expected[k].text;
    }
}

// The rows of one successful chip cycle of an AT89S51 at speed code 0.
std::vector<ExpectedRow> SuccessfulCycle() {
    const ChipInfo& chip = g_chipCatalogue[AT89S51];
    const uint8_t signature[3] = {static_cast<uint8_t>(chip.signature[0]),
                                  static_cast<uint8_t>(chip.signature[1]),
                                  static_cast<uint8_t>(chip.signature[2])};
    return {{I, ROW_INITIALIZING},
            {I, ROW_DETECTING},
            {S, ROW_FOUND},
            {S, "Veltro-8051"},
            {I, ROW_TESTING},
            {S, ROW_HARDWARE_OK},
            {I, ROW_POWERING_ON},
            {S, "Powered On Level 1"},
            {S, "Powered On Level 2"},
            {S, "Powered On Level 3"},
            {S, "Powered On Level 4"},
            {I, ROW_AUTO_DETECTING},
            {S, "Found : " + ChipNameFromSignature(signature)},
            {I, "Signature : 0x1E 0x51 0x06 "},
            {I, ROW_ERASING},
            {S, ROW_ERASED},
            {I, ROW_SPEED[0]},
            {S, ROW_BURN_COMPLETED},
            {I, ROW_SPEED[0]},
            {S, ROW_VERIFY_OK},
            {S, ROW_BURN_COMPLETED},
            {I, ROW_THANKYOU}};
}

bool IsQuestion(const BoxShown& box) {
    return (box.style & wxYES_NO) && !(box.style & (wxICON_ERROR | wxICON_INFORMATION | wxICON_WARNING)) &&
           box.caption == "Veltro 51";
}

class BurnDialogTest : public CDeviceDialogFixture {
protected:
    static CBurnDlg* Dlg() { return FindShownDialog<CBurnDlg>(); }

    // The chip selected in the main window, with a test pattern in its first bytes (the rest blank).
    void PrepareImage(int chip, int dataBytes) {
        SelectChip(chip);
        auto& image = View()->Buffer().m_image;
        for (int i = 0; i < dataBytes; ++i)
            image[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 37 + 11);
    }

    std::vector<uint8_t> ImageBytes(int n) const {
        const auto& image = View()->Buffer().m_image;
        return std::vector<uint8_t>(image.begin(), image.begin() + n);
    }

    std::vector<uint8_t> ChipFlash(int device = 0, int n = -1) const {
        std::vector<uint8_t> flash = m_bus.State(device).flash;
        if (n >= 0 && static_cast<size_t>(n) < flash.size())
            flash.resize(static_cast<size_t>(n));
        return flash;
    }

    // Waits for the end of the burn, records the dialog and presses Close.
    void CloseAtTheEnd(CModalDriver& driver, BurnState& atEnd) {
        driver.When(
            "Close enabled", [] { return Dlg() && IsEnabled(Dlg(), IDC_BURN_CLOSE); },
            [&atEnd] {
                atEnd = Snapshot(Dlg());
                ClickButton(Dlg(), IDC_BURN_CLOSE);
            });
    }
};

TEST_F(BurnDialogTest, TwoChipsBurnedAsTheUserSeesThem) {
    sim::DeviceConfig config;
    config.chip = AT89S51;
    m_bus.Add(config);
    PrepareImage(AT89S51, 1000);
    g_elapsedMinutes = 42; // left from an earlier burn

    // Hold the worker once, in the pause right after the first write phase.
    std::atomic<int> pauses{0};
    m_sleeper.HoldWhen([&pauses](int ms, size_t) { return ms == 300 && pauses++ == 0; });
    std::vector<BurnState> atQuestion;
    m_messages.answers = {wxYES, wxNO};
    m_messages.onShow = [&atQuestion](const BoxShown&) { atQuestion.push_back(Snapshot(Dlg())); };

    BurnState afterWriting, atEnd;
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the first write phase done",
        [this] { return Dlg() && m_sleeper.HeldMs() == 300 && LastRowText(Dlg()) == ROW_BURN_COMPLETED; },
        [&] {
            afterWriting = Snapshot(Dlg());
            m_sleeper.Release();
        });
    CloseAtTheEnd(driver, atEnd);
    driver.Start();
    Command(ID_WRITE_DEVICE);
    ASSERT_TRUE(driver.Finished());
    EXPECT_FALSE(Dlg()) << "Close ends the dialog";

    // Half way after writing, with Close still disabled.
    EXPECT_EQ(afterWriting.range, 8192);
    EXPECT_EQ(afterWriting.position, 4096);
    EXPECT_EQ(afterWriting.percent, "50.0");
    EXPECT_FALSE(afterWriting.closeEnabled);
    EXPECT_TRUE(afterWriting.abortEnabled);
    EXPECT_TRUE(afterWriting.animationShown);
    // The bar is as high as its control (18 dialog units), not the theme's thin line.
    EXPECT_EQ(afterWriting.barHeight, DluToPixelsY(18));
    EXPECT_GE(afterWriting.drawnBarHeight, afterWriting.barHeight - 2);
    EXPECT_EQ(afterWriting.chipsWritten, "Chips Written - 0");

    // "Write More Chips ?" after each chip, Close disabled meanwhile. The bar is full after the first
    // chip's read-back and starts over for the second.
    ASSERT_EQ(m_messages.shown.size(), 2u);
    for (const BoxShown& box : m_messages.shown) {
        EXPECT_EQ(box.text, ASK_WRITE_MORE);
        EXPECT_TRUE(IsQuestion(box)) << "style " << box.style;
    }
    ASSERT_EQ(atQuestion.size(), 2u);
    EXPECT_EQ(atQuestion[0].position, 8192);
    EXPECT_EQ(atQuestion[0].percent, "100.0");
    EXPECT_EQ(atQuestion[0].chipsWritten, "Chips Written - 1");
    EXPECT_EQ(atQuestion[1].position, 8184);
    EXPECT_EQ(atQuestion[1].percent, "99.9");
    EXPECT_EQ(atQuestion[1].chipsWritten, "Chips Written - 2");
    for (const BurnState& state : atQuestion) {
        EXPECT_FALSE(state.closeEnabled);
        EXPECT_TRUE(state.abortEnabled);
    }

    // The end: Close enabled, Abort disabled, the animation gone, every row of both chips.
    EXPECT_TRUE(atEnd.closeEnabled);
    EXPECT_FALSE(atEnd.abortEnabled);
    EXPECT_FALSE(atEnd.animationShown);
    EXPECT_EQ(atEnd.chipsWritten, "Chips Written - 2");
    EXPECT_TRUE(atEnd.elapsed.StartsWith("Time Elapsed 00:00:")) << atEnd.elapsed;
    const std::vector<ExpectedRow> cycle = SuccessfulCycle();
    ASSERT_EQ(atEnd.rows.size(), 2 * cycle.size() + 1);
    ExpectRows(atEnd.rows, 0, cycle);
    ExpectRows(atEnd.rows, cycle.size(), {{I, "------------------  CHIP NO (2)  START------------------"}});
    ExpectRows(atEnd.rows, cycle.size() + 1, cycle);
    for (const Row& row : atEnd.rows) {
        EXPECT_TRUE(IsRowTime(Text(row.time))) << Text(row.time);
        EXPECT_EQ(row.icon, " ");
    }
    EXPECT_TRUE(atEnd.lastRowVisible) << "the newest row is scrolled into view";
    EXPECT_EQ(ChipFlash(0, 4096), ImageBytes(4096));
}

TEST_F(BurnDialogTest, TaskListColumnsAndRowIcons) {
    sim::DeviceConfig config;
    config.chip = -1; // a short burn
    m_bus.Add(config);
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "Close enabled", [] { return Dlg() && IsEnabled(Dlg(), IDC_BURN_CLOSE); },
        [] {
            wxListCtrl* list = TaskList(Dlg());
            const char* headings[3] = {"  ", "Time", "Tasks"};
            const int widths[3] = {24, 96, 480};
            ASSERT_EQ(list->GetColumnCount(), 3);
            for (int c = 0; c < 3; ++c) {
                wxListItem column;
                column.SetMask(wxLIST_MASK_TEXT);
                list->GetColumn(c, column);
                EXPECT_EQ(column.GetText(), headings[c]);
                EXPECT_EQ(list->GetColumnWidth(c), widths[c]);
            }
            wxImageList* icons = list->GetImageList(wxIMAGE_LIST_SMALL);
            ASSERT_TRUE(icons);
            ASSERT_EQ(icons->GetImageCount(), 3);
            const wxColour window = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
            for (int k = 0; k < 3; ++k) {
                const wxImage image = icons->GetBitmap(k).ConvertToImage();
                ASSERT_EQ(image.GetSize(), wxSize(16, 16));
                int magenta = 0, background = 0;
                for (int y = 0; y < 16; ++y) {
                    for (int x = 0; x < 16; ++x) {
                        const wxColour c(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
                        magenta += c == wxColour(255, 0, 255);
                        background += c == window;
                    }
                }
                EXPECT_EQ(magenta, 0) << "image " << k;
                EXPECT_GT(background, 0) << "image " << k;
            }
            ClickButton(Dlg(), IDC_BURN_CLOSE);
        });
    driver.Start();
    Command(ID_WRITE_DEVICE);
    EXPECT_TRUE(driver.Finished());
}

TEST_F(BurnDialogTest, WriteDeviceBurnsTheImageBoundWithTheLockSettings) {
    sim::DeviceConfig config;
    config.chip = AT89S52;
    m_bus.Add(config);
    PrepareImage(AT89S52, 8192);
    View()->Buffer().m_image[8192] = 0x00; // beyond the bound: not burned
    g_burnImage[8192] = 0x5A;
    View()->m_autoLock = true;
    View()->m_lockMode = 3;
    m_messages.answers = {wxNO};
    BurnState atEnd;
    CModalDriver driver(m_sleeper, m_messages);
    CloseAtTheEnd(driver, atEnd);
    driver.Start();
    Command(ID_WRITE_DEVICE);
    ASSERT_TRUE(driver.Finished());

    EXPECT_EQ(g_burnLastAddress, 8191);
    EXPECT_EQ(g_burnImage[8192], 0x5A);
    EXPECT_EQ(ChipFlash(0, 8192), ImageBytes(8192));
    EXPECT_EQ(m_bus.State(0).lockMode, 3);
    ASSERT_GE(atEnd.rows.size(), 4u);
    ExpectRows(
        atEnd.rows, atEnd.rows.size() - 4,
        {{I, ROW_THANKYOU}, {I, ROW_AUTO_LOCK}, {S, "Lock Mode 2 Activated"}, {S, "Lock Mode 3 Activated"}});
}

// Abort while the write phase runs: the transfers are slowed down so that the bar is caught moving.
class BurnAbortTest : public BurnDialogTest {
protected:
    // The bar has moved, and (below a position of limit) not yet into the read-back.
    static bool WritePhaseUnderWay(int limit = 1 << 30) {
        auto* gauge = Dlg() ? dynamic_cast<wxGauge*>(Dlg()->FindWindow(IDC_BURN_PROGRESS)) : nullptr;
        return gauge && gauge->GetValue() > 0 && gauge->GetValue() < limit;
    }

    void RunAbort(int answer, BurnState& atEnd) {
        sim::DeviceConfig config;
        config.chip = AT89S51;
        config.delayMs = 1.5; // about 0.8 s of writing
        m_bus.Add(config);
        PrepareImage(AT89S51, 4096);
        CModalDriver driver(m_sleeper, m_messages);
        driver.When(
            "the write phase under way", [] { return WritePhaseUnderWay(3072); },
            [] { ClickButton(Dlg(), IDC_BURN_ABORT); });
        CloseAtTheEnd(driver, atEnd);
        m_messages.answers = {answer};
        if (answer == wxNO)
            m_messages.answers.push_back(wxNO); // "Write More Chips ?"
        driver.Start();
        Command(ID_WRITE_DEVICE);
        ASSERT_TRUE(driver.Finished());
        ASSERT_FALSE(m_messages.shown.empty());
        EXPECT_EQ(m_messages.shown[0].text, ASK_ABORT_BURN);
        EXPECT_TRUE(IsQuestion(m_messages.shown[0]));
    }
};

TEST_F(BurnAbortTest, AnsweredNoTheBurnGoesOn) {
    BurnState atEnd;
    RunAbort(wxNO, atEnd);
    EXPECT_EQ(m_messages.Texts(), (std::vector<wxString>{ASK_ABORT_BURN, ASK_WRITE_MORE}));
    for (const Row& row : atEnd.rows)
        EXPECT_NE(row.text, ROW_ABORTING);
    ASSERT_FALSE(atEnd.rows.empty());
    EXPECT_EQ(atEnd.rows.back().text, ROW_THANKYOU);
    EXPECT_EQ(atEnd.chipsWritten, "Chips Written - 1");
    EXPECT_EQ(ChipFlash(0, 4096), ImageBytes(4096));
}

TEST_F(BurnAbortTest, AnsweredYesTheWorkerEndsWithinTheWait) {
    BurnState atEnd;
    RunAbort(wxYES, atEnd);
    // No "Cannot End Burner Thread": the worker ended inside the wait, its updates still served.
    EXPECT_EQ(m_messages.Texts(), (std::vector<wxString>{ASK_ABORT_BURN}));
    ASSERT_GE(atEnd.rows.size(), 2u);
    ExpectRows(atEnd.rows, atEnd.rows.size() - 2, {{E, ROW_ABORTING}, {E, ROW_ABORTED}});
    EXPECT_TRUE(atEnd.closeEnabled);
    EXPECT_FALSE(atEnd.abortEnabled);
    EXPECT_EQ(atEnd.position, 2 * 4095) << "the abort ending moves the bar to 2L";
    EXPECT_EQ(g_burnRunning.load(), 0);
    const std::vector<uint8_t> flash = ChipFlash(0, 4096);
    EXPECT_NE(flash, ImageBytes(4096)) << "the write phase stopped part way";
    EXPECT_EQ(flash[0], ImageBytes(1)[0]);
}

// The wait of Abort serves user input: a Close clicked while it waits, after the worker has enabled
// Close on its way out, does nothing; the dialog stays until Abort has added its last row.
TEST_F(BurnAbortTest, CloseDuringTheAbortsWaitWaitsForIt) {
    sim::DeviceConfig config;
    config.chip = AT89S51;
    config.delayMs = 1.5;
    m_bus.Add(config);
    PrepareImage(AT89S51, 4096);
    // The worker's ending, after it enabled Close, waits here until the test lets it go.
    m_sleeper.HoldWhen([](int ms, size_t) { return ms == 500 && g_burnAbort.load() != 0; });
    m_messages.answers = {wxYES};
    bool shownAfterClose = false;
    BurnState atEnd;
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the write phase under way", [] { return WritePhaseUnderWay(); },
        // Pressed from the event loop, so that the driver goes on while Abort waits.
        [] { wxTheApp->CallAfter([] { ClickButton(Dlg(), IDC_BURN_ABORT); }); });
    driver.When(
        "Close enabled while Abort waits",
        [this] { return Dlg() && m_sleeper.Holding() && IsEnabled(Dlg(), IDC_BURN_CLOSE); },
        [this, &shownAfterClose] {
            ClickButton(Dlg(), IDC_BURN_CLOSE);
            shownAfterClose = Dlg() != nullptr && Dlg()->IsModal();
            m_sleeper.Release();
        });
    driver.When(
        "Abort's last row",
        [] {
            if (!Dlg())
                return false;
            const BurnState now = Snapshot(Dlg());
            return !now.rows.empty() && now.rows.back().text == ROW_ABORTED;
        },
        [&atEnd] {
            atEnd = Snapshot(Dlg());
            ClickButton(Dlg(), IDC_BURN_CLOSE);
        });
    driver.Start();
    Command(ID_WRITE_DEVICE);
    ASSERT_TRUE(driver.Finished());
    EXPECT_TRUE(shownAfterClose) << "Close ended the dialog inside Abort's wait";
    ASSERT_GE(atEnd.rows.size(), 2u);
    ExpectRows(atEnd.rows, atEnd.rows.size() - 2, {{E, ROW_ABORTING}, {E, ROW_ABORTED}});
    EXPECT_FALSE(Dlg());
}

// A close that cannot be refused (the session ends) while the worker runs: the dialog ends its worker
// before any member the worker uses is gone (a sanitizer build sees any use after that), and the
// target is powered off.
TEST_F(BurnAbortTest, AForcedCloseEndsTheWorkerBeforeTheDialogGoes) {
    sim::DeviceConfig config;
    config.chip = AT89S51;
    config.delayMs = 1.5;
    m_bus.Add(config);
    PrepareImage(AT89S51, 4096);
    m_messages.answers = {wxNO};
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the write phase under way", [] { return WritePhaseUnderWay(); }, [] { Dlg()->Close(true); });
    driver.Start();
    Command(ID_WRITE_DEVICE);
    ASSERT_TRUE(driver.Finished());
    EXPECT_FALSE(Dlg());
    EXPECT_EQ(g_burnRunning.load(), 0);
    EXPECT_FALSE(m_bus.State(0).powered);
}

struct FailureCase {
    const char* name;
    int chip; // -2: no programmer at all, -1: empty socket
    bool stallFirstWrite;
    std::vector<ExpectedRow> lastRows;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class BurnFailureTest : public BurnDialogTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BurnFailureTest, EndsWithItsRowsAndCloseEnabled) {
    const FailureCase& c = GetParam();
    if (c.chip >= -1) {
        sim::DeviceConfig config;
        config.chip = c.chip;
        m_bus.Add(config);
    }
    PrepareImage(AT89S51, 4096);
    if (c.stallFirstWrite) {
        // After the erase's wait: GetSpeed passes, the first block write stalls.
        m_sleeper.OnSleep([this](int, size_t index) {
            if (index == 7)
                m_bus.SetFault(0, 2, 1, sim::FailKind::Stall);
        });
    }
    BurnState atEnd;
    CModalDriver driver(m_sleeper, m_messages);
    CloseAtTheEnd(driver, atEnd);
    driver.Start();
    Command(ID_WRITE_DEVICE);
    ASSERT_TRUE(driver.Finished());
    EXPECT_TRUE(m_messages.shown.empty()) << "a failed burn reports in rows only";
    EXPECT_FALSE(atEnd.abortEnabled);
    EXPECT_FALSE(atEnd.animationShown);
    EXPECT_EQ(atEnd.chipsWritten, "Chips Written - 0");
    ASSERT_GE(atEnd.rows.size(), c.lastRows.size());
    ExpectRows(atEnd.rows, atEnd.rows.size() - c.lastRows.size(), c.lastRows);
}

INSTANTIATE_TEST_SUITE_P(
    Burn, BurnFailureTest,
    ::testing::Values(FailureCase{"NoProgrammer", -2, false, {{I, ROW_DETECTING}, {E, ROW_NO_PROGRAMMER}}},
                      FailureCase{"EmptySocket", -1, false, {{E, ROW_NO_CHIP}, {I, ROW_INSERT_CHIP}}},
                      FailureCase{"FirstWriteStalls",
                                  AT89S51,
                                  true,
                                  {{E, ROW_BURN_FAILED}, {E, ROW_NOT_RESPONDING}, {I, ROW_RECONNECT_UPPER}}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(BurnDialogTest, KeysAndClosingDoNotEndARunningBurn) {
    sim::DeviceConfig config;
    config.chip = -1;
    m_bus.Add(config);
    m_sleeper.HoldWhen([](int, size_t index) { return index == 0; });
    bool stayed = false;
    CModalDriver driver(m_sleeper, m_messages);
    driver.When(
        "the worker held in its first wait", [this] { return Dlg() && m_sleeper.Holding(); },
        [this, &stayed] {
            CBurnDlg* dlg = Dlg();
            PressKey(dlg, WXK_ESCAPE);
            PressKey(dlg, WXK_RETURN);
            dlg->Close();
            stayed = dlg->IsModal() && dlg->IsShown();
            m_sleeper.Release();
        });
    // Once Close is available, Escape is Close.
    driver.When(
        "Close enabled", [] { return Dlg() && IsEnabled(Dlg(), IDC_BURN_CLOSE); },
        [] { PressKey(Dlg(), WXK_ESCAPE); });
    driver.Start();
    Command(ID_WRITE_DEVICE);
    ASSERT_TRUE(driver.Finished());
    EXPECT_TRUE(stayed);
    EXPECT_FALSE(Dlg());
}

// Once the worker has ended, Enter presses Close, the default button, as the keypad's Enter does.
TEST_F(BurnDialogTest, EnterPressesCloseOnceTheBurnHasEnded) {
    sim::DeviceConfig config;
    config.chip = -1;
    m_bus.Add(config);
    for (const int key : {WXK_RETURN, WXK_NUMPAD_ENTER}) {
        SCOPED_TRACE(key);
        bool isDefault = false;
        CModalDriver driver(m_sleeper, m_messages);
        driver.When(
            "Close enabled", [] { return Dlg() && IsEnabled(Dlg(), IDC_BURN_CLOSE); },
            [&isDefault, key] {
                isDefault = Dlg()->GetDefaultItem() == Dlg()->FindWindow(IDC_BURN_CLOSE);
                PressKey(Dlg(), key);
            });
        driver.Start();
        Command(ID_WRITE_DEVICE);
        ASSERT_TRUE(driver.Finished());
        EXPECT_TRUE(isDefault);
        EXPECT_FALSE(Dlg());
    }
}

TEST_F(BurnDialogTest, ElapsedTimeCountsOnlyWhileABurnRuns) {
    CBurnDlg dlg; // never shown: no worker
    dlg.TransferDataToWindow();
    EXPECT_EQ(LabelOf(&dlg, IDC_BURN_ELAPSED), "Time Elapsed 00:00:00");
    wxTimer timer;
    wxTimerEvent tick(timer);
    g_elapsedHours = g_elapsedMinutes = g_elapsedSeconds = 0;
    g_burnRunning = 1;
    const struct {
        int ticks;
        const char* label;
    } steps[] = {{59, "Time Elapsed 00:00:59"},
                 {1, "Time Elapsed 00:01:00"},
                 {3539, "Time Elapsed 00:59:59"},
                 {1, "Time Elapsed 01:00:00"}};
    for (const auto& step : steps) {
        for (int k = 0; k < step.ticks; ++k)
            dlg.OnTimer(tick);
        EXPECT_EQ(LabelOf(&dlg, IDC_BURN_ELAPSED), step.label);
    }
    g_burnRunning = 0;
    dlg.OnTimer(tick);
    EXPECT_EQ(LabelOf(&dlg, IDC_BURN_ELAPSED), "Time Elapsed 01:00:00") << "stands still without a worker";
}

} // namespace
