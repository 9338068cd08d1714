#include "ops/Serial.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/FileIo.h"

namespace {

// Larger than any serial file written here or by hand; a bigger one is not ours.
constexpr unsigned long SERIAL_FILE_LIMIT = 4096;

// Decimal, or hexadecimal after 0x; no sign, no blanks, no overflow.
bool ParseNumber(const std::string& text, uint64_t& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t first = hex ? 2 : 0;
    if (text.size() <= first)
        return false;
    const unsigned base = hex ? 16 : 10;
    uint64_t result = 0;
    for (size_t i = first; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        unsigned digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (hex && std::isxdigit(c))
            digit = static_cast<unsigned>(std::tolower(c) - 'a' + 10);
        else
            return false;
        if (__builtin_mul_overflow(result, base, &result) || __builtin_add_overflow(result, digit, &result))
            return false;
    }
    value = result;
    return true;
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields(1);
    for (char c : text) {
        if (c == ',')
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

struct FormatInfo {
    const char* prefix;
    SerialFormat format;
    int maxWidth;
};

constexpr FormatInfo kFormats[] = {
    {"le", SerialFormat::LittleEndian, 4},
    {"be", SerialFormat::BigEndian, 4},
    {"dec", SerialFormat::Decimal, 10},
    {"bcd", SerialFormat::Bcd, 5},
};

bool ParseFormat(const std::string& text, SerialSpec& spec) {
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const FormatInfo& info : kFormats) {
        const size_t length = std::strlen(info.prefix);
        if (lower.compare(0, length, info.prefix) != 0)
            continue;
        const std::string digits = lower.substr(length);
        uint64_t width = 0;
        if (digits.empty() || digits.size() > 2 || !std::isdigit(static_cast<unsigned char>(digits[0])) ||
            !ParseNumber(digits, width) || width < 1 || width > static_cast<uint64_t>(info.maxWidth))
            return false;
        spec.format = info.format;
        spec.width = static_cast<int>(width);
        return true;
    }
    return false;
}

uint64_t Power(uint64_t base, int exponent) {
    uint64_t result = 1;
    for (int i = 0; i < exponent; ++i)
        result *= base;
    return result;
}

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

int SerialFieldSize(const SerialSpec& spec) {
    return spec.width; // a digit of dec takes a byte, as a byte of the other formats
}

uint64_t SerialMaximum(const SerialSpec& spec) {
    switch (spec.format) {
    case SerialFormat::Decimal:
        return Power(10, spec.width) - 1;
    case SerialFormat::Bcd:
        return Power(100, spec.width) - 1;
    default:
        return Power(256, spec.width) - 2; // all 0xFF reads as an erased field
    }
}

std::string SerialFormatName(const SerialSpec& spec) {
    for (const FormatInfo& info : kFormats)
        if (info.format == spec.format)
            return info.prefix + std::to_string(spec.width);
    return {};
}

bool ParseSerialSpec(const std::string& text, SerialSpec& spec, std::string& error) {
    const std::vector<std::string> fields = SplitFields(text);
    if (fields.size() > 4) {
        error = "too many fields in \"" + text + "\" (ADDR[,START[,STEP[,FORMAT]]])";
        return false;
    }
    SerialSpec parsed;
    uint64_t address = 0;
    if (!ParseNumber(fields[0], address) || address > UINT32_MAX) {
        error = "the address \"" + fields[0] + "\" is no flash address";
        return false;
    }
    parsed.address = static_cast<uint32_t>(address);
    if (fields.size() > 1 && !fields[1].empty() && !ParseNumber(fields[1], parsed.start)) {
        error = "the start \"" + fields[1] + "\" is no number";
        return false;
    }
    if (fields.size() > 2 && !fields[2].empty() &&
        (!ParseNumber(fields[2], parsed.step) || parsed.step == 0)) {
        error = "the step \"" + fields[2] + "\" is no number of 1 or more";
        return false;
    }
    if (fields.size() > 3 && !ParseFormat(fields[3], parsed)) {
        error = "the format \"" + fields[3] + "\" is none of le1..le4, be1..be4, dec1..dec10, bcd1..bcd5";
        return false;
    }
    if (parsed.start > SerialMaximum(parsed)) {
        error = "the start " + std::to_string(parsed.start) + " does not fit " + SerialFormatName(parsed) +
                " (at most " + std::to_string(SerialMaximum(parsed)) + ")";
        return false;
    }
    spec = parsed;
    return true;
}

bool EncodeSerial(const SerialSpec& spec, uint64_t number, std::vector<uint8_t>& bytes, std::string& error) {
    if (number > SerialMaximum(spec)) {
        error = "the serial number " + std::to_string(number) + " does not fit " + SerialFormatName(spec) +
                " (at most " + std::to_string(SerialMaximum(spec)) + ")";
        return false;
    }
    const auto width = static_cast<size_t>(spec.width);
    bytes.assign(width, 0);
    for (size_t i = 0; i < width; ++i) {
        // i counts from the field's lowest-order end.
        const size_t from = width - 1 - i;
        switch (spec.format) {
        case SerialFormat::LittleEndian:
            bytes[i] = static_cast<uint8_t>(number >> (8 * i));
            break;
        case SerialFormat::BigEndian:
            bytes[from] = static_cast<uint8_t>(number >> (8 * i));
            break;
        case SerialFormat::Decimal:
            bytes[from] = static_cast<uint8_t>('0' + number / Power(10, static_cast<int>(i)) % 10);
            break;
        case SerialFormat::Bcd: {
            const uint64_t pair = number / Power(100, static_cast<int>(i)) % 100;
            bytes[from] = static_cast<uint8_t>((pair / 10) << 4 | pair % 10);
            break;
        }
        }
    }
    return true;
}

bool CheckSerialField(const SerialSpec& spec, int32_t flashSize, const uint8_t* image, bool force,
                      std::string& error) {
    const uint64_t end = static_cast<uint64_t>(spec.address) + static_cast<uint64_t>(SerialFieldSize(spec));
    if (flashSize <= 0 || end > static_cast<uint64_t>(flashSize)) {
        error = "the serial number field " + Hex(spec.address, 4) + ".." + Hex(end - 1, 4) +
                " does not fit in the chip's flash (" + std::to_string(flashSize) + " bytes)";
        return false;
    }
    for (uint64_t a = spec.address; a < end && !force; ++a) {
        if (image[a] != 0xFF) {
            error = "the serial number field " + Hex(spec.address, 4) + ".." + Hex(end - 1, 4) +
                    " overlaps data of the file (" + Hex(image[a], 2) + " at " + Hex(a, 4) + ")";
            return false;
        }
    }
    return true;
}

bool PutSerial(const SerialSpec& spec, uint64_t number, uint8_t* image, int32_t flashSize,
               std::string& error) {
    std::vector<uint8_t> bytes;
    if (!EncodeSerial(spec, number, bytes, error) || !CheckSerialField(spec, flashSize, image, true, error))
        return false;
    std::memcpy(image + spec.address, bytes.data(), bytes.size());
    return true;
}

std::string SerialFileText(uint64_t next) {
    return "# Veltro 51 serial numbers: the number the next chip gets.\nnext=" + std::to_string(next) + "\n";
}

bool ParseSerialFile(const std::string& text, uint64_t& next) {
    int found = 0;
    uint64_t value = 0;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(begin, end - begin));
        begin = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        if (line.compare(0, 4, "next") == 0) {
            line = Trim(line.substr(4));
            if (line.empty() || line[0] != '=')
                return false;
            line = Trim(line.substr(1));
        }
        if (++found > 1 || !ParseNumber(line, value))
            return false;
    }
    if (found != 1)
        return false;
    next = value;
    return true;
}

constexpr useconds_t LOCK_RETRY_US = 2000;

namespace {

bool Aborted(const std::atomic<int32_t>* abort) {
    return abort != nullptr && abort->load() != 0;
}

// Reads a small file of ours whose one line is "key=N" (or a bare N); found false when it is missing.
bool ReadNumberFile(const std::string& path, const char* what, bool& found, uint64_t& value,
                    std::string& error) {
    errno = 0;
    found = false;
    CFileDescriptor file(OpenForReading(path, true));
    if (!file.IsOpen()) {
        if (errno == ENOENT)
            return true;
        error = std::string("cannot read ") + what + " " + path + SystemReason();
        return false;
    }
    std::string text(SERIAL_FILE_LIMIT + 1, '\0');
    const long size = ReadFully(file.Get(), text.data(), text.size());
    if (size < 0) {
        error = std::string("cannot read ") + what + " " + path + SystemReason();
        return false;
    }
    text.resize(static_cast<size_t>(size));
    // The mark's line is "high=N"; ParseSerialFile reads "next=N" or a bare number.
    if (text.find("high=") != std::string::npos)
        text.replace(text.find("high="), 5, "next=");
    if (size > static_cast<long>(SERIAL_FILE_LIMIT) || !ParseSerialFile(text, value)) {
        error = std::string(what) + " " + path + " holds no number (a line " +
                (std::strcmp(what, "the serial file") == 0 ? "next=N)" : "high=N)");
        return false;
    }
    found = true;
    return true;
}

// Under the lock: reads the next number, checks it against the mark, stores the next one and the
// mark durably, in that order (a crash between leaves the file ahead of the mark: no repeat).
bool TakeLocked(const std::string& path, const std::string& resolved, const SerialSpec& spec, bool reset,
                uint64_t& number, std::string& error) {
    uint64_t taken = spec.start;
    bool found = false;
    uint64_t read = 0;
    if (!ReadNumberFile(path, "the serial file", found, read, error))
        return false;
    if (found)
        taken = read;
    const std::string markPath = resolved + ".high";
    bool marked = false;
    uint64_t high = 0;
    if (!ReadNumberFile(markPath, "the serial file's high-water mark", marked, high, error))
        return false;
    if (marked && taken <= high && !reset) {
        error = "the serial file " + path + (found ? " says next=" : " is missing: the start is ") +
                std::to_string(taken) + ", at or below " + std::to_string(high) +
                ", the highest number already given (" + markPath +
                "); a deleted, restored or edited-down file would give numbers again. Give --serial-reset "
                "if that is meant";
        return false;
    }
    uint64_t next = 0;
    if (taken > SerialMaximum(spec) || __builtin_add_overflow(taken, spec.step, &next)) {
        error = "the serial numbers are used up: the next, " + std::to_string(taken) + ", does not fit " +
                SerialFormatName(spec) + " (at most " + std::to_string(SerialMaximum(spec)) + ")";
        return false;
    }
    errno = 0;
    if (!ReplaceFileContentsDurably(path, SerialFileText(next))) {
        // The file may say next already (only the folder's flush failed): a gap, never a repeat.
        error = "cannot store the next serial number in " + path + SystemReason();
        return false;
    }
    errno = 0;
    const std::string markText = "# Veltro 51: the highest serial number given from " + path +
                                 "; a next number at or below it is refused.\nhigh=" + std::to_string(taken) +
                                 "\n";
    if (!ReplaceFileContentsDurably(markPath, markText)) {
        // The serial file is ahead already, so the number is safe to use; the mark is one behind.
        error = "cannot store the high-water mark in " + markPath + SystemReason();
        return false;
    }
    number = taken;
    return true;
}

} // namespace

bool LockSerialFile(const std::string& path, int& fd, std::string& error, const std::atomic<int32_t>* abort,
                    const WaitNotice& waiting) {
    fd = -1;
    std::string resolved = path;
    if (path.empty() || !ResolveSymbolicLinks(resolved)) {
        error = "cannot follow the serial file's name " + path;
        return false;
    }
    // The lock file is only ever locked, so read access is all it needs, also for another user's.
    // O_NONBLOCK: a FIFO planted there must not hold the open; it is refused below.
    const std::string lockPath = resolved + ".lock";
    errno = 0;
    struct Held {
        int fd;
        ~Held() {
            if (fd >= 0)
                ::close(fd);
        }
        int Get() const { return fd; }
    } lock{
        ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666)};
    if (lock.fd < 0) {
        error = "cannot open the lock " + lockPath + SystemReason();
        return false;
    }
    struct stat st {};
    if (::fstat(lock.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "the lock " + lockPath + " is not a regular file";
        return false;
    }
    // Tried again every few milliseconds rather than waited for, so that an abort ends the wait.
    bool told = false;
    int locked = -1;
    while ((locked = ::flock(lock.Get(), LOCK_EX | LOCK_NB)) != 0 &&
           (errno == EINTR || errno == EWOULDBLOCK)) {
        if (Aborted(abort)) {
            error = "not taken: aborted";
            return false;
        }
        if (!told && waiting) {
            waiting("the serial file's lock " + lockPath + ", held by another process");
            told = true;
        }
        ::usleep(LOCK_RETRY_US);
    }
    if (locked != 0) {
        error = "cannot lock " + lockPath + SystemReason();
        return false;
    }
    if (Aborted(abort)) {
        error = "not taken: aborted";
        return false;
    }
    fd = lock.fd;
    lock.fd = -1;
    return true;
}

bool TakeSerialNumber(const std::string& path, const SerialSpec& spec, uint64_t& number, std::string& error,
                      const std::atomic<int32_t>* abort, bool reset) {
    CSerialFileStore store(path, reset);
    return store.Prepare(error, abort, {}) && store.Take(spec, number, error, abort);
}

bool CSerialFileStore::Prepare(std::string& error, const std::atomic<int32_t>* abort,
                               const WaitNotice& waiting) {
    Release();
    return LockSerialFile(m_path, m_lock, error, abort, waiting);
}

bool CSerialFileStore::Take(const SerialSpec& spec, uint64_t& number, std::string& error,
                            const std::atomic<int32_t>* abort) {
    if (m_lock < 0 && !Prepare(error, abort, {}))
        return false;
    std::string resolved = m_path;
    bool taken = false;
    if (Aborted(abort))
        error = "not taken: aborted";
    else if (!ResolveSymbolicLinks(resolved))
        error = "cannot follow the serial file's name " + m_path;
    else
        taken = TakeLocked(m_path, resolved, spec, m_reset, number, error);
    // The reset is meant for the number the file says now; the mark then follows the file again.
    if (taken)
        m_reset = false;
    Release();
    return taken;
}

void CSerialFileStore::Release() {
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
}
