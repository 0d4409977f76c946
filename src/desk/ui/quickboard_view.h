#pragma once
// DashBoard: the Quickboard bar on the screen, a view of the Quickboard model. Large buttons in
// up to six rows; a click does what the model's mode says, a right click opens the bar's menu,
// a press-drag moves an icon to another button, and files dropped on a button become its item
// (or open with the program it holds).
#include "desk/quickboard.h"

#include <QIcon>
#include <QPointer>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <vector>

class QGridLayout;
class QMenu;
class QMimeData;

namespace px::desk {

class DashBoardButton;

class DashBoard : public QWidget {
  Q_OBJECT
public:
  static constexpr int kButtonWidth = 64;
  static constexpr int kButtonHeight = 56;

  DashBoard(Quickboard& model, QWidget* parent = nullptr);

  Quickboard& model() { return model_; }
  // Lays the buttons out again from the model (columns from the width).
  void Rebuild();
  DashBoardButton* Button(int slot) const;
  int ButtonCount() const { return static_cast<int>(buttons_.size()); }
  // The icon a slot shows.
  QIcon IconOf(const QuickboardItem& item) const;
  // The hint of a slot's item (the contact summary for a contact when summaryOf is set).
  QString HintOf(const QuickboardItem& item) const;
  // Slot under a point of this widget, or -1.
  int SlotAt(QPoint pos) const;

  // A click in Normal mode on a filled slot.
  std::function<void(const QuickboardItem&)> openItem;
  // Customise mode picked a slot.
  std::function<void(int slot)> customiseItem;
  // Mail-sort mode picked a folder slot.
  std::function<void(const std::string& folder)> sortRule;
  // Files dropped on a program slot.
  std::function<void(const std::string& program, const std::vector<std::string>& files)> openWith;
  // A click while the desk carries something: true when the drop was taken (the desk puts the
  // hand down).
  std::function<bool(int slot)> dropCarried;
  // The contact summary of a contact item ("" when none).
  std::function<QString(const QuickboardItem&)> summaryOf;
  // Extra entries of the bar's context menu (the desk's commands).
  std::function<void(QMenu& menu, int slot)> extendMenu;

  // The context menu over a slot (-1: the bar itself).
  void ShowMenu(int slot, QPoint globalPos);

signals:
  void rowsChanged(int rows);

protected:
  void resizeEvent(QResizeEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  friend class DashBoardButton;
  void ButtonClicked(int slot);
  void HandleDrop(int slot, const QMimeData* mime);
  int ColumnsForWidth(int width) const;

  Quickboard& model_;
  QGridLayout* grid_ = nullptr;
  std::vector<DashBoardButton*> buttons_;
  QPoint pressPos_;
  int pressSlot_ = -1;
};

// One button: the item's icon, its hint, and the user's caption drawn over the lower left corner.
class DashBoardButton : public QToolButton {
  Q_OBJECT
public:
  DashBoardButton(DashBoard& bar, int slot);
  int slot() const { return slot_; }
  QString label;

protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

private:
  DashBoard& bar_;
  int slot_;
  QPoint pressPos_;
};

// The MIME type of a Quickboard icon being dragged to another button.
inline constexpr const char* kQuickboardSlotMime = "application/x-plumadex-quickboard-slot";

}  // namespace px::desk
