#pragma once
// The outgoing register (`sent.ini`) as the desk reads it: which folders hold pending mail.
#include "store/index_file.h"

#include <set>
#include <string>
#include <string_view>

namespace px::store {

// Folders that hold pending outgoing mail, kept with their letter case.
class PendingFolders {
public:
  bool Contains(std::string_view folder) const { return folders_.count(std::string(folder)) > 0; }
  void Add(std::string folder) { folders_.insert(std::move(folder)); }
  void Clear() { folders_.clear(); }
  size_t Size() const { return folders_.size(); }
  const std::set<std::string>& Folders() const { return folders_; }

private:
  std::set<std::string> folders_;
};

// Rebuilds the pending-folder list from the outgoing register (`sent.ini`): every pending
// entry whose file is still there marks its folder; an entry whose file is gone from a folder
// that exists is erased (and the register saved). Entries that cannot be checked are kept.
IniStatus RefreshPendingFolders(TPXCustomIni& sentIni, PendingFolders& pending);

}  // namespace px::store
