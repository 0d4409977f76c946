#pragma once
// The models of the two dialogs through which addresses found in messages become contacts:
// "Contacts" lists the addresses of the chosen messages and adds the ticked ones to the
// contacts or to a group; "Add Contact" asks whether one address becomes a new contact or a
// further address of an existing one.
#include <string>
#include <string_view>
#include <vector>

#include "contacts/contact_book.h"
#include "contacts/groups.h"

namespace px::contacts {

struct ContactsDialogRow {
  std::string text;    // "name" <bare address>
  bool known = false;  // the address is a contact's already (action "Edit", else "Add")
  bool ticked = false;
};

class ContactsDialogModel {
public:
  // addressTexts: for each chosen message with a sender, its Address, To, Cc and Bcc values.
  // Groups and the user's own service address are left out; each address is listed once.
  ContactsDialogModel(const std::vector<std::string>& addressTexts, const AddressMap& map,
                      std::string_view ownServiceId, bool firstNameFirst);

  const std::vector<ContactsDialogRow>& Rows() const { return rows_; }
  void SetTicked(int row, bool on);
  void TickAll(bool on);
  // "Add ->" is enabled exactly while a row is ticked.
  bool AddEnabled() const;

  // "Add ->": the ticked rows become contacts of the Contacts folder; with a group as target
  // (its folder, not the Contacts folder itself) each also becomes a member. Returns the
  // message for the message window ("" when nothing was added); errors go to *errors.
  std::string AddTicked(const ContactBook& book, const std::string& targetFolder,
                        const std::string& targetCaption, std::vector<std::string>* errors = nullptr);

  // A row became a contact's by another way (the editor, "Add Contact"): it is marked known
  // and shows the contact's name; the rows are sorted again.
  void MarkKnown(int row, std::string_view displayName);

  // The bare address of a row (lower-cased), and its name for a new contact.
  static std::string RowAddress(const ContactsDialogRow& row);

  bool ContactsChanged() const { return changed_; }
  void SetContactsChanged() { changed_ = true; }

private:
  void Sort();
  std::vector<ContactsDialogRow> rows_;
  bool firstNameFirst_ = true;
  bool changed_ = false;
};

// "Add Contact": the existing contacts as "Name <address>", sorted, groups left out.
std::vector<std::string> ExistingContactEntries(const AddressMap& map, bool firstNameFirst);
// The entry to select for an address text: the last whose name equals its display name
// (without regard to case); -1 when none.
int PreselectedEntry(const std::vector<std::string>& entries, std::string_view addressText);

enum class AddContactOutcome { Nothing, CreateNew, AddedToExisting };

// "Add" of the Add Contact dialog: the address joins the other e-mails of the entry's contact.
SaveResult AddToExistingContact(const ContactBook& book, std::string_view entry,
                                std::string_view addressText);

// The record a new contact starts from when it is made for an address text.
AddrRec RecordForAddress(std::string_view addressText);

}  // namespace px::contacts
