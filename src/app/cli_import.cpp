// plumadex-cli import SOURCE [PATH] [--into FOLDER] [--dry-run]: brings mail, contacts and
// accounts from other programs (mbox, maildir, thunderbird, evolution, netscape, dbx, vcard, ldif,
// bookmarks; pst says why it cannot). Mail goes through the mail spool and is filed at once,
// into FOLDER (relative to the documents folder; default Imported/<source>) with the source's
// folder tree below it. A source imported before adds only what is new.
#include "app/cli_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "contacts/contact_folder.h"
#include "foundation/ini_file.h"
#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "import/import_run.h"
#include "import/import_source.h"
#include "import/bookmarks.h"
#include "import/contact_sources.h"
#include "import/foreign_accounts.h"
#include "import/import_model.h"
#include "import/ldif.h"
#include "mailformat/pseudo_headers.h"
#include "mailformat/spool.h"

namespace px::cli {

namespace {

std::atomic<bool> gCancel{false};

void OnInterrupt(int) { gCancel = true; }

constexpr const char* kSources = "mbox, maildir, thunderbird, evolution, dbx, netscape, pst, bookmarks, vcard or ldif";

int Usage() {
  PrintErr("usage: plumadex-cli import SOURCE [PATH] [--into FOLDER] [--dry-run]\n  SOURCE: %s\n", kSources);
  return 2;
}

// Sources this program knows but cannot read, and why.
const char* Unavailable(const std::string& kind) {
  if (kind == "pst")
    return "Outlook .pst and .ost files cannot be read by this build (it has no reader of the Outlook store); "
           "export the folders from Outlook as mbox, or as vCard and LDIF for the contacts";
  if (kind == "wab") return "the Windows Address Book exists only on Windows; export it as vCard or LDIF";
  return nullptr;
}

// The contacts step of a source: what it adds, printed by the caller.
struct CardTotals {
  int contacts = 0, lists = 0, known = 0, empty = 0, read = 0;
  std::vector<import::SkippedItem> skipped;
  std::vector<std::string> errors;
  void Add(const import::ContactBookOutcome& o) {
    contacts += o.contacts;
    lists += o.lists;
    known += o.known;
    empty += o.empty;
    read += o.read;
    skipped.insert(skipped.end(), o.skipped.begin(), o.skipped.end());
    errors.insert(errors.end(), o.errors.begin(), o.errors.end());
  }
};

CardTotals ImportBooks(const std::string& kind, const std::vector<std::string>& books, bool dryRun) {
  CardTotals t;
  if (books.empty()) return t;
  const Locations loc = ComputeLocations();
  if (dryRun) {
    for (const auto& b : books) {
      import::ContactBookRead r = import::ReadContactBook(kind, b);
      t.read += r.result.people;
      t.skipped.insert(t.skipped.end(), r.skipped.begin(), r.skipped.end());
    }
    return t;
  }
  MakeDataFolders(loc);
  store::IniRegistry registry;
  RandomSource random;
  import::ImportContext context;
  context.contactsFolder = loc.contacts;
  context.registry = &registry;
  context.random = &random;
  // A card whose address a contact already has is left out: a second import adds nothing.
  for (const auto& b : books) t.Add(import::ImportContactBook(kind, b, context));
  return t;
}

void PrintCardLines(const CardTotals& t) {
  if (t.known) std::printf("  %d card(s): already in Contacts\n", t.known);
  if (t.empty) std::printf("  %d card(s): empty\n", t.empty);
  for (const auto& k : t.skipped) std::printf("  %s: %s\n", ForConsole(import::Printable(k.what)).c_str(), ForConsole(k.reason).c_str());
  for (const std::string& e : t.errors) std::printf("  %s\n", ForConsole(e).c_str());
}

// FOLDER as given: relative to the documents folder, or a path inside it.
std::optional<std::string> TargetOf(const std::string& into, const std::string& documents) {
  std::string t = into;
  if (!t.empty() && t[0] == '/') {
    const std::string docs = WithSlash(documents);
    std::string withSlash = WithSlash(t);
    if (withSlash.compare(0, docs.size(), docs) != 0) return std::nullopt;
    t = withSlash.substr(docs.size());
  }
  return mailformat::SafeFolderValue(t);
}

int ImportCards(const std::string& kind, const std::string& path, bool dryRun) {
  const CardTotals t = ImportBooks(kind, {path}, dryRun);
  if (dryRun) {
    std::printf("%d contact(s) would be imported from %s (dry run)\n", t.read, path.c_str());
    PrintCardLines(t);
    return 0;
  }
  std::printf("Imported: 0 messages, %d contact(s), %d group(s), 0 accounts\n", t.contacts, t.lists);
  std::printf("Skipped: %zu\n", static_cast<size_t>(t.known + t.empty) + t.skipped.size() + t.errors.size());
  PrintCardLines(t);
  return t.errors.empty() && (t.skipped.empty() || t.read > 0) ? 0 : 1;
}

}  // namespace

int runImport(const Args& args) {
  std::string kind, path, into;
  bool dryRun = false, haveInto = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--dry-run") {
      dryRun = true;
    } else if (a == "--into") {
      if (i + 1 >= args.size()) return Usage();
      into = args[++i];
      haveInto = true;
    } else if (a.rfind("--into=", 0) == 0) {
      into = a.substr(7);
      haveInto = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage();
    } else if (kind.empty()) {
      kind = a;
    } else if (path.empty()) {
      path = a;
    } else {
      return Usage();
    }
  }
  if (kind.empty()) return Usage();
  if (const char* why = Unavailable(kind)) {
    PrintErr("import %s: %s\n", kind.c_str(), why);
    return 2;
  }
  if (kind == "bookmarks") {
    if (path.empty()) {
      PrintErr("import bookmarks: give the bookmark file (bookmarks.html, bookmark.htm)\n");
      return 2;
    }
    const Locations loc = ComputeLocations();
    std::string target = "Imported\\bookmarks";
    if (haveInto) {
      auto t = TargetOf(into, loc.documents);
      if (!t || t->empty()) {
        PrintErr("import: --into must name a folder inside the documents folder %s\n", loc.documents.c_str());
        return 2;
      }
      target = *t;
    }
    for (char& c : target)
      if (c == '\\') c = '/';
    if (!dryRun) MakeDataFolders(loc);
    store::IniRegistry registry;
    const import::BookmarkResult b = import::ImportBookmarks(path, WithSlash(loc.documents) + target + "/", registry, dryRun);
    std::printf("%s: %d bookmark(s) in %d new folder(s) into %s%s/\n", dryRun ? "Would import" : "Imported", b.bookmarks,
                b.folders, loc.documents.c_str(), ForConsole(target).c_str());
    std::printf("Skipped: %zu\n", static_cast<size_t>(b.known) + b.skipped.size());
    if (b.known) std::printf("  %d bookmark(s): already there\n", b.known);
    for (const auto& k : b.skipped) std::printf("  %s: %s\n", ForConsole(import::Printable(k.what)).c_str(), ForConsole(k.reason).c_str());
    return b.skipped.empty() || b.bookmarks > 0 ? 0 : 1;
  }
  if (kind == "vcard" || kind == "ldif") {
    if (path.empty()) {
      PrintErr("import %s: give the file to import\n", kind.c_str());
      return 2;
    }
    return ImportCards(kind, path, dryRun);
  }
  std::unique_ptr<import::ImportSource> source;
  if (!path.empty()) {
    source = import::MakeSource(kind, path);
    if (!source) {
      PrintErr("import: unknown source \"%s\" (%s)\n", kind.c_str(), kSources);
      return 2;
    }
  } else {
    if (!import::MakeSource(kind, "")) {
      PrintErr("import: unknown source \"%s\" (%s)\n", kind.c_str(), kSources);
      return 2;
    }
    source = import::DiscoverSource(import::DiscoveryPlaces::FromEnvironment(), kind);
    if (!source) {
      PrintErr("import %s: none found in the usual places; give its PATH\n", kind.c_str());
      return 1;
    }
  }

  Locations loc = ComputeLocations();
  import::ImportOptions options;
  options.dryRun = dryRun;
  if (haveInto) {
    auto t = TargetOf(into, loc.documents);
    if (!t || t->empty()) {
      PrintErr("import: --into must name a folder inside the documents folder %s\n", loc.documents.c_str());
      return 2;
    }
    options.target = *t;
  } else {
    options.target = import::DefaultTarget(kind);
  }
  if (!dryRun) MakeDataFolders(loc);

  std::string shown = options.target;
  for (char& c : shown)
    if (c == '\\') c = '/';
  std::printf("Importing %s into %s%s/%s\n", ForConsole(source->title()).c_str(), loc.documents.c_str(),
              ForConsole(shown).c_str(), dryRun ? " (dry run)" : "");
  std::fflush(stdout);
  const bool tty = ::isatty(STDERR_FILENO);
  auto previous = std::signal(SIGINT, OnInterrupt);
  RandomSource random;
  mailformat::MailSpool spool(loc.inbox, random);
  import::ImportRun run(spool, loc.dataRoot + "Import/");
  import::ImportSummary s = run.Run(*source, options, gCancel, [tty](const import::ImportProgress& p) {
    if (!tty) return;
    PrintErr("%llu messages processed (%llu already imported)  %s", static_cast<unsigned long long>(p.messages),
             static_cast<unsigned long long>(p.duplicates), p.folder.substr(0, 60).c_str());
    std::fputs("\x1b[K\r", stderr);
  });
  std::signal(SIGINT, previous);
  if (tty) std::fputs("\n", stderr);

  int status = 0;
  if (!s.ok()) {
    PrintErr("import: %s\n", s.error.c_str());
    status = 1;
  }
  // The spooled messages are filed now (also after a cancel or an error: they are safe mail).
  if (!dryRun && s.messages > 0 && FileWaitingMail(true) != 0) status = 1;

  // A profile brings its address books and its accounts too.
  CardTotals cards;
  int accounts = 0;
  std::vector<import::SkippedItem> accountSkips;
  if (!s.cancelled && kind == "thunderbird") {
    const std::string profile = source->root();
    const auto books = import::ThunderbirdAddressBooks(profile);
    cards = ImportBooks("thunderbird", books, dryRun);
    std::vector<std::string> addresses;
    for (const auto& a : import::ThunderbirdAccounts(profile)) addresses.push_back(a.address);
    if (dryRun) {
      for (const auto& a : addresses)
        if (!import::IsSafeAccountAddress(a)) accountSkips.push_back({a, import::kRefusedAccount});
        else ++accounts;
    } else if (!addresses.empty()) {
      Settings settings(loc.UserIni());
      accounts = import::AddForeignAccounts(settings, addresses, accountSkips);
    }
  } else if (!s.cancelled && kind == "evolution") {
    std::string books = WithSlash(path.empty() ? source->root() : path);
    for (const char* up : {"mail/local/", "local/"})
      if (books.size() > std::strlen(up) && books.compare(books.size() - std::strlen(up), std::strlen(up), up) == 0)
        books.resize(books.size() - std::strlen(up));
    books += "addressbook/";
    struct stat st;
    if (::stat(books.c_str(), &st) == 0) cards = ImportBooks("evolution", {books}, dryRun);
  }
  if (!cards.errors.empty()) status = 1;

  std::printf("%s: %llu message(s) in %llu folder(s), %d contact(s), %d account(s)%s\n",
              dryRun ? "Would import" : "Imported", static_cast<unsigned long long>(s.messages),
              static_cast<unsigned long long>(s.folders), dryRun ? cards.read : cards.contacts, accounts,
              s.cancelled ? " (cancelled)" : "");
  std::printf("Skipped: %llu\n", static_cast<unsigned long long>(s.duplicates + s.deleted + s.skipped.size() +
                                                                 accountSkips.size() + cards.skipped.size() +
                                                                 static_cast<size_t>(cards.known + cards.empty)));
  if (s.duplicates) std::printf("  %llu message(s): already imported\n", static_cast<unsigned long long>(s.duplicates));
  if (s.deleted) std::printf("  %llu message(s): deleted in their mailbox\n", static_cast<unsigned long long>(s.deleted));
  for (const auto& k : s.skipped) std::printf("  %s: %s\n", ForConsole(import::Printable(k.what)).c_str(), ForConsole(k.reason).c_str());
  for (const auto& k : accountSkips) std::printf("  %s: %s\n", ForConsole(import::Printable(k.what)).c_str(), ForConsole(k.reason).c_str());
  PrintCardLines(cards);
  if (s.cancelled) status = 1;
  return status;
}

}  // namespace px::cli
