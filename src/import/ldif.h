#pragma once
// Address books exported as LDIF (Thunderbird, Netscape, directory servers): each person entry
// becomes a vCard 3.0 card, so contacts are added by the same import as vCard files. Lines are
// read as bytes (LF, CR LF); folded lines (a leading blank) continue the one before; "::"
// values are Base64. Every size is bounded: a value at 64 KiB, an entry at 1,000 lines.
#include <string>
#include <string_view>

namespace px::import {

struct LdifResult {
  std::string cards;  // the vCard text, one card per person entry
  int people = 0;
  int groups = 0;     // groupOfNames entries (address lists), not made into cards
  int empty = 0;      // entries without name, address or phone
};

LdifResult LdifToVCards(std::string_view ldif);

}  // namespace px::import
