#pragma once
// Small helpers of the image tests: a temporary folder, whole-file reads and writes, and a recorder
// that keeps the messages of a command and what it did to the document, in the order they happened.

#include <string>
#include <vector>

#include "ops/FileCommands.h"
#include "ops/Port.h"

class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    // Names in the folder and below it, sorted ("sub/file").
    std::vector<std::string> List() const;

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& content);
// The file's bytes, or "<missing>" when it cannot be read.
std::string ReadFile(const std::string& path);

// Events as text: "info: ...", "error: ...", and after them what a file command did to the
// document: "opened: TITLE", "untitled: TITLE", "cleared", "reloaded" (nothing for no change).
class CRecorder : public IOperationPort {
public:
    void Message(const std::string& text, MsgIcon icon) override;
    void Document(const FileCommandResult& result);

    std::vector<std::string> m_events;
};

// The file commands, with what they did to the document recorded after their messages.
FileCommandResult OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, CRecorder& recorder);
FileCommandResult ReloadFirmwareFile(FirmwareBuffer& buffer, CRecorder& recorder);

// The readers as the file commands show them: the result's message through the recorder.
bool ReadIntelHex(const std::string& path, FirmwareBuffer& buffer, CRecorder& messages);
bool LoadBinaryFile(const std::string& path, FirmwareBuffer& buffer, CRecorder& messages);
