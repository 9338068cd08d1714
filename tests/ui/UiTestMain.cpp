// The GUI tests' main: starts the toolkit on the display (failing without one), makes every assert
// and log message go to stderr and fail the test, then runs the tests.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/log.h>
#include <wx/time.h>
#include <wx/utils.h>

#include "chips/Settings.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainFrame.h"
#include "ui/OstrelDoc.h"
#include "ui/OstrelView.h"

namespace {

std::vector<std::string> g_tempDirs;

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    if (IsHarmlessAssert(file, msg))
        return;
    ReportAssert(file, line, func, cond, msg);
    ADD_FAILURE() << "wx assert: " << cond.utf8_string() << " " << msg.utf8_string() << " at "
                  << file.utf8_string() << ":" << line;
}

class CFailingLog : public wxLog {
protected:
    void DoLogTextAtLevel(wxLogLevel level, const wxString& text) override {
        std::fprintf(stderr, "wx log: %s\n", static_cast<const char*>(text.utf8_str()));
        if (level <= wxLOG_Error)
            ADD_FAILURE() << "wx error logged: " << text.utf8_string();
    }
};

} // namespace

COstrelApp& TestApp() {
    return *static_cast<COstrelApp*>(wxTheApp);
}

bool PumpUntil(const std::function<bool()>& done, int milliseconds) {
    const wxLongLong deadline = wxGetLocalTimeMillis() + milliseconds;
    while (!done()) {
        if (wxGetLocalTimeMillis() > deadline)
            return false;
        wxTheApp->Yield(true);
        wxTheApp->ProcessIdle();
        wxMilliSleep(2);
    }
    return true;
}

void PumpEvents(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

void CallAfterModal(std::function<void()> action) {
    wxTheApp->CallAfter(std::move(action));
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/veltro-ui-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir)
        return "/tmp";
    g_tempDirs.emplace_back(dir);
    return dir;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

CScriptedMessages::CScriptedMessages() {
    m_previous = SetMessageBoxHook([this](const wxString& text, const wxString& caption, long style) {
        shown.push_back({text, caption, style});
        if (style & wxYES_NO) {
            int answer = wxYES;
            if (!answers.empty()) {
                answer = answers.front();
                answers.erase(answers.begin());
            }
            return answer;
        }
        return static_cast<int>(wxOK);
    });
}

CScriptedMessages::~CScriptedMessages() {
    SetMessageBoxHook(m_previous);
}

std::vector<wxString> CScriptedMessages::Texts() const {
    std::vector<wxString> texts;
    for (const auto& m : shown)
        texts.push_back(m.text);
    return texts;
}

CScriptedChoosers::CScriptedChoosers() {
    m_previousOpen = SetOpenFileChooser([this](const FileChooserRequest& request) {
        openRequests.push_back(request);
        return openPath;
    });
    m_previousSave = SetSaveFileChooser([this](const FileChooserRequest& request) {
        saveRequests.push_back(request);
        return savePath;
    });
}

CScriptedChoosers::~CScriptedChoosers() {
    SetOpenFileChooser(m_previousOpen);
    SetSaveFileChooser(m_previousSave);
}

std::string SettingsPath() {
    return CIniSettingsStore::DefaultPath();
}

void CAppFixture::SetUp() {
    m_configDir = MakeTempDir();
    ::setenv("XDG_CONFIG_HOME", m_configDir.c_str(), 1);
    SetStartupSleeper([](int) {});
    if (m_autoStart)
        Start();
}

void CAppFixture::Start(const StartupOptions& options) {
    StartupOptions quiet = options;
    quiet.showSplash = false;
    ASSERT_TRUE(TestApp().StartUp(quiet));
    ASSERT_TRUE(Frame());
    ASSERT_TRUE(PumpUntil([this] { return Frame()->IsShownOnScreen() && View()->GetClientSize().y > 0; }));
    PumpEvents();
}

void CAppFixture::CloseMainWindow() {
    if (!Frame())
        return;
    Frame()->Close(true);
    EXPECT_TRUE(PumpUntil([this] { return Frame() == nullptr; }));
}

void CAppFixture::TearDown() {
    CloseMainWindow();
    SetStartupSleeper({});
}

CMainFrame* CAppFixture::Frame() const {
    return TestApp().MainFrame();
}
COstrelView* CAppFixture::View() const {
    return Frame() ? Frame()->View() : nullptr;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    // Nothing of the tests may reach the user's own settings.
    const std::string home = MakeTempDir();
    ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    wxApp::SetInstance(new COstrelApp);
    if (!WaitForDisplay(3000) || !wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "The GUI tests need a display (run them under xvfb-run).\n");
        return 1;
    }
    wxSetAssertHandler(FailOnAssert);
    wxTheApp->SetExitOnFrameDelete(false);
    delete wxLog::SetActiveTarget(new CFailingLog);
    // The loop the tests pump: wxApp's main loop is never run here.
    wxEventLoop loop;
    wxEventLoopBase::SetActive(&loop);
    const int result = RUN_ALL_TESTS();
    wxEventLoopBase::SetActive(nullptr);
    wxTheApp->OnExit();
    wxEntryCleanup();
    for (const auto& dir : g_tempDirs) {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
    }
    return result;
}
