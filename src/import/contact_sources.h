#pragma once
// Address books of other programs, read as vCard text for the contacts import: vCard files
// (one or many cards, 3.0 or 4.0), LDIF exports, Thunderbird's abook*.sqlite and Evolution's
// contacts.db. The other program's files are never changed: a database is read from a copy.
#include <string>
#include <vector>

#include "import/import_source.h"
#include "import/ldif.h"

namespace px::import {

struct ContactBookRead {
  LdifResult result;  // cards, counts, address lists
  std::vector<SkippedItem> skipped;
};

// kind: "vcard", "ldif", "thunderbird" (a profile folder or one abook*.sqlite), "evolution"
// (its addressbook folder or one contacts.db). An unreadable book goes to skipped.
ContactBookRead ReadContactBook(const std::string& kind, const std::string& path);

// The address books of a Thunderbird profile (abook.sqlite, abook-N.sqlite; the collected
// addresses of history.sqlite are left out), and of Evolution under a home.
std::vector<std::string> ThunderbirdAddressBooks(const std::string& profile);
std::vector<std::string> EvolutionAddressBooks(const std::string& home);

// Thunderbird's abook.sqlite: the cards of its "properties" table (the whole card where the
// book keeps one, else its fields), its lists with their members' addresses.
bool ReadAbookSqlite(const std::string& path, LdifResult& out, std::string* error);
// Evolution's contacts.db: the vCards of its "folder_id" table.
bool ReadEvolutionContacts(const std::string& path, LdifResult& out, std::string* error);

}  // namespace px::import
