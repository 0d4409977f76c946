#include "transport/smtp/smtp_client.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>

namespace px::transport {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Server text as shown to the user: printable, one line, bounded.
std::string CleanReply(std::string_view s) {
  std::string out;
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) out += c;
    if (out.size() >= 200) break;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

bool StartsUpper(std::string_view line, std::string_view word) {
  if (line.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(line[i])) != word[i]) return false;
  return true;
}

std::string HeloName(const std::string& configured) {
  std::string name = configured;
  if (name.empty()) {
    char buf[256] = {0};
    if (gethostname(buf, sizeof buf - 1) == 0) name = buf;
  }
  std::string clean;
  for (char c : name)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') clean += c;
  return clean.empty() ? "localhost" : clean;
}

}  // namespace

// The state of one exchange, shared with libcurl's callbacks.
struct SmtpClient::Impl {
  SmtpClient* self = nullptr;
  int fd = -1;
  int64_t size = 0;
  int64_t sent = 0;
  bool readFailed = false;
  bool timedOut = false;
  std::chrono::steady_clock::time_point lastActivity = std::chrono::steady_clock::now();
  void Touch() { lastActivity = std::chrono::steady_clock::now(); }

  // What the server answered. Commands go out one at a time, so each final reply line belongs
  // to the last command seen. The text of AUTH exchanges is never looked at.
  enum class Cmd { None, Auth, Mail, Rcpt, Data, DataEnd, Other };
  Cmd cmd = Cmd::None;
  std::string rcpt;
  std::vector<SmtpReply> rcptReplies;
  std::string pendingIn;
  int lastCode = 0;
  std::string lastText;
  bool dataStarted = false;   // 354 came: the message is being sent
  bool dataReplied = false;   // the reply to the message came
  int dataCode = 0;
  std::string dataText;
  int authCode = 0;
  int mailCode = 0;
  bool closing = false;  // the server said 421 at some point
  std::string closingText, mailText;

  void Command(std::string_view line) {
    if (StartsUpper(line, "RCPT TO:")) {
      cmd = Cmd::Rcpt;
      size_t lt = line.find('<'), gt = line.rfind('>');
      rcpt = lt != std::string_view::npos && gt != std::string_view::npos && gt > lt
                 ? std::string(line.substr(lt + 1, gt - lt - 1))
                 : std::string();
    } else if (StartsUpper(line, "MAIL FROM:")) {
      cmd = Cmd::Mail;
    } else if (StartsUpper(line, "DATA")) {
      cmd = Cmd::Data;
    } else if (StartsUpper(line, "AUTH")) {
      cmd = Cmd::Auth;
    } else if (cmd == Cmd::Auth) {
      // A continuation of the log-in (user name or password, encoded): stays Auth.
    } else if (cmd != Cmd::DataEnd) {
      cmd = Cmd::Other;
    }
  }

  void Reply(std::string_view line) {
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0]))) return;
    if (line.size() > 3 && line[3] == '-') return;  // more lines of the same reply follow
    int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    lastCode = code;
    lastText = CleanReply(line);
    if (code == 421) {
      closing = true;
      closingText = lastText;
    }
    switch (cmd) {
      case Cmd::Mail:
        mailCode = code;
        mailText = lastText;
        break;
      case Cmd::Rcpt: rcptReplies.push_back({rcpt, code, lastText}); break;
      case Cmd::Data:
        if (code == 354) {
          dataStarted = true;
          cmd = Cmd::DataEnd;
        }
        break;
      case Cmd::DataEnd:
        dataReplied = true;
        dataCode = code;
        dataText = lastText;
        cmd = Cmd::Other;
        break;
      case Cmd::Auth: authCode = code; break;
      default: break;
    }
  }

  void Incoming(std::string_view data) {
    pendingIn.append(data);
    size_t pos;
    while ((pos = pendingIn.find('\n')) != std::string::npos) {
      std::string line = pendingIn.substr(0, pos);
      pendingIn.erase(0, pos + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Reply(line);
    }
    if (pendingIn.size() > 4096) pendingIn.clear();
  }

  void Outgoing(std::string_view data) {
    size_t start = 0;
    while (start < data.size()) {
      size_t end = data.find('\n', start);
      std::string_view line = data.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
      if (!line.empty()) Command(line);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* t = static_cast<Impl*>(user);
    // Any traffic, the TLS handshake included, shows the server is still there.
    if (type != CURLINFO_TEXT) t->Touch();
    if (type == CURLINFO_HEADER_IN) t->Incoming(std::string_view(data, size));
    else if (type == CURLINFO_HEADER_OUT) t->Outgoing(std::string_view(data, size));
    return 0;
  }

  static size_t Read(char* buffer, size_t size, size_t nitems, void* user) {
    auto* t = static_cast<Impl*>(user);
    if (t->self->Stopped()) return CURL_READFUNC_ABORT;
    int64_t want = std::min<int64_t>(static_cast<int64_t>(size * nitems), t->size - t->sent);
    if (want <= 0) return 0;
    ssize_t n;
    do {
      n = ::read(t->fd, buffer, static_cast<size_t>(want));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      // The file ended early or failed: never send a truncated message.
      t->readFailed = true;
      return CURL_READFUNC_ABORT;
    }
    t->sent += n;
    t->Touch();
    if (t->self->progress_) t->self->progress_(t->sent, t->size);
    return static_cast<size_t>(n);
  }

  // Called about once a second while libcurl waits; ends a stopped or silent exchange.
  static int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Impl*>(user);
    if (t->self->Stopped()) {
      t->self->Kill();
      return 1;
    }
    auto idle = std::chrono::steady_clock::now() - t->lastActivity;
    if (idle > std::chrono::seconds(t->self->config_.replyTimeoutSec)) {
      t->timedOut = true;
      t->self->Kill();
      return 1;
    }
    return 0;
  }

  static curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* addr) {
    auto* self = static_cast<SmtpClient*>(user);
    curl_socket_t fd = ::socket(addr->family, addr->socktype | SOCK_CLOEXEC, addr->protocol);
    if (fd == CURL_SOCKET_BAD) return fd;
    std::lock_guard<std::mutex> lock(self->sockMutex_);
    self->sock_ = fd;
    if (self->Stopped()) ::shutdown(fd, SHUT_RDWR);
    return fd;
  }

  static int CloseSocket(void* user, curl_socket_t fd) {
    auto* self = static_cast<SmtpClient*>(user);
    std::lock_guard<std::mutex> lock(self->sockMutex_);
    if (self->sock_ == fd) self->sock_ = -1;
    return ::close(fd);
  }
};

SmtpConfig SmtpConfig::From(const SmtpServerSetting& s) {
  SmtpConfig c;
  c.host = s.host;
  c.port = s.EffectivePort();
  c.security = s.security;
  c.user = s.user;
  c.password = s.password;
  return c;
}

SmtpClient::SmtpClient(SmtpConfig config) : config_(std::move(config)) {
  GlobalInit();
  curl_ = curl_easy_init();
}

SmtpClient::~SmtpClient() {
  if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

void SmtpClient::Stop() {
  stop_.store(true);
  Kill();
}

void SmtpClient::Kill() {
  std::lock_guard<std::mutex> lock(sockMutex_);
  if (sock_ >= 0) ::shutdown(sock_, SHUT_RDWR);
}

namespace {

SmtpFailure Classify(CURLcode code, const SmtpClient::Impl& t, bool stopped) {
  if (t.timedOut) return SmtpFailure::TimedOut;
  if (stopped || code == CURLE_ABORTED_BY_CALLBACK) return SmtpFailure::Stopped;
  if (t.closing) return SmtpFailure::Closing;
  switch (code) {
    case CURLE_OK: return SmtpFailure::None;
    case CURLE_LOGIN_DENIED: return SmtpFailure::Login;
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR: return SmtpFailure::Tls;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM: return SmtpFailure::Certificate;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT: return SmtpFailure::Connect;
    case CURLE_OPERATION_TIMEDOUT: return t.lastCode == 0 && !t.dataStarted && t.cmd == SmtpClient::Impl::Cmd::None
                                              ? SmtpFailure::Connect
                                              : SmtpFailure::TimedOut;
    case CURLE_READ_ERROR: return t.readFailed ? SmtpFailure::BadInput : SmtpFailure::Other;
    default: break;
  }
  if (t.authCode >= 500) return SmtpFailure::Login;
  if (t.mailCode >= 400) return SmtpFailure::Refused;
  bool anyRcptTaken = std::any_of(t.rcptReplies.begin(), t.rcptReplies.end(),
                                  [](const SmtpReply& r) { return r.code >= 200 && r.code < 300; });
  if (!t.rcptReplies.empty() && !anyRcptTaken) return SmtpFailure::Refused;
  if (t.dataReplied && t.dataCode >= 400) return SmtpFailure::Refused;
  if (code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING ||
      code == CURLE_WEIRD_SERVER_REPLY || code == CURLE_PARTIAL_FILE)
    return SmtpFailure::Dropped;
  return SmtpFailure::Other;
}

}  // namespace

SmtpResult SmtpClient::Send(const std::string& mailFrom, const std::vector<std::string>& recipients, int fd,
                            int64_t size) {
  SmtpResult r;
  auto* curl = static_cast<CURL*>(curl_);
  if (!curl) {
    r.failure = SmtpFailure::Other;
    r.error = "Cannot start the mail transfer.";
    return r;
  }
  if (recipients.empty()) {
    r.failure = SmtpFailure::BadInput;
    r.error = "The message has no recipient.";
    return r;
  }
  if (Stopped()) {
    r.failure = SmtpFailure::Stopped;
    return r;
  }

  Impl t;
  t.self = this;
  t.fd = fd;
  t.size = size;

  std::string host = config_.host.find(':') != std::string::npos ? "[" + config_.host + "]" : config_.host;
  int port = config_.port > 0 ? config_.port : DefaultSmtpPort(config_.security);
  std::string url = std::string(config_.security == SmtpSecurity::Tls ? "smtps://" : "smtp://") + host + ":" +
                    std::to_string(port) + "/" + HeloName(config_.heloName);

  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USE_SSL,
                   config_.security == SmtpSecurity::Plain ? static_cast<long>(CURLUSESSL_NONE)
                                                           : static_cast<long>(CURLUSESSL_ALL));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  if (!config_.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, config_.caFile.c_str());
  if (!config_.systemRoots) curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
  else if (!config_.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
  if (!config_.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, config_.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, config_.password.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, config_.connectTimeoutSec);
  // The reply time-out is kept by the progress callback, which also ends the wait that follows
  // (QUIT on a broken exchange); libcurl's own limit is only a backstop.
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, config_.replyTimeoutSec + 30);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Impl::OpenSocket);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &Impl::CloseSocket);
  curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, needFreshConnection_ ? 1L : 0L);

  std::string from = "<" + mailFrom + ">";
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
  curl_slist* rcpts = nullptr;
  for (const auto& a : recipients) rcpts = curl_slist_append(rcpts, ("<" + a + ">").c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, rcpts);
#if LIBCURL_VERSION_NUM >= 0x080200
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT_ALLOWFAILS, 1L);
#else
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
#endif

  if (fd >= 0) {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Impl::Read);
    curl_easy_setopt(curl, CURLOPT_READDATA, &t);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  } else {
    // The account check: log in, say NOOP, leave.
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "NOOP");
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, nullptr);
  }
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Impl::Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
  // The exchange is followed to pair each recipient with its reply; nothing of it is logged.
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &Impl::Debug);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &t);

  CURLcode code = curl_easy_perform(curl);
  curl_slist_free_all(rcpts);
  // Forget the password in the handle's copy of the options.
  curl_easy_setopt(curl, CURLOPT_PASSWORD, "");

  bool stopped = Stopped();
  r.replyCode = t.lastCode;
  for (const auto& rep : t.rcptReplies)
    if (rep.code < 200 || rep.code >= 300) r.refused.push_back(rep);
  if (fd >= 0) {
    r.accepted = code == CURLE_OK && t.dataReplied && t.dataCode >= 200 && t.dataCode < 300;
  } else {
    r.accepted = code == CURLE_OK;
  }
  if (!r.accepted) {
    r.failure = Classify(code, t, stopped);
    if (r.failure == SmtpFailure::None) r.failure = SmtpFailure::Refused;
    r.mayHaveBeenDelivered = fd >= 0 && t.dataStarted && !t.dataReplied && t.sent == t.size;
    if (r.failure == SmtpFailure::Closing)
      r.error = t.closingText;
    else if (r.failure == SmtpFailure::Refused)
      r.error = t.dataReplied ? t.dataText
                : t.mailCode >= 400 ? t.mailText
                : !t.rcptReplies.empty() ? t.rcptReplies.back().text
                : t.lastText;
    else if (r.failure != SmtpFailure::Stopped)
      r.error = curl_easy_strerror(code);
  }
  needFreshConnection_ = !r.accepted;
  // A connection that failed is not asked for anything more.
  if (!r.accepted) Kill();
  return r;
}

SmtpResult SmtpClient::Check() { return Send(std::string(), {"check"}, -1, 0); }

std::string DescribeSmtpFailure(const SmtpResult& r, const std::string& server) {
  std::string detail = r.error.empty() ? std::string() : " (" + r.error + ")";
  switch (r.failure) {
    case SmtpFailure::None: return {};
    case SmtpFailure::Connect: return "Cannot connect to the outgoing mail server " + server + "." + detail;
    case SmtpFailure::Tls:
      return "The outgoing mail server " + server + " did not set up a secure connection." + detail;
    case SmtpFailure::Certificate:
      return "The certificate of the outgoing mail server " + server +
             " is not trusted or belongs to another server." + detail;
    case SmtpFailure::Login: return "The outgoing mail server " + server + " refused the user name or password.";
    case SmtpFailure::Refused: return "The outgoing mail server " + server + " refused the message" + detail + ".";
    case SmtpFailure::Closing:
      return "The outgoing mail server " + server + " closed the connection" + detail + ". Try sending again later.";
    case SmtpFailure::TimedOut: return "The outgoing mail server " + server + " did not answer in time.";
    case SmtpFailure::Dropped:
      return r.mayHaveBeenDelivered
                 ? "The connection to the outgoing mail server " + server +
                       " broke before it confirmed the message. The message may have been delivered; it stays "
                       "unsent and is sent again next time, so it may arrive twice."
                 : "The connection to the outgoing mail server " + server + " broke." + detail;
    case SmtpFailure::Stopped: return "Sending was stopped.";
    case SmtpFailure::BadInput: return r.error.empty() ? "The message cannot be sent." : r.error;
    case SmtpFailure::Other: return "Sending through the outgoing mail server " + server + " failed." + detail;
  }
  return {};
}

}  // namespace px::transport
