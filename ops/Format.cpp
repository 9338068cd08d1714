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

std::string NoProgrammerMessage(const CProgrammer& programmer) {
    std::string text = MSG_NO_PROGRAMMER;
    if (programmer.AccessDenied())
        text = text + "\n" + MSG_ACCESS_DENIED;
    if (programmer.Busy())
        text = text + "\n" + MSG_PROGRAMMER_BUSY;
    return text;
}

void ReleaseProgrammer(CProgrammer& programmer) {
    if (programmer.IsOpen())
        programmer.PowerOff();
    programmer.Close();
}
