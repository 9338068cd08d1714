#pragma once
// The production log: one line of JSON per chip cycle, appended to a file that several processes
// (one per socket) may share, for scripts and log collectors.
//
// A line, keys always present and in this order (null where a value is unknown or not asked for):
//   {"time":"2026-03-01T10:50:19.123Z", "host":"line-3", "version":"2.4.0",
//    "programmer":"001/001", "product":"Veltro-8051", "signature":"1E 52 06", "chip":"AT89S52",
//    "chip_requested":"AT89S52", "file":"/srv/fw/blink.hex",
//    "file_sha256":"<64 hex digits>", "file_crc32":"cbf43926", "file_sum16":"01dd",
//    "serial":124, "lock_mode":2, "outcome":"verified", "failure":null, "duration_ms":4123}
// - time: UTC, ISO 8601 with milliseconds, when the cycle ended.
// - signature: the three bytes as read, hexadecimal, blank-separated.
// - file_*: of the image within the chip's flash size, before a serial number was put into it;
//   lowercase hexadecimal (sha256 64 digits, crc32 8, sum16 4); all three null when no image was loaded.
// - serial: the number given to this chip. With an outcome other than verified the number is spent
//   all the same: no chip holds it and it is never given again.
// - lock_mode: the highest lock mode written (null: none).
// - outcome: "verified", "failed" (failure: the failing row's text) or "aborted" (CycleOutcomeName).
// Strings are JSON-escaped; bytes that are not UTF-8 (a file name may hold any) become U+FFFD.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "ops/Port.h"

struct ProductionRecord {
    std::chrono::system_clock::time_point time; // the cycle's end
    std::string host;                           // HostName()
    std::string version;                        // the tool's version
    std::string programmerLocation;             // "BUS/DEVICE"; empty: null
    std::string programmerProduct;              // its product string; empty: null
    bool signatureRead = false;
    uint8_t signature[3] = {};
    std::string chip;          // the catalogue name of the signature; empty: null (none, unknown)
    std::string chipRequested; // the chip asked for; empty: null
    std::string filePath;      // as given; empty: null
    std::string fileSha256;    // Sha256Hex of the image; empty: null
    uint32_t fileCrc32 = 0;
    uint16_t fileSum16 = 0;
    bool hasSerial = false;
    uint64_t serial = 0;
    std::string
        series;       // where the number came from (the series' name, the serial file); not in the JSON line
    int lockMode = 0; // 0: none written
    CycleOutcome outcome = CycleOutcome::Failed;
    std::string failure; // the failing row's text (failed only); empty: null
    int64_t durationMs = 0;
};

// This machine's name (gethostname); empty when it has none.
std::string HostName();

// The time in UTC, ISO 8601 with milliseconds: "2026-03-01T10:50:19.123Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time);

// A JSON string literal of text, quotes included: control characters, quote and backslash escaped,
// bytes that are not UTF-8 replaced by U+FFFD.
std::string JsonString(const std::string& text);

// The record as one line of JSON, without a newline.
std::string ProductionLogLine(const ProductionRecord& record);

// Whether the log at path can be opened for appending (made when missing, as the first line would
// make it); false with a reason. A full disk is found only by the first line.
// A FIFO is not opened here (a reader would see the end of its input); it is written as a pipe.
bool ProductionLogWritable(const std::string& path, std::string& error);

// Appends line and a newline to the log at path (made 0666 less the umask when missing) with one
// write, flushed to the disk before it returns. Safe with several processes appending to one file:
// each line lands whole, never interleaved with another. False with a reason on failure.
//
// This is the one file the programs write without the safe replace: a replace rewrites the whole file
// and, with several processes appending, would lose the lines another wrote between its read and its
// rename. An append of a whole line under O_APPEND cannot lose any.
//
// Another process's lock on the log (a person's flock, a backup) is waited for up to waitLimitMs,
// tried again every few milliseconds; abort (when given) ends the wait; either fails the line with a
// reason. A FIFO or another file that is not regular is opened without blocking and written as a
// pipe: with no process reading it the line fails ("no process reads it"), never goes into a void.
constexpr int LOG_LOCK_LIMIT_MS = 10000;
bool AppendProductionLog(const std::string& path, const std::string& line, std::string& error,
                         const std::atomic<int32_t>* abort = nullptr, int waitLimitMs = LOG_LOCK_LIMIT_MS);

// Where each cycle's record goes: the JSON log, or a database table (ops/store). Written after the
// cycle's PowerOff; false with a reason, the chip's result standing.
class IRecordSink {
public:
    virtual ~IRecordSink() = default;
    virtual bool Write(const ProductionRecord& record, std::string& error,
                       const std::atomic<int32_t>* abort) = 0;
    // How it is shown: the file's name, or the connection without its password.
    virtual std::string Shown() const = 0;
};

class CJsonLogSink : public IRecordSink {
public:
    explicit CJsonLogSink(std::string path) : m_path(std::move(path)) {}
    bool Write(const ProductionRecord& record, std::string& error,
               const std::atomic<int32_t>* abort) override {
        return AppendProductionLog(m_path, ProductionLogLine(record), error, abort);
    }
    std::string Shown() const override { return m_path; }

private:
    std::string m_path;
};
