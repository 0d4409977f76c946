#pragma once
// The document grid: the view-filter tabs, the header (hcSort on the files tab, hcContacts on
// the contacts tab) and the rows (TheGrid). The rows are painted straight from the grid model's
// visible-row index, only those on screen; everything the rows mean lives in GridModel.
#include "desk/browser_surfaces.h"
#include "desk/grid_keys.h"
#include "desk/grid_layout.h"
#include "desk/grid_model.h"
#include "desk/grid_zones.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QHash>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QTabBar;

namespace px {
class Settings;
}

namespace px::desk {

class IconWorker;
class TPXProgressBar;
class GridPanel;

struct GridLook {
  bool highlightBold = true;
  bool useHighlightColor = false;
  QColor highlightColor = QColor(0, 0, 255);
  bool showSize = false;
};

// The colour of a colour label 1..15 (0: none).
QColor LabelColour(int colour);

class GridHeader : public QWidget {
  Q_OBJECT
public:
  explicit GridHeader(GridPanel& panel);
  QSize sizeHint() const override;

signals:
  void sectionClicked(int section);
  void sectionResized(int section, int newWidth, bool final);

protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;

private:
  int sectionAt(int x) const;
  int ResizableEdgeAt(int x) const;  // section whose right edge is under x, or -1
  GridPanel& panel_;
  int resizing_ = -1;
  int pressX_ = 0;
  int startWidth_ = 0;
};

class TheGrid : public QAbstractScrollArea {
  Q_OBJECT
public:
  explicit TheGrid(GridPanel& panel);
  int rowHeight() const { return rowHeight_; }
  int rowsShown() const;
  int topRow() const;
  void setTopRow(int row);
  int HotRow() const { return hotRow_; }  // visible row under the pointer, -1
  int HotZone() const { return hotRow_ >= 0 ? hotZone_ : 0; }  // its zone under the pointer
  void SetHotRow(int row);
  // The keyboard's current row (visible row, -1 none), drawn with a focus frame; a click on a
  // row makes it current and the anchor of Shift.
  int CurrentRow() const { return cursor_.current; }
  void SetCurrentRow(int row, bool anchor = true);
  void UpdateRange();
  void setRowHeight(int h) { rowHeight_ = h; }
  // Paint count since creation (the smoke benchmark waits for the first paint).
  int paints() const { return paints_; }
  // Called once, after the next paint (timing of select-to-first-paint).
  std::function<void()> afterNextPaint;

protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void scrollContentsBy(int dx, int dy) override;

private:
  int VisibleRowAt(int y) const;
  void PaintRow(QPainter& p, size_t visibleRow, int y);
  void ensureVisible(int row);
  GridPanel& panel_;
  int rowHeight_ = 24;
  int hotRow_ = -1;
  int hotZone_ = 0;
  GridCursor cursor_;
  int paints_ = 0;
};

class GridPanel : public QWidget, public GridSurface {
  Q_OBJECT
public:
  GridPanel(Settings* settings, IconWorker* icons, QWidget* parent = nullptr);
  ~GridPanel() override;

  GridModel& model() override { return model_; }
  const GridModel& model() const override { return model_; }
  TheGrid* grid() const { return grid_; }
  GridHeader* header() const { return header_; }
  QTabBar* ViewFilterTabs() const { return tabs_; }
  const GridColumns& columns() const { return columns_; }
  GridTab tab() const { return model_.options().tab; }
  const GridLook& look() const { return look_; }
  IconWorker* icons() const { return icons_; }

  // The tab whose rows are shown: header, sort order and column widths follow it.
  void SetTab(GridTab tab) override;
  // A new listing is shown (the model is taken over whole).
  void TakeModel(GridModel&& model) override;
  void SetRows(store::DocRows rows) override;
  void Clear() override;
  // The sort order of the shown tab (reads the settings).
  int CurrentSorting() const override;
  void SetSearchActive(bool on);
  // "My Computer" and "Network" ignore header clicks.
  void SetSortLocked(bool on) override { sortLocked_ = on; }
  // Tool pages sort by name whatever the setting says.
  void SetFixedSorting(int sorting) override { fixedSorting_ = sorting; }
  void SetBusy(bool on) override;
  void ShowListingProgress(int percent, size_t entries) override;
  QWidget* ListingProgress() const;
  bool Busy() const { return busy_; }
  void SetEmptyText(QString text);
  const QString& EmptyText() const { return emptyText_; }

  int TopRow() const override { return grid_->topRow(); }
  void SetTopRow(int row) override { grid_->setTopRow(row); }
  void RefreshLayout();
  void RepaintRows() override { grid_->viewport()->update(); }
  void UpdateRange() override { grid_->UpdateRange(); }
  int ViewFilterIndex() const override;
  void ReloadLook();

  // Whether no file type is registered for the extension (such rows show it after the title).
  bool UnknownFileType(const std::string& ext) const;

  // Click-zone facts of a record.
  ZoneRowFacts FactsOf(size_t record) const;
  std::string StatusText() const;

  // Called by the rows.
  void ZoneClicked(size_t record, int zone, Qt::KeyboardModifiers mods);
  void SelectionTouched() override;
  void TypeAheadKey(const QString& text);

  std::function<bool()> handHoldsSnapshotOrSticker;
  // The record whose sticker mark the pointer is on (Delete then removes only the sticker),
  // or -1.
  int StickerMarkUnderPointer() const override;
  // Members of an address group (the awaiting-confirmation check expands groups), and whether
  // encryption software is present (the encryption mark).
  std::function<StringList(std::string_view group)> groupMembers;
  std::function<bool()> encryptionPresent;
  // The recipient check of a row, asked once per row and listing.
  bool AwaitsConfirmationOf(const store::DocRecord& r) const;

signals:
  void openRecord(int record);
  void OpenCoverNote(int record);
  void OpenSticker(int record);
  void ColourClicked(int record);
  void composeTo(int record);
  void CollapseToggled(int record, int flags);
  void ContextMenuRequested(int record, const QPoint& globalPos);
  void DeleteRequested();
  void selectionChanged();
  void StatusTextChanged(const QString& text);
  void SortChanged(int sorting);
  void NameOrderChanged(bool firstNameFirst);

protected:
  void resizeEvent(QResizeEvent*) override;

private:
  void OnHeaderClicked(int section);
  void OnHeaderResized(int section, int newWidth, bool final);
  void OnFilterTab(int index);
  void ApplyOptions(bool resort);
  GridOptions CurrentOptions() const;
  ColumnWidths widths() const;

  Settings* settings_;
  IconWorker* icons_;
  GridModel model_;
  GridColumns columns_;
  GridLook look_;
  QTabBar* tabs_ = nullptr;
  GridHeader* header_ = nullptr;
  TheGrid* grid_ = nullptr;
  ColumnWidths liveWidths_;
  bool resizingLive_ = false;
  bool sortLocked_ = false;
  int fixedSorting_ = 0;
  bool searchActive_ = false;
  bool busy_ = false;
  QWidget* listingBox_ = nullptr;  // the progress bar and its caption over the empty grid
  TPXProgressBar* listingBar_ = nullptr;
  QLabel* listingText_ = nullptr;
  int dateWidth_ = 0;
  int sizeWidth_ = 0;
  QString emptyText_;
  TypeAhead typeAhead_;
  mutable QHash<QString, bool> unknownTypes_;  // lower-case extension -> no registered type
  mutable QHash<QString, bool> awaiting_;      // folder, prefix and name -> recipient check
  QTimer tmrTypeAddr_;
  GridTab tab_ = GridTab::Files;
};

}  // namespace px::desk
