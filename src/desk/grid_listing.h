#pragma once
// Listing a folder for the grid, on the calling thread or in a worker: the records are fetched,
// sorted, filtered and grouped into a ready grid model, which the main thread swaps in. The
// worker touches index files only through the (locked) registry and never the process-wide
// lists: the folder's unread count is reconciled by the main thread when the result arrives.
#include "desk/grid_model.h"
#include "store/listing_context.h"
#include "store/folder_listing.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QThread;

namespace px::desk {

struct ListingRequest {
  std::string folder;          // ends in "/"
  bool contacts = false;       // list as contacts (the contacts root or an address group)
  std::vector<std::string> alsoFolders;  // listed into the same rows (the common desktop)
  store::ListingContext ctx;   // its unread counter and hidden-contacts list are not used
  GridOptions options;
  // How far the listing is (0 to 100), for the busy sign; null when nobody watches.
  std::shared_ptr<std::atomic<int>> progress;
};

struct ListingOutcome {
  GridModel model;
  store::ListingResult result;
  StringList hiddenContacts;
  int64_t unread = -1;         // the folder's own unread count found (-1: not counted)
};

// Runs the listing on the calling thread.
ListingOutcome RunListing(const ListingRequest& request);

// Entries of a folder counted without looking at them, stopping at limit: tells whether a
// listing is worth a worker.
size_t CountEntriesUpTo(const std::string& folder, size_t limit);

// Folders with at least this many entries are listed in a worker.
inline constexpr size_t kWorkerListingThreshold = 2000;

class ListingWorker : public QObject {
  Q_OBJECT
public:
  using Done = std::function<void(ListingOutcome& outcome)>;
  explicit ListingWorker(QObject* parent = nullptr);
  ~ListingWorker() override;  // waits for running listings

  // Starts a listing in a thread; done runs on this object's thread with the outcome, unless a
  // later Start or Cancel superseded it.
  void Start(ListingRequest request, Done done);
  void Cancel();
  bool Running() const { return running_ > 0; }
  // Waits until no listing runs (tests, shutdown).
  void WaitIdle();

private:
  std::vector<QThread*> threads_;
  std::atomic<int> running_{0};
  uint64_t generation_ = 0;
};

}  // namespace px::desk
