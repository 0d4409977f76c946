// Copy and move: documents, folders, contact references, and files stored from outside.
#include "store/op_context.h"

#include "foundation/dates.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/file_errors.h"
#include "store/tree_ops.h"
#include "store/unique_names.h"
#include "store/unread_list.h"

#include <cerrno>
#include <unistd.h>

namespace px::store {

namespace {
bool TransferFolder(OpContext& cx, OpItem& it, bool move);
bool TransferContact(OpContext& cx, OpItem& it, bool move);

// The trash remembers the folder a document or folder came from, so that Restore can put it
// back there.
void KeepTrashOrigin(OpContext& cx, const std::string& from, const std::string& target,
                     const std::string& section, bool move) {
  const std::string& trash = cx.svc.trashFolder;
  if (trash.empty()) return;
  if (move && IsBelow(target, trash) && !IsBelow(from, trash))
    cx.tx.Write(target, section, kTrashOriginKey, from);
}

// The entry lines a document takes to target: anything leaving the trash forgets where it came
// from (the key is never written, so an entry that held nothing else leaves no empty section).
StringList LinesFor(const OpContext& cx, const std::string& target, StringList lines) {
  const std::string& trash = cx.svc.trashFolder;
  if (trash.empty() || IsBelow(target, trash)) return lines;
  const std::string key = std::string(kTrashOriginKey) + "=";
  std::erase_if(lines, [&](const std::string& l) {
    return l.size() >= key.size() && SameText(std::string_view(l).substr(0, key.size()), key);
  });
  return lines;
}
}  // namespace

bool TransferDoc(OpContext& cx, OpItem& it, bool move) {
  if (it.targetFolder.empty()) return false;
  const bool contact = IsContactExt(it.ext) &&
                       (it.refPrefix == kContactRefPrefix || IsBelow(it.folder, cx.svc.contactsFolder));
  if (contact && !cx.svc.contactsFolder.empty()) return TransferContact(cx, it, move);

  const std::string src = it.Path();
  if (it.name.empty() || !PathExists(src)) {
    cx.Absent();
    return false;
  }
  if (IsDirectory(src)) return TransferFolder(cx, it, move);

  // One folder may be reached by several paths (a linked parent, a bind mount): what counts is
  // its identity. The source's spelling is kept so both sides share one index and name cache.
  const bool sameFolder = it.targetFolder == it.folder || SameFolder(it.targetFolder, it.folder);
  const std::string target = sameFolder ? it.folder : it.targetFolder;
  if (move && sameFolder) return true;  // already there
  FolderNames& tn = cx.tx.NamesOf(target);
  const std::string existing = tn.Existing(it.name);
  const std::string existingPath = target + existing;
  // Same name, size and time is not enough to call two files identical: compare the bytes, so
  // that a different file is never deleted as a duplicate.
  const bool identical = !sameFolder && existing == it.name && IsRegularFile(existingPath) &&
                         !IsSameEntry(src, existingPath) && SameFile(src, existingPath) &&
                         SameContent(src, existingPath);

  const std::string nameTitle = NamingTitle(it.title, it.charset);
  std::string title = nameTitle;
  bool replace = false;
  if (!identical && !existing.empty() && !sameFolder && !(move && target == cx.svc.trashFolder)) {
    CollisionOutcome c = AskCollision(cx, tn, existing, nameTitle, it.title, it.charset, it.ext);
    if (c.skip) return true;
    replace = c.replace;
    if (!replace) title = c.title;
  }

  std::string newName, newTitle;
  if (identical || replace) {
    newName = it.name;
    newTitle = nameTitle;
  } else {
    UniqueName u = UniqueFileName(tn, title, it.ext);
    if (!u.ok) {
      cx.FileError(move ? "move" : "copy", src, target + SafeFileName(title), u.error);
      return false;
    }
    newName = u.fileName;
    newTitle = u.title;
  }
  std::string dst = target + newName;
  // Another writer may take the chosen name before the file gets there: then the next one.
  const NextTarget nextName = [&]() -> std::string {
    tn.Add(newName);
    UniqueName u = UniqueFileName(tn, title, it.ext);
    if (!u.ok) return {};
    newName = u.fileName;
    newTitle = u.title;
    return target + newName;
  };
  const std::string srcSection = it.Section();
  StringList lines = cx.tx.Lines(it.folder, srcSection);
  const int flags = FlagsOf(lines, it.flags);

  // Another entry of the source folder still uses the file (a tagged outgoing entry, say):
  // it stays where it is and is copied instead.
  bool othersUse = false;
  if (move) {
    for (const auto& s : cx.tx.SectionsOf(it.folder, it.name))
      if (!SameText(s, srcSection)) othersUse = true;
  }

  // The file.
  if (!identical) {
    FileStatus f = (!move || othersUse) ? CopyFileKeepTime(src, dst, replace, nextName, &dst)
                                         : MoveEntry(src, dst, replace, nextName, &dst);
    if (f) {
      cx.FileError(move ? "move" : "copy", src, f.target.empty() ? dst : f.target, f.error);
      return false;
    }
    // A replaced file cannot be brought back, so a copy over it is not undone either.
    if (!move || othersUse) {
      if (!replace) cx.tx.FileCreated(dst);
    } else {
      cx.tx.FileMoved(src, dst);
    }
    if (replace && existing != newName) {
      ::unlink(existingPath.c_str());
      tn.Remove(existing);
    }
    tn.Add(newName);
    if (move && !othersUse) cx.tx.NamesOf(it.folder).Remove(it.name);
  } else if (move && !othersUse) {
    if (::unlink(src.c_str()) != 0) {
      cx.FileError("delete", src, {}, errno);
      return false;
    }
    // The twin holds the same bytes, so the source can be made again if the index fails.
    cx.tx.TwinRemoved(src, existingPath);
    cx.tx.NamesOf(it.folder).Remove(it.name);
  }

  // The target entry.
  std::string targetSection = newName;
  if (identical) {
    const int kind = flags & dfMailMask;
    const std::string addr = ValueOf(lines, "Address"), time = ValueOf(lines, "Time");
    std::string twin;
    for (const auto& s : cx.tx.SectionsOf(target, newName)) {
      StringList tl = cx.tx.Lines(target, s);
      if ((FlagsOf(tl, 0) & dfMailMask) == kind && ValueOf(tl, "Address") == addr &&
          ValueOf(tl, "Time") == time) {
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
      auto p = UniqueSectionPrefix(cx.tx.Index(target), newName, true, *cx.svc.random);
      if (!p) {
        cx.FileError(move ? "move" : "copy", src, dst, EEXIST);
        return false;
      }
      targetSection = *p + newName;
    }
  } else {
    // The name is new in the target (or replaces a file there): entries left behind for an
    // earlier file of that name must not describe this one.
    for (const auto& s : cx.tx.SectionsOf(target, newName)) {
      if (replace && (FlagsOf(cx.tx.Lines(target, s), 0) & dfUnread)) cx.tx.ChangeUnread(target, -1);
      cx.tx.Erase(target, s);
    }
  }
  cx.tx.Remember(target, targetSection);
  cx.tx.WriteLines(target, targetSection, LinesFor(cx, target, lines));
  const std::string shownTitle = StoredTitle(newTitle, it.title, it.charset);
  // Compared as stored: a title in another charset reads differently from the UTF-8 file name.
  if (shownTitle != StripExtension(newName))
    cx.tx.Write(target, targetSection, "Title", shownTitle);
  else
    cx.tx.DeleteKey(target, targetSection, "Title");
  if (flags & dfReceived) cx.tx.DeleteKey(target, targetSection, "Recv");
  int newFlags = flags;
  if (!move && IsPendingFlags(flags)) newFlags &= ~(dfPending | dfResent);
  if (newFlags != flags) cx.tx.Write(target, targetSection, "Flags", std::to_string(newFlags));
  if (!it.sticker.empty() && it.sticker != ValueOf(lines, "Sticker"))
    cx.tx.Write(target, targetSection, "Sticker", it.sticker);
  KeepTrashOrigin(cx, it.folder, target, targetSection, move);

  if (move) {
    cx.tx.Erase(it.folder, srcSection);
    if (othersUse) {
      // The file stayed for the other entry; a lone tagged entry takes the plain name.
      auto rest = cx.tx.SectionsOf(it.folder, it.name);
      if (rest.size() == 1 && !SplitTagPrefix(rest[0]).prefix.empty() &&
          !SameText(SplitTagPrefix(rest[0]).prefix, kContactRefPrefix) &&
          !SameText(SplitTagPrefix(rest[0]).prefix, kLinkPrefix)) {
        StringList rl = cx.tx.Lines(it.folder, rest[0]);
        cx.tx.Erase(it.folder, rest[0]);
        cx.tx.Remember(it.folder, it.name);
        cx.tx.WriteLines(it.folder, it.name, rl);
        FollowPendingRegister(cx, ValueOf(rl, "MsgID"), FlagsOf(rl, 0), {}, it.name, 0, false);
      }
    }
    if (flags & dfUnread) {
      cx.tx.ChangeUnread(it.folder, -1);
      cx.tx.ChangeUnread(target, +1);
    }
    // The pending register follows an outgoing message.
    FollowPendingRegister(cx, ValueOf(lines, "MsgID"), flags, target, targetSection, newFlags,
                          IsPendingFlags(flags));
    if (!othersUse) cx.co.quickboard.PathMoved(src, dst, false);
  } else if (newFlags & dfUnread) {
    cx.tx.ChangeUnread(target, +1);
  }
  auto split = SplitTagPrefix(targetSection);
  it.folder = target;
  it.name = newName;
  it.prefix = split.prefix;
  it.title = shownTitle;
  it.flags = newFlags;
  return true;
}

namespace {

bool TransferFolder(OpContext& cx, OpItem& it, bool move) {
  const std::string src = Slashed(it.Path());
  const bool sameFolder = it.targetFolder == it.folder || SameFolder(it.targetFolder, it.folder);
  const std::string target = sameFolder ? it.folder : it.targetFolder;
  // By identity, so a path to the folder through a link is caught as well.
  if (IsBelow(target, src) || IsSameOrInside(src, target)) {
    cx.Refuse("Sorry, but you cannot " + std::string(move ? "move" : "copy") +
              " a folder into itself.");
    return false;
  }
  if (move && sameFolder) return true;
  if (move && cx.co.openDocs.AnyOpenBelow(src)) {
    cx.Refuse("Sorry, but one or more files from this folder or its subfolders are opened. You must close them first.");
    return false;
  }
  FolderNames& tn = cx.tx.NamesOf(target);
  UniqueName u = UniqueFileName(tn, NamingTitle(it.title, it.charset), "");
  if (!u.ok) {
    cx.FileError(move ? "move" : "copy", src, target + SafeFileName(it.title), u.error);
    return false;
  }
  std::string dst = target + u.fileName + "/";
  const std::string naming = NamingTitle(it.title, it.charset);
  const NextTarget nextName = [&]() -> std::string {
    tn.Add(u.fileName);
    u = UniqueFileName(tn, naming, "");
    return u.ok ? target + u.fileName + "/" : std::string();
  };
  // A copy that stops half-way is taken away again by CopyTree; the source is untouched.
  FileStatus f = move ? MoveEntry(src, dst, false, nextName, &dst)
                       : CopyTree(src, dst, false, {}, nextName, &dst);
  if (f) {
    cx.FileError(f.verb, f.path, f.target, f.error);
    return false;
  }
  tn.Add(u.fileName);
  if (move) {
    cx.tx.FileMoved(src, dst);
    cx.tx.NamesOf(it.folder).Remove(it.name);
  } else {
    cx.tx.FileCreated(dst);
    // The copy holds the same unread entries as the original.
    if (cx.svc.unread) {
      cx.svc.unread->CopyFolder(src, dst);
      cx.tx.FolderCopied(src, dst);
    }
  }
  // The folder's own entry lives in its parent's index, named after it with a "." appended.
  const std::string oldSection = it.name + ".", newSection = u.fileName + ".";
  StringList lines = cx.tx.Lines(it.folder, oldSection);
  for (const auto& s : cx.tx.SectionsOf(target, newSection)) cx.tx.Erase(target, s);
  cx.tx.Remember(target, newSection);
  cx.tx.WriteLines(target, newSection, LinesFor(cx, target, lines));
  if (u.title != u.fileName || IsBelow(target, cx.svc.contactsFolder))
    cx.tx.Write(target, newSection, "Title", u.title);
  else
    cx.tx.DeleteKey(target, newSection, "Title");
  KeepTrashOrigin(cx, it.folder, target, newSection, move);
  if (move) {
    cx.tx.Erase(it.folder, oldSection);
    FolderMovedAlong(cx, src, dst);
  }
  it.folder = target;
  it.name = u.fileName;
  it.title = u.title;
  return true;
}

bool TransferContact(OpContext& cx, OpItem& it, bool move) {
  const std::string target = it.targetFolder;
  const bool group = it.ext.size() == 1 && it.ext[0] == kGroupMarkerExt;
  if (group && IsBelow(target, cx.svc.contactsFolder)) {
    cx.Refuse("Sorry, but you cannot copy an address group into an address group.");
    return false;
  }
  const std::string section = std::string(kContactRefPrefix) + it.name;
  if (target != cx.svc.contactsFolder) {
    if (cx.tx.Lines(target, section).empty()) {
      cx.tx.Remember(target, section);
      cx.tx.WriteEmpty(target, section);
    }
  }
  if (move && !it.refFolder.empty() && Slashed(it.refFolder) != cx.svc.contactsFolder &&
      Slashed(it.refFolder) != target)
    cx.tx.Erase(Slashed(it.refFolder), section);
  it.refFolder = target;
  return true;
}

}  // namespace

bool StoreFile(OpContext& cx, OpItem& it, bool move) {
  const std::string target = it.targetFolder.empty() ? it.folder : it.targetFolder;
  const std::string& src = it.sourceFile;
  if (src.empty() || !IsRegularFile(src)) {
    cx.Absent();
    return false;
  }
  const std::string ext = it.ext.empty() ? ExtensionOf(BaseNameOf(src)) : it.ext;
  std::string title = it.title.empty() ? StripExtension(BaseNameOf(src)) : it.title;
  const std::string nameTitle = NamingTitle(title, it.charset);
  FolderNames& tn = cx.tx.NamesOf(target);

  bool replace = false;
  std::string plain = SafeFileName(nameTitle);
  if (!ext.empty()) plain += "." + ext;
  std::string chosenTitle = nameTitle;
  const std::string existing = tn.Existing(plain);
  // The source itself holding the name (a copy beside the original) is no question: both stay.
  const bool ask = (move || it.askOnCollision) && !existing.empty() && !IsSameEntry(src, target + existing);
  if (ask) {
    CollisionOutcome c = AskCollision(cx, tn, existing, nameTitle, title, it.charset, ext, src);
    if (c.skip) return true;
    replace = c.replace;
    if (!replace) chosenTitle = c.title;
  }
  std::string newName, newTitle;
  if (replace) {
    newName = existing;
    newTitle = nameTitle;
  } else {
    UniqueName u = UniqueFileName(tn, chosenTitle, ext);
    if (!u.ok) {
      cx.FileError(move ? "move" : "copy", src, target + SafeFileName(title), u.error);
      return false;
    }
    newName = u.fileName;
    newTitle = u.title;
  }
  std::string dst = target + newName;
  const NextTarget nextName = [&]() -> std::string {
    tn.Add(newName);
    UniqueName u = UniqueFileName(tn, chosenTitle, ext);
    if (!u.ok) return {};
    newName = u.fileName;
    newTitle = u.title;
    return target + newName;
  };
  FileStatus f = move ? MoveEntry(src, dst, replace, nextName, &dst)
                       : CopyFileKeepTime(src, dst, replace, nextName, &dst);
  if (f) {
    cx.FileError(move ? "move" : "copy", src, f.target.empty() ? dst : f.target, f.error);
    return false;
  }
  if (move) cx.tx.FileMoved(src, dst);
  else cx.tx.FileCreated(dst);
  tn.Add(newName);
  for (const auto& s : cx.tx.SectionsOf(target, newName)) {
    if (replace && (FlagsOf(cx.tx.Lines(target, s), 0) & dfUnread)) cx.tx.ChangeUnread(target, -1);
    cx.tx.Erase(target, s);
  }
  cx.tx.Remember(target, newName);
  if (!it.entrySection.empty()) {
    // A duplicate: the original's entry, as a copy (not pending, not received again, not
    // from the trash).
    const StringList lines = cx.tx.Lines(Slashed(it.entryFolder), it.entrySection);
    if (!lines.empty()) {
      cx.tx.WriteLines(target, newName, lines);
      const int flags = FlagsOf(lines, 0);
      int newFlags = flags;
      if (IsPendingFlags(flags)) newFlags &= ~(dfPending | dfResent);
      if (newFlags != flags) cx.tx.Write(target, newName, "Flags", std::to_string(newFlags));
      if (flags & dfReceived) cx.tx.DeleteKey(target, newName, "Recv");
      cx.tx.DeleteKey(target, newName, "Title");
      if (!ValueOf(lines, kTrashOriginKey).empty()) cx.tx.DeleteKey(target, newName, kTrashOriginKey);
      if (newFlags & dfUnread) cx.tx.ChangeUnread(target, +1);
    }
  }
  const std::string shownTitle = StoredTitle(newTitle, title, it.charset);
  if (shownTitle != StripExtension(newName)) cx.tx.Write(target, newName, "Title", shownTitle);
  if (!it.charset.empty()) cx.tx.Write(target, newName, "Charset", it.charset);
  it.folder = target;
  it.name = newName;
  it.prefix.clear();
  it.title = shownTitle;
  it.ext = ext;
  return true;
}

}  // namespace px::store
