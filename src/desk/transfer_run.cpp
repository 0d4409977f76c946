#include "desk/transfer_run.h"

#include "foundation/settings.h"
#include "transport/accounts.h"
#include "transport/sent_notice.h"
#include "transport/smtp/smtp_setting.h"

#include "foundation/message_queue.h"
#include "transport/service_protocol.h"


namespace px::desk {

bool HasMailSetUp(const Settings& settings) {
  if (!settings.ID().empty()) return true;
  if (!transport::ReadSmtpSettings(settings).empty()) return true;
  for (const auto& a : transport::ReadAccounts(settings))
    if (!a.IsService()) return true;
  return false;
}

namespace {

const QString kServiceName = QStringLiteral("Plumadex server");

QString Transferring(const QString& account) {
  return QStringLiteral(" Transferring mail... (") + account + QStringLiteral(")");
}

}  // namespace

TransferRun::TransferRun(TransferSetup setup, QObject* parent) : QObject(parent), setup_(std::move(setup)) {
  endTimer_ = setup_.endTimer;
  if (!endTimer_) {
    ownTimer_ = std::make_unique<QTimer>();
    endTimer_ = ownTimer_.get();
    connect(endTimer_, &QTimer::timeout, this, [this] { OnEndTimer(); });
  }
  endTimer_->setInterval(500);
}

TransferRun::~TransferRun() {
  // A run still going is stopped; the destructors of the chain and the send run join their
  // workers.
  chain_.reset();
  send_.reset();
}

void TransferRun::Shutdown() {
  if (chain_) {
    stopReceive_ = true;
    chain_->Stop();
  }
  if (send_) {
    stopSend_ = true;
    send_->StopAndJoin();  // finished() comes in here: the side has ended
  }
  chain_.reset();
  receiving_ = false;
  snap_.receiving = false;
}

std::vector<std::string> TransferRun::ErrorNotices(int receiveCode, int sendCode) {
  std::vector<std::string> out;
  for (int code : {receiveCode, sendCode}) {
    if (code == 0) continue;
    const std::string text = transport::TransferErrorNotice(code);
    if (text.empty()) continue;
    bool seen = false;
    for (const auto& t : out) seen = seen || t == text;
    if (!seen) out.push_back(text);
  }
  return out;
}

QString TransferRun::NewMailStatus(int total) {
  return QStringLiteral(" %1 new message(s)").arg(total);
}

QString TransferRun::SentToText(const transport::OutgoingMessage& message) {
  return QString::fromStdString(transport::SentNoticeText(message));
}

void TransferRun::setStatus(const QString& text) {
  snap_.status = text;
}

bool TransferRun::Start(bool manual, bool receive, bool send) {
  if (setup_.hasUser && !setup_.hasUser()) return false;
  // The status to go back to when the run has nothing to say at its end.
  if (!endTimer_->isActive()) {
    statusBefore_ = snap_.status;
    snap_.log.clear();
    sentThisRun_.clear();
  }
  if (send && !sending_) stopSend_ = false;
  reportEvenZero_ = manual && receive;
  if (receive) {
    if (!receiving_) StartReceive();
  } else if (!receiving_) {
    receiveCode_ = 0;
  }
  if (send) {
    if (!sending_) StartSend();
  } else if (!sending_) {
    sendCode_ = 0;
  }
  if (!endTimer_->isActive()) endTimer_->start();
  emit started();
  emit changed();
  return true;
}

void TransferRun::StartReceive() {
  stopReceive_ = false;
  receiveCode_ = 0;
  lastReport_ = {};
  chain_ = setup_.prepareReceive ? setup_.prepareReceive() : nullptr;
  if (!chain_ || chain_->LinkCount() == 0) {
    chain_.reset();
    return;
  }
  receiving_ = true;
  snap_.receiving = true;
  snap_.receiveConnecting = false;
  snap_.receivePosition = 0;
  snap_.receiveMaximum = 0;
  snap_.receiveAccount = -1;
  snap_.accounts.clear();
  snap_.accountTicked.clear();
  for (int i = 0; i < chain_->LinkCount(); ++i) {
    snap_.accounts << QString::fromStdString(chain_->AccountName(i));
    snap_.accountTicked << chain_->IsTicked(i);
  }
  auto* chain = chain_.get();
  connect(chain, &transport::ThreadRecvChain::AccountStarted, this, [this](int index, const QString& account) {
    snap_.receiveAccount = index;
    snap_.receiveConnecting = true;
    snap_.receivePosition = 0;
    snap_.receiveMaximum = 0;
    setStatus(QStringLiteral(" Connecting... (") + account + QStringLiteral(")"));
    emit changed();
  });
  connect(chain, &transport::ThreadRecvChain::receiveStarting, this, [this, chain](int index, qint64 total) {
    snap_.receiveConnecting = false;
    snap_.receivePosition = 0;
    snap_.receiveMaximum = total;
    setStatus(Transferring(QString::fromStdString(chain->AccountName(index))));
    emit changed();
  });
  connect(chain, &transport::ThreadRecvChain::progress, this, [this](int, qint64 position) {
    snap_.receivePosition = std::min<int64_t>(position, std::max<int64_t>(snap_.receiveMaximum, position));
  });
  connect(chain, &transport::ThreadRecvChain::receiveFinished, this, [this](int) {
    snap_.receiveConnecting = false;
    emit changed();
  });
  connect(chain, &transport::ThreadRecvChain::finished, this, [this] { OnChainFinished(); });
  chain_->Start();
}

void TransferRun::OnChainFinished() {
  if (!chain_) return;
  lastReport_ = chain_->Report();
  receiveCode_ = lastReport_.errorCode;
  if (lastReport_.stopped) stopReceive_ = true;
  receiving_ = false;
  snap_.receiving = false;
  snap_.receiveConnecting = false;
  snap_.receiveAccount = -1;
  emit changed();
}

void TransferRun::StartSend() {
  std::optional<transport::SendJob> job = setup_.prepareSend ? setup_.prepareSend() : std::nullopt;
  if (!job || job->messages.empty()) return;
  transport::SendContext context = setup_.sendContext;
  if (setup_.sentRegister)
    if (TPXCustomIni* sent = setup_.sentRegister()) context.sent = sent;
  send_ = std::make_unique<transport::SendRun>(context);
  connect(send_.get(), &transport::SendRun::MessageDone, this, [this](int index) {
    const auto& reports = send_->Reports();
    const auto& messages = send_->Messages();
    if (index < 0 || static_cast<size_t>(index) >= reports.size() || static_cast<size_t>(index) >= messages.size())
      return;
    if (reports[index].state != transport::MessageReport::Sent) return;
    const QString line = SentToText(messages[index]);
    snap_.log << line;
    sentThisRun_ << line;
    emit changed();
  });
  connect(send_.get(), &transport::SendRun::UploadStarting, this, [this](int, qint64) {
    snap_.sendConnecting = false;
    setStatus(Transferring(kServiceName));
    emit changed();
  });
  connect(send_.get(), &transport::SendRun::progress, this, [this](qint64 done, qint64 total) {
    snap_.sendMaximum = total;
    snap_.sendPosition = std::min(done, total);
  });
  connect(send_.get(), &transport::SendRun::finished, this, [this](int code) { OnSendFinished(code); });
  snap_.sendPosition = 0;
  snap_.sendMaximum = 0;
  for (const auto& m : job->messages) snap_.sendMaximum += static_cast<int64_t>(m.estimate);
  if (!send_->Start(std::move(*job))) {
    send_.reset();
    return;
  }
  sending_ = true;
  snap_.sending = true;
  snap_.sendConnecting = true;
  setStatus(QStringLiteral(" Connecting... (") + kServiceName + QStringLiteral(")"));
}

void TransferRun::OnSendFinished(int code) {
  sendCode_ = code;
  if (send_ && send_->Stopped()) stopSend_ = true;
  sending_ = false;
  snap_.sending = false;
  snap_.sendConnecting = false;
  emit changed();
}

void TransferRun::StopSend() {
  if (!sending_ || !send_) return;
  stopSend_ = true;
  send_->Stop();
}

void TransferRun::StopReceive() {
  if (!receiving_ || !chain_) return;
  stopReceive_ = true;
  chain_->Stop();
}

void TransferRun::Skip() {
  if (receiving_ && chain_) chain_->Skip();
}

bool TransferRun::OnEndTimer() {
  if (sending_ || receiving_) return false;
  endTimer_->stop();
  send_.reset();
  chain_.reset();
  // An unsaved register would send the same mail again at the next run: told even after a Stop.
  if (setup_.saveSentRegister) {
    const FileStatus st = setup_.saveSentRegister();
    if (!st.ok() && setup_.messages) setup_.messages->QueueMessage(MessageKind::Error, st.message);
  }
  const int filed = setup_.fileMail ? setup_.fileMail() : 0;

  if (!stopReceive_ && !stopSend_ && setup_.messages) {
    // The end of a run is a safe point (a timer of the event loop): each notice is shown before
    // the next is queued, so a later notice never replaces an earlier one still waiting (both
    // directions' failures are seen).
    auto notify = [this](const std::string& text) {
      setup_.messages->QueueMessage(MessageKind::Error, text);
      setup_.messages->ShowQueuedMessages();
    };
    for (const auto& text : ErrorNotices(receiveCode_, sendCode_)) notify(text);
    const std::string mark(1, kConnectionNotice);
    if (!lastReport_.connectFailures.empty())
      notify(mark + "Cannot connect to " + lastReport_.connectFailures + ". Please check external e-mail settings.");
    if (!lastReport_.wrongPasswords.empty())
      notify(mark + "The server refused the user name or password of " + lastReport_.wrongPasswords +
             ". Please check external e-mail settings.");
    if (!lastReport_.receiveFailures.empty())
      notify(mark + "An error occurred during communication with " + lastReport_.receiveFailures +
             ". Try connecting again.");
  }
  if (!lastReport_.listSaveError.empty() && setup_.messages)
    setup_.messages->QueueMessage(MessageKind::Error, lastReport_.listSaveError);

  // Nothing is connecting any more, whatever the filing still does.
  snap_.sendConnecting = snap_.receiveConnecting = false;
  setStatus(sentThisRun_.isEmpty() ? statusBefore_ : QStringLiteral(" ") + sentThisRun_.join(QStringLiteral("; ")));
  snap_.sending = snap_.receiving = false;
  snap_.sendPosition = snap_.sendMaximum = snap_.receivePosition = snap_.receiveMaximum = 0;
  awaitingFiling_ = filed < 0;
  if (filed >= 0) CountNewMail(filed);
  if (setup_.rearmAutoCheck) setup_.rearmAutoCheck();
  if (setup_.ended) setup_.ended();
  emit changed();
  emit ended();
  return true;
}

void TransferRun::CountNewMail(int filed) {
  lastNew_ = filed;
  newMailTotal_ += filed;
  // What left in this run is confirmed in the status line.
  const QString sent = sentThisRun_.isEmpty() ? QString() : QStringLiteral(" ") + sentThisRun_.join(QStringLiteral("; "));
  if (reportEvenZero_ || filed > 0) {
    if (filed > 0 && setup_.playSound) setup_.playSound("MailBeep");
    setStatus(sent.isEmpty() ? NewMailStatus(newMailTotal_) : sent + QStringLiteral(";") + NewMailStatus(newMailTotal_));
  } else if (!sent.isEmpty()) {
    setStatus(sent);
  } else {
    // An automatic check that found nothing leaves the status as it was before the run.
    setStatus(statusBefore_);
  }
}

void TransferRun::FilingFinished(int newMessages) {
  if (!awaitingFiling_) return;
  awaitingFiling_ = false;
  CountNewMail(newMessages);
  emit changed();
}

}  // namespace px::desk
