#pragma once
// Reading a folder for the listing: its listable files, and the checks the listing and the
// outgoing register make on names and paths.
//
// Every regular file of the folder that is not hidden (dot-files, the index file in any letter
// case) is listable. Directories, FIFOs, sockets, devices, dangling links and links that lead
// out of the folder are not.
#include "foundation/types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace px::store {

// A listable file of a folder.
struct FolderFile {
  std::string name;
  uint64_t size = 0;
  DateTime date = 0;  // modification time (local); never 0
};

// The listable files of `folder`, in directory order. error receives the errno of opening the
// folder (0 when it could be read).
std::vector<FolderFile> EnumerateFolderFiles(const std::string& folder, int* error = nullptr);
// Whether folder + name is a listable file; fills *out when it is.
bool StatListableFile(const std::string& folder, std::string_view name, FolderFile* out = nullptr);
// Hidden: a dot-file or an index file.
bool IsHiddenFileName(std::string_view name);
// A path this program cannot check: anything that is not an absolute Linux path ("C:\...",
// "\\server\...", a relative path).
bool IsForeignPath(std::string_view path);
// A name that can stand for a file of a folder (no "/", not "." or "..").
bool IsPlainFileName(std::string_view name);
// Nothing at all (not even a dangling link) has this path.
bool PathIsGone(const std::string& path);
// A folder is there (links followed).
bool FolderExists(const std::string& path);
std::string WithSlash(std::string s);

}  // namespace px::store
