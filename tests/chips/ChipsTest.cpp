#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "chips/ChipCatalogue.h"
#include "res/Ids.h"
#include "tests/support/WithoutPrivileges.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/veltro-chips-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(m_path); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(ChipCatalogue, RecordsKeepTheirInvariants) {
    const char* names[] = {"AT89S2051", "AT89S4051", "AT89S51", "AT89S52", "AT89S8253"};
    ASSERT_EQ(g_chipCatalogue.size(), 5u);
    for (int i = 0; i < CHIP_COUNT; ++i) {
        const ChipInfo& chip = g_chipCatalogue[static_cast<size_t>(i)];
        EXPECT_STREQ(chip.name, names[i]);
        EXPECT_EQ(chip.flashSize % 16, 0) << chip.name;
        EXPECT_EQ(chip.flashSize % 8, 0) << chip.name;
        EXPECT_LE(chip.flashSize, 12288) << chip.name;
        EXPECT_EQ(FindChipByName(chip.name), i);
    }
    EXPECT_EQ(g_chipCatalogue[4].flashSize, 12288);
    EXPECT_EQ(g_chipCatalogue[4].eepromSize, 2048);
    EXPECT_EQ(ID_CHIP_FIRST, 36865);
    EXPECT_EQ(ID_CHIP_LAST, 36869);
    EXPECT_EQ(FindChipByName("at89s52"), 3);
    EXPECT_EQ(FindChipByName("AT89S5"), -1);
    EXPECT_EQ(FindChipByName(""), -1);
}

TEST(ChipCatalogue, NamesChipsBySignatureOnly) {
    struct Case {
        uint8_t sig[3];
        const char* name;
    } cases[] = {
        {{0x1E, 0x52, 0x06}, "Atmel AT89S52"}, {{0x1E, 0x51, 0x06}, "Atmel AT89S51"},
        {{0x1E, 0x73, 0x00}, "Unknown Chip"},  {{0x1E, 0x23, 0xFF}, "Unknown Chip"},
        {{0xFF, 0xFF, 0xFF}, "Unknown Chip"},  {{0x1E, 0x52, 0x07}, "Unknown Chip"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChipNameFromSignature(c.sig), c.name);
}

TEST(SelectedChip, StoredValueIsRestoredOrFallsBackToTheFirstChip) {
    struct Case {
        const char* fileText; // nullptr: no file at all
        int expected;
    } cases[] = {
        {nullptr, 0},
        {"[State]\nSelectedChip=3\n", 3},
        {"[State]\r\nSelectedChip=4\r\n", 4},
        {"[State]\nSelectedChip=7\n", 0},
        {"[State]\nSelectedChip=-1\n", 0},
        {"[State]\nSelectedChip=two\n", 0},
        {"[State]\nSelectedChip=\n", 0},
        {"[Other]\nSelectedChip=3\n", 0},
        {"[State]\nSelectedChip=99999999999999999999\n", 0},
        {"garbage without sections\n\x01\x02", 0},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.Path() + "/Veltro 51.conf";
        if (c.fileText)
            std::ofstream(path) << c.fileText;
        CIniSettingsStore store(path);
        g_selectedChip = 2;
        LoadSelectedChip(store);
        EXPECT_EQ(g_selectedChip, c.expected) << (c.fileText ? c.fileText : "(no file)");
    }
}

TEST(SelectedChip, SurvivesARestartAndKeepsTheRestOfTheFile) {
    TempDir dir;
    const std::string path = dir.Path() + "/Mardane/Veltro 51.conf"; // folder does not exist yet
    {
        CIniSettingsStore store(path);
        g_selectedChip = 4;
        ASSERT_TRUE(SaveSelectedChip(store));
    }
    {
        CIniSettingsStore store(path);
        g_selectedChip = 0;
        LoadSelectedChip(store);
        EXPECT_EQ(g_selectedChip, 4);
    }
    // Other sections and keys, the toolkit's recent files say, stay as they were.
    std::ofstream(path)
        << "; kept\n[Recent File List]\nFile1=/tmp/a.hex\n\n[State]\nSelectedChip=1\nOther=5\n";
    CIniSettingsStore store(path);
    g_selectedChip = 3;
    ASSERT_TRUE(SaveSelectedChip(store));
    EXPECT_EQ(ReadFile(path),
              "; kept\n[Recent File List]\nFile1=/tmp/a.hex\n\n[State]\nSelectedChip=3\nOther=5\n");
    int other = 0;
    EXPECT_TRUE(store.ReadInt("State", "Other", other));
    EXPECT_EQ(other, 5);
}

// The bench window keeps its last job's path as text: any path a line can hold comes back as it was,
// one it cannot hold is refused and leaves the file as it was.
TEST(SettingsStore, ATextComesBackAsItWasOrIsRefused) {
    TempDir dir;
    const std::string path = dir.Path() + "/veltro51/bench.conf";
    CIniSettingsStore store(path);
    for (const std::string& value : {std::string("/srv/line 3/job=a.toml"), std::string("ü;#[x]")}) {
        ASSERT_TRUE(store.WriteText("Bench", "Job", value)) << value;
        std::string back;
        ASSERT_TRUE(CIniSettingsStore(path).ReadText("Bench", "Job", back));
        EXPECT_EQ(back, value);
    }
    const std::string before = ReadFile(path);
    for (const std::string& value :
         {std::string("/a\nJob=/b"), std::string(" /lead"), std::string("/a\0b", 4)})
        EXPECT_FALSE(store.WriteText("Bench", "Job", value));
    EXPECT_EQ(ReadFile(path), before);
}

TEST(SelectedChip, FailedWriteLeavesNoTemporaryBehind) {
    TempDir dir;
    const std::string blocker = dir.Path() + "/Mardane";
    std::ofstream(blocker) << "a file where the folder should be";
    CIniSettingsStore store(blocker + "/Veltro 51.conf");
    g_selectedChip = 1;
    EXPECT_FALSE(SaveSelectedChip(store));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(SettingsStore, DefaultPathFollowsXdgConfigHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/cfg", 1);
    EXPECT_EQ(CIniSettingsStore::DefaultPath(), "/somewhere/cfg/Mardane/Veltro 51.conf");
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", std::getenv("HOME") ? std::getenv("HOME") : "/root", 1);
    EXPECT_EQ(CIniSettingsStore::DefaultPath(),
              std::string(std::getenv("HOME")) + "/.config/Mardane/Veltro 51.conf");
    if (oldXdg)
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
}

namespace {

// Runs body on a thread of its own; one still running after 20 s is a hang, and the process ends
// (a thread blocked in open cannot be cancelled, and a test that waits for ever tells nothing).
void WithinDeadline(const std::string& what, const std::function<void()>& body) {
    std::packaged_task<void()> task(body);
    std::future<void> done = task.get_future();
    std::thread worker(std::move(task));
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        std::fprintf(stderr, "%s: still running after 20 s\n", what.c_str());
        std::abort();
    }
    worker.join();
}

struct Snapshot {
    mode_t mode = 0;
    std::string text;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Look(const std::string& path) {
    Snapshot snapshot;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0)
        snapshot.mode = st.st_mode;
    if (S_ISREG(st.st_mode)) {
        chmod(path.c_str(), st.st_mode | S_IRUSR);
        snapshot.text = ReadFile(path);
        chmod(path.c_str(), st.st_mode & 07777);
    } else if (S_ISLNK(st.st_mode)) {
        std::error_code ignored;
        snapshot.text = fs::read_symlink(path, ignored).string();
    }
    return snapshot;
}

const std::string kOtherLines = "; kept\n[Recent File List]\nFile1=/tmp/a.hex\n\n[State]\nSelectedChip=3\n";

} // namespace

// A settings file that is there but is no settings file these programs can read reads as missing,
// at once, and is never replaced: its lines would be lost, or whatever it is would become a file.
TEST(SettingsStore, AFileItCannotReadReadsAsMissingWithoutBlockingAndIsNeverReplaced) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;
        bool unprivileged; // root reads any file: its capabilities are dropped for the case
    };
    const Case cases[] = {
        {"without read permission",
         [](const std::string& path) {
             std::ofstream(path) << kOtherLines;
             chmod(path.c_str(), 0200);
         },
         true},
        {"a FIFO", [](const std::string& path) { mkfifo(path.c_str(), 0600); }, false},
        {"a link to /dev/zero", [](const std::string& path) { fs::create_symlink("/dev/zero", path); },
         false},
        {"a folder", [](const std::string& path) { fs::create_directory(path); }, false},
        {"larger than 64 KiB",
         [](const std::string& path) {
             std::ofstream out(path);
             out << kOtherLines;
             for (int i = 0; i < 2000; ++i)
                 out << "; a line of padding, far more than any settings file holds\n";
         },
         false},
        {"a loop of links", [](const std::string& path) { fs::create_symlink(path, path); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.Path() + "/Veltro 51.conf";
        c.make(path);
        const Snapshot before = Look(path);
        bool read = true, written = true;
        int value = -1;
        WithinDeadline(c.name, [&] {
            auto attempt = [&] {
                CIniSettingsStore store(path);
                read = store.ReadInt("State", "SelectedChip", value);
                written = store.WriteInt("State", "SelectedChip", 4);
                written = CIniSettingsStore(path).WriteInt("State", "SelectedChip", 4) || written;
            };
            if (c.unprivileged)
                WithoutPrivileges(attempt);
            else
                attempt();
        });
        EXPECT_FALSE(read);
        EXPECT_EQ(value, -1);
        EXPECT_FALSE(written);
        EXPECT_TRUE(Look(path) == before);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
            << "no temporary left";
    }
}

TEST(SettingsStore, AStoreThatMetAnUnreadableFileWritesNothingEvenOnceItIsReadable) {
    TempDir dir;
    const std::string path = dir.Path() + "/Veltro 51.conf";
    std::ofstream(path) << kOtherLines;
    chmod(path.c_str(), 0200);
    CIniSettingsStore store(path);
    WithoutPrivileges([&] {
        int value = 0;
        EXPECT_FALSE(store.ReadInt("State", "SelectedChip", value));
    });
    chmod(path.c_str(), 0600);
    // The chip read at start was the default, not the user's: storing it would replace the user's.
    EXPECT_FALSE(store.WriteInt("State", "SelectedChip", 0));
    EXPECT_EQ(ReadFile(path), kOtherLines);
    // A store that read it writes as ever.
    CIniSettingsStore later(path);
    EXPECT_TRUE(later.WriteInt("State", "SelectedChip", 1));
    EXPECT_EQ(ReadFile(path), "; kept\n[Recent File List]\nFile1=/tmp/a.hex\n\n[State]\nSelectedChip=1\n");
}

TEST(SettingsStore, WritesThroughALinkAndNeverThroughALinkPlantedForItsTemporary) {
    TempDir dir;
    const std::string path = dir.Path() + "/Veltro 51.conf";
    fs::create_directory(dir.Path() + "/dotfiles");
    const std::string real = dir.Path() + "/dotfiles/veltro.conf";
    std::ofstream(real) << kOtherLines;
    chmod(real.c_str(), 0640);
    fs::create_symlink("dotfiles/veltro.conf", path);
    // The name the store once used for its temporary, planted by someone else to reach a victim.
    const std::string victim = dir.Path() + "/victim";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, path + ".tmp" + std::to_string(getpid()));

    CIniSettingsStore store(path);
    ASSERT_TRUE(store.WriteInt("State", "SelectedChip", 2));
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(ReadFile(real), "; kept\n[Recent File List]\nFile1=/tmp/a.hex\n\n[State]\nSelectedChip=2\n");
    struct stat st {};
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path() + "/dotfiles"), fs::directory_iterator()), 1);
}
