#pragma once
// Per-folder scroll memory: the top row and the sort order in force when a folder was left,
// so that returning to it shows the same place when the order has not changed since.
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace px::desk {

struct TFolderPos {
  int topRow = 0;
  int sortOrder = 0;
};

class FolderPositions {
public:
  // The folder is being left with this top row and sort order.
  void Remember(std::string_view folder, int topRow, int sortOrder);
  // The top row to restore when the folder is shown with sortOrder; nothing when the folder
  // was never left or was left under another order.
  std::optional<int> Restore(std::string_view folder, int sortOrder) const;
  // A folder moved or renamed: its memory (and that of the folders below it) follows.
  void MoveFolder(std::string_view oldFolder, std::string_view newFolder);
  void Forget(std::string_view folder);
  size_t Size() const { return positions_.size(); }

private:
  // Keyed by folder path as shown (paths keep their case).
  std::map<std::string, TFolderPos, std::less<>> positions_;
};

}  // namespace px::desk
