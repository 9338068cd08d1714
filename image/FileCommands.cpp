#include "image/FileCommands.h"

#include "image/BinaryFile.h"
#include "image/IntelHex.h"

std::string FileTitle(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FileKind FileKindFromPath(const std::string& path) {
    // A '.' in a folder's name is no extension of the file.
    const std::string name = FileTitle(path);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return FileKind::None;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (extension == "bin")
        return FileKind::Binary;
    if (extension == "hex" || extension == "ihx")
        return FileKind::IntelHex;
    return FileKind::None;
}

bool OpenFirmwareFile(const std::string& path, FirmwareBuffer& buffer, IMessageSink& messages,
                      IDocumentView& view) {
    buffer.ClearImage();
    const FileKind kind = FileKindFromPath(path);
    bool loaded = false;
    if (kind == FileKind::Binary || kind == FileKind::IntelHex) {
        if (kind == FileKind::Binary) {
            loaded = LoadBinaryFile(path, buffer, messages);
            messages.ShowMessage(loaded ? MSG_BIN_LOADED : MSG_BIN_CANNOT_LOAD,
                                 loaded ? MsgIcon::Information : MsgIcon::Error);
        } else {
            // The reader has said why it failed; only success has a message here.
            loaded = ReadIntelHex(path, buffer, messages);
            if (loaded)
                messages.ShowMessage(MSG_HEX_LOADED, MsgIcon::Information);
        }
        if (loaded) {
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
    return loaded;
}

bool ReloadFirmwareFile(FirmwareBuffer& buffer, IMessageSink& messages, IDocumentView& view) {
    if (!buffer.HasSource())
        return false;
    // The loaders check against the bound in force now, not the one of the Open.
    bool loaded = false;
    if (buffer.m_sourceKind == SOURCE_BIN) {
        loaded = LoadBinaryFile(buffer.m_sourcePath, buffer, messages);
    } else if (buffer.m_sourceKind == SOURCE_HEX) {
        buffer.ClearImage();
        loaded = ReadIntelHex(buffer.m_sourcePath, buffer, messages);
    } else {
        return false;
    }
    if (!loaded) {
        // The remembered file stays, so that Reload can be tried again once the file is repaired.
        messages.ShowMessage(MSG_RELOAD_FAILED, MsgIcon::Error);
        return false;
    }
    view.ScrollToTop();
    view.Invalidate(true);
    return true;
}

bool SaveFirmwareFile(const std::string& path, const FirmwareBuffer& buffer, IMessageSink& messages) {
    if (WriteIntelHex(path, buffer))
        return true;
    messages.ShowMessage(MSG_CANNOT_WRITE, MsgIcon::Error);
    return false;
}
