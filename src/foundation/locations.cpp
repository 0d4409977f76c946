#include "foundation/locations.h"

#include "foundation/atomic_file.h"

#include "foundation/text_case.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace px {

namespace {

std::string EnvHome() {
  const QByteArray home = qgetenv("PLUMADEX_HOME");
  if (home.isEmpty()) return {};
  return WithSlash(QDir::cleanPath(QString::fromLocal8Bit(home)).toStdString());
}

bool IsDir(const std::string& path) { return QFileInfo(QString::fromStdString(path)).isDir(); }

void MakePath(const std::string& path) {
  if (!path.empty()) QDir().mkpath(QString::fromStdString(path));
}

// Creates `parent` + `name` + "/", renaming an existing folder whose name differs only in
// letter case so the name is exactly `name`.
void MakeNormalisedFolder(const std::string& parent, const std::string& name) {
  const QString want = QString::fromStdString(parent + name);
  if (QFileInfo(want).isDir()) return;
  QDir dir(QString::fromStdString(parent));
  const QStringList entries = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
  for (const QString& e : entries) {
    if (SameText(e.toStdString(), name)) {
      if (dir.rename(e, QString::fromStdString(name))) return;
      break;
    }
  }
  dir.mkpath(QString::fromStdString(name));
}

// Creates `path` with `bytes`, private (mode 0600) from the start, and never over an existing
// file. The content is written to a temporary file beside it first, so a full disk or a crash
// leaves either the whole file or none (the next start copies again), never a cut one.
void CreatePrivateFile(const std::string& path, const QByteArray& bytes) {
  AtomicFile file(path);
  if (file.Open(0600) != 0) return;
  file.Write(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  (void)file.Commit(false);  // a file that appeared meanwhile is kept; a failure copies again next time
}

}  // namespace

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path.push_back('/');
  return path;
}

std::string ProgramFolder() {
  const QByteArray forced = qgetenv("PLUMADEX_PROGRAM_DIR");
  if (!forced.isEmpty()) return WithSlash(QString::fromLocal8Bit(forced).toStdString());

  const std::string installed = WithSlash(PLUMADEX_DATA_DIR);
  const std::string source = WithSlash(std::string(PLUMADEX_SOURCE_DIR) + "/data");
  if (QCoreApplication::instance()) {
    const QString appDir = QDir::cleanPath(QCoreApplication::applicationDirPath());
    // Installed next to its data folder (also when the install tree was moved).
    const QString relocated = QDir::cleanPath(appDir + "/../share/plumadex");
    const QString prefixBin = QDir::cleanPath(QString::fromStdString(installed) + "/../../bin");
    if (appDir == prefixBin && IsDir(installed)) return installed;
    if (QFileInfo(relocated + "/user0.ini").isFile()) return WithSlash(relocated.toStdString());
  }
  // Run from the build tree (or tests): the source tree's data folder.
  if (IsDir(source)) return source;
  return installed;
}

Locations ComputeLocations() {
  Locations loc;
  const std::string home = EnvHome();
  if (!home.empty()) {
    loc.dataRoot = home + "data/";
    loc.documents = home + "Documents/";
    loc.runtimeFolder = home + "run/";
  } else {
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
    loc.dataRoot = WithSlash(data.toStdString()) + "Plumadex/";
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) docs = QDir::homePath() + "/Documents";
    loc.documents = WithSlash(docs.toStdString());
    const QString run = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
    if (!run.isEmpty() && QFileInfo(run).isDir())
      loc.runtimeFolder = WithSlash(run.toStdString()) + "plumadex/";
    else
      loc.runtimeFolder = WithSlash(QDir::tempPath().toStdString()) + "plumadex-" + std::to_string(getuid()) + "/";
  }
  loc.contacts = loc.dataRoot + "Contacts/";
  loc.inbox = loc.dataRoot + "Inbox/";
  loc.icons = loc.dataRoot + "Icons/";
  loc.trash = loc.documents + "TRASH/";
  loc.programFolder = ProgramFolder();
  return loc;
}

void MakeTempFolder(Locations& loc) {
  const std::string sysTemp = WithSlash(QDir::tempPath().toStdString());
  std::string templ = sysTemp + "Plumadex-XXXXXX";
  if (char* made = mkdtemp(templ.data())) {  // mode 0700, unique per run
    loc.tempFolder = WithSlash(made);
    loc.tempFolderCreated = true;
  } else {
    loc.tempFolder = sysTemp;
    loc.tempFolderCreated = false;
  }
}

void RemoveTempFolder(Locations& loc) {
  if (!loc.tempFolderCreated || loc.tempFolder.empty()) return;
  QDir(QString::fromStdString(loc.tempFolder)).removeRecursively();
  loc.tempFolderCreated = false;
}

void MakeDataFolders(const Locations& loc) {
  MakePath(loc.dataRoot);
  const std::string userIni = loc.UserIni();
  struct stat st {};
  if (::stat(userIni.c_str(), &st) != 0) {
    QByteArray bytes;
    QFile templ(QString::fromStdString(loc.UserTemplate()));
    if (templ.open(QIODevice::ReadOnly)) bytes = templ.readAll();
    CreatePrivateFile(userIni, bytes);
  } else if (S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
    ::chmod(userIni.c_str(), st.st_mode & 0700);
  }
  MakeNormalisedFolder(loc.dataRoot, "Contacts");
  MakePath(loc.inbox);
  MakePath(loc.icons);
  MakePath(loc.trash);
}

}  // namespace px
