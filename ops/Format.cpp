#include "ops/Format.h"

#include <cstdarg>
#include <cstdio>

#include "link/Programmer.h"
#include "ops/Texts.h"

std::string FormatText(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string NoProgrammerMessage(bool accessDenied) {
    std::string text = MSG_NO_PROGRAMMER;
    if (accessDenied)
        text = text + "\n" + MSG_ACCESS_DENIED;
    return text;
}

void ReleaseProgrammer(CProgrammer& programmer) {
    if (programmer.IsOpen())
        programmer.PowerOff();
    programmer.Close();
}
