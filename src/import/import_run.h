#pragma once
// One import: reads the folders of an ImportSource and drops every message it has not imported
// before into the mail spool as a raw message, headed by the folder it is to be filed into (the
// target folder + the source's own folder tree). The filer then files them like received mail.
//
// The spool file is marked as written by the program, so its "_Folder" line counts; the
// imported message's own pseudo-header lines are neutralised, so a message cannot steer its
// filing. The keys of imported messages are recorded per source, so a second import of the
// same source adds nothing.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "import/import_source.h"

namespace px::mailformat {
class MailSpool;
}

namespace px::import {

struct ImportOptions {
  // The target folder relative to the documents folder, in any separator form ("Imported/mbox").
  std::string target;
  bool dryRun = false;  // count only: nothing is written, nothing recorded
};

struct ImportProgress {
  uint64_t messages = 0;    // messages imported so far (or, in a dry run, that would be)
  uint64_t duplicates = 0;  // met again: imported before
  std::string folder;       // the source folder being read, "/" between levels
};

struct ImportSummary {
  uint64_t messages = 0;
  uint64_t duplicates = 0;
  uint64_t folders = 0;
  uint64_t deleted = 0;  // marked deleted in their mailbox (not yet compacted away): left out
  std::vector<SkippedItem> skipped;
  bool cancelled = false;
  std::string error;  // a failure that stopped the import (the spool cannot be written)
  bool ok() const { return error.empty(); }
};

// The keys of the messages imported from one source: one hex key a line, appended as messages
// are spooled, read back whole at the start of the next import.
class ImportRecord {
public:
  ImportRecord() = default;
  ~ImportRecord();
  ImportRecord(const ImportRecord&) = delete;
  ImportRecord& operator=(const ImportRecord&) = delete;

  // Reads the record (a missing file is an empty record) and opens it for appending.
  // Read only when forWriting is false.
  bool Open(const std::string& path, std::string* error, bool forWriting = true);
  bool Contains(const std::string& key) const { return keys_.count(key) > 0; }
  // Adds a key (in memory always; on disk when the record is open for writing).
  bool Add(const std::string& key);
  void Remember(const std::string& key) { keys_.insert(key); }
  // Appends keys to the file and flushes it (nothing when the record is read only).
  bool Append(const std::vector<std::string>& keys);
  void Close();
  size_t size() const { return keys_.size(); }

private:
  std::unordered_set<std::string> keys_;
  int fd_ = -1;
};

// The record file of a source: folder + a hash of its kind and real path + ".lst".
std::string RecordPathOf(const std::string& recordFolder, const ImportSource& source);

// The folder value (stored form, "\" between levels) a source folder's messages are filed into;
// nullopt when the target itself leads outside the documents folder. Every source name is made
// a safe file name, so no name from the source reaches outside the target.
std::optional<std::string> TargetFolderOf(std::string_view target, const std::vector<std::string>& names);

// "Imported/<kind>": where a source's mail goes when no target is given.
std::string DefaultTarget(const std::string& kind);

class ImportRun {
public:
  using ProgressFn = std::function<void(const ImportProgress&)>;
  // Progress reaches the callback at most this often (and once at the end).
  static constexpr std::chrono::milliseconds kProgressInterval{100};

  // spool: where messages go; recordFolder: where the records of imported keys live.
  ImportRun(mailformat::MailSpool& spool, std::string recordFolder);

  ImportSummary Run(const ImportSource& source, const ImportOptions& options, const std::atomic<bool>& cancel,
                    const ProgressFn& progress = {});

private:
  mailformat::MailSpool& spool_;
  std::string recordFolder_;
};

}  // namespace px::import
