#pragma once
// The programs installed on a freedesktop system and which one opens a type: desktop entries
// (.desktop files), their Exec lines, and the default-application rules of mimeapps.list and
// mimeinfo.cache. This is what a Windows program reads from the file-type associations.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace px::platform {

struct DesktopEntry {
  std::string id;    // desktop file id ("org.gnome.gedit.desktop", "kde-okular.desktop")
  std::string path;  // where the file is
  std::string name;
  std::string exec;  // the Exec value with the string escapes undone
  std::string tryExec;
  std::string icon;
  std::vector<std::string> mimeTypes;
  bool terminal = false;
  bool noDisplay = false;
  bool hidden = false;
  bool application = false;  // Type=Application
};

// Reads the [Desktop Entry] group of a .desktop file. nullopt (with a reason) when the text has
// no such group or it lacks Type; localised keys are skipped.
std::optional<DesktopEntry> ParseDesktopEntry(std::string_view text, std::string* error = nullptr);

// The command of an entry for the given files: arguments as the program receives them (no
// shell is ever involved), field codes substituted (%f %F %u %U with the paths, %i the icon,
// %c the name, %k the entry's path, %% a percent sign; the deprecated ones dropped). A command
// without a file field code gets the first file appended. Empty with error set when the Exec
// line is malformed (an unclosed quote, an unknown field code, no program).
struct ExecCommand {
  std::vector<std::string> argv;
  std::string error;
  bool ok() const { return error.empty() && !argv.empty(); }
};
ExecCommand ExpandExec(const DesktopEntry& entry, const std::vector<std::string>& files);

// The XDG folders that the rules read, in order of precedence.
struct XdgDirs {
  std::string configHome;               // with a trailing "/"
  std::vector<std::string> configDirs;
  std::string dataHome;
  std::vector<std::string> dataDirs;
  std::vector<std::string> desktops;    // $XDG_CURRENT_DESKTOP, lower case
  std::string templates;                // the user's templates folder ("" when none is set)
  static XdgDirs FromSystem();
};

class AppRegistry {
public:
  explicit AppRegistry(XdgDirs dirs);

  // The default application for a MIME type, trying the type's ancestors (given in order,
  // nearest first) when nothing is set up for the type itself.
  std::optional<DesktopEntry> DefaultFor(const std::string& mimeType,
                                         const std::vector<std::string>& ancestors = {}) const;
  // Applications that declare the type (or an ancestor), the default first; then every other
  // application, for an "Open with" list.
  std::vector<DesktopEntry> AppsFor(const std::string& mimeType, const std::vector<std::string>& ancestors = {}) const;
  std::vector<DesktopEntry> OtherApps(const std::vector<DesktopEntry>& shown) const;
  std::optional<DesktopEntry> Find(const std::string& id) const;

private:
  struct Associations {
    std::vector<std::string> defaults, added, removed;
  };
  void index();
  bool usable(const DesktopEntry& e) const;
  std::vector<std::string> mimeAppsFiles() const;
  Associations AssociationsFor(const std::string& type) const;

  XdgDirs dirs_;
  std::map<std::string, DesktopEntry> byId_;  // first data folder wins
  std::vector<std::string> order_;            // ids in the order they were found
  std::map<std::string, int> dirOf_;          // id -> index of the data folder it came from
  // mimeinfo.cache per data folder, in the folders' order: type -> ids.
  std::vector<std::map<std::string, std::vector<std::string>>> cache_;
};

}  // namespace px::platform
