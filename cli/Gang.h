#pragma once
// burn --all: the same image into the chip of every attached programmer at once, as a presenter of
// the core's bench engine (ops/engine/Bench.h), which runs a worker process per programmer. This
// process shows the bench, one line per socket, passes Ctrl+C to the engine as the dialog's Abort,
// asks "Write More Chips ?" once for the whole bench after every socket has finished, and ends with
// a summary.

#include "cli/Console.h"
#include "cli/Options.h"

int RunGang(const CliOptions& options, CConsole& console);

// A bench's worker (veltro51-cli --bench-worker): reads its job from standard input, burns one chip
// on the programmer the bench gave it and reports over the wire.
int RunBenchWorker(CConsole& console);

// What makes a bench's command line one worker's: one chip on the given programmer, no bench of its
// own, no question. Every other option stays as the bench was given it.
void MakeBenchWorker(CliOptions& options, const std::string& location, int wireFd);

// In a bench's worker, makes the burn's options this socket's and returns true; refused is set when
// the firmware changed since the bench started (told over the wire). False elsewhere.
bool ApplyBenchWorker(CliOptions& options, bool& refused);

// In a watching bench's worker: the chip in the socket was dealt with by the socket's worker before
// this one, so the watch waits for its removal first.
bool BenchWorkerAwaitsRemoval();
