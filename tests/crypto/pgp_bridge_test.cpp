#include "crypto/gpg_fixture.h"
#include "crypto/pgp_bridge.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace px::crypto;
using px::test::KeyHome;
using px::test::KeyOf;

TEST(PgpBridge, FindsKeysByTheExactAddressOfAUserIdIgnoringCase) {
  KeyHome h;
  h.Hold({"alice@x.org", "malice@x.org"}, false);
  struct Case {
    const char* asked;
    const char* found;  // "" for none
  } cases[] = {
      {"alice@x.org", "alice@x.org"},   {"ALICE@X.Org", "alice@x.org"}, {"malice@x.org", "malice@x.org"},
      {"lice@x.org", ""},               {"alice@x.or", ""},             {"alice@x.org.evil", ""},
      {"", ""},                         {"x.org", ""},
  };
  for (const auto& c : cases) {
    KeyInfo k;
    const bool found = h.bridge().FindKey(c.asked, KeyUse::Encrypt, &k);
    EXPECT_EQ(found, *c.found != 0) << c.asked;
    if (found && *c.found) EXPECT_EQ(k.fingerprint, KeyOf(c.found).fingerprint) << c.asked;
  }
  // Public keys only: nothing here can decrypt.
  EXPECT_FALSE(h.bridge().FindKey("alice@x.org", KeyUse::Decrypt));
}

TEST(PgpBridge, PassesOverRevokedExpiredAndSignOnlyKeys) {
  KeyHome h;
  // Made by gpg itself: a key that can only sign, one that expired, one revoked.
  ASSERT_EQ(h.Gpg({"--quick-gen-key", "Sign <sign@x.org>", "ed25519", "sign", "never"}), 0);
  ASSERT_EQ(h.Gpg({"--faked-system-time", "20200101T000000", "--quick-gen-key", "Old <old@x.org>", "future-default",
                   "default", "2d"}),
            0);
  ASSERT_EQ(h.Gpg({"--quick-gen-key", "Gone <gone@x.org>", "future-default", "default", "never"}), 0);
  std::string listing;
  ASSERT_EQ(h.Gpg({"--with-colons", "--list-keys", "gone@x.org"}, &listing), 0);
  const size_t fpr = listing.find("\nfpr:");
  ASSERT_NE(fpr, std::string::npos);
  const size_t hex = listing.find_first_of("0123456789ABCDEF", fpr + 5);
  const std::string gone = listing.substr(hex, 40);
  std::string rev = px::test::readFile(h.folder() + "openpgp-revocs.d/" + gone + ".rev");
  const size_t colon = rev.find(":-----BEGIN");
  ASSERT_NE(colon, std::string::npos);
  rev.erase(colon, 1);
  ASSERT_EQ(h.Gpg({"--import"}, nullptr, rev), 0);

  for (const char* a : {"sign@x.org", "old@x.org", "gone@x.org"}) {
    EXPECT_FALSE(h.bridge().FindKey(a, KeyUse::Encrypt)) << a;
    EXPECT_FALSE(h.bridge().FindKey(a, KeyUse::Decrypt)) << a;
  }
  EXPECT_TRUE(h.bridge().FindKey("sign@x.org", KeyUse::Sign));
}

TEST(PgpBridge, AMessageWeEncryptIsReadByGpg) {
  KeyHome h;
  h.Hold({"bob@x.org"}, true);
  const std::string plain = h.scratch() + "plain.txt";
  px::test::writeFile(plain, "Meet me at noon.\r\n");
  KeyInfo bob;
  ASSERT_TRUE(h.bridge().FindKey("bob@x.org", KeyUse::Encrypt, &bob));
  for (bool armour : {false, true}) {
    const std::string cipher = h.scratch() + (armour ? "c.asc" : "c.pgp");
    const PgpStatus s = h.bridge().EncryptFile(plain, cipher, {bob.fingerprint}, armour);
    ASSERT_TRUE(s.ok()) << s.Message();
    EXPECT_EQ(px::test::readFile(cipher).find("Meet me"), std::string::npos);
    std::string out;
    ASSERT_EQ(h.Gpg({"--decrypt", cipher}, &out), 0);
    EXPECT_EQ(out, "Meet me at noon.\r\n");
  }
  // The target is never put over an existing file.
  EXPECT_FALSE(h.bridge().EncryptFile(plain, plain, {bob.fingerprint}).ok());
  EXPECT_EQ(px::test::readFile(plain), "Meet me at noon.\r\n");
}

TEST(PgpBridge, AMessageGpgEncryptedAndSignedIsDecryptedAndVerifiedHere) {
  KeyHome h;
  h.Hold({"alice@x.org", "bob@x.org"}, true);
  std::string cipher;
  ASSERT_EQ(h.Gpg({"--armor", "--trust-model", "always", "-u", KeyOf("alice@x.org").fingerprint, "-r", "bob@x.org",
                   "--sign", "--encrypt"},
                  &cipher, "From Alice with love\n"),
            0);
  std::string plain;
  DecryptResult r = h.bridge().DecryptData(cipher, &plain);
  ASSERT_TRUE(r.status.ok()) << r.status.Message();
  EXPECT_EQ(plain, "From Alice with love\n");
  EXPECT_TRUE(r.signature.present);
  EXPECT_TRUE(r.signature.good);
  EXPECT_EQ(r.signature.fingerprint, KeyOf("alice@x.org").fingerprint);
  EXPECT_NE(r.signature.Summary().find("alice@x.org"), std::string::npos);
  EXPECT_NE(r.signature.Summary().find("good signature"), std::string::npos);

  // The same through files.
  px::test::writeFile(h.scratch() + "in.asc", cipher);
  r = h.bridge().DecryptFile(h.scratch() + "in.asc", h.scratch() + "out.txt");
  ASSERT_TRUE(r.status.ok()) << r.status.Message();
  EXPECT_EQ(px::test::readFile(h.scratch() + "out.txt"), "From Alice with love\n");

  // A signature by a key we do not hold is present but not good.
  KeyHome other;
  other.Hold({"bob@x.org"}, true);
  r = other.bridge().DecryptData(cipher, &plain);
  ASSERT_TRUE(r.status.ok());
  EXPECT_TRUE(r.signature.present);
  EXPECT_FALSE(r.signature.good);
}

TEST(PgpBridge, FailuresReadAsPgpErrorsAndLeaveNoOutput) {
  KeyHome h;
  h.Hold({"alice@x.org"}, false);  // no secret key: cannot decrypt
  KeyInfo alice;
  ASSERT_TRUE(h.bridge().FindKey("alice@x.org", KeyUse::Encrypt, &alice));
  std::string cipher;
  ASSERT_TRUE(h.bridge().EncryptData("secret", &cipher, {alice.fingerprint}, false).ok());
  px::test::writeFile(h.scratch() + "c", cipher);
  DecryptResult r = h.bridge().DecryptFile(h.scratch() + "c", h.scratch() + "p");
  EXPECT_FALSE(r.status.ok());
  EXPECT_EQ(r.status.Message().rfind("PGP Error " + std::to_string(r.status.code), 0), 0u) << r.status.Message();
  EXPECT_NE(::access((h.scratch() + "p").c_str(), F_OK), 0);
  std::string plain;
  EXPECT_FALSE(h.bridge().DecryptData("not a PGP message", &plain).status.ok());
  EXPECT_FALSE(h.bridge().ExportPublic("nobody@x.org", &plain).ok());
}

TEST(PgpBridge, GeneratesAKeyThatCanReceiveAndExportsIt) {
  KeyHome h;
  KeyInfo made;
  const PgpStatus s = h.bridge().GenerateKey("Carol <evil>", "carol@plumadex.net", &made);
  ASSERT_TRUE(s.ok()) << s.Message();
  KeyInfo k;
  ASSERT_TRUE(h.bridge().FindKey("carol@plumadex.net", KeyUse::Decrypt, &k));
  EXPECT_EQ(k.fingerprint, made.fingerprint);
  EXPECT_EQ(k.userId, "Carol evil <carol@plumadex.net>");
  std::string armoured;
  ASSERT_TRUE(h.bridge().ExportPublic("carol@plumadex.net", &armoured).ok());
  EXPECT_TRUE(HasArmour(armoured, "PUBLIC KEY BLOCK"));
  EXPECT_EQ(armoured.find("PRIVATE"), std::string::npos);
  // The key folder is private.
  struct stat st;
  ASSERT_EQ(::stat(h.folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(PgpBridge, ImportsOnlyTheUserIdAsked) {
  KeyHome maker;
  // One key that claims two addresses.
  ASSERT_EQ(maker.Gpg({"--quick-gen-key", "Two <two@x.org>", "future-default", "default", "never"}), 0);
  ASSERT_EQ(maker.Gpg({"--quick-add-uid", "two@x.org", "Fake <bob@x.org>"}), 0);
  std::string pub;
  ASSERT_EQ(maker.Gpg({"--armor", "--export", "two@x.org"}, &pub), 0);

  KeyHome h;
  ImportOutcome r = h.bridge().Import(pub, "TWO@x.org");
  ASSERT_TRUE(r.status.ok()) << r.status.Message();
  EXPECT_EQ(r.fingerprints.size(), 1u);
  EXPECT_TRUE(h.bridge().FindKey("two@x.org", KeyUse::Encrypt));
  EXPECT_FALSE(h.bridge().FindKey("bob@x.org", KeyUse::Encrypt));

  // A key without the asked address is not taken at all.
  KeyHome h2;
  r = h2.bridge().Import(pub, "carol@x.org");
  EXPECT_FALSE(r.status.ok());
  EXPECT_TRUE(h2.bridge().ListKeys().empty());
}

TEST(PgpBridge, RemovesOneKeyAndBacksUpItsSecretFirst) {
  KeyHome h;
  h.Hold({"alice@x.org", "bob@x.org"}, true);
  const std::string fpr = KeyOf("alice@x.org").fingerprint;
  EXPECT_FALSE(h.bridge().DeleteKey(fpr).ok());  // never without a backup
  EXPECT_TRUE(h.bridge().FindKey("alice@x.org", KeyUse::Decrypt));
  const std::string backup = h.scratch() + "alice.asc";
  ASSERT_TRUE(h.bridge().DeleteKey(fpr, backup).ok());
  EXPECT_FALSE(h.bridge().FindKey("alice@x.org", KeyUse::Encrypt));
  EXPECT_TRUE(h.bridge().FindKey("bob@x.org", KeyUse::Decrypt));  // the other key stays
  struct stat st;
  ASSERT_EQ(::stat(backup.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The backup brings the key back.
  EXPECT_TRUE(h.bridge().Import(px::test::readFile(backup)).status.ok());
  EXPECT_TRUE(h.bridge().FindKey("alice@x.org", KeyUse::Decrypt));
}

TEST(PgpBridge, ImportsLegacyRingsOnceAndRefusesPassphraseProtectedSecrets) {
  KeyHome maker;
  maker.Hold({"alice@x.org", "bob@x.org"}, true);
  ASSERT_EQ(maker.Gpg({"--passphrase", "hunter2", "--quick-gen-key", "Locked <locked@x.org>", "future-default", "default",
                       "never"}),
            0);
  std::string pkr, skr, lockedSkr;
  ASSERT_EQ(maker.Gpg({"--export", "alice@x.org", "bob@x.org"}, &pkr), 0);
  ASSERT_EQ(maker.Gpg({"--export-secret-keys", "alice@x.org"}, &skr), 0);
  ASSERT_EQ(maker.Gpg({"--passphrase", "hunter2", "--export-secret-keys", "locked@x.org"}, &lockedSkr), 0);
  ASSERT_FALSE(lockedSkr.empty());

  px::test::TempHome data;
  px::test::writeFile(data.path("plumadex.pkr"), pkr);
  px::test::writeFile(data.path("plumadex.skr"), skr + lockedSkr);
  KeyHome h;
  ImportOutcome r = h.bridge().ImportLegacyRings(data.root());
  EXPECT_TRUE(h.bridge().FindKey("alice@x.org", KeyUse::Decrypt));
  EXPECT_TRUE(h.bridge().FindKey("bob@x.org", KeyUse::Encrypt));
  EXPECT_FALSE(h.bridge().FindKey("bob@x.org", KeyUse::Decrypt));
  ASSERT_EQ(r.refused.size(), 1u);
  EXPECT_FALSE(h.bridge().FindKey("locked@x.org", KeyUse::Decrypt));
  EXPECT_TRUE(h.bridge().FindKey("locked@x.org", KeyUse::Encrypt));  // its public part stays
  // The legacy files are left as they were, and a second start imports nothing.
  EXPECT_EQ(px::test::readFile(data.path("plumadex.pkr")), pkr);
  ASSERT_TRUE(h.bridge().DeleteKey(KeyOf("bob@x.org").fingerprint).ok());
  r = h.bridge().ImportLegacyRings(data.root());
  EXPECT_TRUE(r.fingerprints.empty());
  EXPECT_FALSE(h.bridge().FindKey("bob@x.org", KeyUse::Encrypt));
}

TEST(PgpBridge, AKeyFolderWithALongPathIsReachedThroughAShortLink) {
  if (::access(("/run/user/" + std::to_string(::geteuid())).c_str(), F_OK) == 0)
    GTEST_SKIP() << "the agent's sockets live in the runtime folder here";
  QTemporaryDir dir;
  std::string deep = dir.path().toStdString() + "/" + std::string(90, 'd') + "/";
  ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
  PgpBridge b(deep + "gnupg/");
  ASSERT_TRUE(b.Start()) << b.ReasonText();
  ImportOutcome r = b.Import(KeyOf("alice@x.org").secretKey);
  ASSERT_TRUE(r.status.ok()) << r.status.Message();
  EXPECT_TRUE(b.FindKey("alice@x.org", KeyUse::Decrypt));
  struct stat st;
  EXPECT_EQ(::stat((deep + "gnupg/pubring.kbx").c_str(), &st), 0);
}

TEST(ArmourReader, FindsWholeBlocksAtLineStarts) {
  const std::string text =
      "Hello\r\n-----BEGIN PGP MESSAGE-----\r\n\r\nabc\r\n-----END PGP MESSAGE-----\r\n"
      "x -----BEGIN PGP MESSAGE-----\n"
      "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\nhi\n-----BEGIN PGP SIGNATURE-----\n\nzz\n"
      "-----END PGP SIGNATURE-----\n"
      "-----BEGIN PGP PUBLIC KEY BLOCK-----\nno end\n";
  const auto blocks = FindArmour(text);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].kind, "MESSAGE");
  EXPECT_EQ(text.substr(blocks[0].begin, 5), "-----");
  EXPECT_EQ(text.substr(blocks[0].end - 5, 5), "-----");
  EXPECT_EQ(blocks[1].kind, "SIGNED MESSAGE");
  EXPECT_EQ(text.substr(blocks[1].end - 27, 27), "-----END PGP SIGNATURE-----");
  EXPECT_NE(text.substr(blocks[1].begin, blocks[1].end - blocks[1].begin).find("-----END PGP SIGNATURE-----"),
            std::string::npos);
  EXPECT_FALSE(HasArmour(text, "PUBLIC KEY BLOCK"));
  EXPECT_TRUE(HasArmour(text, "MESSAGE"));
  EXPECT_EQ(AddressOfUserId("Alice Smith <Alice@X.org>"), "alice@x.org");
  EXPECT_EQ(AddressOfUserId("bob@x.org"), "bob@x.org");
  EXPECT_EQ(AddressOfUserId("Bob <bob@x.org"), "");
  EXPECT_EQ(AddressOfUserId("Nobody"), "");
}
