#pragma once
// Helpers the sequences share: printf-style formatting of the product's texts, the message of a
// failed Open in the message-box operations, and the end of a connection.

#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

class CProgrammer;
// "Error : Cannot Find Any Valid Programmer Installed On System" after a failed Open, with a further
// line when a programmer was found that this user may not open, and one when it is in use.
std::string NoProgrammerMessage(const CProgrammer& programmer);

// Ends an operation's connection: PowerOff whenever a device is held, then Close.
void ReleaseProgrammer(CProgrammer& programmer);
