#include "foundation/ui/standard_font.h"

#include <QApplication>

namespace px::ui {

QFont StandardFont() { return QApplication::font("QMenu"); }

void ApplyStandardFont(QFont& font, bool withSize) {
  const QFont ui = StandardFont();
  font.setFamily(ui.family());
  if (!withSize) return;
  if (ui.pointSizeF() > 0)
    font.setPointSizeF(ui.pointSizeF());
  else if (ui.pixelSize() > 0)
    font.setPixelSize(ui.pixelSize());
}

}  // namespace px::ui
