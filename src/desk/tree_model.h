#pragma once
// The desk's three folder trees (files, contacts, tools) as a headless model: node kinds with
// their images, sort ranks and permissions, lazy loading of children from disk and from the
// special roots (desktop, applications menu, mounted volumes, network places, favourites), the
// unread counts and marks a node shows, and the decision of what a drop onto a node does.
#include "desk/grid_tab.h"
#include "store/unread_list.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace px::store {
class IniRegistry;
}

namespace px::desk {

// Node kinds by image index (the selected image is the next index).
enum NodeImage : int {
  niFolder = 0,
  niRoot = 2,          // the documents folder
  niTrashFull = 4,
  niTrashEmpty = 5,
  niOptions = 6,       // root of the tools tree
  niDesktop = 8,       // desktop under the files root
  niDesktopTools = 10, // desktop under "Options"
  niNewDocuments = 12,
  niStartMenu = 14,    // the applications menu and its subfolders
  niContacts = 16,     // root of the contacts tree
  niGroup = 18,        // address group
  niComputer = 20,
  niDrive = 22,
  niDrive2 = 24,
  niDrive3 = 26,
  niNetwork = 28,
  niFavorites = 30,
  niFavoritesSub = 32,
};

// Mark icons drawn left of the count.
enum class NodeMark { None, NewMail = 8, Pending = 6, NewMailAndPending = 23 };

int ChildImageOf(int image);   // -1 when the kind has no children of its own kind
int SortRankOf(int image);
// Nothing may be created, renamed or deleted in a restricted node. bookmarks: the favourites
// node shows converted browser bookmarks.
bool IsRestrictedImage(int image, bool bookmarks = false);
// Nodes that open a tool page (rows of shell items) instead of a folder listing.
bool IsToolImage(int image);
bool AcceptsDropsImage(int image, bool bookmarks = false);
// Nodes that show the unread count's marks (ordinary folders, the root, the trash, desktop).
bool ShowsMarksImage(int image);

struct TreeNode {
  std::string caption;
  std::string path;            // folder path ending in "/" ("" for pure shell nodes)
  int image = niFolder;
  bool hasSubfolders = false;  // shows an expander before the children are loaded
  bool restricted = false;     // inherited by children
  bool childrenLoaded = false;
  bool expanded = false;
  store::UnreadCount unread;   // own and total unread entries (two separate numbers)
  int64_t searchHits = -1;     // during a search: hits below the node (plain count)
  std::vector<std::string> shellFolders;  // folders whose items a tool node lists
  TreeNode* parent = nullptr;
  std::vector<std::unique_ptr<TreeNode>> children;
  // Where the node last stood among its parent's children: a hint, checked before use.
  mutable int rowHint = -1;

  bool Restricted(bool bookmarks = false) const {
    return restricted || IsRestrictedImage(image, bookmarks);
  }
  int Depth() const;
  TreeNode* AddChild(std::unique_ptr<TreeNode> child);
};

// One mounted volume or network place.
struct MountItem {
  std::string caption;  // display name
  std::string path;     // mount point, ending in "/"
};

// Where the special roots come from. Tests give fixed folders and lists; the desk fills it
// from the locations and the system (see SystemTreeEnvironment).
struct TreeEnvironment {
  std::string documentsFolder;
  std::string trashFolder;
  std::string contactsFolder;
  std::string desktopFolder;               // XDG desktop folder ("" when there is none)
  std::string favoritesFolder;             // a folder of link files in the data root
  std::vector<std::string> applicationFolders;  // XDG applications folders, user's first
  std::function<std::vector<MountItem>()> volumes;
  std::function<std::vector<MountItem>()> networkPlaces;
  store::IniRegistry* registry = nullptr;  // index files are read through it when set
  std::function<store::UnreadCount(const std::string& folder)> unreadOf;
  bool firstNameFirst = true;
};

// The environment of the running system: XDG desktop and application folders, mounted volumes
// (QStorageInfo) and network mounts. Folders come from the locations given.
TreeEnvironment SystemTreeEnvironment(const std::string& documentsFolder,
                                      const std::string& trashFolder,
                                      const std::string& contactsFolder,
                                      const std::string& dataRoot);

// Rebuilds the node's children (LoadTreeChildren).
void LoadTreeChildren(TreeNode& node, const TreeEnvironment& env);
// The same, keeping the expanded children that are still there (same folder, same kind) with
// their own subtrees, so that refreshing one node collapses nothing else. Nodes kept are the
// same objects as before; the others are new.
void ReloadTreeChildren(TreeNode& node, const TreeEnvironment& env);
// The folders of the expanded nodes below and including root whose children are loaded: the
// folders whose subfolders the tree shows.
std::set<std::string> ExpandedFolders(const TreeNode& root);
// The loaded, expanded node showing folder below root (no loading on the way), or nullptr.
TreeNode* FindExpandedNode(TreeNode& root, const std::string& folder);
// The folders of every node a tree shows (the root and everything below open nodes), open or
// not, with children or without: a subfolder made in any of them must show at once.
std::set<std::string> ShownFolders(const TreeNode& root);
// The shown node of folder (null when it is not among them).
TreeNode* FindShownNode(TreeNode& root, const std::string& folder);
// Sorts the node's children: by rank, then caption without regard to case (drives by letter).
void SortTreeChildren(TreeNode& node);
// Less-than of two siblings under the sort above.
bool TreeSiblingLess(const TreeNode& a, const TreeNode& b);

// The three roots.
std::unique_ptr<TreeNode> MakeFilesRoot(const TreeEnvironment& env);
std::unique_ptr<TreeNode> MakeContactsRoot(const TreeEnvironment& env);
std::unique_ptr<TreeNode> MakeToolsRoot(const TreeEnvironment& env);

// Depth-first search for the node showing folder (case-sensitive); loads children on the way
// down when load is set (FindTreeNode).
TreeNode* FindTreeNode(TreeNode& root, const std::string& folder, const TreeEnvironment* load);

// Refreshes the unread counts of every node whose path is folder or lies above it.
void RefreshUnreadCounts(TreeNode& root, const std::string& folder, const TreeEnvironment& env);

// ---- what a node shows ----

struct NodeLook {
  std::string count;   // " [n] " or ""
  NodeMark mark = NodeMark::None;
};
// newMail / pending tell whether a folder has new or pending mail (paths as stored).
NodeLook LookOfNode(const TreeNode& node, bool searching,
                    const std::function<bool(const std::string&)>& hasNewMail,
                    const std::function<bool(const std::string&)>& hasPending,
                    const std::function<bool(const std::string&)>& newMailBelow,
                    const std::function<bool(const std::string&)>& pendingBelow);

// ---- drops ----

enum class DragKind { None, Documents, Folder, Contacts, Stickers, MailSort };
enum class DropAction {
  Ignore,
  Refuse,          // message says why
  AddSortRule,     // a new mail-sorting rule for the folder
  AddGroupMembers, // contacts become members of the address group
  SendToGroup,     // documents or stickers are sent to the group's members
  MakeSticker,     // a sticker becomes a sticker document in the shown folder
  Duplicate,       // one document onto its own folder with the copy default
  Copy,
  Move,
};

struct DropInput {
  GridTab tab = GridTab::Files;
  DragKind what = DragKind::None;
  const TreeNode* target = nullptr;
  bool targetIsShown = false;   // the node is the one whose folder the grid shows
  bool bookmarks = false;       // favourites are converted bookmarks
  bool copyMoveIsMove = false;  // the drag default
  std::string sourceFolder;     // folder of the dragged documents or of the dragged folder
  int count = 0;                // documents dragged
  bool fromFilesTab = true;
  std::string trashFolder;
  std::string contactsFolder;
};

struct DropDecision {
  DropAction action = DropAction::Ignore;
  std::string message;
};

DropDecision DecideDrop(const DropInput& in);

// The drag default while a node is shown: "move" becomes "copy" on restricted, desktop and
// favourites nodes.
bool EffectiveMoveDefault(bool copyMoveIsMove, const TreeNode& node, bool bookmarks = false);

// ---- tabs ----

enum class HandState { Empty, Documents, Snapshot, Other };
// Whether the user may switch away from the current tab.
bool TabChangeAllowed(bool busy, HandState hand, GridTab currentTab);

struct TabLook {
  int header = 0;                // 0 hcSort with filter tabs, 1 hcContacts, -1 none
  std::string optionsButton;     // "Options  >>" or "<<  Options"
  bool searchEnabled = false;
  bool activityVisible = true;
  bool activityEnabled = false;
  int hintDelayMs = 500;
};
TabLook TabLookOf(GridTab tab);

// ---- tool node rows ----

struct ShellItem {
  std::string title;   // display name
  std::string path;    // full path of the item
};
// Non-folder items of the node's shell folders, sorted by name: desktop files, application
// entries (.desktop files, titled by their Name), volumes on "My Computer", network places.
std::vector<ShellItem> ShellItemsOf(const TreeNode& node, const TreeEnvironment& env);
// The captions of the eight option pages, in page order, and their pictures.
const std::vector<std::pair<std::string, int>>& OptionPages();
// The Name of a .desktop entry (its file name without extension when it has none).
std::string DesktopEntryName(const std::string& path);

}  // namespace px::desk
