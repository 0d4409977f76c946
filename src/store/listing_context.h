#pragma once
// What a folder listing needs from the rest of the program. Everything is optional: with
// nothing set, every record is listed and shown, shown addresses fall back to the display name
// of the address, and unread counts are left alone.
#include "foundation/types.h"
#include "store/doc_record.h"
#include "store/unread_list.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace px::store {

class IniRegistry;

// The process-wide unread counts (own count and total kept as separate numbers).
class UnreadCounter {
public:
  virtual ~UnreadCounter() = default;
  virtual UnreadCount GetUnreadCount(std::string_view folder) const = 0;
  virtual void ChangeUnreadCount(std::string_view folder, int64_t value, bool relative) = 0;
};

// UnreadCounter over the program's UnreadList.
class UnreadListCounter final : public UnreadCounter {
public:
  explicit UnreadListCounter(UnreadList& list) : list_(list) {}
  UnreadCount GetUnreadCount(std::string_view folder) const override {
    return list_.GetUnreadCount(folder);
  }
  void ChangeUnreadCount(std::string_view folder, int64_t value, bool relative) override {
    list_.ChangeUnreadCount(folder, value, relative);
  }

private:
  UnreadList& list_;
};

// What the contact's card adds to its row on the Contacts tab.
struct ContactCardDetails {
  StringList detailLines;       // "Kind: number" for each phone kind shown, in editor order
  StringList furtherAddresses;  // the card's other e-mail addresses
  bool hasFurtherAddresses = false;  // furtherAddresses comes from the card (else the index's)
};
// Reads the card of a contact row (folder + name is its vCard file).
using ContactDetailsFn = std::function<ContactCardDetails(const DocRecord& contact)>;

struct ListingContext {
  // Index files are opened through this registry; a listing without one uses a private
  // registry for its own duration.
  IniRegistry* registry = nullptr;

  // Folders, each ending in "/" ("" when unknown).
  std::string documentsFolder;
  std::string contactsFolder;  // the contacts root
  std::string dataRoot;
  std::string tempFolder;

  // The address map of all contacts: lower-case bare address -> contact name.
  AddressLookup addressLookup;

  // The search predicate; unset means no search is active (every record matches).
  std::function<bool(const DocRecord&)> searchMatches;
  // The view filter: sets or clears rsViewHidden on the rows; unset shows all.
  std::function<void(DocRows& rows)> viewFilter;
  // The grid's sort-and-filter step; unset: the rows are sorted by `sorting` (and the view
  // filter applied).
  std::function<void(DocRows& rows)> sortAndFilter;
  int sorting = -1;             // sort code of the files view (+-1..7)
  int addressSorting = 4;       // sort code of the contacts view (+-2, +-4)
  bool firstNameFirst = true;   // name order of contact names

  UnreadCounter* unread = nullptr;
  // The hidden-contacts list of the shown folder (lower-case bare addresses), refreshed by a
  // foreground listing into empty rows.
  StringList* hiddenContacts = nullptr;

  // "Display messages and attachments together".
  bool bundlesTogether = true;
  // The Contacts tab is shown (contact references are listed even while a search is active).
  bool contactsTabShown = false;

  // Details of a contact's card for its rows on the Contacts tab.
  ContactDetailsFn contactDetails;

  bool SearchActive() const { return static_cast<bool>(searchMatches); }
};

}  // namespace px::store
