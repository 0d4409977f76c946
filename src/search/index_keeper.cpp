#include "search/index_keeper.h"

#include <QMetaObject>
#include <QTimer>

namespace px::search {

IndexKeeper::IndexKeeper(Config config, QObject* parent) : QObject(parent), config_(std::move(config)) {
  built_ = IndexBuilt(config_.indexFolder);
  delay_ = new QTimer(this);
  delay_->setSingleShot(true);
  connect(delay_, &QTimer::timeout, this, &IndexKeeper::startNext);
}

IndexKeeper::~IndexKeeper() { Stop(); }

void IndexKeeper::Stop() {
  if (!worker_) return;
  stop_ = true;
  worker_->wait();
  onFinished();
}

void IndexKeeper::FolderChanged(const std::string& folder) {
  std::string f = folder;
  if (f.empty()) return;
  if (f.back() != '/') f += '/';
  if (f.compare(0, config_.documents.size(), config_.documents) != 0) return;
  if (!config_.trash.empty() && f.compare(0, config_.trash.size(), config_.trash) == 0) return;
  QMetaObject::invokeMethod(this, [this, f] { queueOnOwner(f); }, Qt::QueuedConnection);
}

void IndexKeeper::IndexSaved(const std::string& indexPath) {
  const size_t slash = indexPath.rfind('/');
  if (slash != std::string::npos) FolderChanged(indexPath.substr(0, slash + 1));
}

void IndexKeeper::queueOnOwner(std::string folder) {
  // Before a first build, changes are the build's business; those seen while it runs follow it.
  if (!built_ && !(worker_ && workerIsBuild_)) return;
  pending_.insert(std::move(folder));
  if (!worker_) delay_->start(config_.delayMs);
}

void IndexKeeper::EnsureBuilt() {
  if (built_ || buildWanted_) return;
  buildWanted_ = true;
  if (!worker_) startNext();
}

void IndexKeeper::startNext() {
  if (worker_) return;
  IndexUpdateRequest req;
  req.indexFolder = config_.indexFolder;
  req.root = config_.documents;
  req.trashFolder = config_.trash;
  req.listing = config_.listing;
  if (buildWanted_) {
    workerIsBuild_ = true;
    buildWanted_ = false;
  } else if (!pending_.empty()) {
    workerIsBuild_ = false;
    req.onlyFolders.assign(pending_.begin(), pending_.end());
    pending_.clear();
  } else {
    return;
  }
  stop_ = false;
  result_ = std::make_shared<IndexUpdateResult>();
  const bool build = workerIsBuild_;
  worker_ = QThread::create([this, req, build, result = result_] {
    QThread::currentThread()->setPriority(QThread::LowestPriority);
    *result = UpdateIndex(req, stop_, [this, build](const IndexProgress& p) {
      if (build) emit Progress(p.foldersDone, p.foldersTotal);
    });
  });
  worker_->setParent(this);
  QThread* w = worker_;
  connect(worker_, &QThread::finished, this, [this, w] {
    if (worker_ == w) onFinished();
  }, Qt::QueuedConnection);
  worker_->start();
}

void IndexKeeper::onFinished() {
  if (!worker_) return;
  QThread* w = std::exchange(worker_, nullptr);
  w->wait();
  w->deleteLater();
  const IndexUpdateResult r = result_ ? *result_ : IndexUpdateResult{};
  if (workerIsBuild_) {
    built_ = r.ok && !r.stopped;
  }
  emit Updated(built_);
  if (!stop_ && (buildWanted_ || !pending_.empty())) delay_->start(config_.delayMs);
}

}  // namespace px::search
