#pragma once
// While the desk runs, one IMAP connection per account waits in IDLE on the account's first
// folder and says when new mail has arrived, so a receive run can start at once instead of at
// the next check. Each watch runs on a thread of its own, reconnects after a failure (waiting
// longer each time), and stops within a second.
#include <QObject>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport/accounts.h"

namespace px::transport::imap {

class ImapClient;

struct IdleTiming {
  int idleMs = 25 * 60 * 1000;  // IDLE is renewed before servers drop it (RFC 2177: 29 minutes)
  int timeoutMs = 60000;
  int firstRetryMs = 30000;
  int maxRetryMs = 15 * 60 * 1000;
};

class ImapIdleWatch : public QObject {
  Q_OBJECT
public:
  explicit ImapIdleWatch(IdleTiming timing = {}, QObject* parent = nullptr);
  ~ImapIdleWatch() override;

  // Watches the IMAP accounts among `accounts` that are enabled, complete, have a saved
  // password and do not say "idle=0" (nor sign in with OAuth2). Watches whose account did
  // not change go on; the others are stopped or started.
  void Update(const std::vector<ExternalAccount>& accounts);
  void StopAll();
  int Watching() const;

  // Whether an account is to be watched.
  static bool Watchable(const ExternalAccount& account);

signals:
  // Queued to the watch's owner thread.
  void newMail(const QString& account);

private:
  struct Watch;
  void Loop(Watch& w);
  IdleTiming timing_;
  std::vector<std::unique_ptr<Watch>> watches_;
};

}  // namespace px::transport::imap
