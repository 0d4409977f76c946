#include "desk/ui/desk_menu_bar.h"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

DeskMenuBar::DeskMenuBar(DeskCommands& commands, QMainWindow* window)
    : QObject(window), commands_(commands), window_(window) {
  setObjectName(QStringLiteral("pxDeskMenuBar"));
  QMenuBar* bar = window_->menuBar();
  bar->setObjectName(QStringLiteral("mnuDesk"));
  for (const std::string& name : DeskCommands::Menus()) {
    QMenu* menu = bar->addMenu(QStringLiteral("&") + Q(name));
    menu->setObjectName(QStringLiteral("mnu") + Q(name));
    menus_[name] = menu;
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { ShowEnabled(menu, true); });
    // Closed again, the entries take their keys back: a key reaches the table, which decides.
    connect(menu, &QMenu::aboutToHide, this, [this, menu] { ShowEnabled(menu, false); });
  }
  toolBar_ = window_->addToolBar(QStringLiteral("Mail"));
  toolBar_->setObjectName(QStringLiteral("tbMail"));
  toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  Rebuild();
  commands_.changed = [this](const std::string&) { Rebuild(); };
}

QAction* DeskMenuBar::MakeAction(const DeskCommand& c) {
  auto* a = new QAction(window_);
  a->setObjectName(Q(c.id));
  const std::string id = c.id;
  connect(a, &QAction::triggered, this, [this, id] {
    if (ready_) commands_.Run(id);
  });
  return a;
}

void DeskMenuBar::Rebuild() {
  for (auto& [name, menu] : menus_) {
    menu->clear();
    bool first = true;
    for (const DeskCommand* c : commands_.InMenu(name)) {
      if (c->separatorBefore && !first) menu->addSeparator();
      first = false;
      auto it = actions_.find(c->id);
      QAction* a = it != actions_.end() ? it->second : (actions_[c->id] = MakeAction(*c));
      menu->addAction(a);
    }
  }
  toolBar_->clear();
  for (const DeskCommand* c : commands_.Toolbar()) {
    auto it = actions_.find(c->id);
    toolBar_->addAction(it != actions_.end() ? it->second : (actions_[c->id] = MakeAction(*c)));
  }
  for (const DeskCommand& c : commands_.All()) {
    QAction* a = Action(c.id);
    if (!a) continue;
    if (c.shortcut.empty()) {
      a->setText(Q(c.text));
    } else if (c.keyShownOnly) {
      // Shown beside the text; the grid and the trees take the key themselves.
      a->setText(Q(c.text) + QLatin1Char('\t') + QKeySequence(Q(c.shortcut)).toString(QKeySequence::NativeText));
      a->setShortcut(QKeySequence());
    } else {
      a->setText(Q(c.text));
      a->setShortcut(QKeySequence(Q(c.shortcut)));
      a->setShortcutContext(Qt::WindowShortcut);
    }
    a->setEnabled(ready_ && commands_.Provided(c.id));
  }
}

QAction* DeskMenuBar::Action(std::string_view id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

QMenu* DeskMenuBar::Menu(std::string_view name) const {
  auto it = menus_.find(name);
  return it == menus_.end() ? nullptr : it->second;
}

void DeskMenuBar::ShowEnabled(QMenu* menu, bool exact) {
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    const std::string id = a->objectName().toStdString();
    a->setEnabled(ready_ && (exact ? commands_.Enabled(id) : commands_.Provided(id)));
  }
}

void DeskMenuBar::SetReady(bool ready) {
  ready_ = ready;
  window_->menuBar()->setEnabled(ready);
  toolBar_->setEnabled(ready);
  for (auto& [id, a] : actions_) a->setEnabled(ready && commands_.Provided(id));
}

void DeskMenuBar::RefreshEnabled() {
  for (auto& [id, a] : actions_) a->setEnabled(commands_.Enabled(id));
}

}  // namespace px::desk
