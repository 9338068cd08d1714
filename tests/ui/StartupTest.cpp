// Start-up: command line, splash and hold, and the chip selection kept between runs.
#include <filesystem>

#include <wx/display.h>

#include "chips/ChipCatalogue.h"
#include "tests/ui/UiTestSupport.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"
#include "ui/OstrelView.h"
#include "ui/SplashWnd.h"

namespace {

TEST(StartupOptions, SwitchesAndFileName) {
    struct Case {
        std::vector<const char*> args;
        bool splash;
        const char* file;
        const char* unknown = "";
    };
    const Case cases[] = {
        {{}, true, ""},
        {{"-Embedding"}, false, ""},
        {{"/embedding"}, false, ""},
        {{"-AUTOMATION"}, false, ""},
        {{"/Automation", "fw.hex"}, false, "fw.hex"},
        {{"-Embed"}, true, "", "-Embed"},
        {{"/home/user/fw.hex"}, true, "/home/user/fw.hex"},
        {{"-x", "a.hex", "b.hex"}, true, "a.hex", "-x"},
        {{"a.hex", "--bogus", "--help2"}, true, "a.hex", "--bogus"},
        // GTK's own options and their values are not files; after "--" a name may begin with '-'.
        {{"--display", ":7", "--class=V", "--g-fatal-warnings", "fw.hex"}, true, "fw.hex"},
        {{"--", "-x.hex", "--bogus"}, true, "-x.hex"},
        {{"-"}, true, "-"},
        // A name that is not UTF-8 is kept as its bytes.
        {{"caf\xE9.hex"}, true, "caf\xE9.hex"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"veltro51"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const StartupOptions options = ParseStartupOptions(static_cast<int>(argv.size()), argv.data());
        SCOPED_TRACE(argv.size() > 1 ? argv[1] : "");
        EXPECT_EQ(options.showSplash, c.splash);
        EXPECT_EQ(options.file, c.file);
        EXPECT_EQ(options.unknownOption, c.unknown);
    }
}

class StartupTest : public CAppFixture {
protected:
    StartupTest() { m_autoStart = false; }
    void TearDown() override {
        if (CSplashWnd* splash = CSplashWnd::Current())
            splash->HideSplash();
        PumpEvents(20);
        CAppFixture::TearDown();
    }
    // Starts as the program does, with the splash when the options ask for it, and records what the
    // hold saw.
    void StartWithSplash(const StartupOptions& options) {
        SetStartupSleeper([this](int ms) {
            m_holdMs = ms;
            CSplashWnd* splash = CSplashWnd::Current();
            m_splashPaintedBeforeHold = splash && splash->HasBeenPainted();
            if (splash)
                m_splashRect = splash->GetScreenRect();
        });
        ASSERT_TRUE(TestApp().StartUp(options));
        ASSERT_TRUE(PumpUntil([this] { return Frame() && Frame()->IsShownOnScreen(); }));
    }
    int m_holdMs = -1;
    bool m_splashPaintedBeforeHold = false;
    wxRect m_splashRect;
};

TEST_F(StartupTest, SplashIsPaintedCentredBeforeTheHoldAndLeavesOnItsTimer) {
    StartWithSplash({});
    EXPECT_EQ(m_holdMs, 3800);
    EXPECT_TRUE(m_splashPaintedBeforeHold);
    EXPECT_EQ(m_splashRect.GetSize(), wxSize(480, 320));
    const wxRect screen = wxDisplay(0u).GetClientArea();
    EXPECT_NEAR(m_splashRect.GetLeft() - screen.GetLeft(), screen.GetRight() - m_splashRect.GetRight(), 2);
    EXPECT_NEAR(m_splashRect.GetTop() - screen.GetTop(), screen.GetBottom() - m_splashRect.GetBottom(), 2);
    CSplashWnd* splash = CSplashWnd::Current();
    ASSERT_TRUE(splash) << "still up after the hold, until its timer is handled";
    EXPECT_EQ(TransientOwnerOf(splash), Frame()) << "kept over the main window, which came after it";
    EXPECT_TRUE(splash->Timer().IsRunning());
    EXPECT_EQ(splash->Timer().GetInterval(), 3500);
    wxTimerEvent tick(splash->Timer());
    splash->ProcessWindowEvent(tick);
    EXPECT_EQ(CSplashWnd::Current(), nullptr);
}

TEST_F(StartupTest, FirstKeyOrButtonPressHidesTheSplashAndIsConsumed) {
    struct Case {
        wxEventType type;
        bool hides;
    };
    const Case cases[] = {{wxEVT_KEY_UP, false},      {wxEVT_MOTION, false},    {wxEVT_LEFT_UP, false},
                          {wxEVT_LEFT_DCLICK, false}, {wxEVT_KEY_DOWN, true},   {wxEVT_CHAR_HOOK, true},
                          {wxEVT_LEFT_DOWN, true},    {wxEVT_RIGHT_DOWN, true}, {wxEVT_MIDDLE_DOWN, true}};
    StartWithSplash({});
    for (const Case& c : cases) {
        CSplashWnd::EnableSplash(true);
        CSplashWnd::ShowSplash(nullptr);
        ASSERT_TRUE(CSplashWnd::Current());
        wxKeyEvent key(c.type);
        wxMouseEvent mouse(c.type);
        const bool isKey = c.type == wxEVT_KEY_DOWN || c.type == wxEVT_KEY_UP || c.type == wxEVT_CHAR_HOOK;
        wxEvent& event = isKey ? static_cast<wxEvent&>(key) : static_cast<wxEvent&>(mouse);
        event.SetEventObject(Frame()->View());
        const int result = TestApp().FilterEvent(event);
        EXPECT_EQ(result == wxEventFilter::Event_Processed, c.hides) << c.type;
        EXPECT_EQ(CSplashWnd::Current() == nullptr, c.hides) << c.type;
        if (CSplashWnd* splash = CSplashWnd::Current())
            splash->HideSplash();
        PumpEvents(10);
    }
    // With no splash, a press goes on to its window.
    wxKeyEvent key(wxEVT_KEY_DOWN);
    EXPECT_EQ(TestApp().FilterEvent(key), wxEventFilter::Event_Skip);
}

TEST_F(StartupTest, EmbeddingShowsNoSplashButStillHolds) {
    StartupOptions options;
    options.showSplash = false;
    StartWithSplash(options);
    EXPECT_EQ(m_holdMs, 3800);
    EXPECT_FALSE(m_splashPaintedBeforeHold);
    EXPECT_EQ(CSplashWnd::Current(), nullptr);
    EXPECT_EQ(Frame()->GetTitle(), "Untitled - Veltro 51");
}

TEST_F(StartupTest, ChipSelectionIsRestoredAndStoredOnExit) {
    struct Case {
        const char* stored;
        int restored;
        const char* pane;
    };
    const Case cases[] = {{nullptr, 0, "AT89S2051"},
                          {"[State]\nSelectedChip=3\n", 3, "AT89S52"},
                          {"[State]\nSelectedChip=7\n", 0, "AT89S2051"},
                          {"[State]\nSelectedChip=-1\n", 0, "AT89S2051"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pane);
        m_configDir = MakeTempDir();
        ::setenv("XDG_CONFIG_HOME", m_configDir.c_str(), 1);
        if (c.stored) {
            std::filesystem::create_directories(m_configDir + "/Mardane");
            WriteFile(SettingsPath(), c.stored);
        }
        Start();
        Frame()->UpdateWindowUI(wxUPDATE_UI_RECURSE);
        EXPECT_EQ(g_selectedChip, c.restored);
        EXPECT_EQ(View()->Buffer().m_imageSize, g_chipCatalogue[c.restored].flashSize);
        EXPECT_EQ(Frame()->GetStatusBar()->GetStatusText(1), c.pane);
        wxCommandEvent choose(wxEVT_MENU, ID_CHIP_FIRST + 4);
        Frame()->ProcessWindowEvent(choose);
        EXPECT_EQ(ReadFile(SettingsPath()), c.stored ? c.stored : "") << "not written while running";
        wxCommandEvent exit(wxEVT_MENU, ID_APP_EXIT); // File > Exit
        Frame()->ProcessWindowEvent(exit);
        EXPECT_TRUE(PumpUntil([this] { return Frame() == nullptr; }));
        EXPECT_NE(ReadFile(SettingsPath()).find("SelectedChip=4"), std::string::npos);
    }
}

} // namespace
