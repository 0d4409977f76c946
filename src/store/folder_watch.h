#pragma once
// Change notification on the folder being shown: file-name changes in the folder itself (not
// its subtree), over inotify. Hidden files (dot-files, the index file) do not count: they are
// never listed, and the index is rewritten by every operation.
//
// The notification is polled, never waited for: CheckFolderChanges reads whatever is queued
// without blocking. The desk calls it with refresh set from its clock tick, which lists the
// folder again when something changed; every document operation calls it with refresh clear
// once it is done, which swallows the changes the program made itself so they do not cause a
// second listing.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace px::store {

struct InotifyEvent {
  int wd;
  uint32_t mask;
  std::string_view name;  // empty for events about the watched folder itself
};
// Reads every event queued on a non-blocking inotify descriptor and hands each to `onEvent`.
void DrainInotify(int fd, const std::function<void(const InotifyEvent&)>& onEvent);
// True when the event names a hidden file: those are never listed (index saves are a dot-file
// renamed over the index), so they are not changes of what a folder shows.
bool NamesHiddenFile(const InotifyEvent& ev);

class FolderWatch {
public:
  // Called to list the shown folder again (the desk keeps its top row and repaints).
  using Relist = std::function<void(const std::string& folder)>;

  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Watches `folder` instead of the previous one; "" just stops watching. Returns false when
  // the folder cannot be watched (it then counts as not watched). A folder listed from its
  // index (the Contacts folder, whose rows are index entries) changes when its index does, and
  // is listed again even inside the data root.
  bool Watch(const std::string& folder, bool listedFromIndex = false);
  void Close() { Watch(std::string()); }
  const std::string& Folder() const { return folder_; }
  bool Watching() const { return wd_ >= 0; }

  // Folders whose changes never cause a new listing: the temporary folder and the data root
  // (and everything below them).
  void SetQuietRoots(std::string tempFolder, std::string dataRoot);
  void SetRelist(Relist relist) { relist_ = std::move(relist); }

  // Drains the queued notifications. Returns true when the watched folder changed. With
  // refresh set and a change seen, the folder is listed again through the Relist callback
  // (unless it lies in a quiet root); the changes that listing makes itself are drained too.
  bool CheckFolderChanges(bool refresh);

  // The inotify descriptor (readable when a change is queued), or -1.
  int Descriptor() const { return fd_; }

private:
  bool Drain();
  bool InQuietRoot() const;

  int fd_ = -1;
  int wd_ = -1;
  bool fromIndex_ = false;
  std::string folder_;
  std::string tempRoot_;
  std::string dataRoot_;
  Relist relist_;
};

}  // namespace px::store
