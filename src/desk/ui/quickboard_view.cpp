#include "desk/ui/quickboard_view.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QUrl>

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// "~charset~title": the title (the text is UTF-8 already here).
QString ShownTitle(const std::string& title) {
  if (title.size() > 2 && title.front() == '~') {
    const size_t end = title.find('~', 1);
    if (end != std::string::npos) return Q(title.substr(end + 1));
  }
  return Q(title);
}

QIcon ThemeOr(const QString& name, QStyle::StandardPixmap fallback) {
  const QIcon icon = QIcon::fromTheme(name);
  return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

}  // namespace

// ---------------- the bar ----------------

DashBoard::DashBoard(Quickboard& model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("DashBoard"));
  grid_ = new QGridLayout(this);
  grid_->setContentsMargins(1, 1, 1, 1);
  grid_->setSpacing(0);
  grid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setAcceptDrops(true);
  setMinimumWidth(kButtonWidth);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  model_.changed = [this] { Rebuild(); };
}

int DashBoard::ColumnsForWidth(int width) const { return std::max(1, (width - 2) / kButtonWidth); }

void DashBoard::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  const int cols = ColumnsForWidth(width());
  if (cols != model_.Columns()) Rebuild();
}

void DashBoard::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(backgroundRole()));
}

QIcon DashBoard::IconOf(const QuickboardItem& item) const {
  if (item.Empty()) return {};
  if (!item.icon.empty() && IsSafeIconName(item.icon)) {
    const QIcon stored(Q(model_.env().iconsFolder + item.icon));
    if (!stored.isNull() && !stored.availableSizes().isEmpty()) return stored;
  }
  switch (item.kind) {
    case SlotKind::Contact: return ThemeOr(QStringLiteral("contact-new"), QStyle::SP_DialogYesButton);
    case SlotKind::Group: return ThemeOr(QStringLiteral("system-users"), QStyle::SP_DirLinkIcon);
    case SlotKind::Folder: return ThemeOr(QStringLiteral("folder"), QStyle::SP_DirIcon);
    case SlotKind::Template: return ThemeOr(QStringLiteral("document-new"), QStyle::SP_FileDialogNewFolder);
    case SlotKind::Program:
      if (!item.themeIcon.empty()) {
        const QString name = Q(item.themeIcon);
        if (name.startsWith(QLatin1Char('/'))) return QIcon(name);
        return ThemeOr(name, QStyle::SP_ComputerIcon);
      }
      return ThemeOr(QStringLiteral("application-x-executable"), QStyle::SP_ComputerIcon);
    default: break;
  }
  if (!item.themeIcon.empty()) return ThemeOr(Q(item.themeIcon), QStyle::SP_FileIcon);
  static QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile(Q(item.path), QMimeDatabase::MatchExtension);
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  if (icon.isNull())
    icon = QApplication::style()->standardIcon(item.kind == SlotKind::Shortcut ? QStyle::SP_FileLinkIcon
                                                                               : QStyle::SP_FileIcon);
  return icon;
}

QString DashBoard::HintOf(const QuickboardItem& item) const {
  if (item.Empty()) return {};
  if (item.kind == SlotKind::Contact && summaryOf) {
    const QString s = summaryOf(item);
    if (!s.isEmpty()) return s;
  }
  QString hint = ShownTitle(item.title);
  if (item.unavailable) hint += QStringLiteral("\n(not available now: ") + Q(item.path) + QStringLiteral(")");
  return hint;
}

void DashBoard::Rebuild() {
  const int cols = ColumnsForWidth(width());
  model_.SetColumns(cols);
  const int shown = model_.ShownSlots();
  while (static_cast<int>(buttons_.size()) > shown) {
    delete buttons_.back();
    buttons_.pop_back();
  }
  while (static_cast<int>(buttons_.size()) < shown) {
    auto* b = new DashBoardButton(*this, static_cast<int>(buttons_.size()));
    buttons_.push_back(b);
  }
  for (int i = 0; i < shown; ++i) {
    DashBoardButton* b = buttons_[static_cast<size_t>(i)];
    grid_->removeWidget(b);
    grid_->addWidget(b, i / cols, i % cols);
    const QuickboardItem* item = model_.Item(i);
    const bool filled = item && !item->Empty();
    b->setIcon(filled ? IconOf(*item) : QIcon());
    b->setToolTip(filled ? HintOf(*item) : QString());
    b->label = filled ? Q(item->label) : QString();
    // Empty slots still take drops and move mode's swaps; they look disabled.
    b->setProperty("emptySlot", !filled);
    b->setEnabled(!filled || !item->unavailable);
    b->setDown(model_.PickedSlot() == i);
    b->update();
  }
  const int rows = model_.Rows();
  setFixedHeight(kButtonHeight * rows + 2);
  // Cursor of the modes.
  switch (model_.Mode()) {
    case QuickboardMode::Move:
      setCursor(model_.PickedSlot() >= 0 ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
      break;
    case QuickboardMode::Customise: setCursor(Qt::CrossCursor); break;
    default: unsetCursor(); break;
  }
}

DashBoardButton* DashBoard::Button(int slot) const {
  return slot >= 0 && static_cast<size_t>(slot) < buttons_.size() ? buttons_[static_cast<size_t>(slot)] : nullptr;
}

int DashBoard::SlotAt(QPoint pos) const {
  for (DashBoardButton* b : buttons_)
    if (b->geometry().contains(pos)) return b->slot();
  return -1;
}

void DashBoard::ButtonClicked(int slot) {
  if (model_.Mode() == QuickboardMode::Normal && dropCarried && dropCarried(slot)) return;
  const SlotClick c = model_.Click(slot);
  switch (c.action) {
    case SlotClick::Open:
      if (openItem) openItem(*model_.Item(slot));
      break;
    case SlotClick::Customise:
      if (customiseItem) customiseItem(slot);
      break;
    case SlotClick::SortRule:
      if (sortRule) sortRule(c.path);
      break;
    default: break;
  }
}

void DashBoard::ShowMenu(int slot, QPoint globalPos) {
  QMenu menu(this);
  const QuickboardItem* item = model_.Item(slot);
  const bool filled = item && !item->Empty();
  if (filled) {
    QAction* move = menu.addAction(QStringLiteral("Move Icon"), this, [this, slot] {
      model_.SetMode(QuickboardMode::Move);
      (void)model_.Click(slot);
    });
    move->setObjectName(QStringLiteral("aMoveIcon"));
    if (item->kind != SlotKind::Template) {
      QAction* custom = menu.addAction(QStringLiteral("Customize Icon"), this, [this, slot] {
        if (customiseItem) customiseItem(slot);
      });
      custom->setObjectName(QStringLiteral("aCustomizeIcon"));
    }
    QAction* remove = menu.addAction(QStringLiteral("Remove Icon"), this, [this, slot] { model_.Remove(slot); });
    remove->setObjectName(QStringLiteral("aRemove"));
    menu.addSeparator();
  }
  if (extendMenu) extendMenu(menu, slot);
  // 2 pixels right of and below the pointer.
  menu.exec(globalPos + QPoint(2, 2));
}

bool DashBoard::eventFilter(QObject* watched, QEvent* e) { return QWidget::eventFilter(watched, e); }

void DashBoard::HandleDrop(int slot, const QMimeData* mime) {
  if (mime->hasFormat(QLatin1String(kQuickboardSlotMime))) {
    const int from = mime->data(QLatin1String(kQuickboardSlotMime)).toInt();
    model_.Swap(from, slot);
    return;
  }
  SlotDrop drop;
  for (const QUrl& u : mime->urls())
    if (u.isLocalFile()) drop.paths.push_back(u.toLocalFile().toStdString());
  if (drop.paths.empty()) return;
  if (drop.paths.size() == 1 && QFileInfo(Q(drop.paths.front())).isDir()) {
    drop.kind = SlotDrop::Folder;
    drop.paths.front() = QDir::cleanPath(QFileInfo(Q(drop.paths.front())).absoluteFilePath()).toStdString() + "/";
  }
  const DropPlan plan = model_.PlanDrop(slot, drop);
  if (plan.action == DropPlan::Place) model_.Place(slot, plan.item);
  else if (plan.action == DropPlan::OpenWith && openWith) openWith(plan.program, plan.files);
}

// ---------------- one button ----------------

DashBoardButton::DashBoardButton(DashBoard& bar, int slot) : QToolButton(&bar), bar_(bar), slot_(slot) {
  setObjectName(QStringLiteral("btnQuick%1").arg(slot));
  setFixedSize(DashBoard::kButtonWidth, DashBoard::kButtonHeight);
  setIconSize(QSize(40, 40));
  setAutoRaise(true);
  setAcceptDrops(true);
  setContextMenuPolicy(Qt::PreventContextMenu);
  connect(this, &QToolButton::clicked, this, [this] { bar_.ButtonClicked(slot_); });
}

void DashBoardButton::paintEvent(QPaintEvent* e) {
  QToolButton::paintEvent(e);
  if (label.isEmpty()) return;
  QPainter p(this);
  const QFontMetrics fm(font());
  QRect r = rect().adjusted(1, 1, -1, -1);
  r.setTop(r.bottom() - fm.height());
  r.setRight(std::min(r.right(), r.left() + fm.horizontalAdvance(label) + 2));
  p.fillRect(r, palette().color(QPalette::ToolTipBase));
  p.setPen(palette().color(QPalette::ToolTipText));
  p.drawText(r.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(label, Qt::ElideRight, r.width()));
}

void DashBoardButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) {
    bar_.ShowMenu(slot_, e->globalPosition().toPoint());
    return;
  }
  pressPos_ = e->position().toPoint();
  QToolButton::mousePressEvent(e);
}

void DashBoardButton::mouseMoveEvent(QMouseEvent* e) {
  const QuickboardItem* item = bar_.model().Item(slot_);
  const QPoint d = e->position().toPoint() - pressPos_;
  if ((e->buttons() & Qt::LeftButton) && item && !item->Empty() && bar_.model().Mode() != QuickboardMode::Move &&
      (std::abs(d.x()) > 4 || std::abs(d.y()) > 4)) {
    setDown(false);
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setData(QLatin1String(kQuickboardSlotMime), QByteArray::number(slot_));
    drag->setMimeData(mime);
    drag->setPixmap(icon().pixmap(iconSize()));
    drag->setHotSpot(pressPos_ - QPoint((width() - iconSize().width()) / 2, 3));
    drag->exec(Qt::MoveAction);
    return;
  }
  QToolButton::mouseMoveEvent(e);
}

void DashBoardButton::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasFormat(QLatin1String(kQuickboardSlotMime)) || e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void DashBoardButton::dropEvent(QDropEvent* e) {
  bar_.HandleDrop(slot_, e->mimeData());
  e->acceptProposedAction();
}

}  // namespace px::desk
