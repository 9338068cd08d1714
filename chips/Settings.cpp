#include "chips/Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

bool ReadLines(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return !in.bad();
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
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = ".config";
    return base + "/Mardane/Veltro 51.conf";
}

bool CIniSettingsStore::ReadInt(const std::string& section, const std::string& name, int& value) {
    std::vector<std::string> lines;
    if (!ReadLines(m_path, lines))
        return false;
    std::string current, key, text;
    for (const auto& line : lines) {
        if (SectionOf(line, current))
            continue;
        if (current != section || !KeyOf(line, key, text) || key != name)
            continue;
        if (text.empty())
            return false;
        char* end = nullptr;
        errno = 0;
        const long parsed = std::strtol(text.c_str(), &end, 10);
        if (*end != '\0' || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX)
            return false;
        value = static_cast<int>(parsed);
        return true;
    }
    return false;
}

bool CIniSettingsStore::WriteInt(const std::string& section, const std::string& name, int value) {
    std::vector<std::string> lines;
    ReadLines(m_path, lines); // a missing file starts empty
    const std::string entry = name + "=" + std::to_string(value);

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
    const std::string temp = m_path + ".tmp" + std::to_string(getpid());
    std::ostringstream out;
    for (const auto& line : lines)
        out << line << '\n';
    const std::string data = out.str();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    ok = (::fsync(fd) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    if (ok && std::rename(temp.c_str(), m_path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}
