#include "transport/pop3/account_check.h"

#include "transport/imap/imap_client.h"
#include "transport/pop3/pop3_client.h"
#include "transport/sign_in.h"

namespace px::transport::pop3 {

AccountCheck CheckAccount(const ExternalAccount& account, int timeoutMs,
                          const std::function<AccountCheck(const std::string&, const std::string&)>& serviceCheck,
                          StopSwitch* stop) {
  AccountCheck r;
  if (account.IsService()) {
    if (serviceCheck) return serviceCheck(account.user, account.password);
    r.message = kCannotConnect;
    r.detail = "The mail service cannot be checked here.";
    return r;
  }
  auto address = ParseServerAddress(account.server);
  if (!address) {
    r.message = kServerNotFound;
    r.detail = "Not a server name: " + account.server;
    return r;
  }
  auto check = [&](auto& client, auto&& leave) {
    client.SetTimeout(timeoutMs);
    const StopAttached attached(stop, [&client] { client.Stop(); });
    SignInOutcome signIn;
    if (client.Connect(address->host, address->port, account.security) &&
        (signIn = SignInTo(client, account, address->host, address->port)).ok) {
      r.detail = client.encrypted() ? "Encrypted connection." : "Plain-text connection (not encrypted).";
      leave(client);
      r.works = true;
      r.message = kAccountWorks;
      return r;
    }
    r.detail = signIn.tokenError.empty() ? client.errorText() : signIn.tokenError;
    switch (client.error()) {
      case ErrorKind::HostNotFound: r.message = kServerNotFound; break;
      case ErrorKind::LoginRejected: r.message = kInvalidLogin; break;
      case ErrorKind::NeedsOAuth: r.message = kNeedsOAuth; break;
      default: r.message = kCannotConnect; break;
    }
    client.Close();
    return r;
  };
  if (account.IsImap()) {
    imap::ImapClient client;
    return check(client, [](imap::ImapClient& c) { c.Logout(); });
  }
  Pop3Client client;
  return check(client, [](Pop3Client& c) { c.Quit(); });
}

}  // namespace px::transport::pop3
