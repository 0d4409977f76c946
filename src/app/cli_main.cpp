// plumadex-cli: the desk's core, headless, for scripts and benchmarks.
#include "app/cli_commands.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Command {
  const char* name;
  int (*run)(const px::cli::Args&);
  const char* usage;
};

const Command kCommands[] = {
    {"list", px::cli::RunList, "list FOLDER [--sort N]   print the folder's documents in listing order"},
    {"split", px::cli::runSplit, "split MESSAGE SPOOLDIR [--trust network|receiver|trusted] [--no-sync]   split a raw message into part pairs"},
    {"extract", px::cli::runExtract, "extract MESSAGE   print the plain text of a message"},
    {"copy", px::cli::runCopy, "copy PATH... FOLDER (or --into FOLDER PATH...) [--replace] [--quiet]   copy documents with their index entries"},
    {"move", px::cli::runMove, "move PATH... FOLDER (or --into FOLDER PATH...) [--replace] [--quiet]   move documents with their index entries"},
    {"trash", px::cli::runTrash, "trash PATH... [--quiet]   move documents into the trash"},
    {"delete", px::cli::runDelete, "delete PATH...   delete documents or folders for good"},
    {"rename", px::cli::runRename, "rename PATH NEW-TITLE   rename a document or folder after a new title"},
    {"accounts", px::cli::runAccounts, "accounts list | add NAME --server HOST[:PORT] --user USER [--password-stdin] [--keep] [--security tls|starttls|plain] [--imap [--folder NAME]...] [--oauth2 PROVIDER --client-id ID] | signin NAME | remove NAME | test NAME | smtp NAME --server HOST[:PORT] --user USER [--password-stdin] [--security tls|starttls|plain] [--from ADDRESS...]   manage the external mail accounts and their outgoing servers"},
    {"receive", px::cli::runReceive, "receive [--timeout SECONDS] [--grace SECONDS] [--min-rate BYTES] [--no-file] [--quiet]   fetch the mail of the service and every enabled account, then file it (a POP3 server slower than --min-rate bytes a second, after --grace seconds, is given up on)"},
    {"store", px::cli::RunStore, "store FILE... --into FOLDER [--title T] [--move] [--replace]   file files as new documents"},
    {"service", px::cli::runService, "service set --user ID [--server HOST[:PORT]] [--password-stdin]   set up the mail service account"},
    {"outbox", px::cli::runOutbox, "outbox PATH... --to ADDRESSES [--encrypt]   queue documents as outgoing mail (encrypted to the recipients' keys)"},
    {"send", px::cli::runSend, "send   send the queued mail: to service users through the service, to others through the sender's outgoing server (PLUMADEX_SERVICE_CA and PLUMADEX_SMTP_CA name other trusted roots)"},
    {"file", px::cli::runFile, "file [MESSAGE...] [--quiet]   file the mail waiting in the spool (after putting the raw MESSAGE files there)"},
    {"refile-quarantine", px::cli::runRefileQuarantine, "refile-quarantine [--quiet]   put the messages kept aside in the data folder's Quarantine back into the spool and file them again"},
    {"rules", px::cli::runRules, "rules list | add NAME (--move FOLDER | --copy FOLDER | --delete) [--all] [--disabled] CONDITION... | remove NAME | apply FOLDER [--dry-run]   the mail sorting rules (CONDITION: \"FIELDS < VALUE\" includes, \"FIELDS > VALUE\" does not; FIELDS of FTCBSXA)"},
    {"preview", px::cli::runPreview, "preview [ACCOUNT]   list the mail waiting on the POP3 accounts without downloading it (account, key, sender, subject, date, size)"},
    {"import-contacts", px::cli::runImportContacts, "import-contacts [--on-shared=skip|merge|keep-both] FILE...   add the cards of vCard files to Contacts, each card its own contact"},
    {"import", px::cli::runImport, "import mbox|maildir|thunderbird|evolution|netscape|dbx|pst|bookmarks|vcard|ldif [PATH] [--into FOLDER] [--dry-run]   bring mail or contacts from other programs (mail lands in FOLDER, default Imported/SOURCE, keeping the folders)"},
    {"keys", px::cli::runKeys, "keys list | import FILE|- | export [ADDRESS|FINGERPRINT] | publish | withdraw   the encryption keys: list, take keys from another program (gpg --export), give out a public key, publish or withdraw your own key on the key server"},
    {"search", px::cli::runSearch, "search [--in FOLDER] [--scan] [--whole-words] [--case] [--any] QUERY...   print the documents the query finds: from the index once built (words, \"phrases\", from:, to:, subject:, date:A..B, AND/OR/NOT), else (or with --scan) by scanning the tree for the words"},
    {"index", px::cli::runIndex, "index [--rebuild]   build the search index of the documents or bring it up to date"},
    {"where", px::cli::runWhere, "where   print the program folder, data root, documents, contacts and spool folders"},
};

int usage(FILE* out) {
  std::fprintf(out, "usage: plumadex-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const auto& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
  std::fprintf(out, "\nPLUMADEX_HOME=DIR puts the data root at DIR/data and the documents at DIR/Documents.\n");
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  // Warnings of the core (an index that cannot be read) go out as the commands' own messages do.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
    px::cli::PrintErr("plumadex-cli: %s\n", msg.toLocal8Bit().constData());
  });
  if (argc < 2) return usage(stderr);
  std::string cmd = argv[1];
  if (cmd == "-h" || cmd == "--help" || cmd == "help") return usage(stdout);
  px::cli::Args args(argv + 2, argv + argc);
  for (const auto& c : kCommands)
    if (cmd == c.name) return c.run(args);
  px::cli::PrintErr("plumadex-cli: unknown command \"%s\"\n", cmd.c_str());
  return usage(stderr);
}
