// plumadex-cli receive: one receive run (the mail service's account, then the other accounts),
// then the filing of what arrived. A line per message filed; non-zero when the run failed.
#include "app/cli_commands.h"

#include <cstdio>
#include <memory>
#include <string>

#include "foundation/locations.h"
#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "incoming/blocked_senders.h"
#include "mailformat/spool.h"
#include "transport/left_on_server.h"
#include "transport/receive_chain.h"
#include "transport/service_protocol.h"
#include "transport/service_receive.h"

namespace px::cli {

int runReceive(const Args& args) {
  bool quiet = false;
  for (const auto& a : args) {
    if (a == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "plumadex-cli: usage: receive [--quiet]\n");
      return 2;
    }
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  Settings settings(loc.UserIni());
  RandomSource random;
  mailformat::MailSpool spool(loc.inbox, random);
  transport::LeftOnServerList leftOnServer(loc.dataRoot + "msgid.lst");
  incoming::BlockedSenders blocked;
  blocked.Load(loc.dataRoot + std::string(incoming::kBlockedSendersFile));

  transport::ChainSetup setup;
  setup.spool = &spool;
  setup.leftOnServer = &leftOnServer;
  setup.isBlocked = [&blocked](std::string_view key) { return blocked.IsBlocked(key); };
  transport::ThreadRecvChain chain(setup);
  if (!settings.ID().empty()) {
    transport::ServiceAccount account;
    account.user = settings.ID();
    account.password = UnscramblePassword(settings.Password());
    account.host = transport::ServiceHost(settings);
    account.http = transport::ServiceHttpSettings(loc);
    account.keepOnServer = settings.KeepOnServer();
    chain.AddLink(std::make_unique<transport::ServiceReceiveLink>(std::move(account)));
  }
  int status = 0;
  if (chain.LinkCount() == 0) {
    std::fprintf(stderr, "plumadex-cli: no mail account is set up\n");
    status = 1;
  } else {
    const transport::ChainReport& r = chain.Run();
    for (const auto& v : r.visits)
      if (v.visited && !v.result.error.empty())
        std::fprintf(stderr, "plumadex-cli: %s: %s\n", v.account.c_str(), v.result.error.c_str());
    if (!r.listSaveError.empty()) std::fprintf(stderr, "plumadex-cli: %s\n", r.listSaveError.c_str());
    if (r.errorCode != 0 || !r.connectFailures.empty() || !r.receiveFailures.empty() || !r.listSaveError.empty())
      status = 1;
    if (r.errorCode == transport::teAuthorisation) {
      // A refused password is forgotten, as the desk does.
      settings.SetPassword("");
      settings.UpdateFile();
    }
  }
  // What did arrive is filed even when the run failed part-way.
  const int filing = FileWaitingMail(quiet);
  return status != 0 ? status : filing;
}

}  // namespace px::cli
