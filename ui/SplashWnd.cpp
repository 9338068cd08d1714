#include "ui/SplashWnd.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/evtloop.h>
#include <wx/time.h>

#include "res/Ids.h"
#include "res/Resources.h"

CSplashWnd* CSplashWnd::s_splash = nullptr;
bool CSplashWnd::s_splashEnabled = true;

void CSplashWnd::EnableSplash(bool enable) {
    s_splashEnabled = enable;
}

CSplashWnd::CSplashWnd(wxWindow* parent, const wxBitmap& bitmap)
    : wxFrame(parent, wxID_ANY, wxString(), wxDefaultPosition, bitmap.GetSize(),
              wxBORDER_NONE | wxRESIZE_BORDER | wxFRAME_NO_TASKBAR | (parent ? wxFRAME_FLOAT_ON_PARENT : 0)),
      m_bitmap(bitmap), m_timer(this, 1) {
    // GTK sizes a window that cannot be resized by its contents, which would leave it 1 x 1: the
    // window is resizable, and its size hints hold it at the picture's size.
    SetSizeHints(bitmap.GetSize(), bitmap.GetSize());
    SetClientSize(bitmap.GetSize());
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CSplashWnd::OnPaint, this);
    Bind(wxEVT_TIMER, &CSplashWnd::OnTimer, this);
    CentreOnScreen();
    m_timer.StartOnce(SPLASH_TIMER_MS);
}

CSplashWnd::~CSplashWnd() {
    if (s_splash == this)
        s_splash = nullptr;
}

void CSplashWnd::ShowSplash(wxWindow* parent) {
    if (!s_splashEnabled || s_splash)
        return;
    const wxBitmap bitmap = LoadResourceBitmap(IDB_SPLASH);
    if (!bitmap.IsOk())
        return;
    s_splash = new CSplashWnd(parent, bitmap);
    s_splash->Show();
    // A window shown just before a blocking wait is never painted: let the toolkit map and paint it
    // first. A display that never paints it is not waited for longer than a second.
    const wxLongLong deadline = wxGetLocalTimeMillis() + 1000;
    while (s_splash && !s_splash->m_painted && wxGetLocalTimeMillis() < deadline) {
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive(); loop && loop->Pending())
            loop->Dispatch();
        else
            wxTheApp->Yield(true);
        if (s_splash && !s_splash->m_painted)
            wxMilliSleep(1);
    }
}

bool CSplashWnd::PreTranslateSplash(const wxEvent& event) {
    if (!s_splash)
        return false;
    const wxEventType type = event.GetEventType();
    // GTK reports a key press first as wxEVT_CHAR_HOOK, then applies the accelerators, then sends
    // wxEVT_KEY_DOWN: the press must be taken at the first of these.
    if (type == wxEVT_CHAR_HOOK || type == wxEVT_KEY_DOWN || type == wxEVT_LEFT_DOWN ||
        type == wxEVT_RIGHT_DOWN || type == wxEVT_MIDDLE_DOWN || type == wxEVT_AUX1_DOWN ||
        type == wxEVT_AUX2_DOWN) {
        s_splash->HideSplash();
        return true;
    }
    return false;
}

void CSplashWnd::HideSplash() {
    m_timer.Stop();
    if (s_splash == this)
        s_splash = nullptr;
    Hide();
    Destroy();
    // Repaint what the splash covered at once.
    if (wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr; top && top != this && top->IsShown())
        top->Update();
}

void CSplashWnd::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.DrawBitmap(m_bitmap, 0, 0, false);
    // GTK may paint the window once before it has its size; only a paint of the whole picture counts.
    if (GetClientSize() == m_bitmap.GetSize())
        m_painted = true;
}

void CSplashWnd::OnTimer(wxTimerEvent&) {
    HideSplash();
}
