#include "ui/OstrelApp.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <strings.h>
#include <utility>

#include <wx/log.h>
#include <wx/utils.h>

#include "ui/AboutDlg.h"
#include "ui/FileChoosers.h"
#include "res/Ids.h"
#include "ui/MainFrame.h"
#include "ui/OstrelDoc.h"
#include "ui/OstrelView.h"
#include "res/GtkLook.h"
#include "res/Resources.h"
#include "ui/SplashWnd.h"

namespace {

StartupSleeper g_sleeper;
int g_rawArgc = 0;
const char* const* g_rawArgv = nullptr;

bool IsSwitch(const std::string& arg, const char* name) {
    return arg.size() > 1 && (arg[0] == '-' || arg[0] == '/') && strcasecmp(arg.c_str() + 1, name) == 0;
}

// GTK's standard options, which gtk_init takes out of the command line; the first ones take a value,
// as "--name=VALUE" or as the next argument.
constexpr const char* GTK_VALUE_OPTIONS[] = {"--display",      "--screen",     "--class",
                                             "--name",         "--gtk-module", "--gdk-debug",
                                             "--gdk-no-debug", "--gtk-debug",  "--gtk-no-debug"};
constexpr const char* GTK_FLAG_OPTIONS[] = {"--g-fatal-warnings", "--sync"};

// 0: not GTK's; 1: GTK's, alone; 2: GTK's, with the next argument as its value.
int GtkOptionLength(const std::string& arg, bool hasNext) {
    for (const char* option : GTK_FLAG_OPTIONS)
        if (arg == option)
            return 1;
    for (const char* option : GTK_VALUE_OPTIONS) {
        const std::string name(option);
        if (arg == name)
            return hasNext ? 2 : 1;
        if (arg.compare(0, name.size() + 1, name + "=") == 0)
            return 1;
    }
    return 0;
}

int HoldMilliseconds() {
    if (const char* text = std::getenv("VELTRO_TEST_HOLD_MS"); text && *text)
        return std::max(0, std::atoi(text));
    return STARTUP_HOLD_MS;
}

} // namespace

bool IsHarmlessAssert(const wxString& file, const wxString& msg) {
    // wx checks menu and window ids against the 16-bit range of another platform; the fixed command ids lie
    // above it and work on GTK.
    return (file.EndsWith("menucmn.cpp") && msg.Contains("invalid itemid")) ||
           (file.EndsWith("wincmn.cpp") && msg.Contains("invalid id value"));
}

void ReportAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
    if (IsHarmlessAssert(file, msg))
        return;
    std::fprintf(stderr, "%s(%d): assert \"%s\" failed in %s(): %s\n",
                 static_cast<const char*>(file.utf8_str()), line, static_cast<const char*>(cond.utf8_str()),
                 static_cast<const char*>(func.utf8_str()), static_cast<const char*>(msg.utf8_str()));
}

StartupOptions ParseStartupOptions(int argc, const char* const* argv) {
    StartupOptions options;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (!onlyFiles) {
            if (arg == "--") {
                onlyFiles = true;
                continue;
            }
            if (IsSwitch(arg, "Embedding") || IsSwitch(arg, "Automation")) {
                options.showSplash = false;
                continue;
            }
            if (const int n = GtkOptionLength(arg, i + 1 < argc)) {
                i += n - 1;
                continue;
            }
            // On Linux a leading '/' starts an absolute path, not a switch; "-" alone is a name.
            if (arg.size() > 1 && arg[0] == '-') {
                if (options.unknownOption.empty())
                    options.unknownOption = arg;
                continue;
            }
        }
        if (options.file.empty())
            options.file = arg;
    }
    return options;
}

StartupOptions ParseStartupOptions(int argc, const wxString* argv) {
    std::vector<std::string> bytes;
    for (int i = 0; i < argc; ++i)
        bytes.emplace_back(argv[i].fn_str());
    std::vector<const char*> pointers;
    for (const std::string& arg : bytes)
        pointers.push_back(arg.c_str());
    return ParseStartupOptions(argc, pointers.data());
}

void SetRawCommandLine(int argc, const char* const* argv) {
    g_rawArgc = argc;
    g_rawArgv = argv;
}

StartupSleeper SetStartupSleeper(StartupSleeper sleeper) {
    std::swap(sleeper, g_sleeper);
    return sleeper;
}

COstrelApp::COstrelApp() {
    // An internal check that fails is reported on stderr, never as a popup that stops the program.
    wxSetAssertHandler(ReportAssert);
    SetVendorName("Mardane");
    SetAppName("Veltro 51");
    SetAppDisplayName("Veltro 51");
    Bind(wxEVT_MENU, &COstrelApp::OnAbout, this, ID_APP_ABOUT);
}

COstrelApp::~COstrelApp() = default;

bool COstrelApp::OnInit() {
    // The tests that start the program want messages on stderr, never a popup that waits for a click.
    if (std::getenv("VELTRO_TEST_HOLD_MS") || std::getenv("VELTRO_TEST_REPORT_SHOWN"))
        delete wxLog::SetActiveTarget(new wxLogStderr);
    if (g_rawArgv)
        return StartUp(ParseStartupOptions(g_rawArgc, g_rawArgv));
    std::vector<wxString> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    return StartUp(ParseStartupOptions(argc, args.data()));
}

bool COstrelApp::StartUp(const StartupOptions& options) {
    InitPictureHandlers();
    CSplashWnd::EnableSplash(options.showSplash);
    CSplashWnd::ShowSplash(nullptr);
    // The splash stays up for the hold; its timer, already due by then, removes it once the loop runs.
    const int hold = HoldMilliseconds();
    if (g_sleeper)
        g_sleeper(hold);
    else if (hold > 0)
        wxMilliSleep(hold);

    m_doc = std::make_unique<COstrelDoc>();
    m_frame = new CMainFrame(m_doc.get());
    SetTopWindow(m_frame);
    // The splash came before its main window; it stays over that window for its last moments
    // instead of vanishing behind it.
    if (CSplashWnd* splash = CSplashWnd::Current())
        KeepOverOwner(splash, m_frame);
    if (const char* report = std::getenv("VELTRO_TEST_REPORT_SHOWN"); report && *report) {
        m_reportShown = true;
        m_frame->View()->Bind(wxEVT_PAINT, [this](wxPaintEvent& event) {
            event.Skip();
            if (m_reportShown)
                CallAfter(&COstrelApp::OnFirstPaint);
            m_reportShown = false;
        });
    }
    m_frame->Show();
    m_frame->Raise();
    m_frame->Update();
    // A file named on the command line loads as Open HEX File would, without the dialog; a failure
    // leaves a blank image and "Untitled", and the application goes on.
    if (!options.file.empty()) {
        RememberFirmwareFile(wxString(options.file.c_str(), *wxConvFileName));
        m_frame->View()->OpenFile(options.file);
    }
    return true;
}

void COstrelApp::OnFirstPaint() {
    std::printf("shown\n");
    std::fflush(stdout);
    if (const char* report = std::getenv("VELTRO_TEST_REPORT_SHOWN");
        report && wxString(report) == "exit" && m_frame)
        m_frame->Close();
}

int COstrelApp::OnExit() {
    return wxApp::OnExit();
}

int COstrelApp::FilterEvent(wxEvent& event) {
    if (CSplashWnd::PreTranslateSplash(event))
        return Event_Processed;
    // "<" and ">" are typed characters, whichever keys and shift state type them on this keyboard.
    if (event.GetEventType() == wxEVT_CHAR && m_frame) {
        const auto& key = static_cast<const wxKeyEvent&>(event);
        const wxChar c = key.GetUnicodeKey();
        auto* window = wxDynamicCast(event.GetEventObject(), wxWindow);
        if ((c == '<' || c == '>') && !(key.GetModifiers() & (wxMOD_CONTROL | wxMOD_ALT)) && window &&
            wxGetTopLevelParent(window) == m_frame) {
            wxCommandEvent command(wxEVT_MENU, c == '<' ? ID_READ_FLASH : ID_WRITE_DEVICE);
            command.SetEventObject(m_frame);
            m_frame->ProcessWindowEvent(command);
            return Event_Processed;
        }
    }
    return Event_Skip;
}

void COstrelApp::OnAbout(wxCommandEvent&) {
    CAboutDlg dialog(m_frame);
    dialog.ShowModal();
}
