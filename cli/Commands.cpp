#include "cli/Commands.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Version.h"
#include "chips/ChipCatalogue.h"
#include "cli/ExitStatus.h"
#include "cli/Gang.h"
#include "cli/JobCommands.h"
#include "cli/Json.h"
#include "image/Checksum.h"
#include "image/FirmwareBuffer.h"
#include "image/FileKind.h"
#include "image/HexDump.h"
#include "image/BinaryWriter.h"
#include "image/IntelHex.h"
#include "image/StrictHex.h"
#include "link/ProgrammerModels.h"
#include "link/TracingProgrammer.h"
#include "ops/Burn.h"
#include "ops/ChipOps.h"
#include "ops/FileCommands.h"
#include "ops/FlashRead.h"
#include "ops/Format.h"
#include "ops/ImageSource.h"
#include "ops/LogPort.h"
#include "ops/ProductionLog.h"
#include "ops/Serial.h"
#include "ops/store/PgStore.h"
#include "ops/store/Stores.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"
#include "ops/Watch.h"
#include "ops/engine/Bench.h"
#include "ops/engine/Wire.h"

namespace {

// The command line's own hints after a refusal: what to give it to go on. Through the port, so that
// a gang's worker hands them on too.
void PrintHint(Result status, IOperationPort& port) {
    if (status == Result::UnknownChip)
        port.Message("Name the chip with --chip NAME to program it as that chip.", MsgIcon::Error);
    else if (status == Result::WrongChip)
        port.Message("Put the chip asked for into the socket, or give --force to go on with --chip's size.",
                     MsgIcon::Error);
    else if (status == Result::Locked)
        port.Message("Give --force to read the chip all the same (it answers with a pattern, not its flash).",
                     MsgIcon::Error);
}

// The system's reason for a file that failed, on the line after the product's message.
void PrintReason(const std::string& path, int systemError, IOperationPort& port) {
    if (systemError != 0)
        port.Message(path + ": " + std::strerror(systemError), MsgIcon::Error);
}

// Runs work on a thread of its own while the main thread waits for it or for Ctrl+C. onInterrupt
// runs on the main thread at the first Ctrl+C, with the pipe that says the work has ended (it may
// wait on it). A second Ctrl+C ends the process (CInterruptGuard).
// stopFd (when not -1) becomes readable when a bench asks its watch to stop: onStop runs then.
template <typename Work, typename OnInterrupt>
void RunInterruptible(Work work, OnInterrupt onInterrupt, int stopFd = -1,
                      const std::function<void()>& onStop = {}) {
    CWakePipe done;
    if (!done.IsOpen()) {
        work(); // no descriptor left to wait on: the work runs here, and a signal ends the process
        return;
    }
    CInterruptGuard guard;
    std::thread worker;
    {
        CBlockInterrupt block; // the worker inherits the mask: its USB transfers are never interrupted
        worker = std::thread([&] {
            work();
            done.Signal();
        });
    }
    bool interrupted = false;
    for (;;) {
        pollfd fds[3] = {{done.ReadFd(), POLLIN, 0}, {guard.Fd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, stopFd >= 0 ? 3 : 2, -1) < 0)
            continue; // EINTR: the handler's pipe tells the rest
        if (stopFd >= 0 && (fds[2].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            (void)!::read(stopFd, &info, sizeof info);
            onStop();
        }
        if ((fds[0].revents & POLLIN) != 0)
            break;
        if ((fds[1].revents & POLLIN) != 0) {
            guard.Drain();
            if (!interrupted) {
                interrupted = true;
                onInterrupt(done);
            }
        }
    }
    worker.join();
}

// One chip cycle in a line: "001/001  chip 2  verified  AT89S52  serial 17", or with the reason of a
// failure at its end.
std::string CycleResultLine(const CycleReport& report) {
    std::string line = (report.location.empty() ? std::string("-") : report.location) + "  chip " +
                       std::to_string(report.cycle) + "  " + CycleOutcomeName(report.outcome);
    if (report.chip >= 0)
        line += std::string("  ") + ChipName(report.chip);
    if (report.serial >= 0)
        line += "  serial " + std::to_string(report.serial);
    if (report.outcome == Result::Failed && !report.failure.empty())
        line += "  " + report.failure;
    if (report.powerOffFailed)
        line += std::string("  ") + ROW_POWER_OFF_FAILED;
    return line;
}

// The burn dialog as lines, for every operation on a chip: each row with its time and a mark for its
// kind, failures to standard error, the chips-written label, a progress bar on a terminal. Events
// come on the operation's thread, the abort's rows on the main thread; the console keeps them in
// order.
class CConsolePort : public IOperationPort, public IWorkerWait {
public:
    // quiet: only failures (error rows and messages), the messages of a result, and one line of
    // result per chip cycle.
    CConsolePort(CConsole& console, bool askMore, bool quiet)
        : m_console(console), m_messages(console, !quiet), m_askMore(askMore), m_quiet(quiet) {}

    void Row(RowKind kind, const std::string& text) override {
        // Quiet: an operation on a chip shows what it found once the chip is known (its result
        // rows); a burn only its failures and a line per chip.
        if (m_quiet && kind != RowKind::Error && (m_cycles || !m_identified))
            return;
        const std::string line = RowTimeText(std::time(nullptr)) + " " + RowMark(kind) + " " + text;
        if (kind == RowKind::Error)
            m_console.Err(line);
        else
            m_console.Out(line);
    }
    void Progress(int done, int total) override {
        if (total > 0 && !m_quiet)
            m_console.Progress(static_cast<double>(done) / total, PercentText(done, total));
    }
    void CycleStarted(int) override {
        m_cycles = true;
        StartClock();
    }
    void Identified(const CycleReport& report) override {
        m_identified = true;
        // Quiet, the chip is the first result (its rows were left out).
        if (m_quiet && !m_cycles && report.chip >= 0)
            Row(RowKind::Information, FormatText(ROW_CATALOGUE_CHIP, ChipName(report.chip)));
    }
    void ChipVerified(int chipsWritten) override {
        if (!m_quiet)
            m_console.Out(FormatText(LABEL_CHIPS_WRITTEN, chipsWritten));
    }
    void CycleEnded(const CycleReport& report) override {
        StopClock();
        if (m_quiet)
            m_console.Out(CycleResultLine(report));
    }
    void Ended(Result) override {
        StopClock();
        m_console.EndProgress();
    }
    void Message(const std::string& text, MsgIcon icon) override { m_messages.Message(text, icon); }
    bool Ask(Question question) override {
        if (question != Question::WriteMore || !m_askMore)
            return false;
        m_asking = true;
        const bool yes = m_console.AskYesNo(QuestionText(question), m_questionWake.ReadFd());
        m_asking = false;
        return yes;
    }

    // Main thread: whether the worker waits for the answer to "Write More Chips ?" now; and No for it.
    bool Asking() const { return m_asking.load(); }
    void AnswerNo() { m_questionWake.Signal(); }

    // IWorkerWait, on the main thread. The worker may be waiting for an answer to "Write More Chips ?":
    // the abort answers No for the user, so that the worker can end.
    bool WaitForWorker(int ms) override {
        m_questionWake.Signal();
        return m_done != nullptr && m_done->Wait(ms);
    }

    void SetDonePipe(const CWakePipe* done) { m_done = done; }

    // Whole seconds while chip cycles ran, as the dialog's label counts them.
    std::string ElapsedText() const { return ElapsedLabel(m_elapsed); }

private:
    void StartClock() {
        if (!m_clockRunning)
            m_clockStart = std::chrono::steady_clock::now();
        m_clockRunning = true;
    }
    void StopClock() {
        if (m_clockRunning)
            m_elapsed += std::chrono::steady_clock::now() - m_clockStart;
        m_clockRunning = false;
    }

    CConsole& m_console;
    CConsoleSink m_messages;
    const bool m_askMore;
    const bool m_quiet;
    bool m_cycles = false;
    bool m_identified = false;
    std::atomic<bool> m_asking{false};
    CWakePipe m_questionWake;
    const CWakePipe* m_done = nullptr;
    // Touched by the worker only while it runs, read by the main thread after it has ended.
    bool m_clockRunning = false;
    std::chrono::steady_clock::time_point m_clockStart;
    std::chrono::steady_clock::duration m_elapsed{};
};

// The abort of a burn on the command line: the signal is the user's confirmation, and its rows join
// the burn's (a gang's worker hands them on too). They come on the main thread while the worker
// waits for the abort; the console and the event pipe take whole lines from any thread.
class CConsoleAbortPort : public IOperationPort {
public:
    explicit CConsoleAbortPort(IOperationPort& burn) : m_burn(burn) {}
    void Row(RowKind kind, const std::string& text) override { m_burn.Row(kind, text); }
    void Message(const std::string& text, MsgIcon icon) override { m_burn.Message(text, icon); }
    bool Ask(Question question) override { return question == Question::AbortBurn; }

private:
    IOperationPort& m_burn;
};

// Keeps the messages of a trial load, to show them only when it fails.
class CHeldMessages : public IOperationPort {
public:
    void Message(const std::string& text, MsgIcon icon) override { m_messages.emplace_back(text, icon); }
    void ShowTo(IOperationPort& port) const {
        for (const auto& [text, icon] : m_messages)
            port.Message(text, icon);
    }

private:
    std::vector<std::pair<std::string, MsgIcon>> m_messages;
};

// Whether two names are one file (both there); a file not there yet is no other's.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The firmware file of a command as the options ask it to be read: strictly unless --lenient, by
// --format where its name tells nothing, and standard input (read once, before anything else) for "-".
class CCommandImage : public CFileImageSource {
public:
    CCommandImage(const CliOptions& options, const std::string& path) : CFileImageSource(path) {
        SetLenient(options.lenient);
        PinSha256(options.sha256);
        if (FileKindFromPath(path) == FileKind::None || path == STDIO_NAME)
            SetKind(options.format);
        if (path == STDIO_NAME)
            SetContents(StandardInput(), "standard input");
    }

    // Standard input as it was read the first time: a burn reads it for a trial load and again for
    // the chips, and there is only one.
    static const std::string& StandardInput() { return Read().text; }
    // Whether it could be read whole; false with the reason told through port.
    static bool StandardInputRead(IOperationPort& port) {
        const StdinText& read = Read();
        if (read.result.ok)
            return true;
        port.Message(read.result.Describe("standard input"), MsgIcon::Error);
        PrintReason("standard input", read.result.systemError, port);
        return false;
    }

private:
    struct StdinText {
        std::string text;
        HexReadResult result;
    };
    static const StdinText& Read() {
        static const StdinText read = [] {
            StdinText in;
            in.result = ReadFirmwareText(STDIN_FILENO, in.text);
            return in;
        }();
        return read;
    }
};

// Saves image to OUT: standard output for "-", else as read and convert save, with --format where the
// name tells nothing. "Cannot Write to file" on a failure.
FileResult SaveOutput(const CliOptions& options, const std::string& path, const FirmwareBuffer& image,
                      IOperationPort& messages, CConsole& console) {
    const FileKind named = FileKindFromPath(path);
    const FileKind kind = path == STDIO_NAME || named == FileKind::None ? options.format : named;
    if (path != STDIO_NAME && kind != FileKind::Binary)
        return SaveFirmwareFile(path, image, messages);
    if (path != STDIO_NAME && named == FileKind::Binary)
        return SaveImageAs(path, image, messages);
    bool written = false;
    if (path == STDIO_NAME) {
        const std::string text =
            kind == FileKind::Binary
                ? std::string(reinterpret_cast<const char*>(image.m_image.data()),
                              static_cast<size_t>(std::clamp(image.m_imageSize, 0, IMAGE_CAPACITY)))
                : IntelHexText(image);
        written = console.Data(text);
    } else {
        errno = 0;
        written = WriteBinaryFile(path, image);
    }
    if (written)
        return FileResult::Success();
    const int reason = errno;
    messages.Message(MSG_CANNOT_WRITE, MsgIcon::Error);
    return FileResult::Failure(MSG_CANNOT_WRITE, reason);
}

// A file that cannot be loaded at all, or a serial number field that cannot be written into it, is
// told before the programmer is touched: within --chip's size, or within the largest chip's when the
// socket will tell the size (the field is checked again then). EXIT_DONE when all fits.
int InputsFit(const CliOptions& options, const std::string& path, IOperationPort& port) {
    // A log that cannot even be opened for appending would leave the first chip unrecorded; one that
    // is the firmware or the serial file (or its lock or mark) would be written over them.
    if (!options.log.empty()) {
        std::string error;
        for (const std::string& other :
             {path, options.serialFile, options.serialFile + ".lock", options.serialFile + ".high"}) {
            if (!options.serialFile.empty() || other == path)
                if (SameFile(options.log, other)) {
                    port.Message("The log " + options.log + " is the file " + other +
                                     "; give the log a file of its own.",
                                 MsgIcon::Error);
                    return EXIT_USAGE;
                }
        }
        if (!ProductionLogWritable(options.log, error)) {
            port.Message(FormatText(ROW_LOG_FAILED, error.c_str()), MsgIcon::Error);
            return EXIT_FAILED;
        }
    }
    if (!options.serialFile.empty() && !IsConnectionString(options.serialFile) &&
        SameFile(options.serialFile, path)) {
        port.Message("The serial file " + options.serialFile +
                         " is the firmware file; give it a file of its own.",
                     MsgIcon::Error);
        return EXIT_USAGE;
    }
    if (path == STDIO_NAME && !CCommandImage::StandardInputRead(port))
        return EXIT_FAILED;
    CCommandImage trial(options, path);
    CHeldMessages held;
    if (!trial.LoadForChip(options.chip, held)) {
        held.ShowTo(port);
        PrintReason(path, trial.SystemError(), port);
        return EXIT_FAILED;
    }
    if (options.serial.empty())
        return EXIT_DONE;
    // Without --chip the largest chip's flash: a field past it, or over the file's data, fits no chip.
    trial.SetSerial(options.serialSpec, options.serialFile, options.force);
    std::string error;
    if (trial.SerialFieldFits(error))
        return EXIT_DONE;
    port.Message(FormatText(ROW_SERIAL_FAILED, error.c_str()), MsgIcon::Error);
    // --force helps only over the file's data, never past the flash.
    std::string inside;
    if (!options.force &&
        CheckSerialField(options.serialSpec, trial.Size(), trial.Image().m_image.data(), true, inside))
        port.Message("Give --force to write the number over the file's data.", MsgIcon::Error);
    return EXIT_USAGE;
}

// The link a command's sequence works on: the programmer, behind a tracer that tells every request
// on standard error with --verbose.
class CCommandLink {
public:
    CCommandLink(const CliOptions& options, CConsole& console) : m_programmer(MakeProgrammer()) {
        if (options.verbose)
            m_tracer = std::make_unique<CTracingProgrammer>(
                *m_programmer, [&console](const std::string& line) { console.Err("usb: " + line); });
    }
    IProgrammer& operator*() { return m_tracer ? *m_tracer : *m_programmer; }

private:
    std::unique_ptr<IProgrammer> m_programmer;
    std::unique_ptr<IProgrammer> m_tracer;
};

// A bench's worker reports the programmer the bench gave it, also for a cycle that ended before the
// programmer was found (its log line names the socket, not null).
class CBenchLocationPort : public IOperationPort {
public:
    CBenchLocationPort(IOperationPort& inner, std::string location)
        : m_inner(inner), m_location(std::move(location)) {}
    void Row(RowKind kind, const std::string& text) override { m_inner.Row(kind, text); }
    void Progress(int done, int total) override { m_inner.Progress(done, total); }
    void CycleStarted(int cycle) override { m_inner.CycleStarted(cycle); }
    void Identified(const CycleReport& report) override { m_inner.Identified(Located(report)); }
    void ChipVerified(int chipsWritten) override { m_inner.ChipVerified(chipsWritten); }
    void CycleEnded(const CycleReport& report) override { m_inner.CycleEnded(Located(report)); }
    void Ended(Result ending) override { m_inner.Ended(ending); }
    void Message(const std::string& text, MsgIcon icon) override { m_inner.Message(text, icon); }
    void ChipAwaited() override { m_inner.ChipAwaited(); }
    void ChipRemoved() override { m_inner.ChipRemoved(); }
    bool Ask(Question question) override { return m_inner.Ask(question); }

private:
    CycleReport Located(const CycleReport& report) const {
        CycleReport located = report;
        if (located.location.empty())
            located.location = m_location;
        return located;
    }
    IOperationPort& m_inner;
    std::string m_location;
};

// A watched socket's image: the file loaded again for every chip (its pin checked again), and
// whether a chip failed for a reason of the whole line rather than of the chip: the serial store,
// or the firmware file.
class CWatchImageSource : public IChipImageSource {
public:
    explicit CWatchImageSource(CFileImageSource& inner) : m_inner(inner) {}
    bool BeforePower(CycleReport& report, IOperationPort& port) override {
        const bool ready = m_inner.BeforePower(report, port);
        m_storeFailed = m_storeFailed || !ready;
        return ready;
    }
    bool PrepareChip(int chip, CycleReport& report, IOperationPort& port, const uint8_t*& image,
                     int32_t& lastAddress) override {
        m_inner.LoadAgain();
        if (m_inner.PrepareChip(chip, report, port, image, lastAddress))
            return true;
        std::string unused;
        if (!m_inner.Loaded())
            m_fileFailed = true;
        else if (m_inner.SerialFieldFits(unused))
            m_storeFailed = true; // a field that does not fit this chip is the chip's, not the line's
        return false;
    }
    bool StoreFailed() const { return m_storeFailed; }
    bool FileFailed() const { return m_fileFailed; }

private:
    CFileImageSource& m_inner;
    bool m_storeFailed = false;
    bool m_fileFailed = false;
};

// Why a watch stops the line after a chip.
constexpr const char* WATCH_STOP_LOG = "the production log cannot be written";
constexpr const char* WATCH_STOP_STORE = "the serial numbers cannot be taken";
constexpr const char* WATCH_STOP_FILE = "the firmware file cannot be used";

ChipExpectation ExpectationOf(const CliOptions& options) {
    return ChipExpectation{true, options.chip, options.force};
}

int ReadOrExit(ChipAction action, const ChipResult& result, const std::vector<uint8_t>& flash,
               const CliOptions& options, CConsole& console, ChipJsonDetails& details);
int ListRows(const std::vector<ProgrammerLocation>& found, CConsole& console);

// ---- burn ----

// One socket of a watching bench: chip after chip until Ctrl+C, the bench's stop or the programmer's
// end (BENCH_WORKER_GONE). Ctrl+C aborts as in a burn (PowerOff last).
int RunWatchWorker(const CliOptions& options, CConsole& console, BurnJob job, CFileImageSource& source,
                   const CProductionLogPort& logPort, IOperationPort& port, CConsolePort& consolePort,
                   ISleeper& sleeper) {
    CWatchImageSource watchSource(source);
    job.source = &watchSource;
    std::atomic<int32_t> stop{0};
    WatchJob watch;
    watch.burn = job;
    watch.stop = &stop;
    watch.awaitRemoval = BenchWorkerAwaitsRemoval();
    watch.stopReason = [&]() -> std::string {
        if (logPort.Failed())
            return WATCH_STOP_LOG;
        if (watchSource.StoreFailed())
            return WATCH_STOP_STORE;
        if (watchSource.FileFailed())
            return WATCH_STOP_FILE;
        return "";
    };
    // The bench's stop comes as a signal it started this worker with blocked (Bench.h).
    sigset_t stopSignal;
    sigemptyset(&stopSignal);
    sigaddset(&stopSignal, BENCH_STOP_SIGNAL);
    ::pthread_sigmask(SIG_BLOCK, &stopSignal, nullptr);
    const int stopFd = ::signalfd(-1, &stopSignal, SFD_CLOEXEC | SFD_NONBLOCK);

    WatchResult result;
    CCommandLink link(options, console);
    RunInterruptible([&] { result = WatchThreadProc(*link, watch, port, sleeper); },
                     [&](const CWakePipe& done) {
                         CConsoleAbortPort abortPort(port);
                         consolePort.SetDonePipe(&done);
                         AbortBurn(abortPort, consolePort, *job.running, *job.abort);
                     },
                     stopFd, [&] { stop.store(1); });
    if (stopFd >= 0)
        ::close(stopFd);
    console.EndProgress();
    if (result.ending == Result::NoProgrammer)
        return BENCH_WORKER_GONE;
    const bool clean = result.ending == Result::Done && result.chipsFailed == 0 && result.lockFailures == 0 &&
                       result.powerOffFailures == 0 && !logPort.Failed();
    return clean ? EXIT_DONE : EXIT_FAILED;
}

int RunBurn(const CliOptions& given, CConsole& console) {
    CliOptions options = given;
    bool refused = false;
    if (ApplyBenchWorker(options, refused) && refused)
        return EXIT_FAILED;
    CConsolePort consolePort(console, options.more, options.quiet);
    // The presenters, outermost first: the production log, the gang's event pipe, the console.
    CWireWriterPort eventPort(&consolePort, options.eventsFd);
    IOperationPort& shown = options.eventsFd >= 0 ? static_cast<IOperationPort&>(eventPort) : consolePort;
    // A bench takes a worker that writes nothing for a while for one that hangs.
    std::unique_ptr<CWireKeepAlive> keepAlive;
    if (options.eventsFd >= 0)
        keepAlive = std::make_unique<CWireKeepAlive>([&eventPort] { eventPort.KeepAlive(); });
    if (const int fit = InputsFit(options, options.files[0], shown); fit != EXIT_DONE)
        return fit;
    // A watch is a bench, also of one programmer: the engine finds it again after an unplug.
    if (options.all || (options.watch && !options.benchWorker))
        return RunGang(options, console);

    std::atomic<int32_t> abort{0};
    CCommandImage source(options, options.files[0]);
    std::unique_ptr<ISerialStore> store;
    if (!options.serial.empty()) {
        store = MakeSerialStore(options.serialFile, options.serialReset);
        source.SetSerialStore(options.serialSpec, *store, options.force, &abort);
    }
    std::unique_ptr<IRecordSink> record;
    ProductionContext context{options.log, VELTRO_VERSION, options.chip >= 0 ? ChipName(options.chip) : "",
                              &source};
    if (!options.logDb.empty()) {
        record = MakeRecordSink(options.logDb);
        context.sinks.push_back(record.get());
    }
    context.abort = &abort;
    if (store)
        context.series = store->Series();
    CJsonCyclePort jsonPort(shown, console, context);
    IOperationPort& reported = options.json ? static_cast<IOperationPort&>(jsonPort) : shown;
    CProductionLogPort logPort(reported, context);
    const bool logged = !options.log.empty() || !options.logDb.empty();
    IOperationPort& loggedPort = logged ? static_cast<IOperationPort&>(logPort) : reported;
    CBenchLocationPort port(loggedPort, options.benchWorker ? options.programmer : "");

    CRealSleeper sleeper;
    std::atomic<int32_t> running{1};
    BurnJob job;
    job.autoLock = options.lockMode > 0;
    job.lockLevel = options.lockMode > 0 ? options.lockMode : 1;
    job.running = &running;
    job.abort = &abort;
    job.location = options.programmer;
    job.expect = ExpectationOf(options);
    job.source = &source;

    if (options.watch)
        return RunWatchWorker(options, console, job, source, logPort, port, consolePort, sleeper);

    bool aborted = false;
    BurnResult result;
    CCommandLink link(options, console);
    RunInterruptible([&] { result = BurnThreadProc(*link, job, port, sleeper); },
                     [&](const CWakePipe& done) {
                         // At "Write More Chips ?" the signal is a No: nothing is running to abort.
                         // The abort is set all the same: if the user's Yes came first, it stops
                         // the next chip before that reaches the programmer.
                         if (consolePort.Asking()) {
                             abort.store(1);
                             consolePort.AnswerNo();
                             return;
                         }
                         CConsoleAbortPort abortPort(port);
                         consolePort.SetDonePipe(&done);
                         aborted = AbortBurn(abortPort, consolePort, running, abort) != Result::NotRunning;
                     });
    console.EndProgress();
    console.Out(consolePort.ElapsedText());

    if (aborted || result.ending == Result::Aborted)
        return EXIT_FAILED;
    if (result.ending == Result::Failed) {
        PrintHint(result.status, shown);
        if (!source.Loaded())
            PrintReason(source.Path(), source.SystemError(), shown);
        return result.chipsWritten == 0 ? ExitStatusOf(result.status) : EXIT_FAILED;
    }
    const bool allWritten = result.chipsWritten > 0 && result.chipsFailed == 0 && result.lockFailures == 0 &&
                            result.powerOffFailures == 0 && !logPort.Failed();
    return allWritten ? EXIT_DONE : EXIT_FAILED;
}

// ---- the chip operations: info, read, verify, blank, erase, lock ----

// Runs job, Ctrl+C aborting it after the block in transfer or before its next step.
ChipResult RunChip(ChipJob job, const CliOptions& options, CConsole& console, CConsolePort& port,
                   std::atomic<int32_t>& abort) {
    job.expect = ExpectationOf(options);
    job.readLocked = options.force;
    job.abort = &abort;
    job.location = options.programmer;
    CRealSleeper sleeper;
    ChipResult result;
    CCommandLink link(options, console);
    RunInterruptible([&] { result = RunChipJob(*link, job, port, sleeper); },
                     [&](const CWakePipe&) { abort.store(1); });
    return result;
}

int RunChipCommand(ChipAction action, const CliOptions& options, CConsole& console) {
    CConsolePort port(console, false, options.quiet);
    std::atomic<int32_t> abort{0};
    std::vector<uint8_t> flash(READ_BUFFER_SIZE, 0xFF);
    ChipJob job;
    job.action = action;
    job.buffer = flash.data();
    job.lockMode = options.writeMode;
    std::unique_ptr<CCommandImage> source;
    if (action == ChipAction::Verify) {
        if (const int fit = InputsFit(options, options.files[0], port); fit != EXIT_DONE) {
            if (options.json) {
                ChipResult refused;
                refused.identity.failure = "cannot load " + options.files[0];
                ChipJsonDetails details;
                details.file = options.files[0];
                console.Data(ChipJson(options.command, refused, fit, options, details) + "\n");
            }
            return fit;
        }
        source = std::make_unique<CCommandImage>(options, options.files[0]);
        job.source = source.get();
    }
    const ChipResult result = RunChip(job, options, console, port, abort);
    console.EndProgress();
    PrintHint(result.status, port);
    ChipJsonDetails details;
    details.image = source.get();
    details.file = options.files.empty() ? "" : options.files[0];
    const int status = ReadOrExit(action, result, flash, options, console, details);
    if (options.json)
        console.Data(ChipJson(options.command, result, status, options, details) + "\n");
    return status;
}

// The chip command's exit status; for a read that succeeded, after its flash was saved to OUT.
int ReadOrExit(ChipAction action, const ChipResult& result, const std::vector<uint8_t>& flash,
               const CliOptions& options, CConsole& console, ChipJsonDetails& details) {
    if (result.status != Result::Done || action != ChipAction::Read)
        return ExitStatusOf(result.status);

    // The file first: "Flash Read Success" only once it holds the chip's flash; quiet or not, that is
    // the result.
    const std::string& path = options.files[0];
    FirmwareBuffer buffer;
    buffer.m_imageSize = result.length;
    int systemError = 0;
    CConsoleSink messages(console);
    const bool kept = HandReadToImage(true, flash.data(), buffer, messages, [&](const FirmwareBuffer& image) {
        const FileResult saved = SaveOutput(options, path, image, messages, console);
        systemError = saved.systemError;
        return saved.ok;
    });
    if (!kept)
        PrintReason(path == STDIO_NAME ? "standard output" : path, systemError, messages);
    details.flash = flash.data();
    details.saved = kept;
    return kept ? EXIT_DONE : EXIT_FAILED;
}

// ---- list, speed ----

int RunList(const CliOptions& options, CConsole& console) {
    const std::vector<ProgrammerLocation> found = ListProgrammers();
    const int status = ListRows(found, console);
    if (options.json)
        console.Data(ListJson(found, status) + "\n");
    return status;
}

int ListRows(const std::vector<ProgrammerLocation>& found, CConsole& console) {
    if (found.empty()) {
        console.Err(MSG_NO_PROGRAMMER);
        return EXIT_NO_PROGRAMMER;
    }
    // One line each; a programmer this user may not open is an error to mend (its udev rule), so it
    // goes to standard error. The status says whether any can be used now.
    bool usable = false;
    for (const ProgrammerLocation& location : found) {
        const std::string place = location.bus + "/" + location.device + "  ";
        usable = usable || location.Usable();
        if (location.accessDenied)
            console.Err(place + MSG_ACCESS_DENIED);
        else if (location.busy)
            console.Out(place + MSG_PROGRAMMER_BUSY);
        else
            console.Out(place +
                        (location.product.empty() ? "(product string unreadable)" : location.product));
    }
    return usable ? EXIT_DONE : EXIT_NO_PROGRAMMER;
}

int RunSpeed(const CliOptions& options, CConsole& console) {
    // The Programming Speed dialog's messages; no chip is involved, only the programmer.
    CConsoleSink port(console);
    CRealSleeper sleeper;
    SpeedJob job;
    job.location = options.programmer;
    CCommandLink link(options, console);
    // A target that may still be powered is a failure, whatever else was done.
    if (options.speedKhz > 0) {
        job.position = SpeedPositionFromKhz(options.speedKhz);
        const SpeedResult result = ConfirmSpeed(*link, job, port, sleeper);
        if (result.noProgrammer)
            return EXIT_NO_PROGRAMMER;
        return result.changed && !result.powerOffFailed ? EXIT_DONE : EXIT_FAILED;
    }
    const SpeedOpening opening = OpenSpeed(*link, job, port, sleeper);
    if (!opening.stayOpen)
        return opening.noProgrammer ? EXIT_NO_PROGRAMMER : EXIT_FAILED;
    // The dialog's slider stays at its left end for a code it does not know; here the code is told.
    console.Out(SpeedCodeText(opening.code));
    return opening.powerOffFailed ? EXIT_FAILED : EXIT_DONE;
}

// ---- convert, dump: files only, within the chip the desktop application stored or --chip ----

// Loads path within the selected chip's size; false (messages and the reason shown) when it fails.
bool LoadForSelectedChip(const std::string& path, CFileImageSource& source, IOperationPort& messages) {
    if (path == STDIO_NAME && !CCommandImage::StandardInputRead(messages))
        return false;
    if (source.LoadForChip(g_selectedChip, messages))
        return true;
    PrintReason(path, source.SystemError(), messages);
    return false;
}

int RunConvert(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    CCommandImage source(options, options.files[0]);
    if (!LoadForSelectedChip(options.files[0], source, messages))
        return EXIT_FAILED;
    const FileResult saved = SaveOutput(options, options.files[1], source.Image(), messages, console);
    if (!saved.ok)
        PrintReason(options.files[1] == STDIO_NAME ? "standard output" : options.files[1], saved.systemError,
                    messages);
    return saved.ok ? EXIT_DONE : EXIT_FAILED;
}

int RunDump(const CliOptions& options, CConsole& console) {
    // Only the rows go to standard output; the load's failures still go to standard error.
    CConsoleSink messages(console, false);
    CCommandImage source(options, options.files[0]);
    if (!LoadForSelectedChip(options.files[0], source, messages))
        return EXIT_FAILED;
    if (options.sum) {
        console.Out(FormatText(ROW_CHECKSUMS, source.Crc(), unsigned{source.Sum()}, source.Size()));
        return EXIT_DONE;
    }
    for (int address = 0; address < source.Size(); address += 16)
        console.Out(HexDumpRow(source.Image(), address));
    return EXIT_DONE;
}

// store init URL: the schema made (or found of this version), before any station needs it.
int RunStoreInit(const CliOptions& options, CConsole& console) {
    std::string error;
    if (!InitPgSchema(options.files[1], error)) {
        console.Err(error);
        return EXIT_FAILED;
    }
    console.Out("Schema veltro51 version " + std::to_string(PG_SCHEMA_VERSION) + " ready in " +
                ShownConnection(options.files[1]));
    return EXIT_DONE;
}

} // namespace

const char* RowMark(RowKind kind) {
    return kind == RowKind::Error ? MARK_ERROR : kind == RowKind::Success ? MARK_SUCCESS : MARK_INFO;
}

std::string ElapsedLabel(std::chrono::steady_clock::duration elapsed) {
    const auto seconds = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count());
    return FormatText(LABEL_TIME_ELAPSED, seconds / 3600, seconds / 60 % 60, seconds % 60);
}

int RunCommand(const CliOptions& options, CConsole& console) {
    // Standard output carries the JSON or a file: the rows go to standard error, or with --json
    // --quiet nowhere.
    const bool dataOut = (options.command == CliCommand::Read || options.command == CliCommand::Convert) &&
                         options.files.back() == STDIO_NAME;
    if (options.json || dataOut)
        console.KeepOutputForData(options.json && options.quiet);
    switch (options.command) {
    case CliCommand::List:
        return RunList(options, console);
    case CliCommand::Info:
        return RunChipCommand(ChipAction::Identify, options, console);
    case CliCommand::Burn:
        return RunBurn(options, console);
    case CliCommand::Run:
        return RunJobFile(options, console);
    case CliCommand::Job:
        return WriteJobFile(options, console);
    case CliCommand::Read:
        return RunChipCommand(ChipAction::Read, options, console);
    case CliCommand::Verify:
        return RunChipCommand(ChipAction::Verify, options, console);
    case CliCommand::Blank:
        return RunChipCommand(ChipAction::BlankCheck, options, console);
    case CliCommand::Erase:
        return RunChipCommand(ChipAction::Erase, options, console);
    case CliCommand::Lock:
        return RunChipCommand(options.writeMode > 0 ? ChipAction::WriteLock : ChipAction::ReadLock, options,
                              console);
    case CliCommand::Speed:
        return RunSpeed(options, console);
    case CliCommand::Convert:
        return RunConvert(options, console);
    case CliCommand::Dump:
        return RunDump(options, console);
    case CliCommand::Store:
        return RunStoreInit(options, console);
    case CliCommand::None:
        break;
    }
    return EXIT_USAGE;
}
