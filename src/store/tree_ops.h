#pragma once
// File and folder primitives of the document operations. Paths are UTF-8; folders end in "/"
// or not, both are accepted. Every failure comes back as a FileStatus (errno, the verb, the
// path and target involved) so the operation can report it in its own words.
#include "foundation/file_status.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace px::store {

// lstat-based facts (a symlink is never followed).
bool PathExists(const std::string& path);          // anything at path, dangling links included
bool IsDirectory(const std::string& path);         // a real directory, not a link to one
bool IsRegularFile(const std::string& path);

// Identity of folders by device and inode, never by the spelling of their paths: a folder
// reached through a symbolic link or a bind mount is the same folder.
// True when both name one existing folder (links followed).
bool SameFolder(const std::string& a, const std::string& b);
// True when both paths name one file that has no other name (one inode, one link): the same
// directory entry reached twice, never a twin that may be deleted.
bool IsSameEntry(const std::string& a, const std::string& b);
// True when inner is folder itself or lies anywhere below it (following inner's real parents).
bool IsSameOrInside(const std::string& folder, const std::string& inner);

// True when both files hold the same bytes (false when either cannot be read).
bool SameContent(const std::string& a, const std::string& b);

// The next target path to try after the one tried was taken (EEXIST); "" gives up. Placements
// never replace a file that appeared after its name was chosen: they ask for the next name.
using NextTarget = std::function<std::string()>;

// Copies one file to target through a hidden temporary file in the target's folder that is
// flushed and then put in place, so a failed copy (a full disk) never damages an existing
// target. Keeps the modification time and the permission bits. With `replace` the copy takes
// the place of an existing target (the user chose so); otherwise an existing target is left
// alone and `next` is asked for another name (EEXIST without it). `placed` gets the path used.
FileStatus CopyFileKeepTime(const std::string& source, const std::string& target,
                             bool replace = false, const NextTarget& next = {},
                             std::string* placed = nullptr);

// Moves a file or folder by renaming it, without replacing (unless `replace`), asking `next`
// for another name when the target exists. Across file systems a file is copied, flushed and
// then the source removed; a folder is copied with CopyTree in move mode.
FileStatus MoveEntry(const std::string& source, const std::string& target, bool replace = false,
                      const NextTarget& next = {}, std::string* placed = nullptr);

// Makes a new folder at target, asking `next` for another name while the name is taken.
FileStatus MakeNewFolder(const std::string& target, const NextTarget& next = {},
                          std::string* placed = nullptr);

// Called once per file or folder a tree operation removes (for the Quickboard and unread
// counts); the path is the full path, folders with "/".
using TreeVisitor = std::function<void(const std::string& path, bool folder)>;

// Copies the folder source to a new folder target (an existing target is EEXIST, or the next
// name from `next`). The walk holds each folder open and names entries relative to it, so a
// link swapped in during the walk is never followed: symbolic links are recreated as links,
// entries on another file system (mount points) are not entered and count as failures. A
// target that is the source or lies inside it is refused (EINVAL). In move mode the source tree
// is removed only after the whole copy succeeded; a partial copy is taken away again and the
// source is kept.
FileStatus CopyTree(const std::string& source, const std::string& target, bool move,
                     const TreeVisitor& removed = {}, const NextTarget& next = {},
                     std::string* placed = nullptr);

// Deletes the folder with everything below it, walking with folder descriptors (never by
// re-resolving full paths): a symbolic link is removed itself, never followed; nothing on
// another file system is entered. keepRoot empties the folder but keeps it (the trash). Stops
// at the first failure and returns it; what was removed before stays removed.
FileStatus DeleteTree(const std::string& folder, bool keepRoot, const TreeVisitor& removed = {});

// The trash is full when it holds any file or folder besides hidden ones (dot-files, the index).
bool IsTrashFull(const std::string& trashFolder);

}  // namespace px::store
