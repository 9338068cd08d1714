// The production log: lines that a JSON parser reads with the image's right checksums, and appends
// from several processes that land whole.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <chrono>
#include <atomic>
#include <thread>

#include <csignal>
#include <cstdio>
#include <random>
#include <set>

#include <sys/resource.h>

#include "image/Checksum.h"
#include "ops/ProductionLog.h"
#include "tests/production/ProductionTestSupport.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

TEST(ProductionLogTest, UtcTimeWithMilliseconds) {
    EXPECT_EQ(UtcTimeText(system_clock::time_point(milliseconds(1772362219123))), "2026-03-01T10:50:19.123Z");
    EXPECT_EQ(UtcTimeText(system_clock::time_point(milliseconds(0))), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcTimeText(system_clock::time_point(milliseconds(-1))), "1969-12-31T23:59:59.999Z");
}

TEST(ProductionLogTest, JsonStringsEscapeControlsAndReplaceWhatIsNoUtf8) {
    const struct {
        std::string text;
        const char* json;
    } cases[] = {
        {"plain /path/fw.hex", R"("plain /path/fw.hex")"},
        {"q\"b\\s/", R"("q\"b\\s/")"},
        {"\n\r\t\b\f", R"("\n\r\t\b\f")"},
        {std::string("\x01\x1f\x7f\0", 4), R"("\u0001\u001f\u007f\u0000")"},
        {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""}, // kept
        {"\x80", R"("\ufffd")"},                               // a continuation byte alone
        {"\xC0\xAF", R"("\ufffd\ufffd")"},                     // an overlong '/'
        {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},           // a surrogate
        {"\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"}, // beyond U+10FFFF
        {"a\xE2\x82", R"("a\ufffd\ufffd")"},                   // cut short
        {"\xFF.hex", R"("\ufffd.hex")"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JsonString(c.text), c.json);
}

// Reads the log with Python's json module and checks the lines against the image file: the same
// SHA-256, CRC-32 and sum that Python's own hashlib and zlib compute.
const char* const kCheckScript = R"PY(
import hashlib, json, re, sys, zlib
lines = open(sys.argv[1], 'rb').read().decode('utf-8').split('\n')
assert lines[-1] == '', 'the log ends with a newline'
records = [json.loads(line) for line in lines[:-1]]
assert len(records) == 3, len(records)
keys = ['time', 'host', 'version', 'programmer', 'product', 'signature', 'chip', 'chip_requested', 'file',
        'file_sha256', 'file_crc32', 'file_sum16', 'serial', 'lock_mode', 'outcome', 'failure', 'duration_ms']
for r in records:
    assert list(r.keys()) == keys, list(r.keys())
    assert re.fullmatch(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z', r['time']), r['time']
image = open(sys.argv[2], 'rb').read()
first, second, third = records
expected = {'time': '2026-03-01T10:50:19.123Z', 'host': 'line-3', 'version': '2.4.0',
            'programmer': '001/002', 'product': 'Veltro-8051', 'signature': '1E 52 06', 'chip': 'AT89S52',
            'chip_requested': 'AT89S52', 'file': 'fw "q" \\ \n\t\x01\x7f \u00e9 \ufffd.hex',
            'file_sha256': hashlib.sha256(image).hexdigest(), 'file_crc32': '%08x' % zlib.crc32(image),
            'file_sum16': '%04x' % (sum(image) & 0xFFFF), 'serial': 9999999999, 'lock_mode': 2,
            'outcome': 'verified', 'failure': None, 'duration_ms': 4123}
for key in keys:
    assert first[key] == expected[key], (key, first[key], expected[key])
for key in ['programmer', 'product', 'signature', 'chip', 'chip_requested', 'file', 'file_sha256', 'serial',
            'lock_mode', 'failure']:
    assert second[key] is None, (key, second[key])
assert second['outcome'] == 'aborted' and second['file_crc32'] is None and second['file_sum16'] is None, second
assert third['outcome'] == 'failed' and third['failure'] == 'Data Verification Failed at 0x0010', third
assert third['serial'] == 0 and third['signature'] == 'FF FF FF', third
print('ok')
)PY";

TEST(ProductionLogTest, LinesReadByJsonWithTheImagesChecksums) {
    CProductionDir dir;
    std::string image(8192, '\0');
    std::mt19937 random(7);
    for (char& c : image)
        c = static_cast<char>(random());
    WriteWholeFile(dir / "fw.bin", image);
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.data());

    ProductionRecord first;
    first.time = system_clock::time_point(milliseconds(1772362219123));
    first.host = "line-3";
    first.version = "2.4.0";
    first.programmerLocation = "001/002";
    first.programmerProduct = "Veltro-8051";
    first.signatureRead = true;
    first.signature[0] = 0x1E;
    first.signature[1] = 0x52;
    first.signature[2] = 0x06;
    first.chip = first.chipRequested = "AT89S52";
    first.filePath = "fw \"q\" \\ \n\t\x01\x7f \xC3\xA9 \xFF.hex";
    first.fileSha256 = Sha256Hex(bytes, image.size());
    first.fileCrc32 = Crc32(bytes, image.size());
    first.fileSum16 = Sum16(bytes, image.size());
    first.hasSerial = true;
    first.serial = 9999999999;
    first.lockMode = 2;
    first.outcome = CycleOutcome::Verified;
    first.durationMs = 4123;

    ProductionRecord second; // nothing known: no programmer found, aborted
    second.time = system_clock::now();
    second.outcome = CycleOutcome::Aborted;

    ProductionRecord third = second;
    third.signatureRead = true;
    third.signature[0] = third.signature[1] = third.signature[2] = 0xFF;
    third.hasSerial = true;
    third.serial = 0;
    third.outcome = CycleOutcome::Failed;
    third.failure = "Data Verification Failed at 0x0010";

    const std::string log = dir / "production.log";
    for (const ProductionRecord* record : {&first, &second, &third}) {
        const std::string line = ProductionLogLine(*record);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        std::string error;
        ASSERT_TRUE(AppendProductionLog(log, line, error)) << error;
    }
    EXPECT_FALSE(HostName().empty());

    WriteWholeFile(dir / "check.py", kCheckScript);
    const std::string command =
        "python3 '" + (dir / "check.py") + "' '" + log + "' '" + (dir / "fw.bin") + "' 2>&1";
    FILE* python = ::popen(command.c_str(), "r");
    ASSERT_NE(python, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, python) != nullptr)
        output += buffer;
    const int status = ::pclose(python);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        GTEST_SKIP() << "python3 is not installed";
    EXPECT_EQ(output, "ok\n");
    EXPECT_EQ(status, 0);
}

std::string NumberedLine(int child, int line) {
    // Lengths up to 9000 bytes: beyond the pipe's atomic size and a page, so a short or split write shows.
    const size_t padding = static_cast<size_t>(line * 997 + child * 131) % 9000;
    return "{\"child\":" + std::to_string(child) + ",\"line\":" + std::to_string(line) + ",\"pad\":\"" +
           std::string(padding, static_cast<char>('a' + child)) + "\"}";
}

TEST(ProductionLogTest, ProcessesAppendingToOneLogLeaveWholeLinesOnly) {
    CProductionDir dir;
    const std::string log = dir / "production.log";
    constexpr int CHILDREN = 4;
    constexpr int LINES = 50;
    std::vector<ChildProcess> children;
    for (int k = 0; k < CHILDREN; ++k) {
        children.push_back(StartChild([&, k](int) {
            for (int i = 0; i < LINES; ++i) {
                std::string error;
                if (!AppendProductionLog(log, NumberedLine(k, i), error))
                    ::_exit(3);
            }
        }));
    }
    for (ChildProcess& child : children) {
        int status = 0;
        CollectChild(child, &status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string text = ReadWholeFile(log);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::set<std::pair<int, int>> seen;
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        const std::string line = text.substr(begin, end - begin);
        int child = -1, number = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "{\"child\":%d,\"line\":%d,", &child, &number), 2)
            << line.substr(0, 60);
        ASSERT_EQ(line, NumberedLine(child, number));
        EXPECT_TRUE(seen.insert({child, number}).second);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(CHILDREN * LINES));
}

TEST(ProductionLogTest, ALineCutShortIsEndedAndAFailedAppendTakesItsPartBack) {
    CProductionDir dir;
    const std::string log = dir / "production.log";
    WriteWholeFile(log, "{\"whole\":1}\n{\"cut");
    std::string error;
    ASSERT_TRUE(AppendProductionLog(log, "{\"next\":2}", error)) << error;
    EXPECT_EQ(ReadWholeFile(log), "{\"whole\":1}\n{\"cut\n{\"next\":2}\n");

    // A file-size limit stops the write part-way: nothing of the line stays.
    const std::string before = ReadWholeFile(log);
    ChildProcess child = StartChild([&](int fd) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(before.size() + 10), RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string childError;
        const char outcome = AppendProductionLog(log, std::string(100, 'x'), childError) ? 'y' : 'n';
        if (::write(fd, &outcome, 1) != 1)
            ::_exit(4);
    });
    EXPECT_EQ(CollectChild(child), "n");
    EXPECT_EQ(ReadWholeFile(log), before);

    EXPECT_FALSE(AppendProductionLog(dir / "missing/production.log", "{}", error));
    EXPECT_NE(error.find("missing/production.log"), std::string::npos) << error;
}

// A FIFO log is a pipe: a reader gets the line; with none the line fails at once, never into a void.
TEST(ProductionLogTest, AFifoLogReachesItsReaderOrFails) {
    CProductionDir dir;
    const std::string fifo = dir / "fifo.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string error;
    EXPECT_TRUE(ProductionLogWritable(fifo, error)) << "looked at, not opened: a reader would see its end";

    ChildProcess reader = StartChild([&](int fd) {
        const int in = ::open(fifo.c_str(), O_RDONLY);
        char buffer[256];
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got > 0 && ::write(fd, buffer, static_cast<size_t>(got)) < 0)
            ::_exit(4);
    });
    bool written = false;
    for (int i = 0; i < 500 && !written; ++i) { // until the reader has opened its end
        written = AppendProductionLog(fifo, "{\"chip\":1}", error);
        if (!written)
            ::usleep(2000);
    }
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(CollectChild(reader), "{\"chip\":1}\n");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(AppendProductionLog(fifo, "{\"chip\":2}", error));
    EXPECT_EQ(error, "cannot open the log " + fifo + ": no process reads it");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Another process's lock on the log is waited for only so long, and an abort ends the wait; either way
// the line is not written and the reason says who holds it.
TEST(ProductionLogTest, ALogLockedByAnotherProcessGivesWayToTheLimitAndToAnAbort) {
    CProductionDir dir;
    const std::string log = dir / "production.log";
    WriteWholeFile(log, "");
    const int held = ::open(log.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0); // another open file: flock treats it as another process
    std::string error;
    EXPECT_FALSE(AppendProductionLog(log, "{}", error, nullptr, 200));
    EXPECT_EQ(error, "the log " + log + " is locked by another process (waited 0 s)");

    std::atomic<int32_t> abort{0};
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        abort.store(1);
    });
    EXPECT_FALSE(AppendProductionLog(log, "{}", error, &abort, 60000));
    aborter.join();
    EXPECT_NE(error.find("aborted"), std::string::npos) << error;
    EXPECT_EQ(ReadWholeFile(log), "");

    ::close(held);
    EXPECT_TRUE(AppendProductionLog(log, "{}", error, &abort, 200)) << error;
    EXPECT_EQ(ReadWholeFile(log), "{}\n");
}

} // namespace
