#include "desk/ui/grid_view.h"
#include "desk/ui/progress_bar.h"

#include "desk/ui/icon_worker.h"
#include "foundation/address.h"
#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPainter>
#include <QScrollBar>
#include <QTabBar>
#include <QVBoxLayout>

#include <QElapsedTimer>
#include <QLoggingCategory>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcGrid)

namespace px::desk {

using store::DocRecord;

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

// Text of a record in its own charset, for display.
QString Shown(const DocRecord& r, const std::string& text) {
  const std::string cs(r.charset());
  if (cs.empty() || IsUnicodeCharset(cs)) return Q(text);
  return Q(DecodeFromCharset(text, cs));
}

QColor Selected(const QPalette& pal) {
  QColor c = pal.color(QPalette::Dark);
  float h, s, l, a;
  c.getHslF(&h, &s, &l, &a);
  l = std::min(1.0f, l * 1.2f);
  c.setHslF(h, s, l, a);
  return c;
}

QString DateText(const DocRecord& r, bool showSize) {
  QString formatted;
  if (!showSize && r.date != 0) {
    const QDateTime dt = DateTimeToQDateTime(r.date);
    formatted = QLocale().toString(dt, QLocale::ShortFormat);
  }
  return Q(DateColumnText(r, showSize, formatted.toStdString()));
}

QString TypeIconKey(const DocRecord& r, MessageIcon m) {
  switch (m) {
    case MessageIcon::Draft: return IconWorker::NameKey("mail-message-new");
    case MessageIcon::Pending: return IconWorker::NameKey("mail-send");
    case MessageIcon::AwaitingConfirmation: return IconWorker::NameKey("mail-send-receive");
    case MessageIcon::Delivered: return IconWorker::NameKey("mail-replied");
    case MessageIcon::Unread: return IconWorker::NameKey("mail-unread");
    case MessageIcon::Read: return IconWorker::NameKey("mail-read");
    case MessageIcon::None: break;
  }
  if (r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt) return IconWorker::NameKey("system-users");
  if (SameText(r.ext, "vcf")) return IconWorker::NameKey("x-office-address-book");
  if (r.ext.size() == 1 && r.ext[0] == kFolderMarkerExt) {
    // Rows of tool pages: the item's own extension, else a generic application icon.
    if (r.name.ends_with(".desktop")) return IconWorker::NameKey("application-x-executable");
    if (r.name.ends_with("/")) return IconWorker::NameKey("drive-harddisk");
    const std::string ext = store::ExtensionOf(r.name);
    if (!ext.empty()) return IconWorker::ExtKey(ext);
    return IconWorker::NameKey("preferences-system");
  }
  return IconWorker::ExtKey(r.ext);
}

}  // namespace

QColor LabelColour(int colour) {
  static const QColor table[16] = {
      QColor(),           QColor(230, 60, 60),  QColor(240, 150, 40), QColor(235, 210, 50),
      QColor(90, 180, 80), QColor(60, 190, 200), QColor(70, 120, 220), QColor(160, 90, 200),
      QColor(130, 130, 130), QColor(200, 120, 160), QColor(150, 110, 70), QColor(100, 160, 140),
      QColor(180, 180, 60), QColor(120, 100, 180), QColor(200, 80, 120), QColor(40, 40, 40)};
  return colour > 0 && colour < 16 ? table[colour] : QColor();
}

// ---------------- header ----------------

GridHeader::GridHeader(GridPanel& panel) : QWidget(&panel), panel_(panel) {
  setObjectName(QStringLiteral("hcSort"));
  setMouseTracking(true);
}

QSize GridHeader::sizeHint() const { return {100, fontMetrics().height() + 4 + 4}; }

int GridHeader::sectionAt(int x) const {
  int left = 0;
  const auto& s = panel_.columns().sections;
  for (size_t i = 0; i < s.size(); ++i) {
    if (x >= left && x < left + s[i]) return static_cast<int>(i);
    left += s[i];
  }
  return -1;
}

int GridHeader::ResizableEdgeAt(int x) const {
  int right = 0;
  const auto& s = panel_.columns().sections;
  const GridTab tab = panel_.tab();
  for (size_t i = 0; i < s.size(); ++i) {
    right += s[i];
    const bool resizable = tab == GridTab::Files ? i == fsName : (i == csLast || i == csPhone);
    if (resizable && std::abs(x - right) <= 3) return static_cast<int>(i);
  }
  return -1;
}

void GridHeader::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(rect(), pal.color(QPalette::Button));
  const GridTab tab = panel_.tab();
  if (tab == GridTab::Tools) return;
  const auto look = HeaderLook(tab, panel_.CurrentSorting(), panel_.look().showSize,
                               panel_.model().options().firstNameFirst, panel_.columns().sizeColumn > 0);
  const auto& s = panel_.columns().sections;
  int left = 0;
  for (size_t i = 0; i < s.size() && i < look.size(); ++i) {
    const QRect r(left, 0, s[i], height());
    left += s[i];
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(r.topRight(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.bottomRight());
    QRect text = r.adjusted(4, 0, -4, 0);
    const HeaderPicture pic = look[i].picture;
    if (pic == HeaderPicture::Ascending || pic == HeaderPicture::Descending) {
      const int cx = text.right() - 5, cy = r.center().y();
      QPolygon tri;
      if (pic == HeaderPicture::Ascending)
        tri << QPoint(cx - 4, cy + 2) << QPoint(cx + 4, cy + 2) << QPoint(cx, cy - 3);
      else
        tri << QPoint(cx - 4, cy - 2) << QPoint(cx + 4, cy - 2) << QPoint(cx, cy + 3);
      p.setBrush(pal.color(QPalette::ButtonText));
      p.setPen(Qt::NoPen);
      p.drawPolygon(tri);
      text.setRight(text.right() - 12);
    } else if (pic != HeaderPicture::None) {
      p.setPen(pal.color(QPalette::ButtonText));
      const QString glyph = pic == HeaderPicture::Type ? QStringLiteral("\u25A4")
                            : pic == HeaderPicture::Colour ? QStringLiteral("\u25CF")
                                                           : QStringLiteral("\u2709");
      p.drawText(r, Qt::AlignCenter, glyph);
    }
    p.setPen(pal.color(QPalette::ButtonText));
    p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
               fontMetrics().elidedText(Q(look[i].caption), Qt::ElideRight, text.width()));
  }
}

void GridHeader::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const int x = e->position().toPoint().x();
  resizing_ = ResizableEdgeAt(x);
  if (resizing_ >= 0) {
    pressX_ = x;
    startWidth_ = panel_.columns().sections[resizing_];
    return;
  }
  const int s = sectionAt(x);
  if (s >= 0) emit sectionClicked(s);
}

void GridHeader::mouseMoveEvent(QMouseEvent* e) {
  const int x = e->position().toPoint().x();
  if (resizing_ >= 0) {
    emit sectionResized(resizing_, startWidth_ + x - pressX_, false);
    return;
  }
  setCursor(ResizableEdgeAt(x) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void GridHeader::mouseReleaseEvent(QMouseEvent* e) {
  if (resizing_ < 0) return;
  const int x = e->position().toPoint().x();
  const int s = resizing_;
  resizing_ = -1;
  emit sectionResized(s, startWidth_ + x - pressX_, true);
}

// ---------------- rows ----------------

TheGrid::TheGrid(GridPanel& panel) : QAbstractScrollArea(&panel), panel_(panel) {
  setObjectName(QStringLiteral("TheGrid"));
  verticalScrollBar()->setObjectName(QStringLiteral("scrDocs"));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFrameShape(QFrame::NoFrame);
  viewport()->setMouseTracking(true);
  viewport()->setAutoFillBackground(true);
  viewport()->setBackgroundRole(QPalette::Base);
  setFocusPolicy(Qt::StrongFocus);
}

int TheGrid::rowsShown() const { return std::max(1, viewport()->height() / std::max(1, rowHeight_)); }
int TheGrid::topRow() const { return verticalScrollBar()->value(); }

void TheGrid::setTopRow(int row) { verticalScrollBar()->setValue(std::max(0, row)); }

void TheGrid::UpdateRange() {
  const int count = static_cast<int>(panel_.model().VisibleCount());
  const int shown = rowsShown();
  QScrollBar* sb = verticalScrollBar();
  sb->setRange(0, std::max(0, count - shown));
  sb->setPageStep(shown);
  sb->setSingleStep(1);
}

void TheGrid::scrollContentsBy(int, int) { viewport()->update(); }

void TheGrid::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  UpdateRange();
}

int TheGrid::VisibleRowAt(int y) const {
  if (y < 0) return -1;
  const int row = topRow() + y / std::max(1, rowHeight_);
  return row < static_cast<int>(panel_.model().VisibleCount()) ? row : -1;
}

void TheGrid::SetHotRow(int row) {
  if (row == hotRow_) return;
  const int old = hotRow_;
  hotRow_ = row;
  for (int r : {old, row}) {
    if (r < 0) continue;
    viewport()->update(QRect(0, (r - topRow()) * rowHeight_, viewport()->width(), rowHeight_));
  }
}

void TheGrid::SetCurrentRow(int row, bool anchor) {
  const int old = cursor_.current;
  cursor_.current = row;
  if (anchor) cursor_.anchor = row;
  for (int r : {old, row}) {
    if (r < 0) continue;
    viewport()->update(QRect(0, (r - topRow()) * rowHeight_, viewport()->width(), rowHeight_));
  }
}

void TheGrid::ensureVisible(int row) {
  if (row < topRow())
    setTopRow(row);
  else if (row >= topRow() + rowsShown())
    setTopRow(row - rowsShown() + 1);
}

void TheGrid::paintEvent(QPaintEvent* e) {
  ++paints_;
  QPainter p(viewport());
  const QPalette& pal = palette();
  const QRect clip = e->rect();
  p.fillRect(clip, pal.color(QPalette::Base));
  const GridModel& m = panel_.model();
  const int count = static_cast<int>(m.VisibleCount());
  const int top = topRow();
  const int first = std::max(0, clip.top() / rowHeight_);
  const int last = clip.bottom() / rowHeight_;
  for (int i = first; i <= last; ++i) {
    const int v = top + i;
    if (v >= count) {
      if (v == count) {
        // Closing line below the last record.
        const int y = i * rowHeight_;
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(0, y, viewport()->width(), y);
        p.setPen(pal.color(QPalette::Dark));
        p.drawLine(0, y + 1, viewport()->width(), y + 1);
      }
      break;
    }
    PaintRow(p, static_cast<size_t>(v), i * rowHeight_);
  }
  if (count == 0 && !panel_.EmptyText().isEmpty()) {
    QFont f = font();
    f.setPointSize(10);
    if (QFontMetrics(f).horizontalAdvance(panel_.EmptyText()) > viewport()->width()) f.setPointSize(8);
    p.setFont(f);
    p.setPen(pal.color(QPalette::Text));
    p.drawText(viewport()->rect(), Qt::AlignCenter, panel_.EmptyText());
  }
  if (afterNextPaint) {
    auto fn = std::move(afterNextPaint);
    afterNextPaint = nullptr;
    fn();
  }
}

void TheGrid::PaintRow(QPainter& p, size_t v, int y) {
  const GridModel& m = panel_.model();
  const size_t rec = m.RecordOfVisible(v);
  const DocRecord& r = m.rows()[rec];
  const QPalette& pal = palette();
  const int w = viewport()->width();
  const QRect row(0, y, w, rowHeight_);
  QColor bg = pal.color(QPalette::Base);
  if (static_cast<int>(v) == hotRow_)
    bg = pal.color(QPalette::Button);
  else if (r.selected)
    bg = Selected(pal);
  p.fillRect(row, bg);
  if (m.ContinuesAbove(v)) {
    p.setPen(bg);
    p.drawLine(0, y, w, y);
  } else {
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(0, y, w, y);
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(0, y + 1, w, y + 1);
  }

  const GridColumns& cols = panel_.columns();
  const ZoneFrame frame = MakeZoneFrame(cols, rowHeight_);
  const GridTab tab = panel_.tab();
  const bool child = r.searchState & store::rsChild;
  auto zone = [&](int z) {
    ZoneRect zr = ZoneRectOf(z, frame);
    zr.top += y;
    zr.bottom += y;
    return zr;
  };
  auto rectOf = [](const ZoneRect& z) { return QRect(z.left, z.top, z.right - z.left, z.bottom - z.top); };

  // Type icon.
  if (!(tab == GridTab::Contacts && child)) {
    const MessageIcon mi = MessageIconOf(r, [this](const DocRecord& d) { return panel_.AwaitsConfirmationOf(d); });
    QPixmap icon = panel_.icons() ? panel_.icons()->Icon(TypeIconKey(r, mi)) : QPixmap();
    const QRect ir = rectOf(zone(gzTypeIcon));
    const QRect iconRect(ir.left() + (ir.width() - 16) / 2, ir.top() + (ir.height() - 16) / 2, 16, 16);
    if (!icon.isNull()) {
      p.drawPixmap(iconRect.topLeft(), icon);
    } else {
      p.setPen(pal.color(QPalette::Mid));
      p.drawRect(ir.adjusted(4, 3, -4, -3));
    }
    // Overlays: answered and forwarded at the lower left and right, encrypted at the top right.
    const TypeIconOverlays ov = OverlaysOf(r, panel_.encryptionPresent && panel_.encryptionPresent());
    auto overlay = [&](const char* name, QPoint at) {
      const QPixmap mark = panel_.icons() ? panel_.icons()->Icon(IconWorker::NameKey(name)) : QPixmap();
      if (!mark.isNull()) p.drawPixmap(QRect(at, QSize(9, 9)), mark);
    };
    if (ov.replied) overlay("mail-reply-sender", iconRect.bottomLeft() + QPoint(-2, -7));
    if (ov.forwarded) overlay("mail-forward", iconRect.bottomRight() + QPoint(-6, -7));
    if (ov.encrypted) overlay("changes-prevent", iconRect.topRight() + QPoint(-6, -2));
  }
  // Expander or pending mark.
  const QRect ex = rectOf(zone(gzExpander));
  if ((r.searchState & store::rsHasChildren) && !child) {
    const QRect box(ex.center().x() - 5, ex.center().y() - 5, 10, 10);
    p.setPen(pal.color(QPalette::Dark));
    p.setBrush(pal.color(QPalette::Base));
    p.drawRect(box);
    p.drawLine(box.left() + 2, box.center().y(), box.right() - 2, box.center().y());
    if (r.flags & store::dfCollapsed) p.drawLine(box.center().x(), box.top() + 2, box.center().x(), box.bottom() - 2);
    p.setBrush(Qt::NoBrush);
  } else if (store::IsPendingFlags(r.flags) && !IsMessageExt(r.ext)) {
    p.setPen(QColor(200, 120, 0));
    p.drawText(ex, Qt::AlignCenter, QStringLiteral("\u2709"));
  }
  // Sticker and colour marks.
  if (tab == GridTab::Files && m.ShowsStickerMark(rec)) {
    p.fillRect(rectOf(zone(gzSticker)).adjusted(1, 1, -1, -1), QColor(250, 230, 90));
  }
  const int colour = store::ColourOfFlags(r.flags);
  if (colour) {
    const QRect cr = rectOf(zone(gzColour)).adjusted(1, 1, -1, -1);
    p.setPen(Qt::NoPen);
    p.setBrush(LabelColour(colour));
    p.drawEllipse(cr);
    p.setBrush(Qt::NoBrush);
  }
  // Text.
  QFont f = font();
  const bool hl = m.highlighted(rec);
  if (hl && panel_.look().highlightBold) f.setBold(true);
  p.setFont(f);
  QColor text = pal.color(QPalette::Text);
  if (hl && panel_.look().useHighlightColor) text = panel_.look().highlightColor;
  p.setPen(text);
  const QFontMetrics fm(f);
  auto drawText = [&](int left, int right, const QString& s) {
    if (right - left < 4) return;
    const QRect tr(left + 2, y + 2, right - left - 4, rowHeight_ - 2);
    p.drawText(tr, Qt::AlignVCenter | Qt::AlignLeft, fm.elidedText(s, Qt::ElideRight, tr.width()));
  };
  QString title;
  if (r.IsContact() && !(r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt))
    title = Shown(r, FormatPersonName(r.title, panel_.model().options().firstNameFirst));
  else
    title = Shown(r, r.title);
  if (r.flags & store::dfDraft) title.prepend(QStringLiteral("DRAFT: "));
  if (!r.ext.empty() && ShowsTypeExtension(r, panel_.UnknownFileType(r.ext)))
    title += QLatin1Char('.') + Shown(r, r.ext);
  if (child && tab == GridTab::Contacts) title.clear();
  if (tab == GridTab::Contacts && r.IsContact() && !(r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt) &&
      cols.sections.size() > csLast) {
    // First and last name in their own columns.
    if (!title.isEmpty()) {
      const PersonName n = SplitPersonName(r.title);
      const int firstEnd = 71 + cols.sections[csFirst];
      drawText(71, firstEnd, Shown(r, n.first));
      drawText(firstEnd, cols.N, Shown(r, n.last));
    }
  } else {
    drawText(71 + (child && tab == GridTab::Files ? 12 : 0), cols.N, title);
  }
  if (tab == GridTab::Files) {
    p.setFont(font());
    p.setPen(pal.color(QPalette::Text));
    // Contacts carry a date far in the future only to sort apart: it is not shown.
    const bool shellRow = r.ext.size() == 1 && r.ext[0] == kFolderMarkerExt;
    if (!r.IsContact() && !shellRow) {
      if (cols.sizeColumn > 0) {
        // Sizes in their own column, right-aligned so that the units line up; folders have none.
        const int sizeLeft = cols.nameFiles + 2;
        if (!r.ext.empty() || r.size > 0)
          p.drawText(QRect(sizeLeft, y, cols.sizeColumn - 8, rowHeight_), Qt::AlignRight | Qt::AlignVCenter,
                     Q(HumanSize(r.size)));
        drawText(sizeLeft + cols.sizeColumn, cols.A - 21, DateText(r, false));
      } else {
        drawText(cols.nameFiles + 2, cols.A - 21, DateText(r, panel_.look().showSize));
      }
    }
    // Mail kind.
    const QRect mk = rectOf(zone(gzMailKind));
    if (r.flags & store::dfReceived)
      p.drawText(mk, Qt::AlignCenter, QStringLiteral("\u2193"));
    else if (r.flags & store::dfOutgoing)
      p.drawText(mk, Qt::AlignCenter, QStringLiteral("\u2191"));
  } else if (tab == GridTab::Contacts) {
    p.setFont(font());
    drawText(cols.N + 2, cols.A - 21, Q(r.detail));
  }
  if (tab != GridTab::Tools) {
    p.setFont(font());
    p.setPen(pal.color(QPalette::Text));
    drawText(cols.A + 2, w, Shown(r, r.shownAddress));
  }
  if (verticalScrollBar()->isVisible()) {
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(w - 1, y, w - 1, y + rowHeight_);
  }
  // The keyboard's current row, while the grid has the focus.
  if (static_cast<int>(v) == cursor_.current && hasFocus()) {
    QPen pen(pal.color(QPalette::Highlight));
    pen.setStyle(Qt::DotLine);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(row.adjusted(1, 2, -2, -1));
  }
}

void TheGrid::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  const int v = VisibleRowAt(pos.y());
  SetHotRow(v);
  if (v >= 0) {
    const size_t rec = panel_.model().RecordOfVisible(v);
    const ZoneFrame frame = MakeZoneFrame(panel_.columns(), rowHeight_);
    const int zone = HitZone(pos.x(), pos.y() - (v - topRow()) * rowHeight_, frame, panel_.FactsOf(rec));
    hotZone_ = zone;
    viewport()->setCursor(zone != gzNone && zone != gzName ? Qt::PointingHandCursor : Qt::ArrowCursor);
  }
}

void TheGrid::leaveEvent(QEvent*) { SetHotRow(-1); }

void TheGrid::mousePressEvent(QMouseEvent* e) {
  setFocus();
  const QPoint pos = e->position().toPoint();
  const int v = VisibleRowAt(pos.y());
  if (v < 0) {
    if (e->button() == Qt::LeftButton && !(e->modifiers() & Qt::ControlModifier)) {
      panel_.model().ClearSelection();
      panel_.SelectionTouched();
    }
    // Below the rows: the menu of what can be made here.
    if (e->button() == Qt::RightButton) emit panel_.ContextMenuRequested(-1, e->globalPosition().toPoint());
    return;
  }
  const size_t rec = panel_.model().RecordOfVisible(v);
  const ZoneFrame frame = MakeZoneFrame(panel_.columns(), rowHeight_);
  const int zone = HitZone(pos.x(), pos.y() - (v - topRow()) * rowHeight_, frame, panel_.FactsOf(rec));
  if (e->button() == Qt::RightButton) {
    if (!panel_.model().rows()[rec].selected) {
      panel_.model().SelectOnly(rec);
      panel_.SelectionTouched();
    }
    emit panel_.ContextMenuRequested(static_cast<int>(rec), e->globalPosition().toPoint());
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  if (e->modifiers() & (Qt::ShiftModifier | Qt::AltModifier)) {
    // Extend the selection from the anchor to this row.
    const int anchor = cursor_.anchor;
    const int from = anchor >= 0 ? std::min(anchor, v) : v;
    const int to = anchor >= 0 ? std::max(anchor, v) : v;
    for (int i = from; i <= to; ++i) panel_.model().SetSelected(panel_.model().RecordOfVisible(i), true);
    SetCurrentRow(v, false);
    panel_.SelectionTouched();
    return;
  }
  SetCurrentRow(v);
  panel_.ZoneClicked(rec, zone, e->modifiers());
}

void TheGrid::mouseDoubleClickEvent(QMouseEvent* e) {
  const int v = VisibleRowAt(e->position().toPoint().y());
  if (v >= 0 && e->button() == Qt::LeftButton)
    emit panel_.openRecord(static_cast<int>(panel_.model().RecordOfVisible(v)));
}

void TheGrid::keyPressEvent(QKeyEvent* e) {
  // The tools tab has no keyboard of its own.
  if (panel_.tab() == GridTab::Tools) {
    QAbstractScrollArea::keyPressEvent(e);
    return;
  }
  GridModel& m = panel_.model();
  const int count = static_cast<int>(m.VisibleCount());
  const bool shift = e->modifiers() & Qt::ShiftModifier;
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  auto key = [&](GridKey k) {
    const int old = cursor_.current;
    const GridKeyOutcome out = ApplyGridKey(m, cursor_, k, shift, ctrl, rowsShown());
    if (cursor_.current >= 0) ensureVisible(cursor_.current);
    for (int r : {old, cursor_.current})
      if (r >= 0) viewport()->update(QRect(0, (r - topRow()) * rowHeight_, viewport()->width(), rowHeight_));
    if (out.selectionChanged) {
      viewport()->update();
      panel_.SelectionTouched();
    }
    if (out.open >= 0) panel_.ZoneClicked(static_cast<size_t>(out.open), gzTypeIcon, {});
  };
  switch (e->key()) {
    case Qt::Key_Up: key(GridKey::Up); return;
    case Qt::Key_Down: key(GridKey::Down); return;
    case Qt::Key_PageUp: key(GridKey::PageUp); return;
    case Qt::Key_PageDown: key(GridKey::PageDown); return;
    case Qt::Key_Home: key(GridKey::Home); return;
    case Qt::Key_End: key(GridKey::End); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: key(GridKey::Enter); return;
    case Qt::Key_Space: key(GridKey::Space); return;
    case Qt::Key_Insert:
      if (cursor_.current >= 0 && cursor_.current < count) {
        m.SetSelected(m.RecordOfVisible(cursor_.current), true);
        panel_.SelectionTouched();
        SetCurrentRow(std::min(cursor_.current + 1, count - 1));
        ensureVisible(cursor_.current);
      }
      return;
    case Qt::Key_Delete:
      // Only what is in hand is deleted; an empty hand deletes nothing.
      if (m.SelectedCount() > 0) emit panel_.DeleteRequested();
      return;
    case Qt::Key_Escape:
      m.ClearSelection();
      panel_.SelectionTouched();
      return;
    default:
      break;
  }
  if (e->matches(QKeySequence::SelectAll)) {
    m.SelectAllVisible();
    panel_.SelectionTouched();
    return;
  }
  if (panel_.tab() == GridTab::Contacts && !e->text().isEmpty() && e->text().at(0).isPrint()) {
    panel_.TypeAheadKey(e->text());
    return;
  }
  QAbstractScrollArea::keyPressEvent(e);
}

// ---------------- panel ----------------

GridPanel::GridPanel(Settings* settings, IconWorker* icons, QWidget* parent)
    : QWidget(parent), settings_(settings), icons_(icons) {
  setObjectName(QStringLiteral("pnlFiles"));
  auto* lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  lay->setSpacing(0);
  tabs_ = new QTabBar(this);
  tabs_->setObjectName(QStringLiteral("tsViewFilter"));
  tabs_->setDrawBase(false);
  tabs_->setExpanding(false);
  const QFontMetrics fm(font());
  for (const auto& c : PadViewFilterCaptions([&](const std::string& s) { return fm.horizontalAdvance(Q(s)); }))
    tabs_->addTab(Q(c));
  header_ = new GridHeader(*this);
  grid_ = new TheGrid(*this);
  lay->addWidget(tabs_);
  lay->addWidget(header_);
  lay->addWidget(grid_, 1);
  connect(tabs_, &QTabBar::currentChanged, this, [this](int i) { OnFilterTab(i); });
  connect(header_, &GridHeader::sectionClicked, this, [this](int s) { OnHeaderClicked(s); });
  connect(header_, &GridHeader::sectionResized, this,
          [this](int s, int w, bool final) { OnHeaderResized(s, w, final); });
  connect(grid_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { RefreshLayout(); });
  tmrTypeAddr_.setSingleShot(true);
  tmrTypeAddr_.setInterval(500);
  connect(&tmrTypeAddr_, &QTimer::timeout, this, [this] {
    typeAhead_.Clear();
    emit StatusTextChanged(QString::fromStdString(StatusText()));
  });
  if (icons_)
    connect(icons_, &IconWorker::iconReady, this, [this](const QString&) { grid_->viewport()->update(); });
  ReloadLook();
  model_.SetOptions(CurrentOptions());
}

GridPanel::~GridPanel() = default;

void GridPanel::ReloadLook() {
  if (settings_) {
    look_.highlightBold = settings_->HighlightFontBold();
    look_.useHighlightColor = settings_->UseHighlightFontColor();
    const auto c = settings_->HighlightFontColor();
    look_.highlightColor = QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    look_.showSize = settings_->ShowSize();
  }
  QFont bi = font();
  bi.setBold(true);
  bi.setItalic(true);
  const QDateTime sample(QDate(2000, 12, 30), QTime(22, 22, 22));
  dateWidth_ = QFontMetrics(bi).horizontalAdvance(QLocale().toString(sample, QLocale::ShortFormat));
  sizeWidth_ = QFontMetrics(font()).horizontalAdvance(QStringLiteral("999.9 bytes"));
  const GridHeights h = ComputeHeights(fontMetrics().height(), fontMetrics().height(),
                                       fontMetrics().height(), height(), tab_ == GridTab::Files);
  grid_->setRowHeight(h.row);
  header_->setFixedHeight(h.header + 2);
  RefreshLayout();
}

ColumnWidths GridPanel::widths() const {
  if (resizingLive_) return liveWidths_;
  ColumnWidths w;
  if (settings_) {
    w.fileAddress = settings_->FileAddressWidth();
    w.contactAddress = settings_->ContactAddressWidth();
    w.contactPhone = settings_->ContactPhoneWidth();
  }
  return ClampWidths(w);
}

void GridPanel::RefreshLayout() {
  GridGeometryInput in;
  in.tab = tab_;
  in.panelWidth = width();
  in.scrollBarWidth = grid_->verticalScrollBar()->sizeHint().width();
  in.scrollBarVisible = grid_->verticalScrollBar()->isVisible() ||
                        static_cast<int>(model_.VisibleCount()) > grid_->rowsShown();
  in.dateTextWidth = dateWidth_;
  in.sizeTextWidth = sizeWidth_;
  in.widths = widths();
  columns_ = ComputeColumns(in);
  header_->update();
  grid_->viewport()->update();
}

void GridPanel::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  RefreshLayout();
  grid_->UpdateRange();
}

int GridPanel::ViewFilterIndex() const { return tabs_->currentIndex(); }

int GridPanel::CurrentSorting() const {
  if (fixedSorting_) return fixedSorting_;
  if (!settings_) return tab_ == GridTab::Contacts ? 4 : -1;
  if (tab_ == GridTab::Contacts) return settings_->AddressSorting();
  if (tab_ == GridTab::Tools) return 4;
  return settings_->Sorting();
}

GridOptions GridPanel::CurrentOptions() const {
  GridOptions o;
  o.tab = tab_;
  o.sorting = CurrentSorting();
  o.firstNameFirst = settings_ ? settings_->FirstNameFirst() : true;
  o.searchActive = searchActive_;
  o.filter = ViewFilterFromIndex(tabs_->currentIndex());
  return o;
}

void GridPanel::ApplyOptions(bool resort) {
  const GridOptions o = CurrentOptions();
  if (resort) {
    model_.SetOptions(o);
  } else {
    // Only the filter changed: the order stays, the view is rebuilt.
    model_.SetOptionsKeepOrder(o);
  }
  grid_->UpdateRange();
  RefreshLayout();
  emit StatusTextChanged(QString::fromStdString(StatusText()));
}

void GridPanel::SetTab(GridTab tab) {
  tab_ = tab;
  fixedSorting_ = 0;
  tabs_->setVisible(tab == GridTab::Files);
  header_->setVisible(tab != GridTab::Tools);
  header_->setObjectName(tab == GridTab::Contacts ? QStringLiteral("hcContacts") : QStringLiteral("hcSort"));
  typeAhead_.Clear();
  ReloadLook();
}

void GridPanel::TakeModel(GridModel&& model) {
  model_ = std::move(model);
  grid_->SetHotRow(-1);
  grid_->SetCurrentRow(-1);
  grid_->UpdateRange();
  RefreshLayout();
  emit StatusTextChanged(QString::fromStdString(StatusText()));
}

int GridPanel::StickerMarkUnderPointer() const {
  const int v = grid_->HotRow();
  if (v < 0 || grid_->HotZone() != gzSticker || static_cast<size_t>(v) >= model_.VisibleCount()) return -1;
  const size_t rec = model_.RecordOfVisible(static_cast<size_t>(v));
  return model_.rows()[rec].sticker.empty() ? -1 : static_cast<int>(rec);
}

bool GridPanel::AwaitsConfirmationOf(const DocRecord& r) const {
  const QString key = Q(r.folder + '\n' + r.prefix + r.name);
  auto it = awaiting_.constFind(key);
  if (it != awaiting_.constEnd()) return *it;
  const bool awaits = AwaitsConfirmation(r, groupMembers);
  awaiting_.insert(key, awaits);
  return awaits;
}

void GridPanel::SetRows(store::DocRows rows) {
  awaiting_.clear();
  model_.SetRows(std::move(rows), CurrentOptions());
  grid_->SetHotRow(-1);
  grid_->SetCurrentRow(-1);
  grid_->UpdateRange();
  RefreshLayout();
  emit StatusTextChanged(QString::fromStdString(StatusText()));
}

void GridPanel::Clear() {
  model_.Clear();
  grid_->SetHotRow(-1);
  grid_->SetCurrentRow(-1);
  grid_->UpdateRange();
  grid_->viewport()->update();
}

void GridPanel::SetSearchActive(bool on) { searchActive_ = on; }

void GridPanel::SetBusy(bool on) {
  if (on == busy_) return;
  busy_ = on;
  if (on)
    QApplication::setOverrideCursor(Qt::BusyCursor);
  else
    QApplication::restoreOverrideCursor();
}

void GridPanel::ShowListingProgress(int percent, size_t entries) {
  if (percent < 0) {
    if (listingBox_) listingBox_->hide();
    return;
  }
  if (!listingBox_) {
    listingBox_ = new QWidget(grid_->viewport());
    listingBox_->setObjectName(QStringLiteral("pnlListing"));
    listingBox_->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(listingBox_);
    listingText_ = new QLabel(listingBox_);
    listingText_->setAlignment(Qt::AlignCenter);
    listingBar_ = new TPXProgressBar(listingBox_);
    listingBar_->setObjectName(QStringLiteral("pbListing"));
    listingBar_->SetRange(0, 100);
    listingBar_->SetShowText(false);
    listingBar_->setMinimumWidth(220);
    layout->addWidget(listingText_);
    layout->addWidget(listingBar_);
  }
  listingText_->setText(QStringLiteral("Reading %1 documents\u2026").arg(QLocale().toString(static_cast<qulonglong>(entries))));
  listingBar_->SetPosition(percent);
  listingBox_->adjustSize();
  const QSize s = listingBox_->sizeHint();
  const QRect area = grid_->viewport()->rect();
  listingBox_->setGeometry(QRect(area.center() - QPoint(s.width() / 2, s.height() / 2), s));
  listingBox_->show();
  listingBox_->raise();
}

QWidget* GridPanel::ListingProgress() const { return listingBox_; }

void GridPanel::SetEmptyText(QString text) {
  emptyText_ = std::move(text);
  grid_->viewport()->update();
}

bool GridPanel::UnknownFileType(const std::string& ext) const {
  const QString key = Q(ext).toLower();
  auto it = unknownTypes_.constFind(key);
  if (it != unknownTypes_.constEnd()) return *it;
  const QMimeDatabase db;
  const bool unknown = db.mimeTypeForFile(QStringLiteral("x.") + key, QMimeDatabase::MatchExtension).isDefault();
  unknownTypes_.insert(key, unknown);
  return unknown;
}

ZoneRowFacts GridPanel::FactsOf(size_t record) const {
  ZoneRowFacts f;
  const DocRecord& r = model_.rows()[record];
  f.tab = tab_;
  f.hasChildren = r.searchState & store::rsHasChildren;
  f.isChild = r.searchState & store::rsChild;
  f.isContact = r.IsContact();
  f.pendingNonMessage = (r.flags & store::dfPending) && !IsMessageExt(r.ext);
  f.hasDetail = !r.detail.empty();
  f.selected = r.selected;
  f.pending = store::IsPendingFlags(r.flags);
  f.hasAddress = !r.shownAddress.empty();
  f.recipientKindSet = false;
  f.handHoldsSnapshotOrSticker = handHoldsSnapshotOrSticker && handHoldsSnapshotOrSticker();
  return f;
}

std::string GridPanel::StatusText() const {
  if (tab_ == GridTab::Contacts && !typeAhead_.typed().empty()) return TypeAheadStatusText(typeAhead_.typed());
  return SelectionStatusText(model_.rows());
}

void GridPanel::SelectionTouched() {
  grid_->viewport()->update();
  emit selectionChanged();
  emit StatusTextChanged(QString::fromStdString(StatusText()));
}

void GridPanel::ZoneClicked(size_t record, int zone, Qt::KeyboardModifiers mods) {
  if (record >= model_.size()) return;
  if (zone == gzName) {
    // The name zone adds or removes the row.
    model_.SetSelected(record, !model_.rows()[record].selected);
    SelectionTouched();
    return;
  }
  model_.SelectOnly(record);
  SelectionTouched();
  const int rec = static_cast<int>(record);
  switch (zone) {
    case gzTypeIcon: emit openRecord(rec); break;
    case gzExpander: {
      const DocRecord& r = model_.rows()[record];
      if (r.searchState & store::rsHasChildren) {
        if (auto flags = model_.ToggleCollapse(record)) {
          grid_->UpdateRange();
          grid_->viewport()->update();
          emit CollapseToggled(rec, *flags);
        }
      } else if (r.IsContact()) {
        emit composeTo(rec);
      } else {
        emit OpenCoverNote(rec);
      }
      break;
    }
    case gzSticker: emit OpenSticker(rec); break;
    case gzColour: emit ColourClicked(rec); break;
    case gzAddress:
      if (tab_ == GridTab::Contacts) emit composeTo(rec);
      break;
    default: break;
  }
}

void GridPanel::TypeAheadKey(const QString& text) {
  typeAhead_.Add(text.toStdString());
  tmrTypeAddr_.start();
  const int v = typeAhead_.Find(model_);
  if (v >= 0) {
    if (v < grid_->topRow() || v >= grid_->topRow() + grid_->rowsShown()) grid_->setTopRow(v);
    grid_->SetHotRow(v);
  }
  emit StatusTextChanged(QString::fromStdString(StatusText()));
}

void GridPanel::OnHeaderClicked(int section) {
  const bool firstFirst = settings_ ? settings_->FirstNameFirst() : true;
  const HeaderClickResult r = HeaderSortClick(tab_, section, CurrentSorting(), firstFirst, sortLocked_ || fixedSorting_ != 0);
  if (r.ignored) return;
  if (settings_) {
    if (r.swapNameOrder) settings_->SetNameOrder(firstFirst ? 2 : 1);
    if (tab_ == GridTab::Contacts)
      settings_->SetAddressSorting(r.sorting);
    else
      settings_->SetSorting(r.sorting);
    if (r.showSize) settings_->SetShowSize(*r.showSize);
  }
  QElapsedTimer clock;
  clock.start();
  ReloadLook();
  ApplyOptions(true);
  grid_->setTopRow(0);
  if (lcGrid().isDebugEnabled()) {
    const qint64 sorted = clock.elapsed();
    grid_->afterNextPaint = [clock, sorted, n = model_.size()] {
      qCDebug(lcGrid) << "sorted" << n << "rows in" << sorted << "ms; painted after" << clock.elapsed() << "ms";
    };
  }
  if (r.swapNameOrder) emit NameOrderChanged(!firstFirst);
  emit SortChanged(r.sorting);
}

void GridPanel::OnHeaderResized(int section, int newWidth, bool final) {
  GridGeometryInput in;
  in.tab = tab_;
  in.panelWidth = width();
  in.scrollBarWidth = grid_->verticalScrollBar()->sizeHint().width();
  in.scrollBarVisible = grid_->verticalScrollBar()->isVisible();
  in.dateTextWidth = dateWidth_;
  in.sizeTextWidth = sizeWidth_;
  resizingLive_ = false;
  in.widths = widths();
  const ColumnWidths w = ApplySectionResize(in, section, newWidth);
  if (final) {
    if (settings_) {
      if (tab_ == GridTab::Files) {
        settings_->SetFileAddressWidth(w.fileAddress);
      } else {
        settings_->SetContactAddressWidth(w.contactAddress);
        settings_->SetContactPhoneWidth(w.contactPhone);
      }
    }
    resizingLive_ = false;
  } else {
    liveWidths_ = w;
    resizingLive_ = true;
  }
  RefreshLayout();
}

void GridPanel::OnFilterTab(int) {
  ApplyOptions(false);
  grid_->setTopRow(0);
}

}  // namespace px::desk
