#pragma once
// The background search over the folder tree below the shown folder. The walk is iterative;
// folders are told apart by device and inode, so a folder reached twice (bind mounts, hard links
// of directories) is searched once; symbolic links and hidden folders are not entered, nor the
// trash (recognised by its identity, not its name). Each folder is listed in search mode by the
// store's listing with MatchesFilter as its test; the counts per folder are kept as two integers
// (matches in the folder itself, and in its whole subtree).
#include "search/filter.h"
#include "store/folder_listing.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace px::search {

struct FolderCounts {
  int64_t own = 0;    // matches in the folder itself
  int64_t total = 0;  // matches in the folder and all its subfolders
};

struct SearchRunResult {
  std::map<std::string, FolderCounts> counts;  // folders (ending in "/") with total > 0
  store::DocRows found;                         // the matches of the subfolders (for "Combine results")
  std::vector<std::pair<std::string, int>> unreadable;  // files that could not be searched
  bool stopped = false;
  int64_t folders = 0;  // folders searched
};

struct SearchRequest {
  std::string root;            // the shown folder, ending in "/"
  int64_t rootOwnCount = 0;    // its visible count (the grid's, already filtered)
  std::string trashFolder;     // the data root's TRASH folder ("" when none)
  FilterCriteria criteria;     // the snapshot taken by "Search"
  store::ListingContext listing;  // the listing's context (registry, folders, view filter)
  GroupMembersFn groupMembers;
  bool keepFound = false;      // hand the found records back ("Combine results")
  bool listRoot = false;       // list the root too (when no grid has listed it)
  // The keywords' file-text test answered from the index (null: every file is scanned).
  std::shared_ptr<const IndexAnswers> indexed;
};

// The walk itself, run on whichever thread calls it. progress gets each folder before it is
// searched.
SearchRunResult SearchTree(const SearchRequest& request, const std::atomic<bool>& stop,
                           const std::function<void(const std::string&)>& progress = {});

// The worker: runs SearchTree at a priority below normal, reports progress and the result by
// queued signals, never touches a widget. One at a time: the owner stops it (RequestStop, wait)
// before starting another.
class TSearchThread : public QThread {
  Q_OBJECT
public:
  explicit TSearchThread(SearchRequest request, QObject* parent = nullptr);
  void RequestStop() { stop_ = true; }
  bool StopRequested() const { return stop_.load(); }
  // Valid after finished().
  SearchRunResult& Result() { return result_; }
  const std::string& Root() const { return request_.root; }

signals:
  void Searching(QString folder);

protected:
  void run() override;

private:
  SearchRequest request_;
  std::atomic<bool> stop_{false};
  SearchRunResult result_;
};

}  // namespace px::search
