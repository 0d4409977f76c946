#pragma once
// Filing's decryption over the PGP bridge.
#include "crypto/pgp_bridge.h"
#include "incoming/filing_seams.h"

namespace px::incoming {

class PgpDecryptor final : public Decryptor {
public:
  explicit PgpDecryptor(crypto::PgpBridge& bridge) : bridge_(bridge) {}
  bool Available() const override { return bridge_.Available(); }
  bool Decrypt(const std::string& in, const std::string& out, std::string* error) override {
    const crypto::DecryptResult r = bridge_.DecryptFile(in, out);
    if (!r.status.ok() && error) *error = r.status.Message();
    return r.status.ok();
  }
  MessageOutcome DecryptMessage(const std::string& in, const std::string& out) override;

private:
  crypto::PgpBridge& bridge_;
};

}  // namespace px::incoming
