#include "ops/Job.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string_view>

// Errors are values here: the parser reports a failure in its result, never by throwing.
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "chips/ChipCatalogue.h"
#include "image/Checksum.h"
#include "image/FileIo.h"
#include "image/FileKind.h"
#include "ops/ImageSource.h"
#include "ops/Serial.h"

namespace {

constexpr long JOB_FILE_LIMIT = 64 * 1024;
constexpr long FIRMWARE_FILE_LIMIT = 64L * 1024 * 1024;

constexpr const char* KEY_NAMES = "firmware, sha256, chip, lock, serial, serial_store, log, sockets, mode";
constexpr const char* SOCKETS_FORM = "sockets wants \"all\" or a list of locations \"BUS/DEVICE\" as 'list' "
                                     "prints them";

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

int LineOf(const toml::source_region& region) {
    return static_cast<int>(region.begin.line);
}

// The file's last line, where a missing key would go.
int LastLine(const std::string& text) {
    int lines = 0;
    for (char c : text)
        lines += c == '\n';
    return text.empty() || text.back() == '\n' ? std::max(lines, 1) : lines + 1;
}

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

// Collects the first problem of a job with its line.
class CJobChecker {
public:
    CJobChecker(JobLoad& load, const std::string& source) : m_load(load), m_source(source) {}

    bool Fail(int line, const std::string& text) {
        m_load.ok = false;
        m_load.line = line;
        m_load.message = m_source + ":" + std::to_string(line) + ": " + text;
        return false;
    }

    // A non-empty string, or a failure naming what the key wants.
    bool String(const std::string& key, const toml::node& node, std::string& value, const char* wants) {
        const auto* text = node.as_string();
        if (text == nullptr || text->get().empty())
            return Fail(LineOf(node.source()), key + " wants " + wants);
        // TOML may hold a NUL (\u0000); a path cut short there would name another file.
        if (text->get().find('\0') != std::string::npos)
            return Fail(LineOf(node.source()), key + " holds a NUL character, which no path or value may");
        value = text->get();
        return true;
    }

private:
    JobLoad& m_load;
    const std::string& m_source;
};

bool CheckKey(CJobChecker& check, const std::string& key, const toml::node& node, Job& job) {
    const int line = LineOf(node.source());
    if (key == "firmware") {
        if (!check.String(key, node, job.firmware, "the firmware file's path (a string)"))
            return false;
        if (FileKindFromPath(job.firmware) == FileKind::None)
            return check.Fail(line, "firmware " + Quoted(job.firmware) +
                                        " is neither Intel HEX (.hex, .ihx) nor binary (.bin)");
        return true;
    }
    if (key == "sha256") {
        const char* wants = "the firmware file's SHA-256 as 64 hexadecimal digits (as sha256sum prints it)";
        if (!check.String(key, node, job.sha256, wants))
            return false;
        if (!NormaliseSha256(job.sha256, job.sha256))
            return check.Fail(line, std::string(key) + " wants " + wants + ", not " + Quoted(job.sha256));
        return true;
    }
    if (key == "chip") {
        std::string name;
        if (!check.String(key, node, name, "a chip's name (a string)"))
            return false;
        const int chip = FindChipByName(name);
        if (chip < 0)
            return check.Fail(line, "unknown chip " + Quoted(name) + " (" + CatalogueNames() + ")");
        job.chip = g_chipCatalogue[static_cast<size_t>(chip)].name;
        return true;
    }
    if (key == "lock") {
        const auto* mode = node.as_integer();
        if (mode == nullptr || mode->get() < 1 || mode->get() > 4)
            return check.Fail(line, "lock wants a lock mode: the number 1, 2, 3 or 4");
        job.lock = static_cast<int>(mode->get());
        return true;
    }
    if (key == "serial") {
        if (!check.String(key, node, job.serial, "ADDR[,START[,STEP[,FORMAT]]] (a string)"))
            return false;
        SerialSpec spec;
        std::string reason;
        if (!ParseSerialSpec(job.serial, spec, reason))
            return check.Fail(line, "serial " + Quoted(job.serial) + ": " + reason);
        return true;
    }
    if (key == "serial_store")
        return check.String(key, node, job.serialStore, "the serial file's path (a string)");
    if (key == "log")
        return check.String(key, node, job.log, "the production log's path (a string)");
    if (key == "sockets") {
        if (const auto* all = node.as_string()) {
            if (all->get() != "all")
                return check.Fail(line, std::string(SOCKETS_FORM) + ", not " + Quoted(all->get()));
            job.allSockets = true;
            return true;
        }
        const auto* list = node.as_array();
        if (list == nullptr || list->empty())
            return check.Fail(line, SOCKETS_FORM);
        for (const toml::node& element : *list) {
            const auto* text = element.as_string();
            std::string location;
            if (text == nullptr || !NormaliseLocation(text->get(), location))
                return check.Fail(LineOf(element.source()), SOCKETS_FORM);
            for (const std::string& earlier : job.sockets)
                if (earlier == location)
                    return check.Fail(LineOf(element.source()), "sockets names " + location + " twice");
            job.sockets.push_back(location);
        }
        return true;
    }
    if (key == "mode") {
        std::string mode;
        if (!check.String(key, node, mode, "\"rounds\" or \"watch\""))
            return false;
        if (mode != "rounds" && mode != "watch")
            return check.Fail(line, "mode wants \"rounds\" or \"watch\", not " + Quoted(mode));
        job.mode = mode == "watch" ? JobMode::Watch : JobMode::Rounds;
        return true;
    }
    return check.Fail(line, "unknown key " + Quoted(key) + " (" + KEY_NAMES + ")");
}

// Where a key was, for a rule that joins two keys.
int KeyLine(const toml::table& table, const char* key) {
    const toml::node* node = table.get(key);
    return node != nullptr ? LineOf(node->source()) : 0;
}

// The TOML literal of a string: the library quotes and escapes it.
std::string StringLiteral(const std::string& text) {
    std::ostringstream out;
    out << toml::value<std::string>(text);
    return out.str();
}

} // namespace

JobLoad ParseJob(const std::string& text, const std::string& source) {
    JobLoad load;
    CJobChecker check(load, source);
    toml::parse_result parsed = toml::parse(std::string_view(text), std::string_view(source));
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        check.Fail(LineOf(error.source()), std::string(error.description()));
        return load;
    }
    const toml::table& table = parsed.table();
    Job job;
    for (auto&& [key, node] : table) {
        if (!CheckKey(check, std::string(key.str()), node, job)) {
            // An unknown key is named where the key stands, a bad value where the value does.
            return load;
        }
    }
    for (const char* required : {"firmware", "sha256"})
        if (table.get(required) == nullptr) {
            check.Fail(LastLine(text), "missing key " + Quoted(required) +
                                           (std::string(required) == "firmware"
                                                ? " (the firmware file to burn)"
                                                : " (the firmware file's SHA-256, as sha256sum prints it)"));
            return load;
        }
    if (job.serial.empty() != job.serialStore.empty()) {
        const bool hasSerial = !job.serial.empty();
        check.Fail(KeyLine(table, hasSerial ? "serial" : "serial_store"),
                   "serial and serial_store go together: the numbers are kept in the serial store");
        return load;
    }
    load.ok = true;
    load.job = job;
    return load;
}

JobLoad LoadJob(const std::string& path) {
    JobLoad load;
    auto fail = [&](const std::string& why) {
        load.message = path + ": " + why;
        return load;
    };
    CFileDescriptor file(OpenForReading(path, true));
    if (!file.IsOpen())
        return fail("cannot read the job" + SystemReason());
    std::string text(static_cast<size_t>(JOB_FILE_LIMIT) + 1, '\0');
    const long got = ReadFully(file.Get(), text.data(), text.size());
    if (got < 0)
        return fail("cannot read the job" + SystemReason());
    if (got > JOB_FILE_LIMIT)
        return fail("a job file is at most 64 KiB");
    text.resize(static_cast<size_t>(got));
    return ParseJob(text, path);
}

std::string JobText(const Job& job) {
    std::string text = "# Veltro 51 job: veltro51-cli run FILE burns with these settings (man veltro51-cli, "
                       "JOB FILES).\n";
    auto line = [&](const char* key, const std::string& value) {
        text += std::string(key) + " = " + value + "\n";
    };
    line("firmware", StringLiteral(job.firmware));
    line("sha256", StringLiteral(job.sha256));
    if (!job.chip.empty())
        line("chip", StringLiteral(job.chip));
    if (job.lock > 0)
        line("lock", std::to_string(job.lock));
    if (!job.serial.empty())
        line("serial", StringLiteral(job.serial));
    if (!job.serialStore.empty())
        line("serial_store", StringLiteral(job.serialStore));
    if (!job.log.empty())
        line("log", StringLiteral(job.log));
    if (job.allSockets) {
        line("sockets", StringLiteral("all"));
    } else if (!job.sockets.empty()) {
        std::string list;
        for (const std::string& location : job.sockets)
            list += (list.empty() ? "[" : ", ") + StringLiteral(location);
        line("sockets", list + "]");
    }
    line("mode", StringLiteral(job.mode == JobMode::Watch ? "watch" : "rounds"));
    return text;
}

JobSaved SaveJob(const Job& job, const std::string& path) {
    JobSaved saved;
    const std::string text = JobText(job);
    const JobLoad back = ParseJob(text, path);
    if (!back.ok) {
        saved.message = back.message;
        return saved;
    }
    if (!(back.job == job)) {
        saved.message = path + ": the job cannot be written as it is (a path or value TOML cannot hold)";
        return saved;
    }
    errno = 0;
    if (!ReplaceFileContents(path, text)) {
        saved.message = path + ": cannot write the job" + SystemReason();
        return saved;
    }
    saved.ok = true;
    return saved;
}

std::string ResolveJobPath(const std::string& jobPath, const std::string& path) {
    if (path.empty() || path.front() == '/')
        return path;
    const auto slash = jobPath.rfind('/');
    if (slash == std::string::npos)
        return path;
    return jobPath.substr(0, slash + 1) + path;
}

std::string PathForJob(const std::string& jobPath, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path file = fs::absolute(path, error).lexically_normal();
    if (error)
        return path;
    const fs::path folder = fs::absolute(jobPath, error).lexically_normal().parent_path();
    if (error)
        return file.string();
    const fs::path relative = file.lexically_relative(folder);
    if (relative.empty() || *relative.begin() == "..")
        return file.string();
    return relative.string();
}

bool IsStoreUrl(const std::string& store) {
    return store.find("://") != std::string::npos;
}

bool NormaliseLocation(const std::string& text, std::string& location) {
    const auto slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == text.size() ||
        text.find('/', slash + 1) != std::string::npos)
        return false;
    auto pad = [](std::string part) {
        int number = 0;
        if (ParseNumber(part, number) && number < 1000) {
            char padded[12]; // room for any int: the compiler cannot see that it is below 1000
            std::snprintf(padded, sizeof padded, "%03d", number);
            return std::string(padded);
        }
        return part;
    };
    location = pad(text.substr(0, slash)) + "/" + pad(text.substr(slash + 1));
    return true;
}

bool NormaliseSha256(const std::string& text, std::string& sha256) {
    if (text.size() != 64)
        return false;
    std::string lower = text;
    for (char& c : lower) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    sha256 = lower;
    return true;
}

bool FileSha256(const std::string& path, std::string& hex, int& systemError) {
    systemError = 0;
    CFileDescriptor file(OpenForReading(path, true));
    if (!file.IsOpen()) {
        systemError = errno != 0 ? errno : ENOENT;
        return false;
    }
    std::string bytes;
    for (;;) {
        const size_t had = bytes.size();
        bytes.resize(had + 64 * 1024);
        const long got = ReadFully(file.Get(), bytes.data() + had, bytes.size() - had);
        if (got < 0) {
            systemError = errno != 0 ? errno : EIO;
            return false;
        }
        bytes.resize(had + static_cast<size_t>(got));
        if (bytes.size() > static_cast<size_t>(FIRMWARE_FILE_LIMIT)) {
            systemError = EFBIG;
            return false;
        }
        if (static_cast<size_t>(got) < 64 * 1024) // short only at the end of the file
            break;
    }
    hex = Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

std::vector<std::string> JobBurnArguments(const Job& job, const std::string& jobPath) {
    // serial_store and log: a file relative to the job's folder, or a database's URL as it stands.
    const auto place = [&](const std::string& where) {
        return IsStoreUrl(where) ? where : ResolveJobPath(jobPath, where);
    };
    std::vector<std::string> args;
    if (!job.chip.empty())
        args.insert(args.end(), {"--chip", job.chip});
    args.insert(args.end(), {"burn", ResolveJobPath(jobPath, job.firmware), "--sha256", job.sha256});
    if (job.lock > 0)
        args.insert(args.end(), {"--lock", std::to_string(job.lock)});
    if (!job.serial.empty())
        args.insert(args.end(), {"--serial", job.serial, "--serial-store", place(job.serialStore)});
    if (!job.log.empty())
        args.insert(args.end(), {"--log", place(job.log)});
    // A watching worker runs the watch sequence; its bench (--all) is the one socket it is given.
    if (job.mode == JobMode::Watch)
        args.insert(args.end(), {"--all", "--watch"});
    return args;
}

namespace {
// Keeps a load's failures as text.
class CFailureText : public IOperationPort {
public:
    void Message(const std::string& text, MsgIcon icon) override {
        if (icon == MsgIcon::Error)
            Add(text);
    }
    void Row(RowKind kind, const std::string& text) override {
        if (kind == RowKind::Error)
            Add(text);
    }
    std::string text;

private:
    void Add(const std::string& line) { text += (text.empty() ? "" : "\n") + line; }
};
} // namespace

JobFirmware LoadJobFirmware(const Job& job, const std::string& jobPath) {
    JobFirmware firmware;
    firmware.path = ResolveJobPath(jobPath, job.firmware);
    CFileImageSource source(firmware.path);
    source.PinSha256(job.sha256);
    CFailureText failures;
    const int chip = job.chip.empty() ? -1 : FindChipByName(job.chip);
    if (!source.LoadForChip(chip, failures)) {
        firmware.message = failures.text;
        if (source.SystemError() != 0)
            firmware.message += (firmware.message.empty() ? "" : "\n") + firmware.path + ": " +
                                std::strerror(source.SystemError());
        if (firmware.message.empty())
            firmware.message = firmware.path + ": the firmware cannot be loaded";
        return firmware;
    }
    firmware.ok = true;
    firmware.crc32 = source.Crc();
    firmware.sum16 = source.Sum();
    firmware.size = source.Size();
    return firmware;
}
