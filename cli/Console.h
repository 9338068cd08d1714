#pragma once
// The terminal side of veltro51-cli: lines to standard output and standard error, a progress bar
// while standard output is a terminal, message boxes as lines, and Ctrl+C as a request to abort.

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "ops/Port.h"

// Every line the program prints goes through here, from any thread: one line at a time, flushed at
// once, so that standard output and standard error interleave in the order things happened. While a
// progress bar is shown (only when standard output is a terminal) it stays below the lines.
class CConsole {
public:
    CConsole();

    void Out(const std::string& line); // standard output, unless it carries the data
    void Err(const std::string& line); // standard error

    // Standard output carries the command's data (JSON, a file's bytes): from now on Out's lines go
    // to standard error, or nowhere when dropped, and no progress bar is drawn.
    void KeepOutputForData(bool dropLines);
    // Bytes of the data to standard output, as they are. False when they could not all be written
    // (errno tells why).
    bool Data(std::string_view bytes);

    // True once a line could not be written to standard output (a closed pipe, a full disk).
    bool OutputFailed() {
        std::lock_guard lock(m_mutex);
        return m_outputFailed;
    }
    // Shows (or redraws) the bar at fraction 0..1 with the percentage text beside it. Nothing when
    // standard output is no terminal.
    void Progress(double fraction, const std::string& percentText);
    // Takes the bar away (the end of a phase or an operation).
    void EndProgress();

    // Asks on standard error and reads the answer from standard input: true for y or yes, false for
    // n, no or the end of the input; anything else asks again. Returns false at once when wakeFd
    // becomes readable (an abort): the question is then left unanswered.
    bool AskYesNo(const std::string& question, int wakeFd);

private:
    void Write(FILE* stream, const std::string& line);
    void EraseBarLocked();
    void DrawBarLocked();
    void EndPromptLocked(); // ends the question's line when nothing ended it yet

    std::mutex m_mutex;
    bool m_tty = false;
    bool m_outForData = false; // Out's lines go to standard error
    bool m_dropOut = false;    // or nowhere
    bool m_barVisible = false;
    bool m_outputFailed = false;
    bool m_promptOpen = false; // a question waits on its line, without a line end yet
    double m_fraction = 0;
    std::string m_percentText;
};

// Message boxes as lines: results to standard output, failures to standard error. Questions get No.
class CConsoleSink : public IOperationPort {
public:
    explicit CConsoleSink(CConsole& console, bool showInformation = true)
        : m_console(console), m_showInformation(showInformation) {}
    void Message(const std::string& text, MsgIcon icon) override;

private:
    CConsole& m_console;
    bool m_showInformation;
};

// A pipe that becomes readable when something happened; written from any thread or a signal handler.
class CWakePipe {
public:
    CWakePipe();
    ~CWakePipe();
    CWakePipe(const CWakePipe&) = delete;
    CWakePipe& operator=(const CWakePipe&) = delete;

    bool IsOpen() const { return m_fds[0] >= 0; }
    int ReadFd() const { return m_fds[0]; }
    int WriteFd() const { return m_fds[1]; }
    void Signal(); // async-signal-safe
    void Drain();
    // Waits until the pipe is readable or ms pass (ms < 0: no limit). True when it is readable.
    bool Wait(int ms) const;

private:
    int m_fds[2] = {-1, -1};
};

// The first of those signals that came while a CInterruptGuard existed, 0 for none. A command it
// aborted ends by it (EndBySignal) once the target is off, so that a shell loop stops as it does
// for a program that the signal ended.
int StopSignal();
// Ends the process by signal with its default action, as if it had never been caught (a shell
// reports 128 + its number: 130 for Ctrl+C). Safe in a signal handler.
[[noreturn]] void EndBySignal(int signal);

// While one exists, Ctrl+C (SIGINT), SIGTERM and SIGHUP no longer end the process: the handler only
// counts the signal and signals the pipe; the owner then asks the running operation to abort, so that
// the target is powered off and the programmer released. A second signal ends the process at once
// by that signal (EndBySignal), for when an abort hangs. The earlier handling comes back on
// destruction. One at a time.
class CInterruptGuard {
public:
    // exitOnSecond false: every signal only signals the pipe (the owner ends its workers itself).
    explicit CInterruptGuard(bool exitOnSecond = true);
    ~CInterruptGuard();
    CInterruptGuard(const CInterruptGuard&) = delete;
    CInterruptGuard& operator=(const CInterruptGuard&) = delete;

    int Fd() const { return m_pipe.ReadFd(); }
    void Drain() { m_pipe.Drain(); }

private:
    CWakePipe m_pipe;
};

// Blocks those signals in the calling thread for its lifetime: a thread started meanwhile inherits the mask,
// so the signal reaches only the main thread and never interrupts a USB transfer of a worker.
class CBlockInterrupt {
public:
    CBlockInterrupt();
    ~CBlockInterrupt();

private:
    sigset_t m_saved; // the mask in force before
};
