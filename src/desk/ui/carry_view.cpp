#include "desk/ui/carry_view.h"

#include "desk/carry_targets.h"
#include "desk/desk_mail.h"
#include "desk/desk_state.h"
#include "desk/grid_zones.h"
#include "desk/opening.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/tree_view.h"
#include "foundation/strings.h"
#include "store/desk_actions.h"
#include "store/doc_operations.h"
#include "store/folder_files.h"

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QClipboard>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>

#include <unistd.h>


namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

QByteArray OurMarker() { return QByteArray::number(static_cast<qint64>(::getpid())); }

bool Ours(const QMimeData* mime) { return mime && mime->hasFormat(QLatin1String(kCarryMime)) && mime->data(QLatin1String(kCarryMime)) == OurMarker(); }

std::vector<std::string> PathsOfMime(const QMimeData* mime, bool* cut) {
  if (cut) *cut = false;
  if (!mime) return {};
  if (mime->hasFormat(QStringLiteral("x-special/gnome-copied-files"))) {
    const QByteArray b = mime->data(QStringLiteral("x-special/gnome-copied-files"));
    return PathsOfCopiedFiles(std::string_view(b.constData(), static_cast<size_t>(b.size())), cut);
  }
  if (mime->hasFormat(QStringLiteral("text/uri-list"))) {
    const QByteArray b = mime->data(QStringLiteral("text/uri-list"));
    return LocalPathsOfUriList(std::string_view(b.constData(), static_cast<size_t>(b.size())));
  }
  return {};
}

Qt::CursorShape ShapeOf(int cursor, bool moves) {
  switch (cursor) {
    case ccDrag:
    case ccMultiDrag: return moves ? Qt::DragMoveCursor : Qt::DragCopyCursor;
    case ccDragFolder: return Qt::ClosedHandCursor;
    case ccDragAddr: return Qt::DragLinkCursor;
    case ccDragSticker: return Qt::DragCopyCursor;
    case ccFont: return Qt::IBeamCursor;
    case ccHand: return Qt::OpenHandCursor;
    case ccHand2: return Qt::ClosedHandCursor;
    case ccMailSort: return Qt::CrossCursor;
    case ccNoDrop: return Qt::ForbiddenCursor;
    case ccBusy: return Qt::WaitCursor;
    default: return Qt::ArrowCursor;
  }
}

bool Movable(const TreeNode* n) { return n && n->parent && !n->path.empty() && NodeIsMovable(*n); }

}  // namespace

// ---------------- drag window ----------------

TfrmDrag::TfrmDrag(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                         Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("TfrmDrag"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  setEnabled(false);
  // Half translucent where the window system can blend.
  setWindowOpacity(0.5);
}

void TfrmDrag::ShowPicture(const QPixmap& picture, QPoint offset, QPoint pointer) {
  picture_ = picture;
  offset_ = offset;
  resize(picture.size() / std::max<qreal>(1.0, picture.devicePixelRatio()));
  // Only the rows' text areas show, also where the window system cannot blend.
  if (picture.hasAlphaChannel())
    setMask(picture.mask());
  else
    clearMask();
  Follow(pointer);
  if (!isVisible()) show();
  update();
}

void TfrmDrag::Follow(QPoint pointer) { move(pointer + offset_); }

void TfrmDrag::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, picture_);
}

// ---------------- carrying ----------------

DeskCarry::DeskCarry(DeskBrowserView& view, DeskState& state, QWidget* window)
    : QObject(&view.browser()), view_(view), browser_(view.browser()), state_(state), window_(window) {
  setObjectName(QStringLiteral("DeskCarry"));
  clock_.start();
  drag_ = new TfrmDrag(window);
  GridPanel* grid = view_.grid();
  gridViewport_ = grid->grid()->viewport();
  gridViewport_->setAcceptDrops(true);
  for (int t = 0; t < 3; ++t) {
    TPXTreeView* view = view_.tree(t);
    view->setAcceptDrops(true);
    treeViewports_[t] = view->viewport();
    treeViewports_[t]->setAcceptDrops(true);
  }
  // One application-wide filter sees the grid's and the trees' events first, and every mouse
  // move and key of the window (the drag window follows, Escape and the right button cancel).
  qApp->installEventFilter(this);
  tmrAutoExpand_.setObjectName(QStringLiteral("tmrAutoExpand"));
  tmrAutoExpand_.setInterval(100);
  connect(&tmrAutoExpand_, &QTimer::timeout, this, [this] {
    const TreeNode* due = autoExpand_.Due(clock_.elapsed());
    if (!due) return;
    TPXTreeView* view = view_.tree(DeskBrowser::Ix(browser_.CurrentTab()));
    // The hovered node is still there when the timer comes due.
    if (view->ShowsNode(due)) view->ExpandNode(const_cast<TreeNode*>(due));
  });

  // Keys for people who do not carry with the mouse. They belong to the grid and the trees,
  // so text fields elsewhere keep their own Ctrl+C and Ctrl+V.
  auto keys = [this](QWidget* owner) {
    auto add = [this, owner](const QKeySequence& seq, auto fn) {
      auto* s = new QShortcut(seq, owner);
      s->setContext(Qt::WidgetWithChildrenShortcut);
      connect(s, &QShortcut::activated, this, fn);
    };
    add(QKeySequence::Copy, [this] { CopySelection(false); });
    add(QKeySequence::Cut, [this] { CopySelection(true); });
    add(QKeySequence::Paste, [this] { Paste(); });
    add(QKeySequence(Qt::Key_F2), [this] {
      if (view_.tree(DeskBrowser::Ix(browser_.CurrentTab()))->hasFocus()) {
        TreeNode* n = view_.tree(DeskBrowser::Ix(browser_.CurrentTab()))->CurrentNode();
        if (n) browser_.RenameFolderNode(n);
      } else {
        browser_.RenameAction();
      }
    });
    add(QKeySequence(Qt::Key_F5), [this] {
      if (browser_.ShownNode() && browser_.ShownNode()->childrenLoaded) browser_.ReloadChildren(browser_.ShownNode());
      browser_.Relist();
    });
    add(QKeySequence(Qt::SHIFT | Qt::Key_F10), [this] { ContextKey(); });
    add(QKeySequence(Qt::Key_Menu), [this] { ContextKey(); });
  };
  keys(grid);
  if (view_.tabs()) {
    tabBar_ = view_.tabs()->tabBar();
    tabBar_->setAcceptDrops(true);
  }
  if (view_.tabs()) {
    keys(view_.tabs());
  } else {
    for (int t = 0; t < 3; ++t) keys(view_.tree(t));
  }

  // Rows selected with the keyboard are in hand as clicked ones are; the picture follows.
  connect(grid, &GridPanel::selectionChanged, this, [this] {
    const GridModel& m = view_.grid()->model();
    if (hand_.state() == Hand::Empty && m.SelectedCount() > 0) {
      const int cur = view_.grid()->grid()->CurrentRow();
      int rec = cur >= 0 && static_cast<size_t>(cur) < m.VisibleCount() ? static_cast<int>(m.RecordOfVisible(cur)) : -1;
      if (rec < 0 || !m.rows()[rec].selected)
        for (size_t r = 0; r < m.size(); ++r)
          if (m.rows()[r].selected) {
            rec = static_cast<int>(r);
            break;
          }
      hand_.HoldDocuments(rec);
    } else if (hand_.state() == Hand::Documents && m.SelectedCount() == 0) {
      hand_.PutDown();
    } else if (hand_.state() != Hand::Documents) {
      return;
    }
    Refresh();
  });
  // A new listing: carried documents follow their rows, or the hand is put down.
  auto previous = browser_.listed;
  browser_.listed = [this, previous] {
    if (hand_.state() == Hand::Snapshot) {
      GridModel& m = view_.grid()->model();
      for (size_t r : hand_.Reselect(m.rows())) SelectWithHiddenChildren(m, r, true);
      view_.grid()->SelectionTouched();
    } else if (hand_.state() == Hand::Documents && view_.grid()->model().SelectedCount() == 0) {
      hand_.PutDown();
    }
    Refresh();
    if (previous) previous();
  };
  browser_.beforeTabSwitch = [this](GridTab) {
    if (hand_.state() == Hand::Documents) {
      hand_.TakeSnapshot(store::SnapshotSelection(view_.grid()->model().rows()), hand_.currentRecord());
    } else if (!hand_.Empty() && hand_.state() != Hand::Snapshot) {
      return false;
    }
    return true;
  };
  browser_.handState = [this] {
    switch (hand_.state()) {
      case Hand::Empty: return HandState::Empty;
      case Hand::Documents: return HandState::Documents;
      case Hand::Snapshot: return HandState::Snapshot;
      default: return HandState::Other;
    }
  };
  // Filing and transfers belong to the desk's mail part: drops wait for them too.
  browser_.busyElsewhere = [this] {
    if (!window_) return false;
    auto* mail = window_->findChild<DeskMail*>();
    return mail && (mail->Filing() || (mail->transferRunning && mail->transferRunning()));
  };
}

DeskCarry::~DeskCarry() {
  if (qApp) qApp->removeEventFilter(this);
  if (overrideCursor_) QGuiApplication::restoreOverrideCursor();
}

bool DeskCarry::Busy() const { return browser_.Busy(); }

// ---- the hand's look ----

QPixmap DeskCarry::BuildPicture() const {
  const GridPanel* grid = view_.grid();
  const QPalette pal = grid->palette();
  const QFont font = grid->grid()->font();
  const QFontMetrics fm(font);
  const int rowH = grid->grid()->rowHeight();
  if (hand_.state() == Hand::Folder) {
    const TreeNode* n = NodeOfPath(hand_.folder());
    const QString caption = n ? Q(n->caption) : Q(FolderNameOf(hand_.folder()));
    QPixmap pm(fm.horizontalAdvance(caption) + 28, rowH);
    pm.fill(pal.color(QPalette::Highlight));
    QPainter p(&pm);
    p.setFont(font);
    view_.tree(0)->style()->standardIcon(QStyle::SP_DirIcon).paint(&p, QRect(4, (rowH - 16) / 2, 16, 16));
    p.setPen(pal.color(QPalette::HighlightedText));
    p.drawText(QRect(24, 0, pm.width() - 24, rowH), Qt::AlignVCenter | Qt::AlignLeft, caption);
    return pm;
  }
  // The rows in hand: the selection, or the documents carried over from another tab.
  struct Picked {
    std::string title, ext;
    int flags = 0;
  };
  std::vector<Picked> picked;
  if (hand_.state() == Hand::Snapshot) {
    for (const auto& s : hand_.snapshot()) picked.push_back({s.title, s.ext, s.flags});
  } else {
    for (const auto& r : grid->model().rows())
      if (r.selected && !(browser_.CurrentTab() == GridTab::Contacts && (r.searchState & store::rsChild)))
        picked.push_back({r.title, r.ext, r.flags});
  }
  const QScreen* screen = window_ ? window_->screen() : QGuiApplication::primaryScreen();
  const PictureRows pr = DragPictureRows(picked.size(), rowH, screen ? screen->geometry().height() : 0);
  if (pr.rows == 0) return {};
  const int width = std::max(120, grid->columns().N > 0 ? grid->columns().N : 300);
  const int count = static_cast<int>(pr.rows) + (pr.ellipsis ? 1 : 0);
  QPixmap pm(width, rowH * count);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setFont(font);
  for (size_t i = 0; i < pr.rows; ++i) {
    const Picked& r = picked[i];
    const int y = static_cast<int>(i) * rowH;
    QString text = Q(r.title);
    if (r.flags & store::dfDraft) text = QStringLiteral("DRAFT: ") + text;
    const int textWidth = std::min(width - 74, fm.horizontalAdvance(text) + 8);
    // Only the text area shows: the rest of the row stays transparent.
    p.fillRect(QRect(0, y, 74 + textWidth, rowH), pal.color(QPalette::Highlight));
    const QIcon icon = r.ext.empty() ? grid->style()->standardIcon(QStyle::SP_DirIcon)
                                     : grid->style()->standardIcon(QStyle::SP_FileIcon);
    icon.paint(&p, QRect(2, y + (rowH - 16) / 2, 16, 16));
    p.setPen(pal.color(QPalette::HighlightedText));
    p.drawText(QRect(74, y, textWidth, rowH), Qt::AlignVCenter | Qt::AlignLeft, fm.elidedText(text, Qt::ElideRight, textWidth));
  }
  if (pr.ellipsis) {
    const int y = static_cast<int>(pr.rows) * rowH;
    p.fillRect(QRect(0, y, 74 + fm.horizontalAdvance(QStringLiteral("...")) + 8, rowH), pal.color(QPalette::Highlight));
    p.setPen(Qt::white);
    p.drawText(QRect(74, y, width - 74, rowH), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("..."));
  }
  return pm;
}

void DeskCarry::Refresh() {
  CursorInput in;
  in.hand = hand_.state();
  in.busy = Busy() && !hand_.Empty();
  const auto& rows = view_.grid()->model().rows();
  if (hand_.state() == Hand::Documents) {
    in.count = view_.grid()->model().SelectedCount();
    const int cur = hand_.currentRecord();
    in.currentIsContact = cur >= 0 && static_cast<size_t>(cur) < rows.size() && rows[cur].IsContact();
  } else if (hand_.state() == Hand::Snapshot) {
    in.count = hand_.snapshot().size();
    in.currentIsContact = !hand_.snapshot().empty() && px::IsContactExt(hand_.snapshot().front().ext);
  }
  const int cursor = CarryCursorOf(in);
  if (cursor == ccArrow) {
    if (overrideCursor_) QGuiApplication::restoreOverrideCursor();
    overrideCursor_ = false;
  } else {
    const QCursor c(ShapeOf(cursor, browser_.DragMoves()));
    if (overrideCursor_)
      QGuiApplication::changeOverrideCursor(c);
    else
      QGuiApplication::setOverrideCursor(c);
    overrideCursor_ = true;
  }
  const DragPicture look = DragPictureOf(hand_.state());
  if (!look.shown || dragging_) {
    drag_->hide();
    return;
  }
  const QPixmap pm = BuildPicture();
  if (pm.isNull()) {
    drag_->hide();
    return;
  }
  drag_->ShowPicture(pm, QPoint(look.offsetX, look.offsetY), QCursor::pos());
}

void DeskCarry::PutDown() {
  const bool hadSnapshot = hand_.state() == Hand::Snapshot;
  const bool carried = !hand_.Empty();
  hand_.PutDown();
  autoExpand_.Stop();
  tmrAutoExpand_.stop();
  if (carried) {
    // Documents carried to the contacts tab come back to the files tab.
    if (hadSnapshot && browser_.CurrentTab() == GridTab::Contacts) browser_.SwitchTab(GridTab::Files);
    view_.grid()->model().ClearSelection();
    view_.grid()->SelectionTouched();
  }
  Refresh();
}

// ---- drops ----

TreeNode* DeskCarry::NodeOfPath(const std::string& path) const {
  if (path.empty()) return nullptr;
  // The tab shown first: a folder may show in more than one tree.
  const int shown = DeskBrowser::Ix(browser_.CurrentTab());
  for (int t : {shown, 0, 1})
    if (t < 2 && browser_.root(t))
      if (TreeNode* n = FindTreeNode(*browser_.root(t), path, nullptr)) return n;
  return nullptr;
}

TreeNode* DeskCarry::StillThere(TPXTreeView* view, TreeNode* node, const std::string& path) const {
  if (!path.empty()) return NodeOfPath(path);
  // A node without a folder is compared by identity only, never followed.
  return view->ShowsNode(node) ? node : nullptr;
}

void DeskCarry::DropOnNode(TreeNode* node, Qt::KeyboardModifiers mods) {
  const DeskBrowser::CarryOutcome out = browser_.DropCarried(
      hand_, node, mods & Qt::ControlModifier, mods & Qt::ShiftModifier, [this] { FinishDrop(); });
  if (out.heldRecord >= 0) {
    // A sticker became a document: it is in hand as a clicked row would be.
    hand_.HoldDocuments(out.heldRecord);
    Refresh();
  }
}

void DeskCarry::GiveSticker(int record) {
  // The sticker stays in hand for further rows.
  const std::string sticker = hand_.sticker(), charset = hand_.StickerCharset();
  browser_.WriteStickerOn(record, sticker);
  hand_.HoldSticker(sticker, charset);
  Refresh();
}

bool DeskCarry::TabBarDrag(QEvent* e) {
  auto* de = static_cast<QDropEvent*>(e);
  if (!Ours(de->mimeData())) return false;
  if (e->type() == QEvent::Drop) {
    de->ignore();
    return true;
  }
  auto* me = static_cast<QDragMoveEvent*>(e);
  const int index = tabBar_->tabAt(me->position().toPoint());
  // The files and contacts tabs take carried documents; hovering one shows it.
  if ((index == DeskBrowser::Ix(GridTab::Files) || index == DeskBrowser::Ix(GridTab::Contacts)) &&
      index != tabBar_->currentIndex() && !Busy())
    tabBar_->setCurrentIndex(index);
  me->setDropAction(Qt::CopyAction);
  me->accept();
  return true;
}

void DeskCarry::FinishDrop() {
  hand_.PutDown();
  autoExpand_.Stop();
  tmrAutoExpand_.stop();
  view_.grid()->model().ClearSelection();
  view_.grid()->SelectionTouched();
  Refresh();
}

void DeskCarry::DropFromOutside(const TreeNode* node, const std::vector<std::string>& paths, bool shift) {
  browser_.DropFiles(node, paths, shift);
}

// ---- clipboard ----

QMimeData* DeskCarry::MimeOfSelection() const {
  auto* mime = new QMimeData;
  QList<QUrl> urls;
  for (const auto& rec : SelectionWithHiddenParts(view_.grid()->model().rows())) {
    if (px::IsContactExt(rec.ext) && rec.prefix == store::kContactRefPrefix) continue;
    store::DocRecord r;
    r.folder = rec.folder;
    r.name = rec.name;
    r.target = rec.target;
    const std::string p = r.FilePath();
    if (!p.empty()) urls.push_back(QUrl::fromLocalFile(Q(p)));
  }
  mime->setUrls(urls);
  mime->setData(QLatin1String(kCarryMime), OurMarker());
  return mime;
}

void DeskCarry::CopySelection(bool cut) {
  if (browser_.CurrentTab() == GridTab::Tools) return;
  const store::Selection sel = SelectionWithHiddenParts(view_.grid()->model().rows());
  if (sel.empty()) return;
  if (cut && browser_.ShownRestricted()) {
    state_.messages.QueueMessage(MessageKind::Warning, store::kCannotMoveFiles);
    state_.messages.ShowQueuedMessages();
    return;
  }
  clip_.Put(sel, cut);
  QMimeData* mime = MimeOfSelection();
  const std::vector<std::string> paths = clip_.Paths();
  const std::string gnome = CopiedFilesText(paths, cut);
  mime->setData(QStringLiteral("x-special/gnome-copied-files"), QByteArray::fromStdString(gnome));
  QStringList lines;
  for (const auto& p : paths) lines << Q(p);
  mime->setText(lines.join(QLatin1Char('\n')));
  QGuiApplication::clipboard()->setMimeData(mime);
  // The rows are remembered, no longer in hand: the next click on a folder shows it, and
  // Ctrl+V puts them there.
  PutDown();
}

void DeskCarry::Paste() {
  TreeNode* target = browser_.ShownNode();
  if (!target || browser_.CurrentTab() == GridTab::Tools) return;
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  if (!Ours(mime) || clip_.Empty()) {
    // Files copied or cut in another program.
    bool cut = false;
    const auto paths = PathsOfMime(mime, &cut);
    if (!paths.empty()) browser_.DropFiles(target, paths, cut);
    return;
  }
  const DeskBrowser::PasteOutcome out = browser_.Paste(clip_);
  if (out.cutTaken) QGuiApplication::clipboard()->clear();
  if (out.ran) PutDown();
}

// ---- trash ----

bool DeskCarry::RestoreAvailable() const { return browser_.RestoreAvailable(); }

void DeskCarry::RestoreSelection() {
  if (browser_.RestoreSelection()) PutDown();
}

void DeskCarry::RestoreFolder(TreeNode* node) { browser_.RestoreFolder(node); }

// ---- menus ----

void DeskCarry::KeepInHand(bool move) {
  browser_.SetDragDefault(move);
  const GridModel& m = view_.grid()->model();
  if (m.SelectedCount() == 0) return;
  int cur = hand_.currentRecord();
  if (cur < 0 || static_cast<size_t>(cur) >= m.size() || !m.rows()[cur].selected)
    for (size_t i = 0; i < m.size(); ++i)
      if (m.rows()[i].selected) {
        cur = static_cast<int>(i);
        break;
      }
  hand_.HoldDocuments(cur);
  Refresh();
}

void DeskCarry::ExtendRowMenu(QMenu& menu, int) {
  if (browser_.CurrentTab() == GridTab::Tools) return;
  menu.addSeparator();
  const bool contactsShown = browser_.CurrentTab() == GridTab::Contacts;
  QAction* copy = menu.addAction(QStringLiteral("Copy"), this, [this] { KeepInHand(false); });
  copy->setCheckable(true);
  copy->setChecked(!browser_.DragMoves() || contactsShown);
  copy->setObjectName(QStringLiteral("aCopy"));
  if (!contactsShown) {
    QAction* move = menu.addAction(QStringLiteral("Move"), this, [this] { KeepInHand(true); });
    move->setCheckable(true);
    move->setChecked(browser_.DragMoves());
    move->setObjectName(QStringLiteral("aMove"));
  }
  if (RestoreAvailable()) menu.addAction(QStringLiteral("Restore"), this, [this] { RestoreSelection(); })->setObjectName(QStringLiteral("aRestore"));
}

void DeskCarry::ExtendTreeMenu(QMenu& menu, TreeNode* node) {
  if (!node || browser_.CurrentTab() == GridTab::Tools) return;
  if (Movable(node)) {
    menu.addSeparator();
    for (bool move : {false, true}) {
      if (move && browser_.CurrentTab() == GridTab::Contacts) continue;
      QAction* a = menu.addAction(move ? QStringLiteral("Move") : QStringLiteral("Copy"), this, [this, node, move] {
        browser_.SetDragDefault(move);
        if (browser_.ShownNode() != node) browser_.ShowNode(node);
        hand_.HoldFolder(node->path);
        Refresh();
      });
      a->setCheckable(true);
      a->setChecked(browser_.DragMoves() == move);
    }
  }
  if (!state_.locations.trash.empty() && ParentFolderOf(node->path) == state_.locations.trash)
    menu.addAction(QStringLiteral("Restore"), this, [this, node] { RestoreFolder(node); });
}

void DeskCarry::ContextKey() {
  TPXTreeView* view = view_.tree(DeskBrowser::Ix(browser_.CurrentTab()));
  if (view->hasFocus()) {
    if (const QModelIndex current = view->currentIndex(); current.isValid()) {
      const QPoint pos = view->visualRect(current).center();
      emit view->customContextMenuRequested(pos);
    }
    return;
  }
  GridPanel* grid = view_.grid();
  GridModel& m = grid->model();
  int record = hand_.currentRecord();
  if (record < 0 || static_cast<size_t>(record) >= m.size()) {
    const int hot = grid->grid()->HotRow();
    if (hot >= 0 && static_cast<size_t>(hot) < m.VisibleCount()) record = static_cast<int>(m.RecordOfVisible(hot));
  }
  if (record >= 0 && !m.rows()[record].selected) {
    m.SelectOnly(static_cast<size_t>(record));
    grid->SelectionTouched();
  }
  int v = record >= 0 ? m.VisibleOfRecord(static_cast<size_t>(record)) : -1;
  QPoint local(40, 8);
  if (v >= 0) local = QPoint(80, (v - grid->grid()->topRow()) * grid->grid()->rowHeight() + grid->grid()->rowHeight() / 2);
  emit grid->ContextMenuRequested(record, grid->grid()->viewport()->mapToGlobal(local) + QPoint(2, 2));
}

// ---- events ----

void DeskCarry::startDrag(bool folder) {
  if (dragging_) return;
  auto* drag = new QDrag(this);
  QMimeData* mime = nullptr;
  if (folder) {
    mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(Q(hand_.folder()))});
    mime->setData(QLatin1String(kCarryMime), OurMarker());
  } else if (hand_.state() == Hand::Sticker) {
    mime = new QMimeData;
    mime->setData(QLatin1String(kCarryMime), OurMarker());
  } else {
    mime = MimeOfSelection();
  }
  drag->setMimeData(mime);
  const QPixmap pm = BuildPicture();
  const DragPicture look = DragPictureOf(hand_.state());
  if (!pm.isNull()) {
    drag->setPixmap(pm);
    drag->setHotSpot(QPoint(-look.offsetX, -look.offsetY));
  }
  dragging_ = true;
  droppedHere_ = false;
  droppedOnNode_ = false;
  drag_->hide();
  // Other programs may only copy: a file manager never takes a document away from its entry.
  Qt::DropAction result = Qt::IgnoreAction;
  if (runDrag) {
    result = runDrag(*drag);
    drag->deleteLater();
  } else {
    result = drag->exec(Qt::CopyAction, Qt::CopyAction);
  }
  dragging_ = false;
  autoExpand_.Stop();
  tmrAutoExpand_.stop();
  ShowShownNode(view_.tree(DeskBrowser::Ix(browser_.CurrentTab())));
  const DragEnd how = droppedOnNode_ ? DragEnd::DeskNode
                      : droppedHere_ ? DragEnd::DeskGrid
                      : result == Qt::IgnoreAction ? DragEnd::Cancelled
                                                   : DragEnd::OtherProgram;
  // A drag that ended leaves nothing in hand, so no later click drops it somewhere unasked.
  if (hand_.DragEnded(how)) {
    PutDown();
    return;
  }
  Refresh();
}

bool DeskCarry::GridMouse(QEvent* e) {
  auto* me = static_cast<QMouseEvent*>(e);
  GridPanel* grid = view_.grid();
  TheGrid* tg = grid->grid();
  GridModel& m = grid->model();
  const QPoint pos = me->position().toPoint();
  auto rowAt = [&](int y) -> int {
    if (y < 0) return -1;
    const int row = tg->topRow() + y / std::max(1, tg->rowHeight());
    return row < static_cast<int>(m.VisibleCount()) ? row : -1;
  };
  if (e->type() == QEvent::MouseButtonPress) {
    if (browser_.CurrentTab() == GridTab::Tools) return false;
    if (Busy()) return true;  // a press while the desk works is ignored
    pressRecord_ = -1;
    namePress_ = false;
    if (me->button() != Qt::LeftButton) return false;
    const int v = rowAt(pos.y());
    hand_.Press(me->globalPosition().toPoint().x(), me->globalPosition().toPoint().y());
    if (v < 0) return false;
    const size_t rec = m.RecordOfVisible(static_cast<size_t>(v));
    const ZoneFrame frame = MakeZoneFrame(grid->columns(), tg->rowHeight());
    const int zone = HitZone(pos.x(), pos.y() - (v - tg->topRow()) * tg->rowHeight(), frame, grid->FactsOf(rec));
    // The pressed row is the keyboard's too (Shift keeps the anchor it extends from).
    tg->SetCurrentRow(v, !(me->modifiers() & Qt::ShiftModifier));
    pressRecord_ = static_cast<int>(rec);
    pressZone_ = zone;
    if (hand_.state() == Hand::Sticker && zone == gzSticker) {
      GiveSticker(static_cast<int>(rec));
      return true;
    }
    if (hand_.state() == Hand::Snapshot && browser_.CurrentTab() == GridTab::Contacts && zone != gzNone) {
      // Documents carried over from the files tab go to the person or group clicked.
      const store::DocRecord row = m.rows()[rec];
      if (browser_.GiveToContactRow(row, browser_.CarriedFiles(hand_), [this] { PutDown(); })) return true;
    }
    if (me->modifiers() & Qt::AltModifier) {
      m.SelectAllVisible();
      if (m.VisibleCount() > 0) hand_.HoldDocuments(static_cast<int>(m.RecordOfVisible(0)));
      grid->SelectionTouched();
      Refresh();
      return true;
    }
    if (me->modifiers() & Qt::ShiftModifier) {
      ExtendSelection(m, hand_, rec);
      grid->SelectionTouched();
      Refresh();
      return true;
    }
    if (zone == gzAddress && hand_.state() == Hand::Documents && browser_.CurrentTab() == GridTab::Files &&
        !m.rows()[rec].selected && !m.rows()[rec].address.empty()) {
      // The person receives what is in hand.
      browser_.GiveToAddress(hand_, m.rows()[rec].address, [this] { FinishDrop(); });
      return true;
    }
    if (zone == gzName) {
      tg->setFocus();
      namePress_ = true;
      pressWasSelected_ = PressName(m, hand_, rec);
      grid->SelectionTouched();
      Refresh();
      return true;
    }
    if (zone == gzSticker && !m.rows()[rec].sticker.empty()) {
      // The press may become a drag of the sticker: decided on the move.
      return false;
    }
    if (zone == gzTypeIcon) {
      // Opening is passing: once the document is open, nothing is in hand.
      QTimer::singleShot(0, this, [this] { PutDown(); });
      return false;
    }
    if (zone != gzNone) {
      // The zone's action runs in the grid; the row it selects is in hand.
      hand_.HoldDocuments(static_cast<int>(rec));
      QTimer::singleShot(0, this, [this] {
        if (view_.grid()->model().SelectedCount() == 0) hand_.PutDown();
        Refresh();
      });
    }
    return false;
  }
  if (e->type() == QEvent::MouseMove) {
    if (!(me->buttons() & Qt::LeftButton) || pressRecord_ < 0 || static_cast<size_t>(pressRecord_) >= m.size()) return false;
    const QPoint g = me->globalPosition().toPoint();
    if (!hand_.MoveWithButton(g.x(), g.y())) return false;
    const store::DocRecord& r = m.rows()[static_cast<size_t>(pressRecord_)];
    if (pressZone_ == gzSticker && !r.sticker.empty() && hand_.state() != Hand::Sticker) {
      hand_.HoldSticker(r.sticker, std::string(r.charset()));
      startDrag(false);
      return true;
    }
    if (!r.selected) return false;
    if (hand_.state() != Hand::Documents) hand_.HoldDocuments(pressRecord_);
    pressRecord_ = -1;
    startDrag(false);
    return true;
  }
  if (e->type() == QEvent::MouseButtonRelease) {
    if (me->button() != Qt::LeftButton || !namePress_) return false;
    namePress_ = false;
    const int v = rowAt(pos.y());
    const bool same = v >= 0 && static_cast<int>(m.RecordOfVisible(static_cast<size_t>(v))) == pressRecord_;
    if (pressRecord_ >= 0) ReleaseName(m, hand_, static_cast<size_t>(pressRecord_), pressWasSelected_, same);
    pressRecord_ = -1;
    hand_.ClearPressDrag();
    grid->SelectionTouched();
    Refresh();
    return true;
  }
  return false;
}

bool DeskCarry::GridDrag(QEvent* e) {
  auto* de = static_cast<QDropEvent*>(e);
  const QMimeData* mime = de->mimeData();
  if (e->type() == QEvent::DragEnter || e->type() == QEvent::DragMove) {
    // The desk's own rows may be let go over the grid again (they stay in hand); files of other
    // programs go into the shown folder.
    if (Ours(mime) || !PathsOfMime(mime, nullptr).empty()) {
      de->setDropAction(Qt::CopyAction);
      de->accept();
    } else {
      de->ignore();
    }
    return true;
  }
  if (e->type() == QEvent::Drop) {
    if (Ours(mime)) {
      droppedHere_ = true;
      de->setDropAction(Qt::CopyAction);
      de->accept();
      if (browser_.CurrentTab() == GridTab::Contacts) {
        TheGrid* tg = view_.grid()->grid();
        const GridModel& m = view_.grid()->model();
        const int y = de->position().toPoint().y();
        const int v = tg->topRow() + y / std::max(1, tg->rowHeight());
        if (y >= 0 && v < static_cast<int>(m.VisibleCount())) {
          // The drag ends first; the message opens afterwards.
          const store::DocRecord row = m.rows()[m.RecordOfVisible(static_cast<size_t>(v))];
          const std::vector<std::string> files = browser_.CarriedFiles(hand_);
          QTimer::singleShot(0, this, [this, row, files] { browser_.GiveToContactRow(row, files, [this] { PutDown(); }); });
        }
      }
      return true;
    }
    const auto paths = PathsOfMime(mime, nullptr);
    de->setDropAction(Qt::CopyAction);
    de->accept();
    const bool shift = de->modifiers() & Qt::ShiftModifier;
    // The drop returns to the other program first; the operation runs afterwards.
    QTimer::singleShot(0, this, [this, paths, shift] { DropFromOutside(nullptr, paths, shift); });
    return true;
  }
  return false;
}

bool DeskCarry::TreeEvent(TPXTreeView* view, QEvent* e) {
  switch (e->type()) {
    case QEvent::MouseButtonPress: {
      auto* me = static_cast<QMouseEvent*>(e);
      const QPoint pos = me->position().toPoint();
      const QModelIndex item = view->indexAt(pos);
      TreeNode* node = FolderTreeModel::NodeOf(item);
      pressNode_ = nullptr;
      if (Busy()) return true;
      if (me->button() != Qt::LeftButton || !node) return false;
      const bool onLabel = view->visualRect(item).contains(pos);
      if (hand_.HoldsDroppable() && onLabel) {
        // Carrying: the click drops. The node shows as selected for a moment first.
        const Qt::KeyboardModifiers mods = me->modifiers();
        view->viewport()->update();
        const bool blocked = view->blockSignals(true);
        view->setCurrentIndex(item);
        view->blockSignals(blocked);
        // The tree may be rebuilt meanwhile: the node is found again by its folder.
        QTimer::singleShot(kDropFeedbackMs, this, [this, view, node, path = node->path, mods] {
          ShowShownNode(view);
          if (TreeNode* again = StillThere(view, node, path)) DropOnNode(again, mods);
        });
        return true;
      }
      hand_.Press(me->globalPosition().toPoint().x(), me->globalPosition().toPoint().y());
      if (onLabel && Movable(node)) {
        pressNode_ = node;
        pressView_ = view;
      }
      if (hand_.Empty() && onLabel && node == browser_.ShownNode() && Movable(node)) {
        // The node already shown is picked up.
        hand_.HoldFolder(node->path);
        Refresh();
        return true;
      }
      return false;
    }
    case QEvent::MouseMove: {
      auto* me = static_cast<QMouseEvent*>(e);
      if (!hand_.Empty()) {
        autoExpand_.Hover(view->NodeAt(me->position().toPoint()), clock_.elapsed());
        if (!tmrAutoExpand_.isActive()) tmrAutoExpand_.start();
      }
      if ((me->buttons() & Qt::LeftButton) && pressNode_ && pressView_ == view) {
        const QPoint g = me->globalPosition().toPoint();
        if (hand_.MoveWithButton(g.x(), g.y())) {
          hand_.HoldFolder(pressNode_->path);
          pressNode_ = nullptr;
          startDrag(true);
          return true;
        }
      }
      return false;
    }
    case QEvent::MouseButtonRelease:
      pressNode_ = nullptr;
      return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* de = static_cast<QDragMoveEvent*>(e);
      const QModelIndex item = view->indexAt(de->position().toPoint());
      TreeNode* node = FolderTreeModel::NodeOf(item);
      // The node under the pointer shows where the drop would go.
      if (item.isValid() && view->currentIndex() != item) {
        const bool b = view->blockSignals(true);
        view->setCurrentIndex(item);
        view->blockSignals(b);
      }
      autoExpand_.Hover(node, clock_.elapsed());
      if (!tmrAutoExpand_.isActive()) tmrAutoExpand_.start();
      const bool ours = Ours(de->mimeData());
      if (ours || !PathsOfMime(de->mimeData(), nullptr).empty()) {
        de->setDropAction(Qt::CopyAction);
        de->accept();
      } else {
        de->ignore();
      }
      return true;
    }
    case QEvent::DragLeave:
      autoExpand_.Stop();
      ShowShownNode(view);
      return true;
    case QEvent::Drop: {
      auto* de = static_cast<QDropEvent*>(e);
      TreeNode* node = view->NodeAt(de->position().toPoint());
      autoExpand_.Stop();
      ShowShownNode(view);
      if (!node) {
        de->ignore();
        return true;
      }
      const Qt::KeyboardModifiers mods = de->modifiers();
      de->setDropAction(Qt::CopyAction);
      de->accept();
      if (Ours(de->mimeData())) {
        droppedHere_ = true;
        droppedOnNode_ = true;
        QTimer::singleShot(0, this, [this, view, node, path = node->path, mods] {
          if (TreeNode* again = StillThere(view, node, path)) DropOnNode(again, mods);
          if (hand_.DropOnNodeDone()) PutDown();
        });
      } else {
        const auto paths = PathsOfMime(de->mimeData(), nullptr);
        QTimer::singleShot(0, this, [this, view, node, path = node->path, paths, mods] {
          if (const TreeNode* again = StillThere(view, node, path)) DropFromOutside(again, paths, mods & Qt::ShiftModifier);
        });
      }
      return true;
    }
    default: return false;
  }
}

void DeskCarry::ShowShownNode(TPXTreeView* view) {
  const bool b = view->blockSignals(true);
  if (browser_.ShownNode() && view->ShowsNode(browser_.ShownNode()))
    view->SelectNode(browser_.ShownNode());
  view->blockSignals(b);
}

bool DeskCarry::AppEvent(QObject* watched, QEvent* e) {
  auto* w = qobject_cast<QWidget*>(watched);
  if (!w || !window_ || w->window() != window_) return false;
  if (e->type() == QEvent::MouseMove) {
    if (drag_->isVisible()) drag_->Follow(static_cast<QMouseEvent*>(e)->globalPosition().toPoint());
    return false;
  }
  if (e->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent*>(e)->button() == Qt::RightButton && !hand_.Empty()) {
    // A right press on a selected row opens the menu for the selection; anywhere else it puts
    // down what is in hand.
    TheGrid* tg = view_.grid()->grid();
    if (w == gridViewport_.data() && (hand_.state() == Hand::Documents)) {
      const GridModel& m = view_.grid()->model();
      const int y = static_cast<QMouseEvent*>(e)->position().toPoint().y();
      const int v = tg->topRow() + y / std::max(1, tg->rowHeight());
      if (y >= 0 && v < static_cast<int>(m.VisibleCount()) && m.rows()[m.RecordOfVisible(static_cast<size_t>(v))].selected)
        return false;
    }
    PutDown();
    return true;
  }
  if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape && !hand_.Empty()) {
    PutDown();
    return true;
  }
  return false;
}

bool DeskCarry::eventFilter(QObject* watched, QEvent* e) {
  const QEvent::Type t = e->type();
  const bool mouse = t == QEvent::MouseButtonPress || t == QEvent::MouseMove || t == QEvent::MouseButtonRelease;
  const bool dnd = t == QEvent::DragEnter || t == QEvent::DragMove || t == QEvent::DragLeave || t == QEvent::Drop;
  if (!mouse && !dnd && t != QEvent::KeyPress && t != QEvent::MouseButtonDblClick) return false;
  if (!window_ || !drag_ || !gridViewport_) return false;
  if (dnd && tabBar_ && watched == tabBar_.data()) return t == QEvent::DragLeave ? false : TabBarDrag(e);
  if (watched == gridViewport_.data()) {
    if (t == QEvent::MouseButtonDblClick) {
      // A double click opens the row: nothing stays in hand.
      QTimer::singleShot(0, this, [this] { PutDown(); });
      return false;
    }
    if (mouse) {
      if (AppEvent(watched, e)) return true;
      return GridMouse(e);
    }
    return dnd && t != QEvent::DragLeave ? GridDrag(e) : false;
  }
  for (int i = 0; i < 3; ++i) {
    if (treeViewports_[i] && watched == treeViewports_[i].data()) {
      if ((t == QEvent::MouseButtonPress || t == QEvent::MouseMove) && AppEvent(watched, e)) return true;
      return TreeEvent(view_.tree(i), e);
    }
  }
  if (t == QEvent::MouseMove || t == QEvent::MouseButtonPress || t == QEvent::KeyPress) return AppEvent(watched, e);
  return false;
}

}  // namespace px::desk
