#pragma once
// File and folder primitives of the document operations. Paths are UTF-8; folders end in "/"
// or not, both are accepted. Every failure comes back as a FileFailure (errno, the verb, the
// path and target involved) so the operation can report it in its own words.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace px::store {

struct FileFailure {
  int error = 0;       // errno; 0 = success
  std::string verb;    // "copy", "move", "delete", "rename", "create", "empty"
  std::string path;
  std::string target;
  bool ok() const { return error == 0; }
  explicit operator bool() const { return error != 0; }  // true when it FAILED
};

// lstat-based facts (a symlink is never followed).
bool PathExists(const std::string& path);          // anything at path, dangling links included
bool IsDirectory(const std::string& path);         // a real directory, not a link to one
bool IsRegularFile(const std::string& path);

// True when both files hold the same bytes (false when either cannot be read).
bool SameContent(const std::string& a, const std::string& b);

// Copies one file to target (replacing it) through a hidden temporary file in the target's
// folder that is flushed and renamed into place, so a failed copy (a full disk) never damages
// an existing target. Keeps the modification time and the permission bits.
FileFailure CopyFileKeepTime(const std::string& source, const std::string& target);

// Moves a file or folder with rename(2). Across file systems a file is copied, flushed and then
// the source removed; a folder is copied with CopyTree in move mode.
FileFailure MoveEntry(const std::string& source, const std::string& target);

// Called once per file or folder a tree operation removes (for the Quickboard and unread
// counts); the path is the full path, folders with "/".
using TreeVisitor = std::function<void(const std::string& path, bool folder)>;

// Copies the folder source to target (created, or merged into when it exists), files
// overwritten. Symbolic links are recreated as links, never followed; entries on another file
// system (mount points) are not entered and count as failures. In move mode the source tree is
// removed only after the whole copy succeeded; a partial copy keeps the source and returns the
// first failure.
FileFailure CopyTree(const std::string& source, const std::string& target, bool move,
                     const TreeVisitor& removed = {});

// Deletes the folder with everything below it: a symbolic link is removed itself, never
// followed; nothing on another file system is entered. keepRoot empties the folder but keeps it
// (the trash). Stops at the first failure and returns it; what was removed before stays removed.
FileFailure DeleteTree(const std::string& folder, bool keepRoot, const TreeVisitor& removed = {});

// The trash is full when it holds any file or folder besides hidden ones (dot-files, the index).
bool IsTrashFull(const std::string& trashFolder);

}  // namespace px::store
