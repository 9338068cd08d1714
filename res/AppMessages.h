#pragma once
// The application's message box: every message of the program goes through AppMessageBox, captioned
// "Veltro 51". Tests replace the box with a hook that records the text and scripts the answer.
// User-interface thread only.

#include <functional>

#include <wx/string.h>

class wxWindow;

// The application's name: the caption of every message box and the end of the main window's.
constexpr const char* APP_NAME = "Veltro 51";

// style is wxOK or wxYES_NO with wxICON_ERROR, wxICON_INFORMATION or wxICON_NONE; the result is
// wxOK, wxYES or wxNO as wxMessageBox returns them. The real box is a wxGenericMessageDialog, which
// shows the icon on GTK too; Enter answers its default button (OK, Yes), Escape OK or No.
using MessageBoxHook = std::function<int(const wxString& text, const wxString& caption, long style)>;

// Installs a hook in place of the real box; an empty function restores the real box. Returns the
// hook that was installed before.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

int AppMessageBox(const wxString& text, long style, wxWindow* parent = nullptr);

// The icon of a message box with an OK button.
enum class AppIcon {
    None,        // OK without icon
    Information, // information icon and OK
    Error,       // stop icon and OK
};

void ShowAppMessage(const wxString& text, AppIcon icon, wxWindow* parent = nullptr);
// Yes/No without icon; true for Yes.
bool AskAppYesNo(const wxString& text, wxWindow* parent = nullptr);
