#include "cli/Commands.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include <poll.h>

#include "chips/ChipCatalogue.h"
#include "image/BinaryWriter.h"
#include "image/IntelHex.h"
#include "image/FirmwareBuffer.h"
#include "link/Programmer.h"
#include "ops/Burn.h"
#include "ops/FileCommands.h"
#include "ops/FlashRead.h"
#include "ops/Format.h"
#include "ops/Identify.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"

namespace {

// info's own lines, around the desktop application's texts.
constexpr const char* LINE_SPEED = "Programming Speed : %s";
constexpr const char* LINE_SPEED_UNKNOWN = "Programming Speed : unknown code %d";
constexpr const char* LINE_LOCK_OTHER = "Lock Bits : 0x%02X, no lock mode";
constexpr const char* LINE_CATALOGUE_CHIP = "Catalogue Chip : %s";
constexpr const char* LINE_SELECTED_CHIP = "Selected Chip : %s, %d Bytes";

// The view's part in Open HEX File: there is no window to scroll or title here.
class CNoView : public IDocumentView {
public:
    void SetTitle(const std::string&) override {}
    void ScrollToTop() override {}
    void Invalidate(bool) override {}
};

FirmwareBuffer BufferForSelectedChip() {
    FirmwareBuffer buffer;
    buffer.m_imageSize = SelectedChipInfo().flashSize;
    return buffer;
}

// Runs work on a thread of its own while the main thread waits for it or for Ctrl+C. onInterrupt
// runs on the main thread at the first Ctrl+C, with the pipe that says the work has ended (it may
// wait on it). A second Ctrl+C ends the process (CInterruptGuard).
template <typename Work, typename OnInterrupt> void RunInterruptible(Work work, OnInterrupt onInterrupt) {
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
        pollfd fds[2] = {{done.ReadFd(), POLLIN, 0}, {guard.Fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue; // EINTR: the handler's pipe tells the rest
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

// ---- burn ----

// The burn dialog as lines. Rows and labels come on the worker thread, the abort's rows on the main
// thread; the console keeps them in order.
class CConsoleBurnPort : public IOperationPort, public IWorkerWait {
public:
    CConsoleBurnPort(CConsole& console, bool askMore) : m_console(console), m_askMore(askMore) {}

    void Row(RowKind kind, const std::string& text) override {
        const char* mark = kind == RowKind::Error     ? MARK_ERROR
                           : kind == RowKind::Success ? MARK_SUCCESS
                                                      : MARK_INFO;
        const std::string line = RowTimeText(std::time(nullptr)) + " " + mark + " " + text;
        if (kind == RowKind::Error)
            m_console.Err(line);
        else
            m_console.Out(line);
    }
    void Progress(int done, int total) override {
        if (total > 0)
            m_console.Progress(static_cast<double>(done) / total, PercentText(done, total));
    }
    void CycleStarted(int) override { StartClock(); }
    void ChipVerified(int chipsWritten) override {
        m_console.Out(FormatText(LABEL_CHIPS_WRITTEN, chipsWritten));
    }
    void CycleEnded(const CycleReport&) override { StopClock(); }
    void Ended(Ending) override {
        StopClock();
        m_console.EndProgress();
    }
    void Message(const std::string& text, MsgIcon icon) override {
        if (icon == MsgIcon::Error)
            m_console.Err(text);
        else
            m_console.Out(text);
    }
    bool Ask(Question question) override {
        if (question != Question::WriteMore || !m_askMore)
            return false;
        return m_console.AskYesNo(QuestionText(question), m_questionWake.ReadFd());
    }

    // IWorkerWait, on the main thread. The worker may be waiting for an answer to "Write More Chips ?":
    // the abort answers No for the user, so that the worker can end.
    bool WaitForWorker(int ms) override {
        m_questionWake.Signal();
        return m_done != nullptr && m_done->Wait(ms);
    }

    void SetDonePipe(const CWakePipe* done) { m_done = done; }

    // Whole seconds while chip cycles ran, as the dialog's label counts them.
    std::string ElapsedText() const {
        const auto seconds =
            static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(m_elapsed).count());
        return FormatText(LABEL_TIME_ELAPSED, seconds / 3600, seconds / 60 % 60, seconds % 60);
    }

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
    const bool m_askMore;
    CWakePipe m_questionWake;
    const CWakePipe* m_done = nullptr;
    // Touched by the worker only while it runs, read by the main thread after it has ended.
    bool m_clockRunning = false;
    std::chrono::steady_clock::time_point m_clockStart;
    std::chrono::steady_clock::duration m_elapsed{};
};

// The abort of a burn on the command line: the signal is the user's confirmation, and its rows are
// the burn's.
class CConsoleAbortPort : public IOperationPort {
public:
    explicit CConsoleAbortPort(CConsoleBurnPort& burn) : m_burn(burn) {}
    void Row(RowKind kind, const std::string& text) override { m_burn.Row(kind, text); }
    void Message(const std::string& text, MsgIcon icon) override { m_burn.Message(text, icon); }
    bool Ask(Question question) override { return question == Question::AbortBurn; }

private:
    CConsoleBurnPort& m_burn;
};

int RunBurn(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    CNoView view;
    FirmwareBuffer buffer = BufferForSelectedChip();
    if (!OpenFirmwareFile(options.files[0], buffer, messages, view).ok)
        return EXIT_FAILED;

    CRealSleeper sleeper;
    std::atomic<int32_t> running{1};
    std::atomic<int32_t> abort{0};
    BurnJob job;
    job.image = buffer.m_image.data(); // IMAGE_CAPACITY == BURN_BUFFER_SIZE bytes
    job.lastAddress = buffer.m_imageSize - 1;
    job.autoLock = options.lockMode > 0;
    job.lockLevel = options.lockMode > 0 ? options.lockMode : 1;
    job.running = &running;
    job.abort = &abort;
    job.location = options.programmer;

    CConsoleBurnPort port(console, options.more);
    bool aborted = false;
    BurnResult result;
    RunInterruptible([&] { result = BurnThreadProc(job, port, sleeper); },
                     [&](const CWakePipe& done) {
                         CConsoleAbortPort abortPort(port);
                         port.SetDonePipe(&done);
                         aborted = AbortBurn(abortPort, port, running, abort) != AbortOutcome::NotRunning;
                     });
    console.EndProgress();
    console.Out(port.ElapsedText());

    const bool allWritten = result.ending == BurnEnding::NoMore && result.chipsWritten > 0 &&
                            result.chipsFailed == 0 && result.lockFailures == 0;
    return !aborted && allWritten ? EXIT_DONE : EXIT_FAILED;
}

// ---- read ----

// The Read Flash dialog as lines: its status texts, its message boxes and a progress bar.
class CConsoleReadPort : public CConsoleSink {
public:
    explicit CConsoleReadPort(CConsole& console) : CConsoleSink(console), m_console(console) {}

    void Row(RowKind kind, const std::string& text) override {
        if (kind == RowKind::Error)
            m_console.Err(text);
        else
            m_console.Out(text);
    }
    void Progress(int done, int total) override {
        if (total > 0)
            m_console.Progress(static_cast<double>(done) / total, PercentText(done, total));
    }

private:
    CConsole& m_console;
};

int RunRead(const CliOptions& options, CConsole& console) {
    const std::string& path = options.files[0];
    FirmwareBuffer buffer = BufferForSelectedChip();

    CRealSleeper sleeper;
    std::atomic<int32_t> succeeded{0};
    std::atomic<int32_t> abort{0};
    ReadJob job;
    job.length = buffer.m_imageSize;
    job.succeeded = &succeeded;
    job.abort = &abort;
    job.location = options.programmer;

    CConsoleReadPort port(console);
    RunInterruptible([&] { ReadFlashThread(job, port, sleeper); }, [&](const CWakePipe&) { abort.store(1); });
    console.EndProgress();

    CConsoleSink messages(console);
    // The file first: "Flash Read Success" only once it holds the chip's flash.
    const bool kept = HandReadToImage(succeeded.load() != 0, job.buffer, buffer, messages,
                                      [&](const FirmwareBuffer& image) {
                                          if (FileKindFromPath(path) != FileKind::Binary)
                                              return SaveFirmwareFile(path, image, messages).ok;
                                          if (WriteBinaryFile(path, image))
                                              return true;
                                          messages.Message(MSG_CANNOT_WRITE, MsgIcon::Error);
                                          return false;
                                      });
    return kept ? EXIT_DONE : EXIT_FAILED;
}

// ---- list, info ----

int RunList(CConsole& console) {
    const std::vector<ProgrammerLocation> found = CProgrammer::List();
    if (found.empty()) {
        console.Err(MSG_NO_PROGRAMMER);
        return EXIT_FAILED;
    }
    for (const ProgrammerLocation& location : found)
        console.Out(location.bus + "/" + location.device + "  " +
                    (location.product.empty() ? "(product string unreadable)" : location.product));
    return EXIT_DONE;
}

int RunInfo(const CliOptions& options, CConsole& console) {
    CConsoleReadPort port(console);
    CRealSleeper sleeper;
    const ChipIdentity identity = IdentifyChip(IdentifyJob{options.programmer}, port, sleeper);
    if (!identity.opened)
        return EXIT_FAILED;
    console.Out(std::string(ROW_FOUND) + " " + identity.product);
    if (!identity.tested)
        return EXIT_FAILED;
    console.Out(ROW_HARDWARE_OK);
    if (identity.signatureRead && !identity.noChip) {
        const uint8_t* signature = identity.signature;
        console.Out(FormatText(ROW_FOUND_CHIP, ChipNameFromSignature(signature).c_str()));
        console.Out(FormatText(ROW_SIGNATURE, unsigned{signature[0]}, unsigned{signature[1]},
                               unsigned{signature[2]}));
        // The desktop's name covers two chips only; the catalogue tells the others, for --chip.
        if (identity.chip >= 0)
            console.Out(
                FormatText(LINE_CATALOGUE_CHIP, g_chipCatalogue[static_cast<size_t>(identity.chip)].name));
        if (identity.lockRead) {
            if (const LockStatusRow* row = FindLockStatus(identity.lockStatus))
                console.Out(row->message);
            else
                console.Out(FormatText(LINE_LOCK_OTHER, unsigned{identity.lockStatus}));
        }
    }
    if (identity.signatureRead && (identity.lockRead || identity.noChip)) {
        const ChipInfo& selected = SelectedChipInfo();
        console.Out(FormatText(LINE_SELECTED_CHIP, selected.name, selected.flashSize));
    }
    if (identity.speedRead) {
        const int position = SpeedPositionFromCode(identity.speedCode);
        if (position >= 0)
            console.Out(FormatText(LINE_SPEED, SpeedLabel(position).c_str()));
        else
            console.Out(FormatText(LINE_SPEED_UNKNOWN, identity.speedCode));
    }
    return identity.ok ? EXIT_DONE : EXIT_FAILED;
}

// ---- lock, speed ----

int RunLock(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    CRealSleeper sleeper;
    LockJob job;
    job.location = options.programmer;
    if (options.writeMode > 0) {
        SetBoxesFromMode(job.boxes, options.writeMode);
        return WriteLockBitsToChip(job, messages, sleeper).ok ? EXIT_DONE : EXIT_FAILED;
    }
    const LockResult result = ReadLockBitsFromChip(job, messages, sleeper);
    if (!result.ok)
        return EXIT_FAILED;
    // The dialog says nothing for a combination that is no lock mode; a script still wants to know.
    if (FindLockStatus(result.status) == nullptr)
        console.Out(FormatText(LINE_LOCK_OTHER, unsigned{result.status}));
    return EXIT_DONE;
}

int RunSpeed(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    CRealSleeper sleeper;
    SpeedJob job;
    job.location = options.programmer;
    if (options.speedKhz > 0) {
        job.position = SpeedPositionFromKhz(options.speedKhz);
        return ConfirmSpeed(job, messages, sleeper).changed ? EXIT_DONE : EXIT_FAILED;
    }
    const SpeedOpening opening = OpenSpeed(job, messages, sleeper);
    if (!opening.stayOpen)
        return EXIT_FAILED;
    // The dialog's slider stays at its left end for a code it does not know; here the code is told.
    if (SpeedPositionFromCode(opening.code) < 0)
        console.Out(FormatText("Unknown speed code %d", opening.code));
    else
        console.Out(SpeedLabel(opening.position));
    return EXIT_DONE;
}

// ---- convert, dump ----

int RunConvert(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    CNoView view;
    FirmwareBuffer buffer = BufferForSelectedChip();
    if (!OpenFirmwareFile(options.files[0], buffer, messages, view).ok)
        return EXIT_FAILED;
    return SaveFirmwareFile(options.files[1], buffer, messages).ok ? EXIT_DONE : EXIT_FAILED;
}

int RunDump(const CliOptions& options, CConsole& console) {
    // Only the rows go to standard output; the load's failures still go to standard error.
    CConsoleSink messages(console, false);
    CNoView view;
    FirmwareBuffer buffer = BufferForSelectedChip();
    if (!OpenFirmwareFile(options.files[0], buffer, messages, view).ok)
        return EXIT_FAILED;
    for (int address = 0; address < buffer.m_imageSize; address += 16) {
        std::string line = FormatText("%04X -", static_cast<unsigned>(address));
        for (int j = 0; j < 16; ++j)
            line += FormatText(" %02X", unsigned{buffer.m_image[static_cast<size_t>(address + j)]});
        console.Out(line);
    }
    return EXIT_DONE;
}

} // namespace

int RunCommand(const CliOptions& options, CConsole& console) {
    switch (options.command) {
    case CliCommand::List:
        return RunList(console);
    case CliCommand::Info:
        return RunInfo(options, console);
    case CliCommand::Burn:
        return RunBurn(options, console);
    case CliCommand::Read:
        return RunRead(options, console);
    case CliCommand::Lock:
        return RunLock(options, console);
    case CliCommand::Speed:
        return RunSpeed(options, console);
    case CliCommand::Convert:
        return RunConvert(options, console);
    case CliCommand::Dump:
        return RunDump(options, console);
    case CliCommand::None:
        break;
    }
    return EXIT_USAGE;
}
