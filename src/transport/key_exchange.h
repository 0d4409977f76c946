#pragma once
// The user's own key and the service's key server: publishing a new key ("addkey") and
// withdrawing it ("delkey"). The key rings are never thrown away whole: a key that could not be
// published, or that was withdrawn, is taken out by its fingerprint after its secret part was
// backed up in the key folder.
#include "crypto/pgp_bridge.h"
#include "foundation/message_queue.h"
#include "transport/http_client.h"

#include <string>

namespace px::transport {

struct KeyServerAccess {
  HttpSettings http;
  std::string host;      // host[:port]
  std::string user;      // service user name
  std::string password;
  std::string name;      // the settings' `Name`, for the new key's user id
};

struct KeyExchangeOutcome {
  bool done = false;          // published / withdrawn
  MessageKind kind = MessageKind::Information;
  std::string text;           // for the user
};

// The service address of a user name (user + "@" + the service mail domain).
std::string OwnKeyAddress(const std::string& user);
// The has-own-key flag: a key that can decrypt for the service address is held.
bool HasOwnKey(const crypto::PgpBridge& pgp, const std::string& user);

// Creates a key pair for the service address (unless one is held) and publishes it. When the
// server does not take it, a key made by this call is taken out again.
KeyExchangeOutcome PublishOwnKey(crypto::PgpBridge& pgp, const KeyServerAccess& access);
// Withdraws the published key; once the server said so, the own key leaves the rings (backed up).
KeyExchangeOutcome WithdrawOwnKey(crypto::PgpBridge& pgp, const KeyServerAccess& access);

}  // namespace px::transport
