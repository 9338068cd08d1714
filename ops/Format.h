#pragma once
// Helpers the sequences share: printf-style formatting of the product's texts and the message of a
// failed Open in the message-box operations.

#include <string>
#include <vector>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

class IProgrammer;

// After a failed Open: the lines that tell why no programmer could be used although one is attached
// (this user may not open it, another program holds it), in the order they are shown; none when there is
// nothing to add.
std::vector<std::string> NoProgrammerReasons(const IProgrammer& programmer);
// "Error : Cannot Find Any Valid Programmer Installed On System", with NoProgrammerReasons as further
// lines: the message boxes' form.
std::string NoProgrammerMessage(const IProgrammer& programmer);
