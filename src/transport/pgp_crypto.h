#pragma once
// Sending's encryption over the PGP bridge.
#include "crypto/pgp_bridge.h"
#include "transport/crypto_seam.h"

#include <functional>
#include <string>

namespace px::transport {

class PgpCrypto final : public Crypto {
public:
  // `bridge` is started by its owner.
  explicit PgpCrypto(crypto::PgpBridge& bridge);
  // The bridge as its owner has it at each call (null: no PGP yet).
  explicit PgpCrypto(std::function<crypto::PgpBridge*()> bridge);
  bool Available() const override;
  bool HasKeyFor(std::string_view address) override;
  bool ImportKeyFor(std::string_view keyText, std::string_view address, std::string* warning,
                    std::string* error) override;
  bool EncryptFile(const std::string& source, const std::string& target, std::string_view recipient,
                   std::string* error) override;

private:
  std::function<crypto::PgpBridge*()> bridge_;
};

}  // namespace px::transport
