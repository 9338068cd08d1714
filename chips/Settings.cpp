#include "chips/Settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "image/FileIo.h"

namespace {

// Far above any settings file of these programs; anything larger is no settings file of theirs.
constexpr long MAX_SETTINGS_SIZE = 64 * 1024;

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

// Reads the file's lines. Missing: there is no such file. Unusable: there is something, but not a
// settings file that could be read: unreadable, not a regular file (a FIFO, a device, a folder,
// looked at without opening it, so nothing blocks and no device is woken), or too large.
SettingsFile ReadLines(const std::string& path, std::vector<std::string>& lines) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? SettingsFile::Missing : SettingsFile::Unusable;
    if (!S_ISREG(st.st_mode) || st.st_size > MAX_SETTINGS_SIZE)
        return SettingsFile::Unusable;
    CFileDescriptor file(OpenForReading(path, true));
    if (!file.IsOpen())
        return SettingsFile::Unusable;
    std::string text(MAX_SETTINGS_SIZE + 1, '\0'); // one byte more tells a file that grew since
    const long size = ReadFully(file.Get(), text.data(), text.size());
    if (size < 0 || size > MAX_SETTINGS_SIZE)
        return SettingsFile::Unusable;
    text.resize(static_cast<size_t>(size));
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        const size_t stop = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return SettingsFile::Read;
}

// Section name of a "[name]" line, or nothing.
bool SectionOf(const std::string& line, std::string& section) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']')
        return false;
    section = Trim(std::string_view(t).substr(1, t.size() - 2));
    return true;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return false;
    const auto eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(std::string_view(t).substr(0, eq));
    value = Trim(std::string_view(t).substr(eq + 1));
    return true;
}

bool MakeFolders(const std::string& dir) {
    if (dir.empty())
        return true;
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(dir.substr(0, slash)))
        return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

} // namespace

CIniSettingsStore::CIniSettingsStore(std::string path) : m_path(std::move(path)) {}

std::string CIniSettingsStore::DefaultPath() {
    return ConfigPath("Mardane/Veltro 51.conf");
}

std::string CIniSettingsStore::ConfigPath(const std::string& name) {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = ".config";
    return base + "/" + name;
}

SettingsFile CIniSettingsStore::Load(std::vector<std::string>& lines) {
    const SettingsFile found = ReadLines(m_path, lines);
    m_keepOff = m_keepOff || found == SettingsFile::Unusable;
    return found;
}

bool CIniSettingsStore::ReadText(const std::string& section, const std::string& name, std::string& value) {
    std::vector<std::string> lines;
    if (Load(lines) != SettingsFile::Read)
        return false;
    std::string current, key, text;
    for (const auto& line : lines) {
        if (SectionOf(line, current))
            continue;
        if (current != section || !KeyOf(line, key, text) || key != name)
            continue;
        value = text;
        return true;
    }
    return false;
}

bool CIniSettingsStore::ReadInt(const std::string& section, const std::string& name, int& value) {
    std::string text;
    if (!ReadText(section, name, text) || text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

bool CIniSettingsStore::WriteInt(const std::string& section, const std::string& name, int value) {
    return WriteText(section, name, std::to_string(value));
}

bool CIniSettingsStore::WriteText(const std::string& section, const std::string& name,
                                  const std::string& value) {
    if (value.find_first_of(std::string("\n\0", 2)) != std::string::npos || Trim(value) != value) {
        errno = EINVAL;
        return false;
    }
    // A file that is there but could not be read is never replaced: its lines would be lost.
    std::vector<std::string> lines;
    if (m_keepOff || Load(lines) == SettingsFile::Unusable)
        return false;
    const std::string entry = name + "=" + value;

    std::string current, key, text;
    bool inSection = false, done = false;
    size_t sectionEnd = lines.size();
    bool sectionFound = false;
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        if (SectionOf(lines[i], current)) {
            if (inSection) {
                sectionEnd = i;
                break;
            }
            inSection = current == section;
            sectionFound = sectionFound || inSection;
            continue;
        }
        if (inSection && KeyOf(lines[i], key, text) && key == name) {
            lines[i] = entry;
            done = true;
        }
    }
    if (!done) {
        if (sectionFound) {
            // Insert after the section's last non-blank line.
            size_t at = sectionEnd;
            while (at > 0 && Trim(lines[at - 1]).empty())
                --at;
            lines.insert(lines.begin() + static_cast<long>(at), entry);
        } else {
            if (!lines.empty() && !Trim(lines.back()).empty())
                lines.emplace_back();
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        }
    }

    const auto slash = m_path.find_last_of('/');
    if (slash != std::string::npos && !MakeFolders(m_path.substr(0, slash)))
        return false;
    std::string data;
    for (const auto& line : lines)
        data += line + '\n';
    return ReplaceFileContents(m_path, data, 0600);
}
