#include "desk/document_opener.h"

#include "foundation/atomic_file.h"
#include "foundation/message_queue.h"
#include "foundation/strings.h"
#include "platform/process_launch.h"
#include "store/doc_record.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMimeType>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace px::desk {

namespace {

QString Q(const std::string& s) { return QFile::decodeName(QByteArray::fromStdString(s)); }
std::string S(const QString& s) { return QFile::encodeName(s).toStdString(); }

std::string Slash(std::string s) {
  if (!s.empty() && s.back() != '/') s.push_back('/');
  return s;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool WebExtension(const std::string& ext) {
  static const char* kWeb[] = {"htm", "html", "shtml", "mht", "mhtml", "url"};
  for (const char* w : kWeb)
    if (QString::fromStdString(ext).compare(QLatin1String(w), Qt::CaseInsensitive) == 0) return true;
  return false;
}

struct TypeInfo {
  std::string name;
  std::vector<std::string> ancestors;
};

TypeInfo TypeOf(const std::string& path) {
  static const QMimeDatabase db;
  const QMimeType t = db.mimeTypeForFile(Q(path));
  TypeInfo info{t.name().toStdString(), {}};
  for (const QString& a : t.allAncestors()) info.ancestors.push_back(a.toStdString());
  return info;
}

bool IsMarker(const store::DocRecord& r) {
  return (r.ext.size() == 1 && !std::isalnum(static_cast<unsigned char>(r.ext[0]))) ||
         (!r.prefix.empty() && r.prefix != store::kLinkPrefix);
}

// Copies a file without following a link at the target and without replacing anything.
bool CopyFileExclusive(const std::string& from, const std::string& to, std::string* error) {
  const int err = CopyFileNoReplace(from, to, /*sync=*/false, /*followLink=*/true);  // the original stays
  if (err) *error = std::strerror(err);
  return err == 0;
}

}  // namespace

DocumentOpener::DocumentOpener(OpenerServices services, platform::AppRegistry apps,
                               std::unique_ptr<platform::WindowProbe> probe)
    : svc_(std::move(services)), apps_(std::move(apps)), probe_(std::move(probe)) {}

DocumentOpener::~DocumentOpener() = default;

std::int64_t DocumentOpener::SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool DocumentOpener::IsOpen(const std::string& path) const {
  const auto slash = path.rfind('/');
  return docs_.Find(path.substr(0, slash + 1), path.substr(slash + 1)) != nullptr;
}

bool DocumentOpener::AnyOpenBelow(const std::string& folder) const {
  for (const OpenRecord& r : docs_.Records())
    if (r.folder.rfind(folder, 0) == 0) return true;
  return false;
}

void DocumentOpener::BringForward(const std::string& path) {
  const auto slash = path.rfind('/');
  const OpenRecord* r = docs_.Find(path.substr(0, slash + 1), path.substr(slash + 1));
  if (r && r->window && probe_) probe_->Activate(r->window);
}

void DocumentOpener::queue(int kind, const std::string& text) {
  if (svc_.messages) svc_.messages->QueueMessage(static_cast<MessageKind>(kind), text);
}

platform::ExecCommand DocumentOpener::CommandFor(const platform::DesktopEntry& entry, const std::string& path) {
  platform::ExecCommand cmd = platform::ExpandExec(entry, {path});
  if (cmd.ok() && entry.terminal) cmd.argv.insert(cmd.argv.begin(), {"x-terminal-emulator", "-e"});
  return cmd;
}

bool DocumentOpener::OpenDocument(const store::DocRecord& r, bool restricted) {
  if (IsMarker(r)) return false;
  const std::string path = r.FilePath();
  if (const OpenRecord* open = docs_.Find(r.folder, r.name)) {
    if (probe_ && open->window) probe_->Activate(open->window);
    return true;
  }
  const QFileInfo fi(Q(path));
  if (!fi.exists()) {
    queue(static_cast<int>(MessageKind::Warning),
          "Sorry, but this file is absent on disk. Perhaps somebody deleted or moved it without using Plumadex.");
    return true;
  }
  const TypeInfo type = TypeOf(path);
  OpenRequest req;
  req.ext = r.ext;
  req.flags = r.flags;
  req.executable = fi.isFile() && fi.isExecutable();
  req.runnableType = IsRunnableMimeType(type.name, type.ancestors);
  const OpenDecision d = DecideOpen(req);
  switch (d.route) {
    case OpenRoute::Ignore:
      return false;
    case OpenRoute::Refuse:
      if (svc_.askYesNo && svc_.askYesNo(d.message + "\r\rWould you like to see it as text instead?")) return OpenAsText(r);
      if (!svc_.askYesNo) queue(static_cast<int>(MessageKind::Warning), d.message);
      return true;
    case OpenRoute::InternalText:
    case OpenRoute::InternalHtml:
      if (svc_.openInMessageWindow && svc_.openInMessageWindow(r)) return true;
      break;  // no message window: the desktop's program for the type
    case OpenRoute::ContactCard:
      break;  // the contacts part has offered it already; it opens like any other file
    case OpenRoute::RunProgram: {
      std::vector<std::string> argv;
      if (r.ext == "desktop") {
        QFile f(Q(path));
        std::optional<platform::DesktopEntry> e;
        if (f.open(QIODevice::ReadOnly)) e = platform::ParseDesktopEntry(f.read(1 << 20).toStdString());
        if (!e) {
          queue(static_cast<int>(MessageKind::Error), "An error occurred while running program \"" + r.name + "\"");
          return true;
        }
        const platform::ExecCommand cmd = CommandFor(*e, {});
        if (!cmd.ok()) {
          queue(static_cast<int>(MessageKind::Error), cmd.error);
          return true;
        }
        argv = cmd.argv;
      } else {
        argv = {path};
      }
      const platform::LaunchResult lr = platform::SpawnProgram(argv, r.folder);
      if (!lr.ok()) queue(static_cast<int>(MessageKind::Error), "An error occurred while running program \"" + argv[0] + "\"");
      return true;
    }
    case OpenRoute::Associated:
      break;
  }

  std::optional<platform::DesktopEntry> entry = apps_.DefaultFor(type.name, type.ancestors);
  if (!entry) {
    const std::string ext = r.ext.empty() ? std::string() : "." + r.ext;
    queue(static_cast<int>(MessageKind::Information), "No program on this computer is set up to open files of type *" + ext);
    return OpenWith(r, restricted);
  }
  return OpenWithEntry(r, *entry, restricted, !WebExtension(r.ext));
}

bool DocumentOpener::OpenAsText(const store::DocRecord& r) {
  if (svc_.openInMessageWindow) {
    store::DocRecord asText = r;
    asText.flags &= ~store::dfUnread;
    return svc_.openInMessageWindow(asText);
  }
  return false;
}

bool DocumentOpener::OpenWith(const store::DocRecord& r, bool restricted) {
  if (!svc_.chooseApplication) return true;
  const std::string path = r.FilePath();
  const TypeInfo type = TypeOf(path);
  const std::vector<platform::DesktopEntry> forType = apps_.AppsFor(type.name, type.ancestors);
  const std::optional<platform::DesktopEntry> chosen =
      svc_.chooseApplication(r.name, type.name, forType, apps_.OtherApps(forType));
  if (!chosen) return true;
  return OpenWithProgram(r, *chosen, restricted);
}

bool DocumentOpener::OpenWithProgram(const store::DocRecord& r, const platform::DesktopEntry& entry, bool restricted) {
  const std::string path = r.FilePath();
  const TypeInfo type = TypeOf(path);
  // A program that came as mail is still never run, whatever runs it.
  OpenRequest req;
  req.ext = r.ext;
  req.flags = r.flags;
  req.executable = QFileInfo(Q(path)).isExecutable();
  req.runnableType = IsRunnableMimeType(type.name, type.ancestors);
  if (DecideOpen(req).route == OpenRoute::Refuse) {
    queue(static_cast<int>(MessageKind::Warning), DecideOpen(req).message);
    return true;
  }
  return OpenWithEntry(r, entry, restricted, !WebExtension(r.ext));
}

std::string DocumentOpener::MakePrivateCopy(const std::string& source, std::string* error) {
  QDir().mkpath(Q(svc_.privateFolder));
  // One private folder per copy keeps the file's own name, which the program shows in its title.
  const QString dir = QDir(Q(svc_.privateFolder)).filePath(QStringLiteral("open-XXXXXX"));
  QByteArray tmpl = QFile::encodeName(dir);
  if (!::mkdtemp(tmpl.data())) {
    *error = std::strerror(errno);
    return {};
  }
  const std::string copy = tmpl.toStdString() + "/" + BaseName(source);
  if (!CopyFileExclusive(source, copy, error)) {
    ::rmdir(tmpl.constData());
    return {};
  }
  // Remember where it came from, for a run that ends without closing it.
  // Without it a copy left by a crash is kept as a new document.
  (void)SaveFileAtomic(tmpl.toStdString() + "/.origin", source);
  return copy;
}

bool DocumentOpener::OpenWithEntry(const store::DocRecord& r, const platform::DesktopEntry& entry, bool restricted,
                                   bool watch) {
  OpenRecord rec;
  rec.kind = RecordKind::Document;
  rec.program = entry.name.empty() ? entry.id : entry.name;
  rec.folder = r.folder;
  rec.fileName = r.name;
  rec.title = r.title;
  rec.ext = r.ext;
  rec.restrictedFolder = restricted;
  rec.watchWindow = watch;
  const bool mailEntry = svc_.hasMailEntry ? svc_.hasMailEntry(r.folder, r.name) : false;
  rec.editableInPlace = EditableInPlace(restricted, r.flags, mailEntry);
  const std::string path = r.FilePath();
  if (rec.editableInPlace) {
    rec.openedPath = path;
  } else {
    std::string error;
    rec.openedPath = MakePrivateCopy(path, &error);
    if (rec.openedPath.empty()) {
      queue(static_cast<int>(MessageKind::Error), "Cannot copy " + path + "\r\rError: " + error);
      return true;
    }
  }
  rec.stamp = StampOf(rec.openedPath);
  return launch(std::move(rec), entry);
}

bool DocumentOpener::launch(OpenRecord rec, const platform::DesktopEntry& entry) {
  const platform::ExecCommand cmd = CommandFor(entry, rec.openedPath);
  if (!cmd.ok()) {
    queue(static_cast<int>(MessageKind::Error), cmd.error);
    finish({std::move(rec), false});
    return true;
  }
  const platform::LaunchResult lr = platform::SpawnProgram(cmd.argv, rec.folder);
  if (!lr.ok()) {
    queue(static_cast<int>(MessageKind::Error), "An error occurred while running program \"" + rec.program + "\"");
    finish({std::move(rec), false});
    return true;
  }
  rec.pid = lr.pid;
  rec.startedMs = SteadyNowMs();
  docs_.Add(std::move(rec));
  return true;
}

void DocumentOpener::OnRunTimer(std::int64_t nowMs) {
  for (const OpenRecords::Closed& c : docs_.Tick(probe_.get(), nowMs)) finish(c);
}

void DocumentOpener::finish(const OpenRecords::Closed& closed) {
  const OpenRecord& r = closed.record;
  const bool privateCopy = r.openedPath.rfind(svc_.privateFolder, 0) == 0;
  const CloseOutcome o = DecideClose(r, StampOf(r.openedPath), svc_.documentsName);
  bool keepCopy = false;
  switch (o.action) {
    case CloseAction::Nothing:
      break;
    case CloseAction::ShowNewDate:
      if (svc_.changedInPlace) svc_.changedInPlace(r.folder, r.fileName);
      break;
    case CloseAction::StoreAsNew: {
      for (const std::string& m : o.messages) queue(static_cast<int>(MessageKind::Information), m);
      std::optional<std::string> title = svc_.askName ? svc_.askName(r.title) : std::optional<std::string>(r.title);
      if (!title || title->empty()) break;  // cancelled: the original stays as it was
      const std::string folder = o.intoDocumentsFolder ? svc_.documentsFolder : r.folder;
      // A failed store keeps the changed copy where it is, for the next start to offer again.
      keepCopy = !(svc_.storeNew && svc_.storeNew(r.openedPath, folder, *title, true));
      break;
    }
  }
  if (privateCopy && !keepCopy) {
    QDir(QFileInfo(Q(r.openedPath)).absolutePath()).removeRecursively();
  } else if (!privateCopy && r.kind == RecordKind::NewDocument && o.action == CloseAction::Nothing) {
    QFile::remove(Q(r.openedPath));
  }
}

void DocumentOpener::RecoverLeftovers() {
  QDir dir(Q(svc_.privateFolder));
  for (const QFileInfo& sub : dir.entryInfoList({QStringLiteral("open-*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
    QFile originFile(sub.filePath() + QStringLiteral("/.origin"));
    std::string origin;
    if (originFile.open(QIODevice::ReadOnly)) origin = originFile.readAll().toStdString();
    originFile.close();
    bool keep = false;
    for (const QFileInfo& f : QDir(sub.filePath()).entryInfoList(QDir::Files)) {
      const std::string copy = S(f.filePath());
      // Same bytes as the original: nothing to keep.
      QFile a(f.filePath()), b(Q(origin));
      bool same = false;
      if (a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.size() == b.size()) {
        same = true;
        while (same && !a.atEnd()) same = a.read(1 << 16) == b.read(1 << 16);
      }
      if (same) continue;
      const std::string title = QFileInfo(f.fileName()).completeBaseName().toStdString();
      keep = !(svc_.storeNew && svc_.storeNew(copy, svc_.documentsFolder, title, true));
    }
    if (!keep) QDir(sub.filePath()).removeRecursively();
  }
}

std::vector<NewDocumentTemplate> DocumentOpener::Templates() const {
  std::vector<NewDocumentTemplate> out;
  out.push_back({"Text Document", "txt", ""});
  if (svc_.templatesFolder.empty()) return out;
  QDirIterator it(Q(svc_.templatesFolder), QDir::Files | QDir::NoDotAndDotDot);
  std::vector<NewDocumentTemplate> found;
  while (it.hasNext()) {
    const QFileInfo fi(it.next());
    if (fi.fileName().startsWith(QLatin1Char('.'))) continue;
    found.push_back({fi.completeBaseName().toStdString(), fi.suffix().toStdString(), S(fi.filePath())});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  out.insert(out.end(), found.begin(), found.end());
  return out;
}

bool DocumentOpener::NewDocument(const NewDocumentTemplate& t, const std::string& folder, bool restricted,
                                 const std::string& now) {
  if (restricted) {
    queue(static_cast<int>(MessageKind::Warning), "Sorry, but you cannot create new files in this folder.");
    return false;
  }
  // Made in the private folder (hidden from listings) and stored when it was changed.
  std::string error;
  QDir().mkpath(Q(svc_.privateFolder));
  QByteArray tmpl = QFile::encodeName(QDir(Q(svc_.privateFolder)).filePath(QStringLiteral("open-XXXXXX")));
  if (!::mkdtemp(tmpl.data())) return false;
  const std::string title = "New document " + now;
  const std::string path = tmpl.toStdString() + "/" + SafeFileName(title, 200) + (t.ext.empty() ? "" : "." + t.ext);
  bool made;
  if (t.path.empty()) {
    made = !PlaceNewFile(tmpl.toStdString(), {}, [&path](int) { return BaseName(path); }, nullptr, 1).empty();
  } else {
    made = CopyFileExclusive(t.path, path, &error);
  }
  if (!made) {
    QDir(QString::fromLocal8Bit(tmpl)).removeRecursively();
    queue(static_cast<int>(MessageKind::Error), "Cannot create " + path);
    return false;
  }
  store::DocRecord r;
  r.folder = Slash(tmpl.toStdString());
  r.name = BaseName(path);
  r.title = title;
  r.ext = t.ext;
  const TypeInfo type = TypeOf(path);
  std::optional<platform::DesktopEntry> entry = apps_.DefaultFor(type.name, type.ancestors);
  if (!entry && svc_.chooseApplication) {
    const auto forType = apps_.AppsFor(type.name, type.ancestors);
    entry = svc_.chooseApplication(r.name, type.name, forType, apps_.OtherApps(forType));
  }
  if (!entry) {
    QDir(QString::fromLocal8Bit(tmpl)).removeRecursively();
    return false;
  }
  OpenRecord rec;
  rec.kind = RecordKind::NewDocument;
  rec.program = entry->name;
  rec.folder = folder;
  rec.fileName = r.name;
  rec.title = title;
  rec.ext = t.ext;
  rec.openedPath = path;
  rec.editableInPlace = false;
  rec.stamp = StampOf(path);
  return launch(std::move(rec), *entry);
}

bool DocumentOpener::Print(const store::DocRecord& r) {
  const std::string path = r.FilePath();
  const TypeInfo type = TypeOf(path);
  if (!LpPrints(type.name, type.ancestors) || QStandardPaths::findExecutable(QStringLiteral("lp")).isEmpty()) {
    const std::string ext = r.ext.empty() ? std::string() : "." + r.ext;
    queue(static_cast<int>(MessageKind::Information), "No program on this computer is set up to print files of type *" + ext);
    return false;
  }
  const platform::LaunchResult lr = platform::SpawnProgram(PrintCommand(path));
  if (!lr.ok()) {
    queue(static_cast<int>(MessageKind::Error), "Cannot print file. Error code " + lr.error);
    return false;
  }
  return true;
}

}  // namespace px::desk
