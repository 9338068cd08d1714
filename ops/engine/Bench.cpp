#include "ops/engine/Bench.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/FileIo.h"
#include "link/ProgrammerModels.h"
#include "ops/engine/Wire.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WORKER_WIRE_FD = 3;
constexpr int IDLE_EVERY_MS = 100;

std::vector<std::string> UsableProgrammers() {
    std::vector<std::string> locations;
    for (const ProgrammerLocation& location : ListProgrammers())
        if (location.Usable())
            locations.push_back(location.bus + "/" + location.device);
    return locations;
}

std::string JobText(const BenchJob& job, const std::string& location, bool awaitRemoval) {
    std::string text = std::string(BENCH_JOB_MAGIC) + "\t" + std::to_string(BENCH_JOB_VERSION) + "\n";
    text += "location\t" + WireEscape(location) + "\n";
    text += "wire\t" + std::to_string(WORKER_WIRE_FD) + "\n";
    if (awaitRemoval)
        text += "await-removal\t1\n";
    for (const auto& [key, value] : job.data)
        text += WireEscape(key) + "\t" + WireEscape(value) + "\n";
    return text;
}

// One socket's worker in the round that runs.
struct CWorker {
    std::string location;
    IOperationPort* port = nullptr;
    pid_t pid = -1;
    int wire = -1; // the read end, -1 once it closed
    std::unique_ptr<CWireReader> reader;
    Clock::time_point lastLine;
    bool reaped = false;
    bool killed = false;        // SIGKILL sent
    Clock::time_point killAt{}; // when asked to end for a fault: SIGKILL after the grace
    bool ending = false;
    BenchSocketResult result;

    bool Alive() const { return pid > 0 && !reaped; }
};

// Starts the worker of one socket: its job on standard input (a sealed memory file, so that a job
// of any length never blocks on a worker that does not read it), its wire on WORKER_WIRE_FD.
bool StartWorker(const BenchJob& job, CWorker& worker, std::string& error, bool awaitRemoval = false) {
    const std::string text = JobText(job, worker.location, awaitRemoval);
    const int input = ::memfd_create("veltro51-bench-job", MFD_CLOEXEC);
    if (input < 0 || !WriteAll(input, text) || ::lseek(input, 0, SEEK_SET) != 0) {
        error = std::string("cannot write the worker's job: ") + std::strerror(errno);
        if (input >= 0)
            ::close(input);
        return false;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("cannot make the worker's wire: ") + std::strerror(errno);
        ::close(input);
        return false;
    }
    std::vector<std::string> args = {job.program};
    args.insert(args.end(), job.arguments.begin(), job.arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], WORKER_WIRE_FD);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own: the terminal's Ctrl+C reaches the bench only, which passes exactly one on
    // to every worker.
    posix_spawnattr_setpgroup(&attributes, 0);
    // Only the stop of a watch is blocked: a worker takes it when it is ready to (Bench.h).
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, BENCH_STOP_SIGNAL);
    posix_spawnattr_setsigmask(&attributes, &blocked);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int started =
        posix_spawn(&worker.pid, job.program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    // A window's thread is one of several runnable processes when the workers start and end at once;
    // a little lower priority for them keeps it answering (they mostly wait for the programmer).
    if (started == 0 && job.workerNice > 0)
        (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(worker.pid),
                            std::min(19, ::getpriority(PRIO_PROCESS, 0) + job.workerNice));
    ::close(pipeFds[1]);
    ::close(input);
    if (started != 0) {
        ::close(pipeFds[0]);
        worker.pid = -1;
        error = std::string("cannot start the worker: ") + std::strerror(started);
        return false;
    }
    worker.wire = pipeFds[0];
    worker.lastLine = Clock::now();
    return true;
}

// Takes every abort request waiting on fd; how many there were (at least one when it was readable).
int DrainAborts(int fd) {
    char buffer[64];
    int got = 0;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0)
            break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got += static_cast<int>(n);
    }
    return std::max(got, 1);
}

// A fault of the worker: the socket fails with reason; the worker is asked to end as an abort
// ends it (its chip powered off last), and killed when it has not within the grace.
void EndForFault(CWorker& worker, const std::string& reason, int graceMs) {
    if (worker.result.failure.empty())
        worker.result.failure = reason;
    if (worker.ending || !worker.Alive())
        return;
    worker.ending = true;
    ::kill(worker.pid, SIGINT);
    worker.killAt = Clock::now() + std::chrono::milliseconds(graceMs);
}

void ReadWire(CWorker& worker, int graceMs) {
    char buffer[4096];
    const ssize_t got = ::read(worker.wire, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (got <= 0) {
        worker.reader->Finish();
        ::close(worker.wire);
        worker.wire = -1;
    } else {
        worker.lastLine = Clock::now();
        worker.reader->Feed(buffer, static_cast<size_t>(got));
    }
    if (worker.reader->Broken())
        EndForFault(worker, worker.reader->Error(), graceMs);
}

void Reap(CWorker& worker, bool wait) {
    if (!worker.Alive())
        return;
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(worker.pid, &status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done != worker.pid)
        return;
    worker.reaped = true;
    BenchSocketResult& result = worker.result;
    if (WIFSIGNALED(status)) {
        result.exitStatus = 128 + WTERMSIG(status);
        if (result.failure.empty())
            result.failure = "the worker was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                             strsignal(WTERMSIG(status)) + ")";
    } else {
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
    }
    result.cycleEnded = worker.reader->SawCycleEnded();
    result.report = worker.reader->LastReport();
    result.ended = worker.reader->SawEnded();
    result.ending = worker.reader->LastEnding();
}

// The usable programmers the job may use, in the order they were listed.
std::vector<std::string> Listed(const BenchJob& job) {
    std::vector<std::string> locations = job.list ? job.list() : UsableProgrammers();
    if (!job.only.empty())
        locations.erase(std::remove_if(locations.begin(), locations.end(),
                                       [&job](const std::string& location) {
                                           return std::find(job.only.begin(), job.only.end(), location) ==
                                                  job.only.end();
                                       }),
                        locations.end());
    return locations;
}

// Drains the wires that are ready and sends the abort requests on: the first request aborts every
// worker as the dialog's Abort does, the second ends each at once, as one program would. Returns
// whether the poll went through.
template <typename Workers> bool PollWorkers(int abortFd, Workers& workers, int& aborts, int graceMs) {
    std::vector<pollfd> fds;
    std::vector<CWorker*> owners;
    if (abortFd >= 0) {
        fds.push_back({abortFd, POLLIN, 0});
        owners.push_back(nullptr);
    }
    for (CWorker* worker : workers) {
        if (worker->wire >= 0) {
            fds.push_back({worker->wire, POLLIN, 0});
            owners.push_back(worker);
        }
    }
    const int ready = ::poll(fds.data(), fds.size(), IDLE_EVERY_MS);
    if (ready < 0 && errno != EINTR)
        return false;
    for (size_t k = 0; ready > 0 && k < fds.size(); ++k) {
        if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            continue;
        if (owners[k] == nullptr) {
            for (int n = DrainAborts(abortFd); n > 0; --n) {
                if (++aborts <= 2)
                    for (CWorker* worker : workers)
                        if (worker->Alive())
                            ::kill(worker->pid, SIGINT);
            }
        } else {
            ReadWire(*owners[k], graceMs);
        }
    }
    return true;
}

// A worker that has gone quiet for too long is ended; one asked to end is killed after the grace.
void WatchOverWorker(CWorker& worker, const BenchJob& job, Clock::time_point now) {
    if (!worker.ending && now - worker.lastLine > std::chrono::milliseconds(job.silenceMs))
        EndForFault(worker,
                    "the worker stopped answering (nothing for " + std::to_string(job.silenceMs / 1000) +
                        " s)",
                    job.graceMs);
    if (worker.ending && !worker.killed && now >= worker.killAt) {
        ::kill(worker.pid, SIGKILL);
        worker.killed = true;
    }
}

// The presenter's port of a watched socket, with what the engine needs to know of it on the way:
// whether a chip that was dealt with is still in the socket (so that a new worker does not burn it
// again), and the socket's last error row (the reason when it stops the bench).
class CWatchedSocketPort : public IOperationPort {
public:
    IOperationPort* inner = nullptr;
    bool holding = false;
    std::string lastError;

    void Row(RowKind kind, const std::string& text) override {
        if (kind == RowKind::Error)
            lastError = text;
        inner->Row(kind, text);
    }
    void Progress(int done, int total) override { inner->Progress(done, total); }
    void CycleStarted(int cycle) override { inner->CycleStarted(cycle); }
    void Identified(const CycleReport& report) override { inner->Identified(report); }
    void ChipVerified(int chips) override { inner->ChipVerified(chips); }
    void CycleEnded(const CycleReport& report) override {
        holding = true;
        inner->CycleEnded(report);
    }
    void Ended(Result ending) override { inner->Ended(ending); }
    void Message(const std::string& text, MsgIcon icon) override {
        if (icon == MsgIcon::Error)
            lastError = text;
        inner->Message(text, icon);
    }
    void ChipAwaited() override { inner->ChipAwaited(); }
    void ChipRemoved() override {
        holding = false;
        inner->ChipRemoved();
    }
    bool Ask(Question question) override { return inner->Ask(question); }
};

} // namespace

CBenchEngine::CBenchEngine(BenchJob job, IBenchPresenter& presenter)
    : m_job(std::move(job)), m_presenter(presenter) {}

BenchOutcome CBenchEngine::Run(int abortFd) {
    if (m_job.policy == BenchPolicy::Watch)
        return RunWatch(abortFd);
    BenchOutcome outcome;
    const std::vector<std::string> locations = Listed(m_job);
    outcome.sockets = static_cast<int>(locations.size());
    if (locations.empty())
        return outcome;
    std::vector<IOperationPort*> ports;
    for (const std::string& location : locations)
        ports.push_back(&m_presenter.SocketFound(location));

    for (int round = 1;; ++round) {
        outcome.rounds = round;
        m_presenter.RoundStarted(round, locations);
        std::vector<CWorker> workers(locations.size());
        for (size_t k = 0; k < locations.size(); ++k) {
            CWorker& worker = workers[k];
            worker.location = locations[k];
            worker.port = ports[k];
            worker.reader = std::make_unique<CWireReader>(*ports[k]);
            worker.result.location = locations[k];
            worker.result.round = round;
            std::string error;
            if (!StartWorker(m_job, worker, error)) {
                worker.result.failure = error;
                worker.reaped = true;
            }
        }
        int roundAborts = 0;
        auto lastIdle = Clock::now();
        for (;;) {
            std::vector<pollfd> fds;
            std::vector<CWorker*> owners;
            if (abortFd >= 0) {
                fds.push_back({abortFd, POLLIN, 0});
                owners.push_back(nullptr);
            }
            bool anyAlive = false;
            for (CWorker& worker : workers) {
                if (worker.wire >= 0) {
                    fds.push_back({worker.wire, POLLIN, 0});
                    owners.push_back(&worker);
                }
                anyAlive = anyAlive || worker.Alive();
            }
            if (!anyAlive)
                break;
            const int ready = ::poll(fds.data(), fds.size(), IDLE_EVERY_MS);
            if (ready < 0 && errno != EINTR)
                break;
            for (size_t k = 0; ready > 0 && k < fds.size(); ++k) {
                if ((fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                    continue;
                if (owners[k] == nullptr) {
                    // The first request: each worker aborts as the dialog's Abort does. The second:
                    // each ends at once, as one program would.
                    for (int n = DrainAborts(abortFd); n > 0; --n) {
                        if (++roundAborts <= 2)
                            for (CWorker& worker : workers)
                                if (worker.Alive())
                                    ::kill(worker.pid, SIGINT);
                    }
                } else {
                    ReadWire(*owners[k], m_job.graceMs);
                }
            }
            const auto now = Clock::now();
            for (CWorker& worker : workers) {
                if (!worker.Alive())
                    continue;
                if (worker.wire < 0)
                    Reap(worker, false);
                if (!worker.Alive()) {
                    m_presenter.SocketFinished(worker.result);
                    continue;
                }
                if (!worker.ending && now - worker.lastLine > std::chrono::milliseconds(m_job.silenceMs))
                    EndForFault(worker,
                                "the worker stopped answering (nothing for " +
                                    std::to_string(m_job.silenceMs / 1000) + " s)",
                                m_job.graceMs);
                if (worker.ending && !worker.killed && now >= worker.killAt) {
                    ::kill(worker.pid, SIGKILL);
                    worker.killed = true;
                }
            }
            if (now - lastIdle >= std::chrono::milliseconds(IDLE_EVERY_MS)) {
                m_presenter.Idle();
                lastIdle = now;
            }
        }
        for (CWorker& worker : workers) {
            if (worker.wire >= 0)
                ::close(worker.wire);
            Reap(worker, true);
        }
        std::vector<BenchSocketResult> results;
        for (CWorker& worker : workers)
            results.push_back(worker.result);
        m_presenter.RoundFinished(round, results);
        outcome.results.insert(outcome.results.end(), results.begin(), results.end());
        outcome.aborts += roundAborts;
        if (roundAborts > 0 || !m_job.more || !m_presenter.Ask(Question::WriteMore))
            break;
    }
    return outcome;
}

BenchOutcome CBenchEngine::RunWatch(int abortFd) {
    BenchOutcome outcome;
    // Every socket the bench has seen, in the order found; a worker while it runs.
    struct Socket {
        std::string location;
        CWatchedSocketPort port;
        std::unique_ptr<CWorker> worker;
        bool out = false; // ended for good (a fault, or by itself): never started again
    };
    std::vector<std::unique_ptr<Socket>> sockets;
    int aborts = 0;
    bool stopping = false;

    const auto start = [&](Socket& socket) {
        socket.port.inner = &m_presenter.SocketFound(socket.location);
        socket.worker = std::make_unique<CWorker>();
        CWorker& worker = *socket.worker;
        worker.location = socket.location;
        worker.port = &socket.port;
        worker.reader = std::make_unique<CWireReader>(socket.port);
        worker.result.location = socket.location;
        std::string error;
        if (!StartWorker(m_job, worker, error, socket.port.holding)) {
            worker.result.failure = error;
            worker.reaped = true;
        }
    };
    // New programmers, and those back after an unplug, get a worker.
    const auto scan = [&] {
        for (const std::string& location : Listed(m_job)) {
            auto known = std::find_if(sockets.begin(), sockets.end(),
                                      [&](const auto& socket) { return socket->location == location; });
            if (known == sockets.end()) {
                sockets.push_back(std::make_unique<Socket>());
                sockets.back()->location = location;
                known = sockets.end() - 1;
            } else if ((*known)->worker || (*known)->out) {
                continue;
            }
            start(**known);
        }
        outcome.sockets = static_cast<int>(sockets.size());
    };
    scan();
    if (sockets.empty())
        return outcome;

    auto lastScan = Clock::now();
    auto lastIdle = Clock::now();
    for (;;) {
        std::vector<CWorker*> workers;
        for (auto& socket : sockets)
            if (socket->worker)
                workers.push_back(socket->worker.get());
        if (workers.empty() && (aborts > 0 || stopping))
            break;
        if (!PollWorkers(abortFd, workers, aborts, m_job.graceMs))
            break;
        const auto now = Clock::now();
        for (auto& socket : sockets) {
            if (!socket->worker)
                continue;
            CWorker& worker = *socket->worker;
            if (worker.Alive() && worker.wire < 0)
                Reap(worker, false);
            if (worker.Alive()) {
                WatchOverWorker(worker, m_job, now);
                continue;
            }
            if (worker.wire >= 0)
                ::close(worker.wire);
            const BenchSocketResult result = worker.result;
            socket->worker.reset();
            outcome.results.push_back(result);
            m_presenter.SocketFinished(result);
            if (aborts > 0 || stopping)
                continue;
            if (result.failure.empty() && result.exitStatus == BENCH_WORKER_GONE) {
                m_presenter.SocketGone(socket->location);
                continue; // found again by a rescan once it is usable
            }
            socket->out = true;
            if (result.failure.empty() && result.ended && result.ending == Result::Failed) {
                // A reason of the whole line: every other socket ends after the chip in hand.
                stopping = true;
                outcome.stopReason = socket->location + ": " + socket->port.lastError;
                m_presenter.BenchStopping(socket->location, socket->port.lastError);
                for (auto& other : sockets)
                    if (other->worker && other->worker->Alive())
                        ::kill(other->worker->pid, BENCH_STOP_SIGNAL);
            }
        }
        if (aborts == 0 && !stopping && now - lastScan >= std::chrono::milliseconds(m_job.rescanMs)) {
            scan();
            lastScan = now;
        }
        if (now - lastIdle >= std::chrono::milliseconds(IDLE_EVERY_MS)) {
            m_presenter.Idle();
            lastIdle = now;
        }
    }
    outcome.aborts = aborts;
    return outcome;
}

std::vector<std::string> BenchWorkerJob::Values(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& [name, value] : data)
        if (name == key)
            values.push_back(value);
    return values;
}

bool ReadBenchWorkerJob(int fd, BenchWorkerJob& job, std::string& error) {
    job = BenchWorkerJob{};
    constexpr size_t LARGEST = 1 << 20;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = std::string("cannot read the job: ") + std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > LARGEST) {
            error = "the job is longer than " + std::to_string(LARGEST) + " bytes";
            return false;
        }
    }
    const std::string head = std::string(BENCH_JOB_MAGIC) + "\t" + std::to_string(BENCH_JOB_VERSION) + "\n";
    if (text.rfind(head, 0) != 0) {
        error = "no bench job of version " + std::to_string(BENCH_JOB_VERSION);
        return false;
    }
    size_t from = head.size();
    int line = 1;
    bool haveLocation = false;
    while (from < text.size()) {
        ++line;
        const size_t end = text.find('\n', from);
        if (end == std::string::npos) {
            error = "line " + std::to_string(line) + " of the job is cut short";
            return false;
        }
        const std::string entry = text.substr(from, end - from);
        from = end + 1;
        const size_t tab = entry.find('\t');
        std::string key, value;
        if (tab == std::string::npos || entry.find('\t', tab + 1) != std::string::npos ||
            !WireUnescape(entry.substr(0, tab), key) || !WireUnescape(entry.substr(tab + 1), value)) {
            error = "line " + std::to_string(line) + " of the job is no KEY<tab>VALUE";
            return false;
        }
        if (key == "location") {
            job.location = value;
            haveLocation = true;
        } else if (key == "await-removal") {
            job.awaitRemoval = value == "1";
        } else if (key == "wire") {
            char* rest = nullptr;
            const long number = std::strtol(value.c_str(), &rest, 10);
            if (value.empty() || *rest != '\0' || number < 3 || number > 1023) {
                error = "the job's wire is no descriptor: " + value;
                return false;
            }
            job.wireFd = static_cast<int>(number);
        } else {
            job.data.emplace_back(key, value);
        }
    }
    if (!haveLocation || job.wireFd < 0) {
        error = "the job names no location or no wire";
        return false;
    }
    return true;
}

struct CWireKeepAlive::State {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;
};

CWireKeepAlive::CWireKeepAlive(std::function<void()> send) : m_state(new State) {
    m_state->thread = std::thread([state = m_state, send = std::move(send)] {
        std::unique_lock lock(state->mutex);
        while (!state->wake.wait_for(lock, std::chrono::seconds(1), [state] { return state->stop; })) {
            lock.unlock();
            send();
            lock.lock();
        }
    });
}

CWireKeepAlive::~CWireKeepAlive() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->wake.notify_all();
    m_state->thread.join();
    delete m_state;
}
