#pragma once
// The desk's commands: what the menu bar, the toolbar and the shortcuts offer, in one table.
// Each command has a stable id (the objectName of its action), the menus it sits in, its text
// and its shortcut. The parts of the desk that can carry a command out give it its handler and
// its enabled test (Provide); a command nobody provides is shown disabled. Later parts add
// their own commands with Add. The menu bar on the screen (desk/ui/desk_menu_bar) only shows
// this table.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace px::desk {

struct DeskCommand {
  std::string id;                  // "actNewMessage": the objectName of its action
  std::vector<std::string> menus;  // "File", "Edit", "View", "Mail", "Tools", "Help"
  std::string text;                // "New Message"
  std::string shortcut;            // portable key text ("Ctrl+N"); "" for none
  // The key belongs to the grid and the trees (which handle it where the focus is): the menu
  // shows it but does not take it.
  bool keyShownOnly = false;
  bool separatorBefore = false;    // in each of its menus
  bool toolbar = false;            // also on the desk's toolbar
  std::function<void()> run;       // null: nobody provides it (yet)
  std::function<bool()> enabled;   // null: enabled whenever provided
};

class DeskCommands {
public:
  // The desk's standard commands.
  DeskCommands();

  // The menus of the menu bar, in order.
  static const std::vector<std::string>& Menus();

  // Adds a command after the command `after` of its menus (at the end when "" or unknown);
  // false when the id exists already.
  bool Add(DeskCommand command, std::string_view after = {});
  // Gives a command its handler and enabled test; false for an unknown id.
  bool Provide(std::string_view id, std::function<void()> run, std::function<bool()> enabled = {});

  const DeskCommand* Find(std::string_view id) const;
  bool Provided(std::string_view id) const;
  bool Enabled(std::string_view id) const;
  // Runs the command when it is enabled; true when it ran.
  bool Run(std::string_view id) const;

  // The commands of one menu, and those of the toolbar, in order.
  std::vector<const DeskCommand*> InMenu(std::string_view menu) const;
  std::vector<const DeskCommand*> Toolbar() const;
  const std::vector<DeskCommand>& All() const { return commands_; }

  // Told when a command was added or provided (the view updates its actions).
  std::function<void(const std::string& id)> changed;

private:
  DeskCommand* FindMutable(std::string_view id);
  std::vector<DeskCommand> commands_;
};

}  // namespace px::desk
