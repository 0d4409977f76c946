#include "desk/grid_listing.h"

#include <QCoreApplication>
#include <QThread>

#include <dirent.h>

namespace px::desk {

ListingOutcome RunListing(const ListingRequest& request) {
  ListingOutcome out;
  store::ListingContext ctx = request.ctx;
  ctx.unread = nullptr;                   // reconciled by the main thread
  ctx.hiddenContacts = &out.hiddenContacts;
  ctx.sortAndFilter = [](store::DocRows&) {};  // the grid model sorts once, below
  store::DocRows rows;
  auto step = [&](int percent) {
    if (request.progress) request.progress->store(percent, std::memory_order_relaxed);
  };
  step(5);
  if (request.contacts) {
    out.result = store::FetchContacts(ctx, request.folder, rows);
  } else {
    out.result = store::FetchDocs(ctx, false, request.folder, rows);
    for (const auto& f : request.alsoFolders) store::FetchDocs(ctx, false, f, rows);
    if (!ctx.SearchActive() && out.result.folderError == 0) {
      // Only the shown folder's own entries count for its unread number.
      size_t own = 0;
      while (own < rows.size() && rows[own].folder == request.folder) ++own;
      out.unread = store::CountUnread(rows, 0, own);
    }
  }
  step(70);  // the records are read; sorting and grouping remain
  out.model.SetRows(std::move(rows), request.options);
  step(100);
  return out;
}

size_t CountEntriesUpTo(const std::string& folder, size_t limit) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return 0;
  size_t n = 0;
  while (n < limit && readdir(dir)) ++n;
  closedir(dir);
  return n;
}

ListingWorker::ListingWorker(QObject* parent) : QObject(parent) {}

ListingWorker::~ListingWorker() {
  ++generation_;
  WaitIdle();
}

void ListingWorker::WaitIdle() {
  for (QThread* t : threads_) {
    t->wait();
    delete t;
  }
  threads_.clear();
}

void ListingWorker::Cancel() { ++generation_; }

void ListingWorker::Start(ListingRequest request, Done done) {
  // Threads that have ended are reaped here, on the owner's thread.
  for (auto it = threads_.begin(); it != threads_.end();) {
    if ((*it)->isFinished()) {
      delete *it;
      it = threads_.erase(it);
    } else {
      ++it;
    }
  }
  const uint64_t gen = ++generation_;
  ++running_;
  auto req = std::make_shared<ListingRequest>(std::move(request));
  QThread* thread = QThread::create([this, req, gen, done = std::move(done)]() mutable {
    auto outcome = std::make_shared<ListingOutcome>(RunListing(*req));
    QMetaObject::invokeMethod(
        this,
        [this, outcome, gen, done]() {
          --running_;
          if (gen == generation_ && done) done(*outcome);
        },
        Qt::QueuedConnection);
  });
  thread->setObjectName(QStringLiteral("GridListing"));
  threads_.push_back(thread);
  thread->start(QThread::LowPriority);
}

}  // namespace px::desk
