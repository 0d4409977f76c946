#include "transport/pop3/pop3_client.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace px::transport::pop3 {

namespace {

constexpr size_t kReadChunk = 256 * 1024;
// Bytes dropped while skipping the rest of a reply that was given up on; past this the
// session is abandoned instead.
constexpr uint64_t kMaxDrop = 64ull * 1024 * 1024;
constexpr int kQuitTimeoutMs = 30000;

bool IsIpAddress(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string OpenSslErrors() {
  std::string r;
  while (unsigned long e = ERR_get_error()) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    if (!r.empty()) r += "; ";
    r += buf;
  }
  return r;
}

bool ParseNumber(std::string_view s, int64_t& out) {
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && out >= 0;
}

// Splits "a b ..." into its first two blank-separated words.
std::pair<std::string_view, std::string_view> TwoWords(std::string_view s) {
  auto skip = [&](size_t i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return i;
  };
  size_t a = skip(0);
  size_t ae = a;
  while (ae < s.size() && s[ae] != ' ' && s[ae] != '\t') ++ae;
  size_t b = skip(ae);
  size_t be = b;
  while (be < s.size() && s[be] != ' ' && s[be] != '\t') ++be;
  return {s.substr(a, ae - a), s.substr(b, be - b)};
}

std::string_view StripLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// Server text for an error message: printable ASCII only, short.
std::string Printable(std::string_view s) {
  std::string r;
  for (char c : s.substr(0, 200)) r += (c >= 0x20 && c < 0x7f) ? c : '?';
  return r;
}

}  // namespace

std::string_view SecurityName(Security s) {
  switch (s) {
    case Security::Auto: return "auto";
    case Security::Tls: return "tls";
    case Security::StartTls: return "starttls";
    case Security::Plain: return "plain";
  }
  return "auto";
}

std::optional<Security> ParseSecurity(std::string_view text) {
  for (Security s : {Security::Auto, Security::Tls, Security::StartTls, Security::Plain})
    if (text == SecurityName(s)) return s;
  return std::nullopt;
}

std::optional<ServerAddress> ParseServerAddress(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  ServerAddress a;
  std::string_view port;
  if (text.starts_with("[")) {
    size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    a.host = std::string(text.substr(1, close - 1));
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return std::nullopt;
      port = rest.substr(1);
      if (port.empty()) return std::nullopt;
    }
  } else {
    size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) == std::string_view::npos) {
      a.host = std::string(text.substr(0, colon));
      port = text.substr(colon + 1);
      if (port.empty()) return std::nullopt;
    } else {
      a.host = std::string(text);  // a bare IPv6 address has several colons and no port
    }
  }
  if (a.host.empty()) return std::nullopt;
  for (char c : a.host)
    if (static_cast<unsigned char>(c) <= 0x20 || c == '/' || c == '\\' || c == 0x7f)
      return std::nullopt;
  if (!port.empty()) {
    int64_t p = 0;
    if (!ParseNumber(port, p) || p < 1 || p > 65535) return std::nullopt;
    a.port = static_cast<int>(p);
  }
  return a;
}

Pop3Client::Pop3Client() { stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

Pop3Client::~Pop3Client() {
  Close();
  if (ctx_) SSL_CTX_free(ctx_);
  if (stopFd_ >= 0) ::close(stopFd_);
}

void Pop3Client::Stop() {
  stopped_ = true;
  if (stopFd_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
  }
}

bool Pop3Client::Fail(ErrorKind kind, std::string text) {
  if (stopped_) {
    kind = ErrorKind::Stopped;
    text = "Stopped";
  }
  error_ = kind;
  errorText_ = std::move(text);
  // Replies after these cannot be told apart from the rest of the broken one.
  switch (kind) {
    case ErrorKind::LoginRejected:
    case ErrorKind::ServerError:
      break;
    default:
      broken_ = true;
  }
  return false;
}

void Pop3Client::Close() {
  if (ssl_) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  rbuf_.clear();
  rpos_ = rscan_ = 0;
}

int64_t Pop3Client::SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool Pop3Client::WaitFor(bool write) {
  pollfd p[2] = {{fd_, short(write ? POLLOUT : POLLIN), 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    if (stopped_) return Fail(ErrorKind::Stopped, "Stopped");
    int wait = timeoutMs_;
    bool paced = false;
    if (deadlineMs_ > 0) {
      const int64_t left = deadlineMs_ - SteadyMs();
      if (left <= 0) return Fail(ErrorKind::Timeout, "The server is too slow: it was given up on.");
      if (left < wait) {
        wait = static_cast<int>(left);
        paced = true;
      }
    }
    int n = ::poll(p, stopFd_ >= 0 ? 2 : 1, wait);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(ErrorKind::Closed, std::string("poll: ") + std::strerror(errno));
    if (n == 0 && paced) return Fail(ErrorKind::Timeout, "The server is too slow: it was given up on.");
    if (n == 0) return Fail(ErrorKind::Timeout, "The server did not answer in time.");
    if (stopped_) return Fail(ErrorKind::Stopped, "Stopped");
    return true;
  }
}

bool Pop3Client::ConnectSocket(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  std::string service = std::to_string(port);
  int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
  if (rc != 0) {
    if (rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_FAIL || rc == EAI_AGAIN)
      return Fail(ErrorKind::HostNotFound, "Host not found: " + host);
    return Fail(ErrorKind::HostNotFound, std::string("Cannot resolve ") + host + ": " + gai_strerror(rc));
  }
  ErrorKind kind = ErrorKind::ConnectFailed;
  std::string text = "Cannot connect to " + host;
  for (addrinfo* ai = res; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int err = 0;
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        fd_ = fd;
        if (!WaitFor(true)) {
          fd_ = -1;
          ::close(fd);
          broken_ = false;
          if (error_ == ErrorKind::Stopped) {
            ::freeaddrinfo(res);
            return false;
          }
          kind = ErrorKind::Timeout;
          text = "Connecting to " + host + " timed out";
          continue;
        }
        fd_ = -1;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      }
    }
    if (err == 0) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      fd_ = fd;
      ::freeaddrinfo(res);
      return true;
    }
    ::close(fd);
    if (err == ECONNREFUSED) {
      kind = ErrorKind::Refused;
      text = "Connection refused by " + host + " port " + service;
    } else if (kind != ErrorKind::Refused) {
      kind = ErrorKind::ConnectFailed;
      text = "Cannot connect to " + host + " port " + service + ": " + std::strerror(err);
    }
  }
  ::freeaddrinfo(res);
  return Fail(kind, text);
}

bool Pop3Client::StartTls(const std::string& host) {
  if (!ctx_) {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) return Fail(ErrorKind::TlsFailed, "TLS: " + OpenSslErrors());
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // OpenSSL's default trust paths: the system store, or SSL_CERT_FILE / SSL_CERT_DIR.
    SSL_CTX_set_default_verify_paths(ctx_);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  }
  ssl_ = SSL_new(ctx_);
  if (!ssl_) return Fail(ErrorKind::TlsFailed, "TLS: " + OpenSslErrors());
  SSL_set_fd(ssl_, fd_);
  if (IsIpAddress(host)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str());
  } else {
    SSL_set_tlsext_host_name(ssl_, host.c_str());
    SSL_set1_host(ssl_, host.c_str());
  }
  for (;;) {
    ERR_clear_error();
    int r = SSL_connect(ssl_);
    if (r == 1) break;
    int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      if (!WaitFor(e == SSL_ERROR_WANT_WRITE)) return false;
      continue;
    }
    long v = SSL_get_verify_result(ssl_);
    if (v != X509_V_OK)
      return Fail(ErrorKind::CertificateRejected,
                  std::string("The server's certificate was rejected: ") +
                      X509_verify_cert_error_string(v));
    std::string detail = OpenSslErrors();
    return Fail(ErrorKind::TlsFailed, "TLS handshake failed" + (detail.empty() ? "" : ": " + detail));
  }
  return true;
}

bool Pop3Client::ReadMore() {
  if (rpos_ > 0 && (rpos_ == rbuf_.size() || rpos_ >= kReadChunk)) {
    rbuf_.erase(0, rpos_);
    rscan_ -= std::min(rscan_, rpos_);
    rpos_ = 0;
  }
  size_t old = rbuf_.size();
  rbuf_.resize(old + kReadChunk);
  for (;;) {
    if (stopped_) {
      rbuf_.resize(old);
      return Fail(ErrorKind::Stopped, "Stopped");
    }
    ssize_t n;
    if (ssl_) {
      ERR_clear_error();
      int r = SSL_read(ssl_, rbuf_.data() + old, static_cast<int>(kReadChunk));
      if (r > 0) {
        n = r;
      } else {
        int e = SSL_get_error(ssl_, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
          if (!WaitFor(e == SSL_ERROR_WANT_WRITE)) {
            rbuf_.resize(old);
            return false;
          }
          continue;
        }
        rbuf_.resize(old);
        if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0))
          return Fail(ErrorKind::Closed, "The server closed the connection.");
        return Fail(ErrorKind::TlsFailed, "TLS: " + OpenSslErrors());
      }
    } else {
      n = ::recv(fd_, rbuf_.data() + old, kReadChunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitFor(false)) {
          rbuf_.resize(old);
          return false;
        }
        continue;
      }
      if (n <= 0) {
        rbuf_.resize(old);
        return Fail(ErrorKind::Closed, n == 0 ? "The server closed the connection."
                                              : std::string("recv: ") + std::strerror(errno));
      }
    }
    rbuf_.resize(old + static_cast<size_t>(n));
    return true;
  }
}

bool Pop3Client::ReadLine(std::string_view& line, size_t cap) {
  for (;;) {
    size_t from = std::max(rscan_, rpos_);
    size_t nl = rbuf_.find('\n', from);
    if (nl != std::string::npos) {
      line = std::string_view(rbuf_).substr(rpos_, nl + 1 - rpos_);
      rpos_ = nl + 1;
      rscan_ = rpos_;
      if (line.size() > cap) return Fail(ErrorKind::LineTooLong, "The server sent a line longer than 1 MiB.");
      return true;
    }
    rscan_ = rbuf_.size();
    if (rbuf_.size() - rpos_ > cap) {
      rpos_ = rbuf_.size();  // the start of the line is dropped; the rest may be skipped
      return Fail(ErrorKind::LineTooLong, "The server sent a line longer than 1 MiB.");
    }
    if (!ReadMore()) return false;
  }
}

bool Pop3Client::WriteAll(std::string_view data) {
  while (!data.empty()) {
    if (stopped_) return Fail(ErrorKind::Stopped, "Stopped");
    ssize_t n;
    if (ssl_) {
      ERR_clear_error();
      int r = SSL_write(ssl_, data.data(), static_cast<int>(std::min<size_t>(data.size(), 1 << 20)));
      if (r <= 0) {
        int e = SSL_get_error(ssl_, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
          if (!WaitFor(e == SSL_ERROR_WANT_WRITE)) return false;
          continue;
        }
        return Fail(ErrorKind::Closed, "Cannot send to the server: " + OpenSslErrors());
      }
      n = r;
    } else {
      n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!WaitFor(true)) return false;
        continue;
      }
      if (n < 0) return Fail(ErrorKind::Closed, std::string("Cannot send to the server: ") + std::strerror(errno));
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool Pop3Client::Command(std::string_view cmd) {
  if (fd_ < 0 || broken_) return Fail(ErrorKind::Closed, "Not connected.");
  std::string line(cmd);
  line += "\r\n";
  return WriteAll(line);
}

bool Pop3Client::ReadStatus(std::string* text) {
  std::string_view line;
  if (!ReadLine(line, kMaxLine)) return false;
  line = StripLineEnd(line);
  if (line.starts_with("+OK")) {
    if (text) *text = std::string(line.substr(3));
    return true;
  }
  if (line.starts_with("-ERR")) {
    if (text) *text = std::string(line.substr(4));
    return Fail(ErrorKind::ServerError, "The server answered: " + Printable(line));
  }
  return Fail(ErrorKind::Protocol, "Not a POP3 reply: " + Printable(line));
}

bool Pop3Client::Simple(std::string_view cmd, std::string* text) {
  return Command(cmd) && ReadStatus(text);
}

bool Pop3Client::ReadBody(uint64_t maxBytes, const std::function<bool(std::string_view)>& line) {
  uint64_t total = 0;
  bool wanted = true;
  for (;;) {
    std::string_view l;
    if (!ReadLine(l, kMaxLine)) {
      // An endless line: drop the rest so the session goes on with the next message.
      if (error_ == ErrorKind::LineTooLong && fd_ >= 0 && !stopped_) {
        ErrorKind kind = error_;
        std::string text = errorText_;
        broken_ = false;
        if (DropBody(kMaxDrop)) {
          error_ = kind;
          errorText_ = text;
        }
      }
      return false;
    }
    if (l == ".\r\n" || l == ".\n") return wanted;
    if (l[0] == '.') l.remove_prefix(1);
    total += l.size();
    if (total > maxBytes) {
      if (DropBody(kMaxDrop)) {
        error_ = ErrorKind::ReplyTooLong;
        errorText_ = "The server sent far more than it announced.";
      } else {
        return Fail(ErrorKind::ReplyTooLong, "The server sent far more than it announced.");
      }
      return false;
    }
    if (wanted && !line(l)) wanted = false;
  }
}

bool Pop3Client::DropBody(uint64_t maxBytes) {
  // Looks for the terminating "." line without holding lines: an endless line costs nothing.
  uint64_t dropped = 0;
  bool atLineStart = rpos_ == 0 || (rpos_ <= rbuf_.size() && rbuf_[rpos_ - 1] == '\n');
  for (;;) {
    while (rpos_ < rbuf_.size()) {
      size_t nl = rbuf_.find('\n', rpos_);
      if (nl == std::string::npos) {
        std::string_view rest = std::string_view(rbuf_).substr(rpos_);
        // A "." alone waits for its line end before it counts.
        if (atLineStart && (rest == "." || rest == ".\r")) break;
        dropped += rest.size();
        rpos_ = rscan_ = rbuf_.size();
        atLineStart = false;
        break;
      }
      std::string_view l = std::string_view(rbuf_).substr(rpos_, nl + 1 - rpos_);
      rpos_ = rscan_ = nl + 1;
      dropped += l.size();
      if (atLineStart && (l == ".\r\n" || l == ".\n")) return true;
      atLineStart = true;
    }
    if (dropped > maxBytes) return Fail(ErrorKind::ReplyTooLong, "The server sent far more than it announced.");
    if (!ReadMore()) return false;
  }
}

bool Pop3Client::ReadCapa() {
  caps_ = Capabilities{};
  if (!Command("CAPA")) return false;
  std::string text;
  if (!ReadStatus(&text)) {
    if (error_ == ErrorKind::ServerError) {
      error_ = ErrorKind::None;
      errorText_.clear();
      return true;  // no CAPA: nothing is known
    }
    return false;
  }
  caps_.known = true;
  int lines = 0;
  bool ok = ReadBody(64 * 1024, [&](std::string_view l) {
    if (++lines > 1000) return false;
    std::string word(TwoWords(StripLineEnd(l)).first);
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word == "STLS") caps_.stls = true;
    else if (word == "UIDL") caps_.uidl = true;
    else if (word == "TOP") caps_.top = true;
    else if (word == "PIPELINING") caps_.pipelining = true;
    return true;
  });
  // A list cut short after too many lines still leaves a usable session.
  return ok || (error_ == ErrorKind::None && IsUsable());
}

bool Pop3Client::Connect(const std::string& host, int port, Security security) {
  Close();
  broken_ = false;
  error_ = ErrorKind::None;
  errorText_.clear();
  host_ = host;
  if (security == Security::Auto) {
    if (port == 0 || port == kPop3sPort) {
      if (Connect(host, kPop3sPort, Security::Tls)) return true;
      // Only a closed POP3S port sends us to STLS on the plain port.
      if (error_ != ErrorKind::Refused || port == kPop3sPort) return false;
      return Connect(host, kPop3Port, Security::StartTls);
    }
    security = Security::StartTls;
  }
  if (port == 0) port = security == Security::Tls ? kPop3sPort : kPop3Port;
  if (!ConnectSocket(host, port)) return false;
  if (security == Security::Tls && !StartTls(host)) {
    Close();
    return false;
  }
  std::string greeting;
  if (!ReadStatus(&greeting)) {
    if (error_ == ErrorKind::ServerError) error_ = ErrorKind::ConnectFailed;
    Close();
    return false;
  }
  if (!ReadCapa()) {
    Close();
    return false;
  }
  if (security == Security::StartTls) {
    if (!caps_.stls) {
      Fail(ErrorKind::NoTls, "The server offers no encryption (STLS); plain text is not allowed for this account.");
      Close();
      return false;
    }
    if (!Simple("STLS") || !StartTls(host)) {
      if (error_ == ErrorKind::ServerError) error_ = ErrorKind::NoTls;
      Close();
      return false;
    }
    // What the server said before TLS cannot be trusted: ask again.
    rbuf_.clear();
    rpos_ = rscan_ = 0;
    if (!ReadCapa()) {
      Close();
      return false;
    }
  }
  return true;
}

bool Pop3Client::Adopt(int fd) {
  Close();
  broken_ = false;
  error_ = ErrorKind::None;
  errorText_.clear();
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  fd_ = fd;
  if (!ReadStatus() || !ReadCapa()) {
    Close();
    return false;
  }
  return true;
}

bool Pop3Client::Login(const std::string& user, const std::string& password) {
  auto bad = [](const std::string& s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
  };
  if (bad(user) || bad(password))
    return Fail(ErrorKind::LoginRejected, "The user name or password holds a line break.");
  if (!Simple("USER " + user) || !Simple("PASS " + password)) {
    if (error_ == ErrorKind::ServerError) {
      error_ = ErrorKind::LoginRejected;
      errorText_ = "Invalid user name or password.";
    }
    return false;
  }
  return true;
}

bool Pop3Client::Stat(int64_t& count, int64_t& size) {
  std::string text;
  if (!Simple("STAT", &text)) return false;
  auto [a, b] = TwoWords(text);
  if (!ParseNumber(a, count) || !ParseNumber(b, size))
    return Fail(ErrorKind::Protocol, "Not a STAT reply: " + Printable(text));
  return true;
}

bool Pop3Client::List(int64_t count, std::vector<int64_t>& sizes) {
  sizes.assign(static_cast<size_t>(count) + 1, -1);
  if (!Simple("LIST")) return false;
  return ReadBody(uint64_t(count + 16) * 64, [&](std::string_view l) {
    auto [a, b] = TwoWords(StripLineEnd(l));
    int64_t n = 0, s = 0;
    if (ParseNumber(a, n) && ParseNumber(b, s) && n >= 1 && n <= count) sizes[n] = s;
    return true;
  });
}

bool Pop3Client::Uidl(int64_t count, std::vector<std::string>& ids) {
  ids.assign(static_cast<size_t>(count) + 1, std::string());
  if (!Simple("UIDL")) return false;
  return ReadBody(uint64_t(count + 16) * 128, [&](std::string_view l) {
    auto [a, b] = TwoWords(StripLineEnd(l));
    int64_t n = 0;
    // A unique id is 1 to 70 printable characters.
    if (ParseNumber(a, n) && n >= 1 && n <= count && !b.empty() && b.size() <= 70) ids[n] = b;
    return true;
  });
}

bool Pop3Client::Top(int64_t n, std::string& header) {
  header.clear();
  if (!Simple("TOP " + std::to_string(n) + " 0")) return false;
  bool ok = ReadBody(kMaxHeader, [&](std::string_view l) {
    header.append(l);
    return true;
  });
  if (!ok && error_ == ErrorKind::ReplyTooLong) errorText_ = "The header of message " + std::to_string(n) + " is longer than 1 MiB.";
  return ok;
}

bool Pop3Client::Retr(int64_t n, uint64_t maxBytes, const std::function<bool(std::string_view)>& line) {
  if (!Simple("RETR " + std::to_string(n))) return false;
  return ReadBody(maxBytes, line);
}

bool Pop3Client::Dele(int64_t n) { return Simple("DELE " + std::to_string(n)); }

bool Pop3Client::DeleMany(const std::vector<int64_t>& messages, std::vector<int>& accepted) {
  accepted.assign(messages.size(), -1);
  if (caps_.pipelining) {
    if (fd_ < 0 || broken_) return Fail(ErrorKind::Closed, "Not connected.");
    std::string commands;
    for (int64_t n : messages) commands += "DELE " + std::to_string(n) + "\r\n";
    if (!WriteAll(commands)) return false;
  }
  for (size_t i = 0; i < messages.size(); ++i) {
    bool ok = caps_.pipelining ? ReadStatus() : Dele(messages[i]);
    if (ok) {
      accepted[i] = 1;
    } else if (error_ == ErrorKind::ServerError) {
      accepted[i] = 0;
    } else {
      return false;
    }
  }
  return true;
}

bool Pop3Client::Quit() {
  // A server that never answers QUIT is not waited for as long as for a message.
  const int saved = timeoutMs_;
  timeoutMs_ = std::min(timeoutMs_, kQuitTimeoutMs);
  bool ok = Simple("QUIT");
  timeoutMs_ = saved;
  if (ssl_ && ok) SSL_shutdown(ssl_);
  Close();
  return ok;
}

}  // namespace px::transport::pop3
