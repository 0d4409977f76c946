#pragma once
// The unread counts of folders, kept for the whole run so the folder tree can show them
// without listing folders, and stored between runs as `unread.lst` in the data root.
//
// `unread.lst`: one line per folder, path + "=" + count in decimal. Paths end in "/" and keep
// their letter case (file names are case-sensitive here); a line is split at its LAST "=" so a
// folder name that contains "=" survives. Lines written in lower case by older versions still
// apply when a folder of exactly that name exists.
#include "foundation/types.h"
#include "store/list_file.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace px::store {

inline constexpr std::string_view kUnreadListFile = "unread.lst";

struct UnreadCount {
  int64_t own = 0;    // unread entries in the folder itself
  int64_t total = 0;  // the folder and every folder below it
};

class UnreadList {
public:
  // Called after a count changed, with the folder whose count changed. The folder tree
  // refreshes every node whose path is a prefix of it (the folder and those above it).
  using NodeRefresh = std::function<void(const std::string& folder)>;

  UnreadList() = default;

  // InitUnreadList: replaces the list with the file's usable lines. A missing or unreadable file
  // gives an empty list; lines without "=", with a count that is not a number above 0, or for a
  // folder that no longer exists are dropped (a foreign path such as "C:\..." cannot be checked
  // and is kept). The list counts as unchanged afterwards.
  void Load(const std::string& file);
  // The same from lines already read.
  void LoadLines(const StringList& lines);
  // DeInitUnreadList: writes the list back when it changed since Load (always when force).
  FileStatus Save(const std::string& file, bool force = false);

  UnreadCount GetUnreadCount(std::string_view folder) const;
  // relative adds value to the count, otherwise sets it. Lowering the count of a folder without
  // an entry does nothing; a count that reaches 0 (or below) removes the entry.
  void ChangeUnreadCount(std::string_view folder, int64_t value, bool relative);
  // A folder moved or renamed: its count and the counts of the folders below it follow.
  void MoveFolder(std::string_view oldFolder, std::string_view newFolder);
  // A folder copied: the copy starts with the counts of the source folder and those below it.
  void CopyFolder(std::string_view sourceFolder, std::string_view copyFolder);
  // A folder deleted: its count and the counts below it are dropped.
  void ResetTree(std::string_view folder);

  void SetNodeRefresh(NodeRefresh fn) { refresh_ = std::move(fn); }
  bool Changed() const { return changed_; }
  size_t Size() const { return counts_.size(); }
  // The entries in stored order (folder, count).
  const std::map<std::string, int64_t>& Entries() const { return counts_; }

private:
  void notify(const std::string& folder) const;

  // Byte order: a folder and everything below it form one contiguous range.
  std::map<std::string, int64_t> counts_;
  bool changed_ = false;
  NodeRefresh refresh_;
};

// The folder path form used as a key: "/" at the end.
std::string UnreadKeyOf(std::string_view folder);

}  // namespace px::store
