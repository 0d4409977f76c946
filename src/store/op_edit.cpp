// The operations that change documents in place: new folders, names, titles, index keys, the
// outbox, deleting, and the contact entries.
#include "store/index_entry.h"
#include "store/leftover_sweep.h"
#include "store/op_context.h"

#include "foundation/address.h"
#include "foundation/atomic_file.h"
#include "foundation/dates.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/file_errors.h"
#include "store/tree_ops.h"
#include "store/unique_names.h"
#include "store/unread_list.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

namespace px::store {

namespace {

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

// ---- Create, store, rename, retitle ----

bool CreateFolder(OpContext& cx, OpItem& it) {
  const std::string shown = it.targetFolder.empty() ? it.folder : it.targetFolder;
  FolderNames& names = cx.tx.NamesOf(shown);
  UniqueName u = UniqueFileName(names, NamingTitle(it.title, it.charset), "");
  if (!u.ok) {
    cx.FileError("create", shown + SafeFileName(it.title), {}, u.error);
    return false;
  }
  const std::string naming = NamingTitle(it.title, it.charset);
  std::string made;
  FileStatus f = MakeNewFolder(shown + u.fileName, [&]() -> std::string {
    names.Add(u.fileName);
    u = UniqueFileName(names, naming, "");
    return u.ok ? shown + u.fileName : std::string();
  }, &made);
  if (f) {
    cx.FileError("create", f.path, {}, f.error);
    return false;
  }
  cx.tx.FileCreated(made);
  names.Add(u.fileName);
  const std::string section = u.fileName + ".";
  for (const auto& s : cx.tx.SectionsOf(shown, section)) cx.tx.Erase(shown, s);
  cx.tx.Remember(shown, section);
  if (u.title != u.fileName || IsBelow(shown, cx.svc.contactsFolder))
    cx.tx.Write(shown, section, "Title", u.title);
  it.folder = shown;
  it.name = u.fileName;
  it.title = u.title;
  it.ext.clear();
  return true;
}

bool RenameDoc(OpContext& cx, OpItem& it) {
  // A group row carries its section name, the folder name + ".": the folder is renamed.
  if (it.prefix.empty() && it.name.size() > 1 && it.name.back() == '.' &&
      IsDirectory(it.folder + it.name.substr(0, it.name.size() - 1)))
    it.name.pop_back();
  const std::string path = it.Path();
  if (it.name.empty() || !PathExists(path)) {
    cx.Absent();
    return false;
  }
  const bool folder = IsDirectory(path);
  if (folder ? cx.co.openDocs.AnyOpenBelow(Slashed(path)) : cx.co.openDocs.IsOpen(path)) {
    if (!folder) cx.co.openDocs.BringForward(path);
    else cx.Refuse("Sorry, but one or more files from this folder or its subfolders are opened. You must close them first.");
    return false;
  }
  const std::string ext = folder ? std::string() : it.ext;
  FolderNames& names = cx.tx.NamesOf(it.folder);
  UniqueName u = UniqueFileName(names, NamingTitle(it.newTitle, it.charset), ext, it.name);
  if (!u.ok) {
    cx.FileError("rename", path, it.folder + SafeFileName(it.newTitle), u.error);
    return false;
  }
  std::string newPath = it.folder + u.fileName;
  if (u.fileName != it.name) {
    // Only the spelling changes: the same entry, which a no-replace rename would refuse.
    const bool caseOnly = SameText(u.fileName, it.name);
    const std::string naming = NamingTitle(it.newTitle, it.charset);
    FileStatus f = MoveEntry(path, newPath, caseOnly, [&]() -> std::string {
      names.Add(u.fileName);
      u = UniqueFileName(names, naming, ext, it.name);
      return u.ok && u.fileName != it.name ? it.folder + u.fileName : std::string();
    }, &newPath);
    if (f) {
      cx.FileError("rename", path, f.target.empty() ? newPath : f.target, f.error);
      return false;
    }
    newPath = it.folder + u.fileName;  // the name it got (a folder's path without its "/")
    cx.tx.FileMoved(path, newPath);
    names.Remove(it.name);
    names.Add(u.fileName);
  }
  const bool inContacts = IsBelow(it.folder, cx.svc.contactsFolder);
  const std::string shownTitle = StoredTitle(u.title, it.newTitle, it.charset);
  const std::string oldKey = folder ? it.name + "." : it.name;
  const std::string newKey = folder ? u.fileName + "." : u.fileName;
  auto sections = cx.tx.SectionsOf(it.folder, oldKey);
  if (sections.empty()) sections.push_back(oldKey);  // no entry yet: the title needs one
  for (const auto& s : sections) {
    const std::string prefix = SplitTagPrefix(s).prefix;
    StringList lines = cx.tx.Lines(it.folder, s);
    const std::string ns = prefix + newKey;
    if (!SameText(s, ns) || s != ns) {
      cx.tx.Erase(it.folder, s);
      cx.tx.Remember(it.folder, ns);
      cx.tx.WriteLines(it.folder, ns, lines);
    } else {
      cx.tx.Remember(it.folder, ns);
    }
    if (shownTitle != (folder ? u.fileName : StripExtension(u.fileName)) || inContacts)
      cx.tx.Write(it.folder, ns, "Title", shownTitle);
    else
      cx.tx.DeleteKey(it.folder, ns, "Title");
    FollowPendingRegister(cx, ValueOf(lines, "MsgID"), FlagsOf(lines, 0), {}, ns, 0, false);
  }
  if (u.fileName != it.name) {
    if (folder) {
      FolderMovedAlong(cx, Slashed(path), Slashed(newPath));
    } else {
      cx.co.quickboard.PathMoved(path, newPath, false);
    }
  }
  cx.co.quickboard.CaptionChanged(folder ? Slashed(newPath) : newPath, u.title);
  it.name = u.fileName;
  it.title = shownTitle;
  return true;
}

bool SetTitle(OpContext& cx, OpItem& it) {
  const std::string section = IsDirectory(it.Path()) ? it.name + "." : it.Section();
  cx.tx.Remember(it.folder, section);
  cx.tx.Write(it.folder, section, "Title", it.newTitle.empty() ? it.title : it.newTitle);
  if (!it.newTitle.empty()) it.title = it.newTitle;
  cx.co.quickboard.CaptionChanged(it.Path(), it.title);
  return true;
}

// ---- Index edits ----

bool WriteKey(OpContext& cx, OpItem& it, int code) {
  const bool contactRef = it.refPrefix == kContactRefPrefix && !it.refFolder.empty();
  // Colour and sticker of a contact reference belong to the folder showing it.
  const std::string folder = contactRef ? Slashed(it.refFolder) : it.folder;
  const std::string section = contactRef ? std::string(kContactRefPrefix) + it.name : it.Section();
  cx.tx.Remember(folder, section);
  switch (code) {
    case opWriteFlags: {
      const int old = ReadEntryFlags(cx.tx.Index(folder), section, 0);
      cx.tx.Write(folder, section, "Flags", std::to_string(it.flags & dfStoredMask));
      if ((old ^ it.flags) & dfUnread) cx.tx.ChangeUnread(folder, (it.flags & dfUnread) ? 1 : -1);
      break;
    }
    case opWriteCharset:
      if (it.charset.empty()) cx.tx.DeleteKey(folder, section, "Charset");
      else cx.tx.Write(folder, section, "Charset", it.charset);
      break;
    case opWriteSticker:
      if (it.sticker.empty()) cx.tx.DeleteKey(folder, section, "Sticker");
      else cx.tx.Write(folder, section, "Sticker", it.sticker);
      break;
  }
  return true;
}

bool PutInOutbox(OpContext& cx, OpItem& it) {
  const std::string path = it.Path();
  if (!IsRegularFile(path)) {
    cx.Absent();
    return false;
  }
  const std::string section = it.Section();
  StringList lines = cx.tx.Lines(it.folder, section);
  const int old = FlagsOf(lines, it.flags);
  if (IsPendingFlags(old) && it.dropAddress.empty() && !it.reuseSection) {
    // Already waiting to be sent: the pending entry itself takes the recipients given and keeps
    // its MsgID; a second outgoing entry would send the document twice. (The compose window
    // files a re-edited message anew and drops the old version itself: reuseSection.)
    cx.tx.Remember(it.folder, section);
    if (!it.address.empty()) {
      auto put = [&](std::string_view key, const std::string& v) {
        if (v.empty()) cx.tx.DeleteKey(it.folder, section, key);
        else cx.tx.Write(it.folder, section, key, v);
      };
      put("Address", it.address);
      put("Cc", it.cc);
      put("Bcc", it.bcc);
      put("ExcludeTo", it.excludeTo);
    }
    it.flags = old;
    it.msgId = ValueOf(lines, "MsgID");
    it.seriesId = it.msgId;
    return true;
  }
  if (IsPendingFlags(old) && !it.dropAddress.empty()) {
    // A pending message takes or loses a recipient.
    const std::string keys[] = {"Address", "Cc", "Bcc"};
    cx.tx.Remember(it.folder, section);
    if (!it.removeAddress) {
      for (const auto& k : keys)
        if (AddressInList(ValueOf(lines, k), it.dropAddress)) return true;
      std::string addr = ValueOf(lines, "Address");
      addr = addr.empty() ? it.dropAddress : addr + ", " + it.dropAddress;
      cx.tx.Write(it.folder, section, "Address", addr);
      return true;
    }
    const std::string bare = LowerCase(BareAddressOf(it.dropAddress));
    bool groupLeft = false;
    for (const auto& k : keys) {
      StringList kept;
      bool changed = false;
      for (const auto& e : ParseAddressList(ValueOf(lines, k))) {
        if (LowerCase(BareAddressOf(e)) == bare) {
          changed = true;
          continue;
        }
        if (IsGroupAddress(e)) groupLeft = true;
        kept.push_back(e);
      }
      if (changed) cx.tx.Write(it.folder, section, k, JoinAddressList(kept));
    }
    // ExcludeTo names members of the groups among the recipients: a removed group takes its
    // members out of it, and with no group left it has nothing to say.
    if (!groupLeft) {
      cx.tx.DeleteKey(it.folder, section, "ExcludeTo");
    } else if (IsGroupAddress(it.dropAddress) && !it.dropMembers.empty()) {
      std::vector<std::string> members;
      for (const auto& m : it.dropMembers) members.push_back(LowerCase(BareAddressOf(m)));
      StringList kept;
      bool changed = false;
      for (const auto& raw : SplitCommaList(ValueOf(lines, "ExcludeTo"))) {
        const std::string e = Trim(raw);
        if (e.empty()) continue;
        if (std::find(members.begin(), members.end(), LowerCase(BareAddressOf(e))) != members.end()) {
          changed = true;
          continue;
        }
        kept.push_back(e);
      }
      if (changed) {
        if (kept.empty()) cx.tx.DeleteKey(it.folder, section, "ExcludeTo");
        else cx.tx.Write(it.folder, section, "ExcludeTo", JoinExcludeTo(kept));
      }
    }
    return true;
  }
  std::string target = section;
  // A contact card lying in the documents folder is sent as itself, without a second entry.
  const bool card = SameText(it.ext, "vcf") && it.folder == cx.svc.documentsFolder;
  if (!it.reuseSection && !card) {
    auto p = UniqueSectionPrefix(cx.tx.Index(it.folder), it.name, false, *cx.svc.random);
    if (!p) {
      cx.FileError("send", path, {}, EEXIST);
      return false;
    }
    target = *p + it.name;
  }
  int flags = (old & dfKeptForOutbox) | dfQueuedOutgoing;
  if (old & dfMailMask) flags |= dfResent;
  if (it.encrypt) flags |= dfEncrypted;
  if (it.draft) flags |= dfDraft;
  cx.tx.Remember(it.folder, target);
  cx.tx.Write(it.folder, target, "Title", it.title);
  cx.tx.Write(it.folder, target, "Flags", std::to_string(flags));
  auto put = [&](std::string_view key, const std::string& v) {
    if (v.empty()) cx.tx.DeleteKey(it.folder, target, key);
    else cx.tx.Write(it.folder, target, key, v);
  };
  put("Address", it.address);
  put("Cc", it.cc);
  put("Bcc", it.bcc);
  put("ExcludeTo", it.excludeTo);
  put("From", it.from.empty() ? cx.svc.ownFromAddress : it.from);
  cx.tx.Write(it.folder, target, "Time", FormatShortDate(it.time != 0 ? it.time : NowDateTime()));
  put("Charset", it.charset);
  cx.tx.Write(it.folder, target, "MsgID", it.seriesId);
  put("Original", it.original);
  FollowPendingRegister(cx, it.seriesId, flags, it.folder, target, flags, true);
  it.prefix = SplitTagPrefix(target).prefix;
  it.flags = flags;
  it.msgId = it.seriesId;
  return true;
}

// ---- Delete ----

bool DeleteDoc(OpContext& cx, OpItem& it) {
  // A contact shown in another folder (a group, the trash) through its link: only the link
  // goes; the card and its entry in the Contacts folder stay.
  if (it.refPrefix == kContactRefPrefix && !it.refFolder.empty() &&
      Slashed(it.refFolder) != Slashed(it.folder)) {
    cx.tx.Erase(Slashed(it.refFolder), std::string(kContactRefPrefix) + it.name);
    return true;
  }
  // A group row carries its section name, the folder name + ".".
  if (it.prefix.empty() && it.name.size() > 1 && it.name.back() == '.' &&
      IsDirectory(it.folder + it.name.substr(0, it.name.size() - 1))) {
    OpItem group = it;
    group.name.pop_back();
    return DeleteFolder(cx, group);
  }
  const std::string path = it.Path();
  // A folder row: its entry is "name." in the parent, and its counts go with it.
  if (it.prefix.empty() && !it.name.empty() && IsDirectory(path)) return DeleteFolder(cx, it);
  const std::string section = it.Section();
  bool othersUse = false;
  for (const auto& s : cx.tx.SectionsOf(it.folder, it.name))
    if (!SameText(s, section)) othersUse = true;
  const int flags = ReadEntryFlags(cx.tx.Index(it.folder), section, it.flags);
  if (!othersUse && PathExists(path)) {
    if (IsDirectory(path)) {
      FileStatus f = DeleteTree(path, false);
      if (f) {
        cx.FileError("delete", f.path, {}, f.error);
        return false;
      }
    } else {
      const std::string hidden = it.folder + ParkedName(it.name, NewUniqueId(*cx.svc.random));
      if (int err = RenameNoReplace(path, hidden)) {
        cx.FileError("delete", path, {}, err);
        return false;
      }
      cx.tx.Parked(path, hidden);
    }
    cx.tx.NamesOf(it.folder).Remove(it.name);
    cx.co.quickboard.PathRemoved(path, false);
  }
  cx.tx.Erase(it.folder, section);
  if (flags & dfUnread) cx.tx.ChangeUnread(it.folder, -1);
  return true;
}

bool DeleteFolder(OpContext& cx, OpItem& it) {
  const std::string folder = Slashed(it.name.empty() ? it.folder : it.Path());
  const bool trash = folder == cx.svc.trashFolder;
  if (cx.co.openDocs.AnyOpenBelow(folder)) {
    cx.Refuse(trash ? "Sorry, but you must close all opened files from the trash bin before emptying it"
                 : "Sorry, but one or more files from this folder or its subfolders are opened. You must close them first.");
    return false;
  }
  if (!PathExists(folder)) {
    cx.Absent();
    return false;
  }
  auto visitor = [&](const std::string& p, bool isFolder) {
    cx.co.quickboard.PathRemoved(p, isFolder);
  };
  FileStatus f = DeleteTree(folder, trash, visitor);
  // Whatever a partial failure left behind is counted again on the next listing.
  if (cx.svc.unread) cx.svc.unread->ResetTree(folder);
  if (f) {
    cx.FileError(trash && f.path == folder ? "empty" : "delete", f.path, {}, f.error);
    return false;
  }
  if (!trash) {
    const std::string parent = ParentOf(folder);
    const std::string section = BaseNameOf(folder) + ".";
    cx.tx.Erase(parent, section);
    cx.tx.NamesOf(parent).Remove(BaseNameOf(folder));
  }
  cx.tx.ForgetNames(folder);
  return true;
}

// ---- Contacts ----

bool UpdateContact(OpContext& cx, OpItem& it) {
  const std::string folder = it.refPrefix == kContactRefPrefix ? cx.svc.contactsFolder : it.folder;
  const std::string section = it.name;
  cx.tx.Remember(folder, section);
  cx.tx.Write(folder, section, "Title", it.title);
  cx.tx.Write(folder, section, "Address", it.address);
  if (it.addresses.empty()) cx.tx.DeleteKey(folder, section, "Addresses");
  else cx.tx.Write(folder, section, "Addresses", it.addresses);
  cx.tx.Write(folder, section, "Flags", std::to_string(it.flags & dfStoredMask));
  return true;
}

bool CreateContact(OpContext& cx, OpItem& it) {
  const std::string& contacts = cx.svc.contactsFolder;
  std::string section;
  cx.tx.Index(contacts).ForEachSection(
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
  if (section.empty()) section = NewUniqueId(*cx.svc.random) + ".vcf";
  cx.tx.Remember(contacts, section);
  cx.tx.Write(contacts, section, "Title", it.title);
  cx.tx.Write(contacts, section, "Address", it.address);
  if (it.addresses.empty()) cx.tx.DeleteKey(contacts, section, "Addresses");
  else cx.tx.Write(contacts, section, "Addresses", it.addresses);
  cx.tx.Write(contacts, section, "Flags", std::to_string(it.flags & dfStoredMask));
  const std::string shown = it.targetFolder.empty() ? it.folder : it.targetFolder;
  if (!shown.empty() && shown != contacts) {
    const std::string ref = std::string(kContactRefPrefix) + section;
    cx.tx.Remember(shown, ref);
    cx.tx.WriteEmpty(shown, ref);
  }
  it.name = section;
  it.ext = "vcf";
  return true;
}

bool StampContact(OpContext& cx, OpItem& it) {
  const std::string folder = cx.svc.contactsFolder.empty() ? it.folder : cx.svc.contactsFolder;
  struct stat st{};
  if (::stat((folder + it.name).c_str(), &st) != 0) {
    cx.Absent();
    return false;
  }
  // Packed file date: the DOS date in the high word, the DOS time in the low word (local time).
  struct tm tmv{};
  time_t t = st.st_mtime;
  localtime_r(&t, &tmv);
  const uint32_t dosDate = static_cast<uint32_t>(((tmv.tm_year - 80) << 9) | ((tmv.tm_mon + 1) << 5) | tmv.tm_mday);
  const uint32_t dosTime = static_cast<uint32_t>((tmv.tm_hour << 11) | (tmv.tm_min << 5) | (tmv.tm_sec / 2));
  const int32_t packed = static_cast<int32_t>((dosDate << 16) | dosTime);
  cx.tx.Remember(folder, it.name);
  cx.tx.Write(folder, it.name, "Time", std::to_string(packed));
  return true;
}

}  // namespace px::store
