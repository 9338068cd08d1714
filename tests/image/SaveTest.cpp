#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ImageFixtures.h"
#include "image/IntelHex.h"

namespace fs = std::filesystem;

namespace {

const std::string OLD = ":0100000055AA\r\n:00000001FF\r\n";

FirmwareBuffer FullImage() {
    FirmwareBuffer buffer;
    buffer.m_imageSize = 12288;
    for (int i = 0; i < buffer.m_imageSize; ++i)
        buffer.m_image[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 13 + 5);
    return buffer;
}

// Runs body with file sizes limited to limit bytes and SIGXFSZ ignored, so a write past the limit
// fails with EFBIG as on a full disk.
void WithFileSizeLimit(rlim_t limit, const std::function<void()>& body) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = limit;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    body();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

} // namespace

TEST(SaveCommand, ReplacesTheFileAndKeepsItsPermissions) {
    CTempDir dir;
    const FirmwareBuffer buffer = FullImage();
    WriteFile(dir / "old.hex", OLD);
    chmod((dir / "old.hex").c_str(), 0640);
    CRecorder messages;
    ASSERT_TRUE(SaveFirmwareFile(dir / "old.hex", buffer, messages));
    EXPECT_TRUE(messages.m_events.empty());
    const std::string saved = ReadFile(dir / "old.hex");
    EXPECT_EQ(saved.size(), 768u * 45 + 13);
    EXPECT_EQ(saved.substr(0, 45), HexDataRecord(0, buffer.m_image.data()) + "\r\n");
    struct stat st {};
    ASSERT_EQ(stat((dir / "old.hex").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    const mode_t oldMask = umask(027);
    ASSERT_TRUE(SaveFirmwareFile(dir / "new.hex", buffer, messages));
    umask(oldMask);
    ASSERT_EQ(stat((dir / "new.hex").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u); // 0666 less the umask
    EXPECT_EQ(ReadFile(dir / "new.hex"), saved);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"new.hex", "old.hex"}));

    // A relative name saves into the working folder.
    const auto cwd = fs::current_path();
    fs::current_path(dir.Path());
    EXPECT_TRUE(SaveFirmwareFile("here.hex", buffer, messages));
    fs::current_path(cwd);
    EXPECT_EQ(ReadFile(dir / "here.hex"), saved);
}

TEST(SaveCommand, FailureSaysCannotWriteAndLeavesTheEarlierFileAndNoTemporary) {
    struct Case {
        const char* name;
        std::function<std::string(const CTempDir&)> target;
        bool rootBypasses;
        rlim_t sizeLimit; // 0: none
    };
    const Case cases[] = {
        {"folder does not exist", [](const CTempDir& d) { return d / "missing/f.hex"; }, false, 0},
        {"a folder in place of the file", [](const CTempDir& d) { return d / "sub"; }, false, 0},
        {"a file in place of the folder", [](const CTempDir& d) { return d / "old.hex/f.hex"; }, false, 0},
        {"disk full while writing", [](const CTempDir& d) { return d / "old.hex"; }, false, 1000},
        {"name longer than the system allows",
         [](const CTempDir& d) { return d / std::string(NAME_MAX + 1, 'n'); }, false, 0},
        {"path longer than PATH_MAX",
         [](const CTempDir& d) {
             std::string p = d.Path();
             while (p.size() <= PATH_MAX)
                 p += "/sub";
             return p + "/f.hex";
         },
         false, 0},
        {"empty path", [](const CTempDir&) { return std::string(); }, false, 0},
        {"path naming a folder", [](const CTempDir& d) { return d / "sub/"; }, false, 0},
        {"read-only folder", [](const CTempDir& d) { return d / "locked/old.hex"; }, true, 0},
    };
    const FirmwareBuffer buffer = FullImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootBypasses && geteuid() == 0)
            continue;
        CTempDir dir;
        WriteFile(dir / "old.hex", OLD);
        fs::create_directory(dir / "sub");
        WriteFile(dir / "sub/keep", "keep");
        fs::create_directory(dir / "locked");
        WriteFile(dir / "locked/old.hex", OLD);
        chmod((dir / "locked").c_str(), 0555);
        const auto before = dir.List();

        const std::string target = c.target(dir);
        CRecorder messages;
        bool saved = true;
        if (c.sizeLimit)
            WithFileSizeLimit(c.sizeLimit, [&] { saved = SaveFirmwareFile(target, buffer, messages).ok; });
        else
            saved = SaveFirmwareFile(target, buffer, messages).ok;
        chmod((dir / "locked").c_str(), 0755);

        EXPECT_FALSE(saved);
        EXPECT_EQ(messages.m_events, (std::vector<std::string>{std::string("error: ") + MSG_CANNOT_WRITE}));
        EXPECT_EQ(dir.List(), before);
        EXPECT_EQ(ReadFile(dir / "old.hex"), OLD);
        EXPECT_EQ(ReadFile(dir / "locked/old.hex"), OLD);
        EXPECT_EQ(ReadFile(dir / "sub/keep"), "keep");
    }
}
