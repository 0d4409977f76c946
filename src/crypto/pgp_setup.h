#pragma once
// The program's PGP: the key folder in the data root, started once per process.
#include "crypto/pgp_bridge.h"

#include <memory>
#include <string>
#include <vector>

namespace px::crypto {

// The private key folder (GNUPGHOME) of a data root: dataRoot + "pgp/".
std::string KeyFolderOf(const std::string& dataRoot);

// Makes and starts the bridge of `dataRoot`; the first time, the legacy rings are imported.
// Texts for the user (refused legacy keys) go to *notices. The bridge is returned even when PGP
// is not available, so callers can say why.
std::unique_ptr<PgpBridge> OpenPgp(const std::string& dataRoot, std::vector<std::string>* notices);

// A new backup file name for a key taken out of the rings: in the key folder's "backup/" (made
// 0700 when missing); "" when the folder cannot be made.
std::string KeyBackupFile(const PgpBridge& bridge, const std::string& fingerprint);

}  // namespace px::crypto
