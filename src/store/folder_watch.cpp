#include "store/folder_watch.h"

#include "store/folder_files.h"

#include "store/folder_listing.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace px::store {

namespace {

constexpr uint32_t kNameChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool StartsWith(const std::string& s, const std::string& prefix) {
  return !prefix.empty() && s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

FolderWatch::FolderWatch() { fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC); }

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderWatch::Watch(const std::string& folder) {
  if (fd_ < 0) return false;
  if (wd_ >= 0) inotify_rm_watch(fd_, wd_);
  wd_ = -1;
  // Events still queued for the old folder are of no interest any more.
  Drain();
  folder_ = WithSlash(folder);
  if (folder_.empty()) return true;
  wd_ = inotify_add_watch(fd_, folder_.c_str(), kNameChanges);
  return wd_ >= 0;
}

void FolderWatch::SetQuietRoots(std::string tempFolder, std::string dataRoot) {
  tempRoot_ = WithSlash(std::move(tempFolder));
  dataRoot_ = WithSlash(std::move(dataRoot));
}

bool FolderWatch::InQuietRoot() const {
  return StartsWith(folder_, tempRoot_) || StartsWith(folder_, dataRoot_);
}

bool FolderWatch::Drain() {
  if (fd_ < 0) return false;
  bool changed = false;
  alignas(inotify_event) char buf[16 * 1024];
  while (true) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: nothing more queued
    for (ssize_t off = 0; off < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (ev->mask & IN_Q_OVERFLOW) {
        changed = wd_ >= 0;
        continue;
      }
      if (wd_ < 0 || ev->wd != wd_) continue;
      if (ev->mask & IN_IGNORED) {
        // The folder itself went away: the watch is gone with it.
        wd_ = -1;
        changed = true;
        continue;
      }
      // Hidden files are never listed: index saves (a dot-file renamed over the index) are
      // not changes of what the folder shows.
      if (ev->len > 0 && IsHiddenFileName(std::string_view(ev->name, ::strnlen(ev->name, ev->len))))
        continue;
      changed = true;
    }
  }
  return changed;
}

bool FolderWatch::CheckFolderChanges(bool refresh) {
  if (fd_ < 0 || folder_.empty()) return false;
  if (!Drain()) return false;
  if (refresh && relist_ && !InQuietRoot()) {
    relist_(folder_);
    // The listing may have tidied the index (an atomic save renames a file): that is our own
    // change, not the user's.
    Drain();
  }
  return true;
}

}  // namespace px::store
