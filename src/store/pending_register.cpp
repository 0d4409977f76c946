#include "store/pending_register.h"

#include "foundation/strings.h"
#include "store/doc_record.h"
#include "store/folder_files.h"
#include "store/section_lines.h"

#include <sys/stat.h>

#include <vector>

namespace px::store {

FileStatus RefreshPendingFolders(TPXCustomIni& sentIni, PendingFolders& pending) {
  pending.Clear();
  struct Entry {
    std::string name;
    int flags = 0;
    std::string path;
    std::string id;
  };
  std::vector<Entry> entries;
  sentIni.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    Entry e;
    e.name = std::string(name);
    if (auto f = FindKey(lines, "flags")) e.flags = ParseEntryFlags(*f);
    if (!IsPendingFlags(e.flags)) return;
    e.path = FindKey(lines, "path").value_or(std::string());
    e.id = FindKey(lines, "id").value_or(std::string());
    entries.push_back(std::move(e));
  });
  bool erased = false;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    // An entry without a place, or with one this system cannot check, is left for the sender.
    if (it->path.empty() || it->id.empty() || IsForeignPath(it->path)) continue;
    const std::string path = WithSlash(it->path);
    const std::string rest = SplitTagPrefix(it->id).rest;
    if (!IsPlainFileName(rest)) continue;
    struct stat st;
    if (::lstat((path + rest).c_str(), &st) == 0) {
      pending.Add(path);
      continue;
    }
    if (FolderExists(path) && PathIsGone(path + rest)) {
      sentIni.EraseSection(it->name);
      erased = true;
    }
  }
  return erased ? sentIni.UpdateFile() : FileStatus::Ok();
}

PendingRegisterRefresh::PendingRegisterRefresh(std::function<TPXCustomIni*()> sentIni,
                                               std::vector<std::string>& folders,
                                               std::function<void()> changed)
    : sentIni_(std::move(sentIni)), folders_(folders), changed_(std::move(changed)) {}

void PendingRegisterRefresh::RefreshPending() {
  TPXCustomIni* sent = sentIni_ ? sentIni_() : nullptr;
  if (!sent) return;
  PendingFolders pending;
  status_ = RefreshPendingFolders(*sent, pending);
  folders_.assign(pending.Folders().begin(), pending.Folders().end());
  if (changed_) changed_();
}

}  // namespace px::store
