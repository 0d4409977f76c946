#pragma once
// The folder trees on the screen (TPXTreeView, a plain view of one of the browser's tree
// models) and DeskBrowserView, which puts the trees and the document grid into the desk window,
// forwards their events to the browser (desk/desk_browser) and shows its menus and dialogs.
#include "desk/browser_surfaces.h"
#include "desk/desk_browser.h"
#include "desk/desk_commands.h"
#include "desk/folder_tree_model.h"
#include "desk/grid_layout.h"

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <functional>
#include <memory>

class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;

namespace px::desk {

struct DeskState;
class DeskCarry;
class GridPanel;
class IconWorker;
class TfrmDesk;

class TPXTreeView : public QTreeView, public TreeSurface {
  Q_OBJECT
public:
  TPXTreeView(int tab, FolderTreeModel& model, QWidget* parent = nullptr);
  int tab() const { return tab_; }

  // The view's model: every change of the tree's children goes through it.
  FolderTreeModel& Model() { return *model_; }
  TreeNode* CurrentNode() const override { return FolderTreeModel::NodeOf(currentIndex()); }
  TreeNode* NodeAt(const QPoint& pos) const { return FolderTreeModel::NodeOf(indexAt(pos)); }
  QRect NodeRect(const TreeNode* node) const { return model_ ? visualRect(model_->IndexOf(node)) : QRect(); }
  // Whether node is still one of the tree's nodes (a stale pointer is safe here).
  bool ShowsNode(const TreeNode* node) const { return model_ && model_->Contains(node); }
  void SelectNode(TreeNode* node) override;
  void ExpandNode(TreeNode* node) override;
  void SetCountLook(bool bold, std::optional<uint32_t> colour) override;
  QIcon IconOf(int image) const;

  // Highlighting of the counts (Highlight Font Bold, Use Highlight Font Color).
  bool countBold = true;
  QColor countColour;  // invalid: the text colour

signals:
  // The user (or the program) made node current.
  void CurrentNodeChanged(TreeNode* node);

private:
  // The browser owns the model; the view may outlive it for a moment at shutdown.
  QPointer<FolderTreeModel> model_;
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

class DeskBrowserView : public QObject {
  Q_OBJECT
public:
  // trees: the tab widget whose three pages take the files, contacts and tools trees;
  // gridHost: the frame the grid fills; status: the status-bar label for the grid's texts.
  DeskBrowserView(DeskState& state, QTabWidget* trees, QWidget* gridHost, QLabel* status,
                  QObject* parent = nullptr);
  ~DeskBrowserView() override;

  DeskBrowser& browser() const { return *browser_; }
  GridPanel* grid() const { return grid_; }
  TPXTreeView* tree(int tab) const { return trees_[tab]; }
  QTabWidget* tabs() const { return tabs_; }

  // The button that shows the tools tree ("Options  >>"); pressing it again returns to the
  // tab shown before.
  QPushButton* optionsButton() const { return btnOptions_; }
  void ToggleOptions();
  // Shows the current node of the tab the tab widget shows.
  void SelectFirstNode();

  // The mouse wheel over the grid, its scroll bar or a tree: moves the grid while its scroll
  // bar shows (true when it did).
  bool WheelGrid(int angleDelta);

  // Adds the document opener's entries (Open with, Print, New) to a row's context menu; row is
  // null over empty space. Actions added here run their own slots.
  std::function<void(QMenu&, const store::DocRecord* row)> extendContextMenu;
  DeskCarry* carry() const { return carry_; }
  // The desk's commands (New Message, New Text Document, ...) the context menus offer too.
  DeskCommands* commands = nullptr;
  // The row under the keyboard cursor, else the first selected one (-1: none).
  int CurrentRecord() const;
  void SetCarry(DeskCarry* carry) { carry_ = carry; }

private:
  void OnContextMenu(int record, const QPoint& pos);
  void OnTreeContextMenu(int tab, const QPoint& pos);
  bool eventFilter(QObject* watched, QEvent* e) override;

  DeskState& state_;
  QTabWidget* tabs_;
  QLabel* status_;
  WheelRows wheel_;
  std::unique_ptr<IconWorker> icons_;
  GridPanel* grid_ = nullptr;
  TPXTreeView* trees_[3] = {nullptr, nullptr, nullptr};
  QPushButton* btnOptions_ = nullptr;
  DeskCarry* carry_ = nullptr;
  std::unique_ptr<DeskBrowser> browser_;
};

// Puts the trees and the grid into the desk window and plugs them into its hooks.
DeskBrowser* InstallDeskBrowser(TfrmDesk& desk, DeskState& state);

}  // namespace px::desk
