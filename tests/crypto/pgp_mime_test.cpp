// Internet mail sent with OpenPGP (PGP/MIME and inline), made by gpg, filed by plumadex-cli:
// the readable message is filed with the lock mark; one that cannot be decrypted is kept.
#include "crypto/gpg_fixture.h"
#include "foundation/ini_file.h"
#include "support/test_paths.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using px::test::KeyHome;
using px::test::KeyOf;

struct Cli {
  QTemporaryDir root;
  std::pair<int, std::string> Run(const QStringList& args, const QByteArray& input = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLUMADEX_HOME", root.path());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(PX_BINARY_DIR "/src/plumadex-cli", args);
    p.waitForStarted();
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitCode(), (p.readAllStandardOutput() + p.readAllStandardError()).toStdString()};
  }
  std::string Docs() const { return root.path().toStdString() + "/Documents/"; }
};

std::string Encrypted(KeyHome& gpg, const std::string& to, const std::string& plain) {
  std::string out;
  EXPECT_EQ(gpg.Gpg({"--armor", "--trust-model", "always", "-u", KeyOf("alice@x.org").fingerprint, "-r", to, "--sign",
                     "--encrypt"},
                    &out, plain),
            0);
  return out;
}

TEST(OpenPgpMail, PgpMimeAndInlineMessagesAreFiledReadableWithTheLockMark) {
  if (!QFile::exists(PX_BINARY_DIR "/src/plumadex-cli")) GTEST_SKIP() << "plumadex-cli is not built";
  KeyHome gpg;
  gpg.Hold({"alice@x.org", "bob@x.org", "malice@x.org"}, true);
  Cli bob;
  ASSERT_EQ(bob.Run({"keys", "import", "-"}, QByteArray::fromStdString(KeyOf("bob@x.org").secretKey)).first, 0);
  ASSERT_EQ(bob.Run({"keys", "import", "-"}, QByteArray::fromStdString(KeyOf("alice@x.org").publicKey)).first, 0);

  const std::string entity =
      "Content-Type: text/plain; charset=utf-8\r\n\r\nThe eagle lands at dawn.\r\n";
  const std::string pgpMime =
      "From: Alice <alice@x.org>\r\nTo: bob@x.org\r\nSubject: Eagle\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=\"b1\"\r\n\r\n"
      "--b1\r\nContent-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n\r\n"
      "--b1\r\nContent-Type: application/octet-stream; name=\"encrypted.asc\"\r\n\r\n" +
      Encrypted(gpg, "bob@x.org", entity) + "\r\n--b1--\r\n";
  const std::string inlinePgp = "From: alice@x.org\r\nTo: bob@x.org\r\nSubject: Owl\r\n\r\nBefore\r\n" +
                                Encrypted(gpg, "bob@x.org", "The owl sleeps.\r\n") + "After\r\n";
  const std::string notForBob = "From: alice@x.org\r\nTo: malice@x.org\r\nSubject: Hawk\r\n\r\n" +
                                Encrypted(gpg, "malice@x.org", "Not for bob.\r\n");
  const QString dir = QString::fromStdString(gpg.scratch());
  px::test::writeFile(gpg.scratch() + "a.eml", pgpMime);
  px::test::writeFile(gpg.scratch() + "b.eml", inlinePgp);
  px::test::writeFile(gpg.scratch() + "c.eml", notForBob);
  auto [rc, text] = bob.Run({"file", dir + "a.eml", dir + "b.eml", dir + "c.eml"});

  px::TPXIniBase index(bob.Docs() + "Plumadex.ini");
  px::StringList sections;
  index.ReadSections(sections);
  bool eagle = false, owl = false;
  for (const auto& s : sections) {
    const std::string body = px::test::readFile(bob.Docs() + s);
    if (body.find("The eagle lands at dawn.") != std::string::npos) {
      eagle = true;
      EXPECT_NE(index.ReadInteger(s, "Flags", 0) & 0x40, 0) << s;
    }
    if (body.find("The owl sleeps.") != std::string::npos) {
      owl = true;
      EXPECT_NE(body.find("Before"), std::string::npos);
      EXPECT_NE(body.find("After"), std::string::npos);
      EXPECT_EQ(body.find("BEGIN PGP"), std::string::npos);
      EXPECT_NE(index.ReadInteger(s, "Flags", 0) & 0x40, 0) << s;
    }
    EXPECT_EQ(body.find("Not for bob"), std::string::npos);
  }
  EXPECT_TRUE(eagle) << text;
  EXPECT_TRUE(owl) << text;
  // The one bob cannot read is kept, and he is told.
  EXPECT_NE(text.find("could not be decrypted"), std::string::npos) << text;
  const QStringList kept = QDir(bob.root.path() + "/data/Quarantine").entryList(QDir::Files | QDir::Hidden);
  ASSERT_EQ(kept.size(), 1) << text;
  EXPECT_EQ(px::test::readFile(bob.root.path().toStdString() + "/data/Quarantine/" + kept[0].toStdString()), notForBob);
}

}  // namespace
