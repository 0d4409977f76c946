#pragma once
// Filing received mail: what the mail sources dropped into the spool becomes documents.
//
//   1. service downloads (".$$8" markers) are unpacked into descriptor and content pairs;
//   2. encrypted contents (".$$3") are decrypted;
//   3. raw messages (".msg_") are split by the MIME reader;
//   4. every descriptor (".$$1") is filed: its content moves into the target folder under a
//      unique name, the folder's index gets the entry, the unread count and the new-mail mark
//      follow; receipts become delivery records on the user's sent mail.
//
// The work runs in slices (Step) so the desk's event loop keeps running during a large burst.
// Phase 4 works in batches whose intent is written first: move the contents, save the indexes,
// then delete the descriptors. A crash at any point leaves either the spool pair or the filed
// document, and the next run finishes the batch. Only one process files a spool at a time.
//
// Nothing that cannot be unpacked, decrypted or split is deleted: it goes to the quarantine
// folder and is reported. A full or failing disk is no fault of a message: the run stops, says
// so, and leaves the message in the spool for a later run, with nothing of it half filed.
//
// Every message is taken in once: its key (see ReceivedKeys) is recorded when its pairs are
// made, and a message whose key is known is dropped as a repeat. Splitting is idempotent: a
// raw message is split into pairs named after it, and what an interrupted split left is undone
// before it is split again.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "incoming/filing_seams.h"
#include "incoming/received_keys.h"
#include "mailformat/part_descriptor.h"

namespace px {
class MessageQueue;
class RandomSource;
class TPXCustomIni;
}  // namespace px
namespace px::store {
class IniRegistry;
class UnreadList;
class NewMailList;
}  // namespace px::store
namespace px::mailformat {
class MailSpool;
}

namespace px::incoming {

inline constexpr std::string_view kQuarantineFolderName = "Quarantine";
// Where filing keeps what it could not file: the data root's "Quarantine/".
inline std::string QuarantineFolderOf(const std::string& dataRoot) {
  return dataRoot + std::string(kQuarantineFolderName) + "/";
}

struct FilingServices {
  store::IniRegistry* registry = nullptr;  // required
  RandomSource* random = nullptr;          // required
  store::UnreadList* unread = nullptr;
  store::NewMailList* newMail = nullptr;
  TPXCustomIni* sent = nullptr;     // sent.ini: receipts become delivery records there
  MessageQueue* messages = nullptr;        // the reports at the end
  Decryptor* decryptor = nullptr;          // null: no decryption
  SortingRules* rules = nullptr;           // null: no rules
  std::string spoolFolder;                 // all folders end in "/"
  std::string documentsFolder;
  std::string quarantineFolder;
  std::string trashFolder;
  // The folder the grid shows ("" when none): it gets no new-mail mark.
  std::function<std::string()> shownFolder;
  // A delivery record was added to an entry of a folder (the grid updates the row when shown).
  std::function<void(const std::string& folder, const std::string& section)> deliveryRecorded;
  // Flush files and folders before going on (tests and benchmarks of a throw-away tree may
  // switch it off).
  bool sync = true;
  // The clock the slices are measured by, in milliseconds (unset: the steady clock).
  std::function<int64_t()> clockMs;
};

// One document filed.
struct FiledDocument {
  std::string folder;    // "/" at the end
  std::string fileName;
  std::string title;     // the title shown (the file's base name when no Title was written)
  std::string sender;    // normalised sender (recipients for outgoing mail)
  std::string msgId;
  bool newMessage = false;  // counted as a new message (a received message's first part)
};

struct FilingReport {
  size_t newMessages = 0;
  size_t documents = 0;
  size_t receipts = 0;
  std::vector<std::string> corrupted;      // "sender  (Subject:  subject)"
  std::vector<std::string> undecryptable;  // the same form
  std::vector<std::string> unreadable;     // raw messages the MIME reader could not split
  std::vector<std::string> quarantined;    // paths of the files kept aside
  std::vector<std::string> errors;         // file-system failures, for the user
  bool noDecryption = false;               // encrypted mail came while no decryption exists
  std::set<std::string> changedFolders;    // folders that received documents
  bool busy = false;                       // another process was filing this spool
  bool noRoom = false;                     // the run stopped: the disk is full or failing
  size_t repeats = 0;                      // messages dropped as copies of ones taken in before
  size_t orphans = 0;                      // leftovers of an interrupted run kept aside
  bool failed() const { return !errors.empty(); }
};

struct FilingProgress {
  int phase = 0;      // 1 to 4 while filing, 5 for the sorting actions, 0 when idle or done
  size_t done = 0;    // files done in this phase
  size_t total = 0;   // files of this phase
};

class MailFiler {
public:
  explicit MailFiler(FilingServices services);
  ~MailFiler();
  MailFiler(const MailFiler&) = delete;
  MailFiler& operator=(const MailFiler&) = delete;

  // Starts a run: takes the spool's filing lock and finishes what an interrupted run left.
  // False when another process is filing the spool now (Report().busy) or it cannot be read.
  bool Begin();
  // Works for about budgetMs milliseconds; true while work remains.
  bool Step(int budgetMs);
  // Begin, then Step until done; the reports are queued. Returns the report.
  const FilingReport& Run();
  bool Done() const { return state_ == State::Done; }

  const FilingReport& Report() const { return report_; }
  FilingProgress Progress() const;
  // Queues the warnings of the run (corrupted, undecryptable, unreadable, errors).
  void QueueReports() const;

  // Called for every document filed, on the calling thread.
  std::function<void(const FiledDocument&)> onFiled;

private:
  enum class State { Idle, Working, Done };
  struct Planned;
  struct Batch;
  struct FolderState;

  bool StepPhase(int64_t deadline);
  int64_t Now() const;
  void ListPhase();
  void UnpackOne(const std::string& name);
  void DecryptOne(const std::string& name);
  void SplitOne(const std::string& name);
  // Files one descriptor, adding it to the batch when it moves a document.
  void PlanOne(const std::string& name);
  bool CommitBatch();
  void RecoverJournal();
  void ApplySortActions();
  void finish();
  // The disk is full or failing: what is under way is left for a later run and the run ends.
  void NoRoom(const std::string& why);
  // Records the keys of what was split or unpacked, then deletes their sources.
  void FlushTaken();
  // Content files that lost their descriptor to a crash go to the quarantine.
  void SweepOrphans();

  bool BuildPlan(const std::string& name, Planned& p, std::string& error);
  void FileReceipt(Planned& p);
  FolderState& folderState(const std::string& folder);
  std::string TargetFolderOf(const Planned& p);
  void quarantine(const std::string& name, std::initializer_list<std::string_view> exts,
                  const std::string& why);
  void WriteEntry(TPXCustomIni& index, const Planned& p);
  void harmonise(TPXCustomIni& index, FolderState& fs, const std::string& base);
  std::string JournalPath() const;
  void error(std::string text);

  FilingServices svc_;
  std::unique_ptr<mailformat::MailSpool> spool_;
  FilingReport report_;
  State state_ = State::Idle;
  int phase_ = 0;
  std::vector<std::string> items_;
  size_t next_ = 0;
  int lockFd_ = -1;
  bool rootGotNew_ = false;
  std::unique_ptr<Batch> batch_;
  std::map<std::string, std::unique_ptr<FolderState>> folders_;
  std::vector<SortAction> actions_;
  ReceivedKeys received_;
  std::vector<std::string> splitDone_;   // raw messages split, to be deleted once recorded
  std::vector<std::string> unpackDone_;  // downloads unpacked, likewise
  bool stop_ = false;
};

// Puts what the quarantine keeps back into the spool, so the next filing run tries it again:
// raw messages (".err_" back to ".msg_"), downloads, descriptor pairs. Returns how many
// messages were put back; *errors gets what could not be moved.
size_t RefileQuarantine(const std::string& quarantineFolder, const std::string& spoolFolder,
                        std::vector<std::string>* errors = nullptr);

// Brings the Time of every section of the index whose MsgID has the same base as msgId to the
// latest of them. Used by the sent bookkeeping too.
void HarmoniseMessageTimes(TPXCustomIni& index, std::string_view msgId);

// The sender as filed: "name" <address>, or the value as it is when it has no "<".
std::string NormaliseSender(std::string_view sender);

}  // namespace px::incoming
