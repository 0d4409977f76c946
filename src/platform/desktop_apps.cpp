#include "platform/desktop_apps.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include <algorithm>
#include <set>

namespace px::platform {

namespace {

// A desktop file or list larger than this is not one.
constexpr qint64 kMaxFileSize = 1 << 20;

std::string Trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t\r");
  return std::string(s.substr(b, e - b + 1));
}

std::string Slash(std::string s) {
  if (!s.empty() && s.back() != '/') s.push_back('/');
  return s;
}

std::vector<std::string> SplitList(std::string_view s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      if (!Trim(cur).empty()) out.push_back(Trim(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!Trim(cur).empty()) out.push_back(Trim(cur));
  return out;
}

std::string ReadSmallFile(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxFileSize) return {};
  return f.read(kMaxFileSize).toStdString();
}

// Calls fn(group, key, value) for every "key=value" line of an INI-like freedesktop file.
template <typename Fn>
void ForEachKey(std::string_view text, Fn fn) {
  std::string group;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) nl = text.size();
    const std::string line = Trim(text.substr(start, nl - start));
    start = nl + 1;
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      group = line.substr(1, line.size() - 2);
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    fn(group, Trim(std::string_view(line).substr(0, eq)), Trim(std::string_view(line).substr(eq + 1)));
    if (nl == text.size()) break;
  }
}

// The escapes of a string value: \s \n \t \r \\ (other backslashes are kept for the Exec rules).
std::string UnescapeValue(std::string_view v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      switch (v[i + 1]) {
        case 's': out.push_back(' '); ++i; continue;
        case 'n': out.push_back('\n'); ++i; continue;
        case 't': out.push_back('\t'); ++i; continue;
        case 'r': out.push_back('\r'); ++i; continue;
        case '\\': out.push_back('\\'); ++i; continue;
        default: break;
      }
    }
    out.push_back(v[i]);
  }
  return out;
}

bool IsExecutableFile(const QString& path) {
  const QFileInfo fi(path);
  return fi.isFile() && fi.isExecutable();
}

}  // namespace

std::optional<DesktopEntry> ParseDesktopEntry(std::string_view text, std::string* error) {
  DesktopEntry e;
  bool sawGroup = false, sawType = false;
  ForEachKey(text, [&](const std::string& group, const std::string& key, const std::string& value) {
    if (group != "Desktop Entry") return;
    sawGroup = true;
    if (key.find('[') != std::string::npos) return;  // localised
    if (key == "Type") {
      sawType = true;
      e.application = value == "Application";
    } else if (key == "Name") {
      e.name = UnescapeValue(value);
    } else if (key == "Exec") {
      e.exec = UnescapeValue(value);
    } else if (key == "TryExec") {
      e.tryExec = UnescapeValue(value);
    } else if (key == "Icon") {
      e.icon = UnescapeValue(value);
    } else if (key == "MimeType") {
      e.mimeTypes = SplitList(value, ';');
    } else if (key == "Terminal") {
      e.terminal = value == "true";
    } else if (key == "NoDisplay") {
      e.noDisplay = value == "true";
    } else if (key == "Hidden") {
      e.hidden = value == "true";
    }
  });
  // ForEachKey only reports keys: a group with no keys still counts as missing.
  if (!sawGroup || !sawType) {
    if (error) *error = sawGroup ? "the desktop entry has no Type" : "no [Desktop Entry] group";
    return std::nullopt;
  }
  return e;
}

ExecCommand ExpandExec(const DesktopEntry& entry, const std::vector<std::string>& files) {
  ExecCommand out;
  // Split into arguments: blanks separate, double quotes group; inside quotes a backslash
  // escapes the next character.
  struct Arg {
    std::string text;
    bool quoted = false;
  };
  std::vector<Arg> args;
  const std::string& s = entry.exec;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= s.size()) break;
    Arg arg;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') {
      if (s[i] == '"') {
        arg.quoted = true;
        ++i;
        bool closed = false;
        while (i < s.size()) {
          if (s[i] == '\\' && i + 1 < s.size()) {
            arg.text.push_back(s[i + 1]);
            i += 2;
          } else if (s[i] == '"') {
            closed = true;
            ++i;
            break;
          } else {
            arg.text.push_back(s[i++]);
          }
        }
        if (!closed) {
          out.error = "The command line of \"" + entry.name + "\" has an unclosed quote.";
          return out;
        }
      } else if (s[i] == '\\' && i + 1 < s.size()) {
        arg.text.push_back(s[i + 1]);
        i += 2;
      } else {
        arg.text.push_back(s[i++]);
      }
    }
    args.push_back(std::move(arg));
  }
  if (args.empty()) {
    out.error = "The desktop entry \"" + entry.name + "\" names no program to run.";
    return out;
  }

  bool usedFiles = false;
  for (std::size_t a = 0; a < args.size(); ++a) {
    const std::string& t = args[a].text;
    // Field codes standing alone may expand to several arguments or to none.
    if (t == "%F" || t == "%U") {
      out.argv.insert(out.argv.end(), files.begin(), files.end());
      usedFiles = true;
      continue;
    }
    if (t == "%i") {
      if (!entry.icon.empty()) {
        out.argv.push_back("--icon");
        out.argv.push_back(entry.icon);
      }
      continue;
    }
    if (t == "%f" || t == "%u") {
      if (!files.empty()) out.argv.push_back(files.front());
      usedFiles = true;
      continue;
    }
    std::string expanded;
    for (std::size_t k = 0; k < t.size(); ++k) {
      if (t[k] != '%') {
        expanded.push_back(t[k]);
        continue;
      }
      if (k + 1 >= t.size()) {
        out.error = "The command line of \"" + entry.name + "\" ends in a lone \"%\".";
        out.argv.clear();
        return out;
      }
      const char code = t[++k];
      switch (code) {
        case '%': expanded.push_back('%'); break;
        case 'f': case 'u':
          if (!files.empty()) expanded += files.front();
          usedFiles = true;
          break;
        case 'F': case 'U':
          for (std::size_t n = 0; n < files.size(); ++n) expanded += (n ? " " : "") + files[n];
          usedFiles = true;
          break;
        case 'c': expanded += entry.name; break;
        case 'k': expanded += entry.path; break;
        case 'i': expanded += entry.icon; break;
        case 'd': case 'D': case 'n': case 'N': case 'v': case 'm': break;  // deprecated: dropped
        default:
          out.error = std::string("The command line of \"") + entry.name + "\" uses the unknown field code %" + code + ".";
          out.argv.clear();
          return out;
      }
    }
    out.argv.push_back(std::move(expanded));
  }
  if (out.argv.empty() || out.argv.front().empty()) {
    out.argv.clear();
    out.error = "The desktop entry \"" + entry.name + "\" names no program to run.";
    return out;
  }
  if (!usedFiles && !files.empty()) out.argv.push_back(files.front());
  return out;
}

XdgDirs XdgDirs::FromSystem() {
  auto env = [](const char* name) { return qEnvironmentVariable(name).toStdString(); };
  auto dirs = [](const std::string& list, const char* fallback) {
    std::vector<std::string> out;
    for (const std::string& d : SplitList(list.empty() ? fallback : list, ':')) out.push_back(Slash(d));
    return out;
  };
  const std::string home = Slash(QDir::homePath().toStdString());
  XdgDirs d;
  d.configHome = env("XDG_CONFIG_HOME").empty() ? home + ".config/" : Slash(env("XDG_CONFIG_HOME"));
  d.configDirs = dirs(env("XDG_CONFIG_DIRS"), "/etc/xdg");
  d.dataHome = env("XDG_DATA_HOME").empty() ? home + ".local/share/" : Slash(env("XDG_DATA_HOME"));
  d.dataDirs = dirs(env("XDG_DATA_DIRS"), "/usr/local/share:/usr/share");
  for (std::string desktop : SplitList(env("XDG_CURRENT_DESKTOP"), ':')) {
    std::transform(desktop.begin(), desktop.end(), desktop.begin(), [](unsigned char c) { return std::tolower(c); });
    d.desktops.push_back(desktop);
  }
  // XDG_TEMPLATES_DIR="$HOME/Templates" in user-dirs.dirs; a value equal to the home folder
  // means "no templates folder".
  ForEachKey(ReadSmallFile(d.configHome + "user-dirs.dirs"), [&](const std::string&, const std::string& key,
                                                                 const std::string& value) {
    if (key != "XDG_TEMPLATES_DIR") return;
    std::string v = value;
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) v = home + v.substr(v.size() > 5 && v[5] == '/' ? 6 : 5);
    if (Slash(v) != home) d.templates = Slash(v);
  });
  if (d.templates.empty() && QFileInfo(QString::fromStdString(home + "Templates")).isDir()) d.templates = home + "Templates/";
  return d;
}

AppRegistry::AppRegistry(XdgDirs dirs) : dirs_(std::move(dirs)) { index(); }

void AppRegistry::index() {
  std::vector<std::string> appDirs{dirs_.dataHome + "applications/"};
  for (const std::string& d : dirs_.dataDirs) appDirs.push_back(d + "applications/");
  cache_.resize(appDirs.size());
  for (std::size_t dirIndex = 0; dirIndex < appDirs.size(); ++dirIndex) {
    const std::string& dir = appDirs[dirIndex];
    const QString base = QString::fromStdString(dir);
    QDirIterator it(base, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      std::string id = QDir(base).relativeFilePath(path).toStdString();
      std::replace(id.begin(), id.end(), '/', '-');
      if (byId_.count(id)) continue;  // an earlier folder's entry hides this one
      std::optional<DesktopEntry> e = ParseDesktopEntry(ReadSmallFile(path.toStdString()));
      if (!e) continue;
      e->id = id;
      e->path = path.toStdString();
      byId_.emplace(id, *e);
      dirOf_[id] = static_cast<int>(dirIndex);
      order_.push_back(id);
    }
    ForEachKey(ReadSmallFile(dir + "mimeinfo.cache"), [&](const std::string& group, const std::string& key,
                                                          const std::string& value) {
      if (group != "MIME Cache") return;
      auto& ids = cache_[dirIndex][key];
      for (const std::string& id : SplitList(value, ';'))
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    });
  }
}

bool AppRegistry::usable(const DesktopEntry& e) const {
  if (!e.application || e.hidden || e.exec.empty()) return false;
  if (!e.tryExec.empty()) {
    const QString t = QString::fromStdString(e.tryExec);
    if (t.startsWith(QLatin1Char('/')) ? !IsExecutableFile(t) : QStandardPaths::findExecutable(t).isEmpty()) return false;
  }
  return true;
}

std::optional<DesktopEntry> AppRegistry::Find(const std::string& id) const {
  auto it = byId_.find(id);
  if (it == byId_.end() || !usable(it->second)) return std::nullopt;
  return it->second;
}

std::vector<std::string> AppRegistry::mimeAppsFiles() const {
  std::vector<std::string> files;
  auto add = [&](const std::string& dir) {
    for (const std::string& desktop : dirs_.desktops) files.push_back(dir + desktop + "-mimeapps.list");
    files.push_back(dir + "mimeapps.list");
  };
  add(dirs_.configHome);
  for (const std::string& d : dirs_.configDirs) add(d);
  add(dirs_.dataHome + "applications/");
  for (const std::string& d : dirs_.dataDirs) add(d + "applications/");
  return files;
}

AppRegistry::Associations AppRegistry::AssociationsFor(const std::string& type) const {
  Associations a;
  for (const std::string& file : mimeAppsFiles()) {
    const std::string text = ReadSmallFile(file);
    if (text.empty()) continue;
    ForEachKey(text, [&](const std::string& group, const std::string& key, const std::string& value) {
      if (key != type) return;
      std::vector<std::string>* list = group == "Default Applications"  ? &a.defaults
                                       : group == "Added Associations" ? &a.added
                                       : group == "Removed Associations" ? &a.removed
                                                                         : nullptr;
      if (!list) return;
      for (const std::string& id : SplitList(value, ';'))
        // An association removed by a file of higher precedence stays removed.
        if (list == &a.removed || std::find(a.removed.begin(), a.removed.end(), id) == a.removed.end())
          list->push_back(id);
    });
  }
  return a;
}

std::optional<DesktopEntry> AppRegistry::DefaultFor(const std::string& mimeType,
                                                    const std::vector<std::string>& ancestors) const {
  std::vector<std::string> types{mimeType};
  types.insert(types.end(), ancestors.begin(), ancestors.end());
  for (const std::string& type : types) {
    const Associations a = AssociationsFor(type);
    for (const std::string& id : a.defaults)
      if (auto e = Find(id)) return e;
    for (const std::string& id : a.added)
      if (auto e = Find(id)) return e;
    auto notRemoved = [&](const std::string& id) {
      return std::find(a.removed.begin(), a.removed.end(), id) == a.removed.end();
    };
    // Folder by folder in order of precedence: its cache, then its entries that declare the
    // type (a folder without a cache, such as the user's own, still counts first).
    for (std::size_t d = 0; d < cache_.size(); ++d) {
      auto it = cache_[d].find(type);
      if (it != cache_[d].end())
        for (const std::string& id : it->second)
          if (notRemoved(id))
            if (auto e = Find(id)) return e;
      for (const std::string& id : order_) {
        if (dirOf_.at(id) != static_cast<int>(d)) continue;
        const DesktopEntry& e = byId_.at(id);
        if (usable(e) && std::find(e.mimeTypes.begin(), e.mimeTypes.end(), type) != e.mimeTypes.end() && notRemoved(id))
          return e;
      }
    }
  }
  return std::nullopt;
}

std::vector<DesktopEntry> AppRegistry::AppsFor(const std::string& mimeType, const std::vector<std::string>& ancestors) const {
  std::vector<DesktopEntry> out;
  std::set<std::string> seen;
  auto add = [&](const DesktopEntry& e) {
    if (usable(e) && !e.noDisplay && seen.insert(e.id).second) out.push_back(e);
  };
  if (auto d = DefaultFor(mimeType, ancestors)) add(*d);
  std::vector<std::string> types{mimeType};
  types.insert(types.end(), ancestors.begin(), ancestors.end());
  for (const std::string& type : types) {
    const Associations a = AssociationsFor(type);
    for (const std::string& id : a.added)
      if (auto e = Find(id)) add(*e);
    for (const std::string& id : order_) {
      const DesktopEntry& e = byId_.at(id);
      if (std::find(e.mimeTypes.begin(), e.mimeTypes.end(), type) != e.mimeTypes.end() &&
          std::find(a.removed.begin(), a.removed.end(), id) == a.removed.end())
        add(e);
    }
  }
  return out;
}

std::vector<DesktopEntry> AppRegistry::OtherApps(const std::vector<DesktopEntry>& shown) const {
  std::set<std::string> skip;
  for (const DesktopEntry& e : shown) skip.insert(e.id);
  std::vector<DesktopEntry> out;
  for (const std::string& id : order_) {
    const DesktopEntry& e = byId_.at(id);
    if (!skip.count(id) && usable(e) && !e.noDisplay) out.push_back(e);
  }
  std::sort(out.begin(), out.end(), [](const DesktopEntry& a, const DesktopEntry& b) { return a.name < b.name; });
  return out;
}

}  // namespace px::platform
