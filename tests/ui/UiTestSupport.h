#pragma once
// Shared by the GUI tests: the running application, scripted message boxes and file choosers, and
// an event pump. Every test runs on a real display (xvfb-run); without one the test program fails.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/string.h>

#include "res/AppMessages.h"
#include "ui/FileChoosers.h"
#include "ui/OstrelApp.h"

class CMainFrame;
class COstrelView;
class wxWindow;

COstrelApp& TestApp();

// Runs the event loop until done() or the time is up; returns done().
bool PumpUntil(const std::function<bool()>& done, int milliseconds = 3000);
// Handles what is pending now (a few rounds of the loop).
void PumpEvents(int milliseconds = 50);

// Runs action from the event loop of the next modal dialog (or the next pump).
void CallAfterModal(std::function<void()> action);

// A fresh temporary folder, removed at the end of the test program.
std::string MakeTempDir();
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

struct ShownMessage {
    wxString text;
    wxString caption;
    long style;
};

// Records every message box while alive and answers questions from a script (Yes when empty).
class CScriptedMessages {
public:
    CScriptedMessages();
    ~CScriptedMessages();
    std::vector<ShownMessage> shown;
    std::vector<int> answers; // wxYES / wxNO, used in order
    std::vector<wxString> Texts() const;

private:
    MessageBoxHook m_previous;
};

// Answers the Open and Save choosers with scripted paths (empty: cancelled) and records the requests.
class CScriptedChoosers {
public:
    CScriptedChoosers();
    ~CScriptedChoosers();
    wxString openPath;
    wxString savePath;
    std::vector<FileChooserRequest> openRequests;
    std::vector<FileChooserRequest> saveRequests;

private:
    FileChooser m_previousOpen;
    FileChooser m_previousSave;
};

// Starts the application's main window (no splash, no hold) for one test and closes it afterwards.
// The chip selection is read from a fresh settings folder unless the test wrote one first.
class CAppFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the main window; tests that prepare settings or options call it themselves.
    void Start(const StartupOptions& options = {});
    // Closes the main window as Exit does and waits until it is gone.
    void CloseMainWindow();

    CMainFrame* Frame() const;
    COstrelView* View() const;
    std::string m_configDir;
    bool m_autoStart = true;
};

// The shift state (0 or wxMOD_SHIFT) that types the character '<' or '>' on the key that the action
// simulator presses for it, by the display's own keyboard map.
int ModifiersToType(char c);

// True once a connection to the display succeeds; an X server that is resetting refuses clients for
// a moment.
bool WaitForDisplay(int milliseconds);
// Turns the mouse wheel at (x, y) of the screen: notches up when positive, down when negative.
bool TurnWheel(int x, int y, int notches);

// The application's top-level window that window's X window is transient for (WM_TRANSIENT_FOR, as
// the window manager reads it); null when it names none of them.
wxWindow* TransientOwnerOf(wxWindow* window);

// Path of the settings file the program uses in this test.
std::string SettingsPath();
