#include "transport/mail_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
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

namespace px::transport {

namespace {

constexpr size_t kReadChunk = 256 * 1024;

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

}  // namespace

std::string PrintableReply(std::string_view s) {
  std::string r;
  for (char c : s.substr(0, 200)) r += (c >= 0x20 && c < 0x7f) ? c : '?';
  return r;
}

void MailSocket::ClearError() {
  broken_ = false;
  error_ = ErrorKind::None;
  errorText_.clear();
}

void MailSocket::AdoptSocket(int fd) {
  Close();
  ClearError();
  int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  fd_ = fd;
}

bool MailSocket::ReadExact(size_t n, std::string& out) {
  while (n > 0) {
    if (rpos_ >= rbuf_.size() && !ReadMore()) return false;
    size_t take = std::min(n, rbuf_.size() - rpos_);
    out.append(rbuf_, rpos_, take);
    rpos_ += take;
    n -= take;
  }
  rscan_ = std::max(rscan_, rpos_);
  return true;
}

void MailSocket::DropBuffered() {
  rbuf_.clear();
  rpos_ = rscan_ = 0;
}

MailSocket::MailSocket() { stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

MailSocket::~MailSocket() {
  Close();
  if (ctx_) SSL_CTX_free(ctx_);
  if (stopFd_ >= 0) ::close(stopFd_);
}

void MailSocket::Stop() {
  stopped_ = true;
  if (stopFd_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
  }
}

bool MailSocket::Fail(ErrorKind kind, std::string text) {
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

void MailSocket::Close() {
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

int64_t MailSocket::SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool MailSocket::WaitFor(bool write) {
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

bool MailSocket::ConnectSocket(const std::string& host, int port) {
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

bool MailSocket::StartTls(const std::string& host) {
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

bool MailSocket::ReadMore() {
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

bool MailSocket::ReadLine(std::string_view& line, size_t cap) {
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

bool MailSocket::WriteAll(std::string_view data) {
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


}  // namespace px::transport
