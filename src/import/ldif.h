#pragma once
// Address books exported as LDIF (Thunderbird, Netscape, directory servers): each person entry
// becomes a vCard 3.0 card, so contacts are added by the same import as vCard files. Lines are
// read as bytes (LF, CR LF); folded lines (a leading blank) continue the one before; "::"
// values are Base64. Every size is bounded: a value at 64 KiB, an entry at 1,000 lines.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace px::import {

// An address list of an address book: its name and its members' addresses.
struct ContactList {
  std::string name;
  std::vector<std::string> members;
};

struct LdifResult {
  std::string cards;  // the vCard text, one card per person entry
  int people = 0;
  int groups = 0;     // groupOfNames entries (address lists), not made into cards
  int empty = 0;      // entries without name, address or phone
  std::vector<ContactList> lists;  // the groups, with the addresses of their members
};

LdifResult LdifToVCards(std::string_view ldif);

// The fields of one person by their LDIF attribute names (lower case: "givenname", "sn",
// "displayname", "mail", "mozillasecondemail", "telephonenumber", "homephone", "mobile", "o",
// "title", "street", "l", "st", "postalcode", "c", "labeleduri", "description", ...). Adds its
// card to out, or counts it empty.
using ContactFields = std::multimap<std::string, std::string>;
void AddCard(const ContactFields& fields, LdifResult& out);

// The address a member reference names: "cn=Ann,mail=ann@example.org" -> "ann@example.org";
// "" when it names none.
std::string MemberAddress(std::string_view dn);

}  // namespace px::import
