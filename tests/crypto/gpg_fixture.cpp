#include "crypto/gpg_fixture.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <sys/stat.h>

namespace px::test {

namespace {

std::map<std::string, TestKey>& Keys() {
  static std::map<std::string, TestKey> keys;
  static std::once_flag once;
  std::call_once(once, [] {
    QTemporaryDir dir;
    crypto::PgpBridge b(dir.path().toStdString() + "/k/");
    if (!b.Start()) throw std::runtime_error("no PGP: " + b.ReasonText());
    for (const char* a : {"alice@x.org", "malice@x.org", "bob@x.org"}) {
      TestKey k;
      k.address = a;
      crypto::KeyInfo made;
      const crypto::PgpStatus s = b.GenerateKey(std::string("Test ") + a, a, &made);
      if (!s.ok()) throw std::runtime_error(s.Message());
      k.fingerprint = made.fingerprint;
      if (!b.ExportPublic(k.fingerprint, &k.publicKey).ok() || !b.ExportSecret(k.fingerprint, &k.secretKey).ok())
        throw std::runtime_error("cannot export the test keys");
      keys[a] = k;
    }
    b.Stop();
  });
  return keys;
}

}  // namespace

const TestKey& KeyOf(const std::string& address) { return Keys().at(address); }

KeyHome::KeyHome() {
  bridge_ = std::make_unique<crypto::PgpBridge>(folder());
  EXPECT_TRUE(bridge_->Start()) << bridge_->ReasonText();
  ::mkdir(scratch().c_str(), 0700);
}

KeyHome::~KeyHome() { bridge_.reset(); }

std::string KeyHome::folder() const { return dir_.path().toStdString() + "/g/"; }
std::string KeyHome::scratch() const { return dir_.path().toStdString() + "/f/"; }

void KeyHome::Hold(const std::vector<std::string>& addresses, bool secret) {
  for (const auto& a : addresses) {
    const TestKey& k = KeyOf(a);
    const crypto::ImportOutcome r = bridge_->Import(secret ? k.secretKey : k.publicKey);
    ASSERT_TRUE(r.status.ok()) << r.status.Message();
  }
}

int KeyHome::Gpg(const std::vector<std::string>& args, std::string* out, const std::string& input) {
  QProcess p;
  QStringList a{"--homedir", QString::fromStdString(folder()), "--batch", "--yes", "--pinentry-mode", "loopback",
                "--passphrase", ""};
  for (const auto& s : args) a << QString::fromStdString(s);
  p.start("gpg", a);
  p.write(input.data(), static_cast<qint64>(input.size()));
  p.closeWriteChannel();
  p.waitForFinished(60000);
  if (out) *out = p.readAllStandardOutput().toStdString();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

}  // namespace px::test
