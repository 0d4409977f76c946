#pragma once
// Keeps the search index of the documents tree current inside a running program: builds it in
// the background the first time it is wanted (a stopped build resumes), and brings the folders
// that changed up to date a moment after they changed (the folder watches' relistings, the saves
// of folder indexes by the document operations and the filer). One update runs at a time, on a
// worker of its own; the owner's thread only queues folders and hears about progress.
#include "search/doc_index.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class QTimer;

namespace px::search {

class IndexKeeper : public QObject {
  Q_OBJECT
public:
  struct Config {
    std::string indexFolder;
    std::string documents;   // the tree indexed, ending in "/"
    std::string trash;       // never indexed
    store::ListingContext listing;
    int delayMs = 1500;      // pause after a change before its folder is updated
  };
  explicit IndexKeeper(Config config, QObject* parent = nullptr);
  ~IndexKeeper() override;

  // A folder whose documents or index changed. Any thread; folders outside the tree are ignored.
  void FolderChanged(const std::string& folder);
  // The folder of a saved index file (any thread).
  void IndexSaved(const std::string& indexPath);
  // Starts the build of the whole tree when no complete one is recorded.
  void EnsureBuilt();
  bool Built() const { return built_; }
  bool Running() const { return worker_ != nullptr; }
  const std::string& IndexFolder() const { return config_.indexFolder; }
  // Stops a running update and waits for it (what it committed stays).
  void Stop();

signals:
  // A whole-tree build moved on: folders done of total.
  void Progress(qint64 done, qint64 total);
  // An update ended (built: a complete index is recorded).
  void Updated(bool built);

private:
  void queueOnOwner(std::string folder);
  void startNext();
  void onFinished();

  Config config_;
  bool built_ = false;
  bool buildWanted_ = false;
  std::set<std::string> pending_;
  QTimer* delay_ = nullptr;
  QThread* worker_ = nullptr;
  bool workerIsBuild_ = false;
  std::atomic<bool> stop_{false};
  std::shared_ptr<IndexUpdateResult> result_;
};

}  // namespace px::search
