#include "ops/Port.h"

#include <cstdio>

#include "ops/Texts.h"

const char* QuestionText(Question question) {
    switch (question) {
    case Question::WriteMore:
        return ASK_WRITE_MORE;
    case Question::AbortBurn:
        return ASK_ABORT_BURN;
    }
    return "";
}

std::string PercentText(int done, int total) {
    const double percent = total > 0 ? 100.0 * done / total : 0.0;
    char text[32];
    std::snprintf(text, sizeof text, PERCENT_FORMAT, percent);
    return text;
}

const char* CycleOutcomeName(Result outcome) {
    if (outcome == Result::Done)
        return "verified";
    return outcome == Result::Aborted ? "aborted" : "failed";
}
