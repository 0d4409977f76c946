#pragma once
// The Contacts folder: the index keys of a contact, keeping the index in step with the card
// files and group folders, and placing new contacts.
#include <string>
#include <string_view>
#include <vector>

#include "contacts/address_map.h"
#include "contacts/contact_import.h"
#include "contacts/vcard.h"
#include "foundation/ini_file.h"
#include "foundation/random.h"
#include "store/index_file.h"
#include "store/listing_context.h"

namespace px::contacts {

// Title as the editor saves it: "Last, First" (whichever part is set), else the organisation.
std::string ContactTitle(const AddrRec& rec);
// Title as the folder synchronisation writes it: last + ", " + first, trimmed, or
// organisation + ", " when both names are empty.
std::string SyncTitle(const AddrRec& rec);

// Writes Title, Address and Addresses (removed when empty) of the contact's section.
void WriteContactKeys(TPXCustomIni& index, std::string_view section, const AddrRec& rec,
                      std::string_view title);

// The card file's modification stamp as the index keeps it in `Time` (the packed date and
// time of the file system: date in the high word, time in two-second steps in the low word).
int64_t ContactFileStamp(const std::string& path);

struct SyncResult {
  int cardsRead = 0;       // entries brought up to date from their cards
  int sectionsErased = 0;  // entries whose file and folder are both gone
  std::vector<FileStatus> errors;
};

// Brings the Contacts folder's index up to date with its card files and group folders, then
// rebuilds the address map (and, when given, the always-encrypt list).
SyncResult SynchroniseContacts(const std::string& contactsFolder, store::IniRegistry& registry,
                               AddressMap& map, bool firstNameFirst,
                               StringList* alwaysEncrypt = nullptr);

// Writes the card as a new contact file of the folder under a fresh unique name, never over an
// existing file. Returns the file name ("" on failure, with *error set).
std::string PlaceNewContactFile(const std::string& folder, const AddrRec& rec,
                                RandomSource& random, FileStatus* error = nullptr);

// The refusal shown when an address is already a contact's.
std::string DuplicateAddressMessage(std::string_view displayName, std::string_view address);

}  // namespace px::contacts

namespace px::contacts {

struct ImportResult {
  int imported = 0;
  int known = 0;     // cards left out: an address of theirs is already a contact's
  int merged = 0;    // cards merged into the contact that had their address
  int keptBoth = 0;  // of imported: cards added beside the contact that had their address
  int empty = 0;     // cards without name, organisation or address
  std::vector<std::string> files;  // the new contact files
  std::vector<std::string> mergedInto;  // the contacts cards were merged into
  std::vector<std::string> errors;
};

// Adds every card of text as a contact of the Contacts folder (each card its own contact), after
// synchronising the folder. A card one of whose addresses is already a contact's (or an
// earlier card's) is put to shared: merged into that contact, added beside it, or left out;
// without shared it is left out.
ImportResult ImportContactCards(const std::string& contactsFolder, std::string_view text,
                                store::IniRegistry& registry, AddressMap& map,
                                bool firstNameFirst, RandomSource& random,
                                const SharedAddressResolver& shared = {});

}  // namespace px::contacts

namespace px::contacts {

// What a contact's card adds to its rows on the Contacts tab: a detail line per shown phone
// that is set, and the further addresses.
store::ContactCardDetails CardDetailsOf(const std::string& cardPath);

}  // namespace px::contacts
