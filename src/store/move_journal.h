#pragma once
// The intent journal of a batch that moves or copies documents.
//
// Files move one by one, but their index entries are saved only at the run's checkpoints: a
// crash in between leaves documents in the target without entries while the source index still
// names them. Before the first file of a batch moves, the batch writes what it is about to do
// (every document: where it is, its file identity, its entry) into a journal file in the data
// folder, flushed to disk, and holds a lock on it while it runs. At the next start any journal
// whose batch is no longer running is finished or rolled back document by document: a document
// found in the target gets its entry there and loses the one at the source; a document still at
// the source keeps (or gets back) its entry there. Nothing is erased for a document that is
// found nowhere.
#include "foundation/atomic_file.h"
#include "foundation/types.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace px::store {

class IniRegistry;

// Folder of the journals inside the data root.
inline constexpr std::string_view kJournalFolderName = "Journal";
// dataRoot + "Journal/" ("" when there is no data root).
std::string JournalFolderOf(const std::string& dataRoot);

// One document of a batch, as it was before the batch began.
struct JournalItem {
  std::string folder;        // source folder, "/" at the end
  std::string section;       // its index section (tag prefix + name)
  std::string name;          // file name
  std::string targetFolder;  // "/" at the end
  std::string title;
  uint64_t dev = 0, ino = 0;  // identity of the file
  int64_t size = 0;
  int64_t mtimeNs = 0;
  StringList lines;          // the entry's key=value lines
};

// Reads the file identity of folder + name into the item; false when there is no such file.
bool FillFileIdentity(JournalItem& item);

class BatchJournal {
public:
  // `folder` is the journal folder ("" turns journaling off).
  explicit BatchJournal(std::string folder);
  ~BatchJournal();  // a journal still open stays on disk: its batch did not end
  BatchJournal(const BatchJournal&) = delete;
  BatchJournal& operator=(const BatchJournal&) = delete;

  // Writes and flushes the journal of a move (or copy) of `items`; 0 or errno. Nothing may move
  // before this succeeded.
  int Begin(const std::vector<JournalItem>& items, bool move);
  // The batch's indexes are saved (or it was put back): the journal goes.
  void End();
  bool Active() const { return static_cast<bool>(fd_); }
  // The journal file; after a failed Begin, the file (or folder) that could not be written.
  const std::string& Path() const { return path_; }

private:
  std::string folder_;
  std::string path_;
  UniqueFd fd_;  // held locked while the batch runs
};

struct JournalRecovery {
  size_t journals = 0;   // journals of ended batches that were handled
  size_t finished = 0;   // documents found in the target: entry written or kept there
  size_t restored = 0;   // documents still at the source whose entry was written back
  size_t unknown = 0;    // documents found nowhere: their entries were left alone
};

// Finishes or rolls back every journal in `folder` whose batch is not running any more.
JournalRecovery RecoverJournals(const std::string& folder, IniRegistry& registry);

// Source entries named by journals waiting for recovery (or of batches running now), as
// folder + section: a listing must not erase them for a missing file, the file may be in the
// target.
std::set<std::string> JournalSources(const std::string& folder);

}  // namespace px::store
