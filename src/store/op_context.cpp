#include "store/op_context.h"

#include "store/index_entry.h"

#include "foundation/charset.h"
#include "foundation/message_queue.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/file_errors.h"
#include "store/newmail_list.h"
#include "store/tree_ops.h"
#include "store/unique_names.h"
#include "store/unread_list.h"

namespace px::store {

void OpContext::Refuse(std::string_view text) const {
  if (svc.messages) svc.messages->QueueMessage(MessageKind::Warning, text);
}

void OpContext::Absent() const {
  if (svc.messages) svc.messages->QueueMessage(MessageKind::Error, kAbsentFileText);
}

void OpContext::FileError(std::string_view verb, std::string_view path, std::string_view target,
                          int error) const {
  ReportFileError(svc.messages, verb, path, target, error);
}

std::string Slashed(std::string p) {
  if (!p.empty() && p.back() != '/') p += '/';
  return p;
}

std::string ParentOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t s = p.rfind('/');
  return s == std::string::npos ? std::string() : p.substr(0, s + 1);
}

std::string BaseNameOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t s = p.rfind('/');
  return s == std::string::npos ? p : p.substr(s + 1);
}

bool IsBelow(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() >= folder.size() &&
         path.compare(0, folder.size(), folder) == 0;
}

std::string ValueOf(const StringList& lines, std::string_view key) {
  auto v = EntryValue(lines, key);
  return v ? std::string(*v) : std::string();
}

int FlagsOf(const StringList& lines, int def) { return EntryFlags(lines, def); }

std::string NamingTitle(const std::string& title, const std::string& charset) {
  if (charset.empty() || IsUnicodeCharset(charset)) return title;
  return DecodeFromCharset(title, charset);
}

std::string StoredTitle(const std::string& utf8, const std::string& original,
                        const std::string& charset) {
  if (charset.empty() || IsUnicodeCharset(charset)) return utf8;
  if (DecodeFromCharset(original, charset) == utf8) return original;
  return EncodeToCharset(utf8, charset);
}

CollisionOutcome AskCollision(OpContext& cx, FolderNames& target, const std::string& existing,
                              const std::string& nameTitle, const std::string& title,
                              const std::string& charset, const std::string& ext,
                              const std::string& source) {
  CollisionQuestion q;
  q.fileName = existing;
  // The question and its answer carry titles in the item's charset, as the index does.
  q.proposedTitle = StoredTitle(UniqueFileName(target, nameTitle, ext).title, title, charset);
  q.charset = charset;
  q.severalItems = cx.several;
  // A folder is never replaced, nor the document by itself.
  q.offerReplace = IsRegularFile(target.Folder() + existing) &&
                   (source.empty() || !IsSameEntry(source, target.Folder() + existing));
  const CollisionAnswer a = cx.choice.Decide(q);
  CollisionOutcome out;
  if (a.action == CollisionAction::Skip) {
    ++cx.skipped;
    out.skip = true;
    return out;
  }
  out.replace = a.action == CollisionAction::Replace;
  if (!out.replace) out.title = NamingTitle(a.title.empty() ? q.proposedTitle : a.title, charset);
  return out;
}

void FollowPendingRegister(OpContext& cx, std::string_view msgId, int entryFlags,
                           const std::string& folder, const std::string& section, int newFlags,
                           bool add) {
  TPXCustomIni* sent = cx.tx.Sent();
  const std::string mid = Trim(msgId);
  if (!sent || mid.empty() || !(entryFlags & dfOutgoing)) return;
  const std::string link = std::string(kLinkPrefix) + mid;
  if (!add && !sent->SectionExists(link)) return;
  if (!folder.empty()) cx.tx.SentWrite(link, "Path", folder);
  cx.tx.SentWrite(link, "ID", section);
  if (!folder.empty()) cx.tx.SentWrite(link, "Flags", std::to_string(newFlags));
}

void FolderMovedAlong(OpContext& cx, const std::string& oldFolder, const std::string& newFolder) {
  if (cx.svc.unread) cx.svc.unread->MoveFolder(oldFolder, newFolder);
  if (cx.svc.newMail) cx.svc.newMail->MoveFolder(oldFolder, newFolder);
  cx.tx.FolderMoved(oldFolder, newFolder);
  cx.co.quickboard.PathMoved(oldFolder, newFolder, true);
  auto changed = cx.co.rules.FolderMoved(oldFolder, newFolder);
  if (!changed.empty() && cx.svc.messages) {
    std::string text = "Operations with this folder caused changes in mail sorting rules:\r";
    for (const auto& r : changed) text += "\r     " + r;
    cx.svc.messages->QueueMessage(MessageKind::Information, text);
  }
}

}  // namespace px::store
