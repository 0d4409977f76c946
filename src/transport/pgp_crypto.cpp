#include "transport/pgp_crypto.h"

#include "crypto/pgp_setup.h"

#include <algorithm>

namespace px::transport {

using crypto::KeyInfo;
using crypto::KeyUse;

PgpCrypto::PgpCrypto(crypto::PgpBridge& bridge) : bridge_([&bridge] { return &bridge; }) {}

PgpCrypto::PgpCrypto(std::function<crypto::PgpBridge*()> bridge) : bridge_(std::move(bridge)) {}

bool PgpCrypto::Available() const {
  crypto::PgpBridge* b = bridge_();
  return b && b->Available();
}

bool PgpCrypto::HasKeyFor(std::string_view address) {
  crypto::PgpBridge* b = bridge_();
  return b && b->FindKey(address, KeyUse::Encrypt);
}

bool PgpCrypto::ImportKeyFor(std::string_view keyText, std::string_view address, std::string* warning,
                             std::string* error) {
  crypto::PgpBridge* b = bridge_();
  if (!b) {
    if (error) *error = "no PGP";
    return false;
  }
  crypto::PgpBridge& bridge = *b;
  // The keys this address had before.
  std::vector<std::string> before;
  for (const KeyInfo& k : bridge.ListKeys())
    if (std::find(k.addresses.begin(), k.addresses.end(), crypto::AddressOfUserId(address)) != k.addresses.end())
      before.push_back(k.fingerprint);
  const crypto::ImportOutcome r = bridge.Import(keyText, address);
  if (!r.status.ok()) {
    if (error) *error = r.status.Message();
    return false;
  }
  if (r.fingerprints.empty()) {
    if (error) *error = "The key server's reply holds no key for " + std::string(address) + ".";
    return false;
  }
  const std::string& now = r.fingerprints.front();
  for (const std::string& old : before) {
    if (old == now) continue;
    // Our own key pair is never replaced by what a server says.
    if (bridge.FindKey(address, KeyUse::Decrypt)) break;
    if (warning)
      *warning = "The encryption key of " + std::string(address) + " has changed (it was " + old + ", it is now " + now +
                 "). Make sure " + std::string(address) + " made a new key before you send anything secret.";
    (void)bridge.DeleteKey(old, crypto::KeyBackupFile(bridge, old));
  }
  return true;
}

bool PgpCrypto::EncryptFile(const std::string& source, const std::string& target, std::string_view recipient,
                            std::string* error) {
  crypto::PgpBridge* b = bridge_();
  if (!b) {
    if (error) *error = "no PGP";
    return false;
  }
  crypto::PgpBridge& bridge = *b;
  KeyInfo k;
  if (!bridge.FindKey(recipient, KeyUse::Encrypt, &k)) {
    if (error) *error = "There is no encryption key for " + std::string(recipient) + ".";
    return false;
  }
  const crypto::PgpStatus s = bridge.EncryptFile(source, target, {k.fingerprint});
  if (!s.ok() && error) *error = s.Message();
  return s.ok();
}

}  // namespace px::transport
