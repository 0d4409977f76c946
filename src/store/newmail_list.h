#pragma once
// The folders that received mail the user has not looked at yet, kept for the whole run and
// stored between runs as `newmail.lst` (one folder path per line) in the data root.
// Paths end in "/" and keep their letter case.
#include "store/list_file.h"

#include <set>
#include <string>
#include <string_view>

namespace px::store {

inline constexpr std::string_view kNewMailListFile = "newmail.lst";

class NewMailList {
public:
  // A missing or unreadable file gives an empty list; empty lines are dropped.
  void Load(const std::string& file);
  // Always writes the whole list (atomically).
  FileStatus Save(const std::string& file) const;

  // Mail was filed into folder. Returns true when it was not listed yet.
  bool Add(std::string_view folder);
  // The user looked at folder. Returns true when it was listed.
  bool Remove(std::string_view folder);
  bool Contains(std::string_view folder) const;
  // A folder moved or renamed: its mark (and the marks below it) follow it.
  void MoveFolder(std::string_view oldFolder, std::string_view newFolder);
  bool Empty() const { return folders_.empty(); }
  size_t Size() const { return folders_.size(); }
  const std::set<std::string>& Folders() const { return folders_; }
  void Clear() { folders_.clear(); }

private:
  std::set<std::string> folders_;
};

}  // namespace px::store
