#include "app/cli_receive_chain.h"

#include <string>

#include "app/cli_commands.h"
#include "foundation/password.h"
#include "transport/accounts.h"
#include "transport/imap/thread_recv_imap.h"
#include "transport/service_protocol.h"
#include "transport/service_receive.h"

namespace px::cli {

namespace {
Locations MadeLocations() {
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  return loc;
}
}  // namespace

CliReceiveRun::CliReceiveRun(const char* command, int timeoutMs, transport::pop3::Pop3Pace pace)
    : loc(MadeLocations()),
      settings(loc.UserIni()),
      spool(loc.inbox, random),
      leftOnServer(loc.dataRoot + "msgid.lst") {
  blocked.Load(loc.dataRoot + std::string(incoming::kBlockedSendersFile));
  transport::ChainSetup setup;
  setup.spool = &spool;
  setup.leftOnServer = &leftOnServer;
  if (blocked.Size() > 0) setup.isBlocked = [this](std::string_view key) { return blocked.IsBlocked(key); };
  setup.askPassword = [command](const std::string& account) -> std::optional<std::string> {
    PrintErr("plumadex-cli %s: %s has no saved password: skipped\n", command, account.c_str());
    return std::nullopt;
  };
  chain = std::make_unique<transport::ThreadRecvChain>(setup);
  if (!settings.ID().empty()) {
    transport::ServiceAccount account;
    account.user = settings.ID();
    account.password = UnscramblePassword(settings.Password());
    account.host = transport::ServiceHost(settings);
    account.http = transport::ServiceHttpSettings(loc);
    account.keepOnServer = settings.KeepOnServer();
    chain->AddLink(std::make_unique<transport::ServiceReceiveLink>(std::move(account)));
  }
  transport::imap::AddExternalLinks(*chain, transport::ReadAccounts(settings), timeoutMs, pace);
}

}  // namespace px::cli
