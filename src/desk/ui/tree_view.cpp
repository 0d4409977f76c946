#include "desk/ui/tree_view.h"

#include <algorithm>

#include "contacts/address_map.h"
#include "contacts/contact_folder.h"
#include "contacts/groups.h"
#include "desk/browser_menus.h"
#include "desk/carry_targets.h"
#include "desk/desk_mail.h"
#include "desk/desk_state.h"
#include "desk/ui/carry_view.h"
#include "desk/ui/desk_prompts.h"
#include "desk/ui/folder_chooser.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/icon_worker.h"
#include "foundation/strings.h"
#include "incoming/blocked_senders.h"
#include "store/desk_actions.h"
#include "store/doc_operations.h"
#include "store/move_journal.h"
#include "store/newmail_list.h"
#include "store/tree_ops.h"
#include "store/unread_list.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
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

#include <QLoggingCategory>

#include <filesystem>

Q_LOGGING_CATEGORY(lcGrid, "plumadex.grid", QtWarningMsg)

namespace px::desk {

using store::DocRecord;

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

bool SetHasBelow(const std::set<std::string>& set, const std::string& folder) {
  auto it = set.lower_bound(folder);
  return it != set.end() && it->starts_with(folder);
}

std::string ParentFolder(const std::string& folder) {
  std::string f = folder;
  if (!f.empty() && f.back() == '/') f.pop_back();
  const size_t slash = f.rfind('/');
  return slash == std::string::npos ? std::string() : f.substr(0, slash + 1);
}

std::string FolderName(const std::string& folder) {
  std::string f = folder;
  if (!f.empty() && f.back() == '/') f.pop_back();
  const size_t slash = f.rfind('/');
  return slash == std::string::npos ? f : f.substr(slash + 1);
}

}  // namespace

// ---------------- tree view ----------------

TPXTreeView::TPXTreeView(int tab, QWidget* parent) : QTreeView(parent), tab_(tab) {
  static const char* const kNames[] = {"FileTree", "AddrTree", "ToolTree"};
  setObjectName(QLatin1String(kNames[tab]));
  setHeaderHidden(true);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setUniformRowHeights(true);
  setMouseTracking(true);
  setItemDelegate(new TreeItemDelegate(this));
  setContextMenuPolicy(Qt::CustomContextMenu);
  setModel(&model_);
  // Children are read by the model when a node first opens (fetchMore); the node remembers
  // whether it is open, for the counts and for the next reload.
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    if (TreeNode* n = FolderTreeModel::NodeOf(index); n && !model_.Changing()) n->expanded = true;
    viewport()->update();
  });
  connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    if (TreeNode* n = FolderTreeModel::NodeOf(index); n && !model_.Changing()) n->expanded = false;
    viewport()->update();
  });
  connect(&model_, &FolderTreeModel::ExpandWanted, this, [this](const QModelIndex& index) { expand(index); });
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex&) {
            // Rows leaving during a reload move the current index; the owner selects again.
            if (!model_.Changing()) emit CurrentNodeChanged(FolderTreeModel::NodeOf(current));
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

void TPXTreeView::SetRoot(TreeNode* root) {
  model_.SetRoot(root);
}

void TPXTreeView::SelectNode(TreeNode* node) {
  const QModelIndex index = model_.IndexOf(node);
  if (!index.isValid()) return;
  setCurrentIndex(index);
  scrollTo(index);
}

void TPXTreeView::ExpandNode(TreeNode* node) {
  const QModelIndex index = model_.IndexOf(node);
  if (index.isValid()) expand(index);
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

// ---------------- browser ----------------

DeskBrowser::DeskBrowser(DeskState& state, QTabWidget* trees, QWidget* gridHost, QLabel* status, QObject* parent)
    : QObject(parent), state_(state), tabs_(trees), status_(status) {
  // Without a desktop session there is no icon theme; the stock one keeps the trees readable.
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
    QIcon::setThemeName(QStringLiteral("Adwaita"));
  icons_ = std::make_unique<IconWorker>(16);
  grid_ = new GridPanel(&state_.settings, icons_.get(), gridHost);
  prompts_ = std::make_unique<DialogPrompts>(grid_);
  if (gridHost) {
    auto* lay = gridHost->layout() ? gridHost->layout() : new QVBoxLayout(gridHost);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(grid_);
  }
  for (int t = 0; t < 3; ++t) {
    QWidget* page = trees ? trees->widget(t) : nullptr;
    trees_[t] = new TPXTreeView(t, page);
    if (page) {
      auto* lay = page->layout() ? page->layout() : new QVBoxLayout(page);
      lay->setContentsMargins(0, 0, 0, 0);
      lay->addWidget(trees_[t]);
    }
    FolderTreeModel& model = trees_[t]->Model();
    model.SetEnvironment(&env_);
    FolderTreeModel::Marks marks;
    marks.hasNewMail = [this](const std::string& f) {
      return state_.newMailList && state_.newMailList->Folders().count(f) > 0;
    };
    marks.newMailBelow = [this](const std::string& f) {
      return state_.newMailList && SetHasBelow(state_.newMailList->Folders(), f);
    };
    marks.hasPending = [this](const std::string& f) {
      const auto& pending = state_.pendingFolders;
      return std::find(pending.begin(), pending.end(), f) != pending.end();
    };
    marks.pendingBelow = [this](const std::string& f) {
      for (const auto& p : state_.pendingFolders)
        if (p.starts_with(f)) return true;
      return false;
    };
    model.SetMarks(std::move(marks));
    connect(trees_[t], &TPXTreeView::CurrentNodeChanged, this, [this, t](TreeNode* node) {
      if (t == Ix(tab_)) OnTreeSelected(t, node);
    });
    connect(trees_[t], &QWidget::customContextMenuRequested, this,
            [this, t](const QPoint& pos) { OnTreeContextMenu(t, pos); });
  }
  if (trees && trees->count() > 2) {
    // The tabs are the files and the contacts tree; the tools tree comes up through the
    // Options button and leaves no tab selected.
    trees->tabBar()->setTabVisible(2, false);
    trees->setTabText(2, QString());  // a hidden current tab must not leave its caption behind
    btnOptions_ = new QPushButton(Q(TabLookOf(0).optionsButton), trees);
    btnOptions_->setObjectName(QStringLiteral("btnOptions"));
    btnOptions_->setFlat(true);
    trees->setCornerWidget(btnOptions_, Qt::TopRightCorner);
    connect(btnOptions_, &QPushButton::clicked, this, [this] { ToggleOptions(); });
  }
  if (trees) {
    connect(trees, &QTabWidget::currentChanged, this, [this](int index) {
      if (index < 0 || index > Ix(GridTab::Tools) || !SwitchTab(static_cast<GridTab>(index))) {
        const bool blocked = tabs_->blockSignals(true);
        tabs_->setCurrentIndex(Ix(tab_));
        tabs_->blockSignals(blocked);
      }
    });
  }
  connect(grid_, &GridPanel::StatusTextChanged, this, [this](const QString& s) {
    if (status_) status_->setText(s);
  });
  connect(grid_, &GridPanel::openRecord, this, [this](int r) { openRecord(r); });
  connect(grid_, &GridPanel::ColourClicked, this, [this](int r) { ColourClick(r); });
  connect(grid_, &GridPanel::CollapseToggled, this, [this](int r, int flags) { WriteCollapse(r, flags); });
  connect(grid_, &GridPanel::ContextMenuRequested, this, [this](int r, const QPoint& p) { OnContextMenu(r, p); });
  connect(grid_, &GridPanel::DeleteRequested, this, [this] { DeleteAction(); });
  grid_->groupMembers = [this](std::string_view group) {
    return contacts::GroupMembers(state_.locations.contacts, state_.indexRegistry, std::string(group),
                                  state_.settings.FirstNameFirst());
  };
  // The wheel over the grid, its scroll bar or a tree moves the grid.
  grid_->grid()->viewport()->installEventFilter(this);
  grid_->grid()->verticalScrollBar()->installEventFilter(this);
  for (auto* tree : trees_)
    if (tree) tree->viewport()->installEventFilter(this);

}


bool DeskBrowser::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::Wheel && WheelGrid(static_cast<QWheelEvent*>(e)->angleDelta().y())) return true;
  return QObject::eventFilter(watched, e);
}

bool DeskBrowser::WheelGrid(int angleDelta) {
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

DeskBrowser::~DeskBrowser() {
  worker_.Cancel();
  worker_.WaitIdle();
  if (state_.unreadList) state_.unreadList->SetNodeRefresh(nullptr);
  // Lists made here (a browser without the desk's start-up) are saved here; the desk state
  // keeps owning them.
  if (madeLists_ && !state_.locations.dataRoot.empty()) {
    if (state_.unreadList) (void)state_.unreadList->Save(state_.locations.UnreadList());
    if (state_.newMailList) (void)state_.newMailList->Save(state_.locations.NewMailList());
  }
}

void DeskBrowser::InitServices() {
  if (ops_) return;
  // The desk state owns the unread and new-mail lists; a browser started without the desk's
  // start-up makes them there itself.
  if (!state_.unreadList) {
    state_.unreadList = std::make_unique<store::UnreadList>();
    if (!state_.locations.dataRoot.empty()) state_.unreadList->Load(state_.locations.UnreadList());
    madeLists_ = true;
  }
  if (!state_.newMailList) {
    state_.newMailList = std::make_unique<store::NewMailList>();
    if (!state_.locations.dataRoot.empty()) state_.newMailList->Load(state_.locations.NewMailList());
    madeLists_ = true;
  }
  state_.unreadList->SetNodeRefresh([this](const std::string& folder) { RefreshCounts(folder); });

  store::OpServices svc;
  svc.registry = &state_.indexRegistry;
  svc.random = &random_;
  svc.messages = &state_.messages;
  svc.unread = state_.unreadList.get();
  svc.newMail = state_.newMailList.get();
  svc.sent = state_.sentIni.get();
  svc.documentsFolder = state_.locations.documents;
  svc.trashFolder = state_.locations.trash;
  svc.contactsFolder = state_.locations.contacts;
  svc.journalFolder = store::JournalFolderOf(state_.locations.dataRoot);
  svc.ownFromAddress = state_.ownFromAddress;
  svc.busy = [this](bool on) { grid_->SetBusy(on); };
  svc.running = &state_.busy;
  // Changes the program makes itself do not cause a second listing.
  svc.rearmWatch = [this] { watch_.CheckFolderChanges(false); };
  watch_.SetQuietRoots(state_.locations.tempFolder, state_.locations.dataRoot);
  watch_.SetRelist([this](const std::string& folder) {
    if (folder == shownFolder_) Relist();
  });
  pendingRefresh_ = std::make_unique<store::PendingRegisterRefresh>(
      [this]() -> TPXCustomIni* { return state_.sentIni.get(); }, state_.pendingFolders, [this] {
        for (auto* tree : trees_)
          if (tree) tree->Model().LooksChanged();
      });
  ops_ = std::make_unique<store::DocOperations>(std::move(svc), collaborators());
}

store::OpCollaborators DeskBrowser::collaborators() {
  store::OpCollaborators none = absent_.Get();
  return {none.resolver, openDocs_ ? *openDocs_ : none.openDocs, none.quickboard, none.rules,
          pendingRefresh_ ? static_cast<store::PendingRefresh&>(*pendingRefresh_) : none.pending};
}

void DeskBrowser::SetOpenDocuments(store::OpenDocuments* docs) {
  openDocs_ = docs;
  if (!ops_) return;
  // Operations made before the opener was there are made again with it.
  store::OpServices svc = ops_->Services();
  ops_ = std::make_unique<store::DocOperations>(std::move(svc), collaborators());
}

void DeskBrowser::BuildTrees() {
  InitServices();
  const Locations& loc = state_.locations;
  env_ = SystemTreeEnvironment(loc.documents, loc.trash, loc.contacts, loc.dataRoot);
  // The favourites are a folder of the data root: made on first use, so the node always
  // has a folder of its own.
  if (!env_.favoritesFolder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(env_.favoritesFolder, ec);
  }
  env_.registry = &state_.indexRegistry;
  env_.firstNameFirst = state_.settings.FirstNameFirst();
  env_.unreadOf = [this](const std::string& f) {
    return state_.unreadList ? state_.unreadList->GetUnreadCount(f) : store::UnreadCount{};
  };
  // The desktop's index lives in the data root, as the desk's alias table says.
  if (!env_.desktopFolder.empty()) state_.indexRegistry.SetDesktopAlias(env_.desktopFolder, loc.dataRoot);
  for (auto* tree : trees_) {
    tree->countBold = state_.settings.HighlightFontBold();
    const auto c = state_.settings.HighlightFontColor();
    tree->countColour = state_.settings.UseHighlightFontColor()
                            ? QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF))
                            : QColor();
  }
  roots_[0] = MakeFilesRoot(env_);
  roots_[1] = MakeContactsRoot(env_);
  roots_[2] = MakeToolsRoot(env_);
  for (int t = 0; t < 3; ++t) {
    const bool blocked = trees_[t]->blockSignals(true);
    trees_[t]->SetRoot(roots_[t].get());
    trees_[t]->blockSignals(blocked);
  }
}

void DeskBrowser::SelectFirstNode() {
  if (!roots_[0]) BuildTrees();
  const int index = tabs_ ? tabs_->currentIndex() : 0;
  tab_ = index > 0 && index <= Ix(GridTab::Tools) ? static_cast<GridTab>(index) : GridTab::Files;
  grid_->SetTab(tab_);
  TreeNode* node = trees_[Ix(tab_)]->CurrentNode();
  if (!node) node = roots_[Ix(tab_)].get();
  ShowNode(node);
}

bool DeskBrowser::FolderSelected() const { return tab_ == GridTab::Files && shown_ && !shown_->path.empty(); }

void DeskBrowser::RememberTopRow() {
  if (!shownFolder_.empty()) positions_.Remember(shownFolder_, grid_->TopRow(), grid_->CurrentSorting());
}

void DeskBrowser::ClearGrid() { grid_->Clear(); }

void DeskBrowser::CheckFolderChanges() {
  if (!state_.initialised || state_.busy || worker_.Running()) return;
  CheckTreeChanges();
  if (tab_ == GridTab::Files) watch_.CheckFolderChanges(true);
}

bool DeskBrowser::DragMoves() const { return state_.settings.CopyMove() == 1 && !copyForNode_; }

void DeskBrowser::SetDragDefault(bool move) {
  state_.settings.SetCopyMove(move ? 1 : 0);
  copyForNode_ = false;
  if (dragDefaultChanged) dragDefaultChanged();
}

void DeskBrowser::ToggleOptions() {
  const GridTab to = tab_ == GridTab::Tools ? tabBeforeOptions_ : GridTab::Tools;
  if (!tabs_) {
    SwitchTab(to);
    return;
  }
  // The tab widget's signal runs the switch (and puts the index back when it is refused).
  tabs_->setCurrentIndex(Ix(to));
}

bool DeskBrowser::SwitchTab(GridTab tab) {
  if (tab == tab_) return true;
  const HandState hand = handState ? handState() : HandState::Empty;
  if (!TabChangeAllowed(state_.busy || worker_.Running(), hand, Ix(tab_))) return false;
  if (beforeTabSwitch && !beforeTabSwitch(tab)) return false;
  RememberTopRow();
  shownFolder_.clear();  // remembered under the old tab's sort order
  if (tab == GridTab::Tools) tabBeforeOptions_ = tab_;
  tab_ = tab;
  if (btnOptions_) btnOptions_->setText(Q(TabLookOf(Ix(tab)).optionsButton));
  grid_->SetTab(tab);
  if (!roots_[Ix(tab)]) return true;
  TreeNode* node = trees_[Ix(tab)]->CurrentNode();
  if (!node) node = roots_[Ix(tab)].get();
  ShowNode(node);
  return true;
}

void DeskBrowser::OnTreeSelected(int, TreeNode* node) {
  if (node && node != shown_) ShowNode(node);
}

void DeskBrowser::ShowNode(TreeNode* node, bool expand) {
  if (!node) return;
  selectClock_.start();
  RememberTopRow();
  worker_.Cancel();
  grid_->SetBusy(false);
  // A new listing of the same folder keeps the old rows on screen until the new ones are in.
  relisting_ = node == shown_;
  if (!relisting_) grid_->Clear();
  shown_ = node;
  {
    const bool blocked = trees_[Ix(tab_)]->blockSignals(true);
    trees_[Ix(tab_)]->SelectNode(node);
    trees_[Ix(tab_)]->blockSignals(blocked);
  }
  if (expand && !node->expanded) {
    if (!node->childrenLoaded) trees_[Ix(tab_)]->Model().Load(node);
    node->expanded = true;
    trees_[Ix(tab_)]->ExpandNode(node);
  }
  {
    const bool before = DragMoves();
    copyForNode_ = state_.settings.CopyMove() == 1 && !EffectiveMoveDefault(true, *node);
    if (DragMoves() != before && dragDefaultChanged) dragDefaultChanged();
  }
  grid_->SetSortLocked(node->image == niComputer || node->image == niNetwork);
  grid_->SetFixedSorting(IsToolImage(node->image) ? 4 : 0);
  if (IsToolImage(node->image)) {
    shownFolder_.clear();
    watch_.Close();
    ShowToolRows(node);
    return;
  }
  if (node->path.empty() && (node->image == niFavorites || node->image == niFavoritesSub)) {
    // Favourites without a folder have nothing to list (never the documents instead).
    shownFolder_.clear();
    watch_.Close();
    grid_->Clear();
    if (listed) listed();
    return;
  }
  const std::string folder = node->path.empty() ? state_.locations.documents : node->path;
  shownFolder_ = folder;
  if (tab_ == GridTab::Files)
    watch_.Watch(folder);
  else
    watch_.Close();
  if (state_.newMailList && state_.newMailList->Remove(folder)) trees_[Ix(tab_)]->Model().LooksChanged();
  ListFolder(node, folder);
}

store::ListingContext DeskBrowser::listingContext() const {
  store::ListingContext ctx;
  ctx.registry = &state_.indexRegistry;
  ctx.documentsFolder = state_.locations.documents;
  ctx.contactsFolder = state_.locations.contacts;
  ctx.dataRoot = state_.locations.dataRoot;
  ctx.tempFolder = state_.locations.tempFolder;
  ctx.sorting = state_.settings.Sorting();
  ctx.addressSorting = state_.settings.AddressSorting();
  ctx.firstNameFirst = state_.settings.FirstNameFirst();
  ctx.contactsTabShown = tab_ == GridTab::Contacts;
  if (state_.addressMap) ctx.addressLookup = state_.addressMap->Lookup();
  // A link row's card lies in the Contacts folder itself.
  ctx.contactDetails = [root = state_.locations.contacts](const store::DocRecord& r) {
    return contacts::CardDetailsOf((r.prefix.empty() ? r.folder : root) + r.name);
  };
  return ctx;
}

void DeskBrowser::ListFolder(TreeNode* node, const std::string& folder) {
  ListingRequest req;
  req.folder = folder;
  req.contacts = tab_ == GridTab::Contacts;
  req.ctx = listingContext();
  req.options.tab = tab_;
  req.options.sorting = grid_->CurrentSorting();
  req.options.firstNameFirst = state_.settings.FirstNameFirst();
  req.options.filter = grid_->model().options().filter;
  req.options.filter = ViewFilterFromIndex(grid_->ViewFilterTabs()->currentIndex());
  const auto restore = positions_.Restore(folder, req.options.sorting);
  pendingTopRow_ = restore ? *restore : 0;
  if (CountEntriesUpTo(folder, kWorkerListingThreshold) >= kWorkerListingThreshold) {
    // A large folder is listed in a worker; the window stays responsive meanwhile, and the busy
    // cursor shows only when the listing takes longer than 250 ms.
    const uint64_t gen = ++listingGen_;
    QTimer::singleShot(250, grid_, [this, gen] {
      if (gen == listingGen_ && worker_.Running()) grid_->SetBusy(true);
    });
    worker_.Start(std::move(req), [this, folder](ListingOutcome& out) {
      ++listingGen_;
      grid_->SetBusy(false);
      SwapIn(out, folder);
    });
    return;
  }
  ++listingGen_;
  ListingOutcome out = RunListing(req);
  SwapIn(out, folder);
}

void DeskBrowser::SwapIn(ListingOutcome& out, const std::string& folder) {
  if (folder != shownFolder_) return;
  grid_->TakeModel(std::move(out.model));
  grid_->SetTopRow(pendingTopRow_);
  if (lcGrid().isDebugEnabled()) {
    const size_t rows = grid_->model().size();
    grid_->grid()->afterNextPaint = [this, folder, rows] {
      qCDebug(lcGrid) << "listed" << Q(folder) << rows << "rows; first paint after" << selectClock_.elapsed() << "ms";
    };
  }
  if (out.unread >= 0 && state_.unreadList && tab_ == GridTab::Files &&
      state_.unreadList->GetUnreadCount(folder).own != out.unread)
    state_.unreadList->ChangeUnreadCount(folder, out.unread, false);
  if (listed) listed();
}

void DeskBrowser::RefreshCounts(const std::string& folder) {
  trees_[0]->Model().RefreshUnread(folder);
}

void DeskBrowser::Relist() {
  if (!shown_) return;
  grid_->model().ClearSelection();
  ShowNode(shown_);
}

void DeskBrowser::ShowToolRows(TreeNode* node) {
  store::DocRows rows;
  auto row = [&](const std::string& title, const std::string& path) {
    DocRecord r;
    r.title = title;
    r.name = path;
    r.ext = std::string(1, kFolderMarkerExt);
    r.folder = "";
    rows.push_back(std::move(r));
  };
  if (node->image == niOptions) {
    for (const auto& [caption, picture] : OptionPages()) row(caption, "");
  } else if (node->image != niNewDocuments) {
    for (const auto& item : ShellItemsOf(*node, env_)) row(item.title, item.path);
  }
  if (node->image == niOptions) {
    // The pages keep their order.
    GridModel m;
    GridOptions o;
    o.tab = tab_;
    o.sorting = 4;
    m.SetRows({}, o);
    m.MutableRows() = std::move(rows);
    m.Refilter();
    grid_->TakeModel(std::move(m));
  } else {
    grid_->SetRows(std::move(rows));
  }
  if (listed) listed();
}

bool DeskBrowser::ShownBelow(const TreeNode* parent) const {
  for (const TreeNode* n = shown_; n; n = n->parent)
    if (n->parent == parent) return true;
  return false;
}

void DeskBrowser::ReloadChildren(TreeNode* parent) { ReloadChildren(Ix(tab_), parent); }

void DeskBrowser::ReloadChildren(int tree, TreeNode* parent) {
  // The shown node may be among the children being replaced: find it again by its path.
  const bool below = ShownBelow(parent);
  const std::string path = below ? shown_->path : std::string();
  // Expanded children stay open with their subtrees.
  trees_[tree]->Model().Reload(parent);
  if (!below) return;
  TreeNode* again = path.empty() ? nullptr : trees_[tree]->Model().FindNode(path, true);
  if (again) {
    shown_ = again;
    const bool blocked = trees_[tree]->blockSignals(true);
    trees_[tree]->SelectNode(again);
    trees_[tree]->blockSignals(blocked);
  } else if (tree == Ix(tab_)) {
    shown_ = nullptr;
    ShowNode(parent);
  }
}

void DeskBrowser::CheckTreeChanges() {
  // The folders the trees show the subfolders of are watched; a change there reloads that
  // node alone.
  std::set<std::string> folders;
  for (int t : {Ix(GridTab::Files), Ix(GridTab::Contacts)})
    if (roots_[t] && trees_[t]) folders.merge(ExpandedFolders(*roots_[t]));
  treeWatch_.SetFolders(folders);
  for (const std::string& folder : treeWatch_.TakeChangedFolders()) {
    for (int t : {Ix(GridTab::Files), Ix(GridTab::Contacts)}) {
      if (!roots_[t] || !trees_[t]) continue;
      if (TreeNode* node = FindExpandedNode(*roots_[t], folder)) ReloadChildren(t, node);
    }
  }
}

bool DeskBrowser::shownRestricted() const { return !shown_ || shown_->Restricted(); }

bool DeskBrowser::InTrash(const std::string& folder) const {
  return !state_.locations.trash.empty() && folder.starts_with(state_.locations.trash);
}

std::vector<store::OpItem> DeskBrowser::selectedItems() const {
  std::vector<store::OpItem> items;
  for (const auto& rec : store::SnapshotSelection(grid_->model().rows()))
    items.push_back(store::ItemFromSelection(rec, state_.locations.contacts));
  return items;
}

std::vector<store::OpItem> DeskBrowser::SelectedItemsWithParts() const {
  std::vector<store::OpItem> items;
  for (const auto& rec : SelectionWithHiddenParts(grid_->model().rows()))
    items.push_back(store::ItemFromSelection(rec, state_.locations.contacts));
  return items;
}

void DeskBrowser::CarryToAction(bool move) {
  auto items = SelectedItemsWithParts();
  if (items.empty() || tab_ != GridTab::Files) return;
  if (move && shownRestricted()) {
    state_.messages.QueueMessage(MessageKind::Warning, "Sorry, but you cannot move files from this folder.");
    state_.messages.ShowQueuedMessages();
    return;
  }
  std::vector<std::string> sources, folders;
  for (const auto& it : items) {
    sources.push_back(it.folder);
    if (it.ext.empty()) folders.push_back(it.folder + it.name + "/");
  }
  const std::string target = prompts_->ChooseCarryFolder(
      move ? "Move to" : "Copy to", env_,
      [&](const TreeNode* n) { return CarryTargetRefusal(n, sources, folders, move); });
  if (target.empty()) return;
  // Attachments carried without their message keep its text as a sticker.
  store::MarkOrphanAttachments(grid_->model().rows(), items);
  for (auto& it : items) it.targetFolder = target;
  ops().RunOnSelection(move ? store::opMove : store::opCopy, items);
  AfterOperation(!folders.empty());
}

void DeskBrowser::AfterOperation(bool relistTree) {
  // Index saves that failed when a handle was released: the user must hear of them.
  for (const auto& status : state_.indexRegistry.TakeSaveErrors())
    if (!status.message.empty()) state_.messages.QueueMessage(MessageKind::Error, status.message);
  CheckTrash();
  if (relistTree && shown_ && shown_->childrenLoaded) ReloadChildren(shown_);
  Relist();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::CheckTrash() {
  if (!roots_[0]) return;
  for (auto& c : roots_[0]->children) {
    if (c->image != niTrashFull && c->image != niTrashEmpty) continue;
    std::error_code ec;
    bool full = false, folders = false;
    for (auto it = std::filesystem::directory_iterator(c->path, ec); !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (store::IsIndexFileName(name) || (!name.empty() && name[0] == '.')) continue;
      full = true;
      // An expander only when there is a folder to show below the trash.
      std::error_code e2;
      if (!name.empty() && name[0] != '.' && !it->is_symlink(e2) && it->is_directory(e2)) {
        folders = true;
        break;
      }
    }
    const int image = full ? niTrashFull : niTrashEmpty;
    // Folders moved into the trash show under its node at once.
    const bool below = ShownBelow(c.get());
    const bool reload = c->childrenLoaded && !below && (folders || !c->children.empty());
    if (image == c->image && folders == c->hasSubfolders && !reload) continue;
    c->image = image;
    if (!full)
      trees_[0]->Model().Clear(c.get());
    else if (reload)
      trees_[0]->Model().Load(c.get());
    c->hasSubfolders = folders;
    trees_[0]->Model().NodeChanged(c.get());
    if (below) {
      shown_ = nullptr;
      ShowNode(c.get());
    }
  }
}

void DeskBrowser::DeleteAction() {
  auto items = SelectedItemsWithParts();
  TreeNode* trash = nullptr;
  if (roots_[0])
    for (auto& c : roots_[0]->children)
      if (c->image == niTrashFull) trash = c.get();
  store::DeleteRequest request;
  // With the pointer on a row's sticker mark only that sticker goes.
  const int stickerRow = tab_ == GridTab::Files ? grid_->StickerMarkUnderPointer() : -1;
  request.onSticker = stickerRow >= 0;
  request.anySelected = !items.empty() || request.onSticker;
  request.filesDeletable = !(tab_ == GridTab::Tools || (tab_ == GridTab::Files && shownRestricted()));
  request.trashFull = trash && tab_ == GridTab::Files;
  request.contactsTab = tab_ == GridTab::Contacts;
  request.insideTrash = InTrash(shownFolder_);
  const store::DeletePlan plan = store::PlanDelete(request);
  switch (plan.action) {
    case store::DeleteAction::Refuse:
      state_.messages.QueueMessage(MessageKind::Warning, plan.refusal);
      state_.messages.ShowQueuedMessages();
      return;
    case store::DeleteAction::AskEmptyTrash: {
      if (!prompts_->AskYesNo(std::string(store::kEmptyTrashQuestion))) return;
      store::OpItem item;
      item.folder = state_.locations.documents;
      item.name = "TRASH";
      ops().RunDocOperation(plan.code, item);
      break;
    }
    case store::DeleteAction::DeleteFinal:
      ops().RunOnSelection(plan.code, items);
      break;
    case store::DeleteAction::RemoveSticker: {
      auto& rows = grid_->model().MutableRows();
      store::OpItem item = store::ItemFromSelection(store::MakeSelectionRecord(rows[stickerRow], stickerRow),
                                                    state_.locations.contacts);
      item.sticker.clear();
      if (ops().RunDocOperation(plan.code, item)) rows[stickerRow].sticker.clear();
      grid_->RepaintRows();
      state_.messages.ShowQueuedMessages();
      return;
    }
    case store::DeleteAction::MoveToTrash:
      // Attachments thrown away without their message keep its text as a sticker.
      store::MarkOrphanAttachments(grid_->model().rows(), items);
      for (auto& it : items) it.targetFolder = state_.locations.trash;
      ops().RunOnSelection(plan.code, items);
      break;
    default:
      return;
  }
  // A group row's folder went with it: the tree loses the node.
  AfterOperation(std::any_of(items.begin(), items.end(), [](const store::OpItem& it) {
    return it.ext.size() == 1 && it.ext[0] == kGroupMarkerExt;
  }));
}

void DeskBrowser::RenameAction() {
  auto items = selectedItems();
  if (items.size() != 1) return;
  store::RenameRequest request;
  request.allowed = !(tab_ == GridTab::Tools || shownRestricted());
  if (const std::string refusal = store::RenameRefusalFor(request); !refusal.empty()) {
    state_.messages.QueueMessage(MessageKind::Warning, refusal);
    state_.messages.ShowQueuedMessages();
    return;
  }
  store::OpItem& item = items.front();
  const std::string shown = store::EditableTitle(item);
  const auto title = prompts_->AskText("Plumadex", std::string(store::kRenameDialogTitle), shown);
  if (!title || Trim(*title).empty() || *title == shown) return;
  const std::string refusal = store::RenameRefusal(item.folder, item.name, *title, item.ext);
  if (!refusal.empty()) {
    state_.messages.QueueMessage(MessageKind::Warning, refusal);
    state_.messages.ShowQueuedMessages();
    return;
  }
  item.newTitle = store::EditedTitle(item, *title);
  ops().RunDocOperation(store::opRename, item);
  // A group row renames its folder: the tree shows the new name.
  AfterOperation(item.ext.size() == 1 && item.ext[0] == kGroupMarkerExt);
}

void DeskBrowser::aDuplicateExecute(std::optional<std::string> title) {
  auto items = selectedItems();
  store::DuplicateRequest request;
  request.allowed = (tab_ == GridTab::Files || tab_ == GridTab::Contacts) && !shownRestricted();
  request.selected = items.size();
  request.ordinaryFile = items.size() == 1 && !IsContactExt(items.front().ext) &&
                         store::IsRegularFile(items.front().Path());
  switch (store::PlanDuplicate(request)) {
    case store::DuplicateAction::Nothing: return;
    case store::DuplicateAction::Refuse:
      state_.messages.QueueMessage(MessageKind::Warning, store::kCannotCreateFiles);
      state_.messages.ShowQueuedMessages();
      return;
    case store::DuplicateAction::AskName: break;
  }
  const store::OpItem& item = items.front();
  if (!title) {
    const auto text = prompts_->AskText(std::string(store::kNewDocumentTitle), std::string(store::kNewDocumentPrompt),
                                        store::EditableTitle(item));
    if (!text || Trim(*text).empty()) return;
    title = Trim(*text);
  }
  store::OpItem copy = store::DuplicateItem(item, *title);
  ops().RunDocOperation(store::opStoreCopy, copy);
  AfterOperation(false);
}

void DeskBrowser::CreateTreeNode(TreeNode* parent) {
  if (!parent || parent->path.empty() || parent->Restricted() || tab_ == GridTab::Tools) {
    state_.messages.QueueMessage(MessageKind::Warning, store::kCannotCreateFiles);
    state_.messages.ShowQueuedMessages();
    return;
  }
  const bool contacts = tab_ == GridTab::Contacts;
  const auto name = prompts_->AskText(contacts ? "New Address Group" : "New Folder",
                                      contacts ? "Enter name for new address group" : "Enter name for new folder", "");
  if (!name || Trim(*name).empty()) return;
  store::OpItem item;
  item.folder = parent->path;
  item.targetFolder = parent->path;
  item.title = Trim(*name);
  if (!ops().RunDocOperation(store::opCreateFolder, item)) {
    state_.messages.ShowQueuedMessages();
    return;
  }
  parent->expanded = true;
  ReloadChildren(parent);
}

void DeskBrowser::DeleteFolderNode(TreeNode* node) {
  store::DeleteRequest request;
  request.onFolder = true;
  request.folderDeletable = node && node->parent && NodeIsMovable(*node);
  request.contactsTab = tab_ == GridTab::Contacts;
  request.insideTrash = node && InTrash(node->path);
  const store::DeletePlan plan = store::PlanDelete(request);
  if (plan.action == store::DeleteAction::Refuse) {
    state_.messages.QueueMessage(MessageKind::Warning, plan.refusal);
    state_.messages.ShowQueuedMessages();
    return;
  }
  TreeNode* parent = node->parent;
  store::OpItem item;
  item.folder = ParentFolder(node->path);
  item.name = FolderName(node->path);
  item.title = node->caption;
  if (plan.action == store::DeleteAction::MoveToTrash) item.targetFolder = state_.locations.trash;
  ops().RunDocOperation(plan.code, item);
  ReloadChildren(parent);
  CheckTrash();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::RenameFolderNode(TreeNode* node) {
  store::RenameRequest request;
  request.onFolder = true;
  request.allowed = node && node->parent && NodeIsMovable(*node);
  if (const std::string refusal = store::RenameRefusalFor(request); !refusal.empty()) {
    state_.messages.QueueMessage(MessageKind::Warning, refusal);
    state_.messages.ShowQueuedMessages();
    return;
  }
  const auto title = prompts_->AskText("Plumadex", std::string(store::kRenameDialogTitle), node->caption);
  if (!title || Trim(*title).empty() || *title == node->caption) return;
  store::OpItem item;
  item.folder = ParentFolder(node->path);
  item.name = FolderName(node->path);
  item.title = node->caption;
  item.newTitle = Trim(*title);
  const std::string refusal = store::RenameRefusal(item.folder, item.name, item.newTitle, "");
  if (!refusal.empty()) {
    state_.messages.QueueMessage(MessageKind::Warning, refusal);
    state_.messages.ShowQueuedMessages();
    return;
  }
  const std::string oldPath = node->path;
  if (!ops().RunDocOperation(store::opRename, item)) {
    state_.messages.ShowQueuedMessages();
    return;
  }
  const std::string newPath = item.folder + item.name + "/";
  positions_.MoveFolder(oldPath, newPath);
  TreeNode* parent = node->parent;
  const bool below = ShownBelow(parent) && shown_->path.starts_with(oldPath);
  const std::string shownPath = below ? newPath + shown_->path.substr(oldPath.size()) : std::string();
  if (below) shown_ = parent;  // the old node goes away with the reload
  trees_[Ix(tab_)]->Model().Reload(parent);
  state_.messages.ShowQueuedMessages();
  if (below) {
    shown_ = nullptr;
    TreeNode* again = trees_[Ix(tab_)]->Model().FindNode(shownPath, true);
    ShowNode(again ? again : parent);
  }
}

void DeskBrowser::ColourClick(int record) {
  if (record < 0 || static_cast<size_t>(record) >= grid_->model().size()) return;
  const int rowColour = store::ColourOfFlags(grid_->model().rows()[record].flags);
  const ColourClickDecision d = DecideColourClick(rowColour, state_.settings.LastColour());
  if (d.applyColour >= 0) {
    ApplyColour(d.applyColour);
    return;
  }
  const std::optional<int> chosen = prompts_->ChooseColour(d.lastColour);
  if (!chosen) return;
  const int colour = *chosen;
  state_.settings.SetLastColour(colour);
  const int apply = ColourAfterChooser(rowColour, true, colour);
  if (apply >= 0) ApplyColour(apply);
}

void DeskBrowser::ApplyColour(int colour) {
  auto items = selectedItems();
  if (items.empty()) return;
  for (auto& it : items) it.flags = FlagsWithColour(it.flags, colour);
  ops().RunOnSelection(store::opWriteFlags, items);
  auto& rows = grid_->model().MutableRows();
  for (auto& r : rows)
    if (r.selected) r.flags = FlagsWithColour(r.flags, colour);
  const int sorting = grid_->CurrentSorting();
  if (sorting == 5 || sorting == -5) {
    grid_->model().SortAndFilter();
    grid_->UpdateRange();
  }
  grid_->RepaintRows();
  state_.messages.ShowQueuedMessages();
}

void DeskBrowser::WriteCollapse(int record, int flags) {
  const auto& rows = grid_->model().rows();
  if (record < 0 || static_cast<size_t>(record) >= rows.size()) return;
  store::OpItem item = store::ItemFromSelection(store::MakeSelectionRecord(rows[record], record), state_.locations.contacts);
  item.flags = flags;
  ops().RunDocOperation(store::opWriteFlags, item);
}

void DeskBrowser::openRecord(int record) {
  const auto& rows = grid_->model().rows();
  if (record < 0 || static_cast<size_t>(record) >= rows.size()) return;
  const DocRecord& r = rows[record];
  if (openDocument && openDocument(r)) return;
  if (r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt) {
    if (TreeNode* n = trees_[1]->Model().FindNode(r.folder + r.name + "/", true)) ShowNode(n);
    return;
  }
  const std::string path = r.ext.size() == 1 && r.ext[0] == kFolderMarkerExt ? r.name : r.FilePath();
  if (path.empty()) return;
  const QFileInfo fi(Q(path));
  // Documents are opened by the desktop's default application; nothing is ever executed.
  if (!fi.exists() || (fi.isFile() && fi.isExecutable() && !path.ends_with(".desktop"))) return;
  if (path.ends_with(".desktop")) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(fi.absoluteFilePath()));
}

GridMenu DeskBrowser::GridMenuFor(int record) const {
  GridMenuInput in;
  in.tab = tab_;
  in.shownRestricted = shownRestricted();
  in.shownHasFolder = shown_ && !shown_->path.empty();
  in.selected = grid_->model().SelectedCount();
  const auto& rows = grid_->model().rows();
  if (state_.blockedSenders && record >= 0 && static_cast<size_t>(record) < rows.size()) {
    in.blockableSender = DeskMail::BlockableSender(rows[record]);
    in.senderBlocked = !in.blockableSender.empty() && state_.blockedSenders->IsBlocked(in.blockableSender);
  }
  return DecideGridMenu(in);
}

void DeskBrowser::OnContextMenu(int record, const QPoint& pos) {
  const GridMenu decided = GridMenuFor(record);
  if (!decided.shown) return;
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
  const auto& rows = grid_->model().rows();
  const std::string sender =
      record >= 0 && static_cast<size_t>(record) < rows.size() ? DeskMail::BlockableSender(rows[record]) : std::string();
  if (!decided.blockText.empty()) {
    menu.addSeparator();
    block = menu.addAction(Q(decided.blockText));
  }
  menu.addSeparator();
  QAction* newFolder = menu.addAction(Q(decided.newFolderText));
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
  if (chosen == open) openRecord(record);
  else if (chosen == rename) RenameAction();
  else if (chosen == duplicate) aDuplicateExecute();
  else if (chosen == del) DeleteAction();
  else if (chosen == copyTo) CarryToAction(false);
  else if (chosen == moveTo) CarryToAction(true);
  else if (chosen == newFolder) CreateTreeNode(shown_);
  else if (block && chosen == block) BlockSenderAction(sender);
  else if (chosen->parent() == colours || colours->actions().contains(chosen)) ApplyColour(chosen->data().toInt());
}

void DeskBrowser::BlockSenderAction(const std::string& sender) {
  if (!state_.blockedSenders || sender.empty()) return;
  if (state_.blockedSenders->IsBlocked(sender)) {
    state_.blockedSenders->Unblock({sender});
    return;
  }
  if (prompts_->AskOkCancel(DeskMail::BlockQuestion(sender))) state_.blockedSenders->Block(sender);
}

void DeskBrowser::OnTreeContextMenu(int tab, const QPoint& pos) {
  TPXTreeView* view = trees_[tab];
  TreeNode* node = view->NodeAt(pos);
  const TreeMenu decided = DecideTreeMenu(static_cast<GridTab>(tab), node);
  if (!decided.shown) return;
  QMenu menu(view);
  QAction* newFolder = menu.addAction(Q(decided.newFolderText));
  QAction* rename = menu.addAction(QStringLiteral("Rename..."));
  QAction* del = menu.addAction(QStringLiteral("Delete"));
  QAction* empty = nullptr;
  if (decided.emptyTrash) empty = menu.addAction(QStringLiteral("Empty trash bin"));
  newFolder->setEnabled(decided.newFolder);
  rename->setEnabled(decided.rename);
  del->setEnabled(decided.del);
  if (carry_) carry_->ExtendTreeMenu(menu, node);
  QAction* chosen = menu.exec(view->viewport()->mapToGlobal(pos));
  if (!chosen) return;
  if (chosen == newFolder) CreateTreeNode(node);
  else if (chosen == rename) RenameFolderNode(node);
  else if (chosen == del) DeleteFolderNode(node);
  else if (chosen == empty) {
    grid_->model().ClearSelection();
    DeleteAction();
  }
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

DeskBrowser* InstallDeskBrowser(TfrmDesk& desk, DeskState& state) {
  auto* browser = new DeskBrowser(state, desk.pnlTrees(), desk.pnlGrid(), desk.StatusPanel(2), &desk);
  browser->SetCarry(new DeskCarry(*browser, state, &desk));
  if (desk.StatusPanel(0) && desk.StatusPanel(1))
    new CopyMoveSwitch(*browser, desk.StatusPanel(0), desk.StatusPanel(1), browser);
  DeskHooks& hooks = desk.hooks();
  hooks.buildTrees = [browser] { browser->BuildTrees(); };
  hooks.selectFirstNode = [browser] { browser->SelectFirstNode(); };
  hooks.relistFolder = [browser] { browser->Relist(); };
  hooks.folderSelected = [browser] { return browser->FolderSelected(); };
  hooks.filesTabShown = [browser] { return browser->FilesTabShown(); };
  hooks.rememberTopRow = [browser] { browser->RememberTopRow(); };
  hooks.clearGrid = [browser] { browser->ClearGrid(); };
  hooks.checkFolderChanges = [browser] { browser->CheckFolderChanges(); };
  return browser;
}

}  // namespace px::desk
