#pragma once
// The transaction of one run of document operations: the indexes it opened (read once, with a
// cache of which sections describe which file), the folder name caches, an undo log of every
// file and entry it changed, and the deleted files parked under a hidden name.
//
// Commit saves sent.ini and the indexes; when a save fails, everything since the last commit is
// put back (files moved back, entries restored, counts undone, parked files returned) and the
// restored indexes are written again, so a failed save leaves the folders as they were.
#include "foundation/types.h"
#include "store/index_file.h"
#include "store/unique_names.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace px::store {

class UnreadList;
class NewMailList;

class OpTransaction {
public:
  // unread, newMail and sent may be null: that bookkeeping is then not done.
  OpTransaction(IniRegistry& registry, UnreadList* unread, NewMailList* newMail,
                TPXCustomIni* sent);
  ~OpTransaction();
  OpTransaction(const OpTransaction&) = delete;
  OpTransaction& operator=(const OpTransaction&) = delete;

  // ---- Reading ----
  TPXIniFile& Index(const std::string& folder);
  // The sections of folder's index that describe fileName (any tag prefix).
  std::vector<std::string> SectionsOf(const std::string& folder, std::string_view fileName);
  StringList Lines(const std::string& folder, const std::string& section);
  FolderNames& NamesOf(const std::string& folder);
  // Drops the name cache of a folder that no longer exists.
  void ForgetNames(const std::string& folder);
  TPXCustomIni* Sent() const { return sent_; }

  // ---- Index changes, each logged for undo ----
  // Notes the section as it is now, so a rollback puts it back (call before the first change
  // of a section that Write does not create afresh).
  void Remember(const std::string& folder, const std::string& section);
  void Erase(const std::string& folder, const std::string& section);
  void Write(const std::string& folder, const std::string& section, std::string_view key,
             std::string_view value);
  void WriteLines(const std::string& folder, const std::string& section, const StringList& lines);
  // A section without keys (a contact reference).
  void WriteEmpty(const std::string& folder, const std::string& section);
  void DeleteKey(const std::string& folder, const std::string& section, std::string_view key);
  // An unread entry of folder came or went. Counts are not stepped entry by entry: at the next
  // commit the count of every folder whose index changed moves by what the index counts now
  // against what it counted before the batch (a message and its unread parts count once, as
  // the listing counts them).
  void ChangeUnread(const std::string& folder, int64_t delta);
  // sent.ini is saved with the indexes, so its changes are put back with theirs.
  void SentWrite(const std::string& section, std::string_view key, std::string_view value);

  // ---- File changes already made, logged for undo ----
  void FileMoved(const std::string& from, const std::string& to);
  void FileCreated(const std::string& path);  // a folder ends in "/"
  // A file removed because a byte-identical twin holds the same bytes.
  void TwinRemoved(const std::string& path, const std::string& twin);
  // The counts of a moved folder tree went along (unread and new-mail lists).
  void FolderMoved(const std::string& from, const std::string& to);
  // The unread counts of a copied folder tree were copied.
  void FolderCopied(const std::string& from, const std::string& to);
  // A deleted file waits under the hidden name until the commit removes it for good.
  void Parked(const std::string& path, const std::string& hidden);

  // Saves sent.ini, then every index. On success the undo log is cleared and the parked files
  // are removed. On failure everything since the last commit is rolled back, the indexes are
  // written in their former state and the first failure is returned.
  FileStatus Commit();
  // Puts back everything since the last commit.
  void Rollback();
  // Releases the index handles (saving what is unsaved) and saves sent.ini; returns the first
  // failure.
  FileStatus Close();
  // Changes logged since the last commit.
  size_t Changes() const;

private:
  struct OpenIndex;
  struct Undo;
  OpenIndex& Open(const std::string& folder);
  FileStatus SaveAll();
  // On a full disk: removes the parked (deleted) files for good when the room they give back
  // lets the changed indexes be written; false when it would not be enough.
  bool RemoveParkedToMakeRoom();
  void SyncChangedFolders() const;
  // Notes the folder's unread count before its index changes for the first time in a batch.
  void Baseline(OpenIndex& ix);
  // Moves the counts of the folders whose indexes changed (logged for undo).
  void SettleUnread();
  void RestoreSection(TPXCustomIni& ini, const std::string& section, const StringList& lines,
                      bool existed);

  IniRegistry& registry_;
  UnreadList* unread_;
  NewMailList* newMail_;
  TPXCustomIni* sent_;
  std::map<std::string, std::unique_ptr<OpenIndex>> indexes_;
  std::map<std::string, std::unique_ptr<FolderNames>> names_;
  std::vector<Undo> undo_;
  std::vector<std::string> parked_;
};

}  // namespace px::store
