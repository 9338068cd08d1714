#pragma once
// The per-user settings store. The core reaches it only through ISettingsStore, so tests can point
// it at a temporary folder.

#include <string>

class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // False when the value is missing or not an integer; value is then untouched.
    virtual bool ReadInt(const std::string& section, const std::string& name, int& value) = 0;
    virtual bool WriteInt(const std::string& section, const std::string& name, int value) = 0;
};

// An INI file. Writing keeps every other section, key and line of the file as it was, and replaces
// the file atomically (temporary beside it, then rename), creating missing folders.
class CIniSettingsStore : public ISettingsStore {
public:
    explicit CIniSettingsStore(std::string path);
    // $XDG_CONFIG_HOME/Mardane/Veltro 51.conf, with ~/.config when the variable is unset or empty.
    static std::string DefaultPath();

    const std::string& Path() const { return m_path; }
    bool ReadInt(const std::string& section, const std::string& name, int& value) override;
    bool WriteInt(const std::string& section, const std::string& name, int value) override;

private:
    std::string m_path;
};
