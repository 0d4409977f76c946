#pragma once
// OAuth2 sign-in for mail accounts of providers that take no password (RFC 6749 with PKCE,
// RFC 7636, and a loopback redirect, RFC 8252): the browser shows the provider's page, the
// provider sends the browser back to a port of our own on 127.0.0.1 with a code, and the code
// becomes an access token and a refresh token. Later runs renew the access token with the
// refresh token, silently. The SASL strings of XOAUTH2 and OAUTHBEARER carry the access token.
// Only endpoints and the client id are kept (presets for common providers); no secret ships.
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/accounts.h"
#include "transport/http_client.h"

namespace px::transport::oauth2 {

struct Provider {
  std::string name;          // "google", "microsoft", or "custom"
  std::string authorizeUrl;
  std::string tokenUrl;
  std::string scope;         // blank-separated
  std::string clientId;      // the user's own registration: none ships with the program
};

// The presets for common providers (without client ids).
const std::vector<Provider>& Presets();
std::optional<Provider> PresetNamed(std::string_view name);
// The preset whose mail domains include that of `address`, if any.
std::optional<Provider> PresetForAddress(std::string_view address);

// The OAuth2 settings of an account ("oauth2=..." words beside its record); nullopt when the
// account signs in with a password.
std::optional<Provider> ProviderOf(const ExternalAccount& account);
void SetProvider(ExternalAccount& account, const std::optional<Provider>& provider);

struct Pkce {
  std::string verifier;   // 43 to 128 characters of [A-Za-z0-9-._~]
  std::string challenge;  // BASE64URL(SHA-256(verifier)), method S256
};
// From OpenSSL's random generator.
Pkce MakePkce();
std::string ChallengeOf(std::string_view verifier);
std::string RandomState();
std::string Base64Url(std::string_view bytes);

std::string AuthorizationUrl(const Provider& p, const std::string& redirectUri, const Pkce& pkce,
                             const std::string& state, const std::string& loginHint = {});

// SASL initial responses (before base64).
std::string XOAuth2(const std::string& user, const std::string& accessToken);
std::string OAuthBearer(const std::string& user, const std::string& host, int port, const std::string& accessToken);

struct Tokens {
  std::string accessToken;
  std::string refreshToken;  // empty when the reply gave none (the old one stays valid)
  int64_t expiresAtMs = 0;   // wall clock; 0 when unknown
};
// The token endpoint's JSON reply (RFC 6749 5.1/5.2); nullopt with *error on refusal or junk.
std::optional<Tokens> ParseTokenReply(std::string_view json, int64_t nowMs, std::string* error);

// A one-shot listener on 127.0.0.1 for the browser's return with the code.
class LoopbackRedirect {
public:
  LoopbackRedirect();
  ~LoopbackRedirect();
  bool Listen(std::string* error);
  int port() const { return port_; }
  std::string RedirectUri() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  // Waits for the request that carries `state`; the code, or nullopt with *error (time-out,
  // Stop(), a refusal by the user or the provider, a state that does not match).
  std::optional<std::string> WaitForCode(const std::string& state, int timeoutMs, std::string* error);
  void Stop() { stop_ = true; }

private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
};

// Token requests at the provider's token endpoint.
std::optional<Tokens> ExchangeCode(const Provider& p, const HttpSettings& http, const std::string& code,
                                   const std::string& verifier, const std::string& redirectUri, std::string* error);
std::optional<Tokens> Refresh(const Provider& p, const HttpSettings& http, const std::string& refreshToken,
                              std::string* error);

// The whole sign-in: listens, opens the provider's page with `openBrowser` (xdg-open in the
// desk), waits for the code and exchanges it. Runs off the UI thread.
std::optional<Tokens> SignIn(const Provider& p, const HttpSettings& http, const std::string& loginHint,
                             const std::function<bool(const std::string& url)>& openBrowser,
                             int timeoutMs, std::string* error, LoopbackRedirect* redirect = nullptr);

// A fresh access token for an account signed in with OAuth2 (its refresh token is kept where
// others keep the password); nullopt with *error when the sign-in must be done again.
std::optional<Tokens> AccessFor(const ExternalAccount& account, std::string* error);

// The trusted roots for the providers' endpoints: the system's bundle.
HttpSettings ProviderHttpSettings();

}  // namespace px::transport::oauth2
