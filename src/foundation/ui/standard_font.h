#pragma once
// The standard UI font: the desktop's menu font, as the toolkit reports it for menus. Windows
// and dialogs apply it to their fonts when they are created.
#include <QFont>

namespace px::ui {

// The menu font of the desktop (face and size).
QFont StandardFont();
// Gives `font` the standard face, and its size too when withSize; other attributes stay.
void ApplyStandardFont(QFont& font, bool withSize);

}  // namespace px::ui
