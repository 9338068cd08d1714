#pragma once
// burn --all: the same image into the chip of every attached programmer at once. libusb-0.1 keeps
// process-wide state, so each programmer gets a worker process of its own (this program, burning one
// chip on one programmer); this process shows the bench, one line per socket, forwards Ctrl+C to the
// workers as the dialog's Abort, asks "Write More Chips ?" once for the whole bench after every
// socket has finished, and ends with a summary.

#include "cli/Console.h"
#include "cli/Options.h"

int RunGang(const CliOptions& options, CConsole& console);
