#pragma once
// The address map: every address of every contact, and every group, of the Contacts folder,
// looked up by its lower-case key. Rebuilt from the Contacts folder's index whenever a contact
// or group changes; the compose window, filing and the grid resolve addresses through it.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "foundation/ini_file.h"
#include "foundation/types.h"
#include "store/doc_record.h"

namespace px::contacts {

struct AddrAliasRec {
  std::string section;      // the contact's section (file name), or the group's name + "."
  std::string displayName;  // the contact's name in the name order, or title + " (GROUP)"
  bool isPrimary = true;    // the contact's primary address (and every group)
};

// A contact's Title in the name order: "Last, First" is split at its ","; a Title without ","
// is a first name only.
std::string ContactDisplayName(std::string_view title, bool firstNameFirst);

// The key of an address: its bare address, service domain removed, lower-cased.
std::string AddressKey(std::string_view address);

// The section is a group of the Contacts folder (folder name + ".").
bool IsGroupSection(std::string_view section);

class AddressMap {
public:
  // Rebuilds the map from the Contacts folder's index.
  void Build(const TPXCustomIni& contactsIndex, bool firstNameFirst);
  void Clear() { map_ = std::make_shared<Map>(); }
  // Adds one entry (a key already there keeps its entry).
  void Insert(std::string key, AddrAliasRec rec) { Add(std::move(key), std::move(rec)); }

  // The entry of a key (lower-case bare address, or a group's "title (group)"); nullptr
  // when unknown.
  const AddrAliasRec* Find(std::string_view key) const;
  // The entry of any address-list element ("Name" <addr>, addr, a group).
  const AddrAliasRec* FindAddress(std::string_view element) const;
  size_t Size() const { return map_->size(); }

  // The entries sorted by key, for the lists of the contact dialogs.
  std::vector<std::pair<std::string, AddrAliasRec>> Sorted() const;

  // The grid's look-up: a contact's name by lower-case bare address. It holds the map as it
  // is now, so a listing on a worker thread is not disturbed by a later rebuild.
  store::AddressLookup Lookup() const;

  // The map as it is now, for a worker: it never changes (a later change makes a new map).
  using Map = std::unordered_map<std::string, AddrAliasRec>;
  std::shared_ptr<const Map> Snapshot() const { return map_; }

private:
  void Add(std::string key, AddrAliasRec rec);
  std::shared_ptr<Map> map_ = std::make_shared<Map>();
};

// The addresses mail is always encrypted to: the lower-case address of every contact whose
// Flags carry dfEncrypted; sorted, without duplicates.
StringList BuildAlwaysEncryptList(const TPXCustomIni& contactsIndex);

}  // namespace px::contacts
