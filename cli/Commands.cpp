#include "cli/Commands.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include <poll.h>

#include "chips/ChipCatalogue.h"
#include "image/BinaryWriter.h"
#include "image/FileCommands.h"
#include "image/FirmwareBuffer.h"
#include "image/IntelHex.h"
#include "link/Programmer.h"
#include "ops/Burn.h"
#include "ops/FlashRead.h"
#include "ops/Format.h"
#include "ops/LockBits.h"
#include "ops/Speed.h"
#include "ops/Texts.h"

namespace {

// The burn dialog's elapsed-time label; here printed once when the burn has ended.
constexpr const char* LABEL_TIME_ELAPSED = "Time Elapsed %02d:%02d:%02d";
// info's own lines, around the desktop application's texts.
constexpr const char* LINE_SPEED = "Programming Speed : %s";
constexpr const char* LINE_SPEED_UNKNOWN = "Programming Speed : unknown code %d";
constexpr const char* LINE_LOCK_OTHER = "Lock Bits : 0x%02X, no lock mode";
constexpr const char* LINE_CATALOGUE_CHIP = "Catalogue Chip : %s";
constexpr const char* LINE_SELECTED_CHIP = "Selected Chip : %s, %d Bytes";

// The info command's waits, those of the burn before it reads the signature.
constexpr int INFO_POWER_STEPS = 4;
constexpr int INFO_POWER_STEP_MS = 250;
constexpr int INFO_SIGNATURE_MS = 1000;

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

void ReportNoProgrammer(CConsole& console, const CProgrammer& programmer) {
    console.Err(MSG_NO_PROGRAMMER);
    if (programmer.AccessDenied())
        console.Err(MSG_ACCESS_DENIED);
    if (programmer.Busy())
        console.Err(MSG_PROGRAMMER_BUSY);
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
class CConsoleBurnUi : public IBurnUi, public IBurnAbortUi {
public:
    CConsoleBurnUi(CConsole& console, int32_t lastAddress, bool askMore)
        : m_console(console), m_progressUpper(BurnProgressModel(lastAddress).Upper()), m_askMore(askMore) {}

    void AddRow(RowKind kind, const std::string& text) override {
        const char* mark = kind == RowKind::Error     ? MARK_ERROR
                           : kind == RowKind::Success ? MARK_SUCCESS
                                                      : MARK_INFO;
        const std::string line = RowTimeText(std::time(nullptr)) + " " + mark + " " + text;
        if (kind == RowKind::Error)
            m_console.Err(line);
        else
            m_console.Out(line);
    }
    void SetProgress(int position, const std::string& percentText) override {
        if (m_progressUpper > 0)
            m_console.Progress(static_cast<double>(position) / m_progressUpper, percentText);
    }
    // The abort ending moves the bar to its end; a full bar would read as done, so it is left alone.
    void SetProgressPosition(int) override {}
    void SetChipsWritten(const std::string& text) override { m_console.Out(text); }
    void StartElapsedTimer() override { StartClock(); }
    void StopElapsedTimer() override { StopClock(); }
    void FinishTask() override {
        StopClock();
        m_console.EndProgress();
    }
    bool AskWriteMore() override {
        if (!m_askMore)
            return false;
        return m_console.AskYesNo(ASK_WRITE_MORE, m_questionWake.ReadFd());
    }

    // IBurnAbortUi, on the main thread. The worker may be waiting for an answer to "Write More Chips ?":
    // the abort answers No for the user, so that the worker can end.
    bool WaitForWorker(int ms) override {
        m_questionWake.Signal();
        return m_done != nullptr && m_done->Wait(ms);
    }
    void SetFinishedButtons() override {}

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
    const int m_progressUpper;
    const bool m_askMore;
    CWakePipe m_questionWake;
    const CWakePipe* m_done = nullptr;
    // Touched by the worker only while it runs, read by the main thread after it has ended.
    bool m_clockRunning = false;
    std::chrono::steady_clock::time_point m_clockStart;
    std::chrono::steady_clock::duration m_elapsed{};
};

int RunBurn(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    CNoView view;
    FirmwareBuffer buffer = BufferForSelectedChip();
    if (!OpenFirmwareFile(options.files[0], buffer, messages, view))
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
    job.sleeper = &sleeper;
    job.location = options.programmer;

    CConsoleBurnUi ui(console, job.lastAddress, options.more);
    bool aborted = false;
    RunInterruptible([&] { BurnThreadProc(job, ui); },
                     [&](const CWakePipe& done) {
                         // The signal is the user's confirmation: no question here.
                         CConsoleSink confirmed(console, true, true);
                         ui.SetDonePipe(&done);
                         aborted = AbortBurn(confirmed, ui, running, abort) != AbortOutcome::NotRunning;
                     });
    console.EndProgress();
    console.Out(ui.ElapsedText());

    const bool allWritten = job.ending == BurnEnding::NoMore && job.chipsWritten > 0 &&
                            job.chipsFailed == 0 && job.lockFailures == 0;
    return !aborted && allWritten ? EXIT_DONE : EXIT_FAILED;
}

// ---- read ----

// The Read Flash dialog as lines: its status texts, its message boxes and a progress bar.
class CConsoleReadUi : public IReadUi {
public:
    CConsoleReadUi(CConsole& console, int32_t length)
        : m_console(console), m_sink(console), m_length(length) {}

    void ShowMessage(const std::string& text, MsgIcon icon) override { m_sink.ShowMessage(text, icon); }
    void SetStatus(const std::string& text) override {
        if (text == STATUS_ERROR)
            m_console.Err(text);
        else
            m_console.Out(text);
    }
    void EnableClose(bool) override {}
    void EnableAbort(bool) override {}
    void StepProgress(int position) override {
        if (m_length > 0) {
            const double fraction = static_cast<double>(position) / m_length;
            m_console.Progress(fraction, FormatText(PERCENT_FORMAT, 100.0 * fraction));
        }
    }
    void StopAnimation() override {}

private:
    CConsole& m_console;
    CConsoleSink m_sink;
    int32_t m_length;
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
    job.sleeper = &sleeper;
    job.location = options.programmer;

    CConsoleReadUi ui(console, job.length);
    RunInterruptible([&] { ReadFlashThread(job, ui); }, [&](const CWakePipe&) { abort.store(1); });
    console.EndProgress();

    CConsoleSink messages(console);
    if (succeeded.load() == 0) {
        messages.ShowMessage(MSG_NO_DATA_READ, MsgIcon::Error);
        return EXIT_FAILED;
    }
    std::copy(job.buffer, job.buffer + job.length, buffer.m_image.begin());
    // Success only once the file holds the bytes.
    if (FileKindFromPath(path) == FileKind::Binary) {
        if (!WriteBinaryFile(path, buffer)) {
            messages.ShowMessage(MSG_CANNOT_WRITE, MsgIcon::Error);
            return EXIT_FAILED;
        }
    } else if (!SaveFirmwareFile(path, buffer, messages)) {
        return EXIT_FAILED;
    }
    messages.ShowMessage(MSG_READ_SUCCESS, MsgIcon::Information);
    return EXIT_DONE;
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

// The catalogue chip whose signature bytes these are (a byte the chip does not have, address -1,
// is not compared), or null.
const ChipInfo* CatalogueChipBySignature(const uint8_t signature[3]) {
    for (const ChipInfo& chip : g_chipCatalogue) {
        bool same = true;
        for (int k = 0; k < 3 && same; ++k)
            same = chip.signatureAddress[k] < 0 || chip.signature[k] == signature[k];
        if (same)
            return &chip;
    }
    return nullptr;
}

// Test, power, signature, lock status and speed in one connection, with the burn's pacing before the
// signature; PowerOff before the programmer is released on every path once it was opened.
int RunInfo(const CliOptions& options, CConsole& console) {
    CRealSleeper sleeper;
    CProgrammer programmer;
    programmer.SetLocation(options.programmer);
    if (!programmer.Open()) {
        ReportNoProgrammer(console, programmer);
        return EXIT_FAILED;
    }
    struct PowerOffOnExit {
        CProgrammer& programmer;
        ~PowerOffOnExit() {
            programmer.PowerOff();
            programmer.Close();
        }
    } powerOff{programmer};

    const char* product = programmer.GetProductString();
    console.Out(std::string(ROW_FOUND) + " " + (product ? product : ""));
    if (!programmer.TestHardware()) {
        console.Err(MSG_BAD_ANSWER);
        return EXIT_FAILED;
    }
    console.Out(ROW_HARDWARE_OK);
    for (int level = 1; level <= INFO_POWER_STEPS; ++level) {
        if (!programmer.PowerOn())
            console.Err(ROW_CONTINUING);
        sleeper.Sleep(INFO_POWER_STEP_MS);
    }
    sleeper.Sleep(INFO_SIGNATURE_MS);

    int status = EXIT_DONE;
    if (!programmer.ReadSignature()) {
        console.Err(MSG_NOT_RESPONDING);
        return EXIT_FAILED;
    }
    const uint8_t* signature = programmer.GetSignature();
    const bool noChip = signature[0] == 0xFF && signature[1] == 0xFF && signature[2] == 0xFF;
    if (noChip) {
        console.Err(ROW_NO_CHIP);
        status = EXIT_FAILED;
    } else {
        console.Out(FormatText(ROW_FOUND_CHIP, ChipNameFromSignature(signature).c_str()));
        console.Out(FormatText(ROW_SIGNATURE, unsigned{signature[0]}, unsigned{signature[1]},
                               unsigned{signature[2]}));
        // The desktop's name covers two chips only; the catalogue tells the others, for --chip.
        if (const ChipInfo* chip = CatalogueChipBySignature(signature))
            console.Out(FormatText(LINE_CATALOGUE_CHIP, chip->name));
        bool ok = false;
        const uint8_t lock = programmer.ReadLockBits(&ok);
        if (!ok) {
            console.Err(MSG_NOT_RESPONDING);
            status = EXIT_FAILED;
        } else if (const LockStatusRow* row = FindLockStatus(lock)) {
            console.Out(row->message);
        } else {
            console.Out(FormatText(LINE_LOCK_OTHER, unsigned{lock}));
        }
    }

    const ChipInfo& selected = SelectedChipInfo();
    console.Out(FormatText(LINE_SELECTED_CHIP, selected.name, selected.flashSize));

    bool ok = false;
    const int code = programmer.GetSpeed(&ok);
    if (!ok) {
        console.Err(MSG_NOT_RESPONDING);
        return EXIT_FAILED;
    }
    const int position = SpeedPositionFromCode(code);
    if (position >= 0)
        console.Out(FormatText(LINE_SPEED, SpeedLabel(position).c_str()));
    else
        console.Out(FormatText(LINE_SPEED_UNKNOWN, code));
    return status;
}

// ---- lock, speed ----

int RunLock(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    LockBoxes boxes;
    if (options.writeMode > 0) {
        SetBoxesFromMode(boxes, options.writeMode);
        return WriteLockBitsToChip(boxes, messages, options.programmer) ? EXIT_DONE : EXIT_FAILED;
    }
    uint8_t lock = 0;
    if (!ReadLockBitsFromChip(boxes, messages, options.programmer, &lock))
        return EXIT_FAILED;
    // The dialog says nothing for a combination that is no lock mode; a script still wants to know.
    if (FindLockStatus(lock) == nullptr)
        console.Out(FormatText(LINE_LOCK_OTHER, unsigned{lock}));
    return EXIT_DONE;
}

int RunSpeed(const CliOptions& options, CConsole& console) {
    CConsoleSink messages(console);
    CRealSleeper sleeper;
    if (options.speedKhz > 0) {
        int position = 0;
        while (position < SPEED_SLIDER_MAX && SpeedKhzAtPosition(position) != options.speedKhz)
            ++position;
        return ConfirmSpeed(position, messages, sleeper, options.programmer) ? EXIT_DONE : EXIT_FAILED;
    }
    const SpeedOpening opening = OpenSpeed(messages, sleeper, options.programmer);
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
    if (!OpenFirmwareFile(options.files[0], buffer, messages, view))
        return EXIT_FAILED;
    return SaveFirmwareFile(options.files[1], buffer, messages) ? EXIT_DONE : EXIT_FAILED;
}

int RunDump(const CliOptions& options, CConsole& console) {
    // Only the rows go to standard output; the load's failures still go to standard error.
    CConsoleSink messages(console, false);
    CNoView view;
    FirmwareBuffer buffer = BufferForSelectedChip();
    if (!OpenFirmwareFile(options.files[0], buffer, messages, view))
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
