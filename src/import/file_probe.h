#pragma once
// What the import readers ask of the other program's files: the type of an entry (links never
// followed) and its bytes up to a bound.
#include <sys/types.h>

#include <string>

namespace px::import {

bool IsFolder(const std::string& path);
// A regular file (not a link); its size when asked.
bool IsRegularFile(const std::string& path, off_t* size = nullptr);
// The whole file when it has at most max bytes; false when it cannot be read or is larger.
bool ReadBounded(const std::string& path, std::string& out, size_t max);

}  // namespace px::import
