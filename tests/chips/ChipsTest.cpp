#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "chips/ChipCatalogue.h"
#include "res/Ids.h"

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
