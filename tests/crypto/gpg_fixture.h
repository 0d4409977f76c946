#pragma once
// Keys for the encryption tests: made once per test program in a short temporary key folder,
// then imported into each test's own key folder. `gpg` runs the command-line side of the
// interoperability checks.
#include "crypto/pgp_bridge.h"

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

namespace px::test {

struct TestKey {
  std::string address;
  std::string fingerprint;
  std::string publicKey;  // armoured
  std::string secretKey;  // armoured
};

// alice@x.org, malice@x.org, bob@x.org (made once, RSA as the program makes them).
const TestKey& KeyOf(const std::string& address);

// A fresh key folder with a started bridge; stopped (agent killed) at the end.
class KeyHome {
public:
  KeyHome();
  ~KeyHome();
  crypto::PgpBridge& bridge() { return *bridge_; }
  std::string folder() const;   // the key folder, with "/"
  std::string scratch() const;  // a folder for files, with "/"
  // Imports the keys (public and, with `secret`, secret) of these addresses.
  void Hold(const std::vector<std::string>& addresses, bool secret);
  // Runs gpg on this key folder; returns its exit code, stdout in *out.
  int Gpg(const std::vector<std::string>& args, std::string* out = nullptr, const std::string& input = {});

private:
  QTemporaryDir dir_;
  std::unique_ptr<crypto::PgpBridge> bridge_;
};

}  // namespace px::test
