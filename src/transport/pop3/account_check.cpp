#include "transport/pop3/account_check.h"

#include "transport/pop3/pop3_client.h"

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
  Pop3Client client;
  client.SetTimeout(timeoutMs);
  const StopAttached attached(stop, [&client] { client.Stop(); });
  if (client.Connect(address->host, address->port, account.security) &&
      client.Login(account.user, account.password)) {
    r.detail = client.encrypted() ? "Encrypted connection." : "Plain-text connection (not encrypted).";
    client.Quit();
    r.works = true;
    r.message = kAccountWorks;
    return r;
  }
  r.detail = client.errorText();
  switch (client.error()) {
    case ErrorKind::HostNotFound: r.message = kServerNotFound; break;
    case ErrorKind::LoginRejected: r.message = kInvalidLogin; break;
    default: r.message = kCannotConnect; break;
  }
  client.Close();
  return r;
}

}  // namespace px::transport::pop3
