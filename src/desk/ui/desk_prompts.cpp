#include "desk/ui/desk_prompts.h"

#include "dialogs/ui/frm_rename.h"

#include "desk/ui/folder_chooser.h"
#include "desk/ui/grid_view.h"

#include <QCursor>
#include <QIcon>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

std::optional<std::string> DialogPrompts::AskText(const std::string& caption, const std::string& prompt,
                                                  const std::string& initial) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent_, Q(caption), Q(prompt), QLineEdit::Normal, Q(initial), &ok);
  if (!ok) return std::nullopt;
  return text.toStdString();
}

bool DialogPrompts::AskYesNo(const std::string& question) {
  return QMessageBox::question(parent_, QStringLiteral("Plumadex"), Q(question), QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

store::CollisionAnswer DialogPrompts::AskCollision(const store::CollisionQuestion& question) {
  return dialogs::ui::DialogCollisionResolver(parent_).Ask(question);
}

bool DialogPrompts::AskOkCancel(const std::string& question) {
  return QMessageBox::information(parent_, QStringLiteral("Plumadex"), Q(question),
                                  QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

std::string DialogPrompts::ChooseCarryFolder(const std::string& caption, const TreeEnvironment& env,
                                             const std::function<std::string(const TreeNode*)>& refusal) {
  return px::desk::ChooseCarryFolder(parent_, Q(caption), env, refusal);
}

std::optional<int> DialogPrompts::ChooseColour(int current) {
  // Colours 1 to 8 and "None".
  QMenu menu(parent_);
  for (int c = 1; c <= 8; ++c) {
    QPixmap swatch(12, 12);
    swatch.fill(LabelColour(c));
    QAction* a = menu.addAction(QIcon(swatch), QStringLiteral("Colour %1").arg(c));
    a->setData(c);
    a->setCheckable(true);
    a->setChecked(c == current);
  }
  menu.addAction(QStringLiteral("None"))->setData(0);
  QAction* chosen = menu.exec(QCursor::pos());
  if (!chosen) return std::nullopt;
  return chosen->data().toInt();
}

}  // namespace px::desk
