#include "store/newmail_list.h"

#include "store/unread_list.h"

#include <vector>

namespace px::store {

void NewMailList::Load(const std::string& file) {
  folders_.clear();
  for (const auto& line : ReadListFile(file))
    if (!line.empty()) folders_.insert(UnreadKeyOf(line));
}

FileStatus NewMailList::Save(const std::string& file) const {
  return SaveListFile(file, StringList(folders_.begin(), folders_.end()));
}

bool NewMailList::Add(std::string_view folder) {
  const std::string key = UnreadKeyOf(folder);
  return !key.empty() && folders_.insert(key).second;
}

bool NewMailList::Remove(std::string_view folder) {
  return folders_.erase(UnreadKeyOf(folder)) > 0;
}

bool NewMailList::Contains(std::string_view folder) const {
  return folders_.count(UnreadKeyOf(folder)) > 0;
}

void NewMailList::MoveFolder(std::string_view oldFolder, std::string_view newFolder) {
  const std::string from = UnreadKeyOf(oldFolder), to = UnreadKeyOf(newFolder);
  if (from.empty() || to.empty() || from == to) return;
  std::vector<std::string> moved;
  for (auto it = folders_.lower_bound(from); it != folders_.end();) {
    if (it->compare(0, from.size(), from) != 0) break;
    moved.push_back(to + it->substr(from.size()));
    it = folders_.erase(it);
  }
  folders_.insert(moved.begin(), moved.end());
}

}  // namespace px::store
