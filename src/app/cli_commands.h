#pragma once
// The subcommands of plumadex-cli. Each lives in its own cli_<name>.cpp and returns the
// process exit status; args holds the arguments after the subcommand's name.
#include <string>
#include <vector>

namespace px::cli {

using Args = std::vector<std::string>;

int runList(const Args& args);
int runSplit(const Args& args);
int runExtract(const Args& args);
int runCopy(const Args& args);
int runMove(const Args& args);
int runTrash(const Args& args);
int runDelete(const Args& args);
int runRename(const Args& args);
int runStore(const Args& args);
int runAccounts(const Args& args);
int runReceive(const Args& args);
int runService(const Args& args);
int runOutbox(const Args& args);
int runSend(const Args& args);
int runFile(const Args& args);

// Files what waits in the mail spool, printing a line per message filed; the exit status.
int FileWaitingMail(bool quiet);
int runWhere(const Args& args);
int runImportContacts(const Args& args);
// "accounts smtp NAME ...": args start with NAME.
int runAccountsSmtp(const Args& args);

}  // namespace px::cli
