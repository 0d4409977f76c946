#include "import/import_model.h"

#include <sys/stat.h>

#include <QTimer>

#include "contacts/address_map.h"
#include "contacts/contact_folder.h"
#include "contacts/groups.h"
#include "foundation/locations.h"
#include "foundation/settings.h"
#include "import/contact_sources.h"

namespace px::import {

namespace {

bool IsDirPath(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string SourceName(const std::string& kind) {
  if (kind == "thunderbird") return "Thunderbird";
  if (kind == "evolution") return "Evolution";
  if (kind == "netscape") return "Netscape";
  if (kind == "dbx") return "Outlook Express";
  if (kind == "maildir") return "Maildir folders";
  if (kind == "mbox") return "mbox files";
  if (kind == "vcard") return "a vCard file";
  if (kind == "ldif") return "an LDIF file";
  return kind;
}

}  // namespace

std::string Printable(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return s;
}

ContactBookOutcome ImportContactBook(const std::string& kind, const std::string& path, const ImportContext& context) {
  ContactBookOutcome out;
  if (context.contactsFolder.empty() || !context.registry || !context.random) return out;
  ContactBookRead read = ReadContactBook(kind, path);
  out.skipped = std::move(read.skipped);
  out.read = read.result.people;
  out.empty = read.result.empty;
  contacts::AddressMap map;
  const contacts::SharedAddressResolver shared =
      context.shared ? context.shared
                     : contacts::SharedAddressResolver([](const contacts::SharedAddressQuestion&) {
                         return contacts::SharedAddressChoice::Skip;
                       });
  if (!read.result.cards.empty()) {
    contacts::ImportResult r = contacts::ImportContactCards(context.contactsFolder, read.result.cards, *context.registry,
                                                            map, context.firstNameFirst, *context.random, shared);
    out.contacts = r.imported;
    out.merged = r.merged;
    out.known = r.known;
    out.empty += r.empty;
    out.errors = std::move(r.errors);
  }
  if (read.result.lists.empty()) return out;
  // Address lists become groups: a folder in Contacts (its name made safe, inside Contacts)
  // whose index links the members. A group met again is the same group.
  contacts::SynchroniseContacts(context.contactsFolder, *context.registry, map, context.firstNameFirst);
  for (const ContactList& list : read.result.lists) {
    std::string folder = contacts::GroupFolderOf(context.contactsFolder, *context.registry, list.name);
    struct stat st;
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0) {
      // A name that had to be made safe is found by the title its group keeps.
      folder.clear();
      for (const auto& g : contacts::ListGroups(context.contactsFolder, *context.registry))
        if (QString::fromStdString(g.caption).compare(QString::fromStdString(list.name), Qt::CaseInsensitive) == 0)
          folder = g.folder;
    }
    if (folder.empty()) {
      std::string error;
      contacts::GroupInfo g = contacts::CreateGroup(context.contactsFolder, *context.registry, list.name, &error);
      if (g.folder.empty()) {
        out.skipped.push_back({list.name, error.empty() ? "cannot be a group" : error});
        continue;
      }
      folder = g.folder;
      ++out.lists;
    }
    std::vector<std::string> members;
    for (const std::string& a : list.members)
      if (const contacts::AddrAliasRec* rec = map.FindAddress(a); rec && !rec->section.empty() && rec->section.back() != '.')
        members.push_back(rec->section);
    if (members.empty()) continue;
    FileStatus err;
    contacts::AddGroupMembers(*context.registry, WithSlash(folder), members, &err);
    if (!err.ok()) out.errors.push_back(err.message);
  }
  return out;
}

std::string ImportTotals::Summary() const {
  std::string s = "Imported " + Plural(messages, "message", "messages") + ", " +
                  Plural(static_cast<uint64_t>(contacts), "contact", "contacts") + " and " +
                  Plural(static_cast<uint64_t>(accounts), "account", "accounts") + ".";
  if (cancelled) s += " The import was cancelled.";
  if (duplicates) s += "\n" + Plural(duplicates, "message was", "messages were") + " imported before.";
  if (merged) s += "\n" + Plural(static_cast<uint64_t>(merged), "contact was", "contacts were") + " merged.";
  size_t shown = 0;
  for (const auto& k : skipped) {
    if (++shown > 10) {
      s += "\n... and " + std::to_string(skipped.size() - 10) + " more left out.";
      break;
    }
    s += "\nLeft out: " + Printable(k.what) + ": " + k.reason;
  }
  for (const auto& e : errors) s += "\n" + e;
  return s;
}

ImportModel::ImportModel(std::string spoolFolder, std::string recordFolder, QObject* parent)
    : QObject(parent), spoolFolder_(std::move(spoolFolder)), recordFolder_(std::move(recordFolder)) {}

ImportModel::~ImportModel() {
  cancel_ = true;
  if (job_) job_->Cancel();
}

const std::vector<std::pair<std::string, std::string>>& ImportModel::BrowseKinds() {
  static const std::vector<std::pair<std::string, std::string>> kinds = {
      {"thunderbird", "Thunderbird profile folder..."},
      {"mbox", "mbox file..."},
      {"mbox-tree", "Folder of mbox files..."},
      {"maildir", "Maildir folder..."},
      {"evolution", "Evolution data folder..."},
      {"netscape", "Netscape mail folder..."},
      {"dbx", "Outlook Express store folder..."},
      {"vcard", "vCard file..."},
      {"ldif", "LDIF address book..."},
  };
  return kinds;
}

bool ImportModel::KindIsFolder(const std::string& kind) {
  return kind != "mbox" && kind != "vcard" && kind != "ldif";
}

bool ImportModel::Listed(ImportItem::Kind kind, const std::string& source, const std::string& path) const {
  for (const auto& i : items_)
    if (i.kind == kind && i.source == source && WithSlash(i.path) == WithSlash(path)) return true;
  return false;
}

void ImportModel::AddItem(ImportItem item) {
  if (Listed(item.kind, item.source, item.path)) return;
  items_.push_back(std::move(item));
}

int ImportModel::AddSource(const std::string& kindIn, const std::string& path, std::string* error) {
  const std::string kind = kindIn == "mbox-tree" ? "mbox" : kindIn;
  const size_t before = items_.size();
  std::vector<SkippedItem> skipped;
  auto addMail = [&](const std::string& k, const std::string& p) {
    auto source = MakeSource(k, p);
    if (!source) return;
    std::vector<SkippedItem> s;
    if (source->Folders(s).empty()) {
      skipped.insert(skipped.end(), s.begin(), s.end());
      return;
    }
    ImportItem item;
    item.kind = ImportItem::Kind::Mail;
    item.source = source->kind();
    item.path = source->root();
    item.text = "Messages from " + SourceName(item.source) + " (" + item.path + ")";
    AddItem(std::move(item));
  };
  auto addBooks = [&](const std::string& k, const std::string& p, const std::vector<std::string>& books) {
    if (books.empty()) return;
    ImportItem item;
    item.kind = ImportItem::Kind::Contacts;
    item.source = k;
    item.path = p;
    item.text = "Contacts from " + SourceName(k) + " (" + p + ")";
    AddItem(std::move(item));
  };
  if (kind == "vcard" || kind == "ldif") {
    addBooks(kind, path, {path});
  } else if (kind == "thunderbird") {
    // A profiles.ini or its folder stands for its default profile.
    auto source = MakeSource("thunderbird", path);
    const std::string profile = source ? source->root() : path;
    addMail("thunderbird", profile);
    addBooks("thunderbird", profile, ThunderbirdAddressBooks(profile));
    std::vector<ForeignAccount> accounts;
    std::vector<SkippedItem> refused;
    // An address that cannot be a settings key is never offered; the summary names it.
    for (auto& a : ThunderbirdAccounts(profile)) {
      if (IsSafeAccountAddress(a.address)) accounts.push_back(std::move(a));
      else refused.push_back({a.address, kRefusedAccount});
    }
    if (!accounts.empty() || !refused.empty()) {
      ImportItem item;
      item.refused = std::move(refused);
      item.kind = ImportItem::Kind::Accounts;
      item.source = "thunderbird";
      item.path = profile;
      item.text = "E-mail accounts of Thunderbird (" + profile + ")";
      item.accountChecked.assign(accounts.size(), true);
      item.accounts = std::move(accounts);
      AddItem(std::move(item));
    }
  } else if (kind == "evolution") {
    addMail("evolution", path);
    const std::string p = WithSlash(path);
    std::string books = IsDirPath(p + "addressbook/") ? p + "addressbook/" : p;
    if (!ReadContactBook("evolution", books).result.cards.empty()) addBooks("evolution", books, {books});
  } else {
    addMail(kind, path);
  }
  const int added = static_cast<int>(items_.size() - before);
  if (added == 0 && error) {
    *error = "Nothing to import was found in " + path;
    if (!skipped.empty()) *error += ": " + skipped.front().reason;
  }
  if (added) emit changed();
  return added;
}

void ImportModel::Discover(const DiscoveryPlaces& places) {
  for (auto& s : DiscoverSources(places)) {
    if (s->kind() == "thunderbird") AddSource("thunderbird", s->root(), nullptr);
    else if (s->kind() == "evolution") AddSource("evolution", s->root(), nullptr);
    else AddSource(s->kind(), s->root(), nullptr);
  }
  if (!places.home.empty()) {
    const std::string books = WithSlash(places.home) + ".local/share/evolution/addressbook/";
    if (!EvolutionAddressBooks(places.home).empty() && !Listed(ImportItem::Kind::Contacts, "evolution", books)) {
      ImportItem item;
      item.kind = ImportItem::Kind::Contacts;
      item.source = "evolution";
      item.path = books;
      item.text = "Contacts from Evolution (" + books + ")";
      AddItem(std::move(item));
    }
  }
  emit changed();
}

void ImportModel::SetChecked(size_t i, bool on) {
  if (i >= items_.size() || items_[i].checked == on) return;
  items_[i].checked = on;
  emit changed();
}

void ImportModel::SetAccountChecked(size_t item, size_t account, bool on) {
  if (item >= items_.size() || account >= items_[item].accountChecked.size()) return;
  items_[item].accountChecked[account] = on;
  emit changed();
}

void ImportModel::SetAllChecked(bool on) {
  for (auto& i : items_) {
    i.checked = on;
    i.accountChecked.assign(i.accounts.size(), on);
  }
  emit changed();
}

bool ImportModel::CanImport() const {
  if (running_) return false;
  for (const auto& i : items_)
    if (i.checked) return true;
  return false;
}

std::string ImportModel::WorkingText(const ImportItem& item) {
  switch (item.kind) {
    case ImportItem::Kind::Mail: return "Importing messages from " + SourceName(item.source) + ". This may take a while ...";
    case ImportItem::Kind::Contacts: return "Importing contacts from " + SourceName(item.source) + " ...";
    case ImportItem::Kind::Accounts: return "Adding e-mail accounts ...";
  }
  return {};
}

bool ImportModel::Start(ImportContext context) {
  if (!CanImport()) return false;
  context_ = std::move(context);
  totals_ = {};
  next_ = 0;
  cancel_ = false;
  running_ = true;
  emit changed();
  QTimer::singleShot(0, this, [this] { Next(); });
  return true;
}

void ImportModel::Cancel() {
  cancel_ = true;
  if (job_) job_->Cancel();
}

void ImportModel::Next() {
  while (next_ < items_.size() && !cancel_) {
    const ImportItem& item = items_[next_++];
    if (!item.checked) continue;
    emit progress(QString::fromStdString(WorkingText(item)), 0);
    if (cancel_) break;  // cancelled while the window showed the step
    if (item.kind == ImportItem::Kind::Mail) {
      auto source = MakeSource(item.source, item.path);
      if (!source) continue;
      if (!job_) {
        job_ = std::make_unique<ImportJob>(spoolFolder_, recordFolder_);
        connect(job_.get(), &ImportJob::progress, this, [this](const ImportProgress& p) {
          emit progress(QString::fromStdString(WorkingText(items_[next_ - 1])), p.messages + p.duplicates);
        });
        connect(job_.get(), &ImportJob::finished, this, [this](const ImportSummary& s) {
          totals_.messages += s.messages;
          totals_.duplicates += s.duplicates;
          totals_.folders += s.folders;
          totals_.skipped.insert(totals_.skipped.end(), s.skipped.begin(), s.skipped.end());
          if (!s.ok()) {
            totals_.errors.push_back(s.error);
            cancel_ = true;  // the spool cannot be written: nothing more is tried
          }
          if (s.cancelled) totals_.cancelled = true;
          // Let the window repaint between items.
          QTimer::singleShot(0, this, [this] { Next(); });
        });
      }
      ImportOptions options;
      options.target = target_.empty() ? DefaultTarget(item.source) : target_;
      if (job_->Start(std::move(source), options)) return;  // continues when the job ends
      continue;
    }
    if (item.kind == ImportItem::Kind::Contacts) {
      ContactBookOutcome o = ImportContactBook(item.source, item.path, context_);
      totals_.contacts += o.contacts;
      totals_.merged += o.merged;
      totals_.lists += o.lists;
      totals_.skipped.insert(totals_.skipped.end(), o.skipped.begin(), o.skipped.end());
      totals_.errors.insert(totals_.errors.end(), o.errors.begin(), o.errors.end());
    } else {
      RunAccounts(item);
    }
  }
  if (cancel_) totals_.cancelled = totals_.cancelled || totals_.errors.empty();
  running_ = false;
  emit changed();
  emit finished();
}

void ImportModel::RunAccounts(const ImportItem& item) {
  if (!context_.settings) return;
  std::vector<std::string> addresses;
  for (size_t i = 0; i < item.accounts.size(); ++i)
    if (i < item.accountChecked.size() && item.accountChecked[i]) addresses.push_back(item.accounts[i].address);
  totals_.skipped.insert(totals_.skipped.end(), item.refused.begin(), item.refused.end());
  totals_.accounts += AddForeignAccounts(*context_.settings, addresses, totals_.skipped);
}

}  // namespace px::import
