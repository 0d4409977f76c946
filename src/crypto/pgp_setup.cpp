#include "crypto/pgp_setup.h"

#include <QDateTime>

#include <cerrno>
#include <sys/stat.h>

namespace px::crypto {

std::string KeyFolderOf(const std::string& dataRoot) { return dataRoot + "pgp/"; }

std::unique_ptr<PgpBridge> OpenPgp(const std::string& dataRoot, std::vector<std::string>* notices) {
  auto bridge = std::make_unique<PgpBridge>(KeyFolderOf(dataRoot));
  if (!bridge->Start()) return bridge;
  const ImportOutcome r = bridge->ImportLegacyRings(dataRoot);
  if (notices && !r.refused.empty()) {
    std::string text =
        "These secret keys of your old key rings are protected by a passphrase, which Plumadex cannot use; "
        "their public keys were imported, and the old key rings were left as they are:";
    for (const auto& f : r.refused) text += "\r" + f;
    notices->push_back(text);
  }
  if (notices && !r.status.ok()) notices->push_back("Your old key rings could not be imported: " + r.status.Message());
  return bridge;
}

std::string KeyBackupFile(const PgpBridge& bridge, const std::string& fingerprint) {
  const std::string folder = bridge.KeyFolder() + "backup/";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  const std::string stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz")).toStdString();
  return folder + fingerprint + "-" + stamp + ".asc";
}

}  // namespace px::crypto
