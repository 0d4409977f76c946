#include "desk/ui/frm_hint.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString Joined(const std::vector<QString>& lines) {
  QString out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? QStringLiteral("\n") : QString()) + lines[i];
  return out;
}

}  // namespace

TfrmHint::TfrmHint(QWidget* owner)
    : QFrame(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
  setObjectName(QStringLiteral("frmHint"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFrameShape(QFrame::Box);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::ToolTipBase);
  setForegroundRole(QPalette::ToolTipText);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 3, 4, 3);
  outer->setSpacing(3);
  pnlHint = new QFrame(this);
  pnlHint->setObjectName(QStringLiteral("pnlHint"));
  auto* row = new QHBoxLayout(pnlHint);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  lblHead = new QLabel(pnlHint);
  lblHead->setObjectName(QStringLiteral("lblHead"));
  lblHead->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  QFont bold = lblHead->font();
  bold.setBold(true);
  lblHead->setFont(bold);
  lblHint = new QLabel(pnlHint);
  lblHint->setObjectName(QStringLiteral("lblHint"));
  lblHint->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  lblHint->setTextFormat(Qt::PlainText);
  lblHead->setTextFormat(Qt::PlainText);
  row->addWidget(lblHead);
  row->addWidget(lblHint, 1);
  outer->addWidget(pnlHint);
  pnlSticker = new QFrame(this);
  pnlSticker->setObjectName(QStringLiteral("pnlSticker"));
  pnlSticker->setFrameShape(QFrame::StyledPanel);
  pnlSticker->setAutoFillBackground(true);
  QPalette sp = pnlSticker->palette();
  sp.setColor(QPalette::Window, QColor(0xff, 0xf4, 0xa8));  // the colour of a sticker note
  sp.setColor(QPalette::WindowText, Qt::black);
  pnlSticker->setPalette(sp);
  auto* sl = new QVBoxLayout(pnlSticker);
  sl->setContentsMargins(3, 2, 3, 2);
  lblSticker = new QLabel(pnlSticker);
  lblSticker->setObjectName(QStringLiteral("lblSticker"));
  lblSticker->setTextFormat(Qt::PlainText);
  sl->addWidget(lblSticker);
  outer->addWidget(pnlSticker);
}

void TfrmHint::Fill() {
  std::vector<QString> heads, texts;
  bool anyHead = false;
  for (const HintLine& l : content_.lines) {
    // A wrapped text line leaves its label cell empty for the lines it takes.
    const QStringList parts = Q(l.text).split(QLatin1Char('\n'));
    heads.push_back(Q(l.head));
    for (int i = 1; i < parts.size(); ++i) heads.push_back(QString());
    for (const QString& p : parts) texts.push_back(p);
    anyHead = anyHead || !l.head.empty();
  }
  lblHead->setText(Joined(heads));
  lblHead->setVisible(anyHead);
  lblHint->setText(Joined(texts));
  pnlHint->setVisible(!content_.lines.empty());
  lblSticker->setText(Q(content_.sticker));
  pnlSticker->setVisible(!content_.sticker.empty());
}

void TfrmHint::FitSize() {
  // As large as the panels need, never larger (a window that was bigger keeps no gap).
  for (QWidget* w : {static_cast<QWidget*>(lblHead), static_cast<QWidget*>(lblHint), static_cast<QWidget*>(lblSticker)})
    w->adjustSize();
  // The panels' layouts, and the window's record of the panels, keep their last hints until told.
  pnlHint->layout()->invalidate();
  pnlSticker->layout()->invalidate();
  pnlHint->updateGeometry();
  pnlSticker->updateGeometry();
  layout()->invalidate();
  setFixedSize(layout()->sizeHint());
}

void TfrmHint::ShowFor(HintContent content, const QRect& row, int left, int wrapWidth, bool above) {
  // Laid out afresh while hidden: panels shown or hidden since the last time count again.
  hide();
  content_ = std::move(content);
  tag_ = content_.gridInfo ? 2 : 0;
  if (content_.lines.empty() && content_.sticker.empty()) {
    hide();
    return;
  }
  // Long lines are wrapped to the width asked for, as the window shows them.
  if (wrapWidth > 0) {
    const QFontMetrics fm(lblHint->font());
    for (HintLine& l : content_.lines) {
      const QString text = Q(l.text);
      const int headW = QFontMetrics(lblHead->font()).horizontalAdvance(Q(l.head));
      if (fm.horizontalAdvance(text) + headW <= wrapWidth) continue;
      QString wrapped, line;
      for (const QString& word : text.split(QLatin1Char(' '))) {
        const QString next = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && fm.horizontalAdvance(next) + headW > wrapWidth) {
          wrapped += line + QLatin1Char('\n');
          line = word;
        } else {
          line = next;
        }
      }
      l.text = (wrapped + fm.elidedText(line, Qt::ElideRight, std::max(40, wrapWidth - headW))).toStdString();
    }
  }
  // One entry per shown line, so that cutting counts what the window shows.
  std::vector<HintLine> lines;
  for (const HintLine& l : content_.lines) {
    const QStringList parts = Q(l.text).split(QLatin1Char('\n'));
    for (int i = 0; i < parts.size(); ++i) lines.push_back({i ? std::string() : l.head, parts[i].toStdString()});
  }
  content_.lines = std::move(lines);
  Fill();
  const QScreen* screen = QGuiApplication::screenAt(row.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  FitSize();
  HintGeometry g;
  g.rowTop = row.top();
  g.rowBottom = row.bottom() + 1;
  g.left = left;
  g.width = width();
  g.lineHeight = QFontMetrics(lblHint->font()).lineSpacing();
  g.frame = 12;
  g.infoLines = static_cast<size_t>(lblHint->text().count(QLatin1Char('\n')) + (content_.lines.empty() ? 0 : 1));
  g.stickerLines = content_.sticker.empty() ? 0 : static_cast<size_t>(std::count(content_.sticker.begin(), content_.sticker.end(), '\n') + 1);
  g.workTop = work.top();
  g.workBottom = work.bottom() + 1;
  g.workLeft = work.left();
  g.workRight = work.right() + 1;
  g.raise = above;
  const HintPlacement p = PlaceHint(g);
  if (p.cut) {
    CutHint(content_, p);
    Fill();
    FitSize();
  }
  move(p.x, p.y);
  show();
}

}  // namespace px::desk
