#pragma once
// Runs an import on a worker thread. Progress and the end arrive as queued signals on the
// thread that owns the job (at most ten progress signals a second); Cancel() stops the worker
// after the message it is writing, and the messages spooled so far stay and are filed.
#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>

#include "foundation/random.h"
#include "import/import_run.h"
#include "mailformat/spool.h"

namespace px::import {

class ImportJob : public QObject {
  Q_OBJECT
public:
  ImportJob(std::string spoolFolder, std::string recordFolder, QObject* parent = nullptr);
  ~ImportJob() override;  // cancels and waits for the worker

  // Starts reading the source; false when a run is still going.
  bool Start(std::unique_ptr<ImportSource> source, ImportOptions options);
  void Cancel() { cancel_ = true; }
  bool running() const { return thread_ != nullptr; }
  // Blocks until the worker has ended (for tests and shutdown).
  void Wait();

signals:
  void progress(const px::import::ImportProgress& p);
  void finished(const px::import::ImportSummary& s);

private:
  std::string spoolFolder_, recordFolder_;
  RandomSource random_;
  std::atomic<bool> cancel_{false};
  QThread* thread_ = nullptr;
  std::unique_ptr<ImportSource> source_;
};

}  // namespace px::import

Q_DECLARE_METATYPE(px::import::ImportProgress)
Q_DECLARE_METATYPE(px::import::ImportSummary)
