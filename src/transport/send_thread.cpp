#include "transport/send_thread.h"

#include "foundation/dates.h"
#include "foundation/message_queue.h"
#include "transport/crypto_seam.h"
#include "transport/sent_stamp.h"
#include "transport/service_protocol.h"

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <stdio.h>
#include <cstdio>

namespace px::transport {

SendWorker::SendWorker(SendJob job, RandomSource& random, Crypto& crypto)
    : job_(std::move(job)), random_(random), crypto_(crypto) {}

SendWorker::~SendWorker() = default;

void SendWorker::Stop() {
  stop_.store(true);
  std::lock_guard<std::mutex> lock(routeMutex_);
  if (current_) current_->Abort();
}

MessageRoute& SendWorker::RouteFor(SendRoute route) {
  std::lock_guard<std::mutex> lock(routeMutex_);
  switch (route) {
    case SendRoute::Smtp:
      if (!smtp_) smtp_ = std::make_unique<SmtpRoute>(job_.smtp, random_);
      current_ = smtp_.get();
      return *smtp_;
    case SendRoute::Service:
    default:
      if (!service_) service_ = std::make_unique<ServiceRoute>(job_.service, random_, crypto_);
      current_ = service_.get();
      return *service_;
  }
}

void SendWorker::Run() {
  int code = teNone;
  if (job_.withdrawKey) {
    HttpClient c(job_.service.http);
    c.SetBasicAuth(job_.service.user, job_.service.password);
    const HttpResult r = c.PostForm(ServiceUrl(job_.service.host, KeyServerPath()), {{"type", "delkey"}});
    emit KeyWithdrawn(r.Ok() && !r.body.empty());
  }
  uint64_t total = 0;
  for (const auto& m : job_.messages) total += m.estimate;
  uint64_t base = 0;
  auto lastReport = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  for (size_t i = 0; i < job_.messages.size(); ++i) {
    if (stop_.load()) break;
    if (code != teNone && code != teNoKey) break;
    const OutgoingMessage& m = job_.messages[i];
    emit UploadStarting(static_cast<int>(i), static_cast<qint64>(m.estimate));
    MessageRoute& route = RouteFor(RouteOf(m, job_.smtp));
    if (stop_.load()) break;
    const RouteOutcome out = route.Deliver(m, [&](uint64_t done) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastReport >= std::chrono::milliseconds(100)) {
        lastReport = now;
        emit progress(static_cast<qint64>(base + std::min(done, m.estimate)), static_cast<qint64>(total));
      }
      return !stop_.load();
    });
    base += m.estimate;
    if (!out.acceptedFor.empty() || !out.refusedFor.empty()) {
      QStringList accepted, refused;
      for (const auto& a : out.acceptedFor) accepted << QString::fromStdString(a);
      for (const auto& a : out.refusedFor) refused << QString::fromStdString(a);
      emit RecipientsSettled(static_cast<int>(i), accepted, refused);
    }
    if (out.accepted) {
      emit MessageAccepted(static_cast<int>(i), QString::fromStdString(out.notice));
    } else if (out.messageOnly && !stop_.load()) {
      emit MessageFailed(static_cast<int>(i), 0, QString::fromStdString(out.text));
    } else {
      if (!stop_.load()) code = out.code ? out.code : teCommunication;
      emit MessageFailed(static_cast<int>(i), out.code ? out.code : teCommunication, QString::fromStdString(out.text));
    }
  }
  emit progress(static_cast<qint64>(total), static_cast<qint64>(total));
  {
    std::lock_guard<std::mutex> lock(routeMutex_);
    current_ = nullptr;
    service_.reset();
    smtp_.reset();
  }
  emit finished(code, stop_.load());
}

SendRun::SendRun(SendContext context, QObject* parent) : QObject(parent), ctx_(std::move(context)) {}

SendRun::~SendRun() {
  Stop();
  if (thread_) {
    thread_->quit();
    thread_->wait();
    delete worker_;
    delete thread_;
  }
}

bool SendRun::Start(SendJob job) {
  if (thread_ || job.messages.empty()) return false;
  shown_.clear();
  messages_ = job.messages;
  reports_.assign(messages_.size(), MessageReport{});
  code_ = 0;
  stopped_ = false;
  thread_ = new QThread;
  worker_ = new SendWorker(std::move(job), *ctx_.random, *ctx_.crypto);
  worker_->moveToThread(thread_);
  connect(thread_, &QThread::started, worker_, &SendWorker::Run);
  connect(worker_, &SendWorker::RecipientsSettled, this, &SendRun::OnSettled, Qt::QueuedConnection);
  connect(worker_, &SendWorker::MessageAccepted, this, &SendRun::OnAccepted, Qt::QueuedConnection);
  connect(worker_, &SendWorker::MessageFailed, this, &SendRun::onFailed, Qt::QueuedConnection);
  connect(worker_, &SendWorker::KeyWithdrawn, this, &SendRun::OnKeyWithdrawn, Qt::QueuedConnection);
  connect(worker_, &SendWorker::progress, this, &SendRun::progress, Qt::QueuedConnection);
  connect(worker_, &SendWorker::UploadStarting, this, &SendRun::UploadStarting, Qt::QueuedConnection);
  connect(worker_, &SendWorker::finished, this, &SendRun::OnFinished, Qt::QueuedConnection);
  thread_->start(QThread::LowPriority);
  return true;
}

void SendRun::Stop() {
  if (worker_) worker_->Stop();
}

void SendRun::StopAndJoin() {
  if (!thread_) return;
  Stop();
  // The worker's Run returns soon after Stop (the routes shut their sockets); its thread has no
  // more work once it has.
  thread_->quit();
  thread_->wait();
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void SendRun::OnSettled(int index, const QStringList& accepted, const QStringList& refused) {
  if (index < 0 || static_cast<size_t>(index) >= messages_.size()) return;
  std::vector<std::string> a, r;
  for (const auto& s : accepted) a.push_back(s.toStdString());
  for (const auto& s : refused) r.push_back(s.toStdString());
  // Recorded at once: a message still waiting for a busy mailbox is never sent again to
  // those who have it.
  const std::string err = RecordSettledRecipients(messages_[index], a, r, *ctx_.sent);
  if (!err.empty()) {
    reports_[index].text = err;
    if (ctx_.messages) ctx_.messages->QueueMessage(MessageKind::Error, err);
  }
}

void SendRun::OnAccepted(int index, const QString& notice) {
  if (index < 0 || static_cast<size_t>(index) >= messages_.size()) return;
  reports_[index].state = MessageReport::Sent;
  if (!notice.isEmpty()) {
    reports_[index].notice = notice.toStdString();
    if (ctx_.messages) ctx_.messages->QueueMessage(MessageKind::Warning, reports_[index].notice);
  }
  const FileStatus st = StampSent(messages_[index], NowDateTime(), *ctx_.sent, *ctx_.registry);
  if (!st.ok()) {
    reports_[index].text = st.message;
    if (ctx_.messages) ctx_.messages->QueueMessage(MessageKind::Error, st.message);
  }
  emit MessageDone(index);
}

void SendRun::onFailed(int index, int code, const QString& text) {
  if (index < 0 || static_cast<size_t>(index) >= messages_.size()) return;
  reports_[index].state = MessageReport::Failed;
  reports_[index].code = code;
  reports_[index].text = text.toStdString();
  // A failure of this message alone (code 0) is not summed up by the run's error code: say it.
  if (code == 0 && ctx_.messages && shown_.insert(reports_[index].text).second)
    ctx_.messages->QueueMessage(MessageKind::Error, reports_[index].text);
  emit MessageDone(index);
}

void SendRun::OnKeyWithdrawn(bool deleteKeyRings) {
  if (!deleteKeyRings || ctx_.dataRoot.empty()) return;
  // The old key rings are put aside, never deleted: a secret key is not to be lost because the
  // server forgot its public half.
  for (const char* name : {"plumadex.skr", "plumadex.pkr"}) {
    const std::string from = ctx_.dataRoot + name;
    for (int n = 0; n < 100; ++n) {
      const std::string to = from + ".withdrawn" + (n ? "-" + std::to_string(n) : std::string());
      if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 || errno != EEXIST) break;
    }
  }
}

void SendRun::OnFinished(int code, bool stopped) {
  code_ = code;
  stopped_ = stopped;
  if (thread_) {
    thread_->quit();
    thread_->wait();
    delete worker_;
    delete thread_;
    worker_ = nullptr;
    thread_ = nullptr;
  }
  emit finished(code);
}

}  // namespace px::transport
