#include "cli/JobCommands.h"

#include <cstring>
#include <filesystem>

#include "chips/ChipCatalogue.h"
#include "image/FileKind.h"
#include "cli/Commands.h"
#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/ImageSource.h"
#include "ops/Serial.h"
#include "ops/Texts.h"

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool SameSerialSpec(const SerialSpec& a, const SerialSpec& b) {
    return a.address == b.address && a.start == b.start && a.step == b.step && a.format == b.format &&
           a.width == b.width;
}

// Two names of one file: the same place once made absolute, links followed where they exist.
bool SamePath(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path first = fs::weakly_canonical(fs::absolute(a, error), error);
    if (error)
        return a == b;
    const fs::path second = fs::weakly_canonical(fs::absolute(b, error), error);
    return !error && first == second;
}

// The refusal of an option that says something else than the job.
bool Contradicts(std::string& error, const std::string& option, const std::string& jobSays) {
    error = "option " + option + " contradicts the job, which says " + jobSays;
    return false;
}

} // namespace

bool BurnOptionsOfJob(const Job& job, const std::string& jobPath, const CliOptions& given, CliOptions& burn,
                      std::string& error) {
    burn = given;
    burn.command = CliCommand::Burn;
    burn.files = {ResolveJobPath(jobPath, job.firmware)};

    if (!given.sha256.empty() && given.sha256 != job.sha256)
        return Contradicts(error, "--sha256", "sha256 = " + Quoted(job.sha256));
    burn.sha256 = job.sha256;

    const int chip = job.chip.empty() ? -1 : FindChipByName(job.chip);
    if (given.chip >= 0 && given.chip != chip)
        return Contradicts(error, std::string("--chip ") + ChipName(given.chip),
                           chip < 0 ? "no chip: the signature decides" : "chip = " + Quoted(job.chip));
    burn.chip = chip;

    if (given.lockMode > 0 && given.lockMode != job.lock)
        return Contradicts(error, "--lock " + std::to_string(given.lockMode),
                           job.lock == 0 ? "no lock" : "lock = " + std::to_string(job.lock));
    burn.lockMode = job.lock;

    burn.serial = job.serial;
    burn.serialSpec = SerialSpec{};
    if (!job.serial.empty() && !ParseSerialSpec(job.serial, burn.serialSpec, error))
        return false; // LoadJob checked it
    if (!given.serial.empty() && (job.serial.empty() || !SameSerialSpec(given.serialSpec, burn.serialSpec)))
        return Contradicts(error, "--serial " + given.serial,
                           job.serial.empty() ? "no serial number" : "serial = " + Quoted(job.serial));

    // serial_store and log are files relative to the job's folder, or a database's URL as it stands.
    const auto place = [&](const std::string& where) {
        return IsStoreUrl(where) ? where : ResolveJobPath(jobPath, where);
    };
    const auto samePlace = [](const std::string& a, const std::string& b) {
        return IsStoreUrl(a) || IsStoreUrl(b) ? a == b : SamePath(a, b);
    };
    burn.serialFile = place(job.serialStore);
    if (!given.serialFile.empty() &&
        (burn.serialFile.empty() || !samePlace(given.serialFile, burn.serialFile)))
        return Contradicts(error, "--serial-store " + given.serialFile,
                           job.serialStore.empty() ? "no serial store"
                                                   : "serial_store = " + Quoted(job.serialStore));

    if (given.serialReset && (burn.serialFile.empty() || IsStoreUrl(burn.serialFile))) {
        error = "--serial-reset belongs to a serial file, and the job keeps its numbers " +
                (burn.serialFile.empty() ? std::string("nowhere") : "in " + Quoted(job.serialStore));
        return false;
    }

    const bool logIsDatabase = IsStoreUrl(job.log);
    burn.log = logIsDatabase ? "" : place(job.log);
    burn.logDb = logIsDatabase ? job.log : "";
    const std::string& givenLog = logIsDatabase ? given.logDb : given.log;
    const std::string& otherLog = logIsDatabase ? given.log : given.logDb;
    if (!otherLog.empty() || (!givenLog.empty() && (job.log.empty() || !samePlace(givenLog, job.log))))
        return Contradicts(error, "--log " + (otherLog.empty() ? givenLog : otherLog),
                           job.log.empty() ? "no log" : "log = " + Quoted(job.log));

    std::string listed;
    for (const std::string& location : job.sockets)
        listed += (listed.empty() ? "" : ", ") + Quoted(location);
    const std::string socketsSays = job.allSockets        ? "sockets = \"all\""
                                    : job.sockets.empty() ? "no sockets: the first free programmer"
                                                          : "sockets = [" + listed + "]";
    const bool several = job.sockets.size() > 1;
    if (given.all && !job.allSockets)
        return Contradicts(error, "--all", socketsSays);
    if (!given.programmer.empty() && (several || job.sockets.empty() || given.programmer != job.sockets[0]))
        return Contradicts(error, "--programmer " + given.programmer, socketsSays);
    // Several sockets are a bench of those programmers only, in rounds or watching.
    burn.all = job.allSockets || several;
    burn.sockets = several ? job.sockets : std::vector<std::string>{};
    burn.programmer = job.sockets.size() == 1 ? job.sockets[0] : "";

    if (given.watch && job.mode != JobMode::Watch)
        return Contradicts(error, "--watch", "mode = \"rounds\"");
    burn.watch = job.mode == JobMode::Watch;
    return true;
}

Job JobOfBurnOptions(const CliOptions& options, const std::string& jobPath,
                     const std::string& firmwareSha256) {
    Job job;
    job.firmware = PathForJob(jobPath, options.files[1]);
    job.sha256 = firmwareSha256;
    job.chip = options.chip >= 0 ? ChipName(options.chip) : "";
    job.lock = options.lockMode;
    job.serial = options.serial;
    const auto place = [&](const std::string& where) {
        return where.empty() ? "" : IsStoreUrl(where) ? where : PathForJob(jobPath, where);
    };
    job.serialStore = place(options.serialFile);
    job.log = options.log.empty() ? place(options.logDb) : place(options.log);
    job.allSockets = options.all;
    if (!options.programmer.empty())
        job.sockets = {options.programmer};
    job.mode = options.watch ? JobMode::Watch : JobMode::Rounds;
    return job;
}

int RunJobFile(const CliOptions& options, CConsole& console) {
    const std::string& path = options.files[0];
    const JobLoad load = LoadJob(path);
    if (!load.ok) {
        console.Err(std::string(CLI_NAME) + ": " + load.message);
        return EXIT_USAGE;
    }
    CliOptions burn;
    burn.arguments = options.arguments; // a bench's workers run this same command line
    std::string error;
    if (!BurnOptionsOfJob(load.job, path, options, burn, error)) {
        console.Err(std::string(CLI_NAME) + ": " + path + ": " + error);
        return EXIT_USAGE;
    }
    // The burn checks the firmware's SHA-256 before it touches a programmer, and again at every load.
    return RunCommand(burn, console);
}

int WriteJobFile(const CliOptions& options, CConsole& console) {
    const std::string& jobPath = options.files[0];
    const std::string& firmware = options.files[1];
    // '-' is standard output elsewhere, and a firmware's name is a slip: neither becomes a job file.
    if (jobPath == STDIO_NAME || FileKindFromPath(jobPath) != FileKind::None) {
        console.Err(std::string(CLI_NAME) + ": the job " + jobPath +
                    " is a TOML file: its name is neither '-' nor a firmware's (.hex, .ihx, .bin)");
        return EXIT_USAGE;
    }
    // The job is written over its path: never over a file of the line it describes.
    for (const std::string* file : {&firmware, &options.serialFile, &options.log})
        if (!file->empty() && SamePath(jobPath, *file)) {
            console.Err(std::string(CLI_NAME) + ": the job " + jobPath + " would replace " + *file);
            return EXIT_USAGE;
        }
    if (!options.log.empty() && !options.logDb.empty()) {
        console.Err(std::string(CLI_NAME) + ": a job keeps one log: a file or a database, not both");
        return EXIT_USAGE;
    }
    CConsoleSink messages(console);
    std::string sha256;
    int systemError = 0;
    if (!FileSha256(firmware, sha256, systemError)) {
        console.Err(firmware + ": " + std::strerror(systemError));
        return EXIT_FAILED;
    }
    if (!options.sha256.empty() && options.sha256 != sha256) {
        messages.Message(
            FormatText(MSG_FIRMWARE_REFUSED, firmware.c_str(), sha256.c_str(), options.sha256.c_str()),
            MsgIcon::Error);
        return EXIT_FAILED;
    }
    // A job of a file that does not load would only fail on the line: it is loaded as the burn would.
    CFileImageSource trial(firmware);
    trial.PinSha256(sha256);
    CConsoleSink failures(console, false);
    if (!trial.LoadForChip(options.chip, failures)) {
        if (trial.SystemError() != 0)
            console.Err(firmware + ": " + std::strerror(trial.SystemError()));
        return EXIT_FAILED;
    }
    const Job job = JobOfBurnOptions(options, jobPath, sha256);
    const JobSaved saved = SaveJob(job, jobPath);
    if (!saved.ok) {
        console.Err(std::string(CLI_NAME) + ": " + saved.message);
        return EXIT_FAILED;
    }
    console.Out("Job Written : " + jobPath + " (" + job.firmware + ", SHA-256 " + sha256 + ")");
    return EXIT_DONE;
}
