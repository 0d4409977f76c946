#include "transport/key_exchange.h"

#include "crypto/pgp_setup.h"
#include "foundation/address.h"
#include "transport/service_protocol.h"

namespace px::transport {

namespace {

constexpr const char* kCannotConnect =
    "Cannot connect to Plumadex server. Please make sure you are connected to the Internet and try again.";

HttpResult Post(const KeyServerAccess& a, const std::vector<FormField>& fields) {
  HttpClient c(a.http);
  c.SetBasicAuth(a.user, a.password);
  return c.PostForm(ServiceUrl(a.host, KeyServerPath()), fields);
}

KeyExchangeOutcome Fail(std::string text, MessageKind kind = MessageKind::Error) {
  KeyExchangeOutcome o;
  o.kind = kind;
  o.text = std::move(text);
  return o;
}

}  // namespace

std::string OwnKeyAddress(const std::string& user) { return AddServiceDomain(StripServiceDomain(user)); }

bool HasOwnKey(const crypto::PgpBridge& pgp, const std::string& user) {
  return !user.empty() && pgp.FindKey(OwnKeyAddress(user), crypto::KeyUse::Decrypt);
}

KeyExchangeOutcome PublishOwnKey(crypto::PgpBridge& pgp, const KeyServerAccess& access) {
  if (!pgp.Available()) return Fail("Sorry, but encryption is not available: " + pgp.ReasonText() + ".");
  if (access.user.empty()) return Fail("Sorry, but you have no Plumadex address yet.");
  const std::string address = OwnKeyAddress(access.user);
  crypto::KeyInfo own;
  bool made = false;
  if (!pgp.FindKey(address, crypto::KeyUse::Decrypt, &own)) {
    const crypto::PgpStatus s = pgp.GenerateKey(access.name, address, &own);
    if (!s.ok()) return Fail(s.Message());
    made = true;
  }
  std::string armoured;
  if (const crypto::PgpStatus s = pgp.ExportPublic(own.fingerprint, &armoured); !s.ok()) {
    if (made) (void)pgp.DeleteKey(own.fingerprint, crypto::KeyBackupFile(pgp, own.fingerprint));
    return Fail(s.Message());
  }
  const HttpResult r = Post(access, {{"type", "addkey"}, {"key", armoured}});
  if (!r.Ok() || r.body.empty()) {
    // Nobody can send to a key the server does not have: the new key goes again (kept aside).
    if (made) (void)pgp.DeleteKey(own.fingerprint, crypto::KeyBackupFile(pgp, own.fingerprint));
    return Fail(kCannotConnect);
  }
  KeyExchangeOutcome o;
  o.done = true;
  o.text = "Encryption key has been successfully created. Other people can send you encrypted messages now.";
  return o;
}

KeyExchangeOutcome WithdrawOwnKey(crypto::PgpBridge& pgp, const KeyServerAccess& access) {
  if (access.user.empty()) return Fail("Sorry, but you have no Plumadex address yet.");
  const HttpResult r = Post(access, {{"type", "delkey"}});
  if (!r.Ok() || r.body.empty()) return Fail(kCannotConnect);
  // Only the own key pair goes, one key by its fingerprint; the other people's keys stay.
  const std::string address = OwnKeyAddress(access.user);
  crypto::KeyInfo own;
  while (pgp.FindKey(address, crypto::KeyUse::Decrypt, &own)) {
    const std::string backup = crypto::KeyBackupFile(pgp, own.fingerprint);
    const crypto::PgpStatus s = pgp.DeleteKey(own.fingerprint, backup);
    if (!s.ok()) return Fail(s.Message());
  }
  KeyExchangeOutcome o;
  o.done = true;
  o.text = "Encryption key has been deleted. Other people cannot send you encryption messages anymore.";
  return o;
}

}  // namespace px::transport
