// The job file of the core, as the bench window uses it: what SaveJob writes LoadJob gives back,
// a job TOML cannot hold is not written, and paths are kept relative to the job's folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

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

} // namespace
