// plumadex-cli preview [ACCOUNT]: the mail waiting on the service and the POP3 accounts, without
// downloading it (the service's listing; LIST, UIDL and TOP n 0), as the desk's preview lists it.
// One line per message: account, key, sender, subject, received, size.
#include "app/cli_commands.h"
#include "app/cli_receive_chain.h"

#include <cstdio>

#include <QDateTime>

#include "foundation/dates.h"
#include "foundation/text_case.h"
#include "incoming/mail_preview.h"
#include "transport/receive_chain.h"

namespace px::cli {

int runPreview(const Args& args) {
  if (args.size() > 1) {
    PrintErr("plumadex-cli: usage: preview [ACCOUNT]\n");
    return 2;
  }
  CliReceiveRun run("preview", 30000);
  transport::ThreadRecvChain& chain = *run.chain;
  size_t named = 0;
  for (int i = 0; i < chain.LinkCount(); ++i) {
    transport::PreviewOrder order;
    order.mode = transport::PreviewOrder::Mode::Listing;
    if (!args.empty()) {
      // Only the named account is visited (the others get an action without rows).
      const bool it = SameText(chain.AccountName(i), args[0]);
      if (!it) order.mode = transport::PreviewOrder::Mode::Receive;
      else chain.SetTicked(i, true);
      named += it;
    }
    chain.SetPreview(i, std::move(order));
  }
  if (!args.empty() && named == 0) {
    PrintErr("plumadex-cli: no account is named %s\n", args[0].c_str());
    return 1;
  }
  incoming::MailPreviewList list;
  QObject::connect(&chain, &transport::ThreadRecvChain::previewListed,
                   [&list](const transport::TMailPreviewItem& item) { list.Listed(item); });
  QObject::connect(&chain, &transport::ThreadRecvChain::AccountFinished,
                   [&](int index, int, const QString& error) {
                     if (!error.isEmpty())
                       PrintErr("plumadex-cli: %s: %s\n", chain.AccountName(index).c_str(), error.toStdString().c_str());
                   });
  const transport::ChainReport report = chain.Run();
  for (const auto& account : list.Accounts())
    for (const auto* row : list.Rows(account)) {
      const std::string when =
          row->date == 0 ? std::string() : DateTimeToQDateTime(row->date).toString("yyyy-MM-dd HH:mm").toStdString();
      std::printf("%s\n", ForConsole(row->account + "\t" + row->fileName + "\t" + incoming::PreviewSender(*row) + "\t" +
                                     incoming::PreviewSubject(*row) + "\t" + when + "\t" + incoming::PreviewSize(row->size))
                              .c_str());
    }
  const bool failed = !report.connectFailures.empty() || !report.receiveFailures.empty() ||
                      !report.wrongPasswords.empty() || report.errorCode != 0;
  if (list.Empty() && !failed) std::printf("There are no new messages in your mailbox\n");
  return failed ? 1 : 0;
}

}  // namespace px::cli
