#pragma once
// The connection under our own mail protocol clients (POP3, IMAP): a non-blocking socket with
// TLS through OpenSSL (peer and host name verified, OpenSSL's default trust paths), a read
// buffer with capped lines, bounded waits, and Stop() from any thread. The protocol on top
// reads lines and raw bytes from the buffer and writes commands.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace px::transport {

enum class ErrorKind {
  None,
  HostNotFound,
  Refused,
  ConnectFailed,
  Timeout,
  TlsFailed,
  CertificateRejected,
  NoTls,           // the server offers no STARTTLS/STLS and plain text is not allowed
  LoginRejected,   // the server refused the user name or password
  ServerError,     // the server refused another command
  Protocol,        // a reply that is not of the protocol
  LineTooLong,
  ReplyTooLong,    // a message or header far longer than announced or allowed
  Closed,          // the server closed the connection
  Stopped,
  NeedsOAuth,      // the server takes no password for this account: it wants OAuth2
};

class MailSocket {
public:
  MailSocket();
  ~MailSocket();
  MailSocket(const MailSocket&) = delete;
  MailSocket& operator=(const MailSocket&) = delete;

  // Time-out of the connection and of every wait for the server, in milliseconds.
  void SetTimeout(int ms) { timeoutMs_ = ms; }
  // A point in time (steady clock, milliseconds, see SteadyMs) by which whatever runs must be
  // done, however the server paces its bytes; a wait that would pass it fails with Timeout.
  // 0: none.
  void SetDeadline(int64_t steadyMs) { deadlineMs_ = steadyMs; }
  int64_t deadline() const { return deadlineMs_; }
  static int64_t SteadyMs();

  void Close();
  bool IsConnected() const { return fd_ >= 0; }
  // Whether the session can still take commands after the last failure.
  bool IsUsable() const { return fd_ >= 0 && !broken_; }
  // Any thread: ends the current wait with Stopped and closes nothing else.
  void Stop();
  bool IsStopped() const { return stopped_; }
  bool encrypted() const { return ssl_ != nullptr; }
  ErrorKind error() const { return error_; }
  // What went wrong, in words (for reports and logs; never holds the password).
  const std::string& errorText() const { return errorText_; }

protected:
  // Records a failure; kinds other than LoginRejected and ServerError leave the session unusable.
  bool Fail(ErrorKind kind, std::string text);
  void ClearError();
  bool ConnectSocket(const std::string& host, int port);
  // Takes a socket that is already connected (tests, fuzzing).
  void AdoptSocket(int fd);
  bool StartTls(const std::string& host);
  // Forgets what was read before TLS began: it cannot be trusted.
  void DropBuffered();
  bool WaitFor(bool write);
  bool ReadMore();
  // The next line with its line end; longer than `cap` fails with LineTooLong.
  bool ReadLine(std::string_view& line, size_t cap);
  bool WriteAll(std::string_view data);
  // Appends the next `n` bytes, whatever they are, to `out`.
  bool ReadExact(size_t n, std::string& out);

  int fd_ = -1;
  SSL* ssl_ = nullptr;
  bool broken_ = false;
  int timeoutMs_ = 180000;
  int64_t deadlineMs_ = 0;
  std::string rbuf_;
  size_t rpos_ = 0;   // start of unread data
  size_t rscan_ = 0;  // no line end before this offset
  ErrorKind error_ = ErrorKind::None;
  std::string errorText_;
  std::string host_;

private:
  int stopFd_ = -1;
  SSL_CTX* ctx_ = nullptr;
  std::atomic<bool> stopped_{false};
};

// Server text for an error message: printable ASCII only, short.
std::string PrintableReply(std::string_view s);

}  // namespace px::transport
