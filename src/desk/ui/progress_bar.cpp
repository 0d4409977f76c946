#include "desk/ui/progress_bar.h"

#include <QPainter>
#include <QStyleOptionFrame>

namespace px::desk {

TPXProgressBar::TPXProgressBar(QWidget* parent) : QWidget(parent), bar_(palette().color(QPalette::Highlight)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(60, 17);
  resize(100, 17);
}

void TPXProgressBar::UpdateIfChanged(const std::string& before, int barBefore) {
  if (model_.Caption() != before || model_.BarWidth(width()) != barBefore) update();
}

void TPXProgressBar::SetRange(int64_t min, int64_t max) {
  const std::string before = model_.Caption();
  const int bar = model_.BarWidth(width());
  model_.SetRange(min, max);
  UpdateIfChanged(before, bar);
}

void TPXProgressBar::SetPosition(int64_t value) {
  const std::string before = model_.Caption();
  const int bar = model_.BarWidth(width());
  model_.SetPosition(value);
  UpdateIfChanged(before, bar);
}

void TPXProgressBar::SetShowText(bool value) {
  if (value == model_.ShowText()) return;
  model_.SetShowText(value);
  update();
}

void TPXProgressBar::SetBarColor(const QColor& c) {
  bar_ = c;
  update();
}

void TPXProgressBar::paintEvent(QPaintEvent*) {
  ++paints_;
  QPainter p(this);
  const QRect outer = rect();
  p.fillRect(outer, palette().color(QPalette::Base));
  // Sunken frame around the client area, raised frame around the bar.
  const QColor light = palette().color(QPalette::Light), dark = palette().color(QPalette::Dark);
  p.setPen(dark);
  p.drawLine(outer.topLeft(), outer.topRight());
  p.drawLine(outer.topLeft(), outer.bottomLeft());
  p.setPen(light);
  p.drawLine(outer.bottomLeft(), outer.bottomRight());
  p.drawLine(outer.topRight(), outer.bottomRight());
  const QRect client = outer.adjusted(1, 1, -1, -1);
  const int w = model_.BarWidth(client.width());
  if (w > 0) {
    const QRect bar(client.left(), client.top(), w, client.height());
    p.fillRect(bar, bar_);
    p.setPen(light);
    p.drawLine(bar.topLeft(), bar.topRight());
    p.drawLine(bar.topLeft(), bar.bottomLeft());
    p.setPen(dark);
    p.drawLine(bar.bottomLeft(), bar.bottomRight());
    p.drawLine(bar.topRight(), bar.bottomRight());
  }
  if (model_.ShowText()) {
    p.setPen(palette().color(QPalette::Text));
    p.drawText(client, Qt::AlignCenter, CaptionText());
  }
}

}  // namespace px::desk
