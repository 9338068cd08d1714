#pragma once
// What a script hears of a result: the one table from the core's results to the exit statuses of
// veltro51-cli (cli/Options.h names the statuses; the man page documents them).

#include "cli/Options.h"
#include "ops/Result.h"

struct ExitStatusRow {
    Result result;
    int status;
};

inline constexpr ExitStatusRow EXIT_STATUS_TABLE[] = {
    {Result::Done, EXIT_DONE},
    {Result::Failed, EXIT_FAILED},
    {Result::NoProgrammer, EXIT_NO_PROGRAMMER},
    {Result::NoChip, EXIT_CHIP},
    {Result::UnknownChip, EXIT_CHIP},
    {Result::WrongChip, EXIT_CHIP},
    {Result::Locked, EXIT_CHIP},
    {Result::Mismatch, EXIT_FAILED},
    {Result::NotBlank, EXIT_FAILED},
    {Result::Aborted, EXIT_FAILED},
    {Result::Declined, EXIT_FAILED},
    {Result::NotRunning, EXIT_FAILED},
    {Result::TimedOut, EXIT_FAILED},
};

// The table's status for result; EXIT_FAILED for one it lacks.
constexpr int ExitStatusOf(Result result) {
    for (const ExitStatusRow& row : EXIT_STATUS_TABLE)
        if (row.result == result)
            return row.status;
    return EXIT_FAILED;
}
