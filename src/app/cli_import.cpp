// plumadex-cli import SOURCE [PATH] [--into FOLDER] [--dry-run]: brings mail (mbox, maildir) or
// contacts (vcard) from other programs. Mail goes through the mail spool and is filed at once,
// into FOLDER (relative to the documents folder; default Imported/<source>) with the source's
// folder tree below it. A source imported before adds only what is new.
#include "app/cli_commands.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>

#include "contacts/contact_folder.h"
#include "foundation/ini_file.h"
#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "import/import_run.h"
#include "import/import_source.h"
#include "import/ldif.h"
#include "mailformat/pseudo_headers.h"
#include "mailformat/spool.h"

namespace px::cli {

namespace {

std::atomic<bool> gCancel{false};

void OnInterrupt(int) { gCancel = true; }

int Usage() {
  PrintErr("usage: plumadex-cli import mbox|maildir|thunderbird|vcard|ldif [PATH] [--into FOLDER] [--dry-run]\n");
  return 2;
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

int ImportCards(const std::string& path, bool dryRun, bool ldif) {
  const Locations loc = ComputeLocations();
  std::string bytes;
  FileStatus st = ReadWholeFile(path, bytes, contacts::kMaxCardFileSize * 8);
  if (!st.ok()) {
    PrintErr("Cannot read %s (error %d)\n", path.c_str(), st.error);
    return 1;
  }
  import::LdifResult fromLdif;
  if (ldif) {
    fromLdif = import::LdifToVCards(bytes);
    bytes = std::move(fromLdif.cards);
  }
  if (dryRun) {
    size_t cards = 0;
    for (size_t p = 0; (p = bytes.find("BEGIN:VCARD", p)) != std::string::npos; ++p) ++cards;
    std::printf("%zu contact(s) would be imported from %s (dry run)\n", cards, path.c_str());
    return 0;
  }
  MakeDataFolders(loc);
  store::IniRegistry registry;
  contacts::AddressMap map;
  RandomSource random;
  // A card whose address a contact already has is left out: a second import adds nothing.
  const contacts::SharedAddressResolver shared = [](const contacts::SharedAddressQuestion&) {
    return contacts::SharedAddressChoice::Skip;
  };
  contacts::ImportResult r = contacts::ImportContactCards(loc.contacts, bytes, registry, map, true, random, shared);
  std::printf("Imported: 0 messages, %d contact(s), 0 accounts\n", r.imported);
  int skipped = r.known + r.empty + fromLdif.empty + fromLdif.groups + static_cast<int>(r.errors.size());
  std::printf("Skipped: %d\n", skipped);
  if (r.known) std::printf("  %d card(s): already in Contacts\n", r.known);
  if (r.empty + fromLdif.empty) std::printf("  %d card(s): empty\n", r.empty + fromLdif.empty);
  if (fromLdif.groups) std::printf("  %d address list(s): lists are not imported\n", fromLdif.groups);
  for (const std::string& e : r.errors) std::printf("  %s\n", ForConsole(e).c_str());
  return r.errors.empty() ? 0 : 1;
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
  if (kind == "vcard" || kind == "ldif") {
    if (path.empty()) {
      PrintErr("import %s: give the file to import\n", kind.c_str());
      return 2;
    }
    return ImportCards(path, dryRun, kind == "ldif");
  }
  std::unique_ptr<import::ImportSource> source;
  if (!path.empty()) {
    source = import::MakeSource(kind, path);
    if (!source) {
      PrintErr("import: unknown source \"%s\" (mbox, maildir, thunderbird, vcard or ldif)\n", kind.c_str());
      return 2;
    }
  } else {
    if (!import::MakeSource(kind, "")) {
      PrintErr("import: unknown source \"%s\" (mbox, maildir, thunderbird, vcard or ldif)\n", kind.c_str());
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
  std::printf("%s: %llu message(s) in %llu folder(s), 0 contacts, 0 accounts%s\n", dryRun ? "Would import" : "Imported",
              static_cast<unsigned long long>(s.messages), static_cast<unsigned long long>(s.folders),
              s.cancelled ? " (cancelled)" : "");
  std::printf("Skipped: %llu\n", static_cast<unsigned long long>(s.duplicates + s.deleted + s.skipped.size()));
  if (s.duplicates) std::printf("  %llu message(s): already imported\n", static_cast<unsigned long long>(s.duplicates));
  if (s.deleted) std::printf("  %llu message(s): deleted in their mailbox\n", static_cast<unsigned long long>(s.deleted));
  for (const auto& k : s.skipped) std::printf("  %s: %s\n", ForConsole(k.what).c_str(), ForConsole(k.reason).c_str());
  if (s.cancelled) status = 1;
  return status;
}

}  // namespace px::cli
