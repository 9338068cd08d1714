#include "cli/Console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int BAR_WIDTH = 40;

// The signal handler's whole state: a count and where to write. Lock-free, so safe in the handler.
std::atomic<int> s_interrupts{0};
std::atomic<int> s_interruptFd{-1};
std::atomic<bool> s_exitOnSecond{true};
std::atomic<int> s_stopSignal{0}; // the first that came, for the whole run
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void OnInterrupt(int signal) {
    const int savedErrno = errno;
    int none = 0;
    s_stopSignal.compare_exchange_strong(none, signal);
    if (s_interrupts.fetch_add(1) > 0 && s_exitOnSecond.load()) {
        // The second Ctrl+C: the abort did not end the operation soon enough for the user.
        static const char s_newline = '\n';
        if (::write(STDERR_FILENO, &s_newline, 1) < 0) {
        }
        EndBySignal(signal);
    }
    const int fd = s_interruptFd.load();
    const char mark = 'i';
    if (fd >= 0 && ::write(fd, &mark, 1) < 0) {
        // A full pipe is signalled already.
    }
    errno = savedErrno;
}

} // namespace

// ---- CConsole ----

CConsole::CConsole() : m_tty(::isatty(STDOUT_FILENO) == 1) {}

void CConsole::Out(const std::string& line) {
    bool toErr = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_dropOut)
            return;
        toErr = m_outForData;
    }
    Write(toErr ? stderr : stdout, line);
}

void CConsole::KeepOutputForData(bool dropLines) {
    std::lock_guard lock(m_mutex);
    EraseBarLocked();
    m_barVisible = false;
    m_tty = false;
    m_outForData = true;
    m_dropOut = dropLines;
}

bool CConsole::Data(std::string_view bytes) {
    std::lock_guard lock(m_mutex);
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
                         std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    m_outputFailed = m_outputFailed || !written;
    return written;
}
void CConsole::Err(const std::string& line) {
    Write(stderr, line);
}

void CConsole::Write(FILE* stream, const std::string& line) {
    std::lock_guard lock(m_mutex);
    EraseBarLocked();
    EndPromptLocked();
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0)
        m_outputFailed = m_outputFailed || stream == stdout;
    DrawBarLocked();
}

void CConsole::Progress(double fraction, const std::string& percentText) {
    std::lock_guard lock(m_mutex);
    if (!m_tty)
        return;
    if (m_barVisible && percentText == m_percentText)
        return; // nothing a reader could see changed
    m_fraction = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
    m_percentText = percentText;
    m_barVisible = true;
    DrawBarLocked();
}

void CConsole::EndProgress() {
    std::lock_guard lock(m_mutex);
    EraseBarLocked();
    m_barVisible = false;
}

void CConsole::EraseBarLocked() {
    if (!m_barVisible)
        return;
    std::fputs("\r\033[K", stdout);
    std::fflush(stdout);
}

void CConsole::DrawBarLocked() {
    if (!m_barVisible)
        return;
    const int filled = static_cast<int>(m_fraction * BAR_WIDTH + 0.5);
    std::string bar = "\r\033[K[";
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(BAR_WIDTH - filled), '.');
    bar += "] " + m_percentText + " %";
    std::fputs(bar.c_str(), stdout);
    std::fflush(stdout);
}

void CConsole::EndPromptLocked() {
    if (!m_promptOpen)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    m_promptOpen = false;
}

bool CConsole::AskYesNo(const std::string& question, int wakeFd) {
    const bool echo = ::isatty(STDIN_FILENO) != 1; // a terminal shows the answer by itself
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            EraseBarLocked();
            m_barVisible = false;
            EndPromptLocked();
            std::fprintf(stderr, "%s [y/n] ", question.c_str());
            std::fflush(stderr);
            m_promptOpen = true;
        }
        std::string answer;
        bool answered = false;
        while (!answered) {
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            char c = 0;
            const ssize_t got = ready < 0 || (fds[1].revents & POLLIN) != 0 ? 0 : ::read(STDIN_FILENO, &c, 1);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                // An abort, or the end of the input: No.
                std::lock_guard lock(m_mutex);
                EndPromptLocked();
                return false;
            }
            if (c == '\n')
                answered = true;
            else if (c != '\r' && c != ' ' && c != '\t')
                answer += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        {
            std::lock_guard lock(m_mutex);
            if (m_promptOpen && echo)
                std::fputs(answer.c_str(), stderr);
            // The terminal moved to the next line with the user's Enter.
            if (echo)
                EndPromptLocked();
            m_promptOpen = false;
        }
        if (answer == "y" || answer == "yes")
            return true;
        if (answer == "n" || answer == "no")
            return false;
    }
}

// ---- CConsoleSink ----

void CConsoleSink::Message(const std::string& text, MsgIcon icon) {
    if (icon == MsgIcon::Error)
        m_console.Err(text);
    else if (m_showInformation)
        m_console.Out(text);
}

// ---- CWakePipe ----

CWakePipe::CWakePipe() {
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        m_fds[0] = m_fds[1] = -1;
}

CWakePipe::~CWakePipe() {
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}

void CWakePipe::Signal() {
    const char mark = 'w';
    if (m_fds[1] >= 0 && ::write(m_fds[1], &mark, 1) < 0) {
        // A full pipe is signalled already.
    }
}

void CWakePipe::Drain() {
    char buffer[64];
    while (m_fds[0] >= 0 && ::read(m_fds[0], buffer, sizeof buffer) > 0) {
    }
}

bool CWakePipe::Wait(int ms) const {
    pollfd fd{m_fds[0], POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&fd, 1, ms);
        if (ready < 0 && errno == EINTR)
            continue; // a signal's own pipe is looked at by the caller
        return ready > 0;
    }
}

// ---- ending by a signal ----

int StopSignal() {
    return s_stopSignal.load();
}

void EndBySignal(int signal) {
    // Only calls a signal handler may make: the second signal ends the process from its handler.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    ::_exit(128 + signal); // what a shell reports for it, should the signal not end the process
}

// ---- CInterruptGuard ----

namespace {
// Ctrl+C, and the ends a script or a closed terminal bring: each aborts like Abort.
constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction s_savedActions[std::size(STOP_SIGNALS)];
} // namespace

CInterruptGuard::CInterruptGuard(bool exitOnSecond) {
    s_interrupts.store(0);
    s_exitOnSecond.store(exitOnSecond);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : STOP_SIGNALS)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART; // a write to the terminal goes on; poll() returns all the same
    s_interruptFd.store(m_pipe.WriteFd());
    for (size_t k = 0; k < std::size(STOP_SIGNALS); ++k)
        ::sigaction(STOP_SIGNALS[k], &action, &s_savedActions[k]);
}

CInterruptGuard::~CInterruptGuard() {
    for (size_t k = 0; k < std::size(STOP_SIGNALS); ++k)
        ::sigaction(STOP_SIGNALS[k], &s_savedActions[k], nullptr);
    s_interruptFd.store(-1);
}

// ---- CBlockInterrupt ----

CBlockInterrupt::CBlockInterrupt() {
    sigset_t block;
    sigemptyset(&block);
    for (int signal : STOP_SIGNALS)
        sigaddset(&block, signal);
    ::pthread_sigmask(SIG_BLOCK, &block, &m_saved);
}

CBlockInterrupt::~CBlockInterrupt() {
    ::pthread_sigmask(SIG_SETMASK, &m_saved, nullptr);
}
