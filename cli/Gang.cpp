#include "cli/Gang.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "cli/Commands.h"
#include "image/Checksum.h"
#include "link/ProgrammerModels.h"
#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/Port.h"
#include "ops/Texts.h"
#include "ops/engine/Bench.h"
#include "ops/engine/Wire.h"

namespace {

// The bench's words.
constexpr const char* LINE_NO_PROGRAMMERS =
    "No programmer to burn with: none attached that this user may use";
constexpr const char* LINE_ROUND = "Round %d: %d sockets";
constexpr const char* LINE_FOUND_AGAIN = "Programmer found: watching its socket";
constexpr const char* LINE_GONE = "Programmer gone: watching for it";
constexpr const char* LINE_STOPPING = "Bench stopping: %s: %s; the other sockets end after their chip";
constexpr const char* LINE_SUMMARY_HEAD = "Socket   Chip        Outcome    Serial";
constexpr const char* LINE_TOTAL = "Chips verified : %d of %d, %s, Chips per hour : %.0f";
constexpr const char* ROW_FILE_CHANGED =
    "%s changed since the bench started (SHA-256 %s, now %s): the bench burns only the file it "
    "started with; start it anew to burn the new one";

// The job's keys, as the bench writes them and its workers read them.
constexpr const char* JOB_ARG = "arg";           // the bench's command line, one argument each
constexpr const char* JOB_FILE_SHA = "file-sha"; // SHA-256 of the file's bytes when the bench started

// The SHA-256 of a file's bytes; empty when it cannot be read.
std::string FileSha256(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    std::string bytes;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            bytes.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    if (got < 0)
        return "";
    return Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// One socket as the terminal shows it.
class CSocketView : public IOperationPort {
public:
    CSocketView(std::string location, const CliOptions& options, CConsole& console, bool tty)
        : m_location(std::move(location)), m_options(options), m_console(console), m_tty(tty) {}

    void Reset() {
        phase = "Starting ...";
        lastError.clear();
        reasons.clear();
        done = total = 0;
        m_afterNoProgrammer = false;
    }

    void Row(RowKind kind, const std::string& text) override {
        phase = text;
        if (kind == RowKind::Error) {
            lastError = text;
            // After "No Valid Programmer Detected On System" come the reasons (in use, denied).
            if (m_afterNoProgrammer)
                reasons.push_back(text);
            m_afterNoProgrammer = m_afterNoProgrammer || text == ROW_NO_PROGRAMMER;
        }
        // Without a terminal to redraw, the rows themselves are the bench's lines; quiet keeps only
        // the failures.
        if (!m_tty && (!m_options.quiet || kind == RowKind::Error)) {
            const std::string line = m_location + "  " + RowMark(kind) + " " + text;
            if (kind == RowKind::Error)
                m_console.Err(line);
            else
                m_console.Out(line);
        }
    }
    void Message(const std::string& text, MsgIcon icon) override {
        Row(icon == MsgIcon::Error ? RowKind::Error : RowKind::Information, text);
    }
    void Progress(int d, int t) override {
        done = d;
        total = t;
    }
    // Watch: each chip's result is a line of its own, and is kept for the summary.
    void CycleEnded(const CycleReport& report) override {
        if (!announce)
            return;
        chips.push_back(report);
        chipErrors.push_back(lastError);
        announce(ChipLine(report, lastError));
        done = total = 0;
    }
    void ChipAwaited() override {
        lastError.clear();
        done = total = 0;
    }

    // "001/001  chip 2  verified  AT89S52  serial 17", with the reason of a failure at its end.
    std::string ChipLine(const CycleReport& report, const std::string& error) const {
        std::string line =
            m_location + "  chip " + std::to_string(report.cycle) + "  " + CycleOutcomeName(report.outcome);
        if (report.chip >= 0)
            line += std::string("  ") + ChipName(report.chip);
        if (report.serial >= 0)
            line += "  serial " + std::to_string(report.serial);
        if (report.outcome != Result::Done) {
            const std::string& reason = report.failure.empty() ? error : report.failure;
            if (!reason.empty())
                line += "  " + reason;
        }
        return line;
    }

    const std::string& Location() const { return m_location; }

    // Watch: where a chip's result line goes (null in rounds, whose summary tells each chip).
    std::function<void(const std::string&)> announce;
    std::vector<CycleReport> chips; // watch: every chip of this socket, in order
    std::vector<std::string> chipErrors;
    std::string phase;
    std::string lastError;
    std::vector<std::string> reasons; // why no programmer could be used
    int done = 0, total = 0;

private:
    std::string m_location;
    const CliOptions& m_options;
    CConsole& m_console;
    const bool m_tty;
    bool m_afterNoProgrammer = false;
};

class CGangPresenter : public IBenchPresenter {
public:
    CGangPresenter(const CliOptions& options, CConsole& console, int abortFd)
        : m_options(options), m_console(console), m_abortFd(abortFd),
          m_tty(::isatty(STDOUT_FILENO) == 1 && !options.quiet) {}

    IOperationPort& SocketFound(const std::string& location) override {
        for (auto& socket : m_sockets)
            if (socket->Location() == location) {
                // Found again (watch): the same line, its chips kept.
                socket->Reset();
                Announce(location + "  " + LINE_FOUND_AGAIN);
                return *socket;
            }
        m_sockets.push_back(std::make_unique<CSocketView>(location, m_options, m_console, m_tty));
        if (m_options.watch)
            m_sockets.back()->announce = [this](const std::string& line) { Announce(line); };
        return *m_sockets.back();
    }
    void SocketGone(const std::string& location) override {
        for (auto& socket : m_sockets)
            if (socket->Location() == location)
                socket->phase = LINE_GONE;
        Announce(location + "  " + LINE_GONE);
    }
    void BenchStopping(const std::string& location, const std::string& reason) override {
        m_stopLine = FormatText(LINE_STOPPING, location.c_str(), reason.c_str());
        Announce(m_stopLine);
    }
    void SocketFinished(const BenchSocketResult& result) override {
        // Watch: a worker's own fault (it crashed, garbled its wire, stopped answering) is told at once.
        if (m_options.watch && !result.failure.empty()) {
            m_faults.push_back(result);
            Announce(result.location + "  " + result.failure);
        }
    }

    // Watch: every chip of every socket, the faults of workers and what stopped the bench.
    void WatchSummary() {
        Draw();
        m_drawn = 0;
        m_console.Out(LINE_SUMMARY_HEAD);
        for (const auto& socket : m_sockets) {
            for (size_t k = 0; k < socket->chips.size(); ++k) {
                const CycleReport& report = socket->chips[k];
                ++m_chips;
                const bool verified = report.outcome == Result::Done && !report.powerOffFailed;
                if (verified)
                    ++m_verified;
                else
                    m_failures.push_back(EXIT_FAILED);
                const std::string chip = report.chip >= 0 ? ChipName(report.chip) : "-";
                const std::string serial = report.serial >= 0 ? std::to_string(report.serial) : "-";
                char line[512];
                std::snprintf(line, sizeof line, "%-8s %-11s %-10s %-6s", socket->Location().c_str(),
                              chip.c_str(), CycleOutcomeName(report.outcome), serial.c_str());
                std::string all = line;
                if (!verified) {
                    const std::string& reason =
                        report.failure.empty() ? socket->chipErrors[k] : report.failure;
                    if (!reason.empty())
                        all += " " + reason;
                }
                m_console.Out(all);
            }
        }
        for (const BenchSocketResult& fault : m_faults) {
            m_failures.push_back(EXIT_FAILED);
            m_console.Out(fault.location + "  " + fault.failure);
        }
        if (!m_stopLine.empty()) {
            m_failures.push_back(EXIT_FAILED);
            m_console.Out(m_stopLine);
        }
    }
    // A line of its own above the redrawn sockets on a terminal; a line as it comes otherwise.
    void Announce(const std::string& line) {
        if (!m_options.watch)
            return;
        if (m_tty && m_drawn > 0) {
            std::fputs(("\033[" + std::to_string(m_drawn) + "A\r\033[J").c_str(), stdout);
            m_drawn = 0;
        }
        m_console.Out(line);
        Draw();
    }

    void RoundStarted(int round, const std::vector<std::string>& locations) override {
        if (!m_options.quiet)
            m_console.Out(FormatText(LINE_ROUND, round, static_cast<int>(locations.size())));
        for (auto& socket : m_sockets)
            socket->Reset();
        m_drawn = 0;
        Draw();
    }
    void Idle() override { Draw(); }
    void RoundFinished(int, const std::vector<BenchSocketResult>& results) override {
        Draw();
        m_drawn = 0;
        m_console.Out(LINE_SUMMARY_HEAD);
        for (const BenchSocketResult& result : results) {
            const CSocketView& socket = View(result.location);
            const bool clean = Clean(result);
            ++m_chips;
            if (clean)
                ++m_verified;
            else
                m_failures.push_back(result.exitStatus > 0 ? result.exitStatus : EXIT_FAILED);
            const CycleReport& report = result.report;
            const std::string chip = result.cycleEnded && report.chip >= 0 ? ChipName(report.chip) : "-";
            const std::string serial =
                result.cycleEnded && report.serial >= 0 ? std::to_string(report.serial) : "-";
            const char* outcome = CycleOutcomeName(result.cycleEnded ? report.outcome : Result::Failed);
            char line[512];
            std::snprintf(line, sizeof line, "%-8s %-11s %-10s %-6s", result.location.c_str(), chip.c_str(),
                          outcome, serial.c_str());
            std::string all = line;
            if (!clean) {
                const std::string reason = Reason(result, socket);
                if (!reason.empty())
                    all += " " + reason;
            }
            m_console.Out(all);
        }
    }
    bool Ask(Question question) override {
        return question == Question::WriteMore && m_console.AskYesNo(QuestionText(question), m_abortFd);
    }

    void Total(std::chrono::steady_clock::duration elapsed) {
        const double hours = std::chrono::duration<double>(elapsed).count() / 3600.0;
        const std::string time = ElapsedLabel(elapsed);
        m_console.Out(
            FormatText(LINE_TOTAL, m_verified, m_chips, time.c_str(), hours > 0 ? m_verified / hours : 0.0));
    }

    // 0 only when every chip of every round was verified. When every socket that failed failed for
    // the same reason (all busy, all the wrong chip), its status tells it; a mix of reasons is 1; a
    // second signal ends the bench as it ends one program, with 130.
    int Status(const BenchOutcome& outcome) const {
        if (outcome.aborts > 1)
            return 130;
        if (m_failures.empty() && m_chips > 0)
            return EXIT_DONE;
        const bool same = std::all_of(m_failures.begin(), m_failures.end(),
                                      [this](int status) { return status == m_failures.front(); });
        const int status = m_failures.empty() ? EXIT_FAILED : m_failures.front();
        return same && (status == EXIT_NO_PROGRAMMER || status == EXIT_CHIP) ? status : EXIT_FAILED;
    }

private:
    // Verified, and the worker found nothing else wrong (a log line, a PowerOff).
    static bool Clean(const BenchSocketResult& result) {
        return result.cycleEnded && result.report.outcome == Result::Done && result.exitStatus == EXIT_DONE &&
               result.failure.empty();
    }

    // Whatever kept a socket from a clean end: the bench's own reason (a worker that crashed, garbled
    // its wire, stopped answering), the cycle's failure with the reasons no programmer could be used,
    // or the last error row (a production log not written, a PowerOff that failed, a file).
    static std::string Reason(const BenchSocketResult& result, const CSocketView& socket) {
        if (!result.failure.empty())
            return result.failure;
        if (!result.cycleEnded)
            return socket.lastError.empty() ? "the worker ended early" : socket.lastError;
        const std::string& failure = result.report.failure;
        if (failure == ROW_NO_PROGRAMMER && !socket.reasons.empty()) {
            std::string joined;
            for (const std::string& reason : socket.reasons)
                joined += (joined.empty() ? "" : " ") + reason;
            return joined;
        }
        return failure.empty() ? socket.lastError : failure;
    }

    const CSocketView& View(const std::string& location) const {
        for (const auto& socket : m_sockets)
            if (socket->Location() == location)
                return *socket;
        return *m_sockets.front();
    }

    // The bench as one line per socket, redrawn in place on a terminal.
    void Draw() {
        if (!m_tty)
            return;
        std::string text;
        if (m_drawn > 0)
            text += "\033[" + std::to_string(m_drawn) + "A";
        for (const auto& socket : m_sockets) {
            std::string phase = socket->phase.substr(0, 50);
            const std::string percent =
                socket->total > 0 ? PercentText(socket->done, socket->total) + " %" : "";
            char line[160];
            std::snprintf(line, sizeof line, "\r\033[K%-8s %-50s %8s\n", socket->Location().c_str(),
                          phase.c_str(), percent.c_str());
            text += line;
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        m_drawn = static_cast<int>(m_sockets.size());
    }

    const CliOptions& m_options;
    CConsole& m_console;
    const int m_abortFd;
    const bool m_tty;
    std::vector<std::unique_ptr<CSocketView>> m_sockets;
    int m_drawn = 0;
    int m_chips = 0;
    int m_verified = 0;
    std::vector<int> m_failures;             // the exit statuses of the sockets that failed
    std::vector<BenchSocketResult> m_faults; // watch: workers that failed by themselves
    std::string m_stopLine;                  // watch: what stopped the bench
};

} // namespace

int RunGang(const CliOptions& options, CConsole& console) {
    BenchJob job;
    job.program = "/proc/self/exe";
    job.arguments = {"--bench-worker"};
    // The whole command line as it was given, so that every option reaches every worker; the worker
    // makes it one socket's (MakeBenchWorker).
    for (const std::string& argument : options.arguments)
        job.data.emplace_back(JOB_ARG, argument);
    // Every round burns the file as it was when the bench started.
    const std::string sha = FileSha256(options.files[0]);
    if (!sha.empty())
        job.data.emplace_back(JOB_FILE_SHA, sha);
    job.more = options.more;
    if (options.watch) {
        job.policy = BenchPolicy::Watch;
        job.only = !options.sockets.empty()      ? options.sockets
                   : !options.programmer.empty() ? std::vector<std::string>{options.programmer}
                                                 : std::vector<std::string>{};
    } else {
        job.only = options.sockets;
    }

    // Every signal comes to the engine, which passes it on to the workers and waits for them.
    CInterruptGuard guard(false);
    CGangPresenter presenter(options, console, guard.Fd());
    CBenchEngine engine(job, presenter);
    const auto start = std::chrono::steady_clock::now();
    const BenchOutcome outcome = engine.Run(guard.Fd());
    if (outcome.sockets == 0) {
        console.Err(LINE_NO_PROGRAMMERS);
        return EXIT_NO_PROGRAMMER;
    }
    if (options.watch)
        presenter.WatchSummary();
    presenter.Total(std::chrono::steady_clock::now() - start);
    return presenter.Status(outcome);
}

void MakeBenchWorker(CliOptions& options, const std::string& location, int wireFd) {
    options.all = false;
    options.more = false;
    options.programmer = location;
    options.eventsFd = wireFd;
    options.benchWorker = true;
}

namespace {
// In a bench's worker: the socket it burns, and the file's SHA-256 when the bench started.
struct CWorkerSocket {
    bool set = false;
    std::string location;
    int wireFd = -1;
    std::string sha;
    bool awaitRemoval = false;
} g_workerSocket;
} // namespace

bool BenchWorkerAwaitsRemoval() {
    return g_workerSocket.awaitRemoval;
}

bool ApplyBenchWorker(CliOptions& options, bool& refused) {
    refused = false;
    if (!g_workerSocket.set || options.benchWorker)
        return false;
    MakeBenchWorker(options, g_workerSocket.location, g_workerSocket.wireFd);
    // A watch loads the file for every chip: pinned to the bytes the bench started with, a file
    // replaced while the line runs is refused at the next chip.
    if (options.watch && options.sha256.empty())
        options.sha256 = g_workerSocket.sha;
    if (!g_workerSocket.sha.empty()) {
        const std::string now = FileSha256(options.files[0]);
        if (now != g_workerSocket.sha) {
            // Told over the wire as the burn tells a file it cannot use.
            CWireWriterPort wire(nullptr, options.eventsFd);
            wire.Message(FormatText(ROW_FILE_CHANGED, options.files[0].c_str(), g_workerSocket.sha.c_str(),
                                    now.empty() ? "unreadable" : now.c_str()),
                         MsgIcon::Error);
            refused = true;
        }
    }
    return true;
}

int RunBenchWorker(CConsole& console) {
    BenchWorkerJob job;
    std::string error;
    if (!ReadBenchWorkerJob(STDIN_FILENO, job, error)) {
        console.Err(std::string(CLI_NAME) + ": " + error);
        return EXIT_USAGE;
    }
    std::vector<std::string> arguments = {CLI_NAME};
    for (const std::string& argument : job.Values(JOB_ARG))
        arguments.push_back(argument);
    std::vector<const char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    CliOptions options;
    if (!ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options, error) ||
        (options.command != CliCommand::Burn && options.command != CliCommand::Run)) {
        console.Err(std::string(CLI_NAME) + ": the bench's job: " + error);
        return EXIT_USAGE;
    }
    // The command runs as the bench's did (a job file read the same way); its burn becomes this
    // socket's (ApplyBenchWorker).
    g_workerSocket.set = true;
    g_workerSocket.location = job.location;
    g_workerSocket.wireFd = job.wireFd;
    g_workerSocket.awaitRemoval = job.awaitRemoval;
    const std::vector<std::string> sha = job.Values(JOB_FILE_SHA);
    if (!sha.empty())
        g_workerSocket.sha = sha.front();
    return RunCommand(options, console);
}
