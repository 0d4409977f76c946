#pragma once
// ThreadRecvChain: one receive run. It visits the mail service's account first and then each
// external account in turn, one link at a time, on a worker thread of its own, and reports
// through queued signals. Links only drop raw mail into the spool; the main thread files it.
#include "transport/receive_link.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QThread;

namespace px::transport {

struct ChainSetup {
  mailformat::MailSpool* spool = nullptr;
  // Loaded when the run starts (unless loaded already), saved when it ends when changed, and
  // then released.
  LeftOnServerList* leftOnServer = nullptr;
  std::function<bool(std::string_view senderKey)> isBlocked;
  // Asked for an account without a saved password; nullopt or an empty answer skips the
  // account. A chain started on its worker whose owner listens to passwordWanted asks the owner
  // instead (see there); otherwise these are called on the chain's thread.
  std::function<std::optional<std::string>(const std::string& account)> askPassword;
  // Asked when the server refused the account's user name or password, once per account and
  // run; the account is visited again with the answer. Empty: askPassword is asked.
  std::function<std::optional<std::string>(const std::string& account)> askPasswordAgain;
};

struct ChainVisit {
  std::string account;
  bool visited = false;  // false: unticked, no password, or the run had ended
  LinkResult result;
};

struct ChainReport {
  int errorCode = 0;            // the larger transfer error code of the run
  std::string connectFailures;  // account names joined by ", "
  std::string receiveFailures;  // account names joined by ", "
  std::string wrongPasswords;   // accounts whose server refused the user name or password
  int messagesSpooled = 0;
  bool stopped = false;         // Abort receiving: no failure is reported
  std::string listSaveError;    // "msgid.lst" could not be saved
  std::vector<ChainVisit> visits;
};

class ThreadRecvChain : public QObject {
  Q_OBJECT
public:
  explicit ThreadRecvChain(ChainSetup setup, QObject* parent = nullptr);
  // Stops a running chain and waits for it.
  ~ThreadRecvChain() override;

  // Links in visiting order (the service link first). Only before the run starts.
  void AddLink(std::unique_ptr<ReceiveLink> link);
  int LinkCount() const { return static_cast<int>(links_.size()); }
  std::string AccountName(int index) const;
  // Makes the run a preview run for this link (see PreviewOrder); only before the run starts.
  // False when the link cannot preview.
  bool SetPreview(int index, PreviewOrder order);
  // The account's tick in the transfer window; an unticked account is passed over when its
  // turn comes. May change while the chain runs.
  void SetTicked(int index, bool ticked);
  bool IsTicked(int index) const;

  // Runs the chain on a worker thread; finished() follows.
  void Start();
  // Runs the chain on the calling thread (command line, tests); signals are direct.
  ChainReport Run();
  // Abort receiving: the current link stops and the chain ends; a password question the worker
  // waits for is given up.
  void Stop();
  // The owner's answer to passwordWanted (any thread; nullopt or "": the account is passed over).
  void AnswerPassword(std::optional<std::string> password);
  // Skip: the current link stops and the chain goes on with the next account.
  void Skip();
  bool IsRunning() const { return running_; }
  // Waits for a started chain; false on time-out.
  bool Wait(unsigned long ms);
  // The outcome; complete once finished() was emitted or Run() returned.
  const ChainReport& Report() const { return report_; }

signals:
  void AccountStarted(int index, const QString& account);
  void showSkip(int index);
  void receiveStarting(int index, qint64 total);
  void progress(int index, qint64 position);
  void receiveFinished(int index);
  void messageSpooled(const QString& path);
  // Preview runs: a waiting message listed; a chosen one received or deleted (by its key).
  void previewListed(const px::transport::TMailPreviewItem& item);
  void previewHandled(const QString& account, const QString& key);
  // status is a LinkStatus; error is empty when it went well.
  void AccountFinished(int index, int status, const QString& error);
  void finished();
  // The worker needs the password of account (again: the server refused the one given). It is
  // asked on the owner's thread, which never waits for the worker: the owner shows the question
  // and answers with AnswerPassword; the worker waits for that or for Stop().
  void passwordWanted(int index, const QString& account, bool again);

private:
  class Events;
  void Body();
  std::optional<std::string> AskPassword(int index, const std::string& account, bool again);
  ChainSetup setup_;
  std::vector<std::unique_ptr<ReceiveLink>> links_;
  std::unique_ptr<std::atomic<bool>[]> ticked_;
  size_t tickedSize_ = 0;
  std::mutex currentMutex_;
  ReceiveLink* current_ = nullptr;
  std::atomic<bool> stopReceive_{false};
  std::atomic<bool> running_{false};
  QThread* thread_ = nullptr;
  // The password question open on the owner's side.
  std::mutex askMutex_;
  std::condition_variable askWake_;
  bool asking_ = false;
  bool answered_ = false;
  std::optional<std::string> answer_;
  ChainReport report_;
};

}  // namespace px::transport

Q_DECLARE_METATYPE(px::transport::TMailPreviewItem)
