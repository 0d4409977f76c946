#pragma once
// OpenPGP through GpgME. The program's keys live in a key folder of its own (a private
// GNUPGHOME, 0700), never in the user's ~/.gnupg. Every call makes its own GpgME context, so
// the send thread and the main thread never share one. Keys are made and used without a
// passphrase: the agent is asked through the loopback pinentry and answered with nothing.
//
// Keys are found by the exact address of a user id, ignoring case ("malice@x" is not
// "alice@x"); revoked, expired, disabled and invalid keys, and keys that cannot do what is asked,
// are passed over.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace px::crypto {

// A GpgME error as the user sees it: "PGP Error " + number + " (" + text + ")".
struct PgpStatus {
  int code = 0;  // 0: success
  std::string text;
  bool ok() const { return code == 0; }
  std::string Message() const;
};

enum class KeyUse { Encrypt, Decrypt, Sign };

struct KeyInfo {
  std::string fingerprint;
  std::string keyId;    // the last 16 hex digits
  std::string userId;   // the first user id as written
  std::vector<std::string> addresses;  // the addresses of its valid user ids
  int64_t created = 0;
  bool secret = false;
  bool canEncrypt = false;
  bool canSign = false;
  bool revoked = false, expired = false, disabled = false, invalid = false;
  bool Usable() const { return !revoked && !expired && !disabled && !invalid; }
};

struct SignatureInfo {
  bool present = false;  // the message was signed
  bool good = false;     // the signature checks out against a key we hold
  std::string fingerprint;
  std::string signer;    // the signing key's first user id, or its fingerprint when unknown
  std::string Summary() const;  // "Signed by X: good signature" and the like
};

struct DecryptResult {
  PgpStatus status;
  bool wasEncrypted = false;
  SignatureInfo signature;
};

struct ImportOutcome {
  PgpStatus status;
  int imported = 0;   // keys new or changed
  int secret = 0;     // secret keys imported
  std::vector<std::string> fingerprints;
  std::vector<std::string> refused;  // secret keys that are protected by a passphrase
};

// Why PGP is not available (0 when it is), with the reason numbers shown in brackets.
enum class Unavailable {
  None = 0,
  Library = 1,    // GpgME could not be initialised
  Engine = 2,     // the gpg program is missing or too old
  KeyFolder = 3,  // the key folder could not be made private
  SocketPath = 4, // the key folder's path is too long for the agent's socket
};

class PgpBridge {
public:
  // `keyFolder` is the private GNUPGHOME (ends in "/"). Nothing happens before Start().
  explicit PgpBridge(std::string keyFolder);
  ~PgpBridge();
  PgpBridge(const PgpBridge&) = delete;
  PgpBridge& operator=(const PgpBridge&) = delete;

  // Checks the library and the gpg engine, makes the key folder (0700) with its settings and
  // starts the agent. Safe to call again.
  bool Start();
  // Stops the agent of the key folder (gpgconf --kill). Called by the destructor too.
  void Stop();

  bool Available() const { return reason_ == Unavailable::None; }
  Unavailable Reason() const { return reason_; }
  std::string ReasonText() const;  // "" when available
  const std::string& KeyFolder() const { return home_; }
  std::string EngineVersion() const { return engineVersion_; }

  // The first usable key (in order of creation) with a user id of exactly `address`.
  bool FindKey(std::string_view address, KeyUse use, KeyInfo* out = nullptr) const;
  std::vector<KeyInfo> ListKeys(bool secretOnly = false) const;

  // A new key pair for "name <address>" without a passphrase: a signing primary key and an
  // encryption subkey, no expiry.
  PgpStatus GenerateKey(std::string_view name, std::string_view address, KeyInfo* made = nullptr);
  // The ASCII-armoured public key of `address` (or of a fingerprint).
  PgpStatus ExportPublic(std::string_view who, std::string* armoured) const;
  PgpStatus ExportSecret(std::string_view fingerprint, std::string* armoured) const;
  // Imports key data (armoured or binary). With `onlyAddress`, only user ids of exactly that
  // address are taken and a key without one is not imported at all.
  ImportOutcome Import(std::string_view keyData, std::string_view onlyAddress = {});
  // Removes one key (public and secret part) by fingerprint. A secret key is first written,
  // armoured, to `backupFile` (0600) when that is given; without a backup it is not removed.
  PgpStatus DeleteKey(std::string_view fingerprint, const std::string& backupFile = {});

  // Encrypts the file `in` to the keys `fingerprints` into the new file `out`; `signWith`
  // (a fingerprint) signs it too.
  PgpStatus EncryptFile(const std::string& in, const std::string& out, const std::vector<std::string>& fingerprints,
                        bool armour = false, std::string_view signWith = {});
  PgpStatus EncryptData(std::string_view plain, std::string* out, const std::vector<std::string>& fingerprints,
                        bool armour, std::string_view signWith = {});
  // Decrypts (and verifies, when signed) `in` into `out`. Nothing is fetched from a key server
  // and no key found in the message is added.
  DecryptResult DecryptFile(const std::string& in, const std::string& out);
  DecryptResult DecryptData(std::string_view cipher, std::string* plain);
  // A detached, armoured signature of `data` by `fingerprint`.
  PgpStatus SignDetached(std::string_view data, std::string_view fingerprint, std::string* signature);
  // Checks a detached signature, or a clear-signed text when `signature` is empty.
  SignatureInfo Verify(std::string_view data, std::string_view signature, std::string* signedText = nullptr);

  // Imports the legacy key rings ("plumadex.pkr", "plumadex.skr" in `dataRoot`) once: a marker
  // in the key folder remembers it was done. Secret keys protected by a passphrase are refused
  // (named in `refused`), since nothing here can ask for a passphrase. The files stay as they are.
  ImportOutcome ImportLegacyRings(const std::string& dataRoot);

private:
  PgpStatus Ready() const;

  std::string home_;         // as given, ends in "/"
  std::string engineHome_;   // what the engine is told (a short link when home_ is too long)
  std::string engineVersion_;
  Unavailable reason_ = Unavailable::Library;
  bool started_ = false;
};

// True when `text` holds an ASCII-armoured OpenPGP block of `kind` ("MESSAGE", "PUBLIC KEY
// BLOCK", "SIGNED MESSAGE", ...).
bool HasArmour(std::string_view text, std::string_view kind = {});

// One armoured block found in a text: its kind and the whole block from "-----BEGIN" to the
// end line.
struct ArmourBlock {
  std::string kind;
  size_t begin = 0, end = 0;  // byte range of the block in the text
};
// The armoured blocks of a text in order, at most `maxBlocks`; a block without its end line is
// not returned.
std::vector<ArmourBlock> FindArmour(std::string_view text, size_t maxBlocks = 64);

// The exact address of a user id text ("Name <a@b>" or "a@b"), lower-cased; "" without one.
std::string AddressOfUserId(std::string_view userId);

}  // namespace px::crypto
