#pragma once
// The import window's model: the list of things that can be imported (mail of a source, its
// address books, its accounts), found by discovery or named through "Browse...", each ticked or
// not, and the run over the ticked ones in list order. Mail is read on a worker into the spool
// (the desk files it after the window closes); contacts and accounts are quick and written on
// the thread that owns the model, which also owns the store.
#include <QObject>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "contacts/contact_import.h"
#include "import/foreign_accounts.h"
#include "import/import_job.h"
#include "import/import_source.h"

namespace px {
class RandomSource;
class Settings;
}  // namespace px
namespace px::store {
class IniRegistry;
}

namespace px::import {

struct ImportItem {
  enum class Kind { Mail, Contacts, Accounts };
  Kind kind = Kind::Mail;
  std::string source;  // the kind of source: "thunderbird", "mbox", "maildir", "evolution", ...
  std::string path;    // where it is
  std::string text;    // what the list shows
  bool checked = true;
  std::vector<ForeignAccount> accounts;  // Accounts: the accounts offered
  std::vector<bool> accountChecked;
  std::vector<SkippedItem> refused;      // Accounts: addresses that cannot be account names here
};

// Where contacts and accounts go.
struct ImportContext {
  std::string contactsFolder;
  store::IniRegistry* registry = nullptr;
  Settings* settings = nullptr;
  RandomSource* random = nullptr;
  bool firstNameFirst = true;
  contacts::SharedAddressResolver shared;  // a card whose address a contact has; null: skip it
};

// What importing one address book did.
struct ContactBookOutcome {
  int read = 0;       // cards found in the book
  int contacts = 0;   // new contacts
  int merged = 0;
  int known = 0;      // left out: their address is a contact's already
  int empty = 0;
  int lists = 0;      // new groups
  std::vector<SkippedItem> skipped;
  std::vector<std::string> errors;
};
// Reads an address book (ReadContactBook's kinds) into the Contacts folder; its address lists
// become groups (a group met again is the same group, its members added).
ContactBookOutcome ImportContactBook(const std::string& kind, const std::string& path, const ImportContext& context);

// A name from outside shown on one line: control characters become blanks.
std::string Printable(std::string s);

struct ImportTotals {
  uint64_t messages = 0, duplicates = 0, folders = 0;
  int contacts = 0, merged = 0, lists = 0, accounts = 0;
  std::vector<SkippedItem> skipped;
  std::vector<std::string> errors;
  bool cancelled = false;
  // "Imported 12 messages, 3 contacts and 1 account." plus what was left out.
  std::string Summary() const;
};

class ImportModel : public QObject {
  Q_OBJECT
public:
  // Mail goes to the spool folder; the keys of imported messages to the record folder.
  ImportModel(std::string spoolFolder, std::string recordFolder, QObject* parent = nullptr);
  ~ImportModel() override;

  // Adds what the usual places hold (mail of every source found; a Thunderbird profile's
  // address books and accounts; Evolution's address books).
  void Discover(const DiscoveryPlaces& places);
  // The kinds "Browse..." offers, and whether each names a folder (else a file).
  static const std::vector<std::pair<std::string, std::string>>& BrowseKinds();  // kind, label
  static bool KindIsFolder(const std::string& kind);
  // Adds the source at path: a profile adds its mail, its address books and its accounts. The
  // number of items added; 0 and *error when nothing there can be imported. An item already
  // listed is not listed again.
  int AddSource(const std::string& kind, const std::string& path, std::string* error);

  const std::vector<ImportItem>& items() const { return items_; }
  void SetChecked(size_t i, bool on);
  void SetAccountChecked(size_t item, size_t account, bool on);
  void SetAllChecked(bool on);
  // Something is ticked and nothing runs.
  bool CanImport() const;

  // Where mail goes below the documents folder ("" = "Imported/<source>").
  void SetTarget(std::string target) { target_ = std::move(target); }

  // Runs the ticked items in list order. progress and finished come on this object's thread.
  bool Start(ImportContext context);
  void Cancel();
  bool running() const { return running_; }
  const ImportTotals& totals() const { return totals_; }

  // The progress text of an item ("Importing messages from ...").
  static std::string WorkingText(const ImportItem& item);

signals:
  void changed();
  // working: what is being imported; count: messages processed so far in this item.
  void progress(const QString& working, quint64 count);
  void finished();

private:
  void Next();
  void RunAccounts(const ImportItem& item);
  bool Listed(ImportItem::Kind kind, const std::string& source, const std::string& path) const;
  void AddItem(ImportItem item);

  std::string spoolFolder_, recordFolder_, target_;
  std::vector<ImportItem> items_;
  std::unique_ptr<ImportJob> job_;
  ImportContext context_;
  ImportTotals totals_;
  size_t next_ = 0;
  bool running_ = false;
  std::atomic<bool> cancel_{false};
};

}  // namespace px::import
