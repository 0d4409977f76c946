// The key server against the loopback peer: publishing and withdrawing the own key, fetching
// recipients' keys while sending, and two users exchanging encrypted mail with plumadex-cli.
#include "crypto/gpg_fixture.h"
#include "crypto/pgp_setup.h"
#include "foundation/ini_file.h"
#include "support/test_paths.h"
#include "support/test_support.h"
#include "transport/key_exchange.h"
#include "transport/peer_fixture.h"
#include "transport/pgp_crypto.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace px::transport {
namespace {

using px::test::KeyHome;
using px::test::KeyOf;
using px::test::ServicePeer;

class KeyServer : public ::testing::Test {
protected:
  static void SetUpTestSuite() { peer_ = new ServicePeer({"alice:secret", "bob:pw", "carol:pw", "dave:pw"}); }
  static void TearDownTestSuite() {
    delete peer_;
    peer_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(peer_->Running());
    peer_->ClearFaults();
  }
  KeyServerAccess Access(const std::string& user, const std::string& password) const {
    KeyServerAccess a;
    a.http = peer_->Settings();
    a.host = peer_->Host();
    a.user = user;
    a.password = password;
    a.name = "Test " + user;
    return a;
  }
  static std::string Published(const std::string& user) {
    const QJsonObject keys = QJsonDocument::fromJson(QByteArray::fromStdString(peer_->Keys())).object();
    return keys.value(QString::fromStdString(user)).toString().toStdString();
  }
  static size_t Backups(KeyHome& h) {
    return QDir(QString::fromStdString(h.folder() + "backup/")).entryList(QDir::Files).size();
  }
  static ServicePeer* peer_;
};
ServicePeer* KeyServer::peer_ = nullptr;

TEST_F(KeyServer, PublishAndWithdrawKeepEveryOtherKey) {
  KeyHome h;
  h.Hold({"bob@x.org"}, true);  // someone else's key pair, and it must survive everything below
  struct Step {
    const char* what;
    const char* fault;  // on the key server, or ""
    bool done;
    bool ownKeyAfter;
    bool publishedAfter;
    size_t backupsAfter;
  } steps[] = {
      {"publish", "fault=status&status=500", false, false, false, 1},  // the new key goes, backed up
      {"publish", "fault=drop_after&bytes=0", false, false, false, 2},
      {"publish", "", true, true, true, 2},
      {"withdraw", "fault=status&status=500", false, true, true, 2},  // nothing changes
      {"withdraw", "", true, false, false, 3},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.what) + " " + s.fault);
    if (*s.fault) {
      ASSERT_TRUE(peer_->AddFault("keys", s.fault));
    }
    const KeyExchangeOutcome o = std::string(s.what) == "publish" ? PublishOwnKey(h.bridge(), Access("dave", "pw"))
                                                                   : WithdrawOwnKey(h.bridge(), Access("dave", "pw"));
    EXPECT_EQ(o.done, s.done) << o.text;
    if (!s.done) {
      EXPECT_EQ(o.text, "Cannot connect to Plumadex server. Please make sure you are connected to the Internet and "
                        "try again.");
    }
    EXPECT_EQ(HasOwnKey(h.bridge(), "dave"), s.ownKeyAfter);
    EXPECT_EQ(Published("dave").find("BEGIN PGP PUBLIC KEY BLOCK") != std::string::npos, s.publishedAfter);
    EXPECT_EQ(Backups(h), s.backupsAfter);
    EXPECT_TRUE(h.bridge().FindKey("bob@x.org", crypto::KeyUse::Decrypt));
  }
}

TEST_F(KeyServer, AnUnusableKeyPairIsNeverPublishedAgainAfterAWrongPassword) {
  KeyHome h;
  const KeyExchangeOutcome o = PublishOwnKey(h.bridge(), Access("carol", "wrong"));
  EXPECT_FALSE(o.done);
  EXPECT_FALSE(HasOwnKey(h.bridge(), "carol"));
  EXPECT_TRUE(Published("carol").empty());
}

// Send-side fetching: what the key server answers decides what is sent.
TEST_F(KeyServer, FetchedKeysAreCheckedBeforeAnythingIsEncrypted) {
  KeyHome h;
  PgpCrypto crypto(h.bridge());
  struct Case {
    const char* reply;  // what listkey answers for the user
    const char* address;
    bool taken;
    bool warned;
  } cases[] = {
      {"<html><body>Internal error</body></html>", "bob@plumadex.net", false, false},
      {"", "bob@plumadex.net", false, false},
  };
  for (const auto& c : cases) {
    std::string warning, error;
    EXPECT_EQ(crypto.ImportKeyFor(c.reply, c.address, &warning, &error), c.taken) << c.reply;
    EXPECT_EQ(!warning.empty(), c.warned);
  }
  // Someone else's key offered for bob: refused, nothing imported ("malice" is not "alice").
  std::string warning, error;
  EXPECT_FALSE(crypto.ImportKeyFor(KeyOf("malice@x.org").publicKey, "alice@x.org", &warning, &error));
  EXPECT_FALSE(crypto.HasKeyFor("alice@x.org"));
  EXPECT_FALSE(crypto.HasKeyFor("malice@x.org"));
  EXPECT_TRUE(crypto.ImportKeyFor(KeyOf("alice@x.org").publicKey, "alice@x.org", &warning, &error)) << error;
  EXPECT_TRUE(warning.empty());
  EXPECT_TRUE(crypto.HasKeyFor("ALICE@x.org"));
}

TEST_F(KeyServer, AChangedKeyReplacesTheOldOneAndTheUserIsWarned) {
  KeyHome maker;
  ASSERT_EQ(maker.Gpg({"--quick-gen-key", "New Alice <alice@x.org>", "future-default", "default", "never"}), 0);
  std::string fresh;
  ASSERT_EQ(maker.Gpg({"--armor", "--export", "alice@x.org"}, &fresh), 0);

  KeyHome h;
  PgpCrypto crypto(h.bridge());
  std::string warning, error;
  ASSERT_TRUE(crypto.ImportKeyFor(KeyOf("alice@x.org").publicKey, "alice@x.org", &warning, &error));
  ASSERT_TRUE(crypto.ImportKeyFor(fresh, "alice@x.org", &warning, &error)) << error;
  EXPECT_NE(warning.find("has changed"), std::string::npos);
  EXPECT_NE(warning.find(KeyOf("alice@x.org").fingerprint), std::string::npos);
  // Only the new key is left for that address.
  int keys = 0;
  for (const auto& k : h.bridge().ListKeys())
    for (const auto& a : k.addresses) keys += a == "alice@x.org";
  EXPECT_EQ(keys, 1);
  crypto::KeyInfo k;
  ASSERT_TRUE(h.bridge().FindKey("alice@x.org", crypto::KeyUse::Encrypt, &k));
  EXPECT_NE(k.fingerprint, KeyOf("alice@x.org").fingerprint);
}

// Two users of the service through plumadex-cli: bob publishes a key, alice ticks "encrypt".
TEST_F(KeyServer, TwoUsersExchangeEncryptedMail) {
  const QString cli = PX_BINARY_DIR "/src/plumadex-cli";
  if (!QFile::exists(cli)) GTEST_SKIP() << "plumadex-cli is not built";
  QTemporaryDir aliceRoot, bobRoot;
  auto run = [&](const QTemporaryDir& root, const QStringList& args, const QByteArray& input = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLUMADEX_HOME", root.path());
    env.insert("PLUMADEX_SERVICE_CA", QString::fromStdString(peer_->CaFile()));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(cli, args);
    p.waitForStarted();
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
  };
  const QString host = QString::fromStdString(peer_->Host());
  ASSERT_EQ(run(aliceRoot, {"service", "set", "--user", "alice", "--server", host, "--password-stdin"}, "secret\n").first, 0);
  ASSERT_EQ(run(bobRoot, {"service", "set", "--user", "bob", "--server", host, "--password-stdin"}, "pw\n").first, 0);
  auto [rc, text] = run(bobRoot, {"keys", "publish"});
  ASSERT_EQ(rc, 0) << text.toStdString();
  EXPECT_NE(Published("bob").find("BEGIN PGP PUBLIC KEY BLOCK"), std::string::npos);

  const std::string docs = aliceRoot.path().toStdString() + "/Documents/";
  px::test::makeDirs(docs);
  px::test::writeFile(docs + "plan.txt", "The plan is secret.\r\n");
  px::test::writeFile(docs + "open.txt", "To carol, who has no key.\r\n");
  ASSERT_EQ(run(aliceRoot, {"outbox", QString::fromStdString(docs + "plan.txt"), "--to", "bob", "--encrypt"}).first, 0);
  ASSERT_EQ(run(aliceRoot, {"outbox", QString::fromStdString(docs + "open.txt"), "--to", "carol", "--encrypt"}).first, 0);
  std::tie(rc, text) = run(aliceRoot, {"send"});
  // carol has no key: her message is held back and named; bob's goes.
  EXPECT_NE(text.indexOf("don't have encryption key"), -1) << text.toStdString();
  EXPECT_NE(text.indexOf("carol"), -1);
  TPXIniBase aliceIndex(docs + "Plumadex.ini");
  EXPECT_EQ(aliceIndex.ReadInteger("plan.txt", "Flags", 0) & 0x0400, 0) << text.toStdString();
  EXPECT_NE(aliceIndex.ReadInteger("open.txt", "Flags", 0) & 0x0400, 0);
  // What the service holds for bob is not the text.
  const QDir box(QString::fromStdString(peer_->Mailbox("bob")));
  bool sawCipher = false;
  for (const QString& f : box.entryList(QDir::Files)) {
    if (f.endsWith(".json")) {
      const std::string meta = px::test::readFile(box.filePath(f).toStdString());
      sawCipher = sawCipher || meta.find("$$$PGP$$$txt") != std::string::npos;
    } else {
      EXPECT_EQ(px::test::readFile(box.filePath(f).toStdString()).find("The plan is secret"), std::string::npos);
    }
  }
  EXPECT_TRUE(sawCipher);

  std::tie(rc, text) = run(bobRoot, {"receive"});
  EXPECT_EQ(rc, 0) << text.toStdString();
  const std::string bobDocs = bobRoot.path().toStdString() + "/Documents/";
  EXPECT_EQ(px::test::readFile(bobDocs + "plan.txt"), "The plan is secret.\r\n") << text.toStdString();
  TPXIniBase bobIndex(bobDocs + "Plumadex.ini");
  EXPECT_NE(bobIndex.ReadInteger("plan.txt", "Flags", 0) & 0x0040, 0);  // shown as encrypted

  // A message bob can no longer read (his key withdrawn) is kept in quarantine, and he is told.
  px::test::writeFile(docs + "again.txt", "Second secret.\r\n");
  ASSERT_EQ(run(aliceRoot, {"outbox", QString::fromStdString(docs + "again.txt"), "--to", "bob", "--encrypt"}).first, 0);
  std::tie(rc, text) = run(aliceRoot, {"send"});
  ASSERT_EQ(run(bobRoot, {"keys", "withdraw"}).first, 0);
  std::tie(rc, text) = run(bobRoot, {"receive"});
  EXPECT_NE(text.indexOf("could not be decrypted"), -1) << text.toStdString();
  EXPECT_FALSE(QFile::exists(QString::fromStdString(bobDocs + "again.txt")));
  const QDir quarantine(bobRoot.path() + "/data/Quarantine");
  EXPECT_FALSE(quarantine.entryList(QDir::Files | QDir::Hidden).isEmpty());
  // bob's withdrawn key pair was backed up first.
  EXPECT_FALSE(QDir(bobRoot.path() + "/data/pgp/backup").entryList(QDir::Files).isEmpty());
}

}  // namespace
}  // namespace px::transport
