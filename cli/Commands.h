#pragma once
// The commands of veltro51-cli. Each drives the same core sequences as the desktop application's
// dialogs, prints what they report and returns the exit status (EXIT_DONE, EXIT_FAILED).
// convert and dump load within the selected chip (g_selectedChip), set before; the main thread calls
// these.

#include <chrono>
#include <string>

#include "cli/Console.h"
#include "cli/Options.h"
#include "ops/Port.h"

int RunCommand(const CliOptions& options, CConsole& console);

// The burn's marks for its three kinds of row, as the task list's icons show them.
constexpr const char* MARK_INFO = "[i]";
constexpr const char* MARK_ERROR = "[x]";
constexpr const char* MARK_SUCCESS = "[+]";
const char* RowMark(RowKind kind);

// The dialog's elapsed-time label for a duration, in whole seconds.
std::string ElapsedLabel(std::chrono::steady_clock::duration elapsed);
