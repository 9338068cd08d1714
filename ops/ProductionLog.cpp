#include "ops/ProductionLog.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/FileIo.h"

namespace {

// The length of the UTF-8 sequence that starts at text[i], or 0 when it is no valid one (overlong,
// a surrogate, beyond U+10FFFF, cut short).
size_t Utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length;
    unsigned code;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(i + k) & 0x3F);
    }
    const unsigned lowest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < lowest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// A string field: null when empty.
std::string StringOrNull(const std::string& text) {
    return text.empty() ? std::string("null") : JsonString(text);
}

} // namespace

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    // Floor division, so that a time before 1970 still gets milliseconds 0..999.
    auto seconds = ms / 1000;
    auto milli = ms % 1000;
    if (milli < 0) {
        milli += 1000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    ::gmtime_r(&t, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milli));
    return text;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8Length(text, i);
            if (length == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                out += "\\u00" + Hex(c, 2);
            else
                out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

std::string ProductionLogLine(const ProductionRecord& r) {
    char signature[16];
    std::snprintf(signature, sizeof signature, "%02X %02X %02X", r.signature[0], r.signature[1],
                  r.signature[2]);
    std::string line = "{\"time\":" + JsonString(UtcTimeText(r.time));
    line += ",\"host\":" + StringOrNull(r.host);
    line += ",\"version\":" + StringOrNull(r.version);
    line += ",\"programmer\":" + StringOrNull(r.programmerLocation);
    line += ",\"product\":" + StringOrNull(r.programmerProduct);
    line += ",\"signature\":" + (r.signatureRead ? JsonString(signature) : std::string("null"));
    line += ",\"chip\":" + StringOrNull(r.chip);
    line += ",\"chip_requested\":" + StringOrNull(r.chipRequested);
    line += ",\"file\":" + StringOrNull(r.filePath);
    line += ",\"file_sha256\":" + StringOrNull(r.fileSha256);
    // The checksums are the image's only when it was loaded (its SHA-256 is there); zeros would lie.
    const bool image = !r.fileSha256.empty();
    line += ",\"file_crc32\":" + (image ? "\"" + Hex(r.fileCrc32, 8) + "\"" : std::string("null"));
    line += ",\"file_sum16\":" + (image ? "\"" + Hex(r.fileSum16, 4) + "\"" : std::string("null"));
    line += ",\"serial\":" + (r.hasSerial ? std::to_string(r.serial) : std::string("null"));
    line += ",\"lock_mode\":" + (r.lockMode > 0 ? std::to_string(r.lockMode) : std::string("null"));
    line += ",\"outcome\":\"" + std::string(CycleOutcomeName(r.outcome)) + "\"";
    line += ",\"failure\":" + StringOrNull(r.failure);
    line += ",\"duration_ms\":" + std::to_string(r.durationMs) + "}";
    return line;
}

bool ProductionLogWritable(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        if (::access(path.c_str(), W_OK) == 0)
            return true;
        error = "cannot open the log " + path + SystemReason();
        return false;
    }
    errno = 0;
    CFileDescriptor file(
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
    if (!file.IsOpen()) {
        error = "cannot open the log " + path + SystemReason();
        return false;
    }
    return true;
}

namespace {

constexpr useconds_t LOG_LOCK_RETRY_US = 2000;

// Opens the log for appending, never blocking: a regular file read-write when it may be (to look at
// its last byte), else write-only; anything else write-only, blocking again once open.
int OpenLog(const std::string& path, bool& readable, bool& regular, std::string& error) {
    errno = 0;
    const int flags = O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(path.c_str(), O_WRONLY | flags, 0666);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = "cannot open the log " + path +
                (errno == ENXIO ? std::string(": no process reads it") : SystemReason());
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    regular = S_ISREG(st.st_mode);
    readable = false;
    if (regular) {
        // The same file again, read-write; a log this user may only write is appended all the same.
        const int rw = ::open(path.c_str(), O_RDWR | flags, 0666);
        struct stat again {};
        if (rw >= 0 && ::fstat(rw, &again) == 0 && again.st_dev == st.st_dev && again.st_ino == st.st_ino) {
            ::close(fd);
            fd = rw;
            readable = true;
        } else if (rw >= 0) {
            ::close(rw);
        }
    }
    // A pipe's reader may be slow: the line waits for it rather than failing half written.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

bool AppendProductionLog(const std::string& path, const std::string& line, std::string& error,
                         const std::atomic<int32_t>* abort, int waitLimitMs) {
    bool readable = false;
    bool regular = false;
    CFileDescriptor file(OpenLog(path, readable, regular, error));
    if (!file.IsOpen())
        return false;
    struct stat st {};

    // O_APPEND makes finding the end and writing there one step, and Linux holds the file's lock for
    // the whole of a write on a local file system, so one write() of the whole line never interleaves
    // with another process's. A write falls short only on a full disk, a size limit or a signal; the
    // rest is then written after it, which the flock keeps whole against the other processes of ours.
    // Where flock is not supported the line goes out without it. Another holder is waited for only so
    // long, and never past an abort: a chip is done, and the operator must hear of its record.
    int locked = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitLimitMs);
    while (regular && (locked = ::flock(file.Get(), LOCK_EX | LOCK_NB)) != 0 &&
           (errno == EINTR || errno == EWOULDBLOCK)) {
        if (abort != nullptr && abort->load() != 0) {
            error = "the log " + path + " is locked by another process; aborted while waiting";
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "the log " + path + " is locked by another process (waited " +
                    std::to_string(waitLimitMs / 1000) + " s)";
            return false;
        }
        ::usleep(LOG_LOCK_RETRY_US);
    }

    std::string data;
    off_t before = 0;
    // Known only with the file's size, and only ours to take back while the lock keeps the others out.
    const bool mayTakeBack = regular && locked == 0 && ::fstat(file.Get(), &st) == 0;
    if (mayTakeBack && st.st_size > 0) {
        before = st.st_size;
        // A line cut short by a crash or power loss before: end it, so that this line stays whole.
        char last = '\n';
        if (readable && ::pread(file.Get(), &last, 1, before - 1) == 1 && last != '\n')
            data = "\n";
    }
    data += line;
    data += '\n';
    errno = 0;
    if (!WriteAll(file.Get(), data)) {
        const std::string reason = errno == EPIPE ? std::string(": no process reads it") : SystemReason();
        // A part written (full disk) is taken back, so that no half line stays for the next to join.
        if (mayTakeBack) [[maybe_unused]]
            const int undone = ::ftruncate(file.Get(), before);
        error = "cannot write the log " + path + reason;
        return false;
    }
    errno = 0;
    if (regular && ::fsync(file.Get()) != 0) {
        error = "cannot flush the log " + path + SystemReason();
        return false;
    }
    if (!file.Close()) {
        error = "cannot close the log " + path + SystemReason();
        return false;
    }
    return true;
}
