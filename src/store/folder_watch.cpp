#include "store/folder_watch.h"

#include "store/folder_files.h"

#include "store/folder_listing.h"
#include "store/index_file.h"

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

bool FolderWatch::Watch(const std::string& folder, bool listedFromIndex) {
  if (fd_ < 0) return false;
  fromIndex_ = listedFromIndex;
  if (wd_ >= 0) inotify_rm_watch(fd_, wd_);
  wd_ = -1;
  // Events still queued for the old folder are of no interest any more.
  Drain();
  folder_ = WithSlash(folder);
  if (folder_.empty()) return true;
  // Rows that are index entries also change when entries are added to the index in place.
  wd_ = inotify_add_watch(fd_, folder_.c_str(), kNameChanges | (fromIndex_ ? IN_CLOSE_WRITE : 0u));
  return wd_ >= 0;
}

void FolderWatch::SetQuietRoots(std::string tempFolder, std::string dataRoot) {
  tempRoot_ = WithSlash(std::move(tempFolder));
  dataRoot_ = WithSlash(std::move(dataRoot));
}

bool FolderWatch::InQuietRoot() const {
  if (fromIndex_) return false;
  return StartsWith(folder_, tempRoot_) || StartsWith(folder_, dataRoot_);
}

void DrainInotify(int fd, const std::function<void(const InotifyEvent&)>& onEvent) {
  alignas(inotify_event) char buf[16 * 1024];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: nothing more queued
    for (ssize_t off = 0; off < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      onEvent({ev->wd, ev->mask, std::string_view(ev->name, ev->len > 0 ? ::strnlen(ev->name, ev->len) : 0)});
    }
  }
}

bool NamesHiddenFile(const InotifyEvent& ev) {
  return !ev.name.empty() && IsHiddenFileName(ev.name);
}

bool FolderWatch::Drain() {
  if (fd_ < 0) return false;
  bool changed = false;
  DrainInotify(fd_, [&](const InotifyEvent& ev) {
    if (ev.mask & IN_Q_OVERFLOW) {
      changed = changed || wd_ >= 0;
      return;
    }
    if (wd_ < 0 || ev.wd != wd_) return;
    if (ev.mask & IN_IGNORED) {
      // The folder itself went away: the watch is gone with it.
      wd_ = -1;
      changed = true;
      return;
    }
    if (ev.mask & IN_CLOSE_WRITE) {
      if (fromIndex_ && IsIndexFileName(ev.name)) changed = true;
      return;
    }
    if (!NamesHiddenFile(ev) || (fromIndex_ && IsIndexFileName(ev.name))) changed = true;
  });
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
