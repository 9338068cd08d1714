#pragma once
// Shared by the dialog tests: the main window with a simulated programmer, a sleeper that returns at
// once (and can hold the worker at a chosen wait), message boxes answered by script, and a driver
// that acts on a modal dialog from inside its event loop.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/timer.h>

#include "ops/Sleeper.h"
#include "sim/SimApi.h"
#include "tests/ui/UiTestSupport.h"

// The first shown top-level window of type T, or null.
template <class T> T* FindShownDialog() {
    for (wxWindow* window : wxTopLevelWindows)
        if (auto* dialog = dynamic_cast<T*>(window); dialog && dialog->IsShown())
            return dialog;
    return nullptr;
}

// Returns at once from every wait and records it. A worker can be held at a wait: hold(ms, index)
// decides on the worker's thread, and the worker stays in that Sleep until Release.
class CTestSleeper : public ISleeper {
public:
    void Sleep(int ms) override;
    std::vector<int> Waits() const;

    // Called on the worker thread inside Sleep (before a possible hold), e.g. to inject a fault.
    void OnSleep(std::function<void(int ms, size_t index)> hook);
    // Holds the worker in the wait for which hold returns true.
    void HoldWhen(std::function<bool(int ms, size_t index)> hold);
    bool Holding() const;  // a worker is held now
    int HeldMs() const;    // the wait it is held in
    void Release();        // lets the held worker go
    void ReleaseForever(); // no more holds (a test that failed)

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::vector<int> m_waits;
    std::function<void(int, size_t)> m_onSleep;
    std::function<bool(int, size_t)> m_hold;
    bool m_holding = false;
    int m_heldMs = 0;
    bool m_free = false;
};

struct BoxShown {
    wxString text;
    wxString caption;
    long style;
};

// Answers every message box while alive: OK for messages, the scripted answers for Yes/No questions
// in order (a question beyond the script fails the test and gets No). onShow runs first, on the UI
// thread, while the box would be open.
class CMessageScript {
public:
    CMessageScript();
    ~CMessageScript();
    std::vector<BoxShown> shown;
    std::vector<int> answers; // wxYES / wxNO
    std::function<void(const BoxShown&)> onShow;
    std::vector<wxString> Texts() const;
    bool emergency = false; // answer No to everything, silently

private:
    MessageBoxHook m_previous;
};

// Acts on modal dialogs from a timer: each step waits until its condition holds, then acts once. A
// step that is not reached within the time limit fails the test; the driver then releases the
// worker, answers No and ends every device dialog, so that the test cannot hang.
class CModalDriver : public wxTimer {
public:
    CModalDriver(CTestSleeper& sleeper, CMessageScript& messages, int limitMs = 20000);
    ~CModalDriver() override;
    void When(std::string what, std::function<bool()> condition, std::function<void()> action);
    void Start();
    bool Finished() const { return m_next == m_steps.size(); }
    void Notify() override;

private:
    void GiveUp();
    struct Step {
        std::string what;
        std::function<bool()> condition;
        std::function<void()> action;
    };
    CTestSleeper& m_sleeper;
    CMessageScript& m_messages;
    int m_limitMs;
    std::vector<Step> m_steps;
    size_t m_next = 0;
    bool m_busy = false;
    bool m_gaveUp = false;
    long long m_deadline = 0;
};

// Presses a button (which must be enabled) or toggles a check box as a click does.
void ClickButton(wxWindow* dialog, int id);
void ClickCheckBox(wxWindow* dialog, int id);
// Sends a key to the dialog as the keyboard does first (the char hook).
void PressKey(wxWindow* dialog, int keyCode);
bool IsEnabled(wxWindow* dialog, int id);
// How many rows of the control's middle column its drawing covers (pixels that differ from the
// dialog's background), the control drawn off screen as GTK draws it; -1 when it cannot be drawn.
int DrawnHeight(wxWindow* control);
wxString LabelOf(wxWindow* dialog, int id);

// The main window over a simulated bus (the test plugs its programmers in), the test sleeper in every
// device dialog, and a message script.
class CDeviceDialogFixture : public CAppFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    // Sends a command to the main window as its menu does; returns when its dialog has closed.
    void Command(int id);
    void SelectChip(int index);

    sim::CSimBus m_bus;
    CTestSleeper m_sleeper;
    CMessageScript m_messages;
};
