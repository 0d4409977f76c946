#include "store/tree_watch.h"

#include "store/folder_files.h"
#include "store/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace px::store {

namespace {

constexpr uint32_t kFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                    IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

TreeWatch::TreeWatch() { fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

TreeWatch::~TreeWatch() {
  if (fd_ >= 0) ::close(fd_);
}

void TreeWatch::SetFolders(const std::set<std::string>& folders) {
  if (fd_ < 0) return;
  for (auto it = byFolder_.begin(); it != byFolder_.end();) {
    if (folders.count(it->first)) {
      ++it;
      continue;
    }
    inotify_rm_watch(fd_, it->second);
    byWatch_.erase(it->second);
    it = byFolder_.erase(it);
  }
  for (const std::string& f : folders) {
    if (f.empty() || byFolder_.count(f)) continue;
    const int wd = inotify_add_watch(fd_, f.c_str(), kFolderChanges);
    if (wd < 0) continue;
    // Two paths of one folder (a link) share a descriptor: the later path is the one told.
    if (auto old = byWatch_.find(wd); old != byWatch_.end()) byFolder_.erase(old->second);
    byFolder_[f] = wd;
    byWatch_[wd] = f;
  }
}

std::vector<std::string> TreeWatch::TakeChangedFolders() {
  std::set<std::string> changed;
  if (fd_ < 0) return {};
  DrainInotify(fd_, [&](const InotifyEvent& ev) {
    if (ev.mask & IN_Q_OVERFLOW) {
      // Events were lost: every watched folder may have changed.
      for (const auto& [f, wd] : byFolder_) changed.insert(f);
      return;
    }
    auto w = byWatch_.find(ev.wd);
    if (w == byWatch_.end()) return;
    const std::string folder = w->second;
    if (ev.mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
      changed.insert(folder);
      if (ev.mask & IN_IGNORED) {
        byFolder_.erase(folder);
        byWatch_.erase(w);
      }
      return;
    }
    if (!(ev.mask & IN_ISDIR)) return;  // files are the grid's business
    if (!NamesHiddenFile(ev)) changed.insert(folder);
  });
  return {changed.begin(), changed.end()};
}

}  // namespace px::store
