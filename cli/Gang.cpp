#include "cli/Gang.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "cli/Commands.h"
#include "cli/Events.h"
#include "link/Programmer.h"
#include "ops/ChipSession.h"
#include "ops/Format.h"
#include "ops/Port.h"
#include "ops/Texts.h"

extern char** environ;

namespace {

// The bench's words.
constexpr const char* LINE_NO_PROGRAMMERS =
    "No programmer to burn with: none attached that this user may use";
constexpr const char* LINE_ROUND = "Round %d: %d sockets";
constexpr const char* LINE_SUMMARY_HEAD = "Socket   Chip        Outcome    Serial";
constexpr const char* LINE_TOTAL = "Chips verified : %d of %d, %s, Chips per hour : %.0f";
constexpr int WORKER_EVENTS_FD = 3;
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(100);

// One socket of the bench in the round that runs.
struct CSocket {
    std::string location;
    pid_t pid = -1;
    int events = -1; // the worker's event pipe, -1 once it closed
    std::string pending;
    std::string phase = "Starting ...";
    std::string lastError;
    int done = 0, total = 0;
    bool cycleEnded = false;
    std::string outcome = "failed";
    std::string chip = "-";
    std::string serial = "-";
    std::string failure;
    int status = -1; // the worker's exit status

    // Verified, and the worker found nothing else wrong (a log line, a PowerOff).
    bool Clean() const { return outcome == CycleOutcomeName(CycleOutcome::Verified) && status == EXIT_DONE; }
};

// Starts this program on one programmer for one chip; its events come on the pipe it returns.
bool StartWorker(const CliOptions& options, CSocket& socket) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> args = {"veltro51-cli", "--programmer", socket.location};
    if (options.chip >= 0)
        args.insert(args.end(), {"--chip", ChipName(options.chip)});
    if (options.force)
        args.push_back("--force");
    args.insert(args.end(), {"burn", "--events", std::to_string(WORKER_EVENTS_FD)});
    if (options.lockMode > 0)
        args.insert(args.end(), {"--lock", std::to_string(options.lockMode)});
    if (!options.serial.empty())
        args.insert(args.end(), {"--serial", options.serial, "--serial-file", options.serialFile});
    if (!options.log.empty())
        args.insert(args.end(), {"--log", options.log});
    if (options.lenient)
        args.push_back("--lenient");
    if (options.format != FileKind::None)
        args.insert(args.end(), {"--format", options.format == FileKind::Binary ? "bin" : "hex"});
    // Last, after "--": a file named like an option is still the file.
    args.insert(args.end(), {"--", options.files[0]});
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], WORKER_EVENTS_FD);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: the terminal's Ctrl+C reaches this process only, which passes exactly one
    // on to every worker.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int started =
        posix_spawn(&socket.pid, "/proc/self/exe", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (started != 0) {
        ::close(pipeFds[0]);
        socket.pid = -1;
        return false;
    }
    socket.events = pipeFds[0];
    return true;
}

class CBench {
public:
    CBench(const CliOptions& options, CConsole& console, std::vector<CSocket> sockets)
        : m_options(options), m_console(console), m_sockets(std::move(sockets)),
          m_tty(::isatty(STDOUT_FILENO) == 1 && !options.quiet) {}

    // One round: every socket burns one chip. False when the user aborted it.
    bool RunRound(CInterruptGuard& guard) {
        for (CSocket& socket : m_sockets) {
            const std::string location = socket.location;
            socket = CSocket{};
            socket.location = location;
            if (!StartWorker(m_options, socket)) {
                socket.phase = "cannot start the worker";
                socket.failure = socket.phase;
            }
        }
        m_drawn = 0;
        Draw();
        int signals = 0;
        auto lastDraw = std::chrono::steady_clock::now();
        for (;;) {
            std::vector<pollfd> fds = {{guard.Fd(), POLLIN, 0}};
            std::vector<CSocket*> owners = {nullptr};
            for (CSocket& socket : m_sockets)
                if (socket.events >= 0) {
                    fds.push_back({socket.events, POLLIN, 0});
                    owners.push_back(&socket);
                }
            if (fds.size() == 1)
                break;
            if (::poll(fds.data(), fds.size(), static_cast<int>(REDRAW_EVERY.count())) < 0 && errno != EINTR)
                break;
            if ((fds[0].revents & POLLIN) != 0) {
                guard.Drain();
                // The first signal: each worker aborts as the dialog's Abort does. The second: each
                // ends at once, as one program would, and so does the bench once they are gone.
                if (signals++ < 2)
                    for (CSocket& socket : m_sockets)
                        if (socket.pid > 0 && socket.events >= 0)
                            ::kill(socket.pid, SIGINT);
            }
            for (size_t k = 1; k < fds.size(); ++k)
                if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
                    ReadEvents(*owners[k]);
            if (std::chrono::steady_clock::now() - lastDraw >= REDRAW_EVERY) {
                Draw();
                lastDraw = std::chrono::steady_clock::now();
            }
        }
        for (CSocket& socket : m_sockets) {
            if (socket.pid <= 0)
                continue;
            int status = 0;
            while (::waitpid(socket.pid, &status, 0) < 0 && errno == EINTR) {
            }
            socket.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            if (!socket.cycleEnded)
                socket.failure = socket.lastError.empty() ? "the worker ended early" : socket.lastError;
        }
        Draw();
        Summary();
        for (const CSocket& socket : m_sockets) {
            ++m_chips;
            if (socket.Clean())
                ++m_verified;
            else
                m_failures.push_back(socket.status > 0 ? socket.status : EXIT_FAILED);
        }
        m_interrupted = m_interrupted || signals > 1;
        return signals == 0;
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
    int Status() const {
        if (m_interrupted)
            return 130;
        if (m_failures.empty() && m_chips > 0)
            return EXIT_DONE;
        const bool same = std::all_of(m_failures.begin(), m_failures.end(),
                                      [this](int status) { return status == m_failures.front(); });
        const int status = m_failures.empty() ? EXIT_FAILED : m_failures.front();
        return same && (status == EXIT_NO_PROGRAMMER || status == EXIT_CHIP) ? status : EXIT_FAILED;
    }

private:
    void ReadEvents(CSocket& socket) {
        char buffer[4096];
        const ssize_t got = ::read(socket.events, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            return;
        if (got <= 0) {
            ::close(socket.events);
            socket.events = -1;
            return;
        }
        socket.pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        while ((end = socket.pending.find('\n')) != std::string::npos) {
            const std::string line = socket.pending.substr(0, end);
            socket.pending.erase(0, end + 1);
            WorkerEvent event;
            if (ParseWorkerEvent(line, event))
                Take(socket, event);
        }
    }

    void Take(CSocket& socket, const WorkerEvent& event) {
        if (event.type == 'R') {
            const RowKind kind = RowKindOfLetter(event.fields[0]);
            const std::string& text = event.fields[1];
            socket.phase = text;
            if (kind == RowKind::Error)
                socket.lastError = text;
            // Without a terminal to redraw, the rows themselves are the bench's lines; quiet keeps
            // only the failures.
            if (!m_tty && (!m_options.quiet || kind == RowKind::Error)) {
                const std::string line = socket.location + "  " + RowMark(kind) + " " + text;
                if (kind == RowKind::Error)
                    m_console.Err(line);
                else
                    m_console.Out(line);
            }
        } else if (event.type == 'P') {
            socket.done = std::atoi(event.fields[0].c_str());
            socket.total = std::atoi(event.fields[1].c_str());
        } else if (event.type == 'C') {
            socket.cycleEnded = true;
            socket.outcome = event.fields[0];
            socket.chip = event.fields[1];
            socket.serial = event.fields[2];
            socket.failure = event.fields[3]; // a C event has its four fields
        }
    }

    // The bench as one line per socket, redrawn in place on a terminal.
    void Draw() {
        if (!m_tty)
            return;
        std::string text;
        if (m_drawn > 0)
            text += "\033[" + std::to_string(m_drawn) + "A";
        for (const CSocket& socket : m_sockets) {
            std::string phase = socket.phase.substr(0, 50);
            const std::string percent = socket.total > 0 ? PercentText(socket.done, socket.total) + " %" : "";
            char line[160];
            std::snprintf(line, sizeof line, "\r\033[K%-8s %-50s %8s\n", socket.location.c_str(),
                          phase.c_str(), percent.c_str());
            text += line;
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        m_drawn = static_cast<int>(m_sockets.size());
    }

    void Summary() {
        m_drawn = 0;
        m_console.Out(LINE_SUMMARY_HEAD);
        for (const CSocket& socket : m_sockets) {
            char line[512];
            std::snprintf(line, sizeof line, "%-8s %-11s %-10s %-6s", socket.location.c_str(),
                          socket.chip.c_str(), socket.outcome.c_str(), socket.serial.c_str());
            // Whatever kept a socket from a clean end: the cycle's failure, or its last error row (a
            // production log not written, a PowerOff that failed, a file).
            std::string all = line;
            if (!socket.Clean()) {
                const std::string& reason = !socket.failure.empty() ? socket.failure : socket.lastError;
                if (!reason.empty())
                    all += " " + reason;
            }
            m_console.Out(all);
        }
    }

    const CliOptions& m_options;
    CConsole& m_console;
    std::vector<CSocket> m_sockets;
    const bool m_tty;
    int m_drawn = 0;
    int m_chips = 0;
    int m_verified = 0;
    std::vector<int> m_failures; // the exit statuses of the sockets that failed
    bool m_interrupted = false;
};

} // namespace

int RunGang(const CliOptions& options, CConsole& console) {
    std::vector<CSocket> sockets;
    for (const ProgrammerLocation& location : CProgrammer::List()) {
        if (!location.Usable())
            continue;
        CSocket socket;
        socket.location = location.bus + "/" + location.device;
        sockets.push_back(socket);
    }
    if (sockets.empty()) {
        console.Err(LINE_NO_PROGRAMMERS);
        return EXIT_NO_PROGRAMMER;
    }
    // Every signal comes to the loop, which passes it on to the workers and waits for them.
    CInterruptGuard guard(false);
    CBench bench(options, console, sockets);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 1;; ++round) {
        if (!options.quiet)
            console.Out(FormatText(LINE_ROUND, round, static_cast<int>(sockets.size())));
        if (!bench.RunRound(guard))
            break;
        // Once for the whole bench, after every socket has finished its chip.
        if (!options.more || !console.AskYesNo(QuestionText(Question::WriteMore), guard.Fd()))
            break;
    }
    bench.Total(std::chrono::steady_clock::now() - start);
    return bench.Status();
}
