#pragma once
// Inside the document operations: what one operation on one item sees (the stores, the
// collaborators, the run's transaction and collision memory), the shared steps (the collision
// question, the pending register, a moved folder's bookkeeping) and the operations themselves,
// the transfers in op_transfer.cpp and the edits in op_edit.cpp. Only the driver
// (doc_operations.cpp) and the operations include this.
#include "store/collision_choice.h"
#include "store/doc_operations.h"
#include "store/op_transaction.h"

#include <string>
#include <string_view>

namespace px::store {

struct OpContext {
  const OpServices& svc;
  const OpCollaborators& co;
  OpTransaction& tx;
  CollisionChoice choice;
  bool several = false;  // more than one item: the question offers "Apply to all"
  size_t skipped = 0;    // items the user skipped at a collision

  void Refuse(std::string_view text) const;
  void Absent() const;
  void FileError(std::string_view verb, std::string_view path, std::string_view target,
                 int error) const;
};

// ---- Path and entry helpers ----
std::string Slashed(std::string path);
std::string ParentOf(const std::string& path);
std::string BaseNameOf(const std::string& path);
bool IsBelow(const std::string& path, const std::string& folder);
// The value of key in raw section lines ("" when absent); the first line wins, as on reading.
std::string ValueOf(const StringList& lines, std::string_view key);
int FlagsOf(const StringList& lines, int def);
// The title used to make a file name: text in another charset is converted first.
std::string NamingTitle(const std::string& title, const std::string& charset);
// The title stored back into the index, in the entry's charset.
std::string StoredTitle(const std::string& utf8, const std::string& original,
                        const std::string& charset);

// ---- Shared steps ----

// What to do with a document whose name exists in the target folder.
struct CollisionOutcome {
  bool skip = false;     // the user cancelled this item
  bool replace = false;  // put the document over the existing file
  std::string title;     // otherwise: the naming title to make a unique name from
};
// Asks once per item (or repeats the run's kept choice). existing is the name found in target,
// nameTitle the naming title, title the item's title as stored.
CollisionOutcome AskCollision(OpContext& cx, FolderNames& target, const std::string& existing,
                              const std::string& nameTitle, const std::string& title,
                              const std::string& charset, const std::string& ext,
                              const std::string& source = {});

// The pending register (sent.ini) follows an outgoing entry (msgId, entryFlags) to its new
// section, and when folder is not empty to that folder with newFlags. An entry the register
// does not know is added only when add is set.
void FollowPendingRegister(OpContext& cx, std::string_view msgId, int entryFlags,
                           const std::string& folder, const std::string& section, int newFlags,
                           bool add);

// The counts, new-mail marks, Quickboard buttons and sorting rules follow a moved folder.
void FolderMovedAlong(OpContext& cx, const std::string& oldFolder, const std::string& newFolder);

// ---- The operations (true when the item succeeded or was skipped) ----
bool TransferDoc(OpContext& cx, OpItem& it, bool move);
bool StoreFile(OpContext& cx, OpItem& it, bool move);
bool CreateFolder(OpContext& cx, OpItem& it);
bool RenameDoc(OpContext& cx, OpItem& it);
bool SetTitle(OpContext& cx, OpItem& it);
bool WriteKey(OpContext& cx, OpItem& it, int code);
bool PutInOutbox(OpContext& cx, OpItem& it);
bool DeleteDoc(OpContext& cx, OpItem& it);
bool DeleteFolder(OpContext& cx, OpItem& it);
bool UpdateContact(OpContext& cx, OpItem& it);
bool CreateContact(OpContext& cx, OpItem& it);
bool StampContact(OpContext& cx, OpItem& it);

}  // namespace px::store
