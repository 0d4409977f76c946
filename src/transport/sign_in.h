#pragma once
// Signing in to a mail server, the same for POP3 and IMAP: the password log-in, or for an
// account signed in with OAuth2 a fresh access token (from the refresh token kept where others
// keep the password) sent as OAUTHBEARER where the server offers it, else XOAUTH2.
#include <string>

#include "transport/accounts.h"
#include "transport/oauth2.h"
#include "transport/pop3/pop3_client.h"
#include "transport/receive_link.h"

namespace px::transport {

struct SignInOutcome {
  bool ok = false;
  // The refresh token could not be used: the user must sign in again (the client has no error).
  std::string tokenError;
  // A refresh token the provider renewed, to be saved in place of the old.
  std::string renewedSecret;
};

template <class Client>
SignInOutcome SignInTo(Client& client, const ExternalAccount& account, const std::string& host, int port) {
  SignInOutcome r;
  if (!oauth2::ProviderOf(account)) {
    r.ok = client.Login(account.user, account.password);
    return r;
  }
  auto tokens = oauth2::AccessFor(account, &r.tokenError);
  if (!tokens) return r;
  if (tokens->refreshToken != account.password) r.renewedSecret = tokens->refreshToken;
  r.ok = client.Offers("OAUTHBEARER")
             ? client.Authenticate("OAUTHBEARER", oauth2::OAuthBearer(account.user, host, port, tokens->accessToken))
             : client.Authenticate("XOAUTH2", oauth2::XOAuth2(account.user, tokens->accessToken));
  return r;
}

// A receive link's start: connects to the account's server and signs in. False with
// `result`'s status and error set when either failed; a password the server refused is
// WrongPassword (asked again), a refused OAuth2 token is not.
template <class Client>
bool ConnectAndSignIn(Client& client, const ExternalAccount& account, int defaultPort, LinkResult& result) {
  auto address = pop3::ParseServerAddress(account.server);
  if (!address) {
    result.status = LinkStatus::ConnectFailed;
    result.error = "Not a server name: " + account.server;
    return false;
  }
  SignInOutcome signIn;
  if (!client.Connect(address->host, address->port, account.security) ||
      !(signIn = SignInTo(client, account, address->host, address->port ? address->port : defaultPort)).ok) {
    ErrorKind kind = client.error();
    result.status = !signIn.tokenError.empty()   ? LinkStatus::ConnectFailed
                    : kind == ErrorKind::Stopped ? LinkStatus::Stopped
                    : kind == ErrorKind::LoginRejected && !oauth2::ProviderOf(account) ? LinkStatus::WrongPassword
                                                                                       : LinkStatus::ConnectFailed;
    result.error = signIn.tokenError.empty() ? client.errorText() : signIn.tokenError;
    client.Close();
    return false;
  }
  result.renewedSecret = signIn.renewedSecret;
  return true;
}

}  // namespace px::transport
