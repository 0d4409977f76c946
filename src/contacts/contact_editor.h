#pragma once
// The model behind the "Contact Information" window: a working copy of one contact, its
// e-mail list with exactly one primary entry, the postal address and phone rows chosen by
// their kind boxes, and the rules applied when the user saves.
#include <string>
#include <string_view>
#include <vector>

#include "contacts/vcard.h"

namespace px::contacts {

class ContactEditor {
public:
  ContactEditor(AddrRec rec, bool encryptionAvailable);

  // The working copy (names, organisation, position, home page and notes are edited here).
  AddrRec& Record() { return rec_; }
  const AddrRec& Record() const { return rec_; }

  // ---- e-mail list ----
  const std::vector<std::string>& Emails() const { return emails_; }
  int CheckedEmail() const { return checked_; }
  // Checking an entry makes it the primary (the others are unchecked).
  void CheckEmail(int index);
  // Adds a trimmed, non-blank text as a new entry; false when blank.
  bool AddEmail(std::string_view text);
  bool ReplaceEmail(int index, std::string_view text);
  void RemoveEmail(int index);
  // "Primary e-mail address:" shows this.
  const std::string& PrimaryEmail() const { return rec_.primaryEmail; }

  // ---- encryption ----
  // The box is shown only with the encryption software present, for users of the mail service.
  bool EncryptionVisible() const;
  void SetEncrypt(bool on) { rec_.encrypt = on; }

  // ---- postal address ----
  int AddressType() const { return rec_.shownAddressType; }
  void SetAddressType(int type);
  PostalAddress& ShownAddress() { return rec_.Address(rec_.shownAddressType); }
  // A street value as the one-line field shows it (line breaks as blanks).
  static std::string StreetForField(std::string_view street);

  // ---- phones ----
  int PhoneKindOfRow(int row) const;
  void SetPhoneKindOfRow(int row, int kind);
  std::string& PhoneOfRow(int row) { return rec_.phones[PhoneKindOfRow(row)]; }

  // The record as Save hands it on: notes without leading and trailing blank lines, the
  // encrypt flag cleared when its box is hidden.
  AddrRec Saved() const;

private:
  void Recompute();
  AddrRec rec_;
  bool encryption_ = false;
  std::vector<std::string> emails_;
  int checked_ = -1;
  std::string firstAsRead_;
  std::string lastAsRead_;
};

}  // namespace px::contacts
