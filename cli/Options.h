#pragma once
// The command line of veltro51-cli: what was asked for, checked before anything touches a file or
// the programmer, so that a bad usage never leaves half a job done.

#include <string>
#include <vector>

#include "image/FileKind.h"
#include "ops/Serial.h"

constexpr int EXIT_DONE = 0;          // everything asked for succeeded
constexpr int EXIT_FAILED = 1;        // the operation failed: a request, a mismatch, a chip not blank, a file
constexpr int EXIT_USAGE = 2;         // bad usage: nothing was done
constexpr int EXIT_NO_PROGRAMMER = 3; // no usable programmer: none found, in use, or access denied
constexpr int EXIT_CHIP = 4;          // the chip: wrong, unknown, missing or locked

constexpr const char* CLI_NAME = "veltro51-cli";
constexpr const char* STDIO_NAME = "-"; // a file operand for standard input or output

enum class CliCommand {
    None,
    List,
    Info,
    Burn,
    Read,
    Verify,
    Blank,
    Erase,
    Lock,
    Speed,
    Convert,
    Dump,
    Run,
    Job,
    Store
};

struct CliOptions {
    bool help = false;
    bool version = false;
    CliCommand command = CliCommand::None;
    std::vector<std::string> files; // the command's operands: FILE, OUT, IN and OUT, JOB, or JOB and FILE

    // Catalogue index from --chip; -1: the chip in the socket decides (its signature), and the files of
    // convert and dump take the chip the desktop application stored.
    int chip = -1;
    bool force = false; // go on with another chip than --chip names, or read a locked chip
    std::string
        programmer; // "BUS/DEVICE", numbers padded to three digits as the bus names them; empty: first found

    int lockMode = 0;     // burn --lock: lock modes 1..lockMode after each verified chip; 0: no lock
    bool more = false;    // burn --more: ask "Write More Chips ?" after each chip
    int writeMode = 0;    // lock --write: lock modes 1..writeMode; 0: read the lock bits
    int speedKhz = 0;     // speed --set: 3000, 750, 188 or 94; 0: read the speed
    bool sum = false;     // dump --sum: the checksums instead of the rows
    bool quiet = false;   // only results and failures
    bool verbose = false; // every vendor request, its result and time, on standard error
    bool json = false; // --json: the result as one JSON object on standard output, the rows on standard error

    // Firmware files: "-" is standard input (or output for read and convert's OUT).
    bool lenient = false;             // --lenient: Intel HEX read as the desktop application reads it
    FileKind format = FileKind::None; // --format hex|bin: for "-" and names whose extension tells none

    // burn's production line: a serial number in every chip, a line of the log per chip cycle, every
    // attached programmer at once.
    std::string serial;       // --serial ADDR[,START[,STEP[,FORMAT]]], as given (a gang's workers get it)
    SerialSpec serialSpec;    // and as parsed
    std::string serialFile;   // --serial-file PATH or --serial-store PATH|postgresql://...
    bool serialReset = false; // --serial-reset: the serial file's number at or below its mark is meant
    std::string log;          // --log PATH: the JSON log
    std::string logDb;        // --log postgresql://...: the record table (--log may be given twice)
    bool all = false;         // --all
    bool watch = false;       // --watch
    // A job's list of several sockets: the bench (all) uses only these programmers.
    std::vector<std::string> sockets;
    std::string sha256; // --sha256: the SHA-256 the firmware file must have (64 lowercase digits)
    int eventsFd = -1;  // --events FD: a gang's worker reports its events there

    std::vector<std::string> arguments; // argv[1..] as given: a bench hands them to its workers
    bool benchWorker = false;           // this process is one socket of a bench (--bench-worker)
};

// Parses argv[1..]. Options may stand before or after the command; "--" ends them. On a bad usage
// returns false with a one-line reason in error (without the program's name). --help and --version
// need nothing else and win over any other mistake.
bool ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::string& error);

// The whole --help text.
std::string UsageText();
