#pragma once
// veltro51-bench's command line, read before the toolkit starts (so --help and --version need no
// display). The job is a job file, or a firmware file and the burn options veltro51-cli's burn takes.

#include <string>
#include <vector>

#include "ops/Job.h"

struct BenchOptions {
    std::string job;           // a job file (any name but a firmware's); empty: none named
    std::string firmware;      // the file to burn; empty: none yet
    std::string sha256;        // the SHA-256 the firmware must have; empty: not pinned
    std::string chip;          // --chip
    int lock = 0;              // --lock 1..4; 0: none
    std::string serial;        // --serial ADDR[,START[,STEP[,FORMAT]]]
    std::string serialFile;    // --serial-file
    std::string log;           // --log
    bool start = false;        // start the first round at once
    bool reportStates = false; // for tests: tiles' states on standard output, commands on input
    bool help = false, version = false;
};

// False with the reason in error for a command line the program cannot run.
bool ParseBenchOptions(const std::vector<std::string>& arguments, BenchOptions& options, std::string& error);
// The job that a firmware and its options on the command line describe, every socket in rounds;
// sha256 as pinned (empty when not: the caller takes the file's own).
Job JobOfBenchOptions(const BenchOptions& options);
const char* BenchUsage();
