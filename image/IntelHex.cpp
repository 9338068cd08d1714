#include "image/IntelHex.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "image/FileIo.h"

namespace {

constexpr size_t LINE_PIECE = 298;     // longest piece of a line read at once
constexpr size_t LINE_MAX_VALID = 266; // 2n + 11 with n at most 127
constexpr size_t LINE_MIN_VALID = 9;
constexpr const char* EOF_RECORD = ":00000001FF";

// Gives the file back as lines the way the reader sees them: a line feed ends a line and is
// consumed, a carriage return directly before a line feed is dropped, and a line longer than
// LINE_PIECE comes in pieces. A read that meets the end of the file marks the end, and a read
// at the very end yields an empty line.
class CHexLineReader {
public:
    explicit CHexLineReader(int fd) : m_fd(fd), m_source(m_data.data()) {}
    // The same over text in memory (standard input, read before).
    explicit CHexLineReader(std::string_view text)
        : m_fd(-1), m_source(text.data()), m_textLeft(text.size()) {}

    // False on a read error.
    bool ReadLine(std::string& line) {
        line.clear();
        while (line.size() < LINE_PIECE) {
            int c = Next();
            if (c == '\r' && Peek() == '\n')
                c = Next();
            if (c == READ_ERROR)
                return false;
            if (c == END) {
                m_atEnd = true;
                break;
            }
            if (c == '\n')
                break;
            line.push_back(static_cast<char>(c));
        }
        return true;
    }
    bool AtEnd() const { return m_atEnd; }

private:
    static constexpr int END = -1;
    static constexpr int READ_ERROR = -2;

    int Peek() {
        if (m_pos == m_count && !Fill())
            return m_failed ? READ_ERROR : END;
        return static_cast<unsigned char>(m_source[m_pos]);
    }
    int Next() {
        const int c = Peek();
        if (c >= 0)
            ++m_pos;
        return c;
    }
    bool Fill() {
        if (m_fd < 0) {
            m_pos = 0;
            m_count = m_textLeft;
            m_textLeft = 0;
            return m_count > 0;
        }
        const long got = ReadFully(m_fd, m_data.data(), m_data.size());
        m_failed = got < 0;
        m_pos = 0;
        m_count = got > 0 ? static_cast<size_t>(got) : 0;
        return m_count > 0;
    }

    int m_fd;
    std::array<char, 16384> m_data{};
    const char* m_source; // m_data, or the text
    size_t m_textLeft = 0;
    size_t m_pos = 0;
    size_t m_count = 0;
    bool m_atEnd = false;
    bool m_failed = false;
};

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

void AppendByte(std::string& out, unsigned value) {
    out.push_back(HEX_DIGITS[(value >> 4) & 0xF]);
    out.push_back(HEX_DIGITS[value & 0xF]);
}

} // namespace

int HexFieldValue(std::string_view text) {
    if (text.size() > 5)
        return 0;
    int value = 0;
    int place = 1;
    for (auto it = text.rbegin(); it != text.rend(); ++it, place *= 16) {
        char c = *it;
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c >= '0' && c <= '9')
            value += (c - '0') * place;
        else if (c >= 'A' && c <= 'F')
            value += (c - 'A' + 10) * place;
    }
    return value;
}

namespace {

FileResult ReadRecords(CHexLineReader& reader, FirmwareBuffer& buffer) {
    // The bound never reaches past the image, whatever m_imageSize says.
    const int bound = std::clamp(buffer.m_imageSize, 0, IMAGE_CAPACITY);
    std::string line;
    line.reserve(LINE_PIECE);
    for (;;) {
        // A read error ends the file as abnormally as a missing end record does.
        if (reader.AtEnd())
            return FileResult::Failure(MSG_HEX_ABNORMAL_END);
        if (!reader.ReadLine(line))
            return FileResult::Failure(MSG_HEX_ABNORMAL_END, errno);
        const size_t length = line.size();
        if (length > LINE_MAX_VALID || length < LINE_MIN_VALID || line[0] != ':')
            return FileResult::Failure(MSG_HEX_INVALID_LINE);
        const std::string_view text(line);
        const int count = HexFieldValue(text.substr(1, 2));
        if (length != static_cast<size_t>(2 * count + 11))
            return FileResult::Failure(MSG_HEX_INVALID_LINE);
        const int address = HexFieldValue(text.substr(3, 4));
        const int type = HexFieldValue(text.substr(7, 2));
        if (type == 1)
            return FileResult::Success();
        if (type != 0)
            return FileResult::Failure(MSG_HEX_INVALID_TYPE);
        if (address + count > bound)
            return FileResult::Failure(MSG_HEX_TOO_LARGE);
        for (int i = 0; i < count; ++i)
            buffer.m_image[static_cast<size_t>(address + i)] =
                static_cast<uint8_t>(HexFieldValue(text.substr(static_cast<size_t>(9 + 2 * i), 2)));
    }
}

} // namespace

FileResult ReadIntelHex(const std::string& path, FirmwareBuffer& buffer) {
    CFileDescriptor file(OpenForReading(path, false));
    if (!file.IsOpen())
        return FileResult::Failure(MSG_HEX_CANNOT_OPEN, errno);
    CHexLineReader reader(file.Get());
    return ReadRecords(reader, buffer);
}

FileResult ReadIntelHexText(std::string_view text, FirmwareBuffer& buffer) {
    CHexLineReader reader(text);
    return ReadRecords(reader, buffer);
}

bool IsBlankRow(const uint8_t* row) {
    return std::all_of(row, row + 16, [](uint8_t b) { return b == 0xFF; });
}

std::string HexDataRecord(uint16_t address, const uint8_t* row) {
    std::string line;
    line.reserve(43);
    line += ":10";
    AppendByte(line, address >> 8);
    AppendByte(line, address & 0xFF);
    line += "00";
    unsigned sum = 0x10 + (address >> 8) + (address & 0xFF);
    for (int i = 0; i < 16; ++i) {
        AppendByte(line, row[i]);
        sum += row[i];
    }
    AppendByte(line, (0x100 - (sum & 0xFF)) & 0xFF);
    return line;
}

bool WriteIntelHex(const std::string& path, const FirmwareBuffer& buffer) {
    return ReplaceFileContents(path, IntelHexText(buffer));
}

std::string IntelHexText(const FirmwareBuffer& buffer) {
    const int bound = std::clamp(buffer.m_imageSize, 0, IMAGE_CAPACITY);
    std::string text;
    text.reserve(static_cast<size_t>(bound / 16) * 45 + 13);
    for (int address = 0; address < bound; address += 16) {
        const uint8_t* row = buffer.m_image.data() + address;
        if (IsBlankRow(row))
            continue;
        text += HexDataRecord(static_cast<uint16_t>(address), row);
        text += "\r\n";
    }
    text += EOF_RECORD;
    text += "\r\n";
    return text;
}
