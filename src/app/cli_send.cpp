// plumadex-cli send: one send run over the outgoing register, a line per message.
#include "app/cli_commands.h"
#include "app/cli_console.h"

#include <QCoreApplication>

#include "foundation/dates.h"
#include "foundation/locations.h"
#include "foundation/message_queue.h"
#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "store/index_file.h"
#include "crypto/pgp_setup.h"
#include "transport/pgp_crypto.h"
#include "transport/outgoing.h"
#include "transport/send_thread.h"
#include "transport/sent_stamp.h"
#include "transport/service_protocol.h"
#include "transport/smtp/smtp_route.h"

#include <cstdio>
#include <string>

namespace px::cli {

using namespace px::transport;

int runSend(const Args& args) {
  if (!args.empty()) {
    PrintErr("plumadex-cli: usage: send\n");
    return 2;
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  StderrPresenter presenter;
  MessageQueue messages(&presenter);
  PrintAsQueued(messages);
  Settings settings(loc.UserIni());
  store::IniRegistry registry;
  RandomSource random;
  std::vector<std::string> pgpNotices;
  std::unique_ptr<crypto::PgpBridge> pgp = crypto::OpenPgp(loc.dataRoot, &pgpNotices);
  for (const auto& n : pgpNotices) messages.QueueMessage(MessageKind::Warning, n);
  PgpCrypto crypto(*pgp);
  TPXIniBase sent(loc.SentIni());

  const std::string user = settings.ID();
  std::string password = UnscramblePassword(settings.Password());
  SmtpRouteSettings smtp = ReadSmtpRouteSettings(settings, {});
  if (user.empty() && smtp.servers.empty()) {
    PrintErr("plumadex-cli: no service user and no outgoing mail server is set up (plumadex-cli service "
                         "set --user ID, or plumadex-cli accounts smtp NAME --server HOST --user USER)\n");
    return 1;
  }

  SnapshotInputs in;
  in.sent = &sent;
  in.registry = &registry;
  in.random = &random;
  in.crypto = &crypto;
  in.trashFolder = loc.trash;
  in.ownFromAddress = OwnFromAddress(settings);
  SendSnapshot snap = TakeSendSnapshot(in);
  for (const auto& w : snap.warnings) messages.QueueMessage(MessageKind::Warning, w);
  if (!snap.saveError.ok()) {
    messages.QueueMessage(MessageKind::Error, snap.saveError.message);
    return 1;
  }
  int status = snap.warnings.empty() ? 0 : 1;
  bool needService = false;
  for (const auto& m : snap.messages) needService = needService || RouteOf(m, smtp) == SendRoute::Service;
  if (snap.messages.empty()) {
    std::printf("nothing to send\n");
  } else if (needService && user.empty()) {
    PrintErr("plumadex-cli: no service user is set up (plumadex-cli service set --user ID)\n");
    return 1;
  } else if (needService && password.empty()) {
    PrintErr("plumadex-cli: no password is saved (plumadex-cli service set --password-stdin)\n");
    return 1;
  } else {
    MakeTempFolder(loc);
    SendJob job;
    job.messages = snap.messages;
    job.service.http = ServiceHttpSettings(loc);
    job.service.host = ServiceHost(settings);
    job.service.user = user;
    job.service.password = password;
    job.service.ownFromAddress = in.ownFromAddress;
    job.service.tempFolder = loc.tempFolder;
    job.service.noTags = settings.NoTags();
    job.withdrawKey = needService && settings.CheckPGP() && !crypto.Available();
    job.smtp = std::move(smtp);
    job.smtp.tempFolder = loc.tempFolder;
    std::fill(password.begin(), password.end(), '\0');

    SendContext ctx;
    ctx.sent = &sent;
    ctx.registry = &registry;
    ctx.random = &random;
    ctx.crypto = &crypto;
    ctx.messages = &messages;
    ctx.dataRoot = loc.dataRoot;
    SendRun run(ctx);
    // The command's event loop runs until the worker's last report has come in.
    QObject::connect(&run, &SendRun::finished, QCoreApplication::instance(), &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (run.Start(std::move(job))) QCoreApplication::exec();
    if (needService && settings.CheckPGP()) settings.ClearCheckPGP();
    RemoveTempFolder(loc);

    const auto& reports = run.Reports();
    for (size_t i = 0; i < reports.size(); ++i) {
      const OutgoingMessage& m = run.Messages()[i];
      const std::string title = m.parts[0].title.empty() ? m.parts[0].fileName : m.parts[0].title;
      switch (reports[i].state) {
        case MessageReport::Sent:
          std::printf("sent %s \"%s\" (%zu part%s)\n", m.base.c_str(), title.c_str(), m.parts.size(),
                      m.parts.size() == 1 ? "" : "s");
          if (!reports[i].text.empty() || !reports[i].notice.empty()) status = 1;
          break;
        case MessageReport::Failed:
          std::printf("failed %s \"%s\": %s\n", m.base.c_str(), title.c_str(), reports[i].text.c_str());
          status = 1;
          break;
        case MessageReport::Waiting:
          std::printf("not sent %s \"%s\": the run stopped first\n", m.base.c_str(), title.c_str());
          status = 1;
          break;
      }
    }
    if (!run.Stopped()) {
      const std::string notice = TransferErrorNotice(run.ErrorCode());
      if (!notice.empty()) messages.QueueMessage(MessageKind::Error, notice);
    }
  }
  // No transfer timer here: the bookkeeping of what was sent runs at once.
  const CommitResult commit = CommitSentMail(sent, registry, NowDateTime(), crypto.Available());
  if (!commit.saveError.ok()) {
    messages.QueueMessage(MessageKind::Error, commit.saveError.message);
    status = 1;
  }
  return status;
}

}  // namespace px::cli
