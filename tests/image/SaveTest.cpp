#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "ImageFixtures.h"
#include "image/IntelHex.h"
#include "tests/support/WithoutPrivileges.h"

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

// What a save of buffer writes, as a plain save into a fresh folder writes it.
std::string HexText(const FirmwareBuffer& buffer) {
    CTempDir dir;
    CRecorder messages;
    EXPECT_TRUE(SaveFirmwareFile(dir / "plain.hex", buffer, messages));
    return ReadFile(dir / "plain.hex");
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
        rlim_t sizeLimit; // 0: none
    };
    const Case cases[] = {
        {"folder does not exist", [](const CTempDir& d) { return d / "missing/f.hex"; }, 0},
        {"a folder in place of the file", [](const CTempDir& d) { return d / "sub"; }, 0},
        {"a file in place of the folder", [](const CTempDir& d) { return d / "old.hex/f.hex"; }, 0},
        {"disk full while writing", [](const CTempDir& d) { return d / "old.hex"; }, 1000},
        {"name longer than the system allows",
         [](const CTempDir& d) { return d / std::string(NAME_MAX + 1, 'n'); }, 0},
        {"path longer than PATH_MAX",
         [](const CTempDir& d) {
             std::string p = d.Path();
             while (p.size() <= PATH_MAX)
                 p += "/sub";
             return p + "/f.hex";
         },
         0},
        {"empty path", [](const CTempDir&) { return std::string(); }, 0},
        {"path naming a folder", [](const CTempDir& d) { return d / "sub/"; }, 0},
        // Root too: a folder without write bits is read-only for every user.
        {"read-only folder", [](const CTempDir& d) { return d / "locked/old.hex"; }, 0},
        {"a new file in a read-only folder", [](const CTempDir& d) { return d / "locked/new.hex"; }, 0},
    };
    const FirmwareBuffer buffer = FullImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
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

// The target's kind decides: a link is written through to the file it names where the kernel would
// follow it, and what the user may not write or what is no regular file is refused, left exactly as
// it was.
TEST(SaveCommand, WritesThroughLinksAndRefusesWhatItMayNotReplace) {
    constexpr uid_t NOBODY = 65534;
    // Who saves: this process as it is (root in CI), a user without privileges (root too:
    // capabilities dropped), or each of them in turn.
    enum class As { Itself, Unprivileged, Both };
    struct Case {
        const char* name;
        // Makes the place in the folder; returns the target, or "" when this system cannot make it.
        std::function<std::string(const CTempDir&)> setup;
        bool saves;
        As as;
        std::function<void(const CTempDir&, const std::string& saved)> check;
    };
    // A folder like /tmp (sticky, mode bits given) holding a link to victim.hex beside it, the link
    // and the folder owned as given (only root can give them away: "" otherwise).
    auto plantedLink = [](mode_t folderMode, bool folderOfNobody, bool linkOfNobody) {
        return [=](const CTempDir& d) -> std::string {
            fs::create_directory(d / "shared");
            chmod((d / "shared").c_str(), folderMode);
            WriteFile(d / "victim.hex", OLD);
            chmod((d / "victim.hex").c_str(), 0640);
            fs::create_symlink(d / "victim.hex", d / "shared/out.hex");
            if ((folderOfNobody && chown((d / "shared").c_str(), NOBODY, NOBODY) != 0) ||
                (linkOfNobody && lchown((d / "shared/out.hex").c_str(), NOBODY, NOBODY) != 0))
                return "";
            return d / "shared/out.hex";
        };
    };
    auto isLink = [](const std::string& path, const std::string& to) {
        std::error_code error;
        return fs::is_symlink(fs::symlink_status(path, error)) && fs::read_symlink(path, error) == to;
    };
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0u;
    };
    const Case cases[] = {
        {"a link to a file beside it",
         [](const CTempDir& d) {
             WriteFile(d / "real.hex", OLD);
             chmod((d / "real.hex").c_str(), 0640);
             fs::create_symlink("real.hex", d / "link.hex");
             return d / "link.hex";
         },
         true, As::Itself,
         [&](const CTempDir& d, const std::string& saved) {
             EXPECT_TRUE(isLink(d / "link.hex", "real.hex"));
             EXPECT_EQ(ReadFile(d / "real.hex"), saved);
             EXPECT_EQ(modeOf(d / "real.hex") & 07777, 0640u);
         }},
        // The link's folder is read-only: the temporary goes beside the file the link names.
        {"a relative link out of a read-only folder, through a second link",
         [](const CTempDir& d) {
             fs::create_directories(d / "sub");
             fs::create_directories(d / "ro");
             WriteFile(d / "sub/real.hex", OLD);
             fs::create_symlink("real.hex", d / "sub/second.hex");
             fs::create_symlink("../sub/second.hex", d / "ro/link.hex");
             chmod((d / "ro").c_str(), 0555);
             return d / "ro/link.hex";
         },
         true, As::Unprivileged,
         [&](const CTempDir& d, const std::string& saved) {
             EXPECT_TRUE(isLink(d / "ro/link.hex", "../sub/second.hex"));
             EXPECT_TRUE(isLink(d / "sub/second.hex", "real.hex"));
             EXPECT_EQ(ReadFile(d / "sub/real.hex"), saved);
         }},
        // A dangling link makes no file where it points (anyone who planted it would choose where).
        {"a link to a file not there",
         [](const CTempDir& d) {
             fs::create_symlink(d / "new.hex", d / "link.hex"); // absolute
             return d / "link.hex";
         },
         false, As::Both,
         [&](const CTempDir& d, const std::string&) {
             EXPECT_TRUE(isLink(d / "link.hex", d / "new.hex"));
             EXPECT_FALSE(fs::exists(d / "new.hex"));
         }},
        // In a sticky folder anyone may write (/tmp), only a link of the user or of the folder's
        // owner is followed, as the kernel's fs.protected_symlinks has it: root would otherwise
        // write wherever another user's link points.
        {"another user's link in a sticky folder anyone may write", plantedLink(01777, false, true), false,
         As::Itself,
         [&](const CTempDir& d, const std::string&) {
             EXPECT_TRUE(isLink(d / "shared/out.hex", d / "victim.hex"));
             EXPECT_EQ(ReadFile(d / "victim.hex"), OLD);
         }},
        {"the user's own link in a sticky folder anyone may write", plantedLink(01777, false, false), true,
         As::Itself,
         [&](const CTempDir& d, const std::string& saved) {
             EXPECT_TRUE(isLink(d / "shared/out.hex", d / "victim.hex"));
             EXPECT_EQ(ReadFile(d / "victim.hex"), saved);
             EXPECT_EQ(modeOf(d / "victim.hex") & 07777, 0640u);
         }},
        {"the folder owner's link in a sticky folder anyone may write", plantedLink(01777, true, true), true,
         As::Itself,
         [&](const CTempDir& d, const std::string& saved) { EXPECT_EQ(ReadFile(d / "victim.hex"), saved); }},
        {"another user's link in a sticky folder only its group may write", plantedLink(01775, false, true),
         true, As::Itself,
         [&](const CTempDir& d, const std::string& saved) { EXPECT_EQ(ReadFile(d / "victim.hex"), saved); }},
        // The name given gets the new file; the file's other name keeps the earlier contents, since
        // keeping both would mean writing in place (see ReplaceFileContents).
        {"one name of a file with two",
         [](const CTempDir& d) {
             WriteFile(d / "real.hex", OLD);
             fs::create_hard_link(d / "real.hex", d / "other.hex");
             return d / "real.hex";
         },
         true, As::Itself,
         [&](const CTempDir& d, const std::string& saved) {
             EXPECT_EQ(ReadFile(d / "real.hex"), saved);
             EXPECT_EQ(ReadFile(d / "other.hex"), OLD);
         }},
        {"a loop of links",
         [](const CTempDir& d) {
             fs::create_symlink("b.hex", d / "a.hex");
             fs::create_symlink("a.hex", d / "b.hex");
             return d / "a.hex";
         },
         false, As::Itself,
         [&](const CTempDir& d, const std::string&) {
             EXPECT_TRUE(isLink(d / "a.hex", "b.hex"));
             EXPECT_TRUE(isLink(d / "b.hex", "a.hex"));
         }},
        {"a name that ends in a slash", [](const CTempDir& d) { return std::string(d / "none.hex") + "/"; },
         false, As::Itself, [&](const CTempDir&, const std::string&) {}},
        // Root too: a file without write bits is read-only for every user.
        {"a read-only file",
         [](const CTempDir& d) {
             WriteFile(d / "old.hex", OLD);
             chmod((d / "old.hex").c_str(), 0444);
             return d / "old.hex";
         },
         false, As::Both,
         [&](const CTempDir& d, const std::string&) {
             EXPECT_EQ(ReadFile(d / "old.hex"), OLD);
             EXPECT_EQ(modeOf(d / "old.hex") & 07777, 0444u);
         }},
        // The folder is the user's, so a rename would replace the file all the same.
        {"another user's file in the user's folder",
         [](const CTempDir& d) -> std::string {
             WriteFile(d / "old.hex", OLD);
             chmod((d / "old.hex").c_str(), 0644);
             if (chown((d / "old.hex").c_str(), NOBODY, NOBODY) != 0)
                 return ""; // only root can give a file away
             return d / "old.hex";
         },
         false, As::Unprivileged,
         [&](const CTempDir& d, const std::string&) {
             struct stat st {};
             ASSERT_EQ(stat((d / "old.hex").c_str(), &st), 0);
             EXPECT_EQ(st.st_uid, NOBODY);
             EXPECT_EQ(ReadFile(d / "old.hex"), OLD);
         }},
        {"a FIFO",
         [](const CTempDir& d) {
             mkfifo((d / "pipe.hex").c_str(), 0644);
             return d / "pipe.hex";
         },
         false, As::Itself,
         [&](const CTempDir& d, const std::string&) { EXPECT_TRUE(S_ISFIFO(modeOf(d / "pipe.hex"))); }},
        {"a device node",
         [](const CTempDir& d) -> std::string {
             if (mknod((d / "null.hex").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                 return ""; // needs privileges
             chmod((d / "null.hex").c_str(), 0666);
             return d / "null.hex";
         },
         false, As::Itself,
         [&](const CTempDir& d, const std::string&) {
             EXPECT_TRUE(S_ISCHR(modeOf(d / "null.hex")));
             EXPECT_EQ(modeOf(d / "null.hex") & 07777, 0666u);
         }},
        {"a link to a device",
         [](const CTempDir& d) {
             fs::create_symlink("/dev/null", d / "link.hex");
             return d / "link.hex";
         },
         false, As::Itself,
         [&](const CTempDir& d, const std::string&) {
             EXPECT_TRUE(isLink(d / "link.hex", "/dev/null"));
             EXPECT_TRUE(S_ISCHR(modeOf("/dev/null")));
         }},
    };
    const FirmwareBuffer buffer = FullImage();
    const std::string expected = HexText(buffer);
    const mode_t oldMask = umask(022);
    for (const Case& c : cases)
        for (const bool unprivileged : {false, true}) {
            if (unprivileged ? c.as == As::Itself : c.as == As::Unprivileged)
                continue;
            SCOPED_TRACE(std::string(c.name) + (unprivileged ? ", without privileges" : ""));
            CTempDir dir;
            const std::string target = c.setup(dir);
            if (target.empty())
                continue;
            const auto before = dir.List();
            CRecorder messages;
            FileResult result;
            auto save = [&] { result = SaveFirmwareFile(target, buffer, messages); };
            if (unprivileged)
                WithoutPrivileges(save);
            else
                save();
            EXPECT_EQ(result.ok, c.saves);
            // The command line names the reason after the message.
            if (!c.saves) {
                EXPECT_NE(result.systemError, 0) << "no reason told";
            }
            EXPECT_EQ(messages.m_events,
                      c.saves ? std::vector<std::string>{}
                              : std::vector<std::string>{std::string("error: ") + MSG_CANNOT_WRITE});
            const auto after = dir.List();
            EXPECT_TRUE(after == before || (c.saves && after.size() == before.size() + 1))
                << "no temporary left, at most the file a link named";
            for (const std::string& name : after)
                EXPECT_EQ(name.find(".veltro51-"), std::string::npos) << name;
            c.check(dir, expected);
            chmod((dir / "ro").c_str(), 0755);
        }
    umask(oldMask);
}
