#pragma once
// The desk's menu bar and toolbar: a view of the command table (desk/desk_commands). One
// action per command, named by the command's id, shared by its menus and the toolbar. A
// menu's entries are enabled as the table says when the menu opens; the keys of a command
// reach the table, which runs it only when it is enabled.
#include "desk/desk_commands.h"

#include <QObject>

#include <map>
#include <string>
#include <string_view>

class QAction;
class QMainWindow;
class QMenu;
class QToolBar;

namespace px::desk {

class DeskMenuBar : public QObject {
  Q_OBJECT
public:
  DeskMenuBar(DeskCommands& commands, QMainWindow* window);

  QAction* Action(std::string_view id) const;
  QMenu* Menu(std::string_view name) const;
  QToolBar* ToolBar() const { return toolBar_; }
  // Every action enabled as the table says now.
  void RefreshEnabled();
  // While the desk starts (curtain, welcome window) the menus and keys wait.
  void SetReady(bool ready);
  bool Ready() const { return ready_; }

private:
  QAction* MakeAction(const DeskCommand& c);
  void Rebuild();
  void ShowEnabled(QMenu* menu, bool exact);

  DeskCommands& commands_;
  QMainWindow* window_;
  QToolBar* toolBar_ = nullptr;
  std::map<std::string, QAction*, std::less<>> actions_;
  std::map<std::string, QMenu*, std::less<>> menus_;
  bool ready_ = true;
};

}  // namespace px::desk
