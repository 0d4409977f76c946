#pragma once
// What the grid's and the trees' context menus offer and enable: decided here so that the menus
// on the screen only show the answer.
#include "desk/grid_layout.h"
#include "desk/tree_model.h"

#include <cstddef>
#include <string>

namespace px::desk {

struct GridMenuInput {
  GridTab tab = GridTab::Files;
  bool shownRestricted = true;   // nothing may be created or changed in the shown node
  bool shownHasFolder = false;   // the shown node is a folder of its own
  size_t selected = 0;           // rows selected
  std::string blockableSender;   // a received row's sender ("": none, or no blocked-senders list)
  bool senderBlocked = false;
  size_t selectedUnread = 0;     // selected documents marked unread
  size_t selectedRead = 0;       // selected documents not marked unread
};

struct GridMenu {
  bool shown = false;            // the tools tab has no menu
  bool rename = false;
  bool duplicate = false;
  bool del = false;
  bool newFolder = false;
  std::string newFolderText;     // "New Folder..." or "New Address Group..."
  bool markRead = false;         // "Mark as Read": some selected document is unread
  bool markUnread = false;       // "Mark as Unread": some selected document is read
  bool newMessage = false;       // "New Message" (files and contacts)
  std::string blockText;         // "Block Sender", "Unblock Sender" or "" (no entry)
  std::string sender;            // whom the block entry is about
};

GridMenu DecideGridMenu(const GridMenuInput& in);

struct TreeMenu {
  bool shown = false;            // no menu outside a node and on the tools tree
  bool newFolder = false;
  bool rename = false;
  bool del = false;
  bool emptyTrash = false;       // "Empty trash bin" is offered
  bool onNode = false;           // the menu is about a node (not the empty space)
  std::string newFolderText;
};

// node null: the empty space below the nodes, which offers what is made there (new folder in
// the shown node, new message, paste) and nothing about a node.
TreeMenu DecideTreeMenu(GridTab tab, const TreeNode* node, const TreeNode* shown = nullptr);

// Nodes the user may rename, delete or move: ordinary folders, address groups and favourites
// subfolders outside restricted places.
bool NodeIsMovable(const TreeNode& node);

}  // namespace px::desk
