#pragma once
// The folders a walk over the documents tree enters: real directories, not hidden, not links,
// told apart by device and inode (a folder reached twice is entered once).
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace px::search {

using FolderIdentity = std::pair<dev_t, ino_t>;

// False when path is not a directory.
bool IdentityOfFolder(const std::string& path, FolderIdentity& id);
// The subfolders (each ending in "/") of folder, in name order.
std::vector<std::pair<std::string, FolderIdentity>> SubfoldersOf(const std::string& folder);

}  // namespace px::search
