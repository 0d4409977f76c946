#include "desk/ui/tree_view.h"

#include "contacts/groups.h"
#include "desk/desk_state.h"
#include "desk/ui/carry_view.h"
#include "desk/ui/desk_prompts.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/icon_worker.h"

#include <QCursor>
#include <QDateTime>
#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

Q_LOGGING_CATEGORY(lcGrid, "plumadex.grid", QtWarningMsg)

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// "New Message" and "New Text Document" (the desk's commands) and, over empty space, "Paste":
// what a person makes where they clicked. Each entry runs on its own.
void AddMakeEntries(QMenu& menu, DeskCommands* commands, DeskCarry* pasteInto) {
  menu.addSeparator();
  auto command = [&](const char* id, const char* name) {
    QAction* a = menu.addAction(commands && commands->Find(id) ? Q(commands->Find(id)->text) : QString());
    a->setObjectName(QLatin1String(name));
    a->setEnabled(commands && commands->Enabled(id));
    const std::string key = id;
    QObject::connect(a, &QAction::triggered, a, [commands, key] {
      // After the menu has closed: the command may open a window.
      QTimer::singleShot(0, [commands, key] { commands->Run(key); });
    });
  };
  command("actNewMessage", "aNewMessage");
  command("actNewDocument", "aNewDocument");
  if (pasteInto) {
    QAction* paste = menu.addAction(QStringLiteral("Paste"));
    paste->setObjectName(QStringLiteral("aPaste"));
    QObject::connect(paste, &QAction::triggered, pasteInto, [pasteInto] { pasteInto->Paste(); });
  }
}

}  // namespace

// ---------------- tree view ----------------

TPXTreeView::TPXTreeView(int tab, FolderTreeModel& model, QWidget* parent)
    : QTreeView(parent), model_(&model), tab_(tab) {
  static const char* const kNames[] = {"FileTree", "AddrTree", "ToolTree"};
  setObjectName(QLatin1String(kNames[tab]));
  setHeaderHidden(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setUniformRowHeights(true);
  setMouseTracking(true);
  setItemDelegate(new TreeItemDelegate(this));
  setContextMenuPolicy(Qt::CustomContextMenu);
  setModel(&model);
  // Children are read by the model when a node first opens (fetchMore); the node remembers
  // whether it is open, for the counts and for the next reload.
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    if (TreeNode* n = FolderTreeModel::NodeOf(index); n && model_ && !model_->Changing()) n->expanded = true;
    viewport()->update();
  });
  connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    if (TreeNode* n = FolderTreeModel::NodeOf(index); n && model_ && !model_->Changing()) n->expanded = false;
    viewport()->update();
  });
  connect(&model, &FolderTreeModel::ExpandWanted, this, [this](const QModelIndex& index) { expand(index); });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            // Rows leaving during a reload move the current index; the owner selects again.
            if (model_ && !model_->Changing()) emit CurrentNodeChanged(FolderTreeModel::NodeOf(current));
          });
}

QIcon TPXTreeView::IconOf(int image) const {
  if (auto it = icons_.constFind(image); it != icons_.constEnd()) return *it;
  const char* name = "folder";
  switch (image) {
    case niRoot: name = "folder-documents"; break;
    case niTrashFull: name = "user-trash-full"; break;
    case niTrashEmpty: name = "user-trash"; break;
    case niOptions: name = "preferences-system"; break;
    case niDesktop: case niDesktopTools: name = "user-desktop"; break;
    case niNewDocuments: name = "document-new"; break;
    case niStartMenu: name = "applications-other"; break;
    case niContacts: name = "x-office-address-book"; break;
    case niGroup: name = "system-users"; break;
    case niComputer: name = "computer"; break;
    case niDrive: case niDrive2: case niDrive3: name = "drive-harddisk"; break;
    case niNetwork: name = "network-workgroup"; break;
    case niFavorites: name = "user-bookmarks"; break;
    default: break;
  }
  QIcon icon = QIcon::fromTheme(QLatin1String(name));
  if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("folder"));
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_DirIcon);
  icons_.insert(image, icon);
  return icon;
}

void TPXTreeView::SelectNode(TreeNode* node) {
  const QModelIndex index = model_ ? model_->IndexOf(node) : QModelIndex();
  if (!index.isValid()) return;
  setCurrentIndex(index);
  scrollTo(index);
}

void TPXTreeView::ExpandNode(TreeNode* node) {
  const QModelIndex index = model_ ? model_->IndexOf(node) : QModelIndex();
  if (index.isValid()) expand(index);
}

void TPXTreeView::SetCountLook(bool bold, std::optional<uint32_t> colour) {
  countBold = bold;
  countColour = colour ? QColor(static_cast<int>(*colour & 0xFF), static_cast<int>((*colour >> 8) & 0xFF),
                                static_cast<int>((*colour >> 16) & 0xFF))
                       : QColor();
  viewport()->update();
}

void TreeItemDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const QVariant image = index.data(FolderTreeModel::ImageRole);
  if (!image.isValid()) return;
  option->icon = view_->IconOf(image.toInt());
  option->features |= QStyleOptionViewItem::HasDecoration;
  option->decorationSize = option->icon.actualSize(option->decorationSize);
}

void TreeItemDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  NodeLook look;
  look.mark = static_cast<NodeMark>(index.data(FolderTreeModel::MarkRole).toInt());
  const QString count = index.data(FolderTreeModel::CountRole).toString();
  QFont small = opt.font;
  small.setPointSize(8);
  const QFontMetrics sfm(small);
  const int countWidth = count.isEmpty() ? 0 : sfm.horizontalAdvance(count);
  const int markWidth = look.mark == NodeMark::None ? 0 : 14;
  // Leave room at the right for the count and the mark.
  const QRect full = opt.rect;
  const int textRight = opt.rect.left() + opt.decorationSize.width() + 6 + opt.fontMetrics.horizontalAdvance(opt.text) + 6;
  QStyledItemDelegate::paint(p, opt, index);
  if (!countWidth && !markWidth) return;
  const int right = std::max(textRight + markWidth + countWidth, full.right());
  p->save();
  if (countWidth) {
    QFont f = small;
    f.setBold(view_->countBold);
    p->setFont(f);
    const bool selected = opt.state & QStyle::State_Selected;
    QColor colour = opt.palette.color(QPalette::Text);
    if (selected)
      colour = opt.palette.color(QPalette::HighlightedText);
    else if (view_->countColour.isValid())
      colour = view_->countColour;
    p->setPen(colour);
    p->drawText(QRect(right - countWidth - 2, full.top(), countWidth, full.height()), Qt::AlignVCenter | Qt::AlignRight, count);
  }
  if (markWidth) {
    const QRect mr(right - countWidth - markWidth - 2, full.top(), markWidth, full.height());
    QString glyph;
    QColor colour;
    switch (look.mark) {
      case NodeMark::NewMail: glyph = QStringLiteral("\u2709"); colour = QColor(30, 90, 200); break;
      case NodeMark::Pending: glyph = QStringLiteral("\u2191"); colour = QColor(210, 120, 0); break;
      case NodeMark::NewMailAndPending: glyph = QStringLiteral("\u2709"); colour = QColor(200, 40, 40); break;
      default: break;
    }
    p->setPen(colour);
    p->setFont(opt.font);
    p->drawText(mr, Qt::AlignCenter, glyph);
  }
  p->restore();
}

// ---------------- browser view ----------------

DeskBrowserView::DeskBrowserView(DeskState& state, QTabWidget* trees, QWidget* gridHost, QLabel* status,
                                 QObject* parent)
    : QObject(parent), state_(state), tabs_(trees), status_(status) {
  // Without a desktop session there is no icon theme; the stock one keeps the trees readable.
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
    QIcon::setThemeName(QStringLiteral("Adwaita"));
  icons_ = std::make_unique<IconWorker>(16);
  grid_ = new GridPanel(&state_.settings, icons_.get(), gridHost);
  if (gridHost) {
    auto* lay = gridHost->layout() ? gridHost->layout() : new QVBoxLayout(gridHost);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(grid_);
  }
  browser_ = std::make_unique<DeskBrowser>(state_, *grid_, std::make_unique<DialogPrompts>(grid_), this);
  DeskBrowser* b = browser_.get();
  for (int t = 0; t < 3; ++t) {
    QWidget* page = trees ? trees->widget(t) : nullptr;
    trees_[t] = new TPXTreeView(t, b->Model(t), page);
    if (page) {
      auto* lay = page->layout() ? page->layout() : new QVBoxLayout(page);
      lay->setContentsMargins(0, 0, 0, 0);
      lay->addWidget(trees_[t]);
    }
    b->SetTreeSurface(t, trees_[t]);
    connect(trees_[t], &TPXTreeView::CurrentNodeChanged, b, [b, t](TreeNode* node) { b->OnTreeSelected(t, node); });
    connect(trees_[t], &QWidget::customContextMenuRequested, this,
            [this, t](const QPoint& pos) { OnTreeContextMenu(t, pos); });
  }
  if (trees && trees->count() > 2) {
    // The tabs are the files and the contacts tree; the tools tree comes up through the
    // Options button and leaves no tab selected.
    trees->tabBar()->setTabVisible(2, false);
    trees->setTabText(2, QString());  // a hidden current tab must not leave its caption behind
    btnOptions_ = new QPushButton(Q(TabLookOf(GridTab::Files).optionsButton), trees);
    btnOptions_->setObjectName(QStringLiteral("btnOptions"));
    btnOptions_->setFlat(true);
    trees->setCornerWidget(btnOptions_, Qt::TopRightCorner);
    connect(btnOptions_, &QPushButton::clicked, this, [this] { ToggleOptions(); });
  }
  if (trees) {
    connect(trees, &QTabWidget::currentChanged, this, [this](int index) {
      if (index < 0 || index > DeskBrowser::Ix(GridTab::Tools) || !browser_->SwitchTab(static_cast<GridTab>(index))) {
        const bool blocked = tabs_->blockSignals(true);
        tabs_->setCurrentIndex(DeskBrowser::Ix(browser_->CurrentTab()));
        tabs_->blockSignals(blocked);
      }
    });
  }
  connect(b, &DeskBrowser::TabChanged, this, [this](GridTab tab) {
    if (btnOptions_) btnOptions_->setText(Q(TabLookOf(tab).optionsButton));
    // A switch the program makes (carrying back to the files) shows on the tabs too.
    if (tabs_ && tabs_->currentIndex() != DeskBrowser::Ix(tab)) {
      const bool blocked = tabs_->blockSignals(true);
      tabs_->setCurrentIndex(DeskBrowser::Ix(tab));
      tabs_->blockSignals(blocked);
    }
  });
  connect(grid_, &GridPanel::StatusTextChanged, this, [this](const QString& s) {
    if (status_) status_->setText(s);
  });
  connect(grid_, &GridPanel::openRecord, b, [b](int r) { b->OpenRecord(r); });
  connect(grid_, &GridPanel::ColourClicked, b, [b](int r) { b->ColourClick(r); });
  connect(grid_, &GridPanel::CollapseToggled, b, [b](int r, int flags) { b->WriteCollapse(r, flags); });
  connect(grid_, &GridPanel::ContextMenuRequested, this, [this](int r, const QPoint& p) { OnContextMenu(r, p); });
  connect(grid_, &GridPanel::DeleteRequested, b, [b] { b->DeleteAction(); });
  grid_->groupMembers = [this](std::string_view group) {
    return contacts::GroupMembers(state_.locations.contacts, state_.indexRegistry, std::string(group),
                                  state_.settings.FirstNameFirst());
  };
  b->openWithDesktop = [](const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  };
  b->swappedIn = [this, b](const std::string& folder) {
    if (!lcGrid().isDebugEnabled()) return;
    const size_t rows = grid_->model().size();
    grid_->grid()->afterNextPaint = [b, folder, rows] {
      qCDebug(lcGrid) << "listed" << Q(folder) << rows << "rows; first paint after" << b->MsSinceSelect()
                      << "ms; at epoch ms" << QDateTime::currentMSecsSinceEpoch();
    };
  };
  // The wheel over the grid, its scroll bar or a tree moves the grid.
  grid_->grid()->viewport()->installEventFilter(this);
  grid_->grid()->verticalScrollBar()->installEventFilter(this);
  for (auto* tree : trees_)
    if (tree) tree->viewport()->installEventFilter(this);
}

DeskBrowserView::~DeskBrowserView() {
  // The browser goes first: nothing it runs may reach the widgets after this.
  for (int t = 0; t < 3; ++t) browser_->SetTreeSurface(t, nullptr);
  browser_.reset();
}

void DeskBrowserView::SelectFirstNode() {
  const int index = tabs_ ? tabs_->currentIndex() : 0;
  browser_->SelectFirstNode(index > 0 && index <= DeskBrowser::Ix(GridTab::Tools) ? static_cast<GridTab>(index)
                                                                                   : GridTab::Files);
}

void DeskBrowserView::ToggleOptions() {
  const GridTab to = browser_->CurrentTab() == GridTab::Tools ? browser_->TabBeforeOptions() : GridTab::Tools;
  if (!tabs_) {
    browser_->SwitchTab(to);
    return;
  }
  // The tab widget's signal runs the switch (and puts the index back when it is refused).
  tabs_->setCurrentIndex(DeskBrowser::Ix(to));
}

bool DeskBrowserView::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::Wheel && WheelGrid(static_cast<QWheelEvent*>(e)->angleDelta().y())) return true;
  return QObject::eventFilter(watched, e);
}

bool DeskBrowserView::WheelGrid(int angleDelta) {
  TheGrid* g = grid_->grid();
  QScrollBar* bar = g->verticalScrollBar();
  // With every row in view the grid has nothing to move; a tree then scrolls itself.
  if (bar->maximum() <= bar->minimum() || !bar->isVisibleTo(g)) return false;
  g->setTopRow(wheel_.Scroll(g->topRow(), angleDelta, bar->maximum()));
  // The row under the pointer changed with the rows.
  const QPoint at = g->viewport()->mapFromGlobal(QCursor::pos());
  if (g->viewport()->rect().contains(at)) g->SetHotRow(g->topRow() + at.y() / std::max(1, g->rowHeight()));
  return true;
}

void DeskBrowserView::OnContextMenu(int record, const QPoint& pos) {
  DeskBrowser& b = *browser_;
  const GridMenu decided = b.GridMenuFor(record);
  if (!decided.shown) return;
  if (record < 0) {
    // Empty space: what can be made in the shown folder.
    QMenu menu(grid_);
    QAction* newFolder = menu.addAction(Q(decided.newFolderText));
    newFolder->setObjectName(QStringLiteral("aNewFolder"));
    newFolder->setEnabled(decided.newFolder);
    AddMakeEntries(menu, commands, carry_);
    if (extendContextMenu) extendContextMenu(menu, nullptr);
    QAction* chosen = menu.exec(pos);
    if (chosen == newFolder) b.CreateTreeNode(b.ShownNode());
    return;
  }
  QMenu menu(grid_);
  QAction* open = menu.addAction(QStringLiteral("Open"));
  QAction* rename = menu.addAction(QStringLiteral("Rename..."));
  QAction* duplicate = menu.addAction(QStringLiteral("Duplicate..."));
  QAction* del = menu.addAction(QStringLiteral("Delete"));
  QAction* copyTo = menu.addAction(QStringLiteral("Copy to..."));
  QAction* moveTo = menu.addAction(QStringLiteral("Move to..."));
  QMenu* colours = menu.addMenu(QStringLiteral("Colour"));
  for (int c = 1; c <= 8; ++c) {
    QPixmap swatch(12, 12);
    swatch.fill(LabelColour(c));
    colours->addAction(QIcon(swatch), QStringLiteral("Colour %1").arg(c))->setData(c);
  }
  colours->addAction(QStringLiteral("None"))->setData(0);
  // Received mail offers to block its sender (or to lift the block).
  QAction* block = nullptr;
  if (!decided.blockText.empty()) {
    menu.addSeparator();
    block = menu.addAction(Q(decided.blockText));
  }
  // Received mail and documents: read or not.
  QAction* markRead = nullptr;
  QAction* markUnread = nullptr;
  if (b.CurrentTab() == GridTab::Files) {
    menu.addSeparator();
    markRead = menu.addAction(QStringLiteral("Mark as Read"));
    markRead->setObjectName(QStringLiteral("aMarkRead"));
    markRead->setEnabled(decided.markRead);
    markUnread = menu.addAction(QStringLiteral("Mark as Unread"));
    markUnread->setObjectName(QStringLiteral("aMarkUnread"));
    markUnread->setEnabled(decided.markUnread);
  }
  menu.addSeparator();
  QAction* newFolder = menu.addAction(Q(decided.newFolderText));
  AddMakeEntries(menu, commands, nullptr);
  rename->setEnabled(decided.rename);
  duplicate->setEnabled(decided.duplicate);
  del->setEnabled(decided.del);
  newFolder->setEnabled(decided.newFolder);
  if (extendContextMenu) {
    const auto& rows = grid_->model().rows();
    extendContextMenu(menu, record >= 0 && static_cast<size_t>(record) < rows.size() ? &rows[record] : nullptr);
  }
  if (carry_) carry_->ExtendRowMenu(menu, record);
  QAction* chosen = menu.exec(pos);
  // After Copy or Move the rows stay in hand; after anything else they are put down.
  const bool keep = chosen && (chosen->objectName() == QLatin1String("aCopy") || chosen->objectName() == QLatin1String("aMove"));
  if (carry_ && !keep) QTimer::singleShot(0, carry_, [c = carry_] { c->PutDown(); });
  if (!chosen) return;
  if (chosen == open) b.OpenRecord(record);
  else if (chosen == rename) b.RenameAction();
  else if (chosen == duplicate) b.aDuplicateExecute();
  else if (chosen == del) b.DeleteAction();
  else if (chosen == copyTo) b.CarryToAction(false);
  else if (chosen == moveTo) b.CarryToAction(true);
  else if (chosen == newFolder) b.CreateTreeNode(b.ShownNode());
  else if (block && chosen == block) b.BlockSenderAction(decided.sender);
  else if (markRead && chosen == markRead) b.SetReadMark(true);
  else if (markUnread && chosen == markUnread) b.SetReadMark(false);
  else if (chosen->parent() == colours || colours->actions().contains(chosen)) b.ApplyColour(chosen->data().toInt());
}

void DeskBrowserView::OnTreeContextMenu(int tab, const QPoint& pos) {
  TPXTreeView* view = trees_[tab];
  TreeNode* node = view->NodeAt(pos);
  DeskBrowser& b = *browser_;
  const TreeMenu decided = b.TreeMenuFor(tab, node);
  if (!decided.shown) return;
  QMenu menu(view);
  QAction* newFolder = menu.addAction(Q(decided.newFolderText));
  newFolder->setEnabled(decided.newFolder);
  QAction* rename = nullptr;
  QAction* del = nullptr;
  QAction* empty = nullptr;
  if (decided.onNode) {
    rename = menu.addAction(QStringLiteral("Rename..."));
    del = menu.addAction(QStringLiteral("Delete"));
    if (decided.emptyTrash) empty = menu.addAction(QStringLiteral("Empty trash bin"));
    rename->setEnabled(decided.rename);
    del->setEnabled(decided.del);
  }
  AddMakeEntries(menu, commands, node ? nullptr : carry_);
  if (carry_ && node) carry_->ExtendTreeMenu(menu, node);
  QAction* chosen = menu.exec(view->viewport()->mapToGlobal(pos));
  if (!chosen) return;
  if (chosen == newFolder) b.CreateTreeNode(node ? node : b.ShownNode());
  else if (rename && chosen == rename) b.RenameFolderNode(node);
  else if (del && chosen == del) b.DeleteFolderNode(node);
  else if (empty && chosen == empty) b.EmptyTrashAction();
}

namespace {

// Status panels 0 "Copy" and 1 "Move": a two-state switch for the drag default; the pressed
// panel is drawn lowered.
class CopyMoveSwitch : public QObject {
public:
  CopyMoveSwitch(DeskBrowser& browser, QLabel* copy, QLabel* move, QObject* parent)
      : QObject(parent), browser_(browser), copy_(copy), move_(move) {
    copy_->setText(QStringLiteral("Copy"));
    move_->setText(QStringLiteral("Move"));
    for (QLabel* l : {copy_, move_}) {
      l->setAlignment(Qt::AlignCenter);
      l->setLineWidth(1);
      l->installEventFilter(this);
    }
    browser_.dragDefaultChanged = [this] { Show(); };
    Show();
  }
  void Show() {
    const bool move = browser_.DragMoves();
    copy_->setFrameStyle(QFrame::Panel | (move ? QFrame::Raised : QFrame::Sunken));
    move_->setFrameStyle(QFrame::Panel | (move ? QFrame::Sunken : QFrame::Raised));
    // The frame alone is faint in most styles: the pressed panel is also shaded.
    for (QLabel* l : {copy_, move_}) {
      const bool pressed = (l == move_) == move;
      l->setAutoFillBackground(pressed);
      l->setBackgroundRole(pressed ? QPalette::Midlight : QPalette::Window);
      QFont f = l->font();
      f.setBold(pressed);
      l->setFont(f);
    }
  }

protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonPress && (watched == copy_ || watched == move_)) {
      browser_.SetDragDefault(watched == move_);
      return true;
    }
    if (e->type() == QEvent::Show) Show();
    return false;
  }

private:
  DeskBrowser& browser_;
  QLabel* copy_;
  QLabel* move_;
};

}  // namespace

int DeskBrowserView::CurrentRecord() const {
  const GridModel& m = grid_->model();
  const int hot = grid_->grid()->HotRow();
  if (hot >= 0 && static_cast<size_t>(hot) < m.VisibleCount()) {
    const size_t rec = m.RecordOfVisible(static_cast<size_t>(hot));
    if (m.rows()[rec].selected) return static_cast<int>(rec);
  }
  const auto& rows = m.rows();
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].selected) return static_cast<int>(i);
  return -1;
}

namespace {

// The commands of the menu bar that the grid, the trees and the hand carry out.
void ProvideBrowserCommands(DeskCommands& c, DeskBrowserView& view) {
  DeskBrowser& b = view.browser();
  DeskBrowserView* v = &view;
  auto selected = [&b] { return b.grid()->model().SelectedCount() > 0; };
  auto notTools = [&b] { return b.CurrentTab() != GridTab::Tools; };
  // The tree that has the keyboard, if one has.
  auto focusedTree = [v, &b]() -> TPXTreeView* {
    TPXTreeView* t = v->tree(DeskBrowser::Ix(b.CurrentTab()));
    return t && t->hasFocus() ? t : nullptr;
  };
  c.Provide("actNewFolder", [&b, focusedTree] {
    TPXTreeView* t = focusedTree();
    b.CreateTreeNode(t && t->CurrentNode() ? t->CurrentNode() : b.ShownNode());
  }, [&b] { return b.GridMenuFor(-1).newFolder; });
  c.Provide("actOpen", [v, &b] {
    const int r = v->CurrentRecord();
    if (r >= 0) b.OpenRecord(r);
  }, [v] { return v->CurrentRecord() >= 0; });
  c.Provide("actCut", [v] { if (v->carry()) v->carry()->CopySelection(true); },
            [selected, notTools] { return notTools() && selected(); });
  c.Provide("actCopy", [v] { if (v->carry()) v->carry()->CopySelection(false); },
            [selected, notTools] { return notTools() && selected(); });
  c.Provide("actPaste", [v] { if (v->carry()) v->carry()->Paste(); }, notTools);
  c.Provide("actRename", [&b, focusedTree] {
    if (TPXTreeView* t = focusedTree()) {
      if (TreeNode* n = t->CurrentNode()) b.RenameFolderNode(n);
      return;
    }
    b.RenameAction();
  }, [&b] { return b.GridMenuFor(-1).rename; });
  c.Provide("actDuplicate", [&b] { b.aDuplicateExecute(); }, [&b] { return b.GridMenuFor(-1).duplicate; });
  c.Provide("actDelete", [&b] { b.DeleteAction(); },
            [&b, selected] { return selected() && b.GridMenuFor(-1).del; });
  c.Provide("actCopyTo", [&b] { b.CarryToAction(false); }, [selected, notTools] { return notTools() && selected(); });
  c.Provide("actMoveTo", [&b] { b.CarryToAction(true); },
            [&b, selected] { return b.CurrentTab() == GridTab::Files && selected(); });
  c.Provide("actSelectAll", [v] {
    v->grid()->model().SelectAllVisible();
    v->grid()->SelectionTouched();
  }, notTools);
  auto showTab = [v](int index) {
    return [v, index] {
      if (v->tabs()) v->tabs()->setCurrentIndex(index);
      else v->browser().SwitchTab(static_cast<GridTab>(index));
    };
  };
  c.Provide("actShowFiles", showTab(DeskBrowser::Ix(GridTab::Files)));
  c.Provide("actShowContacts", showTab(DeskBrowser::Ix(GridTab::Contacts)));
  c.Provide("actShowOptions", showTab(DeskBrowser::Ix(GridTab::Tools)));
  c.Provide("actOptions", showTab(DeskBrowser::Ix(GridTab::Tools)));
  c.Provide("actRefresh", [&b] {
    if (b.ShownNode() && b.ShownNode()->childrenLoaded) b.ReloadChildren(b.ShownNode());
    b.Relist();
  });
  c.Provide("actMarkRead", [&b] { b.SetReadMark(true); }, [&b] { return b.GridMenuFor(-1).markRead; });
  c.Provide("actMarkUnread", [&b] { b.SetReadMark(false); }, [&b] { return b.GridMenuFor(-1).markUnread; });
  auto blockTarget = [v, &b]() -> GridMenu { return b.GridMenuFor(v->CurrentRecord()); };
  c.Provide("actBlockSender", [&b, blockTarget] {
    const GridMenu m = blockTarget();
    if (!m.sender.empty()) b.BlockSenderAction(m.sender);
  }, [blockTarget] { return !blockTarget().sender.empty(); });
  c.Provide("actEmptyTrash", [&b] { b.EmptyTrashAction(); });
}

}  // namespace

DeskBrowser* InstallDeskBrowser(TfrmDesk& desk, DeskState& state) {
  auto* view = new DeskBrowserView(state, desk.pnlTrees(), desk.pnlGrid(), desk.StatusPanel(2), &desk);
  DeskBrowser* browser = &view->browser();
  view->SetCarry(new DeskCarry(*view, state, &desk));
  view->commands = &desk.commands();
  ProvideBrowserCommands(desk.commands(), *view);
  if (desk.StatusPanel(0) && desk.StatusPanel(1))
    new CopyMoveSwitch(*browser, desk.StatusPanel(0), desk.StatusPanel(1), view);
  DeskHooks& hooks = desk.hooks();
  hooks.buildTrees = [browser] { browser->BuildTrees(); };
  hooks.selectFirstNode = [view] { view->SelectFirstNode(); };
  hooks.relistFolder = [browser] { browser->Relist(); };
  hooks.folderSelected = [browser] { return browser->FolderSelected(); };
  // The clock tick checks the shown folder on the files tab and on the contacts tab.
  hooks.filesTabShown = [browser] { return browser->WatchesShownFolder(); };
  hooks.rememberTopRow = [browser] { browser->RememberTopRow(); };
  hooks.clearGrid = [browser] { browser->ClearGrid(); };
  hooks.checkFolderChanges = [browser] { browser->CheckFolderChanges(); };
  return browser;
}

}  // namespace px::desk
