#include "search/filter_session.h"

#include "search/doc_index.h"

namespace px::search {

FilterCriteria CriteriaFromPanel(const FilterPanelState& p, const std::string& contactsFolder) {
  FilterCriteria c;
  c.lowerBound = p.lowerBound;
  c.upperBound = p.upperBound;
  c.addresses = FilterAddressesOf(p.addressText);
  c.anyAddress = p.anyAddress;
  c.ignoreFrom = p.ignoreFrom;
  c.ignoreTo = p.ignoreTo;
  c.ignoreCc = p.ignoreCc;
  c.ignoreBcc = p.ignoreBcc;
  c.keywords = SplitFilterKeywords(p.keywordText);
  c.wholeWords = p.wholeWords;
  c.caseSensitive = p.caseSensitive;
  c.searchInside = p.searchInside;
  c.anyKeyword = p.anyKeyword;
  c.bundles = p.bundles;
  c.subfolders = p.subfolders;
  c.combine = p.subfolders && p.combine;
  c.contactsFolder = contactsFolder;
  return c;
}

FilterSession::FilterSession(QObject* parent) : QObject(parent), unreadable_(std::make_unique<UnreadableFiles>()) {}

FilterSession::~FilterSession() { StopSearch(); }

void FilterSession::Activate(FilterCriteria criteria, GroupMembersFn groupMembers) {
  StopSearch();
  criteria_ = std::move(criteria);
  ConfigureEngine(engine_, criteria_);
  env_ = {};
  env_.criteria = &criteria_;
  env_.engine = &engine_;
  env_.groupMembers = std::move(groupMembers);
  env_.stop = &stop_;
  env_.unreadable = unreadable_.get();
  indexed_.reset();
  if (criteria_.searchInside && !criteria_.caseSensitive && !indexFolder_.empty())
    indexed_ = AnswerKeywords(indexFolder_, "", criteria_.keywords, criteria_.wholeWords, criteria_.anyKeyword);
  env_.indexed = indexed_.get();
  stop_ = false;
  active_ = true;
  counts_.clear();
  found_.clear();
}

void FilterSession::Deactivate() {
  StopSearch();
  active_ = false;
  env_.indexed = nullptr;
  indexed_.reset();
  counts_.clear();
  found_.clear();
}

bool FilterSession::Matches(const store::DocRecord& doc) const { return !active_ || MatchesFilter(doc, env_); }

bool FilterSession::StartSearch(const std::string& root, const std::string& trashFolder, store::ListingContext listing) {
  if (!active_ || !criteria_.subfolders) return false;
  StopSearch();
  stop_ = false;
  SearchRequest req;
  req.root = root;
  req.trashFolder = trashFolder;
  req.criteria = criteria_;
  req.listing = std::move(listing);
  req.listing.searchMatches = {};
  req.groupMembers = env_.groupMembers;
  req.indexed = indexed_;
  req.keepFound = criteria_.combine;
  req.listRoot = true;  // the root's own count comes from the same listing as the others
  thread_ = new TSearchThread(std::move(req), this);
  connect(thread_, &TSearchThread::Searching, this, &FilterSession::Searching, Qt::QueuedConnection);
  TSearchThread* t = thread_;
  connect(thread_, &QThread::finished, this, [this, t] {
    if (thread_ == t) OnThreadFinished();
  }, Qt::QueuedConnection);
  thread_->start();
  return true;
}

void FilterSession::StopSearch() {
  if (!thread_) return;
  thread_->RequestStop();
  stop_ = true;
  thread_->wait();
  OnThreadFinished();
}

void FilterSession::OnThreadFinished() {
  if (!thread_) return;  // already handled (a stop waited for it)
  TSearchThread* t = std::exchange(thread_, nullptr);
  t->wait();
  SearchRunResult& r = t->Result();
  const bool stopped = r.stopped || t->StopRequested();
  auto unreadable = r.unreadable;
  for (auto& f : unreadable_->Take()) unreadable.push_back(std::move(f));
  if (!stopped) {
    counts_ = std::move(r.counts);
    // The shown folder's own matches are already in the grid.
    store::DocRows found;
    for (store::DocRecord& d : r.found)
      if (d.folder != t->Root()) found.push_back(std::move(d));
    found_ = std::move(found);
  }
  t->deleteLater();
  emit SearchFinished(stopped, QString::fromStdString(UnreadableFiles::Summary(unreadable)));
}

}  // namespace px::search
