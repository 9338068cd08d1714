#include "ops/Format.h"

#include <cstdarg>
#include <cstdio>

#include "link/IProgrammer.h"
#include "ops/Texts.h"

std::string FormatText(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::vector<std::string> NoProgrammerReasons(const IProgrammer& programmer) {
    std::vector<std::string> reasons;
    if (programmer.AccessDenied())
        reasons.push_back(MSG_ACCESS_DENIED);
    if (programmer.Busy())
        reasons.push_back(MSG_PROGRAMMER_BUSY);
    return reasons;
}

std::string NoProgrammerMessage(const IProgrammer& programmer) {
    std::string text = MSG_NO_PROGRAMMER;
    for (const std::string& reason : NoProgrammerReasons(programmer))
        text += "\n" + reason;
    return text;
}
