#pragma once
// Signing in to a mail server, the same for POP3 and IMAP: the password log-in, or for an
// account signed in with OAuth2 a fresh access token (from the refresh token kept where others
// keep the password) sent as OAUTHBEARER where the server offers it, else XOAUTH2.
#include <string>

#include "transport/accounts.h"
#include "transport/oauth2.h"

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

}  // namespace px::transport
