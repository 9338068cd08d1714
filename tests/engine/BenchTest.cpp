// The bench engine against scripted workers: every socket's events reach its own port, a worker's
// job arrives as the engine was given it, and a worker that crashes, garbles or cuts short its wire
// or stops answering fails its socket with a reason while the others are verified.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "ops/engine/Bench.h"

namespace {

class CSocketLog : public IOperationPort {
public:
    void Row(RowKind, const std::string& text) override { rows.push_back(text); }
    void CycleEnded(const CycleReport& report) override { cycles.push_back(report); }
    void Ended(Result ending) override { endings.push_back(ending); }
    std::vector<std::string> rows;
    std::vector<CycleReport> cycles;
    std::vector<Result> endings;
};

class CRecordingPresenter : public IBenchPresenter {
public:
    IOperationPort& SocketFound(const std::string& location) override {
        found.push_back(location);
        return sockets[location];
    }
    void RoundFinished(int round, const std::vector<BenchSocketResult>& results) override {
        rounds.push_back(round);
        last = results;
    }
    void SocketFinished(const BenchSocketResult& result) override { finished.push_back(result.location); }
    bool Ask(Question question) override { return question == Question::WriteMore && moreRounds-- > 0; }

    std::map<std::string, CSocketLog> sockets;
    std::vector<std::string> found, finished;
    std::vector<int> rounds;
    std::vector<BenchSocketResult> last;
    int moreRounds = 0;
};

BenchJob FakeJob(const std::vector<std::string>& locations, const std::vector<std::string>& acts) {
    BenchJob job;
    job.program = VELTRO_FAKE_WORKER;
    job.list = [locations] { return locations; };
    for (const std::string& act : acts)
        job.data.emplace_back("act", act);
    job.silenceMs = 700;
    job.graceMs = 300;
    return job;
}

const BenchSocketResult& ResultOf(const std::vector<BenchSocketResult>& results,
                                  const std::string& location) {
    for (const BenchSocketResult& result : results)
        if (result.location == location)
            return result;
    static const BenchSocketResult none;
    ADD_FAILURE() << "no result for " << location;
    return none;
}

TEST(BenchTest, AFaultyWorkerFailsItsSocketWithAReasonAndTheOthersGoOn) {
    const std::vector<std::string> locations = {"001/001", "002/001", "003/001", "004/001",
                                                "005/001", "006/001", "007/001"};
    CRecordingPresenter presenter;
    CBenchEngine engine(FakeJob(locations, {"002/001=crash", "003/001=garble", "004/001=truncate",
                                            "005/001=silent", "007/001=wrong-version"}),
                        presenter);
    const BenchOutcome outcome = engine.Run(-1);
    EXPECT_EQ(outcome.sockets, 7);
    EXPECT_EQ(outcome.rounds, 1);
    EXPECT_EQ(presenter.found, locations);
    EXPECT_EQ(presenter.finished.size(), locations.size());
    ASSERT_EQ(presenter.last.size(), locations.size());

    const struct {
        const char* location;
        const char* reason;
    } faults[] = {
        {"002/001", "signal 11"},           {"003/001", "garbled wire line"},
        {"004/001", "truncated wire line"}, {"005/001", "stopped answering"},
        {"007/001", "wire version 99"},
    };
    for (const auto& fault : faults) {
        const BenchSocketResult& result = ResultOf(presenter.last, fault.location);
        EXPECT_NE(result.failure.find(fault.reason), std::string::npos)
            << fault.location << ": " << result.failure;
        EXPECT_FALSE(result.cycleEnded) << fault.location; // a fault, even from a worker that exits 0
    }
    for (const char* good : {"001/001", "006/001"}) {
        const BenchSocketResult& result = ResultOf(presenter.last, good);
        EXPECT_EQ(result.failure, "") << good;
        EXPECT_EQ(result.exitStatus, 0) << good;
        ASSERT_TRUE(result.cycleEnded) << good;
        EXPECT_EQ(result.report.outcome, Result::Done);
        EXPECT_EQ(result.report.location, good) << "each socket's report is its own";
        EXPECT_EQ(result.report.serial, 42);
        EXPECT_TRUE(result.ended);
        EXPECT_EQ(result.ending, Result::Done);
        const CSocketLog& log = presenter.sockets[good];
        ASSERT_EQ(log.cycles.size(), 1u) << good;
        EXPECT_EQ(log.cycles[0].location, good);
        EXPECT_EQ(log.endings, std::vector<Result>{Result::Done});
    }
    // The garbled wire's line after the fault was not delivered; its worker ended on the abort.
    EXPECT_EQ(presenter.sockets["003/001"].rows, std::vector<std::string>{"Initializing..."});
    EXPECT_EQ(ResultOf(presenter.last, "003/001").exitStatus, 1);
    // The silent one ignored the abort and was killed.
    EXPECT_EQ(ResultOf(presenter.last, "005/001").exitStatus, 128 + 9);
}

TEST(BenchTest, TheJobReachesEveryWorkerAsItWasGiven) {
    CRecordingPresenter presenter;
    BenchJob job = FakeJob({"001/001", "002/001"}, {"001/001=echo", "002/001=echo"});
    const std::vector<std::string> texts = {"--serial", "0x1FF0,7", "a name with\ta tab\nand a line end",
                                            "back\\slash", ""};
    for (const std::string& text : texts)
        job.data.emplace_back("text", text);
    CBenchEngine engine(job, presenter);
    engine.Run(-1);
    for (const char* location : {"001/001", "002/001"}) {
        std::vector<std::string> expected = {"Initializing..."};
        expected.insert(expected.end(), texts.begin(), texts.end());
        EXPECT_EQ(presenter.sockets[location].rows, expected) << location;
    }
}

TEST(BenchTest, RoundsGoOnWhileTheBenchSaysYesAndAnAbortReachesEveryWorker) {
    CRecordingPresenter presenter;
    presenter.moreRounds = 2;
    BenchJob job = FakeJob({"001/001", "002/001"}, {});
    job.more = true;
    EXPECT_EQ(CBenchEngine(job, presenter).Run(-1).rounds, 3);
    EXPECT_EQ(presenter.rounds, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(presenter.sockets["001/001"].cycles.size(), 3u) << "one port per socket, every round";

    // An abort request once every worker waits: each gets the burn's abort, and no round follows.
    int abortPipe[2];
    ASSERT_EQ(pipe2(abortPipe, O_CLOEXEC | O_NONBLOCK), 0);
    struct CAbortingPresenter : CRecordingPresenter {
        void Idle() override {
            if (!sent && sockets["001/001"].rows.size() == 1 && sockets["002/001"].rows.size() == 1)
                sent = write(fd, "a", 1) == 1;
        }
        int fd = -1;
        bool sent = false;
    } aborted;
    aborted.fd = abortPipe[1];
    aborted.moreRounds = 5;
    BenchJob waiting = FakeJob({"001/001", "002/001"}, {"001/001=await-abort", "002/001=await-abort"});
    waiting.more = true;
    waiting.silenceMs = 20000;
    const BenchOutcome outcome = CBenchEngine(waiting, aborted).Run(abortPipe[0]);
    close(abortPipe[0]);
    close(abortPipe[1]);
    EXPECT_EQ(outcome.aborts, 1);
    EXPECT_EQ(outcome.rounds, 1);
    for (const BenchSocketResult& result : aborted.last) {
        ASSERT_TRUE(result.cycleEnded) << result.location;
        EXPECT_EQ(result.report.outcome, Result::Aborted) << result.location;
        EXPECT_EQ(result.failure, "") << result.location;
    }

    // No programmer: nothing runs.
    CRecordingPresenter none;
    EXPECT_EQ(CBenchEngine(FakeJob({}, {}), none).Run(-1).sockets, 0);
    EXPECT_TRUE(none.found.empty());
}

} // namespace
