#pragma once
// Which reader or writer a firmware file needs, by its name alone.

#include <string>

enum class FileKind { None, IntelHex, Binary };

// By the extension after the last '.' of the file name, lower-cased: bin; hex or ihx; anything else.
FileKind FileKindFromPath(const std::string& path);
// The file's name without its directory.
std::string FileTitle(const std::string& path);
