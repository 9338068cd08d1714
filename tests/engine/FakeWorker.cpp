// A scripted bench worker: reads its job as a real worker does and acts as the job's "act" for its
// location says ("LOCATION=ACT"): verify, crash, garble, truncate, silent, await-abort, echo.

#include <csignal>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "ops/engine/Bench.h"
#include "ops/engine/Wire.h"

namespace {

volatile sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) {
    g_interrupted = 1;
}

void Put(int fd, const std::string& line) {
    const std::string all = line + "\n";
    (void)!::write(fd, all.data(), all.size());
}

CycleReport Report(const std::string& location, Result outcome) {
    CycleReport report;
    report.cycle = 1;
    report.outcome = outcome;
    report.signatureRead = true;
    report.signature[0] = 0x1E;
    report.signature[1] = 0x52;
    report.signature[2] = 0x06;
    report.chip = FindChipByName("AT89S52");
    report.product = "Fake";
    report.location = location;
    report.erased = true;
    report.serial = 42;
    if (outcome != Result::Done)
        report.failure = "Aborted By User";
    return report;
}

} // namespace

int main() {
    BenchWorkerJob job;
    std::string error;
    if (!ReadBenchWorkerJob(STDIN_FILENO, job, error))
        return 2;
    std::string act = "verify";
    for (const std::string& value : job.Values("act"))
        if (value.rfind(job.location + "=", 0) == 0)
            act = value.substr(job.location.size() + 1);
    const int fd = job.wireFd;
    std::signal(SIGINT, OnInterrupt);
    if (act == "wrong-version") {
        Put(fd, "W\t99");
        return 0;
    }
    Put(fd, WireHelloLine());
    Put(fd, WireRowLine(RowKind::Information, "Initializing..."));
    if (act == "verify" || act == "echo") {
        if (act == "echo")
            for (const std::string& value : job.Values("text"))
                Put(fd, WireRowLine(RowKind::Information, value));
        Put(fd, WireCycleStartedLine(1));
        Put(fd, WireProgressLine(0, 10));
        Put(fd, WireProgressLine(10, 10));
        Put(fd, WireChipVerifiedLine(1));
        Put(fd, WireReportLine(WireType::CycleEnded, Report(job.location, Result::Done)));
        Put(fd, WireEndedLine(Result::Done));
        return 0;
    }
    if (act == "crash") {
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    }
    if (act == "truncate") {
        const std::string half = "C\t1\tverif";
        (void)!::write(fd, half.data(), half.size());
        return 0;
    }
    if (act == "garble") {
        Put(fd, "Z\tnonsense");
        // A confused worker still ends on the bench's abort.
        while (!g_interrupted)
            ::pause();
        return 1;
    }
    if (act == "silent") {
        std::signal(SIGINT, SIG_IGN);
        for (;;)
            ::pause();
    }
    if (act == "await-abort") {
        while (!g_interrupted)
            ::pause();
        Put(fd, WireRowLine(RowKind::Error, "Aborted By User"));
        Put(fd, WireReportLine(WireType::CycleEnded, Report(job.location, Result::Aborted)));
        Put(fd, WireEndedLine(Result::Aborted));
        return 1;
    }
    return 3;
}
