#pragma once
// Change notification on the folders whose subfolders a tree shows (its expanded nodes):
// subfolders made, removed or renamed there by anyone (a shell, another program, the command
// line), over inotify. Polled like FolderWatch, never waited for.
#include <map>
#include <set>
#include <string>
#include <vector>

namespace px::store {

class TreeWatch {
public:
  TreeWatch();
  ~TreeWatch();
  TreeWatch(const TreeWatch&) = delete;
  TreeWatch& operator=(const TreeWatch&) = delete;

  // Watches exactly these folders (each ending in "/"): new ones are added, the others dropped.
  // A folder that cannot be watched is left out.
  void SetFolders(const std::set<std::string>& folders);
  const std::map<std::string, int>& Folders() const { return byFolder_; }

  // Drains the queued notifications: the watched folders whose set of subfolders changed
  // (hidden folders do not count), in path order. A watched folder that went away is reported
  // too, and no longer watched.
  std::vector<std::string> TakeChangedFolders();

private:
  int fd_ = -1;
  std::map<std::string, int> byFolder_;  // folder -> watch descriptor
  std::map<int, std::string> byWatch_;
};

}  // namespace px::store
