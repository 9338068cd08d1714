#include "ops/FileCommands.h"

#include <cerrno>

#include "image/BinaryFile.h"
#include "image/BinaryWriter.h"
#include "image/IntelHex.h"

namespace {

// The reader's own message, if it has one.
void ShowReaderMessage(const FileResult& result, IOperationPort& port) {
    if (!result.ok && result.message != nullptr)
        port.Message(result.message, MsgIcon::Error);
}

} // namespace

FileResult OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, IOperationPort& port,
                            IDocumentView& view) {
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
            view.ScrollToTop();
            view.SetTitle(FileTitle(path));
            buffer.m_sourcePath = path;
            buffer.m_sourceKind = kind == FileKind::Binary ? SOURCE_BIN : SOURCE_HEX;
        } else {
            buffer.ClearImage();
            view.SetTitle(UNTITLED);
            buffer.m_sourcePath = SOURCE_NONE;
        }
    }
    // Any other extension: the image stays cleared, the remembered file and the title stay as they were.
    view.Invalidate(false);
    return result;
}

FileResult ReloadFirmwareFile(FirmwareBuffer& buffer, IOperationPort& port, IDocumentView& view) {
    if (!buffer.HasSource())
        return FileResult::Failure(nullptr);
    // The loaders check against the bound in force now, not the one of the Open.
    FileResult result = FileResult::Failure(nullptr);
    if (buffer.m_sourceKind == SOURCE_BIN) {
        result = LoadBinaryFile(buffer.m_sourcePath, buffer);
    } else if (buffer.m_sourceKind == SOURCE_HEX) {
        buffer.ClearImage();
        result = ReadIntelHex(buffer.m_sourcePath, buffer);
    } else {
        return result;
    }
    if (!result.ok) {
        ShowReaderMessage(result, port);
        // The remembered file stays, so that Reload can be tried again once the file is repaired.
        port.Message(MSG_RELOAD_FAILED, MsgIcon::Error);
        return result;
    }
    view.ScrollToTop();
    view.Invalidate(true);
    return result;
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
