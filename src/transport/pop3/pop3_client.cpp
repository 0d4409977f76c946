#include "transport/pop3/pop3_client.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include "mailformat/codecs.h"

namespace px::transport::pop3 {

namespace {

// Bytes dropped while skipping the rest of a reply that was given up on; past this the
// session is abandoned instead.
constexpr uint64_t kMaxDrop = 64ull * 1024 * 1024;
constexpr int kQuitTimeoutMs = 30000;

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
    return Fail(ErrorKind::ServerError, "The server answered: " + PrintableReply(line));
  }
  return Fail(ErrorKind::Protocol, "Not a POP3 reply: " + PrintableReply(line));
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
      if (error_ == ErrorKind::LineTooLong && fd_ >= 0 && !IsStopped()) {
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
    else if (word == "SASL") {
      std::string_view rest = StripLineEnd(l);
      size_t p = rest.find_first_of(" \t");
      while (p != std::string_view::npos && caps_.sasl.size() < 32) {
        size_t b = rest.find_first_not_of(" \t", p);
        if (b == std::string_view::npos) break;
        size_t e = rest.find_first_of(" \t", b);
        std::string m(rest.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
        for (char& c : m) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        caps_.sasl.push_back(m);
        p = e;
      }
    }
    return true;
  });
  // A list cut short after too many lines still leaves a usable session.
  return ok || (error_ == ErrorKind::None && IsUsable());
}

bool Pop3Client::Connect(const std::string& host, int port, Security security) {
  Close();
  ClearError();
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
    DropBuffered();
    if (!ReadCapa()) {
      Close();
      return false;
    }
  }
  return true;
}

bool Pop3Client::Adopt(int fd) {
  AdoptSocket(fd);
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

bool Pop3Client::Offers(std::string_view mechanism) const {
  for (const auto& m : caps_.sasl)
    if (m.size() == mechanism.size() &&
        std::equal(m.begin(), m.end(), mechanism.begin(),
                   [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b)); }))
      return true;
  return false;
}

bool Pop3Client::Authenticate(std::string_view mechanism, std::string_view initialResponse) {
  const std::string encoded = initialResponse.empty() ? std::string("=") : mailformat::Base64Encode(initialResponse);
  // A command line is at most 255 octets: a longer initial response follows the server's "+".
  bool pending = 6 + mechanism.size() + 1 + encoded.size() > 255;
  if (!Command("AUTH " + std::string(mechanism) + (pending ? std::string() : " " + encoded))) return false;
  for (int round = 0; round < 3; ++round) {
    std::string_view line;
    if (!ReadLine(line, kMaxLine)) return false;
    line = StripLineEnd(line);
    if (line.starts_with("+OK")) return true;
    if (line.starts_with("-ERR")) return Fail(ErrorKind::LoginRejected, "The server refused the sign-in: " + PrintableReply(line));
    // A challenge after the initial response carries the server's error details: an empty
    // answer makes it say -ERR.
    if (!line.starts_with("+")) return Fail(ErrorKind::Protocol, "Not a POP3 reply: " + PrintableReply(line));
    if (!WriteAll(pending ? encoded + "\r\n" : std::string("\r\n"))) return false;
    pending = false;
  }
  return Fail(ErrorKind::Protocol, "The server kept asking during the sign-in.");
}

bool Pop3Client::Stat(int64_t& count, int64_t& size) {
  std::string text;
  if (!Simple("STAT", &text)) return false;
  auto [a, b] = TwoWords(text);
  if (!ParseNumber(a, count) || !ParseNumber(b, size))
    return Fail(ErrorKind::Protocol, "Not a STAT reply: " + PrintableReply(text));
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
