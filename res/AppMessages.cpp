#include "res/AppMessages.h"

#include <utility>

#include <wx/msgdlg.h>
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
    return wxMessageBox(text, caption, style, parent);
}

void ShowAppMessage(const wxString& text, MsgIcon icon, wxWindow* parent) {
    long style = wxOK | wxICON_NONE;
    if (icon == MsgIcon::Error)
        style = wxOK | wxICON_ERROR;
    else if (icon == MsgIcon::Information)
        style = wxOK | wxICON_INFORMATION;
    AppMessageBox(text, style, parent);
}

bool AskAppYesNo(const wxString& text, wxWindow* parent) {
    return AppMessageBox(text, wxYES_NO | wxICON_NONE, parent) == wxYES;
}

void CAppMessagePort::Message(const std::string& text, MsgIcon icon) {
    ShowAppMessage(wxString::FromUTF8(text), icon, m_parent);
}

bool CAppMessagePort::Ask(Question question) {
    return AskAppYesNo(wxString::FromUTF8(QuestionText(question)), m_parent);
}
