#pragma once
// The application: start-up with the splash and its hold, the main window, the About command, and
// the event filter that hides the splash and turns the typed characters "<" and ">" into Read Flash
// and Write Device.

#include <functional>
#include <memory>
#include <string>

#include <wx/app.h>
#include <wx/string.h>
#include <wx/weakref.h>

#include "ui/MainFrame.h"
class COstrelDoc;

// What the command line asks for. Switches begin with '-' or '/'; "Embedding" and "Automation"
// (any case) suppress the splash. The first other argument names a file to open, as its bytes: a
// name that is not UTF-8 still names its file. An argument that begins with '/' and is not a known
// switch is a path; after "--" every argument is a file name. GTK's own options (--display and the
// like, with their values) are GTK's. Any other argument that begins with '-' is an unknown
// option: the first one is kept in unknownOption, and the program refuses to start.
struct StartupOptions {
    bool showSplash = true;
    std::string file;
    std::string unknownOption;
};
StartupOptions ParseStartupOptions(int argc, const char* const* argv);
StartupOptions ParseStartupOptions(int argc, const wxString* argv);

// The command line as main received it, before the toolkit converted it (and dropped what was not
// UTF-8). Without it, OnInit reads the toolkit's arguments.
void SetRawCommandLine(int argc, const char* const* argv);

constexpr int STARTUP_HOLD_MS = 3800;

// The program's assert handler: prints to stderr and returns, never a popup. Asserts that are known
// to be harmless here (see IsHarmlessAssert) are not printed.
void ReportAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg);
bool IsHarmlessAssert(const wxString& file, const wxString& msg);

// The hold after the splash is shown. Tests replace the sleeper; an empty function restores
// wxMilliSleep. The environment variable VELTRO_TEST_HOLD_MS, when set, replaces the 3800 ms: it is
// meant for the tests that start the real program, and nothing else sets it.
using StartupSleeper = std::function<void(int milliseconds)>;
StartupSleeper SetStartupSleeper(StartupSleeper sleeper);

class COstrelApp : public wxApp {
public:
    COstrelApp();
    ~COstrelApp() override;

    bool OnInit() override;
    int OnExit() override;
    int FilterEvent(wxEvent& event) override;

    // Start-up after the command line was read: splash, hold, main window, the named file. False
    // when the main window could not be made.
    bool StartUp(const StartupOptions& options);

    void OnAbout(wxCommandEvent& event);

    CMainFrame* MainFrame() const { return m_frame.get(); }
    COstrelDoc* Document() const { return m_doc.get(); }

private:
    void OnFirstPaint();

    std::unique_ptr<COstrelDoc> m_doc;
    wxWeakRef<CMainFrame> m_frame; // null once the window is gone
    bool m_reportShown = false;
};
