// The bench's wire: every event of the port crosses it with all its fields, and a line that is not
// an event of this wire is refused with a reason, never half taken.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "ops/engine/Wire.h"

namespace {

// Every event as one text line, fields and all, so that two streams compare as wholes.
class CRecorder : public IOperationPort {
public:
    void Row(RowKind kind, const std::string& text) override {
        events.push_back("row " + std::to_string(static_cast<int>(kind)) + " " + text);
    }
    void Progress(int done, int total) override {
        events.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
    }
    void CycleStarted(int cycle) override { events.push_back("started " + std::to_string(cycle)); }
    void Identified(const CycleReport& report) override { events.push_back("identified " + Text(report)); }
    void ChipVerified(int chips) override { events.push_back("verified " + std::to_string(chips)); }
    void CycleEnded(const CycleReport& report) override { events.push_back("cycle " + Text(report)); }
    void Ended(Result ending) override {
        events.push_back("ended " + std::to_string(static_cast<int>(ending)));
    }
    void Message(const std::string& text, MsgIcon icon) override {
        events.push_back("message " + std::to_string(static_cast<int>(icon)) + " " + text);
    }
    void ChipAwaited() override { events.push_back("awaited"); }
    void ChipRemoved() override { events.push_back("removed"); }

    static std::string Text(const CycleReport& r) {
        char signature[16];
        std::snprintf(signature, sizeof signature, "%02X%02X%02X", r.signature[0], r.signature[1],
                      r.signature[2]);
        return std::to_string(r.cycle) + "|" + std::to_string(static_cast<int>(r.outcome)) + "|" + r.failure +
               "|" + (r.signatureRead ? signature : "-") + "|" + std::to_string(r.chip) + "|" + r.product +
               "|" + r.location + "|" + std::to_string(r.lockMode) + "|" + std::to_string(r.lockFailed) +
               "|" + std::to_string(r.erased) + "|" + std::to_string(r.serial) + "|" +
               std::to_string(r.powerOffFailed);
    }

    std::vector<std::string> events;
};

// Plays the same events to a port: once straight, once over the wire.
void Play(IOperationPort& port) {
    CycleReport identified;
    identified.cycle = 2;
    identified.outcome = Result::Failed;
    identified.signatureRead = true;
    identified.signature[0] = 0x1E;
    identified.signature[1] = 0x52;
    identified.signature[2] = 0x06;
    identified.chip = FindChipByName("AT89S52");
    identified.product = "Veltro\tUSB\\ISP";
    identified.location = "001/004";
    CycleReport ended = identified;
    ended.outcome = Result::Done;
    ended.lockMode = 3;
    ended.lockFailed = true;
    ended.erased = true;
    ended.serial = 4294967294LL;
    ended.powerOffFailed = true;
    ended.failure = "Lock Mode 4 Failed\nline two\r";
    port.ChipAwaited();
    port.Row(RowKind::Information, "Initializing...");
    port.Row(RowKind::Error, "a \\t that is no tab, and\ta real one");
    port.Row(RowKind::Success, "");
    port.CycleStarted(2);
    port.Identified(identified);
    port.Progress(0, 2048);
    port.Progress(2048, 2048);
    port.ChipVerified(7);
    port.CycleEnded(ended);
    CycleReport empty; // before the programmer was found: nothing read
    empty.outcome = Result::Aborted;
    port.CycleEnded(empty);
    port.Message("Cannot open hex file", MsgIcon::Error);
    port.Message("done", MsgIcon::Information);
    port.Message("?", MsgIcon::None);
    port.ChipRemoved();
    port.ChipAwaited();
    port.Ended(Result::Aborted);
}

TEST(WireTest, EveryEventCrossesWithAllItsFields) {
    CRecorder straight;
    Play(straight);

    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    {
        CWireWriterPort writer(nullptr, fds[1]);
        Play(writer);
        writer.KeepAlive();
    }
    close(fds[1]);
    CRecorder received;
    CWireReader reader(received);
    char buffer[7]; // small reads: lines arrive in pieces
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0)
        reader.Feed(buffer, static_cast<size_t>(got));
    reader.Finish();
    close(fds[0]);
    EXPECT_FALSE(reader.Broken()) << reader.Error();
    EXPECT_EQ(received.events, straight.events);
    EXPECT_TRUE(reader.SawCycleEnded());
    EXPECT_EQ(reader.LastReport().outcome, Result::Aborted);
    EXPECT_TRUE(reader.SawEnded());
    EXPECT_EQ(reader.LastEnding(), Result::Aborted);
}

TEST(WireTest, ALineThatIsNoEventIsRefused) {
    const std::string report = "1\tverified\t\t1E5206\tAT89S52\tp\t001/001\t0\t0\t1\t-\t0";
    const struct {
        const char* what;
        std::string line;
        bool good;
    } cases[] = {
        {"a row", "R\tE\ttext", true},
        {"a report", "C\t" + report, true},
        {"no signature, no chip",
         "I\t1\tfailed\tNo Valid Programmer Detected On System\t-\t-\t\t\t0\t0\t0\t-\t0", true},
        {"keep-alive", "K", true},
        {"a chip awaited", "A", true},
        {"a chip removed", "X", true},
        {"a removal with a field", "X\t1", false},
        {"empty", "", false},
        {"unknown type", "Z\tx", false},
        {"type without tab", "Rx", false},
        {"a row kind", "R\tQ\ttext", false},
        {"a row's field missing", "R\tE", false},
        {"a field left over", "P\t1\t2\t3", false},
        {"progress past its total", "P\t3\t2", false},
        {"a negative count", "P\t-1\t2", false},
        {"not a number", "P\t1x\t2", false},
        {"a huge number", "S\t99999999999999999999", false},
        {"a bad escape", "R\tI\ta\\qb", false},
        {"an escape cut off", "R\tI\tab\\", false},
        {"an unknown outcome", "C\t1\tfine\t\t-\t-\t\t\t0\t0\t0\t-\t0", false},
        {"a report cut short", "C\t1\tverified\t\t1E5206", false},
        {"a signature of five digits", "C\t1\tverified\t\t1E520\tAT89S52\tp\t001/001\t0\t0\t1\t-\t0", false},
        {"a lowercase signature", "C\t1\tverified\t\t1e5206\tAT89S52\tp\t001/001\t0\t0\t1\t-\t0", false},
        {"an unknown chip", "C\t1\tverified\t\t1E5206\tAT89C99\tp\t001/001\t0\t0\t1\t-\t0", false},
        {"a lock mode of five", "C\t1\tverified\t\t1E5206\tAT89S52\tp\t001/001\t5\t0\t1\t-\t0", false},
        {"a flag of two", "C\t1\tverified\t\t1E5206\tAT89S52\tp\t001/001\t0\t2\t1\t-\t0", false},
        {"a serial past 32 bits", "C\t1\tverified\t\t1E5206\tAT89S52\tp\t001/001\t0\t0\t1\t4294967296\t0",
         false},
        {"an unknown ending", "E\tfinished", false},
        {"a version of zero", "W\t0", false},
    };
    for (const auto& c : cases) {
        WireEvent event;
        std::string error;
        EXPECT_EQ(ParseWireLine(c.line, event, error), c.good) << c.what << ": " << error;
        if (!c.good) {
            EXPECT_FALSE(error.empty()) << c.what;
        }
    }
}

TEST(WireTest, TheReaderStopsAtTheFirstFaultWithItsReason) {
    const std::string hello = WireHelloLine() + "\n";
    const struct {
        const char* what;
        std::string stream;
        size_t delivered; // events handed on before the fault
        const char* reason;
    } cases[] = {
        {"no version line", "R\tI\tx\n", 0, "version line"},
        {"the version before watch mode", "W\t1\nR\tI\tx\n", 0, "wire version 1, not 2"},
        {"a second version line", hello + hello, 0, "second version"},
        {"a garbled line", hello + "R\tI\ta\n" + "R\tX\tb\n" + "R\tI\tc\n", 1, "garbled"},
        {"a truncated line", hello + "R\tI\ta\n" + "C\t1\tveri", 1, "truncated"},
        {"a line without end", hello + std::string(70000, 'x'), 0, "longer than"},
    };
    for (const auto& c : cases) {
        CRecorder port;
        CWireReader reader(port);
        reader.Feed(c.stream.data(), c.stream.size());
        reader.Finish();
        EXPECT_TRUE(reader.Broken()) << c.what;
        EXPECT_NE(reader.Error().find(c.reason), std::string::npos) << c.what << ": " << reader.Error();
        EXPECT_EQ(port.events.size(), c.delivered) << c.what;
        EXPECT_FALSE(reader.SawCycleEnded()) << c.what;
    }
}

} // namespace
