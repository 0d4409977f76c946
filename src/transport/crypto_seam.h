#pragma once
// What sending needs from encryption. PgpCrypto (transport/pgp_crypto.h) implements it over the
// PGP bridge; NoCrypto says that no PGP is available, and parts that must be encrypted are held
// back, never sent in clear.
#include <string>
#include <string_view>

namespace px::transport {

class Crypto {
public:
  virtual ~Crypto() = default;
  virtual bool Available() const = 0;
  // Whether an encrypt-capable key of `address` (a whole address) is held.
  virtual bool HasKeyFor(std::string_view address) = 0;
  // Takes a key fetched for `address` (armoured text): only that address's user ids are kept.
  // When the address had another key, the old one goes and *warning tells the user. False with
  // *error when nothing usable was in it.
  virtual bool ImportKeyFor(std::string_view keyText, std::string_view address, std::string* warning,
                            std::string* error) = 0;
  // Encrypts the file at `source` to the key of `recipient` (a whole address) into the new file
  // `target`. False with *error set when it cannot.
  virtual bool EncryptFile(const std::string& source, const std::string& target, std::string_view recipient,
                           std::string* error) = 0;
};

class NoCrypto final : public Crypto {
public:
  bool Available() const override { return false; }
  bool HasKeyFor(std::string_view) override { return false; }
  bool ImportKeyFor(std::string_view, std::string_view, std::string*, std::string* error) override {
    if (error) *error = "no PGP";
    return false;
  }
  bool EncryptFile(const std::string&, const std::string&, std::string_view, std::string* error) override {
    if (error) *error = "no PGP";
    return false;
  }
};

}  // namespace px::transport
