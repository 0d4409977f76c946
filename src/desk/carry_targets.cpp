#include "desk/carry_targets.h"

namespace px::desk {

store::Selection SelectionWithHiddenParts(const store::DocRows& rows) {
  store::Selection out;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!rows[i].selected) continue;
    out.push_back(store::MakeSelectionRecord(rows[i], i));
    if (!(rows[i].searchState & store::rsHasChildren)) continue;
    // The parts follow their message; hidden ones come along unasked.
    size_t j = i + 1;
    for (; j < rows.size() && (rows[j].searchState & store::rsChild); ++j)
      if (rows[j].selected || (rows[j].searchState & store::rsCollapsedChild))
        out.push_back(store::MakeSelectionRecord(rows[j], j));
    i = j - 1;
  }
  return out;
}

std::string CarryTargetRefusal(const TreeNode* target, const std::vector<std::string>& sourceFolders,
                               const std::vector<std::string>& folderItems, bool move) {
  // Favourites hold links and the contacts tree holds cards: neither takes documents here.
  if (!target || target->path.empty() || target->Restricted() || !AcceptsDropsImage(target->image) ||
      target->image == niFavorites || target->image == niFavoritesSub || target->image == niContacts ||
      target->image == niGroup)
    return "Sorry, but you cannot put files into this folder.";
  for (const auto& f : folderItems)
    if (target->path.starts_with(f)) return "Sorry, but a folder cannot go into itself.";
  if (move) {
    bool elsewhere = false;
    for (const auto& s : sourceFolders) elsewhere = elsewhere || s != target->path;
    if (!elsewhere) return "The files are already in this folder.";
  }
  return {};
}

}  // namespace px::desk
