#include "foundation/atomic_file.h"
#include "platform/mail_client.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace px::platform {

namespace {

constexpr const char* kGroup = "[Default Applications]";

std::string Env(const char* name) { return qEnvironmentVariable(name).toStdString(); }

std::string Slash(std::string s) {
  if (!s.empty() && s.back() != '/') s.push_back('/');
  return s;
}

std::vector<std::string> SplitDirs(const std::string& list, const char* fallback) {
  const QString value = QString::fromStdString(list.empty() ? fallback : list);
  std::vector<std::string> out;
  for (const QString& part : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) out.push_back(Slash(part.toStdString()));
  return out;
}

std::string Trim(std::string s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    auto nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = nl + 1;
  }
  return lines;
}

bool IsGroupLine(const std::string& line) {
  const std::string t = Trim(line);
  return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}

// The key of a "key=value" line, trimmed ("" for comments and blank lines).
std::string KeyOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.empty() || t.front() == '#') return {};
  const auto eq = t.find('=');
  if (eq == std::string::npos) return {};
  return Trim(t.substr(0, eq));
}

std::string ReadFile(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll().toStdString();
}

std::string FirstEntry(const std::string& value) {
  const auto semi = value.find(';');
  return Trim(value.substr(0, semi));
}

bool RunTool(const std::string& program, const QStringList& args, std::string* out) {
  QProcess p;
  p.setProgram(QString::fromStdString(program));
  p.setArguments(args);
  p.setProcessChannelMode(QProcess::SeparateChannels);
  p.start();
  if (!p.waitForStarted(3000)) return false;
  p.closeWriteChannel();
  if (!p.waitForFinished(5000)) {
    p.kill();
    p.waitForFinished(1000);
    return false;
  }
  if (out) *out = p.readAllStandardOutput().toStdString();
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

std::string MimeAppsDefault(const std::string& text, const std::string& type) {
  bool inGroup = false;
  for (const std::string& line : Lines(text)) {
    if (IsGroupLine(line)) {
      inGroup = Trim(line) == kGroup;
      continue;
    }
    if (inGroup && KeyOf(line) == type) return Trim(line.substr(line.find('=') + 1));
  }
  return {};
}

std::string MimeAppsWithDefault(const std::string& text, const std::string& type, const std::string& value) {
  std::vector<std::string> lines = Lines(text);
  std::vector<std::string> out;
  bool inGroup = false, sawGroup = false, written = false;
  for (const std::string& line : lines) {
    if (IsGroupLine(line)) {
      // Leaving our group without having met the key: add it at the group's end.
      if (inGroup && !written && !value.empty()) {
        out.push_back(type + "=" + value);
        written = true;
      }
      inGroup = Trim(line) == kGroup;
      sawGroup = sawGroup || inGroup;
      out.push_back(line);
      continue;
    }
    if (inGroup && KeyOf(line) == type) {
      if (!written && !value.empty()) out.push_back(type + "=" + value);
      written = true;  // later duplicates of the key go
      continue;
    }
    out.push_back(line);
  }
  if (!written && !value.empty()) {
    if (!sawGroup) {
      if (!out.empty() && !Trim(out.back()).empty()) out.emplace_back();
      out.emplace_back(kGroup);
    } else {
      // The group was the last one: drop trailing blank lines so the entry stays inside it.
      while (!out.empty() && Trim(out.back()).empty()) out.pop_back();
    }
    out.push_back(type + "=" + value);
  }
  std::string joined;
  for (const std::string& line : out) joined += line + "\n";
  return joined;
}

MailClientEnv MailClientEnv::FromSystem() {
  MailClientEnv env;
  const std::string dataHome = Env("XDG_DATA_HOME").empty() ? QDir::homePath().toStdString() + "/.local/share/"
                                                            : Slash(Env("XDG_DATA_HOME"));
  const std::vector<std::string> dataDirs = SplitDirs(Env("XDG_DATA_DIRS"), "/usr/local/share:/usr/share");
  env.applicationFolders.push_back(dataHome + "applications/");
  for (const std::string& d : dataDirs) env.applicationFolders.push_back(d + "applications/");

  const std::string home = Env("PLUMADEX_HOME");
  if (!home.empty()) {
    env.userMimeApps = Slash(home) + "config/mimeapps.list";
    return env;
  }
  const std::string configHome = Env("XDG_CONFIG_HOME").empty() ? QDir::homePath().toStdString() + "/.config/"
                                                                : Slash(Env("XDG_CONFIG_HOME"));
  env.userMimeApps = configHome + "mimeapps.list";
  for (const std::string& d : SplitDirs(Env("XDG_CONFIG_DIRS"), "/etc/xdg")) env.systemMimeApps.push_back(d + "mimeapps.list");
  env.systemMimeApps.push_back(dataHome + "applications/mimeapps.list");
  for (const std::string& d : dataDirs) env.systemMimeApps.push_back(d + "applications/mimeapps.list");
  env.xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).toStdString();
  return env;
}

std::string DefaultMailClient::RawUserValue() const { return MimeAppsDefault(ReadFile(env_.userMimeApps), kMailtoType); }

bool DefaultMailClient::SetUserValue(const std::string& value) {
  const std::string text = ReadFile(env_.userMimeApps);
  const std::string changed = MimeAppsWithDefault(text, kMailtoType, value);
  if (changed == text) return true;
  const QFileInfo info(QString::fromStdString(env_.userMimeApps));
  if (!QDir().mkpath(info.absolutePath())) return false;
  return SaveFileAtomic(env_.userMimeApps, changed).ok();
}

bool DefaultMailClient::installed() const {
  for (const std::string& folder : env_.applicationFolders)
    if (QFileInfo(QString::fromStdString(Slash(folder) + env_.desktopId)).isFile()) return true;
  return false;
}

std::string DefaultMailClient::CurrentHandler() const {
  if (!env_.xdgMime.empty()) {
    std::string out;
    if (RunTool(env_.xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QString::fromLatin1(kMailtoType)}, &out))
      return FirstEntry(Trim(out));
    return {};
  }
  std::vector<std::string> files{env_.userMimeApps};
  files.insert(files.end(), env_.systemMimeApps.begin(), env_.systemMimeApps.end());
  for (const std::string& file : files) {
    const std::string value = MimeAppsDefault(ReadFile(file), kMailtoType);
    if (!FirstEntry(value).empty()) return FirstEntry(value);
  }
  return {};
}

void DefaultMailClient::ClaimMailClient() {
  claimed_ = false;
  if (!installed()) return;
  const std::string current = CurrentHandler();
  if (current == env_.desktopId) return;
  previousHandler_ = current;
  previousUserValue_ = RawUserValue();
  if (!env_.xdgMime.empty())
    claimed_ = RunTool(env_.xdgMime, {QStringLiteral("default"), QString::fromStdString(env_.desktopId),
                                      QString::fromLatin1(kMailtoType)}, nullptr);
  else
    claimed_ = SetUserValue(env_.desktopId);
}

void DefaultMailClient::ReleaseMailClient() {
  if (!claimed_) return;
  claimed_ = false;
  // A handler the user chose while we ran stays.
  if (CurrentHandler() != env_.desktopId) return;
  // Where the claim landed in the user's file, that file gets back exactly what it held;
  // a desktop that keeps the choice elsewhere is told the previous handler through xdg-mime.
  if (env_.xdgMime.empty() || FirstEntry(RawUserValue()) == env_.desktopId) {
    SetUserValue(previousUserValue_);
    return;
  }
  if (!previousHandler_.empty())
    RunTool(env_.xdgMime, {QStringLiteral("default"), QString::fromStdString(previousHandler_),
                           QString::fromLatin1(kMailtoType)}, nullptr);
}

}  // namespace px::platform
