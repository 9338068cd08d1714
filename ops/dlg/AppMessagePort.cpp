#include "ops/dlg/AppMessagePort.h"

AppIcon AppIconOf(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Error:
        return AppIcon::Error;
    case MsgIcon::Information:
        return AppIcon::Information;
    case MsgIcon::None:
        break;
    }
    return AppIcon::None;
}

void ShowOperationMessage(const std::string& text, MsgIcon icon, wxWindow* parent) {
    ShowAppMessage(wxString::FromUTF8(text), AppIconOf(icon), parent);
}

void CAppMessagePort::Message(const std::string& text, MsgIcon icon) {
    ShowOperationMessage(text, icon, m_parent);
}

bool CAppMessagePort::Ask(Question question) {
    return AskAppYesNo(wxString::FromUTF8(QuestionText(question)), m_parent);
}
