#pragma once
// What the core asks of whoever shows messages: a message box with the application's caption
// ("Veltro 51"), an OK button and an icon, or a Yes/No question. The dialogs, the command-line tool
// and the tests each supply their own. Implementations may block until the user has answered.

#include <string>

enum class MsgIcon {
    None,        // no icon (the burn's questions)
    Information, // results and confirmations of success
    Error,       // failures: the stop icon
};

class IMessageSink {
public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(const std::string& text, MsgIcon icon) = 0;
    // A Yes/No box without icon; true for Yes.
    virtual bool AskYesNo(const std::string& text) { return (void)text, false; }
};
