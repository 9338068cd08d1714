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

std::string JobText(const BenchJob& job, const std::string& location) {
    std::string text = std::string(BENCH_JOB_MAGIC) + "\t" + std::to_string(BENCH_JOB_VERSION) + "\n";
    text += "location\t" + WireEscape(location) + "\n";
    text += "wire\t" + std::to_string(WORKER_WIRE_FD) + "\n";
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
bool StartWorker(const BenchJob& job, CWorker& worker, std::string& error) {
    const std::string text = JobText(job, worker.location);
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
        posix_spawn(&worker.pid, job.program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
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

} // namespace

CBenchEngine::CBenchEngine(BenchJob job, IBenchPresenter& presenter)
    : m_job(std::move(job)), m_presenter(presenter) {}

BenchOutcome CBenchEngine::Run(int abortFd) {
    BenchOutcome outcome;
    const std::vector<std::string> locations = m_job.list ? m_job.list() : UsableProgrammers();
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
