#include "res/AppMessages.h"

#include <utility>

#include <wx/msgdlg.h> // before the generic dialog's header, which needs its base
#include <wx/generic/msgdlgg.h>
#include <wx/window.h>

namespace {
MessageBoxHook g_messageBoxHook;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    std::swap(hook, g_messageBoxHook);
    return hook;
}

int AppMessageBox(const wxString& text, long style, wxWindow* parent) {
    const wxString caption = wxString::FromUTF8(APP_NAME);
    if (g_messageBoxHook)
        return g_messageBoxHook(text, caption, style);
    // GTK's own message dialog shows no icon, so an error and a success would look alike; the generic
    // dialog draws the stop and information icons. It shows no icon when the style has no icon flag
    // (wxICON_NONE would ask it for one).
    wxGenericMessageDialog dialog(parent, text, caption, style & ~wxICON_NONE);
    // Without a Cancel button the generic dialog answers Escape and its close box with Yes; here they
    // answer No, as GTK's dialog does.
    if (style & wxYES_NO)
        dialog.SetEscapeId(wxID_NO);
    switch (dialog.ShowModal()) {
    case wxID_YES:
        return wxYES;
    case wxID_NO:
        return wxNO;
    case wxID_OK:
        return wxOK;
    default:
        return wxCANCEL;
    }
}

void ShowAppMessage(const wxString& text, AppIcon icon, wxWindow* parent) {
    long style = wxOK | wxICON_NONE;
    if (icon == AppIcon::Error)
        style = wxOK | wxICON_ERROR;
    else if (icon == AppIcon::Information)
        style = wxOK | wxICON_INFORMATION;
    AppMessageBox(text, style, parent);
}

bool AskAppYesNo(const wxString& text, wxWindow* parent) {
    return AppMessageBox(text, wxYES_NO | wxICON_NONE, parent) == wxYES;
}
