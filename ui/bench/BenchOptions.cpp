#include "ui/bench/BenchOptions.h"

#include <cctype>

#include "chips/ChipCatalogue.h"
#include "image/FileKind.h"

bool ParseBenchOptions(const std::vector<std::string>& arguments, BenchOptions& options, std::string& error) {
    std::vector<std::string> operands;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string arg = arguments[i];
        std::string value;
        bool hasValue = false;
        if (arg == "--") {
            operands.insert(operands.end(), arguments.begin() + static_cast<long>(i) + 1, arguments.end());
            break;
        }
        if (const auto equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            hasValue = true;
        }
        const bool takesValue = arg == "--chip" || arg == "--lock" || arg == "--serial" ||
                                arg == "--serial-file" || arg == "--log" || arg == "--sha256";
        if (takesValue && !hasValue) {
            if (i + 1 >= arguments.size()) {
                error = arg + " needs a value";
                return false;
            }
            value = arguments[++i];
        } else if (!takesValue && hasValue) {
            error = arg + " takes no value";
            return false;
        }
        if (arg == "--help" || arg == "-h")
            options.help = true;
        else if (arg == "--version")
            options.version = true;
        else if (arg == "--start")
            options.start = true;
        else if (arg == "--report-states")
            options.reportStates = true;
        else if (arg == "--chip")
            options.chip = value;
        else if (arg == "--lock") {
            if (value.size() != 1 || value[0] < '1' || value[0] > '4') {
                error = "--lock takes a lock mode from 1 to 4, not '" + value + "'";
                return false;
            }
            options.lock = value[0] - '0';
        } else if (arg == "--serial")
            options.serial = value;
        else if (arg == "--serial-file")
            options.serialFile = value;
        else if (arg == "--log")
            options.log = value;
        else if (arg == "--sha256") {
            std::string lower;
            for (char c : value)
                lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower.size() != 64 || lower.find_first_not_of("0123456789abcdef") != std::string::npos) {
                error = "--sha256 takes 64 hexadecimal digits, not '" + value + "'";
                return false;
            }
            options.sha256 = lower;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else
            operands.push_back(arg);
    }
    if (options.help || options.version)
        return true;
    if (operands.size() > 1) {
        error = "one job or firmware file at most";
        return false;
    }
    if (!operands.empty()) {
        if (FileKindFromPath(operands[0]) != FileKind::None)
            options.firmware = operands[0];
        else
            options.job = operands[0];
    }
    // A job says everything itself: an option beside it could only contradict it unseen.
    if (!options.job.empty() &&
        (!options.sha256.empty() || !options.chip.empty() || options.lock > 0 || !options.serial.empty() ||
         !options.serialFile.empty() || !options.log.empty())) {
        error = "the job " + options.job + " says the firmware, chip, lock, serial numbers and log itself";
        return false;
    }
    if (!options.chip.empty()) {
        if (FindChipByName(options.chip) < 0) {
            error = "unknown chip '" + options.chip + "' (" + CatalogueNames() + ")";
            return false;
        }
        options.chip = g_chipCatalogue[static_cast<size_t>(FindChipByName(options.chip))].name;
    }
    if (!options.serial.empty() && options.serialFile.empty()) {
        error = "--serial needs --serial-file";
        return false;
    }
    return true;
}

Job JobOfBenchOptions(const BenchOptions& options) {
    Job job;
    job.firmware = options.firmware;
    job.sha256 = options.sha256;
    job.chip = options.chip;
    job.lock = options.lock;
    job.serial = options.serial;
    job.serialStore = options.serialFile;
    job.log = options.log;
    job.allSockets = true;
    return job;
}

const char* BenchUsage() {
    return "Usage: veltro51-bench [--start] [JOB.toml]\n"
           "       veltro51-bench [OPTIONS] FIRMWARE\n"
           "       veltro51-bench --help | --version\n"
           "The operator's bench window of Veltro 51: one tile per attached programmer, the same\n"
           "firmware burned into a chip in every socket, round after round or as chips are inserted.\n"
           "Without a job or firmware the job opened last is opened again.\n"
           "\n"
           "  JOB.toml               a job file (man veltro51-cli, JOB FILES), as File > Open Job\n"
           "  FIRMWARE               the Intel HEX (.hex, .ihx) or raw binary (.bin) file to burn\n"
           "  --sha256 HEX           refuse the firmware unless its bytes have this SHA-256\n"
           "  --chip NAME            the chip that must be in every socket\n"
           "  --lock MODE            write lock modes 1..MODE after each verified chip\n"
           "  --serial SPEC          a serial number per chip, as veltro51-cli burn --serial\n"
           "  --serial-file PATH     where the serial numbers are kept (with --serial)\n"
           "  --log PATH             a line of JSON per chip, as veltro51-cli burn --log writes it\n"
           "  --start                start the first round at once\n"
           "  --report-states        for tests: print every tile's state on standard output and\n"
           "                         take start, stop and close as lines on standard input\n"
           "  --help                 print this help and exit\n"
           "  --version              print the program's name and version and exit\n"
           "\n"
           "Space starts the bench, or stops it. In rounds the results stay on the tiles after a\n"
           "round: change the chips and press Space for the next. In watch mode each socket burns\n"
           "the chip inserted into it, and its result stays until the chip is removed.\n";
}
