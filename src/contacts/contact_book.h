#pragma once
// Creating and updating contacts in the Contacts folder: the card file, the index entry, the
// link entry in a group or other folder, the always-encrypt list and the address map, kept in
// step with each other.
#include <string>
#include <string_view>
#include <vector>

#include "contacts/address_map.h"
#include "contacts/contact_import.h"
#include "contacts/vcard.h"
#include "foundation/file_status.h"
#include "foundation/random.h"
#include "foundation/types.h"
#include "store/index_file.h"

namespace px::contacts {

struct ContactBook {
  std::string contactsFolder;              // with trailing "/"
  store::IniRegistry* registry = nullptr;  // required
  AddressMap* map = nullptr;               // required
  RandomSource* random = nullptr;          // required for new contacts
  bool firstNameFirst = true;
  // Present when the encryption software is: kept in step with the contacts' flags.
  StringList* alwaysEncrypt = nullptr;
};

// The refusal of an editor saved with nothing in it.
inline constexpr std::string_view kEmptyContactRefusal =
    "Sorry, but a contact needs a name, an organization or an e-mail address.";

// True when name, organisation and every e-mail are empty.
bool ContactIsEmpty(const AddrRec& rec);

// The refusal for a record whose addresses belong to another contact ("" when none does).
// self is the contact's own file name ("" for a new contact); addresses compare by their
// lower-cased bare form.
std::string DuplicateRefusal(const AddressMap& map, const AddrRec& rec, std::string_view self);

struct SaveResult {
  bool saved = false;
  std::string name;     // the contact's file name in the Contacts folder
  std::string refusal;  // shown as a warning; the editor stays open
  std::string error;    // a file or index error
};

// Saves an edited contact. existing is the card's file name in the Contacts folder, "" for a
// new contact; shownFolder is where a new contact was made (a group or other folder gets a
// link entry). An empty record and an address another contact holds are refused.
SaveResult SaveContact(const ContactBook& book, AddrRec rec, std::string_view existing,
                       const std::string& shownFolder);

// The contact's card, "" name when it cannot be read; flags from the Contacts index.
struct LoadedContact {
  AddrRec rec;
  int64_t flags = 0;
  bool ok = false;
};
LoadedContact LoadContact(const ContactBook& book, std::string_view name);

// Adds address to the other e-mails of the contact (its card and index entry).
SaveResult AddAddressToContact(const ContactBook& book, std::string_view name,
                               std::string_view address);

// Imports card files (dropped on the contacts view, or chosen with "Import contacts..."): every
// card of every file becomes a contact; a card whose address a contact already has is put to
// shared (merge, keep both or skip; skipped without it). The errors name their files.
struct DropImportResult {
  int imported = 0;
  int known = 0;
  int merged = 0;
  int empty = 0;
  std::vector<std::string> contacts;  // file names of the contacts made or merged into
  std::vector<std::string> errors;
  // A line for the message window, "" when there is nothing to say.
  std::string Summary() const;
};
DropImportResult ImportDroppedCards(const ContactBook& book, const std::vector<std::string>& paths,
                                    const SharedAddressResolver& shared = {});

// A copy of a contact card to be sent as an attachment, under a name no other copy has
// ("$$PXtmp" + unique name + ".vcf" in folder); "" on failure, with *error set.
std::string ContactAttachmentCopy(const std::string& cardPath, const std::string& folder,
                                  RandomSource& random, FileStatus* error = nullptr);

}  // namespace px::contacts
