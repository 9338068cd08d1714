#pragma once
// The commands of veltro51-cli. Each drives the same core sequences as the desktop application's
// dialogs, prints what they report and returns the exit status (EXIT_DONE, EXIT_FAILED).
// The selected chip (g_selectedChip) must be set before; the main thread calls these.

#include "cli/Console.h"
#include "cli/Options.h"

int RunCommand(const CliOptions& options, CConsole& console);

// The burn's marks for its three kinds of row, as the task list's icons show them.
constexpr const char* MARK_INFO = "[i]";
constexpr const char* MARK_ERROR = "[x]";
constexpr const char* MARK_SUCCESS = "[+]";
