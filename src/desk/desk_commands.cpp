#include "desk/desk_commands.h"

#include <algorithm>

namespace px::desk {

namespace {

DeskCommand Cmd(std::string id, std::vector<std::string> menus, std::string text, std::string shortcut = {},
                bool keyShownOnly = false, bool separatorBefore = false, bool toolbar = false) {
  DeskCommand c;
  c.id = std::move(id);
  c.menus = std::move(menus);
  c.text = std::move(text);
  c.shortcut = std::move(shortcut);
  c.keyShownOnly = keyShownOnly;
  c.separatorBefore = separatorBefore;
  c.toolbar = toolbar;
  return c;
}

}  // namespace

const std::vector<std::string>& DeskCommands::Menus() {
  static const std::vector<std::string> menus = {"File", "Edit", "View", "Mail", "Tools", "Help"};
  return menus;
}

DeskCommands::DeskCommands() {
  // Keys the grid and the trees handle themselves (Enter, Delete, F2, F5, the clipboard keys,
  // Ctrl+A) are shown only, so text fields elsewhere keep theirs.
  commands_ = {
      Cmd("actNewMessage", {"File", "Mail"}, "New Message", "Ctrl+N", false, false, true),
      Cmd("actNewFolder", {"File"}, "New Folder...", "Ctrl+Shift+N"),
      Cmd("actNewDocument", {"File"}, "New Text Document"),
      Cmd("actImport", {"File"}, "Import...", {}, false, true),
      Cmd("actImportContacts", {"File"}, "Import Contacts..."),
      Cmd("actOpen", {"File"}, "Open", "Return", true, true),
      Cmd("actExit", {"File"}, "Exit", "Ctrl+Q", false, true),

      Cmd("actCut", {"Edit"}, "Cut", "Ctrl+X", true),
      Cmd("actCopy", {"Edit"}, "Copy", "Ctrl+C", true),
      Cmd("actPaste", {"Edit"}, "Paste", "Ctrl+V", true),
      Cmd("actRename", {"Edit"}, "Rename...", "F2", true, true),
      Cmd("actDuplicate", {"Edit"}, "Duplicate..."),
      Cmd("actDelete", {"Edit"}, "Delete", "Del", true),
      Cmd("actCopyTo", {"Edit"}, "Copy to...", {}, false, true),
      Cmd("actMoveTo", {"Edit"}, "Move to..."),
      Cmd("actSelectAll", {"Edit"}, "Select All", "Ctrl+A", true, true),

      Cmd("actShowFiles", {"View"}, "Files", "Ctrl+1"),
      Cmd("actShowContacts", {"View"}, "Contacts", "Ctrl+2"),
      Cmd("actShowOptions", {"View"}, "Options", "Ctrl+3"),
      Cmd("actRefresh", {"View"}, "Refresh", "F5", true, true),

      Cmd("actSendReceive", {"Mail"}, "Send and receive mail", "F9", false, true, true),
      Cmd("actReceive", {"Mail"}, "Receive only", "Ctrl+F9", false, false, true),
      Cmd("actSend", {"Mail"}, "Send only", "Shift+F9", false, false, true),
      Cmd("actPreviewMail", {"Mail"}, "Preview Mail on Server..."),
      Cmd("actMarkRead", {"Mail"}, "Mark as Read", "Ctrl+Shift+M", false, true),
      Cmd("actMarkUnread", {"Mail"}, "Mark as Unread", "Ctrl+Shift+U"),
      Cmd("actBlockSender", {"Mail"}, "Block Sender"),
      Cmd("actSortMail", {"Mail"}, "Sort Mail...", {}, false, true),
      Cmd("actMailSortRules", {"Mail"}, "Mail Sorting Rules..."),
      Cmd("actApplyRules", {"Mail"}, "Apply Rules Now"),
      Cmd("actRefileQuarantine", {"Mail"}, "File Quarantined Mail Again"),

      Cmd("actOptions", {"Tools"}, "Options..."),
      Cmd("actEmptyTrash", {"Tools"}, "Empty Trash Bin", {}, false, true),

      Cmd("actAbout", {"Help"}, "About Plumadex"),
  };
}

DeskCommand* DeskCommands::FindMutable(std::string_view id) {
  for (auto& c : commands_)
    if (c.id == id) return &c;
  return nullptr;
}

const DeskCommand* DeskCommands::Find(std::string_view id) const {
  for (const auto& c : commands_)
    if (c.id == id) return &c;
  return nullptr;
}

bool DeskCommands::Add(DeskCommand command, std::string_view after) {
  if (command.id.empty() || Find(command.id)) return false;
  const std::string id = command.id;
  auto pos = commands_.end();
  if (!after.empty())
    for (auto it = commands_.begin(); it != commands_.end(); ++it)
      if (it->id == after) pos = it + 1;
  commands_.insert(pos, std::move(command));
  if (changed) changed(id);
  return true;
}

bool DeskCommands::Provide(std::string_view id, std::function<void()> run, std::function<bool()> enabled) {
  DeskCommand* c = FindMutable(id);
  if (!c) return false;
  c->run = std::move(run);
  c->enabled = std::move(enabled);
  if (changed) changed(c->id);
  return true;
}

bool DeskCommands::Provided(std::string_view id) const {
  const DeskCommand* c = Find(id);
  return c && c->run;
}

bool DeskCommands::Enabled(std::string_view id) const {
  const DeskCommand* c = Find(id);
  return c && c->run && (!c->enabled || c->enabled());
}

bool DeskCommands::Run(std::string_view id) const {
  if (!Enabled(id)) return false;
  // A copy: the handler may replace the command's functions.
  const std::function<void()> run = Find(id)->run;
  run();
  return true;
}

std::vector<const DeskCommand*> DeskCommands::InMenu(std::string_view menu) const {
  std::vector<const DeskCommand*> out;
  for (const auto& c : commands_)
    if (std::find(c.menus.begin(), c.menus.end(), menu) != c.menus.end()) out.push_back(&c);
  return out;
}

std::vector<const DeskCommand*> DeskCommands::Toolbar() const {
  std::vector<const DeskCommand*> out;
  for (const auto& c : commands_)
    if (c.toolbar) out.push_back(&c);
  return out;
}

}  // namespace px::desk
