#pragma once
// Stored font and colour values as Qt fonts and colours.
#include "foundation/settings.h"

#include <QColor>
#include <QFont>

namespace px::ui {

inline QColor ToQColor(ColorRef c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

inline ColorRef FromQColor(const QColor& c) {
  return static_cast<ColorRef>(c.red()) | (static_cast<ColorRef>(c.green()) << 8) |
         (static_cast<ColorRef>(c.blue()) << 16);
}

inline QFont ToQFont(const FontValue& f) {
  QFont font(QString::fromStdString(f.name));
  if (f.size > 0) font.setPointSize(f.size);
  font.setBold(f.bold);
  font.setItalic(f.italic);
  font.setUnderline(f.underline);
  return font;
}

// The font's colour is not part of a QFont: `color` supplies it.
inline FontValue FromQFont(const QFont& font, ColorRef color = 0) {
  FontValue f;
  f.name = font.family().toStdString();
  f.size = font.pointSize() > 0 ? font.pointSize() : 9;
  f.bold = font.bold();
  f.italic = font.italic();
  f.underline = font.underline();
  f.color = color;
  return f;
}

}  // namespace px::ui
