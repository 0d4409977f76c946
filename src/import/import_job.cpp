#include "import/import_job.h"

#include <QMetaObject>

namespace px::import {

ImportJob::ImportJob(std::string spoolFolder, std::string recordFolder, QObject* parent)
    : QObject(parent), spoolFolder_(std::move(spoolFolder)), recordFolder_(std::move(recordFolder)) {
  qRegisterMetaType<ImportProgress>();
  qRegisterMetaType<ImportSummary>();
}

ImportJob::~ImportJob() {
  Cancel();
  Wait();
}

bool ImportJob::Start(std::unique_ptr<ImportSource> source, ImportOptions options) {
  if (thread_) return false;
  cancel_ = false;
  source_ = std::move(source);
  thread_ = QThread::create([this, options = std::move(options)] {
    mailformat::MailSpool spool(spoolFolder_, random_);
    ImportRun run(spool, recordFolder_);
    ImportSummary s = run.Run(*source_, options, cancel_, [this](const ImportProgress& p) {
      QMetaObject::invokeMethod(this, [this, p] { emit progress(p); }, Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(
        this,
        [this, s] {
          Wait();
          emit finished(s);
        },
        Qt::QueuedConnection);
  });
  thread_->start();
  return true;
}

void ImportJob::Wait() {
  if (!thread_) return;
  thread_->wait();
  delete thread_;
  thread_ = nullptr;
}

}  // namespace px::import
