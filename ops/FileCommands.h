#pragma once
// The view's file commands (Open HEX File, Reload Files, Save) as operations: the desktop shell
// chooses the path with its file dialogs and then calls these; the command-line tool and the tests
// call them directly. Their messages go through the operation port.

#include <string>

#include "image/FileKind.h"
#include "image/FileResult.h"
#include "image/FirmwareBuffer.h"
#include "ops/Port.h"

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
    virtual void ScrollToTop() = 0; // first visible row 0, scroll position 0
    virtual void Invalidate(bool eraseBackground) = 0;
};

// Where there is no window to scroll or title (the command line).
class CNoView : public IDocumentView {
public:
    void SetTitle(const std::string&) override {}
    void ScrollToTop() override {}
    void Invalidate(bool) override {}
};

// Open HEX File for the chosen path. ok when the file loaded; otherwise systemError tells the
// system's reason, when there was one (the messages were shown already).
FileResult OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, IOperationPort& port,
                            IDocumentView& view);
// Reload Files: does nothing while no file is remembered. ok when the file loaded again.
FileResult ReloadFirmwareFile(FirmwareBuffer& buffer, IOperationPort& port, IDocumentView& view);
// Save for the chosen path: "Cannot Write to file" on any failure. ok when saved.
FileResult SaveFirmwareFile(const std::string& path, const FirmwareBuffer& buffer, IOperationPort& port);

// The command line's save: raw binary of exactly the bound for a .bin name, Intel HEX as Save
// writes it for any other. "Cannot Write to file" on any failure.
FileResult SaveImageAs(const std::string& path, const FirmwareBuffer& buffer, IOperationPort& port);
