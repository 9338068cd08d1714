#pragma once
// The bench engine: the same job on every attached programmer at once. libusb-0.1 keeps
// process-wide state, so each programmer (a socket) gets a worker process of its own; the engine
// hands each worker its job as data on its standard input, reads the worker's events over the wire
// (ops/engine/Wire.h), and gives them to a presenter through the operation port, one port per
// socket. The policy is the engine's; the presenter only shows: rounds (every socket burns one chip,
// then the bench is asked once whether to go on) or watch (every socket keeps one worker that waits
// for a chip, burns it, waits for its removal and so on; the programmers are looked for again every
// rescanMs, so one plugged in, or back after an unplug, gets a worker of its own). A worker that crashes,
// garbles its wire or stops answering ends its socket as failed with a reason; the other sockets go on.
//
// Used on one thread: every presenter call comes on the thread that called Run, in order.

#include <csignal>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ops/Port.h"

// The first line of a worker's standard input: the job's format and its version.
constexpr const char* BENCH_JOB_MAGIC = "veltro51-bench-job";
constexpr int BENCH_JOB_VERSION = 1;

enum class BenchPolicy {
    Rounds, // every socket one chip; then, with more, Question::WriteMore once for the bench
    Watch,  // every socket on its own, chip after chip, until the abort (or a stop of the bench)
};

// Watch: a worker that exits with this status lost its programmer (unplugged): its socket is gone,
// and comes back with a new worker once a rescan finds the programmer usable again. (The command
// line's status for "no usable programmer".)
constexpr int BENCH_WORKER_GONE = 3;
// Watch: asks a worker to end once the chip in hand is done, before its next erase; sent to every
// other worker when one stops for a reason of the whole bench (its serial store or log failed, the
// firmware changed). Workers start with it blocked, so that it never ends one by its default action
// nor interrupts a transfer: a worker that honours it takes it with signalfd or sigwait.
constexpr int BENCH_STOP_SIGNAL = SIGUSR1;

// What the engine is asked to run.
struct BenchJob {
    std::string program;                // the worker's program
    std::vector<std::string> arguments; // its argv[1..]: fixed, the same for every worker
    // The job itself, as pairs (key, value) in order; each worker reads them back with
    // ReadBenchWorkerJob, after the engine's own: its socket's location and its wire's descriptor.
    std::vector<std::pair<std::string, std::string>> data;
    BenchPolicy policy = BenchPolicy::Rounds;
    bool more = false; // Rounds: ask Question::WriteMore after each round
    // A worker that writes no line for this long (not even its keep-alive, sent every second) has
    // stopped answering: it is ended and its socket fails.
    int silenceMs = 15000;
    // How long a worker that was asked to end (a garbled wire, silence) gets before it is killed.
    int graceMs = 3000;
    // The usable programmers' locations; empty: those ListProgrammers finds usable.
    std::function<std::vector<std::string>()> list;
    // Only these locations (a job's list of sockets), of those listed; empty: every one.
    std::vector<std::string> only;
    // Watch: how often the programmers are looked for again.
    int rescanMs = 1500;
    // Niceness added to each worker's (0: the bench's own), for a bench whose own thread must answer
    // at once: a window.
    int workerNice = 0;
};

// How one socket's worker came out.
struct BenchSocketResult {
    std::string location;
    int round = 0;
    bool cycleEnded = false; // report holds the worker's CycleEnded report
    CycleReport report;
    bool ended = false; // ending holds the worker's Ended event
    Result ending = Result::Failed;
    int exitStatus = -1; // the worker's exit status; 128 + the signal when a signal ended it
    // The bench's own reason the socket failed: the worker could not be started, was ended by a
    // signal, garbled or cut short its wire, or stopped answering. Empty otherwise: a worker that
    // ended before its chip cycle without such a fault (cycleEnded false) told why in its rows.
    std::string failure;
};

class IBenchPresenter {
public:
    virtual ~IBenchPresenter() = default;
    // A programmer joined the bench. The port gets every event of the socket's workers, as a
    // worker's own port got them; it must stay valid until Run returns.
    virtual IOperationPort& SocketFound(const std::string& location) = 0;
    // A programmer left the bench. In watch mode, SocketFound comes again for the same location when
    // it is found again (a new worker); a presenter may hand back the port it gave before.
    virtual void SocketGone(const std::string& /*location*/) {}
    // Watch: the socket at location stopped for a reason of the whole bench (its last error row):
    // every other socket ends after the chip it has in hand, and no programmer is looked for again.
    virtual void BenchStopping(const std::string& /*location*/, const std::string& /*reason*/) {}
    // Rounds: a round starts on these sockets, and ends with every socket's result.
    virtual void RoundStarted(int /*round*/, const std::vector<std::string>& /*locations*/) {}
    virtual void RoundFinished(int /*round*/, const std::vector<BenchSocketResult>& /*results*/) {}
    // A socket's worker has ended (before its round's end).
    virtual void SocketFinished(const BenchSocketResult&) {}
    // About every 100 ms while the engine waits: time to redraw.
    virtual void Idle() {}
    // The bench's questions (Question::WriteMore after a round); false for No.
    virtual bool Ask(Question) { return false; }
};

struct BenchOutcome {
    int sockets = 0; // programmers found; 0: nothing was run
    int rounds = 0;  // rounds run
    int aborts = 0;  // abort requests seen (the first aborts the workers, the second ends them)
    std::vector<BenchSocketResult> results; // every socket of every round, in order; watch: each worker
    // Watch: "LOCATION: REASON" when a socket stopped the bench (BenchStopping), empty otherwise.
    std::string stopReason;
};

class CBenchEngine {
public:
    CBenchEngine(BenchJob job, IBenchPresenter& presenter);
    // Runs the policy to its end. abortFd (non-blocking, -1 for none) becomes readable on each abort
    // request, and is drained here: the first request aborts every worker (SIGINT: the burn's
    // abort, PowerOff last), a second ends them as a second Ctrl+C ends one program.
    BenchOutcome Run(int abortFd);

private:
    BenchOutcome RunWatch(int abortFd);

    BenchJob m_job;
    IBenchPresenter& m_presenter;
};

// The worker's side: its job, as the engine wrote it on fd (the worker's standard input), read to
// its end. False with the reason in error for input that is no bench job of this version.
struct BenchWorkerJob {
    std::string location; // the socket's programmer, "BUS/DEVICE"
    int wireFd = -1;      // where the worker's wire goes
    // Watch: the socket held a chip that was burned (or refused) when its last worker ended: the
    // new worker waits for its removal before it burns anything.
    bool awaitRemoval = false;
    std::vector<std::pair<std::string, std::string>> data;
    // The values of key, in order.
    std::vector<std::string> Values(const std::string& key) const;
};
bool ReadBenchWorkerJob(int fd, BenchWorkerJob& job, std::string& error);

// The worker's keep-alive: writes the wire's keep-alive line through send every second until it is
// destroyed, so that a long quiet step (a wait for a lock) is not taken for a worker that hangs.
class CWireKeepAlive {
public:
    explicit CWireKeepAlive(std::function<void()> send);
    ~CWireKeepAlive();
    CWireKeepAlive(const CWireKeepAlive&) = delete;
    CWireKeepAlive& operator=(const CWireKeepAlive&) = delete;

private:
    struct State;
    State* m_state;
};
