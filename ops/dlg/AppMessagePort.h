#pragma once
// The operations' messages and questions as the application's message boxes: the presenter of an
// operation that runs on the user-interface thread (Lock Bits, Programming Speed, the file commands,
// the burn's Abort), and the icon a worker's message gets.

#include <string>

#include <wx/string.h>

#include "ops/Port.h"
#include "res/AppMessages.h"

class wxWindow;

AppIcon AppIconOf(MsgIcon icon);

// An operation's message as the application's message box; user-interface thread only.
void ShowOperationMessage(const std::string& text, MsgIcon icon, wxWindow* parent = nullptr);

class CAppMessagePort : public IOperationPort {
public:
    explicit CAppMessagePort(wxWindow* parent = nullptr) : m_parent(parent) {}
    void Message(const std::string& text, MsgIcon icon) override;
    bool Ask(Question question) override;

private:
    wxWindow* m_parent;
};
