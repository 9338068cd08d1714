#pragma once
// Helpers the sequences share: printf-style formatting of the product's texts, the message of a
// failed Open in the message-box operations, and the end of a connection.

#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Error : Cannot Find Any Valid Programmer Installed On System", with a second line when a
// programmer was found that this user may not open.
std::string NoProgrammerMessage(bool accessDenied);

class CProgrammer;
// Ends an operation's connection: PowerOff whenever a device is held, then Close.
void ReleaseProgrammer(CProgrammer& programmer);
