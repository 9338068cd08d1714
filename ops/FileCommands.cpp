#include "ops/FileCommands.h"

#include <cerrno>
#include <utility>

#include "image/BinaryFile.h"
#include "image/BinaryWriter.h"
#include "image/IntelHex.h"

namespace {

// The reader's own message, if it has one.
void ShowReaderMessage(const FileResult& result, IOperationPort& port) {
    if (!result.ok && result.message != nullptr)
        port.Message(result.message, MsgIcon::Error);
}

FileCommandResult Changed(const FileResult& file, DocumentChange document, std::string title = {}) {
    FileCommandResult result;
    static_cast<FileResult&>(result) = file;
    result.document = document;
    result.title = std::move(title);
    return result;
}

} // namespace

FileCommandResult OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, IOperationPort& port) {
    buffer.ClearImage();
    const FileKind kind = FileKindFromPath(path);
    FileResult result = FileResult::Failure(nullptr);
    if (kind == FileKind::Binary || kind == FileKind::IntelHex) {
        if (kind == FileKind::Binary) {
            result = LoadBinaryFile(path, buffer);
            ShowReaderMessage(result, port);
            port.Message(result.ok ? MSG_BIN_LOADED : MSG_BIN_CANNOT_LOAD,
                         result.ok ? MsgIcon::Information : MsgIcon::Error);
        } else {
            // The reader says why it failed; only success has a message of the command's own.
            result = ReadIntelHex(path, buffer);
            ShowReaderMessage(result, port);
            if (result.ok)
                port.Message(MSG_HEX_LOADED, MsgIcon::Information);
        }
        if (result.ok) {
            buffer.m_sourcePath = path;
            buffer.m_sourceKind = kind == FileKind::Binary ? SOURCE_BIN : SOURCE_HEX;
            return Changed(result, DocumentChange::Opened, FileTitle(path));
        }
        buffer.ClearImage();
        buffer.m_sourcePath = SOURCE_NONE;
        return Changed(result, DocumentChange::Untitled, UNTITLED);
    }
    // Any other extension: the image stays cleared, the remembered file and the title stay as they were.
    return Changed(result, DocumentChange::Cleared);
}

FileCommandResult ReloadFirmwareFile(FirmwareBuffer& buffer, IOperationPort& port) {
    if (!buffer.HasSource())
        return Changed(FileResult::Failure(nullptr), DocumentChange::None);
    // The loaders check against the bound in force now, not the one of the Open.
    FileResult result = FileResult::Failure(nullptr);
    if (buffer.m_sourceKind == SOURCE_BIN) {
        result = LoadBinaryFile(buffer.m_sourcePath, buffer);
    } else if (buffer.m_sourceKind == SOURCE_HEX) {
        buffer.ClearImage();
        result = ReadIntelHex(buffer.m_sourcePath, buffer);
    } else {
        return Changed(result, DocumentChange::None);
    }
    if (!result.ok) {
        ShowReaderMessage(result, port);
        // The remembered file stays, so that Reload can be tried again once the file is repaired.
        port.Message(MSG_RELOAD_FAILED, MsgIcon::Error);
        return Changed(result, DocumentChange::None);
    }
    return Changed(result, DocumentChange::Reloaded);
}

FileResult SaveFirmwareFile(const std::string& path, const FirmwareBuffer& buffer, IOperationPort& port) {
    errno = 0;
    if (WriteIntelHex(path, buffer))
        return FileResult::Success();
    const int reason = errno;
    port.Message(MSG_CANNOT_WRITE, MsgIcon::Error);
    return FileResult::Failure(MSG_CANNOT_WRITE, reason);
}

FileResult SaveImageAs(const std::string& path, const FirmwareBuffer& buffer, IOperationPort& port) {
    if (FileKindFromPath(path) != FileKind::Binary)
        return SaveFirmwareFile(path, buffer, port);
    errno = 0;
    if (WriteBinaryFile(path, buffer))
        return FileResult::Success();
    const int reason = errno;
    port.Message(MSG_CANNOT_WRITE, MsgIcon::Error);
    return FileResult::Failure(MSG_CANNOT_WRITE, reason);
}
