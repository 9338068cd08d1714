// Bad files and places through the file commands, as the desktop program and the command-line tool
// reach them: each gives its message, reads no more than it must, leaves the image and the remembered
// file as the commands promise and leaves every file on the disk as it was. (Missing files, wrong
// kinds, too large binaries, FIFOs and most failing saves are in tests/image.)
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ImageFixtures.h"
#include "tests/support/WithoutPrivileges.h"
#include "image/BinaryFile.h"
#include "ops/FileCommands.h"
#include "image/IntelHex.h"

namespace {

const std::string HEX_FILE = ":03000000020030CB\r\n:00000001FF\r\n"; // 02 00 30 at address 0
const std::string BIN_FILE("\x12\x00\x34\xFF\x56", 5);
const std::string EARLIER = "/earlier/firmware.hex"; // what an earlier Open remembered

std::string Error(const char* text) {
    return std::string("error: ") + text;
}
std::string Info(const char* text) {
    return std::string("info: ") + text;
}
const std::string UNTITLED_TITLE = std::string("untitled: ") + UNTITLED;

// Bytes 0.. of the image are prefix, every later byte 0xFF.
testing::AssertionResult ImageIs(const FirmwareBuffer& buffer, const std::string& prefix) {
    for (size_t i = 0; i < buffer.m_image.size(); ++i) {
        const uint8_t want = i < prefix.size() ? static_cast<uint8_t>(prefix[i]) : 0xFF;
        if (buffer.m_image[i] != want)
            return testing::AssertionFailure() << "byte " << i << " is " << int(buffer.m_image[i]);
    }
    return testing::AssertionSuccess();
}

// A buffer as an earlier Open left it: a 4096-byte chip, a file remembered, the image not blank.
FirmwareBuffer EarlierBuffer() {
    FirmwareBuffer buffer;
    buffer.m_imageSize = 4096;
    buffer.m_image.fill(0x55);
    buffer.m_sourcePath = EARLIER;
    buffer.m_sourceKind = SOURCE_HEX;
    return buffer;
}

// Bytes this process has read through read() and its kin so far (/proc/self/io, rchar).
long long BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = -1;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    ADD_FAILURE() << "no rchar in /proc/self/io";
    return -1;
}

// Removes parentFd/name and everything below it without ever forming a full path, which may be
// longer than the system allows.
void RemoveTreeAt(int parentFd, const std::string& name) {
    const int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        unlinkat(parentFd, name.c_str(), 0);
        return;
    }
    DIR* dir = fdopendir(fd);
    std::vector<std::string> names;
    while (const dirent* e = readdir(dir))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
            names.push_back(e->d_name);
    for (const auto& n : names)
        RemoveTreeAt(dirfd(dir), n);
    closedir(dir);
    unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
}

// Folders nested under base until the path reaches minLength bytes, made through descriptors so
// that the path may exceed PATH_MAX. Removed again on destruction.
class CDeepFolder {
public:
    CDeepFolder(const std::string& base, size_t minLength) : m_path(base) {
        m_baseFd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int fd = dup(m_baseFd);
        while (m_path.size() < minLength) {
            const std::string name(std::min<size_t>(200, minLength - m_path.size()), 'd');
            mkdirat(fd, name.c_str(), 0755);
            const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            close(fd);
            fd = next;
            m_path += "/" + name;
            if (m_top.empty())
                m_top = name;
        }
        m_fd = fd;
    }
    ~CDeepFolder() {
        close(m_fd);
        RemoveTreeAt(m_baseFd, m_top);
        close(m_baseFd);
    }
    CDeepFolder(const CDeepFolder&) = delete;
    CDeepFolder& operator=(const CDeepFolder&) = delete;

    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    void Put(const std::string& name, const std::string& content) const {
        const int fd = openat(m_fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
    }
    std::string Get(const std::string& name) const {
        const int fd = openat(m_fd, name.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return "<missing>";
        std::string content;
        char chunk[4096];
        ssize_t got;
        while ((got = read(fd, chunk, sizeof chunk)) > 0)
            content.append(chunk, static_cast<size_t>(got));
        close(fd);
        return content;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        DIR* dir = fdopendir(dup(m_fd));
        rewinddir(dir);
        while (const dirent* e = readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
    std::string m_top;
    int m_baseFd = -1;
    int m_fd = -1;
};

void MakeSparse(const std::string& path, off_t size) {
    WriteFile(path, "");
    ASSERT_EQ(truncate(path.c_str(), size), 0);
}

} // namespace

TEST(BadFiles, OpenSaysWhyReadsNoMoreThanItMustAndForgetsTheFile) {
    const off_t GiB = off_t(1) << 30;
    std::string garbage; // what a program file or a picture looks like to the reader
    for (int i = 0; i < 3000; ++i)
        garbage.push_back(static_cast<char>((i * 97 + 0x7F) & 0xFF));
    garbage.replace(0, 4,
                    "\x7F"
                    "ELF");
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;
        bool unprivileged; // run as a user that meets the permission bits, even under root
        std::vector<std::string> messages;
    };
    const std::string cannotOpenHex = Error(MSG_HEX_CANNOT_OPEN), cannotLoadBin = Error(MSG_BIN_CANNOT_LOAD);
    const auto folder = [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0755), 0); };
    const auto unreadable = [](const std::string& p) {
        WriteFile(p, HEX_FILE);
        ASSERT_EQ(chmod(p.c_str(), 0200), 0);
    };
    const Case cases[] = {
        {"a folder.hex", folder, false, {cannotOpenHex}},
        {"a folder.bin", folder, false, {cannotLoadBin}},
        {"unreadable.hex", unreadable, true, {cannotOpenHex}},
        {"unreadable.bin", unreadable, true, {cannotLoadBin}},
        {"huge.bin",
         [&](const std::string& p) { MakeSparse(p, GiB); },
         false,
         {Error(MSG_FILE_TOO_LARGE), cannotLoadBin}},
        {"huge.hex", [&](const std::string& p) { MakeSparse(p, GiB); }, false, {Error(MSG_HEX_INVALID_LINE)}},
        {"garbage.hex",
         [&](const std::string& p) { WriteFile(p, garbage); },
         false,
         {Error(MSG_HEX_INVALID_LINE)}},
        {"garbage with colon.ihx",
         [&](const std::string& p) { WriteFile(p, ":" + garbage); },
         false,
         {Error(MSG_HEX_INVALID_LINE)}},
        {"empty.hex", [](const std::string& p) { WriteFile(p, ""); }, false, {Error(MSG_HEX_INVALID_LINE)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir dir;
        const std::string path = dir / c.name;
        c.make(path);
        const auto before = dir.List();
        struct stat was {};
        ASSERT_EQ(stat(path.c_str(), &was), 0);

        FirmwareBuffer buffer = EarlierBuffer();
        CRecorder recorder;
        const long long readBefore = BytesReadSoFar();
        bool loaded = true;
        if (c.unprivileged)
            WithoutPrivileges([&] {
                // The case is only worth something when the bits really stop this thread.
                ASSERT_EQ(open(path.c_str(), O_RDONLY), -1);
                ASSERT_EQ(errno, EACCES);
                loaded = OpenFirmwareFile(path, buffer, recorder).ok;
            });
        else
            loaded = OpenFirmwareFile(path, buffer, recorder).ok;
        const long long bytesRead = BytesReadSoFar() - readBefore;

        EXPECT_FALSE(loaded);
        auto events = c.messages;
        events.push_back(UNTITLED_TITLE);
        EXPECT_EQ(recorder.m_events, events);
        EXPECT_TRUE(ImageIs(buffer, ""));
        EXPECT_EQ(buffer.m_sourcePath, SOURCE_NONE);
        // At most the reader's one buffer of 16 KiB and /proc/self/io itself: nothing near the gigabyte.
        EXPECT_LT(bytesRead, 64 * 1024);
        struct stat is {};
        ASSERT_EQ(stat(path.c_str(), &is), 0);
        EXPECT_EQ(is.st_size, was.st_size);
        EXPECT_EQ(is.st_mtim.tv_sec, was.st_mtim.tv_sec);
        EXPECT_EQ(is.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
        EXPECT_EQ(dir.List(), before);
    }
}

TEST(BadFiles, ReloadOfAFileThatWentBadSaysSoAndKeepsRememberingIt) {
    const off_t GiB = off_t(1) << 30;
    struct Case {
        const char* name;
        std::string content; // when opened
        std::function<void(const std::string& path)> spoil;
        bool unprivileged;
        std::vector<std::string> messages; // before "Cannot Reload Files. ..."
    };
    const auto toFolder = [](const std::string& p) {
        ASSERT_EQ(unlink(p.c_str()), 0);
        ASSERT_EQ(mkdir(p.c_str(), 0755), 0);
    };
    const auto unreadable = [](const std::string& p) { ASSERT_EQ(chmod(p.c_str(), 0200), 0); };
    const auto huge = [&](const std::string& p) { // a gigabyte of zeros in place of the file
        ASSERT_EQ(truncate(p.c_str(), 0), 0);
        ASSERT_EQ(truncate(p.c_str(), GiB), 0);
    };
    const auto emptied = [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 0), 0); };
    const Case cases[] = {
        {"now a folder.hex", HEX_FILE, toFolder, false, {Error(MSG_HEX_CANNOT_OPEN)}},
        {"now a folder.bin", BIN_FILE, toFolder, false, {}},
        {"now unreadable.hex", HEX_FILE, unreadable, true, {Error(MSG_HEX_CANNOT_OPEN)}},
        {"now unreadable.bin", BIN_FILE, unreadable, true, {}},
        {"now huge.hex", HEX_FILE, huge, false, {Error(MSG_HEX_INVALID_LINE)}},
        {"now huge.bin", BIN_FILE, huge, false, {Error(MSG_FILE_TOO_LARGE)}},
        {"now empty.hex", HEX_FILE, emptied, false, {Error(MSG_HEX_INVALID_LINE)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir dir;
        const std::string path = dir / c.name;
        WriteFile(path, c.content);
        FirmwareBuffer buffer = EarlierBuffer();
        CRecorder opened;
        ASSERT_TRUE(OpenFirmwareFile(path, buffer, opened));
        const int32_t kind = buffer.m_sourceKind;
        c.spoil(path);

        CRecorder recorder;
        const long long readBefore = BytesReadSoFar();
        bool reloaded = true;
        if (c.unprivileged)
            WithoutPrivileges([&] { reloaded = ReloadFirmwareFile(buffer, recorder).ok; });
        else
            reloaded = ReloadFirmwareFile(buffer, recorder).ok;
        EXPECT_LT(BytesReadSoFar() - readBefore, 64 * 1024);

        EXPECT_FALSE(reloaded);
        auto events = c.messages;
        events.push_back(Error(MSG_RELOAD_FAILED));
        EXPECT_EQ(recorder.m_events, events);
        EXPECT_EQ(buffer.m_sourcePath, path); // so that Reload can be tried again once it is mended
        EXPECT_EQ(buffer.m_sourceKind, kind);
    }
}

TEST(BadFiles, NamesWithBlanksAndBytesThatAreNoUtf8OpenReloadAndSave) {
    CTempDir dir;
    const std::string folder = dir / "my files \xC3\x28 \xFF";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string names[] = {" lead and trail .hex", "latin-1 \xE9t\xE9.HEX",
                                 "broken \xF0\x28\x8C\x28.bin", "tab\tand\nnewline.ihx"};
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        const std::string path = folder + "/" + name;
        const bool binary = FileKindFromPath(path) == FileKind::Binary;
        WriteFile(path, binary ? BIN_FILE : HEX_FILE);
        FirmwareBuffer buffer = EarlierBuffer();
        CRecorder recorder;
        ASSERT_TRUE(OpenFirmwareFile(path, buffer, recorder));
        EXPECT_EQ(recorder.m_events, (std::vector<std::string>{Info(binary ? MSG_BIN_LOADED : MSG_HEX_LOADED),
                                                               "opened: " + name}));
        EXPECT_EQ(buffer.m_sourcePath, path);
        EXPECT_TRUE(ReloadFirmwareFile(buffer, recorder));
        const std::string image = binary ? BIN_FILE : std::string("\x02\x00\x30", 3);
        EXPECT_TRUE(ImageIs(buffer, image));

        // Saved under a name of the same kind, it reads back the same.
        const std::string saved = folder + "/saved " + name + ".hex";
        ASSERT_TRUE(SaveFirmwareFile(saved, buffer, recorder));
        FirmwareBuffer again = EarlierBuffer();
        ASSERT_TRUE(OpenFirmwareFile(saved, again, recorder));
        EXPECT_TRUE(ImageIs(again, image));
    }
}

TEST(BadFiles, PathsWorkUpToTheSystemsLimitAndFailPlainlyBeyondIt) {
    CTempDir dir;
    // Longer than any fixed path field of 2048 bytes, within PATH_MAX: everything works.
    {
        CDeepFolder deep(dir.Path(), 3900);
        deep.Put("firmware.hex", HEX_FILE);
        FirmwareBuffer buffer = EarlierBuffer();
        CRecorder recorder;
        ASSERT_TRUE(OpenFirmwareFile(deep / "firmware.hex", buffer, recorder));
        EXPECT_EQ(buffer.m_sourcePath, deep / "firmware.hex"); // whole, not cut
        EXPECT_TRUE(ReloadFirmwareFile(buffer, recorder));
        EXPECT_TRUE(SaveFirmwareFile(deep / "copy.hex", buffer, recorder));
        EXPECT_EQ(deep.Get("copy.hex"), ":10000000020030FFFFFFFFFFFFFFFFFFFFFFFFFFCB\r\n:00000001FF\r\n");
        EXPECT_EQ(recorder.m_events,
                  (std::vector<std::string>{Info(MSG_HEX_LOADED), "opened: firmware.hex", "reloaded"}));
    }
    // Beyond PATH_MAX (4096 bytes): the files exist, but no command may reach them by such a path;
    // each says so plainly and nothing on the disk changes.
    CDeepFolder deep(dir.Path(), 4200);
    deep.Put("firmware.hex", HEX_FILE);
    deep.Put("firmware.bin", BIN_FILE);
    deep.Put("old.hex", "old");
    const auto before = deep.Names();
    const struct {
        const char* name;
        std::vector<std::string> events;
    } opens[] = {
        {"firmware.hex", {Error(MSG_HEX_CANNOT_OPEN), UNTITLED_TITLE}},
        {"firmware.bin", {Error(MSG_BIN_CANNOT_LOAD), UNTITLED_TITLE}},
    };
    for (const auto& c : opens) {
        SCOPED_TRACE(c.name);
        FirmwareBuffer buffer = EarlierBuffer();
        CRecorder recorder;
        EXPECT_FALSE(OpenFirmwareFile(deep / c.name, buffer, recorder));
        EXPECT_EQ(recorder.m_events, c.events);
        EXPECT_EQ(buffer.m_sourcePath, SOURCE_NONE);
    }
    // A file remembered by a path that long cannot be reloaded either.
    FirmwareBuffer buffer = EarlierBuffer();
    buffer.m_sourcePath = deep / "firmware.hex";
    CRecorder recorder;
    EXPECT_FALSE(ReloadFirmwareFile(buffer, recorder));
    EXPECT_FALSE(SaveFirmwareFile(deep / "old.hex", buffer, recorder));
    EXPECT_EQ(recorder.m_events,
              (std::vector<std::string>{Error(MSG_HEX_CANNOT_OPEN), Error(MSG_RELOAD_FAILED),
                                        Error(MSG_CANNOT_WRITE)}));
    EXPECT_EQ(deep.Names(), before);
    EXPECT_EQ(deep.Get("old.hex"), "old");
}

TEST(BadFiles, SaveIntoAReadOnlyFolderKeepsTheEarlierFileEvenForRoot) {
    CTempDir dir;
    const std::string folder = dir / "read-only";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteFile(folder + "/old.hex", "old");
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    FirmwareBuffer buffer = EarlierBuffer();
    CRecorder recorder;
    WithoutPrivileges([&] {
        ASSERT_EQ(open((folder + "/probe").c_str(), O_WRONLY | O_CREAT, 0644), -1);
        ASSERT_EQ(errno, EACCES);
        EXPECT_FALSE(SaveFirmwareFile(folder + "/old.hex", buffer, recorder));
        EXPECT_FALSE(SaveFirmwareFile(folder + "/new.hex", buffer, recorder));
    });
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(recorder.m_events,
              (std::vector<std::string>{Error(MSG_CANNOT_WRITE), Error(MSG_CANNOT_WRITE)}));
    EXPECT_EQ(ReadFile(folder + "/old.hex"), "old");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"read-only", "read-only/old.hex"}));
}
