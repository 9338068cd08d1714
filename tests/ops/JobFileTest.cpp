// The job file of the core, as the bench window uses it: what SaveJob writes LoadJob gives back,
// a job TOML cannot hold is not written, paths are kept relative to the job's folder, a bench's
// workers get the job as a burn's command line, and the firmware loads only with the job's hash.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "image/Checksum.h"
#include "ops/Job.h"

namespace fs = std::filesystem;

namespace {

class JobFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltro-jobfile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { fs::remove_all(m_folder); }
    std::string m_folder;
};

Job EveryKey() {
    Job job;
    job.firmware = "fw/it's \"blink\" \\ v2.hex"; // quotes and a backslash must survive
    job.sha256 = std::string(32, 'a') + std::string(32, '0');
    job.chip = "AT89S8253";
    job.lock = 3;
    job.serial = "0x7FF0,100,2,dec6";
    job.serialStore = "/srv/line 3/serial.txt";
    job.log = "production.log";
    job.sockets = {"001/002", "003/001"};
    job.mode = JobMode::Watch;
    return job;
}

TEST_F(JobFileTest, WhatIsSavedLoadsBackAsTheSameJob) {
    Job all = EveryKey();
    Job least;
    least.firmware = "a.bin";
    least.sha256 = all.sha256;
    Job every = all;
    every.sockets.clear();
    every.allSockets = true;
    for (const Job& job : {all, least, every}) {
        const std::string path = m_folder + "/job.toml";
        const JobSaved saved = SaveJob(job, path);
        ASSERT_TRUE(saved.ok) << saved.message;
        const JobLoad load = LoadJob(path);
        ASSERT_TRUE(load.ok) << load.message << "\n" << JobText(job);
        EXPECT_EQ(load.job, job) << JobText(job);
    }
}

TEST_F(JobFileTest, AJobThatCannotBeWrittenAsItIsIsNotWritten) {
    const std::string path = m_folder + "/job.toml";
    Job notUtf8 = EveryKey();
    notUtf8.firmware = "fw\xFF.hex"; // a file name may hold any byte, a TOML string may not
    Job badLock = EveryKey();
    badLock.lock = 7;
    Job noHash = EveryKey();
    noHash.sha256.clear();
    Job nul = EveryKey();
    nul.serialStore = std::string("serial.txt\0.old", 15); // TOML can hold it, a path cannot
    for (const Job& job : {notUtf8, badLock, noHash, nul}) {
        const JobSaved saved = SaveJob(job, path);
        EXPECT_FALSE(saved.ok);
        EXPECT_EQ(saved.message.rfind(path, 0), 0u) << saved.message;
        EXPECT_FALSE(fs::exists(path));
    }
}

TEST_F(JobFileTest, PathsAreKeptRelativeToTheJobsFolder) {
    const std::string job = m_folder + "/line/job.toml";
    struct Case {
        std::string given, kept;
    };
    for (const Case& c : std::vector<Case>{{m_folder + "/line/fw.hex", "fw.hex"},
                                           {m_folder + "/line/sub/../builds/fw.hex", "builds/fw.hex"},
                                           {m_folder + "/other/fw.hex", m_folder + "/other/fw.hex"},
                                           {"/fw.hex", "/fw.hex"}}) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(PathForJob(job, c.given), c.kept);
        EXPECT_EQ(fs::path(ResolveJobPath(job, c.kept)).lexically_normal(),
                  fs::path(c.given).lexically_normal());
    }
    EXPECT_EQ(ResolveJobPath("job.toml", "fw.hex"), "fw.hex");
}

TEST_F(JobFileTest, AWorkerGetsTheJobAsABurnsCommandLine) {
    const std::string path = m_folder + "/line/job.toml";
    const std::string folder = m_folder + "/line/";
    Job every = EveryKey();
    every.log = "postgresql:///veltro?series=a"; // a database's URL stays as it stands
    Job least;
    least.firmware = "/abs/a.bin";
    least.sha256 = every.sha256;
    least.mode = JobMode::Watch; // the sockets are the bench's, never the burn's
    least.allSockets = true;
    struct Case {
        Job job;
        std::vector<std::string> args;
    };
    for (const Case& c : std::vector<Case>{
             {every,
              {"--chip", "AT89S8253", "burn", folder + every.firmware, "--sha256", every.sha256, "--lock",
               "3", "--serial", "0x7FF0,100,2,dec6", "--serial-store", "/srv/line 3/serial.txt", "--log",
               "postgresql:///veltro?series=a", "--all", "--watch"}},
             {least, {"burn", "/abs/a.bin", "--sha256", every.sha256, "--all", "--watch"}}}) {
        SCOPED_TRACE(JobText(c.job));
        EXPECT_EQ(JobBurnArguments(c.job, path), c.args);
    }
    Job relativeLog = least;
    relativeLog.mode = JobMode::Rounds;
    relativeLog.log = "logs/chips.json";
    EXPECT_EQ(JobBurnArguments(relativeLog, path).back(), folder + "logs/chips.json");
}

TEST_F(JobFileTest, TheFirmwareLoadsOnlyWithTheJobsHashAndGivesItsChecksums) {
    const std::string bytes = "\x02\x00\x03\x80\xfe";
    std::ofstream(m_folder + "/fw.bin", std::ios::binary) << bytes;
    Job job;
    job.firmware = "fw.bin";
    job.sha256 = Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    job.chip = "AT89S2051";
    const std::string path = m_folder + "/job.toml";

    const JobFirmware loaded = LoadJobFirmware(job, path);
    ASSERT_TRUE(loaded.ok) << loaded.message;
    const int32_t size = g_chipCatalogue[static_cast<size_t>(FindChipByName("AT89S2051"))].flashSize;
    std::string image(static_cast<size_t>(size), '\xff'); // the chip's flash: the rest stays erased
    image.replace(0, bytes.size(), bytes);
    EXPECT_EQ(loaded.size, size);
    EXPECT_EQ(loaded.crc32, Crc32(reinterpret_cast<const uint8_t*>(image.data()), image.size()));
    EXPECT_EQ(loaded.path, m_folder + "/fw.bin");

    Job other = job;
    other.sha256 = std::string(64, '0');
    const JobFirmware refused = LoadJobFirmware(other, path);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("Firmware Refused : SHA-256 of " + m_folder + "/fw.bin is " + job.sha256),
              std::string::npos)
        << refused.message;

    Job missing = job;
    missing.firmware = "none.bin";
    const JobFirmware absent = LoadJobFirmware(missing, path);
    EXPECT_FALSE(absent.ok);
    EXPECT_NE(absent.message.find("none.bin"), std::string::npos) << absent.message;
}

} // namespace
