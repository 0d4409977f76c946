#include "transport/receive_chain.h"

#include <QMetaMethod>
#include <QThread>

#include <chrono>

#include "transport/left_on_server.h"

namespace px::transport {

namespace {

void AppendName(std::string& list, const std::string& name) {
  if (!list.empty()) list += ", ";
  list += name;
}

}  // namespace

// Turns a link's reports into the chain's signals. Progress is sent at most every 50 ms, so a
// fast download does not flood the main thread's queue.
class ThreadRecvChain::Events : public ReceiveEvents {
public:
  Events(ThreadRecvChain& chain, int index) : chain_(chain), index_(index) {}
  void ShowSkip() override { emit chain_.showSkip(index_); }
  void ReceiveStarting(int64_t total) override { emit chain_.receiveStarting(index_, total); }
  void Progress(int64_t position) override {
    auto now = std::chrono::steady_clock::now();
    if (now - lastProgress_ < std::chrono::milliseconds(50)) {
      pending_ = position;
      return;
    }
    lastProgress_ = now;
    pending_ = -1;
    emit chain_.progress(index_, position);
  }
  void ReceiveFinished() override {
    if (pending_ >= 0) emit chain_.progress(index_, pending_);
    pending_ = -1;
    emit chain_.receiveFinished(index_);
  }
  void MessageSpooled(const std::string& path) override {
    emit chain_.messageSpooled(QString::fromStdString(path));
  }
  void PreviewListed(const TMailPreviewItem& item) override { emit chain_.previewListed(item); }
  void PreviewHandled(const std::string& account, const std::string& key) override {
    emit chain_.previewHandled(QString::fromStdString(account), QString::fromStdString(key));
  }

private:
  ThreadRecvChain& chain_;
  int index_;
  std::chrono::steady_clock::time_point lastProgress_{};
  int64_t pending_ = -1;
};

ThreadRecvChain::ThreadRecvChain(ChainSetup setup, QObject* parent)
    : QObject(parent), setup_(std::move(setup)) {
  qRegisterMetaType<px::transport::TMailPreviewItem>();
}

ThreadRecvChain::~ThreadRecvChain() {
  if (thread_) {
    Stop();
    thread_->wait();
    delete thread_;
  }
}

void ThreadRecvChain::AddLink(std::unique_ptr<ReceiveLink> link) {
  links_.push_back(std::move(link));
  auto ticks = std::make_unique<std::atomic<bool>[]>(links_.size());
  for (size_t i = 0; i < links_.size(); ++i)
    ticks[i] = i < tickedSize_ ? ticked_[i].load() : true;
  ticked_ = std::move(ticks);
  tickedSize_ = links_.size();
}

bool ThreadRecvChain::SetPreview(int index, PreviewOrder order) {
  if (index < 0 || index >= LinkCount() || running_) return false;
  return links_[index]->SetPreview(std::move(order));
}

std::string ThreadRecvChain::AccountName(int index) const {
  if (index < 0 || index >= LinkCount()) return {};
  return links_[index]->AccountName();
}

void ThreadRecvChain::SetTicked(int index, bool ticked) {
  if (index < 0 || static_cast<size_t>(index) >= tickedSize_) return;
  // The service account cannot be unticked.
  if (links_[index]->IsService()) return;
  ticked_[index] = ticked;
}

bool ThreadRecvChain::IsTicked(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= tickedSize_) return false;
  return ticked_[index];
}

void ThreadRecvChain::Start() {
  if (running_ || thread_) return;
  running_ = true;
  thread_ = QThread::create([this] { Body(); });
  connect(thread_, &QThread::finished, this, [this] {
    running_ = false;
    emit finished();
  });
  thread_->start(QThread::LowestPriority);
}

ChainReport ThreadRecvChain::Run() {
  running_ = true;
  Body();
  running_ = false;
  emit finished();
  return report_;
}

void ThreadRecvChain::Stop() {
  stopReceive_ = true;
  {
    std::lock_guard lock(currentMutex_);
    if (current_) current_->Stop();
  }
  // Taken so that a worker about to wait for an answer sees the stop.
  { std::lock_guard lock(askMutex_); }
  askWake_.notify_all();
}

void ThreadRecvChain::AnswerPassword(std::optional<std::string> password) {
  {
    std::lock_guard lock(askMutex_);
    if (!asking_) return;  // given up meanwhile
    answer_ = std::move(password);
    answered_ = true;
  }
  askWake_.notify_all();
}

std::optional<std::string> ThreadRecvChain::AskPassword(int index, const std::string& account, bool again) {
  const bool onWorker = thread_ && QThread::currentThread() == thread_;
  if (!onWorker || !isSignalConnected(QMetaMethod::fromSignal(&ThreadRecvChain::passwordWanted))) {
    const auto& ask = again && setup_.askPasswordAgain ? setup_.askPasswordAgain : setup_.askPassword;
    return ask ? ask(account) : std::nullopt;
  }
  {
    std::lock_guard lock(askMutex_);
    asking_ = true;
    answered_ = false;
    answer_.reset();
  }
  emit passwordWanted(index, QString::fromStdString(account), again);
  std::unique_lock lock(askMutex_);
  askWake_.wait(lock, [this] { return answered_ || stopReceive_; });
  asking_ = false;
  if (!answered_) return std::nullopt;
  return std::move(answer_);
}

void ThreadRecvChain::Skip() {
  std::lock_guard lock(currentMutex_);
  if (current_) current_->Stop();
}

bool ThreadRecvChain::Wait(unsigned long ms) {
  if (!thread_) return true;
  return thread_->wait(ms);
}

void ThreadRecvChain::Body() {
  report_ = ChainReport{};
  LeftOnServerList scratch;
  LeftOnServerList& list = setup_.leftOnServer ? *setup_.leftOnServer : scratch;
  list.LoadIfNeeded();

  for (int i = 0; i < LinkCount(); ++i) {
    ReceiveLink& link = *links_[i];
    ChainVisit visit;
    visit.account = link.AccountName();
    if (stopReceive_ || !IsTicked(i) || !setup_.spool) {
      report_.visits.push_back(std::move(visit));
      continue;
    }
    bool asked = false;
    if (link.NeedsPassword()) {
      asked = true;
      const std::optional<std::string> answer = AskPassword(i, visit.account, false);
      if (!answer || answer->empty()) {
        report_.visits.push_back(std::move(visit));
        continue;
      }
      link.SetPassword(*answer);
    }
    if (stopReceive_) {
      report_.visits.push_back(std::move(visit));
      continue;
    }
    emit AccountStarted(i, QString::fromStdString(visit.account));
    Events events(*this, i);
    ReceiveContext context{*setup_.spool, list, setup_.isBlocked, events};
    {
      std::lock_guard lock(currentMutex_);
      current_ = &link;
    }
    visit.visited = true;
    visit.result = link.Run(context);
    // A refused password of an account is asked again, once; the account is visited again.
    if (visit.result.status == LinkStatus::WrongPassword && !link.IsService() && !stopReceive_) {
      const std::optional<std::string> answer = AskPassword(i, visit.account, true);
      if (answer && !answer->empty() && !stopReceive_) {
        asked = true;
        link.SetPassword(*answer);
        emit AccountStarted(i, QString::fromStdString(visit.account));
        const int spooled = visit.result.messagesSpooled;
        visit.result = link.Run(context);
        visit.result.messagesSpooled += spooled;
      }
    }
    {
      std::lock_guard lock(currentMutex_);
      current_ = nullptr;
    }
    // Forget a password that was only asked for this run.
    if (asked) link.SetPassword({});
    const LinkResult& r = visit.result;
    report_.messagesSpooled += r.messagesSpooled;
    report_.errorCode = std::max(report_.errorCode, r.errorCode);
    switch (r.status) {
      case LinkStatus::ConnectFailed:
        if (!link.IsService()) AppendName(report_.connectFailures, visit.account);
        break;
      case LinkStatus::WrongPassword:
        // Not an outage: the user name or password is wrong, and the notice says so.
        if (!link.IsService()) AppendName(report_.wrongPasswords, visit.account);
        break;
      case LinkStatus::ReceiveFailed:
        if (!link.IsService()) AppendName(report_.receiveFailures, visit.account);
        break;
      case LinkStatus::Ok:
      case LinkStatus::Stopped:
        break;
    }
    emit AccountFinished(i, static_cast<int>(r.status), QString::fromStdString(r.error));
    bool wrongServicePassword =
        link.IsService() && (r.status == LinkStatus::WrongPassword || r.errorCode == 3);
    report_.visits.push_back(std::move(visit));
    // A wrong service password ends the run: the external accounts are not visited.
    if (wrongServicePassword) {
      for (int j = i + 1; j < LinkCount(); ++j) {
        ChainVisit skipped;
        skipped.account = links_[j]->AccountName();
        report_.visits.push_back(std::move(skipped));
      }
      break;
    }
  }
  report_.stopped = stopReceive_;
  std::string error;
  if (!list.SaveIfModified(&error)) report_.listSaveError = error;
  else list.Release();
}

}  // namespace px::transport
