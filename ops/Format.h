#pragma once
// Helpers the sequences share: printf-style formatting of the product's texts, the message of a
// failed Open in the message-box operations, and the end of a connection.

#include <string>
#include <vector>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

class CProgrammer;

// After a failed Open: the lines that tell why no programmer could be used although one is attached
// (this user may not open it, another program holds it), in the order they are shown; none when there is
// nothing to add.
std::vector<std::string> NoProgrammerReasons(const CProgrammer& programmer);
// "Error : Cannot Find Any Valid Programmer Installed On System", with NoProgrammerReasons as further
// lines: the message boxes' form.
std::string NoProgrammerMessage(const CProgrammer& programmer);

// Ends an operation's connection: PowerOff whenever a device is held, then Close.
void ReleaseProgrammer(CProgrammer& programmer);
