#pragma once
// The filter of the document grid: the criteria the panel's "Search" captures (dates, addresses,
// keywords and options), the test of one document (MatchesFilter) and its application to a
// listing (ApplyFilter). The criteria are a snapshot: a search running in the background never
// reads the panel's controls.
#include "foundation/address.h"
#include "foundation/types.h"
#include "search/search_engine.h"
#include "store/doc_record.h"

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace px::search {

struct FilterCriteria {
  DateTime lowerBound = 0;  // 0: not set
  DateTime upperBound = 0;  // 0: not set; the whole day counts
  StringList addresses;     // bare addresses, lower-cased; empty: no address criterion
  bool anyAddress = false;
  bool ignoreFrom = false, ignoreTo = false, ignoreCc = false, ignoreBcc = false;
  StringList keywords;      // in typed order; empty: no keyword criterion
  bool wholeWords = false;
  bool caseSensitive = false;
  bool searchInside = false;
  bool anyKeyword = false;
  bool bundles = true;      // "Display messages and attachments together"
  bool subfolders = false;  // "Search in subfolders"
  bool combine = false;     // "Combine results"
  std::string contactsFolder;  // where contact references' files are

  unsigned MatcherFlags() const;
};

// "a, b;c  d" -> a, b, c, d (blanks, commas and semicolons separate; empty items vanish).
StringList SplitFilterKeywords(std::string_view text);
// The bare addresses, lower-cased, of an address text.
StringList FilterAddressesOf(std::string_view text);

// Files that could not be read during one run, reported once at its end.
class UnreadableFiles {
public:
  void Add(const std::string& path, int error);
  std::vector<std::pair<std::string, int>> Take();
  // "Some files could not be searched:" and the first few of them; "" when there were none.
  static std::string Summary(const std::vector<std::pair<std::string, int>>& files);

private:
  std::mutex mutex_;
  std::vector<std::pair<std::string, int>> files_;
};

// What a test of a document needs besides the criteria.
class IndexAnswers;

struct FilterEnv {
  const FilterCriteria* criteria = nullptr;
  const TSearchEngine* engine = nullptr;    // configured from the criteria (ConfigureEngine)
  GroupMembersFn groupMembers;              // members of an address group
  const std::atomic<bool>* stop = nullptr;  // a stop request: files are no longer read
  UnreadableFiles* unreadable = nullptr;
  // The file-text test answered from the index (documents it does not hold as they are on disk
  // are scanned); null: every file is scanned.
  const IndexAnswers* indexed = nullptr;
};

void ConfigureEngine(TSearchEngine& engine, const FilterCriteria& criteria);

// The path of the file a document's search reads.
std::string FileToSearch(const store::DocRecord& doc, const FilterCriteria& criteria);

bool MatchesFilter(const store::DocRecord& doc, const FilterEnv& env);

// Re-applies the filter (env == nullptr: none is active) to a listing: rows brought in by an
// earlier combined search are dropped, rsSearchMiss set on the rows that fail; with bundles, a
// message and the documents sharing its id stem stand or fall together. Returns the visible count.
size_t ApplyFilter(store::DocRows& rows, const FilterEnv* env);

}  // namespace px::search
