#include "image/FileKind.h"

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
