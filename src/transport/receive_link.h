#pragma once
// One link of the receive chain: the visit of one mail account (the mail service or a POP3
// account). A link runs on the chain's worker thread, drops raw mail into the spool and never
// touches the store or a window; it reports through ReceiveEvents, which the chain turns into
// queued signals for the main thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "transport/preview_item.h"

namespace px::mailformat {
class MailSpool;
}

namespace px::transport {

class LeftOnServerList;

// What a link tells while it runs. Called on the chain's thread.
class ReceiveEvents {
public:
  virtual ~ReceiveEvents() = default;
  // The account may now be skipped (the transfer window shows "Skip").
  virtual void ShowSkip() {}
  // Downloading begins: `total` bytes are expected in all.
  virtual void ReceiveStarting(int64_t total) {}
  // Bytes received so far for this account.
  virtual void Progress(int64_t position) {}
  // Downloading has ended (whatever the outcome).
  virtual void ReceiveFinished() {}
  // A message is complete in the spool under `path`.
  virtual void MessageSpooled(const std::string& path) {}
  // Preview listing: a message waits on the server (nothing of it was downloaded).
  virtual void PreviewListed(const TMailPreviewItem& item) {}
  // Preview action: the message with this key was received or deleted on the server.
  virtual void PreviewHandled(const std::string& account, const std::string& key) {}
};

// What every link shares with the chain for one run.
struct ReceiveContext {
  mailformat::MailSpool& spool;
  // "msgid.lst": messages fetched and still on a server. One link at a time changes it.
  LeftOnServerList& leftOnServer;
  // Blocked senders (bare, lower-case addresses, service users without the service domain).
  // May be empty; safe to call from the chain's thread.
  std::function<bool(std::string_view senderKey)> isBlocked;
  ReceiveEvents& events;
};

enum class LinkStatus {
  Ok,             // the account was visited (possibly with nothing to fetch)
  ConnectFailed,  // no connection or log-in failed: named in "Cannot connect to ~..."
  ReceiveFailed,  // failed while receiving: named in "An error occurred during communication with ~..."
  WrongPassword,  // the server refused the user name or password
  Stopped,        // stopped by Skip or Abort; not reported as a failure
};

struct LinkResult {
  LinkStatus status = LinkStatus::Ok;
  // The transfer error code of the mail service (0-4); POP3 links leave it 0.
  int errorCode = 0;
  // What went wrong, for logs and the command line (never holds a password).
  std::string error;
  int messagesSpooled = 0;
  // An OAuth2 provider renewed the account's refresh token: it is saved in place of the old.
  std::string renewedSecret;
};

class ReceiveLink {
public:
  virtual ~ReceiveLink() = default;
  // The account's name as the transfer window lists it.
  virtual std::string AccountName() const = 0;
  // True for the mail service's own account, which the chain visits first and whose wrong
  // password ends the run.
  virtual bool IsService() const { return false; }
  // The link needs a password before it can run (none was saved); the chain asks the user.
  virtual bool NeedsPassword() const { return false; }
  virtual void SetPassword(const std::string& password) {}
  // The next Run lists the waiting mail or acts on chosen rows instead of receiving everything;
  // false when this kind of account cannot.
  virtual bool SetPreview(PreviewOrder order) { return false; }
  // Visits the account. Runs on the chain's thread; returns when done, failed or stopped.
  virtual LinkResult Run(ReceiveContext& context) = 0;
  // Any thread: end Run() as soon as possible (within a second). Nothing not yet safely in
  // the spool is marked for deletion on the server.
  virtual void Stop() = 0;
};

}  // namespace px::transport
