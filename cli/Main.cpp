// veltro51-cli: the programmer's operations for scripts and production lines, without a window.

#include <csignal>
#include <cstdio>
#include <string>

#include "Version.h"
#include "chips/ChipCatalogue.h"
#include "chips/Settings.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Gang.h"
#include "cli/Options.h"

int main(int argc, char** argv) {
    // A reader that goes away (veltro51-cli burn ... | head) must not end a burn half done with the
    // target powered: the write fails instead, and the exit status says so.
    std::signal(SIGPIPE, SIG_IGN);
    // Under a file-size limit (ulimit -f) a save fails with EFBIG and says so, instead of the signal
    // ending the program silently with its temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    CConsole console;
    // A bench's worker: its job comes as data on standard input, not as arguments.
    if (argc == 2 && std::string(argv[1]) == "--bench-worker")
        return RunBenchWorker(console);
    CliOptions options;
    std::string error;
    if (!ParseCommandLine(argc, argv, options, error)) {
        console.Err(std::string(CLI_NAME) + ": " + error + "; see '" + CLI_NAME + " --help'");
        return EXIT_USAGE;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return EXIT_DONE;
    }
    if (options.version) {
        console.Out(std::string(CLI_NAME) + " " + VELTRO_VERSION + "\n" + VELTRO_COPYRIGHT + "\n" +
                    VELTRO_LICENCE_NOTICE);
        return EXIT_DONE;
    }

    // convert and dump touch no chip: without --chip they take the chip the desktop application
    // stored, so that the two agree. The other commands go by --chip and the socket. The chip taken
    // is named (on standard error, beside the output): its size decides the image and its checksums.
    if (options.chip >= 0) {
        g_selectedChip = options.chip;
    } else if (options.command == CliCommand::Convert || options.command == CliCommand::Dump) {
        CIniSettingsStore store(CIniSettingsStore::DefaultPath());
        LoadSelectedChip(store);
        console.Err(std::string("Chip : ") + SelectedChipInfo().name +
                    ", the desktop application's selected chip (--chip names another)");
    }
    int status = RunCommand(options, console);
    if (console.OutputFailed()) {
        console.Err(std::string(CLI_NAME) + ": cannot write to standard output");
        if (status == EXIT_DONE)
            status = EXIT_FAILED;
    }
    // Ctrl+C aborted it safely (PowerOff last); it now ends as the signal would have ended it.
    if (const int signal = StopSignal(); signal != 0) {
        std::fflush(nullptr);
        EndBySignal(signal);
    }
    return status;
}
