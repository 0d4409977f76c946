// plumadex-cli copy | move | trash | delete | rename | store: the document operations, headless.
#include "app/cli_commands.h"

#include "foundation/locations.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "incoming/mail_sort.h"
#include "store/collision_choice.h"
#include "store/doc_operations.h"
#include "store/doc_record.h"
#include "store/index_entry.h"
#include "store/index_file.h"
#include "store/leftover_sweep.h"
#include "store/run_mark.h"
#include "store/move_journal.h"
#include "store/tree_ops.h"
#include "store/unread_list.h"

#include <ctime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace px::cli {

namespace {

using namespace px::store;

// Messages go to stderr, one per "box".
class ConsolePresenter final : public MessagePresenter {
public:
  void ShowBox(MessageKind kind, const std::string& text) override {
    std::string t = text;
    for (auto& c : t)
      if (c == '\r') c = '\n';
    const char* what = kind == MessageKind::Error ? "error" : kind == MessageKind::Warning ? "warning" : "note";
    PrintErr("plumadex-cli: %s: %s\n", what, t.c_str());
  }
  void CloseBox() override {}
};

std::string absolute(const std::string& path) {
  QString abs = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
  return QDir::cleanPath(abs).toStdString();
}

std::string folderOf(const std::string& absPath) {
  const size_t s = absPath.rfind('/');
  return absPath.substr(0, s + 1);
}

std::string nameOf(const std::string& absPath) {
  const size_t s = absPath.rfind('/');
  return absPath.substr(s + 1);
}

std::string slashed(std::string p) {
  if (!p.empty() && p.back() != '/') p += '/';
  return p;
}

// Everything one command needs: locations, lists, sent.ini, the index registry.
struct Store {
  Locations loc = ComputeLocations();
  ConsolePresenter presenter;
  MessageQueue messages{&presenter};
  IniRegistry registry;
  RandomSource random;
  UnreadList unread;
  const time_t runStart = std::time(nullptr);
  std::unique_ptr<RunMark> mark;  // this run's mark: the next run knows it ended well
  std::unique_ptr<TPXIniBase> sent;
  std::unique_ptr<FixedCollisionResolver> resolver;
  // The command line has no open documents, Quickboard or pending list; moved and renamed
  // folders take their sorting rules along.
  NoOpenDocuments noOpenDocs;
  NoQuickboard noQuickboard;
  incoming::MailSortRules rules;
  NoPendingRefresh noPending;
  // Index handles kept open while the items are read and the operation runs (read once).
  std::map<std::string, std::unique_ptr<TPXIniFile>> open;

  explicit Store(CollisionAction onCollision) {
    // No event loop and no timers here: a message is printed as soon as it is queued.
    messages.SetWakeUp([this] { messages.ShowQueuedMessages(); });
    MakeDataFolders(loc);
    // What an earlier run left behind when it was stopped half-way: batches first, so that a
    // document moved before the stop gets its entry, then the parked and temporary files.
    RecoverJournals(JournalFolderOf(loc.dataRoot), registry);
    mark = std::make_unique<RunMark>(loc.dataRoot, runStart);
    SweepAfterStoppedRuns(loc, registry, *mark, runStart);
    unread.Load(loc.UnreadList());
    rules.SetMessages(&messages);
    rules.SetDocumentsFolder(loc.documents);
    (void)rules.Load(loc.dataRoot + std::string(incoming::kMailSortFile));
    sent = std::make_unique<TPXIniBase>(loc.SentIni());
    resolver = std::make_unique<FixedCollisionResolver>(onCollision);
  }

  TPXIniFile& index(const std::string& folder) {
    auto& slot = open[folder];
    if (!slot) slot = std::make_unique<TPXIniFile>(registry, IndexPathOf(folder));
    return *slot;
  }

  OpServices services() {
    OpServices s;
    s.registry = &registry;
    s.random = &random;
    s.messages = &messages;
    s.unread = &unread;
    s.sent = sent.get();
    s.documentsFolder = loc.documents;
    s.trashFolder = loc.trash;
    s.contactsFolder = loc.contacts;
    s.journalFolder = JournalFolderOf(loc.dataRoot);
    return s;
  }
  OpCollaborators collaborators() {
    return {*resolver, noOpenDocs, noQuickboard, rules, noPending};
  }

  // The current item for a path, from the index entry of its plain name.
  bool item(const std::string& path, OpItem& it) {
    const std::string abs = absolute(path);
    if (!PathExists(abs)) {
      PrintErr("plumadex-cli: %s: no such file or folder\n", path.c_str());
      return false;
    }
    it = OpItem{};
    it.folder = folderOf(abs);
    it.name = nameOf(abs);
    it.refFolder = it.folder;
    const bool dir = IsDirectory(abs);
    TPXIniFile& ix = index(it.folder);
    const std::string section = dir ? it.name + "." : it.name;
    it.ext = dir ? std::string() : ExtensionOf(it.name);
    it.title = ix.ReadString(section, "Title", "");
    if (it.title.empty()) it.title = dir ? it.name : StripExtension(it.name);
    it.flags = store::ReadEntryFlags(ix, section, 0);
    it.charset = ix.ReadString(section, "Charset", "");
    it.address = ix.ReadString(section, "Address", "");
    it.msgId = ix.ReadString(section, "MsgID", "");
    it.sticker = ix.ReadString(section, "Sticker", "");
    return true;
  }

  int finish(size_t done, size_t total, size_t skipped) {
    int status = done == total ? 0 : 1;
    // The operation saved its own changes; a handle that still has some to save must tell.
    for (auto& [f, h] : open) {
      if (const FileStatus st = h->Release(); !st.ok()) {
        messages.QueueMessage(MessageKind::Error, st.message);
        status = 1;
      }
    }
    open.clear();
    FileStatus us = unread.Save(loc.UnreadList());
    if (!us.ok()) {
      messages.QueueMessage(MessageKind::Error, us.message);
      status = 1;
    }
    FileStatus ss = sent->UpdateFile();
    if (!ss.ok()) {
      messages.QueueMessage(MessageKind::Error, ss.message);
      status = 1;
    }
    if (skipped) PrintErr("plumadex-cli: %zu skipped\n", skipped);
    return status;
  }
};

int usageError(const char* text) {
  PrintErr("plumadex-cli: %s\n", text);
  return 2;
}

// Options common to the commands; returns the remaining (positional) arguments.
struct Options {
  bool replace = false;
  bool move = false;
  bool quiet = false;
  std::string title, into;
  std::vector<std::string> rest;
};

bool parse(const Args& args, Options& o) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--replace") o.replace = true;
    else if (a == "--move") o.move = true;
    else if (a == "--quiet") o.quiet = true;
    else if ((a == "--title" || a == "--into") && i + 1 < args.size()) (a == "--title" ? o.title : o.into) = args[++i];
    else if (a == "--") {
      o.rest.insert(o.rest.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') return false;
    else o.rest.push_back(a);
  }
  return true;
}

int runTransfer(const Args& args, int code, bool toTrash) {
  Options o;
  if (!parse(args, o)) return usageError("unknown option");
  const bool targetGiven = toTrash || !o.into.empty();
  if (o.rest.size() < (targetGiven ? 1u : 2u)) return usageError("missing arguments");
  Store store(o.replace ? CollisionAction::Replace : CollisionAction::Rename);
  std::string target;
  if (toTrash) {
    target = store.loc.trash;
    QDir().mkpath(QString::fromStdString(target));
  } else {
    if (o.into.empty()) {
      o.into = o.rest.back();
      o.rest.pop_back();
    }
    target = slashed(absolute(o.into));
    if (!IsDirectory(target)) return usageError("the target is not a folder");
  }
  std::vector<OpItem> items;
  items.reserve(o.rest.size());
  bool bad = false;
  for (const auto& p : o.rest) {
    OpItem it;
    if (!store.item(p, it)) {
      bad = true;
      continue;
    }
    it.targetFolder = target;
    items.push_back(std::move(it));
  }
  DocOperations ops(store.services(), store.collaborators());
  size_t done = ops.RunOnSelection(code, items, [&](OpItem& it, bool ok) {
    if (ok && !o.quiet) std::printf("%s%s\n", it.folder.c_str(), it.name.c_str());
  });
  int st = store.finish(done, items.size(), ops.Skipped());
  return bad ? 1 : st;
}

}  // namespace

int runCopy(const Args& args) { return runTransfer(args, opCopy, false); }
int runMove(const Args& args) { return runTransfer(args, opMove, false); }
int runTrash(const Args& args) { return runTransfer(args, opMove, true); }

int runDelete(const Args& args) {
  Options o;
  if (!parse(args, o) || o.rest.empty()) return usageError("usage: delete PATH...");
  Store store(CollisionAction::Rename);
  DocOperations ops(store.services(), store.collaborators());
  size_t done = 0, total = 0;
  bool bad = false;
  for (const auto& p : o.rest) {
    OpItem it;
    if (!store.item(p, it)) {
      bad = true;
      continue;
    }
    ++total;
    const bool folder = IsDirectory(it.Path());
    std::vector<OpItem> one{std::move(it)};
    done += ops.RunOnSelection(folder ? opDeleteFolder : opDelete, one);
  }
  int st = store.finish(done, total, 0);
  return bad ? 1 : st;
}

int runRename(const Args& args) {
  Options o;
  if (!parse(args, o) || o.rest.size() != 2) return usageError("usage: rename PATH NEW-TITLE");
  Store store(CollisionAction::Rename);
  OpItem it;
  if (!store.item(o.rest[0], it)) return 1;
  const std::string refusal = RenameRefusal(it.folder, it.name, o.rest[1], it.ext);
  if (!refusal.empty()) {
    store.messages.QueueMessage(MessageKind::Warning, refusal);
    store.finish(0, 1, 0);
    return 1;
  }
  it.newTitle = EditedTitle(it, o.rest[1]);
  DocOperations ops(store.services(), store.collaborators());
  std::vector<OpItem> one{std::move(it)};
  size_t done = ops.RunOnSelection(opRename, one);
  if (done && !o.quiet) std::printf("%s%s\n", one[0].folder.c_str(), one[0].name.c_str());
  return store.finish(done, 1, 0);
}

int RunStore(const Args& args) {
  Options o;
  if (!parse(args, o) || o.rest.empty() || o.into.empty())
    return usageError("usage: store FILE... --into FOLDER [--title TITLE] [--move] [--replace]");
  Store store(o.replace ? CollisionAction::Replace : CollisionAction::Rename);
  const std::string target = slashed(absolute(o.into));
  if (!IsDirectory(target)) return usageError("the target is not a folder");
  std::vector<OpItem> items;
  for (const auto& p : o.rest) {
    OpItem it;
    it.sourceFile = absolute(p);
    it.folder = target;
    it.targetFolder = target;
    it.title = o.title.empty() ? StripExtension(nameOf(it.sourceFile)) : o.title;
    it.ext = ExtensionOf(nameOf(it.sourceFile));
    items.push_back(std::move(it));
  }
  DocOperations ops(store.services(), store.collaborators());
  size_t done = ops.RunOnSelection(o.move ? opStoreMove : opStoreCopy, items, [&](OpItem& it, bool ok) {
    if (ok && !o.quiet) std::printf("%s%s\n", it.folder.c_str(), it.name.c_str());
  });
  return store.finish(done, items.size(), ops.Skipped());
}

}  // namespace px::cli
