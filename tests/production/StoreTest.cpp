// The serial series and the production record in PostgreSQL, against a real throw-away server: no
// number twice across stations that are killed or lose their server, no chip erased without a
// number, and a clear reason for every failure, through the store and through veltro51-cli.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include <sys/stat.h>

#include "ops/store/PgStore.h"
#include "sim/SimApi.h"
#include "tests/production/PgServer.h"
#include "tests/production/ProductionTestSupport.h"

namespace {

const std::string kCli = VELTRO_CLI;
const std::string kSim = VELTRO_SIM_PROGRAM;

// The least rights of a station, as the manual page gives them.
const char* kGrants = "GRANT CONNECT ON DATABASE veltro TO station;"
                      "GRANT USAGE ON SCHEMA veltro51 TO station;"
                      "GRANT SELECT ON veltro51.schema_version TO station;"
                      "GRANT SELECT, INSERT, UPDATE ON veltro51.series TO station;"
                      "GRANT INSERT ON veltro51.serials TO station;"
                      "GRANT INSERT ON veltro51.chips TO station;"
                      "GRANT USAGE ON SEQUENCE veltro51.chips_id_seq TO station;";

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_server.Ready())
            GTEST_SKIP() << m_server.Missing();
        // The cluster comes with the databases veltro and other_version, and the role station.
        // The schema by its owner (store init), the station with its grants only.
        std::string error;
        ASSERT_TRUE(InitPgSchema(m_server.Url("veltro", "veltro_admin"), error)) << error;
        ASSERT_EQ(m_server.Sql(kGrants, "veltro"), "");
        // The password from libpq's password file, never from the command line.
        m_passFile = m_dir / "pgpass";
        WriteWholeFile(m_passFile, "*:*:*:station:station-secret\n");
        ::chmod(m_passFile.c_str(), 0600);
        ::setenv("PGPASSFILE", m_passFile.c_str(), 1);
        ::unsetenv("PGPASSWORD");
    }

    std::string Station(const std::string& extra = "") const {
        return m_server.Url("veltro", "station", extra);
    }

    // Every number given, from the table of given numbers.
    std::vector<uint64_t> Given(const std::string& series = "default") const {
        std::vector<uint64_t> numbers;
        std::istringstream rows(m_server.Sql(
            "SELECT serial FROM veltro51.serials WHERE series = '" + series + "' ORDER BY serial", "veltro"));
        for (std::string row; std::getline(rows, row);)
            numbers.push_back(std::stoull(row));
        return numbers;
    }

    CPgServer m_server;
    CProductionDir m_dir;
    std::string m_passFile;
};

SerialSpec Spec(uint64_t start = 1) {
    SerialSpec spec;
    spec.address = 0x1FF0;
    spec.start = start;
    spec.format = SerialFormat::LittleEndian;
    spec.width = 4;
    return spec;
}

// A station: takes numbers one after another, and reports each only once Take returned it (the
// moment its chip would be erased): "n <number>\n", or "e <reason>\n" for one not taken.
ChildProcess StartStation(const std::string& url, int pauseUs) {
    return StartChild([url, pauseUs](int fd) {
        CPgSerialStore store(url);
        for (;;) {
            uint64_t number = 0;
            std::string error;
            const bool taken = store.Take(Spec(1000), number, error, nullptr);
            const std::string line = taken ? "n " + std::to_string(number) + "\n" : "e " + error + "\n";
            if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                ::_exit(4);
            // After a failure, as a station would with its next chip: a while later.
            ::usleep(static_cast<useconds_t>(taken ? pauseUs : 50000));
        }
    });
}

struct StationReports {
    std::vector<uint64_t> numbers;
    std::vector<std::string> errors;
};

void Parse(const std::string& data, StationReports& into) {
    std::istringstream lines(data);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("n ", 0) == 0)
            into.numbers.push_back(std::stoull(line.substr(2)));
        else if (line.rfind("e ", 0) == 0)
            into.errors.push_back(line.substr(2));
    }
}

// Each number reported once at most, and each one a committed, given number.
void ExpectNoRepeats(const StationReports& reports, const std::vector<uint64_t>& given) {
    std::set<uint64_t> seen;
    for (uint64_t number : reports.numbers)
        EXPECT_TRUE(seen.insert(number).second) << "number " << number << " given twice";
    const std::set<uint64_t> committed(given.begin(), given.end());
    EXPECT_EQ(committed.size(), given.size());
    for (uint64_t number : seen)
        EXPECT_TRUE(committed.count(number)) << number << " was used without a committed number";
}

// Eight stations, SIGKILLed at random moments and started again, share one series.
TEST_F(StoreTest, EightStationsKilledAtRandomNeverShareANumber) {
    std::mt19937 random(51);
    std::vector<ChildProcess> stations;
    for (int i = 0; i < 8; ++i)
        stations.push_back(StartStation(Station(), 200));
    StationReports reports;
    int kills = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 60));
        ChildProcess& victim = stations[random() % stations.size()];
        ::kill(victim.pid, SIGKILL);
        Parse(CollectChild(victim), reports);
        ++kills;
        victim = StartStation(Station(), 200);
    }
    for (ChildProcess& station : stations) {
        ::kill(station.pid, SIGKILL);
        Parse(CollectChild(station), reports);
    }
    EXPECT_GT(kills, 20);
    EXPECT_GT(reports.numbers.size(), 20u) << "the stations took numbers";
    EXPECT_TRUE(reports.errors.empty()) << reports.errors.front();
    ExpectNoRepeats(reports, Given());
    // The series stands past every number given: a gap at most.
    const std::vector<uint64_t> given = Given();
    EXPECT_EQ(std::stoull(m_server.Sql("SELECT next FROM veltro51.series WHERE name = 'default'", "veltro")),
              given.back() + 1);
}

// The server goes away mid-run (as in a crash) and comes back: numbers taken while it was gone fail
// with a reason, the stations go on after it, and no number comes twice.
TEST_F(StoreTest, TheServerStoppedAndStartedMidRunLeavesGapsNeverRepeats) {
    std::vector<ChildProcess> stations;
    for (int i = 0; i < 4; ++i)
        stations.push_back(StartStation(Station("&connect_timeout=2"), 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(m_server.Stop("immediate"));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(m_server.Start());
    // Back: a number is taken again (the store connects anew), and the stations go on past it.
    CPgSerialStore again(Station("&connect_timeout=2"));
    uint64_t after = 0;
    std::string error;
    bool taken = false;
    for (int i = 0; i < 100 && !taken; ++i) {
        taken = again.Take(Spec(1000), after, error, nullptr);
        if (!taken)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(taken) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    StationReports reports;
    reports.numbers.push_back(after);
    for (ChildProcess& station : stations) {
        ::kill(station.pid, SIGKILL);
        Parse(CollectChild(station), reports);
    }
    ASSERT_FALSE(reports.errors.empty()) << "the stations saw the server go";
    for (const std::string& error : reports.errors)
        EXPECT_TRUE(error.find("cannot connect to") == 0 || error.find("not taken") == 0) << error;
    EXPECT_TRUE(std::none_of(reports.errors.begin(), reports.errors.end(), [](const std::string& e) {
        return e.find("station-secret") != std::string::npos;
    }));
    ExpectNoRepeats(reports, Given());
    EXPECT_GT(*std::max_element(reports.numbers.begin(), reports.numbers.end()), after)
        << "the stations took numbers again after the restart";
}

// Several series share one database, each counting on its own; a series set back is refused.
TEST_F(StoreTest, NamedSeriesCountApartAndASeriesSetBackIsRefused) {
    CPgSerialStore boards(Station("&series=boards"));
    CPgSerialStore keys(Station("&series=keys"));
    uint64_t number = 0;
    std::string error;
    ASSERT_TRUE(boards.Take(Spec(10), number, error, nullptr)) << error;
    EXPECT_EQ(number, 10u);
    ASSERT_TRUE(keys.Take(Spec(500), number, error, nullptr)) << error;
    EXPECT_EQ(number, 500u);
    ASSERT_TRUE(boards.Take(Spec(10), number, error, nullptr)) << error;
    EXPECT_EQ(number, 11u);

    ASSERT_EQ(m_server.Sql("UPDATE veltro51.series SET next = 10 WHERE name = 'boards'", "veltro"), "");
    EXPECT_FALSE(boards.Take(Spec(10), number, error, nullptr));
    EXPECT_NE(error.find("a number given before"), std::string::npos) << error;
    EXPECT_EQ(Given("boards"), (std::vector<uint64_t>{10, 11}));

    // The all-0xFF number of the field is never given.
    ASSERT_EQ(m_server.Sql("UPDATE veltro51.series SET next = 4294967295 WHERE name = 'keys'", "veltro"), "");
    EXPECT_FALSE(keys.Take(Spec(500), number, error, nullptr));
    EXPECT_NE(error.find("used up"), std::string::npos) << error;
}

struct CliRun {
    int status = -1;
    std::string out; // standard output and error together
};

// veltro51-cli under the simulator with the tree given.
CliRun RunCli(const std::string& tree, const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::unsetenv("LD_PRELOAD");
        ::unsetenv("USB_DEVFS_PATH");
        std::vector<std::string> argv = {kSim, "--tree", tree, "--chip", "AT89S52", "--", kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> raw;
        for (const std::string& arg : argv)
            raw.push_back(const_cast<char*>(arg.c_str()));
        raw.push_back(nullptr);
        ::execv(raw[0], raw.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    CliRun run;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        run.out.append(buffer, static_cast<size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

long Erases(const std::string& tree) {
    long erases = 0;
    for (const sim::TranscriptEntry& e : sim::CSimBus(tree).VendorTranscript())
        erases += e.request == 10;
    return erases;
}

// A burn with its number from the series and its record in the table beside the JSON log: the two
// records agree, and the chip holds the number.
TEST_F(StoreTest, ABurnTakesItsNumberFromTheSeriesAndRecordsTheChipInBoth) {
    const std::string firmware = m_dir / "fw.bin";
    WriteWholeFile(firmware, std::string(64, '\x5A'));
    const std::string tree = m_dir / "tree";
    const CliRun run =
        RunCli(tree, {"burn", firmware, "--serial", "0x1FF0,7000,1,le4", "--serial-store",
                      Station("&series=line"), "--log", Station(), "--log", m_dir / "log.jsonl"});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Serial Number : 7000"), std::string::npos) << run.out;
    const std::vector<uint8_t> flash = sim::CSimBus(tree).State(0).flash;
    EXPECT_EQ(flash[0x1FF0] | flash[0x1FF1] << 8, 7000);
    const std::string log = ReadWholeFile(m_dir / "log.jsonl");
    const size_t crc = log.find("\"file_crc32\":\"");
    ASSERT_NE(crc, std::string::npos) << log;
    EXPECT_EQ(m_server.Sql("SELECT serial, series, outcome, chip, signature, file_crc32, failure IS NULL "
                           "FROM veltro51.chips",
                           "veltro"),
              "7000|line|verified|AT89S52|1E 52 06|" + log.substr(crc + 14, 8) + "|t");
    EXPECT_NE(ReadWholeFile(m_dir / "log.jsonl").find("\"serial\":7000"), std::string::npos);
    EXPECT_EQ(run.out.find("station-secret"), std::string::npos);
}

// Each way the database can fail before the number: the chip is not erased, no number is taken, the
// reason is told and the password is not.
TEST_F(StoreTest, NoNumberNoErase) {
    std::string error;
    ASSERT_TRUE(InitPgSchema(m_server.Url("other_version", "veltro_admin"), error)) << error;
    ASSERT_EQ(m_server.Sql("UPDATE veltro51.schema_version SET version = 2", "other_version"), "");
    ASSERT_EQ(m_server.Sql("GRANT CONNECT ON DATABASE other_version TO station; "
                           "GRANT USAGE ON SCHEMA veltro51 TO station; "
                           "GRANT SELECT ON veltro51.schema_version TO station",
                           "other_version"),
              "");
    const std::string wrongPass = m_dir / "wrong-pgpass";
    WriteWholeFile(wrongPass, "*:*:*:station:not-the-password\n");
    ::chmod(wrongPass.c_str(), 0600);
    const struct {
        const char* what;
        std::string url;
        std::string passFile;
        std::string says;
    } cases[] = {
        {"connection refused", "postgresql:///veltro?host=" + (m_dir / "nothing") + "&user=station",
         m_passFile, "cannot connect to postgresql:///veltro?host=" + (m_dir / "nothing")},
        {"wrong password", Station(), wrongPass, "password authentication failed for user \"station\""},
        {"schema of another version", m_server.Url("other_version", "station"), m_passFile,
         "holds the schema veltro51 of version 2; this program uses version 1"},
        {"a password in the connection string",
         "postgresql://station:station-secret@/veltro?host=" + m_server.Socket(), m_passFile,
         "postgresql://station:****@/veltro"},
    };
    const std::string firmware = m_dir / "fw.bin";
    WriteWholeFile(firmware, std::string(64, '\x5A'));
    for (const auto& c : cases) {
        ::setenv("PGPASSFILE", c.passFile.c_str(), 1);
        const std::string tree = m_dir / "tree";
        std::filesystem::remove_all(tree);
        const CliRun run = RunCli(tree, {"burn", firmware, "--serial", "0x1FF0", "--serial-store", c.url});
        EXPECT_EQ(run.status, 1) << c.what << ": " << run.out;
        EXPECT_NE(run.out.find(c.says), std::string::npos) << c.what << ": " << run.out;
        EXPECT_EQ(run.out.find("station-secret"), std::string::npos) << c.what << ": " << run.out;
        EXPECT_EQ(Erases(tree), 0) << c.what << ": erased without a number";
        // Told before the target was powered.
        EXPECT_EQ(run.out.find("Powering On"), std::string::npos) << c.what << ": " << run.out;
    }
    ::setenv("PGPASSFILE", m_passFile.c_str(), 1);
    EXPECT_TRUE(Given().empty());
}

// A record that cannot be inserted is told as a log line that cannot be written: the chip stays
// verified, the exit status says the record is missing.
TEST_F(StoreTest, AFailedInsertKeepsTheChipAndFailsTheStatus) {
    ASSERT_EQ(m_server.Sql("REVOKE INSERT ON veltro51.chips FROM station", "veltro"), "");
    const std::string firmware = m_dir / "fw.bin";
    WriteWholeFile(firmware, std::string(64, '\x5A'));
    const std::string tree = m_dir / "tree";
    const CliRun run = RunCli(tree, {"burn", firmware, "--log", Station()});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.out.find("Data Verification Success"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Production Log Not Written : cannot record the chip in " + Station()),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("permission denied"), std::string::npos) << run.out;
}

} // namespace
