#include "store/doc_operations.h"

#include "foundation/address.h"
#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/file_errors.h"
#include "store/index_value.h"
#include "store/ini_file.h"
#include "store/newmail_list.h"
#include "store/tree_ops.h"
#include "store/unique_names.h"
#include "store/unread_list.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace px::store {

namespace {

using Clock = std::chrono::steady_clock;
// A long run saves the indexes it changed at this interval, so a crash loses little and a
// failed save has few documents to put back.
constexpr auto kCheckpointEvery = std::chrono::seconds(2);

std::string slashed(std::string p) {
  if (!p.empty() && p.back() != '/') p += '/';
  return p;
}

std::string parentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t s = p.rfind('/');
  return s == std::string::npos ? std::string() : p.substr(0, s + 1);
}

std::string baseNameOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t s = p.rfind('/');
  return s == std::string::npos ? p : p.substr(s + 1);
}

bool isBelow(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() >= folder.size() &&
         path.compare(0, folder.size(), folder) == 0;
}

// The value of key in raw section lines ("" when absent); the first line wins, as on reading.
std::string valueOf(const StringList& lines, std::string_view key) {
  for (const auto& l : lines) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    if (SameText(Trim(std::string_view(l).substr(0, eq)), key)) return l.substr(eq + 1);
  }
  return {};
}

int flagsOf(const StringList& lines, int def) {
  const std::string v = Trim(valueOf(lines, "Flags"));
  if (v.empty()) return def;
  try {
    return std::stoi(v);
  } catch (...) {
    return 0;
  }
}

// The title used to make a file name: text in another charset is converted first.
std::string namingTitle(const std::string& title, const std::string& charset) {
  if (charset.empty() || IsUnicodeCharset(charset)) return title;
  return DecodeFromCharset(title, charset);
}
// The title stored back into the index, in the entry's charset.
std::string storedTitle(const std::string& utf8, const std::string& original,
                        const std::string& charset) {
  if (charset.empty() || IsUnicodeCharset(charset)) return utf8;
  if (DecodeFromCharset(original, charset) == utf8) return original;
  return EncodeToCharset(utf8, charset);
}

// ExcludeTo: a comma list of bare addresses.
std::string JoinExcludeTo(const StringList& list) {
  std::string out;
  for (const auto& e : list) {
    if (!out.empty()) out += ',';
    out += e;
  }
  return out;
}

}  // namespace

// ---- The state of one run: open indexes, folder name caches, the undo log. ----

struct DocOperations::Run {
  struct Index {
    std::unique_ptr<TPXIniFile> ini;
    bool byNameBuilt = false;
    // folded file name -> the sections that describe that file (any prefix)
    std::unordered_map<std::string, std::vector<std::string>> byName;

    void build() {
      if (byNameBuilt) return;
      byNameBuilt = true;
      ini->ForEachSection([&](std::string_view name, std::span<const std::string_view>) {
        auto split = SplitTagPrefix(name);
        byName[FoldCase(split.rest)].emplace_back(name);
      });
    }
    std::vector<std::string> sectionsOf(std::string_view fileName) {
      build();
      auto it = byName.find(FoldCase(fileName));
      return it == byName.end() ? std::vector<std::string>{} : it->second;
    }
    void noteAdded(const std::string& section) {
      if (!byNameBuilt) return;
      auto& v = byName[FoldCase(SplitTagPrefix(section).rest)];
      for (const auto& s : v)
        if (SameText(s, section)) return;
      v.push_back(section);
    }
    void noteErased(const std::string& section) {
      if (!byNameBuilt) return;
      auto it = byName.find(FoldCase(SplitTagPrefix(section).rest));
      if (it == byName.end()) return;
      auto& v = it->second;
      for (size_t i = 0; i < v.size(); ++i)
        if (SameText(v[i], section)) {
          v.erase(v.begin() + static_cast<long>(i));
          break;
        }
      if (v.empty()) byName.erase(it);
    }
  };

  struct Undo {
    enum Kind {
      FileMoved, FileCreated, Section, Unread, SentSection, FolderMoved, FolderCopied, TwinRemoved
    } kind;
    // FileMoved, FolderMoved, FolderCopied: from, to; FileCreated: path; Section: folder, name;
    // SentSection: -, name; TwinRemoved: the removed file, its byte-identical twin
    std::string a, b;
    StringList lines;      // Section, SentSection: the lines before (empty: no section)
    bool existed = false;  // Section, SentSection: the section existed
    int64_t delta = 0;     // Unread: folder a changed by delta
  };

  DocOperations& ops;
  CollisionChoice choice;
  bool several = false;
  std::map<std::string, std::unique_ptr<Index>> indexes;
  std::map<std::string, std::unique_ptr<FolderNames>> names;
  std::vector<Undo> undo;
  // Deleted documents wait under a hidden name until their index is saved, so a failed save
  // can still bring them back.
  std::vector<std::string> doomed;
  Clock::time_point lastSave = Clock::now();
  size_t sinceSave = 0;
  bool failedSave = false;

  Run(DocOperations& o, CollisionResolver* r) : ops(o), choice(r) {}

  Index& index(const std::string& folder) {
    auto& slot = indexes[folder];
    if (!slot) {
      slot = std::make_unique<Index>();
      slot->ini = std::make_unique<TPXIniFile>(*ops.svc_.registry, IndexPathOf(folder));
    }
    return *slot;
  }
  FolderNames& namesOf(const std::string& folder) {
    auto& slot = names[folder];
    if (!slot) slot = std::make_unique<FolderNames>(folder);
    return *slot;
  }

  StringList lines(const std::string& folder, const std::string& section) {
    StringList out;
    index(folder).ini->ReadSectionValues(section, out);
    return out;
  }
  void remember(const std::string& folder, const std::string& section) {
    Undo u{Undo::Section, folder, section, {}, false, 0};
    Index& ix = index(folder);
    ix.ini->ReadSectionValues(section, u.lines);
    u.existed = !u.lines.empty() || [&] {
      // A section without lines (a contact reference): look it up among the known names.
      for (const auto& s : ix.sectionsOf(SplitTagPrefix(section).rest))
        if (SameText(s, section)) return true;
      return false;
    }();
    undo.push_back(std::move(u));
  }
  void erase(const std::string& folder, const std::string& section) {
    Index& ix = index(folder);
    remember(folder, section);
    ix.ini->EraseSection(section);
    ix.noteErased(section);
  }
  void write(const std::string& folder, const std::string& section, std::string_view key,
             std::string_view value) {
    Index& ix = index(folder);
    ix.ini->WriteString(section, key, value);
    ix.noteAdded(section);
  }
  void writeLines(const std::string& folder, const std::string& section, const StringList& ls) {
    for (const auto& l : ls) {
      const size_t eq = l.find('=');
      if (eq == std::string::npos || eq == 0) continue;
      write(folder, section, std::string_view(l).substr(0, eq), std::string_view(l).substr(eq + 1));
    }
  }
  // An empty section (a contact reference carries no keys).
  void writeEmpty(const std::string& folder, const std::string& section) {
    Index& ix = index(folder);
    ix.ini->WriteString(section, "Flags", "0");
    ix.ini->DeleteKey(section, "Flags");
    ix.noteAdded(section);
  }
  void deleteKey(const std::string& folder, const std::string& section, std::string_view key) {
    index(folder).ini->DeleteKey(section, key);
  }
  void unread(const std::string& folder, int64_t delta) {
    if (!ops.svc_.unread || delta == 0) return;
    ops.svc_.unread->ChangeUnreadCount(folder, delta, true);
    undo.push_back(Undo{Undo::Unread, folder, {}, {}, false, delta});
  }
  // sent.ini is saved with the indexes, so its changes are put back with theirs.
  void sentWrite(const std::string& section, std::string_view key, std::string_view value) {
    TPXCustomIni* sent = ops.svc_.sent;
    if (!sent) return;
    bool noted = false;
    for (const auto& u : undo)
      if (u.kind == Undo::SentSection && u.b == section) noted = true;
    if (!noted) {
      Undo u{Undo::SentSection, {}, section, {}, false, 0};
      sent->ReadSectionValues(section, u.lines);
      u.existed = !u.lines.empty();
      undo.push_back(std::move(u));
    }
    sent->WriteString(section, key, value);
  }
  void folderMoved(const std::string& from, const std::string& to) {
    undo.push_back(Undo{Undo::FolderMoved, from, to, {}, false, 0});
  }
  void folderCopied(const std::string& from, const std::string& to) {
    undo.push_back(Undo{Undo::FolderCopied, from, to, {}, false, 0});
  }
  void fileMoved(const std::string& from, const std::string& to) {
    undo.push_back(Undo{Undo::FileMoved, from, to, {}, false, 0});
  }
  void twinRemoved(const std::string& path, const std::string& twin) {
    undo.push_back(Undo{Undo::TwinRemoved, path, twin, {}, false, 0});
  }
  void fileCreated(const std::string& path) {
    undo.push_back(Undo{Undo::FileCreated, path, {}, {}, false, 0});
  }

  // Puts back everything since the last successful save.
  void rollback() {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
      switch (it->kind) {
        case Undo::FileMoved:
          MoveEntry(it->b, it->a);
          break;
        case Undo::FileCreated:
          if (IsDirectory(it->a)) DeleteTree(it->a, false);
          else ::unlink(it->a.c_str());
          break;
        case Undo::Section: {
          auto& ini = *index(it->a).ini;
          ini.EraseSection(it->b);
          if (it->existed) {
            if (it->lines.empty()) {
              ini.WriteString(it->b, "Flags", "0");
              ini.DeleteKey(it->b, "Flags");
            }
            for (const auto& l : it->lines) {
              const size_t eq = l.find('=');
              if (eq != std::string::npos && eq > 0)
                ini.WriteString(it->b, std::string_view(l).substr(0, eq),
                                std::string_view(l).substr(eq + 1));
            }
          }
          break;
        }
        case Undo::Unread:
          if (ops.svc_.unread) ops.svc_.unread->ChangeUnreadCount(it->a, -it->delta, true);
          break;
        case Undo::SentSection: {
          TPXCustomIni* sent = ops.svc_.sent;
          if (!sent) break;
          sent->EraseSection(it->b);
          for (const auto& l : it->lines) {
            const size_t eq = l.find('=');
            if (eq != std::string::npos && eq > 0)
              sent->WriteString(it->b, std::string_view(l).substr(0, eq),
                                std::string_view(l).substr(eq + 1));
          }
          break;
        }
        case Undo::FolderMoved:
          if (ops.svc_.unread) ops.svc_.unread->MoveFolder(it->b, it->a);
          if (ops.svc_.newMail) ops.svc_.newMail->MoveFolder(it->b, it->a);
          break;
        case Undo::TwinRemoved:
          CopyFileKeepTime(it->b, it->a);
          break;
        case Undo::FolderCopied:
          if (ops.svc_.unread) ops.svc_.unread->ResetTree(it->b);
          break;
      }
    }
    undo.clear();
    doomed.clear();
    names.clear();
    for (auto& [f, ix] : indexes) {
      ix->byName.clear();
      ix->byNameBuilt = false;
    }
  }
};

// ---- Free functions ----

OpItem ItemFromSelection(const SelectionRecord& rec, const std::string& contactsFolder) {
  OpItem it;
  it.folder = rec.folder;
  it.name = rec.name;
  it.prefix = rec.prefix;
  it.title = rec.title;
  it.ext = rec.ext;
  it.flags = rec.flags;
  it.address = rec.address;
  it.cc = rec.cc;
  it.bcc = rec.bcc;
  it.to = rec.to;
  it.excludeTo = rec.excludeTo;
  it.msgId = rec.msgId;
  it.charset = rec.charset;
  it.sticker = rec.sticker;
  it.date = rec.date;
  it.row = rec.row;
  it.refFolder = rec.folder;
  it.refPrefix = rec.prefix;
  if (rec.prefix == kLinkPrefix && !rec.target.empty()) {
    it.folder = parentOf(rec.target);
    auto split = SplitTagPrefix(baseNameOf(rec.target));
    it.prefix = split.prefix;
    it.name = split.rest;
  } else if (rec.prefix == kContactRefPrefix) {
    it.folder = contactsFolder;
    it.prefix.clear();
  }
  return it;
}

void MarkOrphanAttachments(const DocRows& rows, std::vector<OpItem>& items) {
  std::unordered_map<std::string, const DocRecord*> messages;  // series base -> part 1 row
  for (const auto& r : rows) {
    if (r.msgId.empty()) continue;
    SeriesId id = ParseSeriesId(r.msgId);
    if (id.part == 1) messages.emplace(id.base, &r);
  }
  if (messages.empty()) return;
  for (auto& it : items) {
    if (it.msgId.empty()) continue;
    SeriesId id = ParseSeriesId(it.msgId);
    if (id.part < 2) continue;
    auto m = messages.find(id.base);
    if (m == messages.end() || m->second->selected) continue;
    const DocRecord& msg = *m->second;
    std::string text;
    if (FILE* f = std::fopen(msg.FilePath().c_str(), "rb")) {
      text.resize(64 * 1024);
      text.resize(std::fread(text.data(), 1, text.size(), f));
      std::fclose(f);
    }
    it.orphanAttachment = true;
    it.messageTitle = msg.title;
    it.messageCharset = msg.charset();
    it.messageText = std::move(text);
  }
}

std::string AttachmentSticker(std::string_view messageTitle, std::string_view messageText,
                              std::string_view charset) {
  StringList lines;
  lines.push_back("Subject: : " + std::string(messageTitle));
  lines.emplace_back();
  std::string text(messageText);
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
      lines.push_back(text.substr(start, i - start));
      if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  while (lines.size() > 2 && Trim(lines.back()).empty()) lines.pop_back();
  return EncodeIndexValue(lines, charset);
}

std::string RenameRefusal(const std::string& folder, std::string_view currentName,
                          std::string_view newTitle, std::string_view ext) {
  std::string name = SafeFileName(newTitle);
  if (!ext.empty()) name += "." + std::string(ext);
  if (SameText(name, currentName)) return {};
  FolderNames names(folder);
  if (!names.Contains(name)) return {};
  return "Sorry, but you cannot rename this file to\r" + name;
}

// ---- DocOperations ----

DocOperations::DocOperations(OpServices services) : svc_(std::move(services)) {
  if (!svc_.registry || !svc_.random) throw std::invalid_argument("DocOperations needs a registry and a random source");
  svc_.documentsFolder = slashed(svc_.documentsFolder);
  svc_.trashFolder = slashed(svc_.trashFolder);
  svc_.contactsFolder = slashed(svc_.contactsFolder);
}

DocOperations::~DocOperations() = default;

void DocOperations::refuse(std::string_view text) {
  if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Warning, text);
}

void DocOperations::absent() {
  if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, kAbsentFileText);
}

bool DocOperations::RunDocOperation(int code, OpItem& item, const std::function<void()>& after) {
  std::vector<OpItem> one{item};
  // Success counts only once the indexes are saved.
  const bool ok = RunOnSelection(code, one) == 1;
  item = one.front();
  if (ok && after) after();
  return ok;
}

size_t DocOperations::RunOnSelection(int code, std::vector<OpItem>& items,
                                     const std::function<void(OpItem&, bool)>& perItem,
                                     const std::function<void()>& after) {
  skipped_ = 0;
  if (code < opCreateFolder || code > opStampContact) {
    if (svc_.messages)
      svc_.messages->QueueMessage(MessageKind::Error,
                                  "Unknown request (" + std::to_string(code) + ")");
    return 0;
  }
  // Files opened from the program belong to the programs showing them.
  if ((code == opStoreCopy || code == opCopy || code == opMove || code == opDelete) &&
      svc_.openDocs) {
    for (const auto& it : items) {
      const std::string p = it.Path();
      if (svc_.openDocs->IsOpen(p)) {
        svc_.openDocs->BringForward(p);
        return 0;
      }
    }
  }
  Run run(*this, svc_.resolver);
  run.several = items.size() > 1;
  const auto started = Clock::now();
  bool busyShown = false;
  bool pendingAmong = false;

  std::string seriesBase;
  if (code == opOutbox) seriesBase = NewUniqueId(*svc_.random);
  size_t done = 0, batchDone = 0;
  bool allOk = true;
  for (size_t i = 0; i < items.size(); ++i) {
    OpItem& it = items[i];
    if (code == opOutbox && it.seriesId.empty())
      it.seriesId = FormatSeriesId(seriesBase, static_cast<int>(i + 1), static_cast<int>(items.size()));
    if ((code == opCopy || code == opMove) && it.orphanAttachment)
      it.sticker = AttachmentSticker(it.messageTitle, it.messageText, it.messageCharset);
    if (!busyShown && svc_.busy && Clock::now() - started >= std::chrono::milliseconds(250)) {
      svc_.busy(true);
      busyShown = true;
    }
    if ((code == opCopy || code == opMove || code == opDelete) && IsPendingFlags(it.flags))
      pendingAmong = true;
    bool ok = false;
    try {
      ok = runOne(run, code, it);
    } catch (const std::exception& e) {
      if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, e.what());
      ok = false;
    }
    if (ok) {
      ++done;
      ++batchDone;
    } else {
      allOk = false;
    }
    if (perItem) perItem(it, ok);
    if (Clock::now() - run.lastSave >= kCheckpointEvery) {
      if (!checkpoint(run)) {
        done -= batchDone;
        allOk = false;
        break;
      }
      batchDone = 0;
    }
  }
  if (!checkpoint(run)) {
    done -= batchDone;
    allOk = false;
  }
  finish(run);
  if (busyShown) svc_.busy(false);
  if ((pendingAmong || code == opOutbox) && svc_.refreshPending) svc_.refreshPending();
  if (svc_.rearmWatch) svc_.rearmWatch();
  if (allOk && after) after();
  return done;
}

bool DocOperations::checkpoint(Run& run) {
  run.lastSave = Clock::now();
  IniStatus failed;
  // sent.ini first: the pending mail it points at must never be lost to an index saved alone.
  if (svc_.sent) failed = svc_.sent->UpdateFile();
  if (failed.ok()) {
    for (auto& [folder, ix] : run.indexes) {
      IniStatus st = ix->ini->UpdateFile();
      if (!st.ok() && failed.ok()) failed = st;
    }
  }
  if (failed.ok()) {
    run.undo.clear();
    for (const auto& p : run.doomed) ::unlink(p.c_str());
    run.doomed.clear();
    return true;
  }
  // An index (or sent.ini) could not be written: put the documents of this batch back where their entries
  // say they are, and write the indexes that were saved back to their former state.
  run.rollback();
  for (auto& [folder, ix] : run.indexes) ix->ini->UpdateFile();
  if (svc_.sent) svc_.sent->UpdateFile();
  if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, failed.message);
  run.failedSave = true;
  return false;
}

void DocOperations::finish(Run& run) {
  for (auto& [folder, ix] : run.indexes) {
    IniStatus st = ix->ini->Release();
    if (!st.ok() && !run.failedSave && svc_.messages)
      svc_.messages->QueueMessage(MessageKind::Error, st.message);
  }
  run.indexes.clear();
  if (svc_.sent) {
    IniStatus st = svc_.sent->UpdateFile();
    if (!st.ok() && !run.failedSave && svc_.messages)
      svc_.messages->QueueMessage(MessageKind::Error, st.message);
  }
}

bool DocOperations::runOne(Run& run, int code, OpItem& it) {
  it.folder = slashed(it.folder);
  if (!it.targetFolder.empty()) it.targetFolder = slashed(it.targetFolder);
  switch (code) {
    case opCreateFolder: return createFolder(run, it);
    case opStoreCopy: return storeFile(run, it, false);
    case opCopy: return transfer(run, it, false);
    case opMove: return transfer(run, it, true);
    case opRename: return renameDoc(run, it);
    case opSetTitle: return setTitle(run, it);
    case opStoreMove: return storeFile(run, it, true);
    case opOutbox: return outbox(run, it);
    case opWriteFlags:
    case opWriteCharset:
    case opWriteSticker: return writeKey(run, it, code);
    case opDelete: return deleteDoc(run, it);
    case opDeleteFolder: return deleteFolder(run, it);
    case opUpdateContact: return updateContact(run, it);
    case opCreateContact: return createContact(run, it);
    case opStampContact: return stampContact(run, it);
  }
  return false;
}

// ---- Copy and move ----

bool DocOperations::transfer(Run& run, OpItem& it, bool move) {
  if (it.targetFolder.empty()) return false;
  const bool contact = IsContactExt(it.ext) &&
                       (it.refPrefix == kContactRefPrefix || isBelow(it.folder, svc_.contactsFolder));
  if (contact && !svc_.contactsFolder.empty()) return transferContact(run, it, move);

  const std::string src = it.Path();
  if (it.name.empty() || !PathExists(src)) {
    absent();
    return false;
  }
  if (IsDirectory(src)) return transferFolder(run, it, move);

  const std::string target = it.targetFolder;
  const bool sameFolder = target == it.folder;
  if (move && sameFolder) return true;  // already there
  FolderNames& tn = run.namesOf(target);
  const std::string existing = tn.Existing(it.name);
  const std::string existingPath = target + existing;
  // Same name, size and time is not enough to call two files identical: compare the bytes, so
  // that a different file is never deleted as a duplicate.
  const bool identical = !sameFolder && existing == it.name && IsRegularFile(existingPath) &&
                         SameFile(src, existingPath) && SameContent(src, existingPath);

  const std::string nameTitle = namingTitle(it.title, it.charset);
  std::string title = nameTitle;
  bool replace = false;
  if (!identical && !existing.empty() && !sameFolder && !(move && target == svc_.trashFolder)) {
    CollisionQuestion q;
    q.fileName = existing;
    // The question and its answer carry titles in the item's charset, as the index does.
    q.proposedTitle = storedTitle(UniqueFileName(tn, nameTitle, it.ext).title, it.title, it.charset);
    q.charset = it.charset;
    q.severalItems = run.several;
    q.offerReplace = IsRegularFile(existingPath);
    CollisionAnswer a = run.choice.Decide(q);
    if (a.action == CollisionAction::Skip) {
      ++skipped_;
      return true;
    }
    replace = a.action == CollisionAction::Replace;
    if (!replace) title = namingTitle(a.title.empty() ? q.proposedTitle : a.title, it.charset);
  }

  std::string newName, newTitle;
  if (identical || replace) {
    newName = it.name;
    newTitle = nameTitle;
  } else {
    UniqueName u = UniqueFileName(tn, title, it.ext);
    if (!u.ok) {
      ReportFileError(svc_.messages, move ? "move" : "copy", src, target + SafeFileName(title),
                      u.error);
      return false;
    }
    newName = u.fileName;
    newTitle = u.title;
  }
  const std::string dst = target + newName;
  const std::string srcSection = it.Section();
  StringList lines = run.lines(it.folder, srcSection);
  const int flags = flagsOf(lines, it.flags);

  // Another entry of the source folder still uses the file (a tagged outgoing entry, say):
  // it stays where it is and is copied instead.
  bool othersUse = false;
  if (move) {
    for (const auto& s : run.index(it.folder).sectionsOf(it.name))
      if (!SameText(s, srcSection)) othersUse = true;
  }

  // The file.
  if (!identical) {
    FileFailure f = (!move || othersUse) ? CopyFileKeepTime(src, dst) : MoveEntry(src, dst);
    if (f) {
      ReportFileError(svc_.messages, move ? "move" : "copy", src, dst, f.error);
      return false;
    }
    // A replaced file cannot be brought back, so a copy over it is not undone either.
    if (!move || othersUse) {
      if (!replace) run.fileCreated(dst);
    } else {
      run.fileMoved(src, dst);
    }
    if (replace && existing != newName) {
      ::unlink(existingPath.c_str());
      tn.Remove(existing);
    }
    tn.Add(newName);
    if (move && !othersUse) run.namesOf(it.folder).Remove(it.name);
  } else if (move && !othersUse) {
    if (::unlink(src.c_str()) != 0) {
      ReportFileError(svc_.messages, "delete", src, {}, errno);
      return false;
    }
    // The twin holds the same bytes, so the source can be made again if the index fails.
    run.twinRemoved(src, existingPath);
    run.namesOf(it.folder).Remove(it.name);
  }

  // The target entry.
  std::string targetSection = newName;
  if (identical) {
    const int kind = flags & dfMailMask;
    const std::string addr = valueOf(lines, "Address"), time = valueOf(lines, "Time");
    std::string twin;
    for (const auto& s : run.index(target).sectionsOf(newName)) {
      StringList tl = run.lines(target, s);
      if ((flagsOf(tl, 0) & dfMailMask) == kind && valueOf(tl, "Address") == addr &&
          valueOf(tl, "Time") == time) {
        twin = s;
        break;
      }
    }
    const bool mailEntry = kind != 0 && !addr.empty();
    if (!move && (!mailEntry || !twin.empty())) {
      // Nothing new to record: the target already describes this file.
      it.folder = target;
      return true;
    }
    if (move && !twin.empty()) {
      targetSection = twin;
    } else {
      auto p = UniqueSectionPrefix(*run.index(target).ini, newName, true, *svc_.random);
      if (!p) {
        ReportFileError(svc_.messages, move ? "move" : "copy", src, dst, EEXIST);
        return false;
      }
      targetSection = *p + newName;
    }
  } else {
    // The name is new in the target (or replaces a file there): entries left behind for an
    // earlier file of that name must not describe this one.
    for (const auto& s : run.index(target).sectionsOf(newName)) {
      if (replace && (flagsOf(run.lines(target, s), 0) & dfUnread)) run.unread(target, -1);
      run.erase(target, s);
    }
  }
  run.remember(target, targetSection);
  run.writeLines(target, targetSection, lines);
  const std::string shownTitle = storedTitle(newTitle, it.title, it.charset);
  if (namingTitle(shownTitle, it.charset) != StripExtension(newName))
    run.write(target, targetSection, "Title", shownTitle);
  else
    run.deleteKey(target, targetSection, "Title");
  if (flags & dfReceived) run.deleteKey(target, targetSection, "Recv");
  int newFlags = flags;
  if (!move && IsPendingFlags(flags)) newFlags &= ~(dfPending | dfResent);
  if (newFlags != flags) run.write(target, targetSection, "Flags", std::to_string(newFlags));
  if (!it.sticker.empty() && it.sticker != valueOf(lines, "Sticker"))
    run.write(target, targetSection, "Sticker", it.sticker);

  if (move) {
    run.erase(it.folder, srcSection);
    if (othersUse) {
      // The file stayed for the other entry; a lone tagged entry takes the plain name.
      auto rest = run.index(it.folder).sectionsOf(it.name);
      if (rest.size() == 1 && !SplitTagPrefix(rest[0]).prefix.empty() &&
          !SameText(SplitTagPrefix(rest[0]).prefix, kContactRefPrefix) &&
          !SameText(SplitTagPrefix(rest[0]).prefix, kLinkPrefix)) {
        StringList rl = run.lines(it.folder, rest[0]);
        run.erase(it.folder, rest[0]);
        run.remember(it.folder, it.name);
        run.writeLines(it.folder, it.name, rl);
        const std::string mid = Trim(valueOf(rl, "MsgID"));
        if (svc_.sent && !mid.empty() && (flagsOf(rl, 0) & dfOutgoing)) {
          const std::string link = std::string(kLinkPrefix) + mid;
          if (svc_.sent->SectionExists(link)) run.sentWrite(link, "ID", it.name);
        }
      }
    }
    if (flags & dfUnread) {
      run.unread(it.folder, -1);
      run.unread(target, +1);
    }
    // The pending register follows an outgoing message.
    const std::string mid = Trim(valueOf(lines, "MsgID"));
    if (svc_.sent && !mid.empty() && (flags & dfOutgoing)) {
      const std::string link = std::string(kLinkPrefix) + mid;
      if (svc_.sent->SectionExists(link) || IsPendingFlags(flags)) {
        run.sentWrite(link, "Path", target);
        run.sentWrite(link, "ID", targetSection);
        run.sentWrite(link, "Flags", std::to_string(newFlags));
      }
    }
    if (svc_.quickboard && !othersUse) svc_.quickboard->PathMoved(src, dst, false);
  } else if (newFlags & dfUnread) {
    run.unread(target, +1);
  }
  auto split = SplitTagPrefix(targetSection);
  it.folder = target;
  it.name = newName;
  it.prefix = split.prefix;
  it.title = shownTitle;
  it.flags = newFlags;
  return true;
}

bool DocOperations::transferFolder(Run& run, OpItem& it, bool move) {
  const std::string src = slashed(it.Path());
  const std::string target = it.targetFolder;
  if (isBelow(target, src)) {
    refuse("Sorry, but you cannot " + std::string(move ? "move" : "copy") +
           " a folder into itself.");
    return false;
  }
  if (move && target == it.folder) return true;
  if (svc_.openDocs && move && svc_.openDocs->AnyOpenBelow(src)) {
    refuse("Sorry, but one or more files from this folder or its subfolders are opened. You must close them first.");
    return false;
  }
  FolderNames& tn = run.namesOf(target);
  UniqueName u = UniqueFileName(tn, namingTitle(it.title, it.charset), "");
  if (!u.ok) {
    ReportFileError(svc_.messages, move ? "move" : "copy", src, target + SafeFileName(it.title), u.error);
    return false;
  }
  const std::string dst = target + u.fileName + "/";
  FileFailure f = move ? MoveEntry(src, dst) : CopyTree(src, dst, false);
  if (f) {
    ReportFileError(svc_.messages, f.verb, f.path, f.target, f.error);
    // A copy that stopped half-way is removed again; the source is untouched.
    if (!move && IsDirectory(dst)) DeleteTree(dst, false);
    return false;
  }
  tn.Add(u.fileName);
  if (move) {
    run.fileMoved(src, dst);
    run.namesOf(it.folder).Remove(it.name);
  } else {
    run.fileCreated(dst);
    // The copy holds the same unread entries as the original.
    if (svc_.unread) {
      svc_.unread->CopyFolder(src, dst);
      run.folderCopied(src, dst);
    }
  }
  // The folder's own entry lives in its parent's index, named after it with a "." appended.
  const std::string oldSection = it.name + ".", newSection = u.fileName + ".";
  StringList lines = run.lines(it.folder, oldSection);
  for (const auto& s : run.index(target).sectionsOf(newSection)) run.erase(target, s);
  run.remember(target, newSection);
  run.writeLines(target, newSection, lines);
  if (u.title != u.fileName || isBelow(target, svc_.contactsFolder))
    run.write(target, newSection, "Title", u.title);
  else
    run.deleteKey(target, newSection, "Title");
  if (move) {
    run.erase(it.folder, oldSection);
    folderMoved(src, dst);
    run.folderMoved(src, dst);
  }
  it.folder = target;
  it.name = u.fileName;
  it.title = u.title;
  return true;
}

void DocOperations::folderMoved(const std::string& oldFolder, const std::string& newFolder) {
  if (svc_.unread) svc_.unread->MoveFolder(oldFolder, newFolder);
  if (svc_.newMail) svc_.newMail->MoveFolder(oldFolder, newFolder);
  if (svc_.quickboard) svc_.quickboard->PathMoved(oldFolder, newFolder, true);
  if (svc_.rules) {
    auto changed = svc_.rules->FolderMoved(oldFolder, newFolder);
    if (!changed.empty() && svc_.messages) {
      std::string text = "Operations with this folder caused changes in mail sorting rules:\r";
      for (const auto& r : changed) text += "\r     " + r;
      svc_.messages->QueueMessage(MessageKind::Information, text);
    }
  }
}

bool DocOperations::transferContact(Run& run, OpItem& it, bool move) {
  const std::string target = it.targetFolder;
  const bool group = it.ext.size() == 1 && it.ext[0] == kGroupMarkerExt;
  if (group && isBelow(target, svc_.contactsFolder)) {
    refuse("Sorry, but you cannot copy an address group into an address group.");
    return false;
  }
  const std::string section = std::string(kContactRefPrefix) + it.name;
  if (target != svc_.contactsFolder) {
    if (run.lines(target, section).empty()) {
      run.remember(target, section);
      run.writeEmpty(target, section);
    }
  }
  if (move && !it.refFolder.empty() && slashed(it.refFolder) != svc_.contactsFolder &&
      slashed(it.refFolder) != target)
    run.erase(slashed(it.refFolder), section);
  it.refFolder = target;
  return true;
}

// ---- Create, store, rename, retitle ----

bool DocOperations::createFolder(Run& run, OpItem& it) {
  const std::string shown = it.targetFolder.empty() ? it.folder : it.targetFolder;
  FolderNames& names = run.namesOf(shown);
  UniqueName u = UniqueFileName(names, namingTitle(it.title, it.charset), "");
  if (!u.ok) {
    ReportFileError(svc_.messages, "create", shown + SafeFileName(it.title), {}, u.error);
    return false;
  }
  const std::string path = shown + u.fileName;
  if (::mkdir(path.c_str(), 0777) != 0) {
    ReportFileError(svc_.messages, "create", path, {}, errno);
    return false;
  }
  run.fileCreated(path + "/");
  names.Add(u.fileName);
  const std::string section = u.fileName + ".";
  for (const auto& s : run.index(shown).sectionsOf(section)) run.erase(shown, s);
  run.remember(shown, section);
  if (u.title != u.fileName || isBelow(shown, svc_.contactsFolder))
    run.write(shown, section, "Title", u.title);
  it.folder = shown;
  it.name = u.fileName;
  it.title = u.title;
  it.ext.clear();
  return true;
}

bool DocOperations::storeFile(Run& run, OpItem& it, bool move) {
  const std::string target = it.targetFolder.empty() ? it.folder : it.targetFolder;
  const std::string& src = it.sourceFile;
  if (src.empty() || !IsRegularFile(src)) {
    absent();
    return false;
  }
  const std::string ext = it.ext.empty() ? ExtensionOf(baseNameOf(src)) : it.ext;
  std::string title = it.title.empty() ? StripExtension(baseNameOf(src)) : it.title;
  const std::string nameTitle = namingTitle(title, it.charset);
  FolderNames& tn = run.namesOf(target);

  bool replace = false;
  std::string plain = SafeFileName(nameTitle);
  if (!ext.empty()) plain += "." + ext;
  std::string chosenTitle = nameTitle;
  const std::string existing = tn.Existing(plain);
  if (move && !existing.empty()) {
    CollisionQuestion q;
    q.fileName = existing;
    q.proposedTitle = storedTitle(UniqueFileName(tn, nameTitle, ext).title, title, it.charset);
    q.charset = it.charset;
    q.severalItems = run.several;
    q.offerReplace = IsRegularFile(target + existing);
    CollisionAnswer a = run.choice.Decide(q);
    if (a.action == CollisionAction::Skip) {
      ++skipped_;
      return true;
    }
    replace = a.action == CollisionAction::Replace;
    if (!replace) chosenTitle = namingTitle(a.title.empty() ? q.proposedTitle : a.title, it.charset);
  }
  std::string newName, newTitle;
  if (replace) {
    newName = existing;
    newTitle = nameTitle;
  } else {
    UniqueName u = UniqueFileName(tn, chosenTitle, ext);
    if (!u.ok) {
      ReportFileError(svc_.messages, move ? "move" : "copy", src, target + SafeFileName(title), u.error);
      return false;
    }
    newName = u.fileName;
    newTitle = u.title;
  }
  const std::string dst = target + newName;
  FileFailure f = move ? MoveEntry(src, dst) : CopyFileKeepTime(src, dst);
  if (f) {
    ReportFileError(svc_.messages, move ? "move" : "copy", src, dst, f.error);
    return false;
  }
  if (move) run.fileMoved(src, dst);
  else run.fileCreated(dst);
  tn.Add(newName);
  for (const auto& s : run.index(target).sectionsOf(newName)) {
    if (replace && (flagsOf(run.lines(target, s), 0) & dfUnread)) run.unread(target, -1);
    run.erase(target, s);
  }
  run.remember(target, newName);
  const std::string shownTitle = storedTitle(newTitle, title, it.charset);
  if (newTitle != StripExtension(newName)) run.write(target, newName, "Title", shownTitle);
  if (!it.charset.empty()) run.write(target, newName, "Charset", it.charset);
  it.folder = target;
  it.name = newName;
  it.prefix.clear();
  it.title = shownTitle;
  it.ext = ext;
  return true;
}

bool DocOperations::renameDoc(Run& run, OpItem& it) {
  const std::string path = it.Path();
  if (it.name.empty() || !PathExists(path)) {
    absent();
    return false;
  }
  const bool folder = IsDirectory(path);
  if (svc_.openDocs && (folder ? svc_.openDocs->AnyOpenBelow(slashed(path))
                               : svc_.openDocs->IsOpen(path))) {
    if (!folder) svc_.openDocs->BringForward(path);
    else refuse("Sorry, but one or more files from this folder or its subfolders are opened. You must close them first.");
    return false;
  }
  const std::string ext = folder ? std::string() : it.ext;
  FolderNames& names = run.namesOf(it.folder);
  UniqueName u = UniqueFileName(names, namingTitle(it.newTitle, it.charset), ext, it.name);
  if (!u.ok) {
    ReportFileError(svc_.messages, "rename", path, it.folder + SafeFileName(it.newTitle), u.error);
    return false;
  }
  const std::string newPath = it.folder + u.fileName;
  if (u.fileName != it.name) {
    if (::rename(path.c_str(), newPath.c_str()) != 0) {
      ReportFileError(svc_.messages, "rename", path, newPath, errno);
      return false;
    }
    run.fileMoved(path, newPath);
    names.Remove(it.name);
    names.Add(u.fileName);
  }
  const bool inContacts = isBelow(it.folder, svc_.contactsFolder);
  const std::string shownTitle = storedTitle(u.title, it.newTitle, it.charset);
  const std::string oldKey = folder ? it.name + "." : it.name;
  const std::string newKey = folder ? u.fileName + "." : u.fileName;
  auto sections = run.index(it.folder).sectionsOf(oldKey);
  if (sections.empty()) sections.push_back(oldKey);  // no entry yet: the title needs one
  for (const auto& s : sections) {
    const std::string prefix = SplitTagPrefix(s).prefix;
    StringList lines = run.lines(it.folder, s);
    const std::string ns = prefix + newKey;
    if (!SameText(s, ns) || s != ns) {
      run.erase(it.folder, s);
      run.remember(it.folder, ns);
      run.writeLines(it.folder, ns, lines);
    } else {
      run.remember(it.folder, ns);
    }
    if (u.title != (folder ? u.fileName : StripExtension(u.fileName)) || inContacts)
      run.write(it.folder, ns, "Title", shownTitle);
    else
      run.deleteKey(it.folder, ns, "Title");
    const std::string mid = Trim(valueOf(lines, "MsgID"));
    if (svc_.sent && !mid.empty() && (flagsOf(lines, 0) & dfOutgoing)) {
      const std::string link = std::string(kLinkPrefix) + mid;
      if (svc_.sent->SectionExists(link)) run.sentWrite(link, "ID", ns);
    }
  }
  if (u.fileName != it.name) {
    if (folder) {
      folderMoved(slashed(path), slashed(newPath));
      run.folderMoved(slashed(path), slashed(newPath));
    }
    else if (svc_.quickboard) svc_.quickboard->PathMoved(path, newPath, false);
  }
  if (svc_.quickboard) svc_.quickboard->CaptionChanged(folder ? slashed(newPath) : newPath, u.title);
  it.name = u.fileName;
  it.title = shownTitle;
  return true;
}

bool DocOperations::setTitle(Run& run, OpItem& it) {
  const std::string section = IsDirectory(it.Path()) ? it.name + "." : it.Section();
  run.remember(it.folder, section);
  run.write(it.folder, section, "Title", it.newTitle.empty() ? it.title : it.newTitle);
  if (!it.newTitle.empty()) it.title = it.newTitle;
  if (svc_.quickboard) svc_.quickboard->CaptionChanged(it.Path(), it.title);
  return true;
}

// ---- Index edits ----

bool DocOperations::writeKey(Run& run, OpItem& it, int code) {
  const bool contactRef = it.refPrefix == kContactRefPrefix && !it.refFolder.empty();
  // Colour and sticker of a contact reference belong to the folder showing it.
  const std::string folder = contactRef ? slashed(it.refFolder) : it.folder;
  const std::string section = contactRef ? std::string(kContactRefPrefix) + it.name : it.Section();
  run.remember(folder, section);
  switch (code) {
    case opWriteFlags: {
      const int old = static_cast<int>(run.index(folder).ini->ReadInteger(section, "Flags", 0));
      run.write(folder, section, "Flags", std::to_string(it.flags & 0xFFFF));
      if ((old ^ it.flags) & dfUnread) run.unread(folder, (it.flags & dfUnread) ? 1 : -1);
      break;
    }
    case opWriteCharset:
      if (it.charset.empty()) run.deleteKey(folder, section, "Charset");
      else run.write(folder, section, "Charset", it.charset);
      break;
    case opWriteSticker:
      if (it.sticker.empty()) run.deleteKey(folder, section, "Sticker");
      else run.write(folder, section, "Sticker", it.sticker);
      break;
  }
  return true;
}

bool DocOperations::outbox(Run& run, OpItem& it) {
  const std::string path = it.Path();
  if (!IsRegularFile(path)) {
    absent();
    return false;
  }
  const std::string section = it.Section();
  StringList lines = run.lines(it.folder, section);
  const int old = flagsOf(lines, it.flags);
  if (IsPendingFlags(old) && !it.dropAddress.empty()) {
    // A pending message takes or loses a recipient.
    const std::string keys[] = {"Address", "Cc", "Bcc"};
    run.remember(it.folder, section);
    if (!it.removeAddress) {
      for (const auto& k : keys)
        if (AddressInList(valueOf(lines, k), it.dropAddress)) return true;
      std::string addr = valueOf(lines, "Address");
      addr = addr.empty() ? it.dropAddress : addr + ", " + it.dropAddress;
      run.write(it.folder, section, "Address", addr);
      return true;
    }
    const std::string bare = LowerCase(BareAddressOf(it.dropAddress));
    bool groupLeft = false;
    for (const auto& k : keys) {
      StringList kept;
      bool changed = false;
      for (const auto& e : ParseAddressList(valueOf(lines, k))) {
        if (LowerCase(BareAddressOf(e)) == bare) {
          changed = true;
          continue;
        }
        if (IsGroupAddress(e)) groupLeft = true;
        kept.push_back(e);
      }
      if (changed) run.write(it.folder, section, k, JoinAddressList(kept));
    }
    // ExcludeTo names members of the groups among the recipients: a removed group takes its
    // members out of it, and with no group left it has nothing to say.
    if (!groupLeft) {
      run.deleteKey(it.folder, section, "ExcludeTo");
    } else if (IsGroupAddress(it.dropAddress) && !it.dropMembers.empty()) {
      std::vector<std::string> members;
      for (const auto& m : it.dropMembers) members.push_back(LowerCase(BareAddressOf(m)));
      StringList kept;
      bool changed = false;
      for (const auto& raw : SplitCommaList(valueOf(lines, "ExcludeTo"))) {
        const std::string e = Trim(raw);
        if (e.empty()) continue;
        if (std::find(members.begin(), members.end(), LowerCase(BareAddressOf(e))) != members.end()) {
          changed = true;
          continue;
        }
        kept.push_back(e);
      }
      if (changed) {
        if (kept.empty()) run.deleteKey(it.folder, section, "ExcludeTo");
        else run.write(it.folder, section, "ExcludeTo", JoinExcludeTo(kept));
      }
    }
    return true;
  }
  std::string target = section;
  // A contact card lying in the documents folder is sent as itself, without a second entry.
  const bool card = SameText(it.ext, "vcf") && it.folder == svc_.documentsFolder;
  if (!it.reuseSection && !card) {
    auto p = UniqueSectionPrefix(*run.index(it.folder).ini, it.name, false, *svc_.random);
    if (!p) {
      ReportFileError(svc_.messages, "send", path, {}, EEXIST);
      return false;
    }
    target = *p + it.name;
  }
  int flags = (old & 0xC921) | 0x2400;
  if (old & dfMailMask) flags |= dfResent;
  if (it.encrypt) flags |= dfEncrypted;
  if (it.draft) flags |= dfDraft;
  run.remember(it.folder, target);
  run.write(it.folder, target, "Title", it.title);
  run.write(it.folder, target, "Flags", std::to_string(flags));
  auto put = [&](std::string_view key, const std::string& v) {
    if (v.empty()) run.deleteKey(it.folder, target, key);
    else run.write(it.folder, target, key, v);
  };
  put("Address", it.address);
  put("Cc", it.cc);
  put("Bcc", it.bcc);
  put("ExcludeTo", it.excludeTo);
  put("From", it.from.empty() ? svc_.ownFromAddress : it.from);
  run.write(it.folder, target, "Time", FormatShortDate(it.time != 0 ? it.time : NowDateTime()));
  put("Charset", it.charset);
  run.write(it.folder, target, "MsgID", it.seriesId);
  put("Original", it.original);
  if (svc_.sent) {
    const std::string link = std::string(kLinkPrefix) + it.seriesId;
    run.sentWrite(link, "Path", it.folder);
    run.sentWrite(link, "ID", target);
    run.sentWrite(link, "Flags", std::to_string(flags));
  }
  it.prefix = SplitTagPrefix(target).prefix;
  it.flags = flags;
  it.msgId = it.seriesId;
  return true;
}

// ---- Delete ----

bool DocOperations::deleteDoc(Run& run, OpItem& it) {
  const std::string path = it.Path();
  // A folder row: its entry is "name." in the parent, and its counts go with it.
  if (it.prefix.empty() && !it.name.empty() && IsDirectory(path)) return deleteFolder(run, it);
  const std::string section = it.Section();
  bool othersUse = false;
  for (const auto& s : run.index(it.folder).sectionsOf(it.name))
    if (!SameText(s, section)) othersUse = true;
  const int flags = static_cast<int>(run.index(it.folder).ini->ReadInteger(section, "Flags", it.flags));
  if (!othersUse && PathExists(path)) {
    if (IsDirectory(path)) {
      FileFailure f = DeleteTree(path, false);
      if (f) {
        ReportFileError(svc_.messages, "delete", f.path, {}, f.error);
        return false;
      }
    } else {
      const std::string hidden = it.folder + ".px-deleted-" + NewUniqueId(*svc_.random);
      if (::rename(path.c_str(), hidden.c_str()) != 0) {
        ReportFileError(svc_.messages, "delete", path, {}, errno);
        return false;
      }
      run.fileMoved(path, hidden);
      run.doomed.push_back(hidden);
    }
    run.namesOf(it.folder).Remove(it.name);
    if (svc_.quickboard) svc_.quickboard->PathRemoved(path, false);
  }
  run.erase(it.folder, section);
  if (flags & dfUnread) run.unread(it.folder, -1);
  return true;
}

bool DocOperations::deleteFolder(Run& run, OpItem& it) {
  const std::string folder = slashed(it.name.empty() ? it.folder : it.Path());
  const bool trash = folder == svc_.trashFolder;
  if (svc_.openDocs && svc_.openDocs->AnyOpenBelow(folder)) {
    refuse(trash ? "Sorry, but you must close all opened files from the trash bin before emptying it"
                 : "Sorry, but one or more files from this folder or its subfolders are opened. You must close them first.");
    return false;
  }
  if (!PathExists(folder)) {
    absent();
    return false;
  }
  auto visitor = [&](const std::string& p, bool isFolder) {
    if (svc_.quickboard) svc_.quickboard->PathRemoved(p, isFolder);
  };
  FileFailure f = DeleteTree(folder, trash, visitor);
  // Whatever a partial failure left behind is counted again on the next listing.
  if (svc_.unread) svc_.unread->ResetTree(folder);
  if (f) {
    ReportFileError(svc_.messages, trash && f.path == folder ? "empty" : "delete", f.path, {}, f.error);
    return false;
  }
  if (!trash) {
    const std::string parent = parentOf(folder);
    const std::string section = baseNameOf(folder) + ".";
    run.erase(parent, section);
    run.namesOf(parent).Remove(baseNameOf(folder));
  }
  run.names.erase(folder);
  return true;
}

// ---- Contacts ----

bool DocOperations::updateContact(Run& run, OpItem& it) {
  const std::string folder = it.refPrefix == kContactRefPrefix ? svc_.contactsFolder : it.folder;
  const std::string section = it.name;
  run.remember(folder, section);
  run.write(folder, section, "Title", it.title);
  run.write(folder, section, "Address", it.address);
  if (it.addresses.empty()) run.deleteKey(folder, section, "Addresses");
  else run.write(folder, section, "Addresses", it.addresses);
  run.write(folder, section, "Flags", std::to_string(it.flags & 0xFFFF));
  return true;
}

bool DocOperations::createContact(Run& run, OpItem& it) {
  const std::string& contacts = svc_.contactsFolder;
  std::string section;
  run.index(contacts).ini->ForEachSection(
      [&](std::string_view name, std::span<const std::string_view> lines) {
        if (!section.empty()) return;
        for (auto l : lines) {
          const size_t eq = l.find('=');
          if (eq != std::string_view::npos && SameText(Trim(l.substr(0, eq)), "Address") &&
              l.substr(eq + 1) == it.address) {
            section = std::string(name);
            return;
          }
        }
      });
  if (section.empty()) section = NewUniqueId(*svc_.random) + ".vcf";
  run.remember(contacts, section);
  run.write(contacts, section, "Title", it.title);
  run.write(contacts, section, "Address", it.address);
  if (it.addresses.empty()) run.deleteKey(contacts, section, "Addresses");
  else run.write(contacts, section, "Addresses", it.addresses);
  run.write(contacts, section, "Flags", std::to_string(it.flags & 0xFFFF));
  const std::string shown = it.targetFolder.empty() ? it.folder : it.targetFolder;
  if (!shown.empty() && shown != contacts) {
    const std::string ref = std::string(kContactRefPrefix) + section;
    run.remember(shown, ref);
    run.writeEmpty(shown, ref);
  }
  it.name = section;
  it.ext = "vcf";
  return true;
}

bool DocOperations::stampContact(Run& run, OpItem& it) {
  const std::string folder = svc_.contactsFolder.empty() ? it.folder : svc_.contactsFolder;
  struct stat st{};
  if (::stat((folder + it.name).c_str(), &st) != 0) {
    absent();
    return false;
  }
  // Packed file date: the DOS date in the high word, the DOS time in the low word (local time).
  struct tm tmv{};
  time_t t = st.st_mtime;
  localtime_r(&t, &tmv);
  const uint32_t dosDate = static_cast<uint32_t>(((tmv.tm_year - 80) << 9) | ((tmv.tm_mon + 1) << 5) | tmv.tm_mday);
  const uint32_t dosTime = static_cast<uint32_t>((tmv.tm_hour << 11) | (tmv.tm_min << 5) | (tmv.tm_sec / 2));
  const int32_t packed = static_cast<int32_t>((dosDate << 16) | dosTime);
  run.remember(folder, it.name);
  run.write(folder, it.name, "Time", std::to_string(packed));
  return true;
}

}  // namespace px::store
