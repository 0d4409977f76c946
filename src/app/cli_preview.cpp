// plumadex-cli preview [ACCOUNT]: the mail waiting on the POP3 accounts, without downloading
// it (sizes from LIST, headers from TOP n 0). One line per message: account, key, sender,
// subject, date, size.
#include "app/cli_commands.h"

#include <cstdio>

#include "foundation/locations.h"
#include "foundation/settings.h"
#include "foundation/text_case.h"
#include "transport/accounts.h"
#include "transport/pop3/pop3_preview.h"

namespace px::cli {

int runPreview(const Args& args) {
  if (args.size() > 1) {
    PrintErr("plumadex-cli: usage: preview [ACCOUNT]\n");
    return 2;
  }
  Locations loc = ComputeLocations();
  Settings settings(loc.UserIni());
  int status = 0;
  size_t shown = 0, accounts = 0;
  for (const auto& a : transport::ReadAccounts(settings)) {
    if (a.IsService()) continue;
    if (!args.empty() ? !SameText(a.name, args[0]) : (!a.enabled || !a.IsComplete())) continue;
    ++accounts;
    auto r = transport::pop3::PreviewAccount(a, 30000);
    if (!r.ok) {
      PrintErr("plumadex-cli: %s: %s\n", a.name.c_str(), r.error.c_str());
      status = 1;
      continue;
    }
    for (const auto& row : r.rows) {
      std::printf("%s\n", ForConsole(row.account + "\t" + row.key + "\t" + row.from + "\t" + row.subject + "\t" +
                                     row.date + "\t" + transport::pop3::PreviewSizeText(row.size))
                              .c_str());
      ++shown;
    }
  }
  if (!args.empty() && accounts == 0) {
    PrintErr("plumadex-cli: no account is named %s\n", args[0].c_str());
    return 1;
  }
  if (shown == 0 && status == 0) std::printf("There are no new messages in your mailbox\n");
  return status;
}

}  // namespace px::cli
