#pragma once
// The per-user settings store. The core reaches it only through ISettingsStore, so tests can point
// it at a temporary folder.

#include <string>
#include <vector>

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // False when the value is missing or not an integer; value is then untouched.
    virtual bool ReadInt(const std::string& section, const std::string& name, int& value) = 0;
    virtual bool WriteInt(const std::string& section, const std::string& name, int value) = 0;
};

enum class SettingsFile { Read, Missing, Unusable };

// An INI file. Writing keeps every other section, key and line of the file as it was, and replaces
// the file through the one safe replace (ReplaceFileContents), creating missing folders; a new file
// is the user's alone (0600). A file that is there but cannot be read as a settings file (no read
// permission, not a regular file, larger than 64 KiB) reads as missing, without blocking, and is
// never written: once a store has met one, it writes nothing.
class CIniSettingsStore : public ISettingsStore {
public:
    explicit CIniSettingsStore(std::string path);
    // $XDG_CONFIG_HOME/Mardane/Veltro 51.conf, with ~/.config when the variable is unset or empty.
    static std::string DefaultPath();
    // name under $XDG_CONFIG_HOME (or ~/.config), for another program's own file.
    static std::string ConfigPath(const std::string& name);

    const std::string& Path() const { return m_path; }
    bool ReadInt(const std::string& section, const std::string& name, int& value) override;
    bool WriteInt(const std::string& section, const std::string& name, int value) override;
    // A text value as it stands between '=' and the line's end. A text that a line cannot hold as it
    // is (a line end, a NUL, blanks at either end, which reading trims) is refused, not cut.
    bool ReadText(const std::string& section, const std::string& name, std::string& value);
    bool WriteText(const std::string& section, const std::string& name, const std::string& value);

private:
    SettingsFile Load(std::vector<std::string>& lines);

    std::string m_path;
    bool m_keepOff = false; // the file was there but could not be read
};
