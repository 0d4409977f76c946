#pragma once
// What sending needs from encryption. The PGP bridge implements it; until then NoCrypto says
// that no PGP is available, and parts that must be encrypted are held back, never sent in clear.
#include <string>
#include <string_view>

namespace px::transport {

class Crypto {
public:
  virtual ~Crypto() = default;
  virtual bool Available() const = 0;
  // Encrypts the file at `source` to the key of `recipient` (a bare service name) into
  // `target`. False with error set when it cannot.
  virtual bool EncryptFile(const std::string& source, const std::string& target, std::string_view recipient,
                           std::string* error) = 0;
};

class NoCrypto final : public Crypto {
public:
  bool Available() const override { return false; }
  bool EncryptFile(const std::string&, const std::string&, std::string_view, std::string* error) override {
    if (error) *error = "no PGP";
    return false;
  }
};

}  // namespace px::transport
