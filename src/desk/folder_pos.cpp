#include "desk/folder_pos.h"

#include <vector>

namespace px::desk {

namespace {
std::string Key(std::string_view folder) {
  std::string k(folder);
  if (!k.empty() && k.back() != '/') k += '/';
  return k;
}
}  // namespace

void FolderPositions::Remember(std::string_view folder, int topRow, int sortOrder) {
  if (folder.empty()) return;
  positions_[Key(folder)] = TFolderPos{topRow < 0 ? 0 : topRow, sortOrder};
}

std::optional<int> FolderPositions::Restore(std::string_view folder, int sortOrder) const {
  auto it = positions_.find(Key(folder));
  if (it == positions_.end() || it->second.sortOrder != sortOrder) return std::nullopt;
  return it->second.topRow;
}

void FolderPositions::MoveFolder(std::string_view oldFolder, std::string_view newFolder) {
  const std::string from = Key(oldFolder), to = Key(newFolder);
  if (from.empty() || from == to) return;
  std::vector<std::pair<std::string, TFolderPos>> moved;
  for (auto it = positions_.lower_bound(from); it != positions_.end() && it->first.starts_with(from);) {
    moved.emplace_back(to + it->first.substr(from.size()), it->second);
    it = positions_.erase(it);
  }
  for (auto& [k, v] : moved) positions_[k] = v;
}

void FolderPositions::Forget(std::string_view folder) { positions_.erase(Key(folder)); }

}  // namespace px::desk
