#include "store/doc_operations.h"

#include "foundation/dates.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/index_file.h"
#include "store/index_value.h"
#include "store/move_journal.h"
#include "store/op_context.h"
#include "store/refusal_batch.h"
#include "store/unique_names.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace px::store {

namespace {

using Clock = std::chrono::steady_clock;
// A long run saves the indexes it changed at this interval, so a crash loses little and a
// failed save has few documents to put back.
constexpr auto kCheckpointEvery = std::chrono::seconds(2);

}  // namespace

// ---- Free functions ----

std::string TrashOriginOf(IniRegistry& registry, const std::string& trashFolder, const std::string& section) {
  if (trashFolder.empty() || section.empty()) return {};
  TPXIniFile index(registry, IndexPathOf(trashFolder));
  return index.ReadString(section, kTrashOriginKey, "");
}

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
    it.folder = ParentOf(rec.target);
    auto split = SplitTagPrefix(BaseNameOf(rec.target));
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
  std::string name = SafeFileName(TitleWithoutExtension(newTitle, ext));
  if (!ext.empty()) name += "." + std::string(ext);
  if (SameText(name, currentName)) return {};
  FolderNames names(folder);
  if (!names.Contains(name)) return {};
  return "Sorry, but you cannot rename this file to\r" + name;
}

std::string EditableTitle(const OpItem& it) { return NamingTitle(it.title, it.charset); }

OpItem DuplicateItem(const OpItem& it, const std::string& utf8Title) {
  OpItem copy;
  copy.sourceFile = it.Path();
  // Beside the row the user sees (a link's copy goes into the folder showing the link).
  copy.folder = it.refFolder.empty() ? it.folder : it.refFolder;
  copy.targetFolder = copy.folder;
  copy.ext = it.ext;
  copy.charset = it.charset;
  copy.title = EditedTitle(it, utf8Title);
  copy.askOnCollision = true;
  // The copy keeps what the user gave the original: colour, sticker, flags, addresses.
  copy.entryFolder = it.folder;
  copy.entrySection = it.Section();
  return copy;
}

std::string EditedTitle(const OpItem& it, const std::string& utf8) {
  return StoredTitle(utf8, it.title, it.charset);
}

// ---- DocOperations ----

DocOperations::DocOperations(OpServices services, OpCollaborators collaborators)
    : svc_(std::move(services)), co_(collaborators) {
  if (!svc_.registry || !svc_.random) throw std::invalid_argument("DocOperations needs a registry and a random source");
  svc_.documentsFolder = Slashed(svc_.documentsFolder);
  svc_.trashFolder = Slashed(svc_.trashFolder);
  svc_.contactsFolder = Slashed(svc_.contactsFolder);
}

DocOperations::~DocOperations() = default;

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
  if (code == opStoreCopy || code == opCopy || code == opMove || code == opDelete) {
    for (const auto& it : items) {
      const std::string p = it.Path();
      if (co_.openDocs.IsOpen(p)) {
        co_.openDocs.BringForward(p);
        return 0;
      }
    }
  }
  // While the run goes, the desk's timers and folder watch leave the indexes alone.
  struct Running {
    bool* flag;
    bool was;
    explicit Running(bool* f) : flag(f), was(f && *f) {
      if (flag) *flag = true;
    }
    ~Running() {
      if (flag) *flag = was;
    }
  } running(svc_.running);
  // A run over several documents gathers its messages and reports each kind once, naming the
  // documents, instead of one box per document.
  MessageQueue gathered;
  RefusalBatch batch;
  struct Gathering {
    MessageQueue*& slot;
    MessageQueue* const out;
    Gathering(MessageQueue*& s, MessageQueue* g) : slot(s), out(s) {
      if (g) slot = g;
    }
    ~Gathering() { slot = out; }
  } gathering(svc_.messages, svc_.messages && items.size() > 1 ? &gathered : nullptr);
  MessageQueue* const reportTo = gathering.out;
  const bool batching = reportTo && items.size() > 1;
  OpTransaction tx(*svc_.registry, svc_.unread, svc_.newMail, svc_.sent);
  OpContext cx{svc_, co_, tx, CollisionChoice(&co_.resolver)};
  // A crash half-way through a batch is finished or put back at the next start from this.
  BatchJournal journal(svc_.journalFolder);
  if ((code == opMove || code == opCopy) && !svc_.journalFolder.empty()) {
    std::vector<JournalItem> plan;
    plan.reserve(items.size());
    for (const auto& it : items) {
      if (it.targetFolder.empty() || it.name.empty() || it.refPrefix == kContactRefPrefix) continue;
      JournalItem j;
      j.folder = Slashed(it.folder);
      j.name = it.name;
      j.section = it.Section();
      j.targetFolder = Slashed(it.targetFolder);
      j.title = it.title;
      if (j.folder == j.targetFolder || !FillFileIdentity(j)) continue;  // folders, absent files
      j.lines = tx.Lines(j.folder, j.section);
      plan.push_back(std::move(j));
    }
    if (const int err = journal.Begin(plan, code == opMove)) {
      // Nothing moved: without its journal a batch cut short could not be finished or undone.
      if (svc_.messages) {
        std::string text = FileStatus::Failure("write", journal.Path(), err).message;
        if (err == ENOSPC || err == EDQUOT)
          text += "\r\rThe disk that holds the data folder is full, so nothing was " +
                  std::string(code == opMove ? "moved" : "copied") +
                  ". Make room on it (emptying the trash bin, or deleting documents for good, works on a full disk) and "
                  "try again.";
        svc_.messages->QueueMessage(MessageKind::Error, text);
      }
      return 0;
    }
  }
  cx.several = items.size() > 1;
  const auto started = Clock::now();
  auto lastSave = started;
  bool busyShown = false;
  bool pendingAmong = false;
  bool failedSave = false;

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
    const std::string shownName = it.title.empty() ? it.name : it.title;
    try {
      ok = RunOne(cx, code, it);
    } catch (const std::exception& e) {
      if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, e.what());
      ok = false;
    }
    if (batching) batch.Take(gathered, shownName);
    if (ok) {
      ++done;
      ++batchDone;
    } else {
      allOk = false;
    }
    if (perItem) perItem(it, ok);
    if (Clock::now() - lastSave >= kCheckpointEvery) {
      lastSave = Clock::now();
      if (!Checkpoint(cx)) {
        failedSave = true;
        done -= batchDone;
        allOk = false;
        break;
      }
      batchDone = 0;
    }
  }
  if (!failedSave && !Checkpoint(cx)) {
    failedSave = true;
    done -= batchDone;
    allOk = false;
  }
  if (batching) {
    batch.Take(gathered, {});
    svc_.messages = reportTo;
    batch.Flush(*reportTo);
  }
  const FileStatus closed = tx.Close();
  // Saved, or put back where the entries say: nothing is left to finish.
  if (closed.ok()) journal.End();
  if (!closed.ok() && !failedSave && svc_.messages)
    svc_.messages->QueueMessage(MessageKind::Error, closed.message);
  // A damaged index kept aside on this run is told once.
  for (const auto& notice : svc_.registry->TakeNotices())
    if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Warning, notice);
  skipped_ = cx.skipped;
  if (busyShown) svc_.busy(false);
  if (pendingAmong || code == opOutbox) co_.pending.RefreshPending();
  if (svc_.rearmWatch) svc_.rearmWatch();
  if (allOk && after) after();
  return done;
}

bool DocOperations::Checkpoint(OpContext& cx) {
  const FileStatus st = cx.tx.Commit();
  if (st.ok()) return true;
  // An index (or sent.ini) could not be written: the transaction put this batch back.
  if (svc_.messages) svc_.messages->QueueMessage(MessageKind::Error, st.message);
  return false;
}

bool DocOperations::RunOne(OpContext& cx, int code, OpItem& it) {
  it.folder = Slashed(it.folder);
  if (!it.targetFolder.empty()) it.targetFolder = Slashed(it.targetFolder);
  switch (code) {
    case opCreateFolder: return CreateFolder(cx, it);
    case opStoreCopy: return StoreFile(cx, it, false);
    case opCopy: return TransferDoc(cx, it, false);
    case opMove: return TransferDoc(cx, it, true);
    case opRename: return RenameDoc(cx, it);
    case opSetTitle: return SetTitle(cx, it);
    case opStoreMove: return StoreFile(cx, it, true);
    case opOutbox: return PutInOutbox(cx, it);
    case opWriteFlags:
    case opWriteCharset:
    case opWriteSticker: return WriteKey(cx, it, code);
    case opDelete: return DeleteDoc(cx, it);
    case opDeleteFolder: return DeleteFolder(cx, it);
    case opUpdateContact: return UpdateContact(cx, it);
    case opCreateContact: return CreateContact(cx, it);
    case opStampContact: return StampContact(cx, it);
  }
  return false;
}

}  // namespace px::store
