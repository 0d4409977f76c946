#pragma once
// Copy to... and Move to...: what a menu or keyboard operation on the grid's selection takes,
// and whether a folder may receive it.
#include "desk/tree_model.h"
#include "store/doc_record.h"

#include <string>
#include <vector>

namespace px::desk {

// The selected rows, in listing order, plus the hidden part rows of every selected collapsed
// message: a collapsed message is one thing to the user, so its parts go where it goes.
store::Selection SelectionWithHiddenParts(const store::DocRows& rows);

// The text to show when the folder node may not receive a copy (move false) or a move of the
// items in folders (their source folders) and folderItems (paths of folders being carried,
// ending in "/"); "" when it may.
std::string CarryTargetRefusal(const TreeNode* target, const std::vector<std::string>& sourceFolders,
                               const std::vector<std::string>& folderItems, bool move);

}  // namespace px::desk
