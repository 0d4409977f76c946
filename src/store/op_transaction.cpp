#include "store/op_transaction.h"

#include "foundation/atomic_file.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/folder_listing.h"
#include "store/newmail_list.h"
#include "store/tree_ops.h"
#include "store/unread_list.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace px::store {

// One open index with a lazily built map from file name to the sections describing it.
struct OpTransaction::OpenIndex {
  std::unique_ptr<TPXIniFile> ini;
  bool byNameBuilt = false;
  // folded file name -> the sections that describe that file (any prefix)
  std::unordered_map<std::string, std::vector<std::string>> byName;
  // Unread count of the index before this batch changed it (-1: unchanged so far).
  int64_t unreadBefore = -1;

  void Build() {
    if (byNameBuilt) return;
    byNameBuilt = true;
    ini->ForEachSection([&](std::string_view name, std::span<const std::string_view>) {
      auto split = SplitTagPrefix(name);
      byName[FoldCase(split.rest)].emplace_back(name);
    });
  }
  std::vector<std::string> SectionsOf(std::string_view fileName) {
    Build();
    auto it = byName.find(FoldCase(fileName));
    return it == byName.end() ? std::vector<std::string>{} : it->second;
  }
  void NoteAdded(const std::string& section) {
    if (!byNameBuilt) return;
    auto& v = byName[FoldCase(SplitTagPrefix(section).rest)];
    for (const auto& s : v)
      if (SameText(s, section)) return;
    v.push_back(section);
  }
  void NoteErased(const std::string& section) {
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
  void Forget() {
    byName.clear();
    byNameBuilt = false;
  }
};

struct OpTransaction::Undo {
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

OpTransaction::OpTransaction(IniRegistry& registry, UnreadList* unread, NewMailList* newMail,
                             TPXCustomIni* sent)
    : registry_(registry), unread_(unread), newMail_(newMail), sent_(sent) {}

OpTransaction::~OpTransaction() {
  // Handles released here save as the registry does for any handle; Close reports failures.
  for (auto& [folder, ix] : indexes_) (void)ix->ini->Release();
}

OpTransaction::OpenIndex& OpTransaction::Open(const std::string& folder) {
  auto& slot = indexes_[folder];
  if (!slot) {
    slot = std::make_unique<OpenIndex>();
    slot->ini = std::make_unique<TPXIniFile>(registry_, IndexPathOf(folder));
  }
  return *slot;
}

TPXIniFile& OpTransaction::Index(const std::string& folder) { return *Open(folder).ini; }

std::vector<std::string> OpTransaction::SectionsOf(const std::string& folder,
                                                   std::string_view fileName) {
  return Open(folder).SectionsOf(fileName);
}

StringList OpTransaction::Lines(const std::string& folder, const std::string& section) {
  StringList out;
  Open(folder).ini->ReadSectionValues(section, out);
  return out;
}

FolderNames& OpTransaction::NamesOf(const std::string& folder) {
  auto& slot = names_[folder];
  if (!slot) slot = std::make_unique<FolderNames>(folder);
  return *slot;
}

void OpTransaction::ForgetNames(const std::string& folder) { names_.erase(folder); }

void OpTransaction::Baseline(OpenIndex& ix) {
  if (unread_ && ix.unreadBefore < 0) ix.unreadBefore = CountUnreadEntries(*ix.ini);
}

void OpTransaction::Remember(const std::string& folder, const std::string& section) {
  Undo u{Undo::Section, folder, section, {}, false, 0};
  OpenIndex& ix = Open(folder);
  Baseline(ix);
  ix.ini->ReadSectionValues(section, u.lines);
  u.existed = !u.lines.empty() || [&] {
    // A section without lines (a contact reference): look it up among the known names.
    for (const auto& s : ix.SectionsOf(SplitTagPrefix(section).rest))
      if (SameText(s, section)) return true;
    return false;
  }();
  undo_.push_back(std::move(u));
}

void OpTransaction::Erase(const std::string& folder, const std::string& section) {
  OpenIndex& ix = Open(folder);
  Remember(folder, section);
  ix.ini->EraseSection(section);
  ix.NoteErased(section);
}

void OpTransaction::Write(const std::string& folder, const std::string& section,
                          std::string_view key, std::string_view value) {
  OpenIndex& ix = Open(folder);
  Baseline(ix);
  ix.ini->WriteString(section, key, value);
  ix.NoteAdded(section);
}

void OpTransaction::WriteLines(const std::string& folder, const std::string& section,
                               const StringList& lines) {
  for (const auto& l : lines) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    Write(folder, section, std::string_view(l).substr(0, eq), std::string_view(l).substr(eq + 1));
  }
}

void OpTransaction::WriteEmpty(const std::string& folder, const std::string& section) {
  OpenIndex& ix = Open(folder);
  Baseline(ix);
  ix.ini->WriteString(section, "Flags", "0");
  ix.ini->DeleteKey(section, "Flags");
  ix.NoteAdded(section);
}

void OpTransaction::DeleteKey(const std::string& folder, const std::string& section,
                              std::string_view key) {
  OpenIndex& ix = Open(folder);
  Baseline(ix);
  ix.ini->DeleteKey(section, key);
}

void OpTransaction::ChangeUnread(const std::string& folder, int64_t delta) {
  if (!unread_ || delta == 0) return;
  Baseline(Open(folder));
}

void OpTransaction::SettleUnread() {
  if (!unread_) return;
  for (auto& [folder, ix] : indexes_) {
    if (ix->unreadBefore < 0) continue;
    const int64_t delta = CountUnreadEntries(*ix->ini) - ix->unreadBefore;
    ix->unreadBefore = -1;
    if (delta == 0) continue;
    unread_->ChangeUnreadCount(folder, delta, true);
    undo_.push_back(Undo{Undo::Unread, folder, {}, {}, false, delta});
  }
}

void OpTransaction::SentWrite(const std::string& section, std::string_view key,
                              std::string_view value) {
  if (!sent_) return;
  bool noted = false;
  for (const auto& u : undo_)
    if (u.kind == Undo::SentSection && u.b == section) noted = true;
  if (!noted) {
    Undo u{Undo::SentSection, {}, section, {}, false, 0};
    sent_->ReadSectionValues(section, u.lines);
    u.existed = !u.lines.empty();
    undo_.push_back(std::move(u));
  }
  sent_->WriteString(section, key, value);
}

void OpTransaction::FileMoved(const std::string& from, const std::string& to) {
  undo_.push_back(Undo{Undo::FileMoved, from, to, {}, false, 0});
}
void OpTransaction::FileCreated(const std::string& path) {
  undo_.push_back(Undo{Undo::FileCreated, path, {}, {}, false, 0});
}
void OpTransaction::TwinRemoved(const std::string& path, const std::string& twin) {
  undo_.push_back(Undo{Undo::TwinRemoved, path, twin, {}, false, 0});
}
void OpTransaction::FolderMoved(const std::string& from, const std::string& to) {
  undo_.push_back(Undo{Undo::FolderMoved, from, to, {}, false, 0});
}
void OpTransaction::FolderCopied(const std::string& from, const std::string& to) {
  undo_.push_back(Undo{Undo::FolderCopied, from, to, {}, false, 0});
}
void OpTransaction::Parked(const std::string& path, const std::string& hidden) {
  FileMoved(path, hidden);
  parked_.push_back(hidden);
}

void OpTransaction::RestoreSection(TPXCustomIni& ini, const std::string& section,
                                   const StringList& lines, bool existed) {
  ini.EraseSection(section);
  if (!existed) return;
  if (lines.empty()) {
    ini.WriteString(section, "Flags", "0");
    ini.DeleteKey(section, "Flags");
  }
  for (const auto& l : lines) {
    const size_t eq = l.find('=');
    if (eq != std::string::npos && eq > 0)
      ini.WriteString(section, std::string_view(l).substr(0, eq), std::string_view(l).substr(eq + 1));
  }
}

void OpTransaction::Rollback() {
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    switch (it->kind) {
      case Undo::FileMoved:
        (void)MoveEntry(it->b, it->a);
        break;
      case Undo::FileCreated:
        if (IsDirectory(it->a)) (void)DeleteTree(it->a, false);
        else ::unlink(it->a.c_str());
        break;
      case Undo::Section:
        RestoreSection(*Open(it->a).ini, it->b, it->lines, it->existed);
        break;
      case Undo::Unread:
        if (unread_) unread_->ChangeUnreadCount(it->a, -it->delta, true);
        break;
      case Undo::SentSection:
        if (sent_) RestoreSection(*sent_, it->b, it->lines, it->existed);
        break;
      case Undo::FolderMoved:
        if (unread_) unread_->MoveFolder(it->b, it->a);
        if (newMail_) newMail_->MoveFolder(it->b, it->a);
        break;
      case Undo::TwinRemoved:
        (void)CopyFileKeepTime(it->b, it->a);
        break;
      case Undo::FolderCopied:
        if (unread_) unread_->ResetTree(it->b);
        break;
    }
  }
  undo_.clear();
  parked_.clear();
  names_.clear();
  for (auto& [f, ix] : indexes_) {
    ix->Forget();
    ix->unreadBefore = -1;
  }
}

void OpTransaction::SyncChangedFolders() const {
  // Files renamed, placed or removed since the last commit: their folders are flushed before
  // the indexes that describe them are saved, so after a crash no saved entry names a file
  // whose new name was lost. One flush per folder and commit, not one per file.
  std::set<std::string> folders;
  auto note = [&](const std::string& path) {
    std::string p = path;
    if (!p.empty() && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    if (slash != std::string::npos) folders.insert(p.substr(0, slash + 1));
  };
  for (const Undo& u : undo_) {
    switch (u.kind) {
      case Undo::FileMoved:
      case Undo::FolderMoved:
        note(u.a);
        note(u.b);
        break;
      case Undo::FileCreated:
      case Undo::TwinRemoved:
        note(u.a);
        break;
      default: break;
    }
  }
  for (const std::string& f : folders) (void)SyncFolderOf(f + ".");
}

bool OpTransaction::RemoveParkedToMakeRoom() {
  // The room the parked files give back, on the file system of each index to be written.
  struct Disk {
    uint64_t free = 0, freed = 0, needed = 0;
  };
  std::map<dev_t, Disk> disks;
  auto diskOf = [&](const std::string& path) -> Disk* {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return nullptr;
    auto [it, fresh] = disks.try_emplace(st.st_dev);
    if (fresh) {
      struct statvfs vfs{};
      if (::statvfs(path.c_str(), &vfs) == 0) it->second.free = uint64_t(vfs.f_bavail) * vfs.f_frsize;
    }
    return &it->second;
  };
  for (const auto& p : parked_) {
    struct stat st{};
    if (::lstat(p.c_str(), &st) != 0) continue;
    const size_t slash = p.rfind('/');
    if (Disk* d = diskOf(p.substr(0, slash + 1))) d->freed += uint64_t(st.st_blocks) * 512;
  }
  std::set<std::string> changed;
  for (const Undo& u : undo_)
    if (u.kind == Undo::Section) changed.insert(u.a);
  for (const auto& folder : changed) {
    // The new index is written beside the old one before it replaces it; with entries erased
    // it is not larger than the old one.
    struct stat st{};
    const uint64_t size = ::lstat(IndexPathOf(folder).c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
    if (Disk* d = diskOf(folder)) d->needed += size + 4096;
  }
  for (const auto& [dev, d] : disks)
    if (d.needed > d.free + d.freed) return false;
  // Past this point the deleted files cannot be put back: their entries still can, and an
  // entry that names no file is only shown as absent.
  std::set<std::string> gone(parked_.begin(), parked_.end());
  for (const auto& p : parked_) ::unlink(p.c_str());
  for (const auto& p : parked_) (void)SyncFolderOf(p);
  parked_.clear();
  std::erase_if(undo_, [&](const Undo& u) { return u.kind == Undo::FileMoved && gone.count(u.b); });
  return true;
}

FileStatus OpTransaction::SaveAll() {
  FileStatus failed;
  // sent.ini first: the pending mail it points at must never be lost to an index saved alone.
  if (sent_) failed = sent_->UpdateFile();
  if (failed.ok()) {
    for (auto& [folder, ix] : indexes_) {
      FileStatus st = ix->ini->UpdateFile();
      if (!st.ok() && failed.ok()) failed = st;
    }
  }
  return failed;
}

FileStatus OpTransaction::Commit() {
  SettleUnread();
  SyncChangedFolders();
  FileStatus failed = SaveAll();
  // A full disk: deleting is how the user makes room, so the files being deleted go first and
  // the indexes, which only shrink by it, are written after them.
  if ((failed.error == ENOSPC || failed.error == EDQUOT) && !parked_.empty() && RemoveParkedToMakeRoom())
    failed = SaveAll();
  if (failed.ok()) {
    undo_.clear();
    for (const auto& p : parked_) ::unlink(p.c_str());
    parked_.clear();
    return failed;
  }
  // Put the documents of this batch back where their entries say they are, and write the
  // indexes that were saved back to their former state.
  Rollback();
  for (auto& [folder, ix] : indexes_) (void)ix->ini->UpdateFile();
  if (sent_) (void)sent_->UpdateFile();
  return failed;
}

size_t OpTransaction::Changes() const { return undo_.size(); }

FileStatus OpTransaction::Close() {
  SettleUnread();
  FileStatus first;
  for (auto& [folder, ix] : indexes_) {
    FileStatus st = ix->ini->Release();
    if (!st.ok() && first.ok()) first = st;
  }
  indexes_.clear();
  if (sent_) {
    FileStatus st = sent_->UpdateFile();
    if (!st.ok() && first.ok()) first = st;
  }
  return first;
}

}  // namespace px::store
