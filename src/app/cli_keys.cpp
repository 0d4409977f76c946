// plumadex-cli keys: the program's own key rings.
#include "app/cli_commands.h"

#include "crypto/pgp_setup.h"
#include "foundation/locations.h"
#include "foundation/password.h"
#include "foundation/settings.h"
#include "transport/key_exchange.h"
#include "transport/service_protocol.h"

#include <QDateTime>
#include <QTimeZone>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>

namespace px::cli {

namespace {

constexpr const char* kUsage =
    "usage: plumadex-cli keys list | import FILE|- | export [ADDRESS|FINGERPRINT] | publish | withdraw\n";

bool ReadInput(const std::string& path, std::string* out) {
  if (path == "-") {
    std::ostringstream s;
    s << std::cin.rdbuf();
    *out = s.str();
    return true;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

int runKeys(const Args& args) {
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  Settings settings(loc.UserIni());
  std::vector<std::string> notices;
  std::unique_ptr<crypto::PgpBridge> pgp = crypto::OpenPgp(loc.dataRoot, &notices);
  for (const auto& n : notices) PrintErr("plumadex-cli keys: %s\n", n.c_str());
  if (!pgp->Available()) {
    PrintErr("plumadex-cli keys: encryption is not available: %s\n", pgp->ReasonText().c_str());
    return 1;
  }
  const std::string& what = args[0];
  if (what == "list" && args.size() == 1) {
    std::set<std::string> pairs;
    for (const auto& s : pgp->ListKeys(true)) pairs.insert(s.fingerprint);
    for (const crypto::KeyInfo& k : pgp->ListKeys()) {
      const bool secret = pairs.count(k.fingerprint) > 0;
      std::string state = k.revoked ? "revoked" : k.expired ? "expired" : k.disabled ? "disabled" : k.invalid ? "invalid"
                                                                                                  : "valid";
      const std::string created =
          QDateTime::fromSecsSinceEpoch(k.created, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd")).toStdString();
      std::printf("%s  %s  %s  %s%s  %s\n", k.fingerprint.c_str(), created.c_str(), secret ? "pair" : "pub ",
                  state.c_str(), k.canEncrypt ? "" : " (cannot encrypt)", ForConsole(k.userId).c_str());
    }
    return 0;
  }
  if (what == "import" && args.size() == 2) {
    std::string data;
    if (!ReadInput(args[1], &data)) {
      PrintErr("plumadex-cli keys: cannot read %s\n", args[1].c_str());
      return 1;
    }
    const crypto::ImportOutcome r = pgp->Import(data);
    if (!r.status.ok()) {
      PrintErr("plumadex-cli keys: %s\n", r.status.Message().c_str());
      return 1;
    }
    for (const auto& f : r.fingerprints) std::printf("%s\n", f.c_str());
    for (const auto& f : r.refused)
      PrintErr("plumadex-cli keys: the secret key %s is protected by a passphrase; only its public key was taken\n",
               f.c_str());
    return 0;
  }
  if (what == "export" && args.size() <= 2) {
    const std::string who = args.size() == 2 ? args[1] : transport::OwnKeyAddress(settings.ID());
    std::string armoured;
    const crypto::PgpStatus s = pgp->ExportPublic(who, &armoured);
    if (!s.ok()) {
      PrintErr("plumadex-cli keys: %s\n", s.Message().c_str());
      return 1;
    }
    std::fwrite(armoured.data(), 1, armoured.size(), stdout);
    return 0;
  }
  if ((what == "publish" || what == "withdraw") && args.size() == 1) {
    transport::KeyServerAccess a;
    a.http = transport::ServiceHttpSettings(loc);
    a.host = transport::ServiceHost(settings);
    a.user = settings.ID();
    a.password = UnscramblePassword(settings.Password());
    a.name = settings.Name();
    const transport::KeyExchangeOutcome o =
        what == "publish" ? transport::PublishOwnKey(*pgp, a) : transport::WithdrawOwnKey(*pgp, a);
    PrintErr("plumadex-cli keys: %s\n", o.text.c_str());
    return o.done ? 0 : 1;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace px::cli
