#pragma once
// One transfer run of the desk: a send side (SendRun) and a receive side (ThreadRecvChain)
// that may start at different times and end together. The model runs on the main thread;
// the workers report through queued signals and the windows read Snapshot() on their own
// timer, so however fast data comes the bars repaint at their own pace.
//
// When both sides have ended, the end-of-run tick files what arrived, does the sent
// bookkeeping, reports the failures (unless the user stopped the run), adds the new
// messages to the running total and re-arms the automatic check.
#include "foundation/file_status.h"
#include "transport/receive_chain.h"
#include "transport/send_thread.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace px {
class MessageQueue;
class Settings;
}

namespace px::desk {

// A run has something to do: a service user, an outgoing server or an incoming account is set
// up (someone who only uses their own accounts has no service user).
bool HasMailSetUp(const Settings& settings);

// What a run needs from the rest of the desk. Every function may be empty.
struct TransferSetup {
  MessageQueue* messages = nullptr;          // failure notices
  transport::SendContext sendContext;        // where accepted messages are stamped
  // The desk's outgoing register, read when a send side starts (it is opened during the desk's
  // start-up, after the run is made); null or empty: sendContext.sent.
  std::function<TPXCustomIni*()> sentRegister;
  // The service user is set up (a run does nothing otherwise).
  std::function<bool()> hasUser;
  // The job of everything pending; nullopt when nothing is pending or the password was not
  // given. Asked on the main thread before the send side starts.
  std::function<std::optional<transport::SendJob>()> prepareSend;
  // The chain of this receive run, its links added; null when there is nothing to visit.
  std::function<std::unique_ptr<transport::ThreadRecvChain>()> prepareReceive;
  // The transfer timer's work at once: filing and the sent bookkeeping. Returns the number of
  // new messages filed, or -1 when filing goes on from the event loop (FilingFinished follows).
  std::function<int()> fileMail;
  // Saves the sent register when it changed; a failure is told to the user.
  std::function<FileStatus()> saveSentRegister;
  std::function<void(const std::string&)> playSound;
  // Restarts the automatic check when it is enabled (the next check one interval after this run).
  std::function<void()> rearmAutoCheck;
  // The run has ended (the desk hides its indicators and relists).
  std::function<void()> ended;
  // The end-of-run timer; null: the run keeps its own.
  QTimer* endTimer = nullptr;
};

// What the indicators show; read by the windows on their own timer.
struct TransferSnapshot {
  bool sending = false;
  bool receiving = false;
  bool sendConnecting = false;     // no upload has begun yet
  bool receiveConnecting = false;  // an account is being connected to
  int64_t sendPosition = 0;        // bytes
  int64_t sendMaximum = 0;
  int64_t receivePosition = 0;
  int64_t receiveMaximum = 0;
  int receiveAccount = -1;         // index of the account being visited
  QStringList accounts;            // the accounts of the receive run, in visiting order
  QList<bool> accountTicked;       // each one is visited (the others are passed over)
  QString status;                  // the status bar's state text
  QStringList log;                 // what the run did so far ("Sent to ..."), oldest first
};

class TransferRun : public QObject {
  Q_OBJECT
public:
  explicit TransferRun(TransferSetup setup, QObject* parent = nullptr);
  ~TransferRun() override;

  // Starts a run or adds a side to the running one. Returns false when nothing happened (no
  // service user set up).
  bool Start(bool manual, bool receive, bool send);
  // Abort sending: the send worker stops; the run's failures are not reported.
  void StopSend();
  // Abort receiving: the current account stops and the chain ends.
  void StopReceive();
  // Skip: the current account stops; the chain goes on with the next one.
  void Skip();

  // A run exists (the end-of-run timer is active).
  bool Active() const { return endTimer_->isActive(); }
  bool Sending() const { return sending_; }
  bool Receiving() const { return receiving_; }
  // The end-of-run tick (500 ms); does nothing while a side runs. True when the run ended.
  bool OnEndTimer();
  // Filing that the end of the run started has ended with `newMessages` new messages.
  void FilingFinished(int newMessages);
  // The program is going: both sides stop, their workers are joined and the send side's last
  // reports are taken in (acceptances stamp the register still open). Whoever can wait for the
  // end of a run (the close of the desk) stops it and follows ended() instead.
  void Shutdown();

  TransferSnapshot Snapshot() const { return snap_; }
  int NewMailTotal() const { return newMailTotal_; }
  void ResetNewMailTotal() { newMailTotal_ = 0; }
  int SendErrorCode() const { return sendCode_; }
  int ReceiveErrorCode() const { return receiveCode_; }
  // New messages filed at the end of the last run.
  int LastNewMessages() const { return lastNew_; }
  const transport::ChainReport& LastReceiveReport() const { return lastReport_; }

  // The notices of a run's codes: both when both sides failed with different codes (a wrong
  // password must not hide behind a connection failure), one when they agree.
  static std::vector<std::string> ErrorNotices(int receiveCode, int sendCode);
  // " ~ new message(s)" with the total.
  static QString NewMailStatus(int total);
  // "Sent to " and the message's recipients (transport/sent_notice).
  static QString SentToText(const transport::OutgoingMessage& message);

signals:
  void started();
  void changed();
  void ended();

private:
  void StartReceive();
  void StartSend();
  void setStatus(const QString& text);
  void OnSendFinished(int code);
  void OnChainFinished();
  void CountNewMail(int filed);

  TransferSetup setup_;
  QTimer* endTimer_ = nullptr;
  std::unique_ptr<QTimer> ownTimer_;
  std::unique_ptr<transport::SendRun> send_;
  std::unique_ptr<transport::ThreadRecvChain> chain_;
  bool sending_ = false;
  bool receiving_ = false;
  bool stopSend_ = false;
  bool stopReceive_ = false;
  bool reportEvenZero_ = false;
  int sendCode_ = 0;
  int receiveCode_ = 0;
  int newMailTotal_ = 0;
  int lastNew_ = 0;
  bool awaitingFiling_ = false;
  transport::ChainReport lastReport_;
  TransferSnapshot snap_;
  QStringList sentThisRun_;  // "Sent to ..." of the messages this run delivered
  QString statusBefore_;
};

}  // namespace px::desk
