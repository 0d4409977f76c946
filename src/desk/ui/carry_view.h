#pragma once
// Carrying in the desk window: the drag window TfrmDrag that shows what is in hand next to the
// pointer, and DeskCarry, which feeds the mouse, the keys and drag and drop (also with other
// programs, as text/uri-list) into the hand model; the drops, Ctrl+V and Restore run in the
// browser (DeskBrowser), which plans them as the menus do.
#include "desk/carry_hand.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QDrag;
class QTabBar;
class QMimeData;
class QMenu;

namespace px::desk {

class DeskBrowser;
class DeskBrowserView;
struct DeskState;
class TPXTreeView;

// The drag window: a borderless, half-translucent window without focus that carries a picture
// of what is in hand and follows the pointer at an offset.
class TfrmDrag : public QWidget {
public:
  explicit TfrmDrag(QWidget* owner = nullptr);
  void ShowPicture(const QPixmap& picture, QPoint offset, QPoint pointer);
  void Follow(QPoint pointer);
  const QPixmap& picture() const { return picture_; }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QPixmap picture_;
  QPoint offset_;
};

// The marker of the desk's own drags and clipboard contents (the process id).
inline constexpr const char* kCarryMime = "application/x-plumadex-carry";

class DeskCarry : public QObject {
  Q_OBJECT
public:
  DeskCarry(DeskBrowserView& view, DeskState& state, QWidget* window);
  ~DeskCarry() override;

  CarryHand& hand() { return hand_; }
  const DeskClipboard& clipboard() const { return clip_; }
  TfrmDrag* DragWindow() const { return drag_.data(); }

  // A drop of the hand's content on a node (a click while carrying, or a drop of a drag).
  void DropOnNode(TreeNode* node, Qt::KeyboardModifiers mods);
  // Files from another program dropped on a folder node (null: the shown folder).
  void DropFromOutside(const TreeNode* node, const std::vector<std::string>& paths, bool shift);
  // RightClick: puts down what is in hand.
  void PutDown();
  // Ctrl+C / Ctrl+X: the selection (with the hidden parts of collapsed messages) is remembered
  // and offered to other programs as files; Ctrl+V puts it (or files copied in another program)
  // into the shown folder.
  void CopySelection(bool cut);
  void Paste();
  // Restore: the selected documents of the trash go back where they came from.
  void RestoreSelection();
  bool RestoreAvailable() const;
  void RestoreFolder(TreeNode* node);
  // Any operation, listing, filing or transfer runs.
  bool Busy() const;
  // The picture, cursor and drag window for the hand as it is now.
  void Refresh();
  // The drag data of the selected rows (file paths for other programs).
  QMimeData* MimeOfSelection() const;

  // A selected row's menu chose Copy or Move: the drag default is set and the rows stay in hand.
  void KeepInHand(bool move);
  // Adds Copy / Move (and Restore in the trash) to a row's context menu.
  void ExtendRowMenu(QMenu& menu, int record);
  void ExtendTreeMenu(QMenu& menu, TreeNode* node);

  // Runs a drag of the hand's content to its end (unset: the system's drag and drop). Tests
  // play the other program.
  std::function<Qt::DropAction(QDrag& drag)> runDrag;

protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  bool GridMouse(QEvent* e);
  bool GridDrag(QEvent* e);
  bool TreeEvent(TPXTreeView* view, QEvent* e);
  bool AppEvent(QObject* watched, QEvent* e);
  void startDrag(bool folder);
  bool TabBarDrag(QEvent* e);
  QPixmap BuildPicture() const;
  void GiveSticker(int record);
  void FinishDrop();
  TreeNode* NodeOfPath(const std::string& path) const;
  // The node a delayed drop was aimed at, found again after the tree may have been rebuilt.
  TreeNode* StillThere(TPXTreeView* view, TreeNode* node, const std::string& path) const;
  void ContextKey();
  // The tree marks the shown node again (after showing a drop target).
  void ShowShownNode(TPXTreeView* view);

  DeskBrowserView& view_;
  DeskBrowser& browser_;
  DeskState& state_;
  QPointer<QWidget> window_;
  CarryHand hand_;
  DeskClipboard clip_;
  AutoExpand autoExpand_;
  QTimer tmrAutoExpand_;
  QElapsedTimer clock_;
  QPointer<TfrmDrag> drag_;
  // The viewports whose events are the grid's and the trees' (they may go before this object).
  QPointer<QWidget> gridViewport_;
  QPointer<QWidget> treeViewports_[3];
  bool overrideCursor_ = false;
  // The press in the grid: the record, the zone and whether the row was selected already.
  int pressRecord_ = -1;
  int pressZone_ = 0;
  bool pressWasSelected_ = false;
  bool namePress_ = false;
  // The press on a tree node.
  TreeNode* pressNode_ = nullptr;
  TPXTreeView* pressView_ = nullptr;
  bool dragging_ = false;
  bool droppedHere_ = false;  // a drag of ours ended on one of the desk's targets
  bool droppedOnNode_ = false;
  QPointer<QTabBar> tabBar_;  // hovering a tab during a drag shows that tab  // ... on a folder node, whose drop runs after the drag
};

}  // namespace px::desk
