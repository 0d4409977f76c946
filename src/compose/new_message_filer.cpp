#include "compose/new_message_filer.h"

#include "foundation/message_queue.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_operations.h"
#include "store/doc_record.h"
#include "store/index_file.h"
#include "store/tree_ops.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace px::compose {

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }
std::string WithoutExt(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}
std::string ExtOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
}

bool CanCreateIn(const std::string& folder) {
  return !folder.empty() && store::IsDirectory(folder) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

// Sections of the old version of a re-edited message.
struct OldPart {
  std::string section;
  std::string msgId;
  int flags = 0;
};
std::vector<OldPart> PartsOfSeries(store::IniRegistry& registry, const std::string& folder, const std::string& base) {
  std::vector<OldPart> out;
  store::TPXIniFile ini(registry, store::IndexPathOf(folder));
  StringList sections;
  ini.ReadSections(sections);
  for (const std::string& s : sections) {
    const std::string id = ini.ReadString(s, "MsgID", "");
    if (id.empty() || SeriesBase(id) != base) continue;
    out.push_back({s, id, static_cast<int>(ini.ReadInteger(s, "Flags", 0))});
  }
  (void)ini.Release();  // only read
  return out;
}

// A document of the folder that may become a part of the new message as it is: a plain
// document, or a part of the message this one replaces. A part of another message (a received
// attachment being forwarded, say) is copied instead, so that message keeps all its parts.
bool OwnPartOf(store::IniRegistry* registry, const std::string& path, const std::string& replacesMsgId) {
  if (!registry) return true;
  store::TPXIniFile ini(*registry, store::IndexPathOf(FolderOf(path)));
  const std::string name = NameOf(path);
  const int flags = static_cast<int>(ini.ReadInteger(name, "Flags", 0));
  const std::string msgId = ini.ReadString(name, "MsgID", "");
  (void)ini.Release();  // only read
  if ((flags & store::dfMailMask) == 0 && msgId.empty()) return true;
  return !replacesMsgId.empty() && replacesMsgId != "-" && !msgId.empty() &&
         SeriesBase(msgId) == SeriesBase(replacesMsgId);
}

}  // namespace

std::string IndexTitleOf(store::IniRegistry& registry, const std::string& path) {
  const std::string folder = FolderOf(path);
  if (folder.empty()) return {};
  store::TPXIniFile ini(registry, store::IndexPathOf(folder));
  std::string title = ini.ReadString(NameOf(path), "Title", "");
  (void)ini.Release();  // only read
  return title;
}

FiledMessage FileNewMessage(const TNewMessageRec& rec, const FilerServices& svc) {
  FiledMessage result;
  if (!svc.ops) return result;
  store::DocOperations& ops = *svc.ops;
  store::IniRegistry* registry = ops.Services().registry;

  // 1. The folder of the document the window was opened on, else the data root.
  // A new message opened on no document names the folder it belongs in.
  const bool noDocument = rec.Document.empty() || rec.Document.back() == '/';
  std::string folder = rec.Document.empty() ? svc.documentsFolder : FolderOf(rec.Document);
  if (!CanCreateIn(folder)) {
    std::string rootName = svc.dataRoot;
    while (!rootName.empty() && rootName.back() == '/') rootName.pop_back();
    rootName = rootName.substr(rootName.rfind('/') + 1);
    if (svc.messages)
      svc.messages->QueueMessage(MessageKind::Warning,
                                 "You cannot create files in that folder, therefore a new file will be created in " +
                                     rootName);
    folder = svc.dataRoot;
  }
  result.folder = folder;

  const bool replaces = !rec.ReplacesMsgID.empty();
  const bool modified = rec.modified || replaces || noDocument;

  // 2. The message's documents: body first, then the attachments in list order.
  std::vector<store::OpItem> items;
  if (modified) {
    store::OpItem body;
    body.folder = folder;
    body.targetFolder = folder;
    body.sourceFile = rec.BodyFile;
    body.title = rec.Subject;
    body.ext = ExtOf(NameOf(rec.BodyFile));
    body.charset = rec.Charset;
    if (!ops.RunDocOperation(store::opStoreCopy, body)) return result;
    items.push_back(body);
    for (const std::string& att : rec.Attachments) {
      store::OpItem it;
      if (FolderOf(att) == folder && store::IsRegularFile(att) && OwnPartOf(registry, att, rec.ReplacesMsgID)) {
        // Already in the folder: that document itself becomes a part of the message.
        it.folder = folder;
        it.name = NameOf(att);
        it.ext = ExtOf(it.name);
        it.title = registry ? IndexTitleOf(*registry, att) : std::string();
        if (it.title.empty()) it.title = WithoutExt(it.name);
        // A part of a draft that is now sent must lose the draft mark, which putting it in the
        // outbox keeps, or the message would go without it.
        if (!rec.Draft && registry) {
          store::TPXIniFile ini(*registry, store::IndexPathOf(folder));
          const int flags = static_cast<int>(ini.ReadInteger(it.name, "Flags", 0));
          (void)ini.Release();  // only read
          if (flags & store::dfDraft) {
            it.flags = flags & ~store::dfDraft;
            if (!ops.RunDocOperation(store::opWriteFlags, it)) return result;
          }
        }
        items.push_back(it);
        continue;
      }
      it.folder = folder;
      it.targetFolder = folder;
      it.sourceFile = att;
      it.title = svc.titleOf ? svc.titleOf(att) : std::string();
      if (it.title.empty()) it.title = WithoutExt(NameOf(att));
      it.ext = ExtOf(NameOf(att));
      const std::string title = it.title;
      if (!ops.RunDocOperation(store::opStoreCopy, it)) return result;
      // The copy's file name may carry a " (n)" to stand beside another file; the part keeps
      // its own name, which is what the recipient sees.
      it.title = title;
      items.push_back(it);
    }
  } else {
    store::OpItem doc;
    doc.folder = FolderOf(rec.Document);
    doc.name = NameOf(rec.Document);
    doc.ext = ExtOf(doc.name);
    doc.title = rec.Subject;
    items.push_back(doc);
  }

  // 3. Outgoing mail, all parts together under one new id base.
  const std::string to = svc.normaliseTo ? svc.normaliseTo(rec.To) : rec.To;
  for (store::OpItem& it : items) {
    if (&it == &items.front()) it.title = rec.Subject;
    it.address = to;
    it.cc = rec.Cc;
    it.bcc = rec.Bcc;
    it.excludeTo = rec.ExcludeTo;
    it.charset = rec.Charset;
    it.encrypt = rec.Encrypt;
    it.draft = rec.Draft;
    it.original = rec.Original;
    it.from = rec.From.empty() ? svc.defaultSender : rec.From;
    it.reuseSection = true;
    it.seriesId.clear();
  }
  if (ops.RunOnSelection(store::opOutbox, items) != items.size()) return result;
  result.seriesBase = SeriesBase(items.front().seriesId);
  // A reply's place in its thread, on its body's entry, where the sender reads it.
  if (registry && (!rec.InReplyTo.empty() || !rec.References.empty())) {
    const store::OpItem& body = items.front();
    store::TPXIniFile ini(*registry, store::IndexPathOf(body.folder));
    if (!rec.InReplyTo.empty()) ini.WriteString(body.Section(), "In-Reply-To", rec.InReplyTo);
    if (!rec.References.empty()) ini.WriteString(body.Section(), "References", rec.References);
    if (const FileStatus st = ini.Release(); !st.ok() && svc.messages)
      svc.messages->QueueMessage(MessageKind::Error, st.message);
  }
  for (const auto& it : items) result.documents.push_back(it.name);
  result.ok = true;

  // 4. Only now does the old version go: its documents that are not reused as attachments and
  // its entries in sent.ini.
  if (replaces && registry) {
    const std::string oldFolder = rec.Document.empty() ? folder : FolderOf(rec.Document);
    std::vector<store::OpItem> old;
    auto reused = [&](const std::string& name) {
      return oldFolder == folder &&
             std::any_of(items.begin(), items.end(), [&](const store::OpItem& it) { return SameText(it.name, name); });
    };
    std::vector<std::string> oldIds;
    if (rec.ReplacesMsgID != "-") {
      for (const OldPart& p : PartsOfSeries(*registry, oldFolder, SeriesBase(rec.ReplacesMsgID))) {
        const TagSplit t = SplitTagPrefix(p.section);
        if (t.prefix != store::kLinkPrefix && reused(t.rest)) continue;
        store::OpItem it;
        it.folder = oldFolder;
        it.prefix = t.prefix;
        it.name = t.rest;
        it.flags = p.flags;
        it.ext = ExtOf(t.rest);
        old.push_back(it);
        oldIds.push_back(p.msgId);
      }
    } else if (!noDocument && !reused(NameOf(rec.Document)) && store::IsRegularFile(rec.Document)) {
      store::OpItem it;
      it.folder = oldFolder;
      it.name = NameOf(rec.Document);
      it.ext = ExtOf(it.name);
      old.push_back(it);
    }
    if (!old.empty()) ops.RunOnSelection(store::opDelete, old);
    if (TPXCustomIni* sent = ops.Services().sent) {
      for (const std::string& id : oldIds) sent->EraseSection(std::string(store::kLinkPrefix) + id);
      // Links left behind would keep the old version pending beside the new one.
      if (const FileStatus st = sent->UpdateFile(); !st.ok() && svc.messages)
        svc.messages->QueueMessage(MessageKind::Error, st.message);
    }
  }

  // The body was copied into the folder; its scratch file has done its work.
  if (modified && !rec.BodyFile.empty()) std::remove(rec.BodyFile.c_str());

  // 5. Send Now: a send-only run.
  if (rec.SendNow && !rec.Draft && !svc.offline && svc.sendNow) {
    svc.sendNow(result.seriesBase);
    result.sendStarted = true;
  }
  return result;
}

}  // namespace px::compose
