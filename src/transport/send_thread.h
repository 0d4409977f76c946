#pragma once
// The send run: a worker thread that delivers the messages of a snapshot taken by the main
// thread (outgoing.h), and the main thread's controller that stamps each accepted message at
// once (sent_stamp.h) and hears of progress and failures through queued signals. The worker
// never touches the store, the settings or a widget.
//
// The route of each message is chosen by RouteOf (send_route.h); SendWorker::RouteFor makes
// the route object. Stamping and the later bookkeeping are the same for every route.
#include "transport/outgoing.h"
#include "transport/send_route.h"
#include "transport/service_route.h"
#include "transport/smtp/smtp_route.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace px {
class RandomSource;
class MessageQueue;
}  // namespace px
namespace px {
class TPXCustomIni;
}  // namespace px
namespace px::store {
class IniRegistry;
}  // namespace px::store

namespace px::transport {

class Crypto;

struct SendJob {
  std::vector<OutgoingMessage> messages;
  ServiceRouteSettings service;
  SmtpRouteSettings smtp;
  bool withdrawKey = false;  // `Check PGP` is set and no PGP is available: withdraw the key
};

class SendWorker : public QObject {
  Q_OBJECT
public:
  SendWorker(SendJob job, RandomSource& random, Crypto& crypto);
  ~SendWorker() override;
  // From any thread: no further message is started and the running one is aborted.
  void Stop();

public slots:
  void Run();

signals:
  void UploadStarting(int index, qint64 estimate);
  void progress(qint64 done, qint64 total);
  // Recipients of a message settled by its delivery (emitted before its outcome).
  void RecipientsSettled(int index, QStringList accepted, QStringList refused);
  void MessageAccepted(int index, QString notice);
  void MessageFailed(int index, int code, QString text);
  void KeyWithdrawn(bool deleteKeyRings);
  void finished(int code, bool stopped);

private:
  MessageRoute& RouteFor(SendRoute route);

  SendJob job_;
  RandomSource& random_;
  Crypto& crypto_;
  std::atomic<bool> stop_{false};
  std::mutex routeMutex_;
  std::unique_ptr<ServiceRoute> service_;
  std::unique_ptr<SmtpRoute> smtp_;
  MessageRoute* current_ = nullptr;
};

struct MessageReport {
  enum State { Waiting, Sent, Failed } state = Waiting;
  int code = 0;           // 0 with a text: the message failed alone, the run went on
  std::string text;
  std::string notice;     // a sent message's warning (recipients the server refused)
};

struct SendContext {
  TPXCustomIni* sent = nullptr;
  store::IniRegistry* registry = nullptr;
  RandomSource* random = nullptr;
  Crypto* crypto = nullptr;
  MessageQueue* messages = nullptr;  // save failures of stamping are queued here when set
  std::string dataRoot;              // key rings live here
};

class SendRun : public QObject {
  Q_OBJECT
public:
  explicit SendRun(SendContext context, QObject* parent = nullptr);
  ~SendRun() override;

  // Starts the worker on the job's messages; false when a run is active or there is nothing.
  bool Start(SendJob job);
  void Stop();
  bool Running() const { return thread_ != nullptr; }
  // The owner is going (the program ends): the worker is stopped and joined, and the reports it
  // sent before it ended (acceptances to stamp, failures, finished) are taken in now. A run
  // that may end in its own time is followed through finished() instead.
  void StopAndJoin();

  int ErrorCode() const { return code_; }
  bool Stopped() const { return stopped_; }
  const std::vector<OutgoingMessage>& Messages() const { return messages_; }
  const std::vector<MessageReport>& Reports() const { return reports_; }

signals:
  void UploadStarting(int index, qint64 estimate);
  void MessageDone(int index);
  void progress(qint64 done, qint64 total);
  void finished(int code);

private:
  void OnSettled(int index, const QStringList& accepted, const QStringList& refused);
  void OnAccepted(int index, const QString& notice);
  void onFailed(int index, int code, const QString& text);
  void OnKeyWithdrawn(bool deleteKeyRings);
  void OnFinished(int code, bool stopped);

  SendContext ctx_;
  QThread* thread_ = nullptr;
  SendWorker* worker_ = nullptr;
  std::vector<OutgoingMessage> messages_;
  std::vector<MessageReport> reports_;
  int code_ = 0;
  bool stopped_ = false;
  std::set<std::string> shown_;  // texts already queued in this run
};

}  // namespace px::transport
