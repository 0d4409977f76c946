#pragma once
// Contact records and their vCard files. Cards are written as vCard 2.1; the reader also takes
// the 3.0 and 4.0 cards other programs write (folded lines, TYPE= lists, escapes, UTF-8) and
// brings them into the same record. Lines the reader does not understand are kept and written
// back unchanged.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/ini_file.h"

namespace px::contacts {

struct PostalAddress {
  std::string street1;
  std::string street2;
  std::string city;
  std::string state;
  std::string postalCode;
  std::string country;
  bool Empty() const;
  bool operator==(const PostalAddress&) const = default;
};

// The twelve phone kinds, in the order of the record's phone list.
enum PhoneKind : uint8_t {
  pkPrimary, pkBusiness, pkBusiness2, pkBusinessFax, pkHome, pkHome2, pkHomeFax,
  pkOther, pkOtherFax, pkMobile, pkCar, pkPager
};
inline constexpr int kPhoneKinds = 12;
inline constexpr int kShownPhones = 5;
// "Primary", "Business", ... "Pager".
std::string_view PhoneKindName(int kind);
// "Business", "Home", "Other".
std::string_view AddressTypeName(int type);

struct AddrRec {
  std::string firstName;  // given name, middle names after a blank
  std::string lastName;
  std::string organisation;
  std::string position;
  std::string homePage;
  std::string primaryEmail;  // service users as the bare user name
  std::string otherEmails;   // joined with ", "
  PostalAddress business;
  PostalAddress home;
  PostalAddress other;
  std::array<std::string, kPhoneKinds> phones;
  std::string notes;
  std::string extraLines;  // lines the reader did not understand, joined with CR LF
  // What a card says about the name beyond first and last name, kept so that the card written
  // back means what it meant: the honorific prefix and suffix ("Dr.", "Jr."), the formatted
  // name when it is not just first + last name ("" otherwise; the editor drops it once the
  // names change), and the given name when it has blanks of its own ("Mary Ann").
  std::string namePrefix;
  std::string nameSuffix;
  std::string formattedName;
  std::string givenName;
  // The organisation's name and units as the card gave them; organisation shows them joined
  // with ", ". Empty for a single name. Written back while organisation still shows them.
  std::vector<std::string> orgParts;
  // Property groups ("item1" of item1.EMAIL), so that lines kept beside a grouped value
  // (item1.X-ABLabel) still refer to it: key ("EMAIL:" + address, "TEL:" + kind, "ADR:" +
  // type, "URL") and group, in the order read.
  std::vector<std::pair<std::string, std::string>> groups;
  bool encrypt = false;
  uint8_t shownAddressType = 0;  // 0 business, 1 home, 2 other
  std::array<uint8_t, kShownPhones> shownPhoneKinds{pkPrimary, pkBusiness, pkBusinessFax, pkHome,
                                                    pkMobile};

  PostalAddress& Address(int type);
  const PostalAddress& Address(int type) const;
  // Other e-mails as a list (trimmed, empty pieces left out).
  std::vector<std::string> OtherEmailList() const;
  bool operator==(const AddrRec&) const = default;
};

// The five phone kinds a view shows: the record's shown kinds, with rows whose kind has no
// number given to numbers no row shows (a card's untyped phone is "Other", which the default
// rows leave out), in the phone order.
std::array<uint8_t, kShownPhones> VisiblePhoneKinds(const AddrRec& rec);

// The organisation as shown for the card's name and units.
std::string JoinOrgParts(const std::vector<std::string>& parts);

// The card text (CR LF line ends). rev is the REV stamp ("yyyymmddThhnnss").
std::string WriteVCard(const AddrRec& rec, std::string_view rev);
// The current local time as a REV stamp.
std::string RevStamp();

// Reads the first card of text (up to its END:VCARD); consumed, when given, receives the
// number of bytes read, so that the caller can go on with the next card.
AddrRec ReadVCard(std::string_view text, size_t* consumed = nullptr);
// Every card of text, in order; text without any BEGIN:VCARD reads as one card.
std::vector<AddrRec> ReadVCards(std::string_view text);

// Largest contact file read (photos make cards big, nothing makes them this big).
inline constexpr uint64_t kMaxCardFileSize = 16ull << 20;

// The contact file at path (its first card); nullopt when it cannot be read.
std::optional<AddrRec> ReadContactFile(const std::string& path);
// Writes the card, replacing the file atomically.
FileStatus WriteContactFile(const AddrRec& rec, const std::string& path);

}  // namespace px::contacts
