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

// What a file command did to the document (its image, remembered file and title), for the
// presenter to redraw from.
enum class DocumentChange {
    None,     // nothing changed: no file remembered, or the reload failed
    Cleared,  // a name of no firmware kind: the image cleared, the remembered file and title kept
    Untitled, // the file did not load: the image cleared, no file remembered, titled UNTITLED
    Opened,   // the file loaded: its image from the first row, titled after the file
    Reloaded, // the remembered file loaded again: its image from the first row
};

struct FileCommandResult : FileResult {
    DocumentChange document = DocumentChange::None;
    std::string title; // the document's new title, for Opened and Untitled
};

// Open HEX File for the chosen path. ok when the file loaded; otherwise systemError tells the
// system's reason, when there was one (the messages were shown already).
FileCommandResult OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, IOperationPort& port);
// Reload Files: does nothing while no file is remembered. ok when the file loaded again.
FileCommandResult ReloadFirmwareFile(FirmwareBuffer& buffer, IOperationPort& port);
// Save for the chosen path: "Cannot Write to file" on any failure. ok when saved.
FileResult SaveFirmwareFile(const std::string& path, const FirmwareBuffer& buffer, IOperationPort& port);

// The command line's save: raw binary of exactly the bound for a .bin name, Intel HEX as Save
// writes it for any other. "Cannot Write to file" on any failure.
FileResult SaveImageAs(const std::string& path, const FirmwareBuffer& buffer, IOperationPort& port);
