#include "transport/oauth2.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/rand.h>
#include <openssl/sha.h>

#include "foundation/text_case.h"
#include "mailformat/codecs.h"

namespace px::transport::oauth2 {

namespace {

constexpr std::string_view kProviderKey = "oauth2";
constexpr std::string_view kClientKey = "oauth2-client";
constexpr std::string_view kAuthorizeKey = "oauth2-authorize";
constexpr std::string_view kTokenKey = "oauth2-token";
constexpr std::string_view kScopeKey = "oauth2-scope";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string RandomBytes(size_t n) {
  std::string r(n, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(r.data()), static_cast<int>(n)) != 1) r.clear();
  return r;
}

// Scopes are kept as one word: blanks become "+".
std::string ScopeWord(std::string_view scope) {
  std::string r(scope);
  for (char& c : r)
    if (c == ' ') c = '+';
  return r;
}

std::string ScopeText(std::string_view word) {
  std::string r(word);
  for (char& c : r)
    if (c == '+') c = ' ';
  return r;
}

struct Domains {
  const char* provider;
  std::vector<std::string_view> domains;
};

const std::vector<Domains>& KnownDomains() {
  static const std::vector<Domains> d = {
      {"google", {"gmail.com", "googlemail.com"}},
      {"microsoft", {"outlook.com", "hotmail.com", "live.com", "msn.com", "outlook.de", "hotmail.co.uk"}},
      {"yahoo", {"yahoo.com", "yahoo.co.uk", "yahoo.de", "ymail.com"}},
  };
  return d;
}

std::optional<Tokens> TokenRequest(const Provider& p, const HttpSettings& http, const std::vector<FormField>& fields,
                                   std::string* error) {
  HttpClient client(http);
  HttpResult r = client.PostUrlEncoded(p.tokenUrl, fields);
  if (r.curlCode != 0) {
    if (error) *error = "Cannot reach the sign-in server: " + r.error;
    return std::nullopt;
  }
  // A refusal comes as JSON with an error too.
  return ParseTokenReply(r.body, NowMs(), error);
}

}  // namespace

const std::vector<Provider>& Presets() {
  static const std::vector<Provider> p = {
      {"google", "https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
       "https://mail.google.com/", ""},
      {"microsoft", "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
       "https://login.microsoftonline.com/common/oauth2/v2.0/token",
       "https://outlook.office.com/IMAP.AccessAsUser.All https://outlook.office.com/POP.AccessAsUser.All "
       "https://outlook.office.com/SMTP.Send offline_access",
       ""},
      {"yahoo", "https://api.login.yahoo.com/oauth2/request_auth", "https://api.login.yahoo.com/oauth2/get_token",
       "mail-w", ""},
  };
  return p;
}

std::optional<Provider> PresetNamed(std::string_view name) {
  for (const auto& p : Presets())
    if (p.name == name) return p;
  return std::nullopt;
}

std::optional<Provider> PresetForAddress(std::string_view address) {
  size_t at = address.rfind('@');
  if (at == std::string_view::npos) return std::nullopt;
  std::string domain = AsciiLower(address.substr(at + 1));
  for (const auto& d : KnownDomains())
    for (auto known : d.domains)
      if (domain == known) return PresetNamed(d.provider);
  return std::nullopt;
}

std::optional<Provider> ProviderOf(const ExternalAccount& a) {
  std::string name = a.Option(kProviderKey);
  if (name.empty()) return std::nullopt;
  Provider p = PresetNamed(name).value_or(Provider{name, "", "", "", ""});
  if (auto v = a.Option(kAuthorizeKey); !v.empty()) p.authorizeUrl = v;
  if (auto v = a.Option(kTokenKey); !v.empty()) p.tokenUrl = v;
  if (auto v = a.Option(kScopeKey); !v.empty()) p.scope = ScopeText(v);
  p.clientId = a.Option(kClientKey);
  return p;
}

void SetProvider(ExternalAccount& a, const std::optional<Provider>& p) {
  for (auto k : {kProviderKey, kClientKey, kAuthorizeKey, kTokenKey, kScopeKey}) a.SetOption(k, "");
  if (!p) return;
  a.SetOption(kProviderKey, p->name.empty() ? "custom" : p->name);
  a.SetOption(kClientKey, p->clientId);
  // Endpoints that differ from the preset's are kept; a preset's own are not repeated.
  auto preset = PresetNamed(p->name);
  if (!preset || preset->authorizeUrl != p->authorizeUrl) a.SetOption(kAuthorizeKey, p->authorizeUrl);
  if (!preset || preset->tokenUrl != p->tokenUrl) a.SetOption(kTokenKey, p->tokenUrl);
  if (!preset || preset->scope != p->scope) a.SetOption(kScopeKey, ScopeWord(p->scope));
}

std::string Base64Url(std::string_view bytes) {
  std::string b = mailformat::Base64Encode(bytes);
  std::string r;
  for (char c : b) {
    if (c == '=') break;
    r += c == '+' ? '-' : c == '/' ? '_' : c;
  }
  return r;
}

std::string ChallengeOf(std::string_view verifier) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
  return Base64Url(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

Pkce MakePkce() {
  Pkce p;
  p.verifier = Base64Url(RandomBytes(48));  // 64 characters
  p.challenge = ChallengeOf(p.verifier);
  return p;
}

std::string RandomState() { return Base64Url(RandomBytes(24)); }

std::string AuthorizationUrl(const Provider& p, const std::string& redirectUri, const Pkce& pkce,
                             const std::string& state, const std::string& loginHint) {
  // Values encoded as a form would be: every reserved character, ":" and "/" too.
  std::string query;
  auto add = [&](const char* k, const std::string& v) {
    query += (query.empty() ? "" : "&") + std::string(k) + "=" +
             QUrl::toPercentEncoding(QString::fromStdString(v)).toStdString();
  };
  add("response_type", "code");
  add("client_id", p.clientId);
  add("redirect_uri", redirectUri);
  add("scope", p.scope);
  add("state", state);
  add("code_challenge", pkce.challenge);
  add("code_challenge_method", "S256");
  if (!loginHint.empty()) add("login_hint", loginHint);
  // Google hands out a refresh token only when asked for offline access.
  if (p.name == "google") {
    add("access_type", "offline");
    add("prompt", "consent");
  }
  return p.authorizeUrl + (p.authorizeUrl.find('?') == std::string::npos ? "?" : "&") + query;
}

std::string XOAuth2(const std::string& user, const std::string& token) {
  return "user=" + user + "\x01" + "auth=Bearer " + token + "\x01\x01";
}

std::string OAuthBearer(const std::string& user, const std::string& host, int port, const std::string& token) {
  return "n,a=" + user + ",\x01" + "host=" + host + "\x01" + "port=" + std::to_string(port) + "\x01" +
         "auth=Bearer " + token + "\x01\x01";
}

std::optional<Tokens> ParseTokenReply(std::string_view json, int64_t nowMs, std::string* error) {
  auto fail = [&](std::string text) -> std::optional<Tokens> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  if (json.size() > 1 << 20) return fail("The sign-in server's reply is far too long.");
  QJsonParseError pe;
  QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &pe);
  if (!doc.isObject()) return fail("The sign-in server's reply is not understood.");
  QJsonObject o = doc.object();
  if (o.contains(QStringLiteral("error"))) {
    std::string e = o.value(QStringLiteral("error")).toString().toStdString();
    if (e == "invalid_grant") return fail("The sign-in has expired or was withdrawn: please sign in again.");
    return fail("The sign-in server refused: " + e.substr(0, 100));
  }
  Tokens t;
  t.accessToken = o.value(QStringLiteral("access_token")).toString().toStdString();
  t.refreshToken = o.value(QStringLiteral("refresh_token")).toString().toStdString();
  auto bad = [](const std::string& s) {
    return s.size() > 8192 || s.find_first_of(std::string_view("\r\n\x01 \0", 5)) != std::string::npos;
  };
  if (t.accessToken.empty() || bad(t.accessToken) || bad(t.refreshToken))
    return fail("The sign-in server's reply holds no usable token.");
  double expires = o.value(QStringLiteral("expires_in")).toDouble(0);
  if (expires > 0 && expires < 1e9) t.expiresAtMs = nowMs + static_cast<int64_t>(expires * 1000);
  return t;
}

LoopbackRedirect::LoopbackRedirect() = default;

LoopbackRedirect::~LoopbackRedirect() {
  if (fd_ >= 0) ::close(fd_);
}

bool LoopbackRedirect::Listen(std::string* error) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (error) *error = std::string("Cannot listen on 127.0.0.1: ") + std::strerror(errno);
    return false;
  }
  port_ = ntohs(a.sin_port);
  return true;
}

std::optional<std::string> LoopbackRedirect::WaitForCode(const std::string& state, int timeoutMs,
                                                         std::string* error) {
  auto fail = [&](std::string text) -> std::optional<std::string> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!stop_) {
    if (std::chrono::steady_clock::now() >= until) return fail("The sign-in was not finished in time.");
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    // The request line is all that matters; it is read within a short time and a bounded size.
    std::string request;
    char buf[4096];
    const auto readUntil = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (request.find("\r\n") == std::string::npos && request.size() < 16384 &&
           std::chrono::steady_clock::now() < readUntil) {
      pollfd q{c, POLLIN, 0};
      if (::poll(&q, 1, 200) <= 0) continue;
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    std::string line = request.substr(0, request.find("\r\n"));
    std::string target;
    if (line.rfind("GET ", 0) == 0) target = line.substr(4, line.find(' ', 4) - 4);
    QUrlQuery q(QUrl(QString::fromStdString("http://127.0.0.1" + target)));
    const std::string gotState = q.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded).toStdString();
    const std::string code = q.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded).toStdString();
    const std::string refused = q.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded).toStdString();
    const bool ours = !gotState.empty() && gotState == state;
    const std::string page = ours && !code.empty()
                                 ? "Plumadex is signed in. You can close this page."
                                 : "Plumadex did not get the sign-in. You can close this page.";
    std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n"
                        "Content-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page;
    [[maybe_unused]] auto sent = ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    ::close(c);
    // Requests that are not the provider's answer (a browser asking for an icon) are passed over.
    if (!ours) continue;
    if (!refused.empty()) return fail("The sign-in was refused: " + refused.substr(0, 100));
    if (code.empty() || code.size() > 4096) return fail("The sign-in came back without a code.");
    return code;
  }
  return fail("Stopped");
}

std::optional<Tokens> ExchangeCode(const Provider& p, const HttpSettings& http, const std::string& code,
                                   const std::string& verifier, const std::string& redirectUri, std::string* error) {
  return TokenRequest(p, http,
                      {{"grant_type", "authorization_code"},
                       {"code", code},
                       {"redirect_uri", redirectUri},
                       {"client_id", p.clientId},
                       {"code_verifier", verifier}},
                      error);
}

std::optional<Tokens> Refresh(const Provider& p, const HttpSettings& http, const std::string& refreshToken,
                              std::string* error) {
  if (refreshToken.empty()) {
    if (error) *error = "This account is not signed in: please sign in.";
    return std::nullopt;
  }
  auto t = TokenRequest(p, http,
                        {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}, {"client_id", p.clientId}},
                        error);
  // A provider that does not rotate the refresh token keeps the old one valid.
  if (t && t->refreshToken.empty()) t->refreshToken = refreshToken;
  return t;
}

std::optional<Tokens> SignIn(const Provider& p, const HttpSettings& http, const std::string& loginHint,
                             const std::function<bool(const std::string&)>& openBrowser, int timeoutMs,
                             std::string* error, LoopbackRedirect* redirect) {
  LoopbackRedirect own;
  LoopbackRedirect& r = redirect ? *redirect : own;
  if (p.clientId.empty() || p.authorizeUrl.empty() || p.tokenUrl.empty()) {
    if (error) *error = "The sign-in needs the provider's addresses and a client id.";
    return std::nullopt;
  }
  if (!r.Listen(error)) return std::nullopt;
  const Pkce pkce = MakePkce();
  const std::string state = RandomState();
  if (pkce.verifier.empty() || state.empty()) {
    if (error) *error = "No random numbers for the sign-in.";
    return std::nullopt;
  }
  if (!openBrowser(AuthorizationUrl(p, r.RedirectUri(), pkce, state, loginHint))) {
    if (error) *error = "Cannot open the web browser for the sign-in.";
    return std::nullopt;
  }
  auto code = r.WaitForCode(state, timeoutMs, error);
  if (!code) return std::nullopt;
  return ExchangeCode(p, http, *code, pkce.verifier, r.RedirectUri(), error);
}

std::optional<Tokens> AccessFor(const ExternalAccount& account, std::string* error) {
  auto p = ProviderOf(account);
  if (!p) {
    if (error) *error = "This account signs in with a password.";
    return std::nullopt;
  }
  return Refresh(*p, ProviderHttpSettings(), account.password, error);
}

HttpSettings ProviderHttpSettings() {
  HttpSettings s;
  s.caFile = "/etc/ssl/certs/ca-certificates.crt";
  if (const char* f = std::getenv("SSL_CERT_FILE"); f && *f) s.caFile = f;
  return s;
}

}  // namespace px::transport::oauth2
