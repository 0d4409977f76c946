#pragma once
// The desk's browser: what the three folder trees and the document grid show, and every action
// on them. It keeps the shown tab and node, lists folders (large ones in a worker), follows the
// shown folder and the expanded tree folders on disk, and runs the document operations after
// asking the core's decisions (PlanDelete, the refusal texts, the carry targets). The screen is
// reached only through GridSurface, TreeSurface and DeskPrompts, so it runs headless in tests.
#include "desk/browser_menus.h"
#include "desk/browser_surfaces.h"
#include "desk/carry_hand.h"
#include "desk/folder_pos.h"
#include "desk/folder_tree_model.h"
#include "desk/grid_layout.h"
#include "desk/grid_listing.h"
#include "desk/grid_model.h"
#include "desk/tree_model.h"
#include "foundation/random.h"
#include "store/folder_watch.h"
#include "store/op_services.h"
#include "store/pending_register.h"
#include "store/tree_watch.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace px::store {
class DocOperations;
struct OpItem;
}  // namespace px::store

namespace px::desk {

struct DeskState;

// The document operations' view of the desk: its index registry, lists, outgoing register,
// folders and message queue. Callers add their own busy display and watch.
store::OpServices DeskOpServices(DeskState& state, RandomSource& random);

class DeskBrowser : public QObject {
  Q_OBJECT

public:
  // The tab's slot in the trees and roots (and its page in the tab widget).
  static int Ix(GridTab tab) { return static_cast<int>(tab); }

  DeskBrowser(DeskState& state, GridSurface& grid, std::unique_ptr<DeskPrompts> prompts,
              QObject* parent = nullptr);
  ~DeskBrowser() override;

  // The trees on the screen (null: not shown).
  void SetTreeSurface(int tab, TreeSurface* tree) { trees_[tab] = tree; }
  // The dialogs of the actions (tests answer them from a script).
  void SetPrompts(std::unique_ptr<DeskPrompts> prompts) { prompts_ = std::move(prompts); }

  void BuildTrees();
  // Shows the current node of tab (the tab shown when none is given), or its root.
  void SelectFirstNode(std::optional<GridTab> tab = std::nullopt);
  void Relist();
  bool FolderSelected() const;
  bool FilesTabShown() const { return tab_ == GridTab::Files; }
  // The shown folder is watched for changes: on the files tab and on the contacts tab.
  bool WatchesShownFolder() const { return tab_ == GridTab::Files || tab_ == GridTab::Contacts; }
  void RememberTopRow();
  void ClearGrid();
  // The clock tick: lists the shown folder again when it changed on disk, and reloads the tree
  // nodes whose subfolders changed (CheckTreeChanges).
  void CheckFolderChanges();
  void CheckTreeChanges();
  // The open folders of the files and contacts trees are kept in the data root's
  // "expanded.lst" (written when they changed) and opened again when the trees are built.
  void RememberExpanded();
  void RestoreExpanded();

  // TreeChange: selects and shows the node.
  void ShowNode(TreeNode* node, bool expand = false);
  // The user made node current in the tree of tab.
  void OnTreeSelected(int tab, TreeNode* node);
  // Tab switching; returns false when refused.
  bool SwitchTab(GridTab tab);
  GridTab CurrentTab() const { return tab_; }
  // The tab the Options button returns to.
  GridTab TabBeforeOptions() const { return tabBeforeOptions_; }
  TreeNode* ShownNode() const { return shown_; }
  // The next ShowNode lists afresh even when it shows the same node (the node went away).
  void ForgetShownNode() { shown_ = nullptr; }
  const std::string& ShownFolder() const { return shownFolder_; }
  // Nothing may be created in the shown folder.
  bool ShownRestricted() const { return !shown_ || shown_->Restricted(); }
  // Whether the shown node is parent or lies below it.
  bool ShownBelow(const TreeNode* parent) const;
  bool InTrash(const std::string& folder) const;

  // Actions on the grid's selection and the tree.
  void DeleteAction();
  void RenameAction();
  // Duplicate: a copy of the one selected file beside it, under the name asked for (given
  // directly by a caller that already has it).
  void aDuplicateExecute(std::optional<std::string> title = std::nullopt);
  // Copy to... / Move to...: the selection into a folder picked in the folder chooser.
  void CarryToAction(bool move);
  void CreateTreeNode(TreeNode* parent);
  void DeleteFolderNode(TreeNode* node);
  void RenameFolderNode(TreeNode* node);
  // A click on a row's colour zone: the last colour at once, or the chooser.
  void ColourClick(int record);
  void ApplyColour(int colour);
  // A message bundle of the grid was opened or closed: kept in the row's flags.
  void WriteCollapse(int record, int flags);
  // Block Sender (with the question) or Unblock Sender on the grid's menu: the stored form.
  void BlockSenderAction(const std::string& sender);
  // A double click or Enter on a row. A document that opened is read: its unread mark goes.
  void OpenRecord(int record);
  // "Mark as read" / "Mark as unread" on the selected rows (the counts follow).
  void SetReadMark(bool read);
  // The trash node's picture follows its contents.
  void CheckTrash();
  // Empty trash bin on the trash node's menu.
  void EmptyTrashAction();

  // What the context menus offer over record (-1: empty space) and over node.
  GridMenu GridMenuFor(int record) const;
  TreeMenu TreeMenuFor(int tab, const TreeNode* node) const {
    return DecideTreeMenu(static_cast<GridTab>(tab), node, shown_);
  }

  // After an operation: save errors told, the trash looked at, the shown node's children read
  // again when relistTree, the grid listed again, the messages shown.
  void AfterOperation(bool relistTree);
  // Reads parent's children again keeping open nodes open (the shown tree's when no tab is
  // given); the shown node is found again by its folder.
  void ReloadChildren(TreeNode* parent);
  void ReloadChildren(int tab, TreeNode* parent);
  // The selection as operation items, and the same with the hidden parts of collapsed messages.
  std::vector<store::OpItem> SelectedItems() const;
  std::vector<store::OpItem> SelectedItemsWithParts() const;

  GridSurface* grid() const { return &grid_; }
  TreeNode* root(int tab) const { return roots_[tab].get(); }
  // The tree model of tab: every change of that tree's children goes through it.
  FolderTreeModel& Model(int tab) { return models_[tab]; }
  bool ListingRunning() const { return worker_.Running(); }
  ListingWorker& listing() { return worker_; }
  const TreeEnvironment& environment() const { return env_; }
  TreeEnvironment& environment() { return env_; }
  store::DocOperations& Operations() {
    InitServices();
    return *ops_;
  }
  // Milliseconds since the last node was chosen (timing of select-to-first-paint).
  qint64 MsSinceSelect() const { return selectClock_.isValid() ? selectClock_.elapsed() : -1; }

  // Opening documents belongs to the desk's document opener (true when it took the row);
  // otherwise files open with the desktop's default application (never an executable).
  std::function<bool(const store::DocRecord&)> openDocument;
  // Hands a file or folder to the desktop's default application.
  std::function<void(const std::string& path)> openWithDesktop;
  // Called when a listing has been swapped in (tests and the smoke benchmark).
  std::function<void()> listed;
  // The filter panel's test of a document: while set, listings of the Files tab keep only the
  // documents it passes.
  std::function<bool(const store::DocRecord&)> searchFilter;
  // Called with the folder whose rows the grid has just taken (before listed).
  std::function<void(const std::string& folder)> swappedIn;

  // The drag default in force: the saved Copy/Move setting, except that "move" reads as
  // "copy" while a restricted, desktop or favourites node is shown (until another node is
  // shown or the user picks the default again).
  bool DragMoves() const;
  void SetDragDefault(bool move);
  // Called when the drag default in force changed (the status-bar switch shows it).
  std::function<void()> dragDefaultChanged;

  // The hand (carrying): asked before a tab switch (false refuses it) and for the tab rules.
  std::function<bool(GridTab to)> beforeTabSwitch;
  std::function<HandState()> handState;
  // The documents opened from the desk: operations leave them alone (null: none are watched).
  void SetOpenDocuments(store::OpenDocuments* docs);
  // The Quickboard's buttons follow the documents and folders the operations move (null: none).
  void SetQuickboard(store::QuickboardLinks* quickboard);

  // ---- carrying: what the hand's drops, Ctrl+V and Restore do (planned in desk/carry_hand,
  // run as the menus' operations; the view only feeds the hand) ----
  // An operation, a listing or other work of the desk (busyElsewhere: filing, a transfer) runs:
  // drops are refused, never queued.
  bool Busy() const;
  std::function<bool()> busyElsewhere;
  // Called when a drop is taken, before it runs on (the view empties the hand).
  using DropTaken = std::function<void()>;
  struct CarryOutcome {
    DropAction action = DropAction::Ignore;  // what the plan decided (Refuse: told, the hand kept)
    int heldRecord = -1;                     // a sticker became this selected document
  };
  // What the hand holds dropped on node (a click while carrying, or the end of a drag).
  CarryOutcome DropCarried(CarryHand hand, TreeNode* node, bool ctrl, bool shift, const DropTaken& taken);
  // The files of the documents in hand: the selection, or the snapshot carried to another tab.
  std::vector<std::string> CarriedFiles(const CarryHand& hand) const;
  // Documents in hand given to a contact or group row of the contacts tab: a message to the
  // person, or to the group's members. False when the row is neither.
  bool GiveToContactRow(const store::DocRecord& row, const std::vector<std::string>& files, const DropTaken& taken);
  // The documents in hand given to a person (the address zone of a row).
  void GiveToAddress(const CarryHand& hand, const std::string& to, const DropTaken& taken);
  // A sticker in hand written onto a row (it stays in hand for further rows).
  void WriteStickerOn(int record, const std::string& sticker);
  // Files from another program dropped on a folder node (null: the shown folder): contact cards
  // on the contacts root or a group are imported there, others stored (PlanOutsideDrop).
  void DropFiles(const TreeNode* node, const std::vector<std::string>& paths, bool shift);
  // Ctrl+V of the desk's own clipboard into the shown folder (PlanPaste). cutTaken: the cut
  // documents went, so the clipboard is empty now.
  struct PasteOutcome {
    bool ran = false;
    bool cutTaken = false;
  };
  PasteOutcome Paste(DeskClipboard& clip);
  // Restore: the selected documents of the trash go back where they came from; a folder of the
  // trash too (RestoreTargetOf).
  bool RestoreAvailable() const;
  bool RestoreSelection();
  void RestoreFolder(TreeNode* node);

  // Sending documents to an address group belongs to the message window (unset: such drops do
  // nothing).
  std::function<void(const std::vector<std::string>& files, const std::string& groupFolder)> sendToGroup;
  // Documents carried onto a person: a new message to the address with the files attached.
  std::function<void(const std::vector<std::string>& files, const std::string& to)> sendToPerson;
  // Contact cards (.vcf) from another program dropped on the contacts root or a group: imported
  // into that folder. Unset: such drops are refused as any other file would be.
  std::function<void(const std::vector<std::string>& cards, const std::string& folder)> importCards;

signals:
  // The tab shown changed (by the user or by the program).
  void TabChanged(px::desk::GridTab tab);

private:
  // Lists and operations need the data locations, known once the desk has started.
  void InitServices();
  store::OpCollaborators collaborators();
  void RemakeOperations();
  store::DocOperations& ops() { return Operations(); }
  void ListFolder(TreeNode* node, const std::string& folder);
  void ShowToolRows(TreeNode* node);
  void SwapIn(ListingOutcome& outcome, const std::string& folder);
  void RefreshCounts(const std::string& folder);
  void LooksChanged();
  store::ListingContext listingContext() const;
  void SelectQuietly(int tab, TreeNode* node);
  // Shows a warning at once (the actions run at a safe point of the event loop).
  void Warn(std::string_view text);
  // The node of a folder in the trees (the shown tab's first).
  TreeNode* NodeOfPath(const std::string& path) const;
  void CarryDocuments(TreeNode* node, bool move, const DropTaken& taken);
  void CarryFolder(const std::string& path, TreeNode* node, bool move, const DropTaken& taken);
  void DuplicateCarried(const DropTaken& taken);
  int StickerToDocument(const CarryHand& hand, TreeNode* node, const DropTaken& taken);
  void StoreFiles(const std::vector<std::string>& files, const std::string& folder, bool move);
  // A folder moved from oldParent into the folder target: both nodes are read again and the
  // shown node, when it went with the folder, is shown where it is now.
  void FollowMovedFolder(TreeNode* oldParent, const std::string& targetPath, const std::string& movedPath,
                         bool shownInside);
  // Writes the unread mark of the given rows of the grid; the rows and the counts follow.
  void WriteReadMark(const std::vector<int>& records, bool read);

  DeskState& state_;
  GridSurface& grid_;
  std::unique_ptr<DeskPrompts> prompts_;
  TreeSurface* trees_[3] = {nullptr, nullptr, nullptr};
  std::unique_ptr<TreeNode> roots_[3];
  FolderTreeModel models_[3];
  TreeEnvironment env_;
  ListingWorker worker_;
  FolderPositions positions_;
  RandomSource random_;
  // The parts not (yet) given to the browser.
  store::NullCollaborators absent_;
  // Name collisions are asked through the browser's dialogs.
  class PromptResolver final : public store::CollisionResolver {
  public:
    explicit PromptResolver(DeskBrowser& b) : b_(b) {}
    store::CollisionAnswer Ask(const store::CollisionQuestion& q) override;

  private:
    DeskBrowser& b_;
  };
  PromptResolver resolver_{*this};
  // Pending marks follow the operations: the list is rebuilt from sent.ini after each run.
  std::unique_ptr<store::PendingRegisterRefresh> pendingRefresh_;
  store::OpenDocuments* openDocs_ = nullptr;
  store::QuickboardLinks* quickboard_ = nullptr;
  std::unique_ptr<store::DocOperations> ops_;
  // The lists were made here (into the desk state) for want of the desk's start-up.
  bool madeLists_ = false;
  GridTab tab_ = GridTab::Files;
  GridTab tabBeforeOptions_ = GridTab::Files;
  bool copyForNode_ = false;  // "move" reads as "copy" on the shown node
  TreeNode* shown_ = nullptr;
  std::string shownFolder_;
  int pendingTopRow_ = -1;
  store::FolderWatch watch_;
  store::TreeWatch treeWatch_;
  StringList savedExpanded_;  // what expanded.lst holds
  bool relisting_ = false;
  bool quiet_ = false;  // selections reported by the views now are the program's own
  uint64_t listingGen_ = 0;  // the busy cursor belongs to the latest listing only
  QElapsedTimer selectClock_;
};

}  // namespace px::desk
