#pragma once
// The instant index of the documents tree: a Xapian database in the data root ("SearchIndex/").
// One entry per document file: the words of its text (read through the one extractor interface,
// with positions, so phrases work), of its title (subject:), senders (from:) and recipients
// (to:), and as values its path, folder, date and flags, with the file's size, change time and
// identity (device, inode).
//
// An update walks the tree as the background search does and compares each folder's listing with
// the entries: a file whose size and change time are those recorded is not read again; a
// document whose index data changed gets new index words only; a document that appears under a
// new path with the identity, size and change time of one that vanished (moved or renamed) is
// re-pointed, not read again. Entries are committed every few seconds and when the run ends, so
// a run that is stopped or killed resumes about where it was on the next run. One writer at a time (across processes:
// Xapian's lock); readers never wait.
//
// Searches that the index answers:
//   - Query: the user's query language (words, "phrases", from:, to:, subject:, date:A..B,
//     AND / OR / NOT, word*), for `plumadex-cli search`;
//   - IndexAnswers: the file-text test of the filter's keywords, per document, for the filter
//     panel; a document the index does not hold as it is on disk is left to the scan.
#include "foundation/types.h"
#include "store/listing_context.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace px::search {

// The folder of the index in a data root (ending in "/").
std::string IndexFolderOf(const std::string& dataRoot);

struct IndexProgress {
  int64_t foldersDone = 0;
  int64_t foldersTotal = 0;   // known once the walk has counted them
  int64_t documents = 0;      // documents looked at
  int64_t extracted = 0;      // documents read (new or changed)
  int64_t repointed = 0;      // moved documents given their new path
  int64_t removed = 0;        // entries of documents that are gone
  std::string folder;         // the folder being indexed
};

struct IndexUpdateResult {
  bool ok = true;
  bool stopped = false;
  std::string error;          // why the index could not be opened or written
  IndexProgress counts;
};

struct IndexUpdateRequest {
  std::string indexFolder;    // IndexFolderOf(dataRoot)
  std::string root;           // the documents folder (or a folder in it), ending in "/"
  std::string trashFolder;    // never indexed ("" when none)
  std::vector<std::string> onlyFolders;  // not empty: just these folders, no walk (a watch saw them change)
  store::ListingContext listing;         // registry and folders for reading the indexes
  bool rebuild = false;       // start from an empty index
};

// Builds or brings up to date the index below request.root. progress is called for every
// folder. Safe to run on a worker; stop is polled between documents.
IndexUpdateResult UpdateIndex(const IndexUpdateRequest& request, const std::atomic<bool>& stop,
                              const std::function<void(const IndexProgress&)>& progress = {});

// Whether a complete run has been recorded for the index (it was built once at least).
bool IndexBuilt(const std::string& indexFolder);

struct IndexHit {
  std::string path;
  std::string folder;
  DateTime date = 0;
  int flags = 0;
};

struct QueryResult {
  bool ok = true;
  std::string error;          // no index, or a query it cannot read
  std::vector<IndexHit> hits; // in path order
};

// Runs a query in the user's query language over the documents below folder ("" = all).
QueryResult RunIndexQuery(const std::string& indexFolder, const std::string& query,
                          const std::string& folder = "");

// The filter's keywords, answered from the index for the files below root: the file text of a
// document holds the keywords (all, or any) as the scan would find them. Case-insensitive only;
// "whole words" looks up the words, otherwise every indexed word containing the keyword counts.
class IndexAnswers {
public:
  // nullopt when the index cannot answer for this file (not held, or changed since): scan it.
  std::optional<bool> FileMatches(const std::string& path) const;
  size_t Held() const { return files_.size(); }

private:
  friend std::unique_ptr<IndexAnswers> AnswerKeywords(const std::string&, const std::string&,
                                                      const StringList&, bool, bool);
  struct Entry {
    int64_t size = 0;
    int64_t mtimeNs = 0;
    bool match = false;
  };
  std::unordered_map<std::string, Entry> files_;
};

// nullptr when the index cannot answer these keywords (no index, a keyword with characters the
// index does not keep as words, too many words containing a short keyword); the filter then scans.
std::unique_ptr<IndexAnswers> AnswerKeywords(const std::string& indexFolder, const std::string& root,
                                             const StringList& keywords, bool wholeWords, bool any);

}  // namespace px::search
