#include "cli/Options.h"

#include <cstring>
#include <vector>

#include "chips/ChipCatalogue.h"
#include "image/FileKind.h"
#include "link/Requests.h"
#include "ops/Job.h"
#include "ops/Serial.h"
#include "ops/store/PgStore.h"

namespace {

struct CommandInfo {
    const char* name;
    CliCommand command;
    int operands;
    const char* operandNames; // for the error when they do not match
};

const CommandInfo COMMANDS[] = {
    {"list", CliCommand::List, 0, ""},
    {"info", CliCommand::Info, 0, ""},
    {"burn", CliCommand::Burn, 1, "FILE"},
    {"read", CliCommand::Read, 1, "OUT"},
    {"verify", CliCommand::Verify, 1, "FILE"},
    {"blank", CliCommand::Blank, 0, ""},
    {"erase", CliCommand::Erase, 0, ""},
    {"lock", CliCommand::Lock, 0, ""},
    {"speed", CliCommand::Speed, 0, ""},
    {"convert", CliCommand::Convert, 2, "IN OUT"},
    {"dump", CliCommand::Dump, 1, "FILE"},
    {"run", CliCommand::Run, 1, "JOB"},
    {"job", CliCommand::Job, 3, "JOB burn FILE"},
    {"store", CliCommand::Store, 2, "init URL"},
};

// Options that only some commands take.
struct CommandOption {
    const char* name;
    std::vector<CliCommand> commands;
};
const CommandOption COMMAND_OPTIONS[] = {
    {"--lock", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--more", {CliCommand::Burn, CliCommand::Run}},
    {"--write", {CliCommand::Lock}},
    {"--set", {CliCommand::Speed}},
    {"--sum", {CliCommand::Dump}},
    {"--serial", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--serial-file", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--serial-store", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--serial-reset", {CliCommand::Burn, CliCommand::Run}},
    {"--log", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--all", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--watch", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--sha256", {CliCommand::Burn, CliCommand::Run, CliCommand::Job}},
    {"--events", {CliCommand::Burn}},
    {"--lenient", {CliCommand::Burn, CliCommand::Verify, CliCommand::Convert, CliCommand::Dump}},
    {"--format",
     {CliCommand::Burn, CliCommand::Verify, CliCommand::Read, CliCommand::Convert, CliCommand::Dump}},
    {"--json",
     {CliCommand::List, CliCommand::Info, CliCommand::Burn, CliCommand::Read, CliCommand::Verify,
      CliCommand::Blank, CliCommand::Erase}},
    {"--quiet",
     {CliCommand::Info, CliCommand::Burn, CliCommand::Read, CliCommand::Verify, CliCommand::Blank,
      CliCommand::Erase, CliCommand::Lock, CliCommand::Run}},
    {"--force",
     {CliCommand::Info, CliCommand::Burn, CliCommand::Read, CliCommand::Verify, CliCommand::Blank,
      CliCommand::Erase, CliCommand::Lock, CliCommand::Run}},
};

bool ParseNumber(const std::string& text, int& value) {
    if (text.empty() || text.size() > 6)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

const CommandInfo* FindCommand(const std::string& name) {
    for (const CommandInfo& info : COMMANDS)
        if (name == info.name)
            return &info;
    return nullptr;
}

const CommandInfo& InfoOf(CliCommand command) {
    for (const CommandInfo& info : COMMANDS)
        if (info.command == command)
            return info;
    return COMMANDS[0];
}

} // namespace

bool ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::string& error) {
    options = CliOptions{};
    std::vector<std::string> args(argv + 1, argv + argc);
    options.arguments = args;

    // --help and --version answer whatever else is on the line.
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return true;
        }
        if (arg == "--version") {
            options.version = true;
            return true;
        }
    }

    std::vector<std::string> operands;
    std::vector<std::string> commandOptions; // as given, to check against the command afterwards
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool hasValue = false;
        if (const auto equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        const bool takesValue = name == "--chip" || name == "--programmer" || name == "--lock" ||
                                name == "--write" || name == "--set" || name == "--serial" ||
                                name == "--serial-file" || name == "--serial-store" || name == "--log" ||
                                name == "--events" || name == "--format" || name == "--sha256";
        const bool isFlag = name == "--more" || name == "--force" || name == "--sum" || name == "--quiet" ||
                            name == "--all" || name == "--serial-reset" || name == "--lenient" ||
                            name == "--json" || name == "--watch" || name == "--verbose";
        if (!takesValue && !isFlag) {
            error = "unknown option " + Quoted(name);
            return false;
        }
        if (isFlag && hasValue) {
            error = "option " + name + " takes no value";
            return false;
        }
        if (takesValue && !hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }

        if (name == "--chip") {
            options.chip = FindChipByName(value);
            if (options.chip < 0) {
                error = "unknown chip " + Quoted(value) + " (" + CatalogueNames() + ")";
                return false;
            }
        } else if (name == "--programmer") {
            if (!NormaliseLocation(value, options.programmer)) {
                error = "--programmer wants BUS/DEVICE as 'list' shows it, not " + Quoted(value);
                return false;
            }
        } else if (name == "--lock" || name == "--write") {
            int mode = 0;
            if (!ParseNumber(value, mode) || mode < 1 || mode > 4) {
                error = "lock mode " + Quoted(value) + " is not 1, 2, 3 or 4";
                return false;
            }
            (name == "--lock" ? options.lockMode : options.writeMode) = mode;
            commandOptions.push_back(name);
        } else if (name == "--set") {
            int khz = 0;
            bool known = ParseNumber(value, khz);
            known = known && (khz == SPEED_KHZ[0] || khz == SPEED_KHZ[1] || khz == SPEED_KHZ[2] ||
                              khz == SPEED_KHZ[3]);
            if (!known) {
                error = "unknown speed " + Quoted(value) + " (3000, 750, 188 or 94 kHz)";
                return false;
            }
            options.speedKhz = khz;
            commandOptions.push_back(name);
        } else if (name == "--verbose") {
            options.verbose = true;
        } else if (name == "--more" || name == "--force" || name == "--sum" || name == "--quiet" ||
                   name == "--all" || name == "--watch") {
            (name == "--more"    ? options.more
             : name == "--force" ? options.force
             : name == "--sum"   ? options.sum
             : name == "--quiet" ? options.quiet
             : name == "--watch" ? options.watch
                                 : options.all) = true;
            commandOptions.push_back(name);
        } else if (name == "--serial") {
            std::string reason;
            if (!ParseSerialSpec(value, options.serialSpec, reason)) {
                error = "--serial " + Quoted(value) + ": " + reason;
                return false;
            }
            options.serial = value;
            commandOptions.push_back(name);
        } else if (name == "--serial-reset") {
            options.serialReset = true;
            commandOptions.push_back(name);
        } else if (name == "--serial-file" || name == "--serial-store" || name == "--log") {
            if (value.empty()) {
                error = "option " + name + " needs a file";
                return false;
            }
            const bool database = IsConnectionString(value);
            if (database && name == "--serial-file") {
                error = "--serial-file wants a file; a database is given with --serial-store";
                return false;
            }
            std::string& target =
                name == "--log" ? (database ? options.logDb : options.log) : options.serialFile;
            if (!target.empty()) {
                error = name == "--log" ? "--log is given at most twice: once a file, once a database"
                                        : "one serial store only: --serial-file or --serial-store once";
                return false;
            }
            target = value;
            commandOptions.push_back(name);
        } else if (name == "--lenient" || name == "--json") {
            (name == "--json" ? options.json : options.lenient) = true;
            commandOptions.push_back(name);
        } else if (name == "--format") {
            if (value != "hex" && value != "bin") {
                error = "--format wants hex or bin, not " + Quoted(value);
                return false;
            }
            options.format = value == "hex" ? FileKind::IntelHex : FileKind::Binary;
            commandOptions.push_back(name);
        } else if (name == "--sha256") {
            if (!NormaliseSha256(value, options.sha256)) {
                error = "--sha256 wants the file's SHA-256 as 64 hexadecimal digits, not " + Quoted(value);
                return false;
            }
            commandOptions.push_back(name);
        } else if (name == "--events") {
            int fd = 0;
            if (!ParseNumber(value, fd)) {
                error = "--events wants a file descriptor, not " + Quoted(value);
                return false;
            }
            options.eventsFd = fd;
            commandOptions.push_back(name);
        }
    }

    if (operands.empty()) {
        error = "no command given";
        return false;
    }
    const CommandInfo* command = FindCommand(operands.front());
    if (command == nullptr) {
        error = "unknown command " + Quoted(operands.front());
        return false;
    }
    options.command = command->command;
    operands.erase(operands.begin());
    // job FILE.toml burn FILE: the command line of a burn, written as a job instead of run.
    if (command->command == CliCommand::Job && operands.size() == 3 && operands[1] != "burn") {
        error = "job wants JOB burn FILE and burn's options, not " + Quoted(operands[1]);
        return false;
    }
    if (static_cast<int>(operands.size()) != command->operands) {
        error = std::string(command->name) +
                (command->operands == 0 ? " takes no file" : " wants " + std::string(command->operandNames));
        if (static_cast<int>(operands.size()) > command->operands)
            error += ", not " + Quoted(operands.back());
        return false;
    }
    for (const std::string& name : commandOptions) {
        for (const CommandOption& option : COMMAND_OPTIONS) {
            if (name != option.name)
                continue;
            bool taken = false;
            std::string owners;
            for (CliCommand owner : option.commands) {
                taken = taken || owner == options.command;
                owners += (owners.empty() ? "'" : ", '") + std::string(InfoOf(owner).name) + "'";
            }
            if (!taken) {
                error = "option " + name + " belongs to " + owners + ", not to '" + command->name + "'";
                return false;
            }
        }
    }
    // run takes the serial file from the job, where the two go together.
    if (options.command != CliCommand::Run && options.serial.empty() != options.serialFile.empty()) {
        error =
            "--serial and --serial-file (or --serial-store) go together: the numbers are kept in the store";
        return false;
    }
    if (options.serialReset && options.command != CliCommand::Run &&
        (options.serialFile.empty() || IsConnectionString(options.serialFile))) {
        error = "--serial-reset belongs to a serial file (a database's series refuses a number given before)";
        return false;
    }
    if (options.command == CliCommand::Store) {
        if (operands[0] != "init" || !IsConnectionString(operands[1])) {
            error = "store wants init URL, the URL postgresql://...";
            return false;
        }
        options.files = operands;
        return true;
    }
    if (options.all && !options.programmer.empty()) {
        error = "--all burns every programmer; --programmer names one";
        return false;
    }
    // run's JOB is TOML; job's FILE.toml is written as a job and its FILE is the firmware.
    if (options.command == CliCommand::Job)
        operands.erase(operands.begin() + 1);
    const size_t first = options.command == CliCommand::Job ? 1 : 0;
    const size_t checked = options.command == CliCommand::Run ? 0 : operands.size();
    // Which reader or writer a file needs comes from its name, else from --format; OUT of convert is
    // written as Save writes (Intel HEX) for any name but one ending in .bin. "-" has no name to go by.
    const size_t typed = options.command == CliCommand::Convert ? 1 : operands.size();
    for (size_t k = first; k < checked; ++k) {
        if (operands[k] == "-" && options.format == FileKind::None) {
            error = "'-' has no extension to tell its format: give --format hex or --format bin";
            return false;
        }
        if (k < typed && options.format == FileKind::None &&
            FileKindFromPath(operands[k]) == FileKind::None) {
            error =
                Quoted(operands[k]) + " is neither Intel HEX (.hex, .ihx) nor binary (.bin); give --format";
            return false;
        }
    }
    if (options.json && !operands.empty() && operands.back() == STDIO_NAME &&
        options.command == CliCommand::Read) {
        error = "--json and 'read -' both want standard output: save the flash to a file";
        return false;
    }
    if (options.more && operands[0] == STDIO_NAME) {
        error = "--more reads its answers from standard input, which holds the firmware here: give a file";
        return false;
    }
    if (options.watch && options.command == CliCommand::Burn && !options.all && options.programmer.empty()) {
        error = "--watch watches every programmer (--all) or the one --programmer names";
        return false;
    }
    if ((options.all || options.watch) && (options.json || operands[0] == "-")) {
        error = options.json ? "--json does not go with --all yet: burn one programmer at a time"
                             : "--all cannot share standard input among its sockets: give a file";
        return false;
    }
    options.files = operands;
    return true;
}

std::string UsageText() {
    return std::string("Usage: ") + CLI_NAME + " [--chip NAME] [--programmer BUS/DEVICE] COMMAND ...\n" +
           R"(
Drives the Veltro-8051 USB in-system programmer without a window, with the same sequences and
texts as the desktop application Veltro 51. Every command on a chip first tests the programmer,
powers the target and reads the chip's signature, which names the chip.

Commands:
  list                       every attached programmer (bus, device, product string)
  info                       the chip in the socket by its signature, its lock status, the speed
  burn FILE [--lock MODE] [--more] [--serial ADDR[,START[,STEP[,FORMAT]]] --serial-file PATH]
       [--log PATH] [--all]
                             erase, write FILE (.hex, .ihx or .bin), read back and verify;
                             --lock: then write lock modes 1..MODE (1 to 4);
                             --more: ask "Write More Chips ?" after each chip (y/n);
                             --serial: put the serial file's next number at flash address ADDR
                             (FORMAT le1..le4, be1..be4, dec1..dec10, bcd1..bcd5; default le2);
                             --log: append a line of JSON per chip to PATH;
                             --serial-store PATH|postgresql://...: the numbers from a serial
                             file or a database's series; --serial-reset: give the serial
                             file's number even at or below the highest given, once;
                             --log postgresql://...: a record per chip in the database
                             (--log twice: a file and a database);
                             --all: every attached programmer at once
  read OUT                   the chip's flash, saved as Intel HEX (.hex, .ihx) or raw binary (.bin)
  verify FILE                compare the chip's whole flash with FILE, without erasing
  blank                      check that every byte of the chip's flash is 0xFF
  erase                      erase the chip, then check that it reads blank
  lock [--write MODE]        read the lock bits, or write lock modes 1..MODE (1 to 4)
  speed [--set KHZ]          read the programming speed, or store 3000, 750, 188 or 94
  convert IN OUT             load IN as Open HEX File would, save OUT as Intel HEX (raw binary
                             for a .bin name)
  dump FILE [--sum]          print the image as the hex view shows it, or with --sum its CRC-32
                             and 16-bit sum
  run JOB                    burn as the job file JOB says (TOML; see JOB FILES below)
  job JOB burn FILE ...      write the job file that this burn's command line describes, with
                             FILE's SHA-256, instead of burning
  store init URL             make the database's schema for stations (postgresql://...)

Options:
  --chip NAME                the chip that must be in the socket, in any case:
                             )" +
           CatalogueNames() + R"(;
                             without it the signature decides. convert and dump take it as the
                             image bound, else the chip last chosen in the desktop program
  --force                    go on with another catalogue chip than --chip names (with --chip's
                             size), read a chip in lock mode 3 or 4, or write a serial number over
                             the file's data
  --programmer BUS/DEVICE    the programmer at this place, as 'list' prints it;
                             default: the first one found that no other program is using
  --quiet                    only results and failures
  --verbose                  every vendor request with its result and time, on standard error
  --json                     list, info, verify, blank, erase, read, burn: the result as one JSON
                             object on standard output (burn: one per chip, as --log writes it);
                             the rows go to standard error (with --quiet, only failures)
  --lenient                  read Intel HEX as the desktop program does: no checksums verified,
                             no address records; by default every record is checked, extended
                             address records (02, 04) are followed, start addresses (03, 05)
                             ignored, and a failure names the file and line
  --format hex|bin           the format of '-' or of a name without .hex, .ihx or .bin
  --sha256 HEX               burn: refuse FILE unless its SHA-256 is HEX (64 hexadecimal digits)
  --help                     print this help
  --version                  print the version

FILE or IN '-' is standard input (read whole before the programmer is touched), OUT '-' standard
output (the rows then go to standard error); give --format with it:
  srec_cat fw.bin -binary -o - -intel | veltro51-cli burn - --format hex
  veltro51-cli read - --format bin | od -A x -t x1
  veltro51-cli info --json | jq -r .chip

Job files (TOML): a line's settings, set up once. Paths are relative to the job's folder.
  firmware = "blink.hex"     required: the file to burn (.hex, .ihx or .bin)
  sha256 = "..."             required: the file's SHA-256 (as sha256sum prints it); a file with
                             another is refused before any programmer is touched
  chip = "AT89S52"           --chip;  lock = 2: --lock;  log = "production.log": --log
  serial = "0x1FF0,1,1,le2"  --serial, with serial_store = "serial.txt" (--serial-file)
  sockets = "all"            --all, or ["001/002"]: --programmer; mode = "rounds" or "watch"
Options beside run may repeat what the job says, never change it: a contradiction is refused.

Ctrl+C (or SIGTERM, SIGHUP) aborts as the dialog's Abort does: the target is powered off and the
programmer released; nothing is erased or written after it. The program then ends by that signal.

Exit status:
  0  everything asked for succeeded (for burn, every chip written and verified)
  1  the operation failed: a request, a mismatch, a chip not blank, a file
  2  bad usage: nothing was done
  3  no usable programmer: none found, in use by another program, or access denied
  4  the chip: wrong, unknown, missing, or locked against reading
  128+N  ended by signal N after the abort (130: Ctrl+C)
)";
}
