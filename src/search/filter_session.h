#pragma once
// The filter panel's model: what the panel's controls hold (FilterPanelState), the criteria that
// "Search" captures from them, and the session that keeps the active filter and runs one
// background search at a time over the shown folder's tree.
#include "search/filter.h"
#include "search/search_thread.h"

#include <QObject>

#include <memory>
#include <string>

namespace px::search {

// The values of the panel's controls, as the window reads them.
struct FilterPanelState {
  DateTime lowerBound = 0, upperBound = 0;
  std::string keywordText;
  std::string addressText;
  bool wholeWords = false, caseSensitive = false, searchInside = false, anyKeyword = false;
  bool bundles = true, subfolders = false, combine = false;
  bool ignoreFrom = false, ignoreTo = false, ignoreCc = false, ignoreBcc = false;
  bool anyAddress = false;
};

// "Search": the snapshot the listing and the worker use.
FilterCriteria CriteriaFromPanel(const FilterPanelState& panel, const std::string& contactsFolder);

class FilterSession : public QObject {
  Q_OBJECT
public:
  explicit FilterSession(QObject* parent = nullptr);
  ~FilterSession() override;

  // Makes the criteria the active filter (a running search is stopped first).
  void Activate(FilterCriteria criteria, GroupMembersFn groupMembers = {});
  // Clears the filter (the search is stopped first) and the folder counts.
  void Deactivate();
  bool Active() const { return active_; }
  // Where the search index is ("" = none): the keywords' file test is answered from it for the
  // documents it holds as they are on disk.
  void SetIndexFolder(std::string folder) { indexFolder_ = std::move(folder); }
  // The active filter's file test comes from the index.
  bool FromIndex() const { return indexed_ != nullptr; }
  const FilterCriteria& Criteria() const { return criteria_; }
  // The test of one document under the active filter (for the folder listing).
  bool Matches(const store::DocRecord& doc) const;

  // Starts the background search under root when the filter is active and asks for subfolders.
  // Returns false when it declines.
  bool StartSearch(const std::string& root, const std::string& trashFolder, store::ListingContext listing);
  // Asks the worker to stop and waits for it.
  void StopSearch();
  bool Running() const { return thread_ != nullptr; }
  // The counts per folder of the last finished search (empty while none).
  const std::map<std::string, FolderCounts>& Counts() const { return counts_; }
  // The matches of the subfolders that the last search kept ("Combine results").
  store::DocRows TakeFound() { return std::exchange(found_, {}); }

signals:
  void Searching(QString folder);
  // The walk ended: not stopped, with the summary of unreadable files ("" when none).
  void SearchFinished(bool stopped, QString unreadableSummary);

private:
  void OnThreadFinished();

  bool active_ = false;
  FilterCriteria criteria_;
  TSearchEngine engine_;
  std::string indexFolder_;
  std::shared_ptr<const IndexAnswers> indexed_;
  FilterEnv env_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<UnreadableFiles> unreadable_;
  TSearchThread* thread_ = nullptr;
  std::map<std::string, FolderCounts> counts_;
  store::DocRows found_;
};

}  // namespace px::search
