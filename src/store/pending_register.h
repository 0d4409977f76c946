#pragma once
// The outgoing register (`sent.ini`) as the desk reads it: which folders hold pending mail.
#include "store/index_file.h"
#include "store/op_services.h"

#include <functional>
#include <vector>

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
FileStatus RefreshPendingFolders(TPXCustomIni& sentIni, PendingFolders& pending);

// Keeps a program's pending-folder list current after document operations: the list is
// rebuilt from the register, then `changed` runs (the desk repaints its pending marks).
// `sentIni` is asked each time, since the register is opened after the operations are made.
class PendingRegisterRefresh final : public PendingRefresh {
public:
  PendingRegisterRefresh(std::function<TPXCustomIni*()> sentIni, std::vector<std::string>& folders,
                         std::function<void()> changed = {});
  void RefreshPending() override;
  // The failure of the last rebuild's save, if any.
  const FileStatus& LastStatus() const { return status_; }

private:
  std::function<TPXCustomIni*()> sentIni_;
  std::vector<std::string>& folders_;
  std::function<void()> changed_;
  FileStatus status_;
};

}  // namespace px::store
