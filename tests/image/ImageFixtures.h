#pragma once
// Small helpers of the image tests: a temporary folder, whole-file reads and writes, and a recorder
// that keeps the messages and view calls of a command in the order they happened.

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

// Events as text: "info: ...", "error: ...", "title: ...", "scroll", "invalidate", "invalidate erase".
class CRecorder : public IOperationPort, public IDocumentView {
public:
    void Message(const std::string& text, MsgIcon icon) override;
    void SetTitle(const std::string& title) override;
    void ScrollToTop() override;
    void Invalidate(bool eraseBackground) override;

    std::vector<std::string> m_events;
};

// The readers as the file commands show them: the result's message through the recorder.
bool ReadIntelHex(const std::string& path, FirmwareBuffer& buffer, CRecorder& messages);
bool LoadBinaryFile(const std::string& path, FirmwareBuffer& buffer, CRecorder& messages);
