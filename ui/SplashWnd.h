#pragma once
// The splash picture shown at start-up: a borderless window centred on the screen that removes
// itself on its timer or at the first key or mouse press. User-interface thread only.

#include <wx/bitmap.h>
#include <wx/frame.h>
#include <wx/timer.h>

class CSplashWnd : public wxFrame {
public:
    static constexpr int SPLASH_TIMER_MS = 3500;

    static void EnableSplash(bool enable);
    // Shows the splash and returns once it has been painted, unless splashes are disabled, one is
    // already shown, or the picture is missing.
    static void ShowSplash(wxWindow* parent);
    // Hides the splash when the event is a key or mouse-button press; true when it did (the event
    // is then consumed).
    static bool PreTranslateSplash(const wxEvent& event);
    static CSplashWnd* Current() { return s_splash; }
    static bool IsEnabled() { return s_splashEnabled; }

    ~CSplashWnd() override;
    void HideSplash();
    bool HasBeenPainted() const { return m_painted; }
    wxTimer& Timer() { return m_timer; }

private:
    CSplashWnd(wxWindow* parent, const wxBitmap& bitmap);
    void OnPaint(wxPaintEvent& event);
    void OnTimer(wxTimerEvent& event);

    wxBitmap m_bitmap;
    wxTimer m_timer;
    bool m_painted = false;
    static CSplashWnd* s_splash;
    static bool s_splashEnabled;
};
