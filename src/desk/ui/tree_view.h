#pragma once
// The folder trees (TPXTreeView) and DeskBrowser, which ties the three trees, the document grid,
// the listing worker and the document operations together inside the desk window.
#include "desk/browser_menus.h"
#include "desk/browser_surfaces.h"
#include "desk/folder_pos.h"
#include "desk/folder_tree_model.h"
#include "desk/grid_layout.h"
#include "desk/grid_model.h"
#include "desk/grid_listing.h"
#include "desk/tree_model.h"
#include "foundation/random.h"
#include "store/op_services.h"
#include "store/folder_watch.h"
#include "store/pending_register.h"
#include "store/tree_watch.h"

#include <QElapsedTimer>
#include <QColor>
#include <QObject>
#include <QStyledItemDelegate>
#include <QHash>
#include <QIcon>
#include <QTreeView>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QTabWidget;

namespace px::store {
class DocOperations;
struct OpItem;
class UnreadList;
class NewMailList;
}  // namespace px::store

class QMenu;

namespace px::desk {

struct DeskState;
class GridPanel;
class IconWorker;
class TfrmDesk;

class TPXTreeView : public QTreeView {
  Q_OBJECT
public:
  TPXTreeView(int tab, QWidget* parent = nullptr);
  int tab() const { return tab_; }

  // The view's model: every change of the tree's children goes through it.
  FolderTreeModel& Model() { return model_; }
  // Shows root and its loaded children (the owner keeps the nodes).
  void SetRoot(TreeNode* root);
  TreeNode* CurrentNode() const { return FolderTreeModel::NodeOf(currentIndex()); }
  TreeNode* NodeAt(const QPoint& pos) const { return FolderTreeModel::NodeOf(indexAt(pos)); }
  QRect NodeRect(const TreeNode* node) const { return visualRect(model_.IndexOf(node)); }
  // Whether node is still one of the tree's nodes (a stale pointer is safe here).
  bool ShowsNode(const TreeNode* node) const { return model_.Contains(node); }
  void SelectNode(TreeNode* node);
  void ExpandNode(TreeNode* node);
  QIcon IconOf(int image) const;

  // Highlighting of the counts (Highlight Font Bold, Use Highlight Font Color).
  bool countBold = true;
  QColor countColour;  // invalid: the text colour

signals:
  // The user (or the program, unless the view's signals are blocked) made node current.
  void CurrentNodeChanged(TreeNode* node);

private:
  FolderTreeModel model_;
  mutable QHash<int, QIcon> icons_;
  int tab_;
};

class TreeItemDelegate : public QStyledItemDelegate {
public:
  explicit TreeItemDelegate(TPXTreeView* view) : QStyledItemDelegate(view), view_(view) {}
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
  TPXTreeView* view_;
};

class DeskCarry;

class DeskBrowser : public QObject {
  Q_OBJECT
  // Carrying runs the browser's operations and follows its trees.
  friend class DeskCarry;

public:
  // The tab's page in the tab widget and its slot in the trees and roots.
  static int Ix(GridTab tab) { return static_cast<int>(tab); }

  // Block Sender (with the question) or Unblock Sender on the grid's menu: the stored form.
  void BlockSenderAction(const std::string& sender);
  // trees: the tab widget whose three pages take the files, contacts and tools trees;
  // gridHost: the frame the grid fills; status: the status-bar label for the grid's texts.
  DeskBrowser(DeskState& state, QTabWidget* trees, QWidget* gridHost, QLabel* status,
              QObject* parent = nullptr);
  ~DeskBrowser() override;

  void BuildTrees();
  void SelectFirstNode();
  void Relist();
  bool FolderSelected() const;
  bool FilesTabShown() const { return tab_ == GridTab::Files; }
  void RememberTopRow();
  void ClearGrid();
  // The clock tick: lists the shown folder again when it changed on disk, and reloads the tree
  // nodes whose subfolders changed (CheckTreeChanges).
  void CheckFolderChanges();
  void CheckTreeChanges();

  // TreeChange: selects and shows the node.
  void ShowNode(TreeNode* node, bool expand = false);
  // Tab switching; returns false when refused.
  bool SwitchTab(GridTab tab);
  GridTab CurrentTab() const { return tab_; }
  TreeNode* ShownNode() const { return shown_; }
  const std::string& ShownFolder() const { return shownFolder_; }

  // Actions on the grid's selection and the tree.
  void DeleteAction();
  void RenameAction();
  // Duplicate: a copy of the one selected file beside it, under the name asked for (given
  // directly by a caller that already has it).
  void aDuplicateExecute(std::optional<std::string> title = std::nullopt);
  // Copy to... / Move to...: the selection into a folder picked in the folder chooser.
  void CarryToAction(bool move);
  void CreateTreeNode(TreeNode* parent);
  void ColourClick(int record);
  void ApplyColour(int colour);
  void CheckTrash();

  // The button that shows the tools tree ("Options  >>"); pressing it again returns to the
  // tab shown before.
  QPushButton* optionsButton() const { return btnOptions_; }
  void ToggleOptions();

  // The mouse wheel over the grid, its scroll bar or a tree: moves the grid while its scroll
  // bar shows (true when it did).
  bool WheelGrid(int angleDelta);

  GridPanel* grid() const { return grid_; }
  TPXTreeView* tree(int tab) const { return trees_[tab]; }
  TreeNode* root(int tab) const { return roots_[tab].get(); }
  ListingWorker& listing() { return worker_; }
  const TreeEnvironment& environment() const { return env_; }
  TreeEnvironment& environment() { return env_; }

  // Opening documents belongs to the desk's document opener (true when it took the row);
  // otherwise files open with the desktop's default application (never an executable).
  std::function<bool(const store::DocRecord&)> openDocument;
  // Adds the document opener's entries (Open with, Print, New) to a row's context menu; row is
  // null over empty space. Actions added here run their own slots.
  std::function<void(QMenu&, const store::DocRecord* row)> extendContextMenu;
  // Nothing may be created in the shown folder.
  bool ShownRestricted() const { return shownRestricted(); }
  // Called when a listing has been swapped in (tests and the smoke benchmark).
  std::function<void()> listed;

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
  DeskCarry* carry() const { return carry_; }
  void SetCarry(DeskCarry* carry) { carry_ = carry; }
  // The documents opened from the desk: operations leave them alone (null: none are watched).
  void SetOpenDocuments(store::OpenDocuments* docs);
  // The dialogs of the actions (tests answer them from a script).
  void SetPrompts(std::unique_ptr<DeskPrompts> prompts) { prompts_ = std::move(prompts); }
  // What the grid's context menu offers over record (-1: empty space).
  GridMenu GridMenuFor(int record) const;

private:
  // Lists and operations need the data locations, known once the desk has started.
  void InitServices();
  store::OpCollaborators collaborators();
  store::DocOperations& ops() {
    InitServices();
    return *ops_;
  }
  void OnTreeSelected(int tab, TreeNode* node);
  void ListFolder(TreeNode* node, const std::string& folder);
  void ShowToolRows(TreeNode* node);
  void SwapIn(ListingOutcome& outcome, const std::string& folder);
  void RefreshCounts(const std::string& folder);
  void OnContextMenu(int record, const QPoint& pos);
  void OnTreeContextMenu(int tab, const QPoint& pos);
  void openRecord(int record);
  void WriteCollapse(int record, int flags);
  store::ListingContext listingContext() const;
  std::vector<store::OpItem> selectedItems() const;
  // The selection with the hidden parts of its collapsed messages.
  std::vector<store::OpItem> SelectedItemsWithParts() const;
  void AfterOperation(bool relistTree);
  bool shownRestricted() const;
  bool ShownBelow(const TreeNode* parent) const;
  void ReloadChildren(TreeNode* parent);
  void ReloadChildren(int tree, TreeNode* parent);
  bool InTrash(const std::string& folder) const;
  void DeleteFolderNode(TreeNode* node);
  void RenameFolderNode(TreeNode* node);

  bool eventFilter(QObject* watched, QEvent* e) override;

  DeskState& state_;
  QTabWidget* tabs_;
  WheelRows wheel_;
  QLabel* status_;
  std::unique_ptr<IconWorker> icons_;
  std::unique_ptr<DeskPrompts> prompts_;
  GridPanel* grid_ = nullptr;
  TPXTreeView* trees_[3] = {nullptr, nullptr, nullptr};
  std::unique_ptr<TreeNode> roots_[3];
  TreeEnvironment env_;
  ListingWorker worker_;
  FolderPositions positions_;
  RandomSource random_;
  // Not yet part of the desk: collisions take the proposed name, no open-document watch, no
  // Quickboard, no sorting rules.
  store::NullCollaborators absent_;
  // Pending marks follow the operations: the list is rebuilt from sent.ini after each run.
  std::unique_ptr<store::PendingRegisterRefresh> pendingRefresh_;
  store::OpenDocuments* openDocs_ = nullptr;
  DeskCarry* carry_ = nullptr;
  std::unique_ptr<store::DocOperations> ops_;
  // The lists were made here (into the desk state) for want of the desk's start-up.
  bool madeLists_ = false;
  GridTab tab_ = GridTab::Files;
  GridTab tabBeforeOptions_ = GridTab::Files;
  bool copyForNode_ = false;  // "move" reads as "copy" on the shown node
  QPushButton* btnOptions_ = nullptr;
  TreeNode* shown_ = nullptr;
  std::string shownFolder_;
  int pendingTopRow_ = -1;
  store::FolderWatch watch_;
  store::TreeWatch treeWatch_;
  bool relisting_ = false;
  uint64_t listingGen_ = 0;  // the busy cursor belongs to the latest listing only
  QElapsedTimer selectClock_;
};

// Puts the trees and the grid into the desk window and plugs them into its hooks.
DeskBrowser* InstallDeskBrowser(TfrmDesk& desk, DeskState& state);

}  // namespace px::desk
