// plumadex-cli receive: one receive run over the mail accounts (the mail service's first, then
// the POP3 accounts) into the spool, then the spool is filed.
#include "app/cli_commands.h"
#include "app/cli_receive_chain.h"

#include <QObject>

#include <cstdio>

#include "foundation/locations.h"
#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "incoming/blocked_senders.h"
#include "mailformat/spool.h"
#include "transport/accounts.h"
#include "transport/left_on_server.h"
#include "transport/pop3/thread_recv_pop.h"
#include "transport/receive_chain.h"
#include "transport/service_protocol.h"
#include "transport/service_receive.h"

namespace px::cli {

namespace {

constexpr const char* kUsage =
    "usage: plumadex-cli receive [--timeout SECONDS] [--grace SECONDS] [--min-rate BYTES] [--no-file] [--quiet]\n";

}  // namespace

int runReceive(const Args& args) {
  int timeoutMs = 180000;
  transport::pop3::Pop3Pace pace;
  bool quiet = false;
  bool file = true;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--timeout" && i + 1 < args.size()) {
      timeoutMs = std::max(1, std::atoi(args[++i].c_str())) * 1000;
    } else if (args[i] == "--grace" && i + 1 < args.size()) {
      pace.graceMs = std::max(0, std::atoi(args[++i].c_str())) * int64_t(1000);
    } else if (args[i] == "--min-rate" && i + 1 < args.size()) {
      pace.minBytesPerSecond = std::max(1, std::atoi(args[++i].c_str()));
    } else if (args[i] == "--no-file") {
      file = false;  // leave what arrived in the spool for the desk
    } else if (args[i] == "--quiet") {
      quiet = true;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  CliReceiveRun run("receive", timeoutMs, pace);
  Settings& settings = run.settings;
  transport::ThreadRecvChain& chain = *run.chain;

  QObject::connect(&chain, &transport::ThreadRecvChain::AccountFinished,
                   [&](int index, int status, const QString& error) {
                     if (error.isEmpty()) return;
                     PrintErr("plumadex-cli receive: %s: %s\n", chain.AccountName(index).c_str(),
                                  error.toStdString().c_str());
                   });
  transport::ChainReport report = chain.Run();
  // Refresh tokens an OAuth2 provider renewed replace the old ones.
  for (const auto& v : report.visits) {
    if (v.result.renewedSecret.empty()) continue;
    if (auto a = transport::ReadAccount(settings, v.account)) {
      a->password = v.result.renewedSecret;
      transport::WriteAccount(settings, *a, run.random);
    }
  }

  int status = 0;
  if (!report.connectFailures.empty()) {
    PrintErr("Cannot connect to %s. Please check external e-mail settings.\n",
                 report.connectFailures.c_str());
    status = 1;
  }
  if (!report.wrongPasswords.empty()) {
    PrintErr("The server refused the user name or password of %s. Please check external e-mail settings.\n",
             report.wrongPasswords.c_str());
    status = 1;
  }
  if (!report.receiveFailures.empty()) {
    PrintErr("An error occurred during communication with %s. Try connecting again.\n",
                 report.receiveFailures.c_str());
    status = 1;
  }
  if (!report.listSaveError.empty()) {
    PrintErr("plumadex-cli receive: %s\n", report.listSaveError.c_str());
    status = 1;
  }
  if (report.errorCode != 0) status = 1;
  if (report.errorCode == transport::teAuthorisation) {
    // The service refused the password: it is forgotten, as the desk does.
    settings.SetPassword("");
    if (const FileStatus st = settings.UpdateFile(); !st.ok())
      PrintErr("plumadex-cli receive: %s\n", st.message.c_str());
  }
  // What did arrive is filed whatever else failed.
  if (file && FileWaitingMail(quiet) != 0) status = 1;
  return status;
}

}  // namespace px::cli
