#include "ImageFixtures.h"

#include "image/BinaryFile.h"
#include "image/IntelHex.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

CTempDir::CTempDir() {
    std::string pattern = (fs::temp_directory_path() / "veltro-image-XXXXXX").string();
    m_path = mkdtemp(pattern.data());
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

namespace {

// Descends into real folders only: a link is listed, never followed (it may name nothing, or itself).
void ListInto(const fs::path& folder, const fs::path& top, std::vector<std::string>& names) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().lexically_relative(top).string());
        if (fs::is_directory(entry.symlink_status()))
            ListInto(entry.path(), top, names);
    }
}

} // namespace

std::vector<std::string> CTempDir::List() const {
    std::vector<std::string> names;
    ListInto(m_path, m_path, names);
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void CRecorder::Message(const std::string& text, MsgIcon icon) {
    const char* kind = icon == MsgIcon::Error         ? "error: "
                       : icon == MsgIcon::Information ? "info: "
                                                      : "plain: ";
    m_events.push_back(kind + text);
}

void CRecorder::Document(const FileCommandResult& result) {
    switch (result.document) {
    case DocumentChange::None:
        break;
    case DocumentChange::Cleared:
        m_events.push_back("cleared");
        break;
    case DocumentChange::Untitled:
        m_events.push_back("untitled: " + result.title);
        break;
    case DocumentChange::Opened:
        m_events.push_back("opened: " + result.title);
        break;
    case DocumentChange::Reloaded:
        m_events.push_back("reloaded");
        break;
    }
}

FileCommandResult OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, CRecorder& recorder) {
    FileCommandResult result = OpenFirmwareFile(path, buffer, static_cast<IOperationPort&>(recorder));
    recorder.Document(result);
    return result;
}

FileCommandResult ReloadFirmwareFile(FirmwareBuffer& buffer, CRecorder& recorder) {
    FileCommandResult result = ReloadFirmwareFile(buffer, static_cast<IOperationPort&>(recorder));
    recorder.Document(result);
    return result;
}

namespace {
bool Shown(const FileResult& result, CRecorder& messages) {
    if (!result.ok && result.message != nullptr)
        messages.Message(result.message, MsgIcon::Error);
    return result.ok;
}
} // namespace

bool ReadIntelHex(const std::string& path, FirmwareBuffer& buffer, CRecorder& messages) {
    return Shown(ReadIntelHex(path, buffer), messages);
}

bool LoadBinaryFile(const std::string& path, FirmwareBuffer& buffer, CRecorder& messages) {
    return Shown(LoadBinaryFile(path, buffer), messages);
}
