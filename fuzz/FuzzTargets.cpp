#include "FuzzTargets.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "image/BinaryFile.h"
#include "ops/FileCommands.h"
#include "image/IntelHex.h"

namespace {

// The flash sizes of the chip catalogue: the only image bounds there are.
constexpr std::array<int32_t, 4> BOUNDS = {2048, 4096, 8192, 12288};

int32_t BoundFrom(uint8_t selector) {
    return BOUNDS[selector % BOUNDS.size()];
}

// A folder of this process for the files under test; removed at exit. Never destroyed itself, so
// that the exit handler can still name it.
const std::string& ScratchDir() {
    static const std::string* s_dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "veltro-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchDir(), ignored);
        });
        return new std::string(pattern);
    }();
    return *s_dir;
}

// Makes path a regular file holding exactly content (whatever was there before: file or folder).
void PutFile(const std::string& path, std::string_view content) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        std::abort();
    while (!content.empty()) {
        const ssize_t put = ::write(fd, content.data(), content.size());
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            std::abort();
        content.remove_prefix(static_cast<size_t>(put));
    }
    ::close(fd);
}

struct Event {
    std::string text;
    int icon; // MsgIcon, or -1 for the document's change
};

// Messages in the order they came, then what the command did to the document.
class CEventLog : public IOperationPort {
public:
    void Message(const std::string& text, MsgIcon icon) override {
        m_events.push_back({text, static_cast<int>(icon)});
    }
    const FileCommandResult& Document(const FileCommandResult& result) {
        static const char* const NAMES[] = {nullptr, "cleared", "untitled", "opened", "reloaded"};
        if (const char* name = NAMES[static_cast<int>(result.document)])
            m_events.push_back({result.title.empty() ? name : std::string(name) + " " + result.title, -1});
        return result;
    }

    std::string Describe() const {
        std::string all;
        for (const auto& e : m_events)
            all += "[" + e.text + "]";
        return all;
    }
    std::vector<Event> m_events;
};

const std::set<std::string_view> READER_MESSAGES = {
    MSG_HEX_CANNOT_OPEN, MSG_HEX_ABNORMAL_END, MSG_HEX_INVALID_LINE, MSG_HEX_INVALID_TYPE, MSG_HEX_TOO_LARGE};

bool IsError(const Event& e, std::string_view text) {
    return e.icon == static_cast<int>(MsgIcon::Error) && e.text == text;
}
bool IsReaderError(const Event& e) {
    return e.icon == static_cast<int>(MsgIcon::Error) && READER_MESSAGES.count(e.text) == 1;
}
bool IsView(const Event& e, std::string_view text) {
    return e.icon == -1 && e.text == text;
}

// A pattern that no file is likely to write, so that untouched bytes can be told apart, and the
// blank image; compared with memcmp, since every execution checks all 64 KiB.
using Image = std::array<uint8_t, IMAGE_CAPACITY>;
const Image& PatternImage() {
    static const Image s_pattern = [] {
        Image image{};
        for (size_t k = 0; k < image.size(); ++k)
            image[k] = static_cast<uint8_t>(k * 151 + 89);
        return image;
    }();
    return s_pattern;
}
const Image& BlankImage() {
    static const Image s_blank = [] {
        Image image{};
        image.fill(0xFF);
        return image;
    }();
    return s_blank;
}

void FillPattern(FirmwareBuffer& buffer) {
    buffer.m_image = PatternImage();
}

// Bytes from..end of the image equal those of reference.
bool SameFrom(const FirmwareBuffer& buffer, const Image& reference, size_t from) {
    return from >= buffer.m_image.size() || std::memcmp(buffer.m_image.data() + from, reference.data() + from,
                                                        buffer.m_image.size() - from) == 0;
}

bool PatternFrom(const FirmwareBuffer& buffer, size_t from) {
    return SameFrom(buffer, PatternImage(), from);
}

// Bytes from..end are 0xFF: what a HEX file loads into a cleared image stays below the bound.
bool BlankFrom(const FirmwareBuffer& buffer, size_t from) {
    return SameFrom(buffer, BlankImage(), from);
}

// The image is content from address 0 and 0xFF everywhere after it.
bool ImageIsFile(const FirmwareBuffer& buffer, std::string_view content) {
    return content.size() <= buffer.m_image.size() &&
           (content.empty() || std::memcmp(buffer.m_image.data(), content.data(), content.size()) == 0) &&
           BlankFrom(buffer, content.size());
}

bool ImageBlank(const FirmwareBuffer& buffer) {
    return BlankFrom(buffer, 0);
}

} // namespace

std::string FuzzIntelHex(const uint8_t* data, size_t size) {
    if (size < 1)
        return {};
    const std::string path = ScratchDir() + "/input.hex";
    PutFile(path, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
    FirmwareBuffer buffer;
    buffer.m_imageSize = BoundFrom(data[0]);
    FillPattern(buffer);
    CEventLog log;
    const FileResult result = ReadIntelHex(path, buffer);
    if (result.message != nullptr)
        log.Message(result.message, MsgIcon::Error);
    const bool loaded = result.ok;

    if (loaded && !log.m_events.empty())
        return "a message after a load that succeeded: " + log.Describe();
    if (!loaded && (log.m_events.size() != 1 || !IsReaderError(log.m_events[0])))
        return "a failed load without exactly one of the reader's messages: " + log.Describe();
    if (log.m_events.size() == 1 && log.m_events[0].text == MSG_HEX_CANNOT_OPEN)
        return "a readable file reported as not opened";
    if (!PatternFrom(buffer, static_cast<size_t>(buffer.m_imageSize)))
        return "bytes at or above the bound were written";
    return {};
}

std::string FuzzBinary(const uint8_t* data, size_t size) {
    if (size < 1)
        return {};
    const std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string path = ScratchDir() + "/input.bin";
    PutFile(path, content);
    FirmwareBuffer buffer;
    buffer.m_imageSize = BoundFrom(data[0]);
    FillPattern(buffer);
    CEventLog log;
    const FileResult result = LoadBinaryFile(path, buffer);
    if (result.message != nullptr)
        log.Message(result.message, MsgIcon::Error);
    const bool loaded = result.ok;

    const bool fits = content.size() <= static_cast<size_t>(buffer.m_imageSize);
    if (loaded != fits)
        return fits ? "a file within the bound refused" : "a file beyond the bound loaded";
    if (fits && !log.m_events.empty())
        return "a message after a load that succeeded: " + log.Describe();
    if (!fits && (log.m_events.size() != 1 || !IsError(log.m_events[0], MSG_FILE_TOO_LARGE)))
        return "a file too large without exactly \"File Too Large for Selected MCU\": " + log.Describe();
    if (!ImageIsFile(buffer, fits ? content : std::string_view()))
        return "the image is not the file's bytes followed by 0xFF";
    return {};
}

std::string FuzzOpenReload(const uint8_t* data, size_t size) {
    if (size < 4)
        return {};
    static const char* const s_names[] = {"f.hex", "F.HEX", "f.ihx", "f.bin",
                                          "f.Bin", "f.txt", "f",     "f.hex.bin"};
    const std::string name = s_names[data[1] % std::size(s_names)];
    const std::string path = ScratchDir() + "/" + name;
    const std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
    const size_t split = rest.empty() ? 0 : data[3] * rest.size() / 255;
    const std::string_view opened = rest.substr(0, split), reloaded = rest.substr(split);
    enum Change { Rewritten, Unchanged, Deleted, Folder };
    const auto change = static_cast<Change>((data[2] >> 4) % 4);

    // The state an earlier Open left: a remembered file that no longer exists.
    const std::string earlier = ScratchDir() + "/earlier.hex";
    FirmwareBuffer buffer;
    buffer.m_imageSize = BoundFrom(data[0]);
    FillPattern(buffer);
    buffer.m_sourcePath = earlier;
    buffer.m_sourceKind = SOURCE_HEX;
    PutFile(path, opened);

    CEventLog open;
    const bool loaded = open.Document(OpenFirmwareFile(path, buffer, open)).ok;
    const FileKind kind = FileKindFromPath(path);
    const auto& ev = open.m_events;
    const std::string at = " at Open of " + name + ": " + open.Describe();
    if (ev.empty() || ev.back().icon != -1 || IsView(ev.back(), "reloaded"))
        return "Open did not end with what it did to the document" + at;
    if (loaded) {
        const char* message = kind == FileKind::Binary ? MSG_BIN_LOADED : MSG_HEX_LOADED;
        if (ev.size() != 2 || ev[0].text != message || ev[0].icon != static_cast<int>(MsgIcon::Information) ||
            !IsView(ev[1], "opened " + name))
            return "a load without its message and title" + at;
        if (buffer.m_sourcePath != path ||
            buffer.m_sourceKind != (kind == FileKind::Binary ? SOURCE_BIN : SOURCE_HEX))
            return "a loaded file not remembered" + at;
        if (kind == FileKind::Binary ? !ImageIsFile(buffer, opened)
                                     : !BlankFrom(buffer, static_cast<size_t>(buffer.m_imageSize)))
            return "the image does not hold what the file said" + at;
    } else if (kind == FileKind::None) {
        if (ev.size() != 1 || !IsView(ev[0], "cleared") || buffer.m_sourcePath != earlier ||
            buffer.m_sourceKind != SOURCE_HEX)
            return "a file of another kind changed more than the image" + at;
    } else {
        const bool readerSaid = kind == FileKind::IntelHex && ev.size() == 2 && IsReaderError(ev[0]);
        // A binary file that is there fails only by its size.
        const bool binTooLarge = kind == FileKind::Binary && ev.size() == 3 &&
                                 IsError(ev[0], MSG_FILE_TOO_LARGE) && IsError(ev[1], MSG_BIN_CANNOT_LOAD) &&
                                 opened.size() > static_cast<size_t>(BoundFrom(data[0]));
        if (!readerSaid && !binTooLarge)
            return "a failed Open without its messages" + at;
        if (!IsView(ev.back(), std::string("untitled ") + UNTITLED) || buffer.m_sourcePath != SOURCE_NONE)
            return "a failed Open did not forget the file" + at;
    }
    if (!loaded && !ImageBlank(buffer))
        return "the image is not blank after an Open that loaded nothing" + at;
    if (kind == FileKind::IntelHex && ev.size() > 0 && ev[0].text == MSG_HEX_CANNOT_OPEN)
        return "a readable file reported as not opened" + at;
    const auto afterOpen = buffer.m_image;

    // What changed on the disk and in the program before the Reload.
    switch (change) {
    case Rewritten:
        PutFile(path, reloaded);
        break;
    case Unchanged:
        break;
    case Deleted:
        ::unlink(path.c_str());
        break;
    case Folder:
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
        break;
    }
    buffer.m_imageSize = BoundFrom(data[2]);
    const FirmwareBuffer before = buffer;
    CEventLog reload;
    const bool reloadedOk = reload.Document(ReloadFirmwareFile(buffer, reload)).ok;
    const auto& rv = reload.m_events;
    const std::string at2 = " at Reload of " + name + ": " + reload.Describe();
    if (buffer.m_sourcePath != before.m_sourcePath || buffer.m_sourceKind != before.m_sourceKind)
        return "Reload changed the remembered file" + at2;
    if (!before.HasSource()) {
        if (reloadedOk || !rv.empty() || buffer.m_image != before.m_image)
            return "Reload without a remembered file did something" + at2;
        return {};
    }
    // The remembered file is the one opened, or the earlier one, which is gone.
    const bool present = before.m_sourcePath == path && (change == Rewritten || change == Unchanged);
    const std::string_view content = change == Rewritten ? reloaded : opened;
    const bool binary = before.m_sourceKind == SOURCE_BIN;
    const bool fits = content.size() <= static_cast<size_t>(buffer.m_imageSize);
    if (binary && reloadedOk != (present && fits))
        return std::string(reloadedOk ? "a binary Reload loaded what it must refuse"
                                      : "a binary Reload refused") +
               at2;
    if (!present && reloadedOk)
        return "a Reload of a file that is gone succeeded" + at2;
    if (loaded && change == Unchanged && before.m_imageSize == BoundFrom(data[0]) &&
        (!reloadedOk || buffer.m_image != afterOpen))
        return "Reload of the unchanged file under the same chip differs from its Open" + at2;
    if (reloadedOk) {
        if (rv.size() != 1 || !IsView(rv[0], "reloaded"))
            return "a Reload that loaded without its repaint" + at2;
        if (binary ? !ImageIsFile(buffer, content)
                   : !BlankFrom(buffer, static_cast<size_t>(buffer.m_imageSize)))
            return "the image does not hold what the file said" + at2;
        return {};
    }
    if (rv.empty() || !IsError(rv.back(), MSG_RELOAD_FAILED))
        return "a failed Reload without \"Cannot Reload Files. File Not Found or Corrupted\"" + at2;
    const size_t said = rv.size() - 1;
    const bool expected =
        binary ? (said == 0 && (!present || fits)) ||
                     (said == 1 && present && !fits && IsError(rv[0], MSG_FILE_TOO_LARGE))
               : said == 1 && IsReaderError(rv[0]) && (rv[0].text == MSG_HEX_CANNOT_OPEN) == !present;
    if (!expected)
        return "a failed Reload with other messages" + at2;
    return {};
}
