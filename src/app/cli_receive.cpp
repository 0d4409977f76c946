// plumadex-cli receive: one receive run over the mail accounts, into the spool.
#include "app/cli_commands.h"

#include <QObject>

#include <cstdio>
#include <set>

#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "foundation/text_case.h"
#include "mailformat/spool.h"
#include "store/list_file.h"
#include "transport/accounts.h"
#include "transport/left_on_server.h"
#include "transport/pop3/thread_recv_pop.h"
#include "transport/receive_chain.h"

namespace px::cli {

namespace {

constexpr const char* kUsage = "usage: plumadex-cli receive [--timeout SECONDS] [--quiet]\n";

}  // namespace

int runReceive(const Args& args) {
  int timeoutMs = 180000;
  bool quiet = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--timeout" && i + 1 < args.size()) {
      timeoutMs = std::max(1, std::atoi(args[++i].c_str())) * 1000;
    } else if (args[i] == "--quiet") {
      quiet = true;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  Settings settings(loc.UserIni());
  RandomSource random;
  mailformat::MailSpool spool(loc.inbox, random);
  transport::LeftOnServerList leftOnServer(loc.dataRoot + "msgid.lst");

  std::set<std::string> blocked;
  for (const auto& line : store::ReadListFile(loc.dataRoot + "blacklist.lst"))
    if (!line.empty()) blocked.insert(FoldCase(line));

  transport::ChainSetup setup;
  setup.spool = &spool;
  setup.leftOnServer = &leftOnServer;
  if (!blocked.empty())
    setup.isBlocked = [&blocked](std::string_view key) { return blocked.count(std::string(key)) > 0; };
  setup.askPassword = [](const std::string& account) -> std::optional<std::string> {
    std::fprintf(stderr, "plumadex-cli receive: %s has no saved password: skipped\n", account.c_str());
    return std::nullopt;
  };
  transport::ThreadRecvChain chain(setup);
  transport::pop3::AddPop3Links(chain, transport::ReadAccounts(settings), timeoutMs);

  QObject::connect(&chain, &transport::ThreadRecvChain::accountFinished,
                   [&](int index, int status, const QString& error) {
                     if (error.isEmpty()) return;
                     std::fprintf(stderr, "plumadex-cli receive: %s: %s\n", chain.AccountName(index).c_str(),
                                  error.toStdString().c_str());
                   });
  if (!quiet)
    QObject::connect(&chain, &transport::ThreadRecvChain::messageSpooled, [](const QString& path) {
      std::printf("received %s\n", path.toStdString().c_str());
    });
  transport::ChainReport report = chain.Run();

  int status = 0;
  if (!report.connectFailures.empty()) {
    std::fprintf(stderr, "Cannot connect to %s. Please check external e-mail settings.\n",
                 report.connectFailures.c_str());
    status = 1;
  }
  if (!report.receiveFailures.empty()) {
    std::fprintf(stderr, "An error occurred during communication with %s. Try connecting again.\n",
                 report.receiveFailures.c_str());
    status = 1;
  }
  if (!report.listSaveError.empty()) {
    std::fprintf(stderr, "plumadex-cli receive: %s\n", report.listSaveError.c_str());
    status = 1;
  }
  if (report.errorCode != 0) status = 1;
  if (!quiet) std::printf("%d message(s) received\n", report.messagesSpooled);
  return status;
}

}  // namespace px::cli
