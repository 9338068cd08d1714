#pragma once
// Job files on the command line: run JOB burns with a job's settings, job FILE.toml burn ... writes
// the job a burn's command line describes. The file itself is read and written by the core (ops/Job.h);
// here a job becomes the burn's options and back.

#include <string>

#include "cli/Console.h"
#include "cli/Options.h"
#include "ops/Job.h"

// The burn options of job (the job file at jobPath) for the command line given (command run): the
// command line's own options (--quiet, --more, --force) stay; an option that a key of the job covers
// must say what the job says, a key left out saying its default. False with the reason in error.
bool BurnOptionsOfJob(const Job& job, const std::string& jobPath, const CliOptions& given, CliOptions& burn,
                      std::string& error);

// The job a burn's command line (command job) describes, to be written at jobPath; firmwareSha256 is
// the firmware file's.
Job JobOfBurnOptions(const CliOptions& options, const std::string& jobPath,
                     const std::string& firmwareSha256);

// run JOB: loads and checks the job, then burns as it says.
int RunJobFile(const CliOptions& options, CConsole& console);
// job FILE.toml burn FILE ...: writes the job, with the firmware's SHA-256.
int WriteJobFile(const CliOptions& options, CConsole& console);
