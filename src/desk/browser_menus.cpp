#include "desk/browser_menus.h"

namespace px::desk {

namespace {

std::string NewFolderText(GridTab tab) {
  return tab == GridTab::Contacts ? "New Address Group..." : "New Folder...";
}

}  // namespace

bool NodeIsMovable(const TreeNode& node) {
  return (node.image == niFolder || node.image == niGroup || node.image == niFavoritesSub) && !node.Restricted();
}

GridMenu DecideGridMenu(const GridMenuInput& in) {
  GridMenu m;
  if (in.tab == GridTab::Tools) return m;
  m.shown = true;
  m.rename = !in.shownRestricted && in.selected == 1;
  m.duplicate = !in.shownRestricted && in.selected == 1;
  // Contacts are deleted from any node of the contacts tree (a group loses the member only).
  m.del = !in.shownRestricted || in.tab == GridTab::Contacts;
  m.newFolder = !in.shownRestricted && in.shownHasFolder;
  m.newFolderText = NewFolderText(in.tab);
  m.markRead = in.tab == GridTab::Files && in.selectedUnread > 0;
  m.markUnread = in.tab == GridTab::Files && in.selectedRead > 0;
  m.newMessage = true;
  if (!in.blockableSender.empty()) {
    m.blockText = in.senderBlocked ? "Unblock Sender" : "Block Sender";
    m.sender = in.blockableSender;
  }
  return m;
}

TreeMenu DecideTreeMenu(GridTab tab, const TreeNode* node, const TreeNode* shown) {
  TreeMenu m;
  if (tab == GridTab::Tools) return m;
  if (!node) {
    m.shown = true;
    m.newFolder = shown && !shown->Restricted() && !shown->path.empty();
    m.newFolderText = NewFolderText(tab);
    return m;
  }
  m.shown = true;
  m.onNode = true;
  m.newFolder = !node->Restricted() && !node->path.empty();
  m.rename = NodeIsMovable(*node);
  m.del = NodeIsMovable(*node);
  m.emptyTrash = node->image == niTrashFull;
  m.newFolderText = NewFolderText(tab);
  return m;
}

}  // namespace px::desk
