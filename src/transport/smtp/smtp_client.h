#pragma once
// Submission of Internet messages to the user's own outgoing server, on libcurl's SMTP.
//
// TLS always verifies the server's certificate and host name (TLS 1.2 or newer): implicit TLS
// ("tls", port 465) or STARTTLS that must succeed ("starttls", 587); plain SMTP only when the
// account says so. The log-in uses what the server offers (PLAIN, LOGIN, ...). One client keeps
// its connection open between the messages of a run.
//
// Every reply is checked: the reply to each recipient (a message refused for some recipients
// is still delivered to the others, and the refused ones are reported by address) and the reply
// to the message data, without which nothing counts as sent. Stop() ends a submission within a
// second, from any thread. Passwords never reach an error text or a log.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "transport/smtp/smtp_setting.h"

namespace px::transport {

struct SmtpConfig {
  std::string host;
  int port = 0;                 // 0: the security's default
  SmtpSecurity security = SmtpSecurity::StartTls;
  std::string user;             // empty: no log-in
  std::string password;
  std::string caFile;           // extra trusted roots (PEM); may be empty
  bool systemRoots = true;      // also trust the system's roots
  std::string heloName;         // name given in EHLO; empty: this host's name
  long connectTimeoutSec = 30;
  long replyTimeoutSec = 120;   // longest wait for any one server reply

  static SmtpConfig From(const SmtpServerSetting& s);
};

struct SmtpReply {
  std::string address;  // the recipient
  int code = 0;         // the server's reply code; 0 when none came
  std::string text;     // the server's reply line
};

enum class SmtpFailure {
  None,
  Connect,        // could not reach the server
  Tls,            // TLS could not be set up (refused, or no STARTTLS offered)
  Certificate,    // the server's certificate is not trusted or names another host
  Login,          // user name or password refused
  Refused,        // the server refused the sender, every recipient, or the message
  Closing,        // the server is closing the connection (421)
  TimedOut,       // no reply in time
  Dropped,        // the connection broke
  Stopped,        // Stop() was called
  BadInput,       // nothing to send (no usable recipient, unreadable message)
  Other,
};

struct SmtpResult {
  bool accepted = false;              // the server took the message for at least one recipient
  std::vector<SmtpReply> refused;     // recipients the server refused (when accepted: partial)
  SmtpFailure failure = SmtpFailure::None;
  int replyCode = 0;                  // the last reply code the server gave
  std::string error;                  // for the user; never holds a password
  // The whole message went out but the server's reply to it never came: it may have been
  // delivered. It stays unsent, so sending it again may deliver it twice.
  bool mayHaveBeenDelivered = false;

  bool PartlyRefused() const { return accepted && !refused.empty(); }
};

// Bytes of the message sent so far and in all.
using SmtpProgress = std::function<void(int64_t sent, int64_t total)>;

class SmtpClient {
public:
  explicit SmtpClient(SmtpConfig config);
  ~SmtpClient();
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  void SetProgress(SmtpProgress fn) { progress_ = std::move(fn); }

  // Submits `size` bytes read from `fd` (from its current offset): the message, with CR LF line
  // ends. `mailFrom` and `recipients` are bare addresses.
  SmtpResult Send(const std::string& mailFrom, const std::vector<std::string>& recipients, int fd, int64_t size);

  // Logs in and out without sending (the account check of the options).
  SmtpResult Check();

  // Thread-safe; the running and every later submission fail with Stopped.
  void Stop();
  bool Stopped() const { return stop_.load(); }

  struct Impl;

private:
  // Shuts the connection's socket down, so that whatever libcurl waits for ends at once
  // (it would otherwise wait politely for the reply to QUIT from a server that hangs).
  void Kill();

  SmtpConfig config_;
  SmtpProgress progress_;
  std::atomic<bool> stop_{false};
  void* curl_ = nullptr;
  bool needFreshConnection_ = false;  // after a failure the old connection is not trusted
  std::mutex sockMutex_;
  int sock_ = -1;                     // the open connection's socket, -1 when none
};

// A refusal that may pass (4xx: a busy or full mailbox, a grey list); anything else is for good.
inline bool SmtpTemporaryRefusal(int code) { return code >= 400 && code < 500; }

// A short text for the user naming the failure (never the password).
std::string DescribeSmtpFailure(const SmtpResult& r, const std::string& server);

}  // namespace px::transport
