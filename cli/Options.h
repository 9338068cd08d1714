#pragma once
// The command line of veltro51-cli: what was asked for, checked before anything touches a file or
// the programmer, so that a bad usage never leaves half a job done.

#include <string>
#include <vector>

constexpr int EXIT_DONE = 0;   // everything asked for succeeded
constexpr int EXIT_FAILED = 1; // an operation failed
constexpr int EXIT_USAGE = 2;  // bad usage: nothing was done

constexpr const char* CLI_NAME = "veltro51-cli";

enum class CliCommand { None, List, Info, Burn, Read, Lock, Speed, Convert, Dump };

struct CliOptions {
    bool help = false;
    bool version = false;
    CliCommand command = CliCommand::None;
    std::vector<std::string> files; // the command's operands: FILE, OUT, or IN and OUT

    int chip = -1; // catalogue index from --chip; -1: the chip the desktop application stored
    std::string
        programmer; // "BUS/DEVICE", numbers padded to three digits as the bus names them; empty: first found

    int lockMode = 0;  // burn --lock: lock modes 1..lockMode after each verified chip; 0: no lock
    bool more = false; // burn --more: ask "Write More Chips ?" after each chip
    int writeMode = 0; // lock --write: lock modes 1..writeMode; 0: read the lock bits
    int speedKhz = 0;  // speed --set: 3000, 750, 188 or 94; 0: read the speed
};

// Parses argv[1..]. Options may stand before or after the command; "--" ends them. On a bad usage
// returns false with a one-line reason in error (without the program's name). --help and --version
// need nothing else and win over any other mistake.
bool ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::string& error);

// The whole --help text.
std::string UsageText();
