#pragma once
// The logic of the view's file commands (Open HEX File, Reload Files, Save), without windows: the
// desktop shell chooses the path with its file dialogs and then calls these; the command-line tool
// and the tests call them directly.

#include <string>

#include "image/FirmwareBuffer.h"
#include "image/Messages.h"

constexpr const char* MSG_BIN_LOADED = "BIN File loaded successfully";
constexpr const char* MSG_BIN_CANNOT_LOAD = "Cannot Load BIN File";
constexpr const char* MSG_HEX_LOADED = "HEX file loaded successfully";
constexpr const char* MSG_RELOAD_FAILED = "Cannot Reload Files. File Not Found or Corrupted";
constexpr const char* UNTITLED = "Untitled";

// What the commands do to the document and the view beside the buffer.
class IDocumentView {
public:
    virtual ~IDocumentView() = default;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void ScrollToTop() = 0;             // first visible row 0, scroll position 0
    virtual void Invalidate(bool eraseBackground) = 0;
};

enum class FileKind { None, IntelHex, Binary };

// By the extension after the last '.' of the file name, lower-cased: bin; hex or ihx; anything else.
FileKind FileKindFromPath(const std::string& path);
// The file's name without its directory.
std::string FileTitle(const std::string& path);

// Open HEX File for the chosen path. Returns true when the file loaded.
bool OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, IMessageSink& messages, IDocumentView& view);
// Reload Files: does nothing while no file is remembered. Returns true when the file loaded again.
bool ReloadFirmwareFile(FirmwareBuffer& buffer, IMessageSink& messages, IDocumentView& view);
// Save for the chosen path: "Cannot Write to file" on any failure. Returns true when saved.
bool SaveFirmwareFile(const std::string& path, const FirmwareBuffer& buffer, IMessageSink& messages);
