#include "contacts/address_map.h"

#include <algorithm>

#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/section_lines.h"

namespace px::contacts {

std::string ContactDisplayName(std::string_view title, bool firstNameFirst) {
  std::string t = Trim(title);
  if (t.find(',') == std::string::npos) return t;
  PersonName p = SplitPersonName(t);
  return JoinPersonName(Trim(p.first), Trim(p.last), firstNameFirst);
}

std::string AddressKey(std::string_view address) {
  return LowerCase(Trim(BareAddressOf(Trim(address))));
}

bool IsGroupSection(std::string_view section) {
  return section.size() > 1 && section.back() == '.' && !section.starts_with("$$");
}

void AddressMap::Add(std::string key, AddrAliasRec rec) {
  if (key.empty()) return;
  if (map_.use_count() > 1) map_ = std::make_shared<Map>(*map_);  // a look-up holds the old one
  // The first contact met keeps an address that two contacts share.
  map_->try_emplace(std::move(key), std::move(rec));
}

void AddressMap::Build(const TPXCustomIni& index, bool firstNameFirst) {
  map_ = std::make_shared<Map>();
  index.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    if (name.starts_with("$$")) return;  // the folder's own section and tagged entries
    std::string title = store::FindKey(lines, "title").value_or(std::string());
    if (IsGroupSection(name)) {
      if (title.empty()) title = std::string(name.substr(0, name.size() - 1));
      std::string shown = title + std::string(kGroupSuffix);
      Add(LowerCase(shown), AddrAliasRec{std::string(name), shown, true});
      return;
    }
    std::string address = store::FindKey(lines, "address").value_or(std::string());
    if (address.empty()) return;
    std::string display = ContactDisplayName(title, firstNameFirst);
    Add(AddressKey(address), AddrAliasRec{std::string(name), display, true});
    for (const std::string& a : store::SplitAddresses(store::FindKey(lines, "addresses").value_or("")))
      Add(AddressKey(a), AddrAliasRec{std::string(name), display, false});
  });
}

const AddrAliasRec* AddressMap::Find(std::string_view key) const {
  auto it = map_->find(std::string(key));
  return it == map_->end() ? nullptr : &it->second;
}

const AddrAliasRec* AddressMap::FindAddress(std::string_view element) const {
  if (IsGroupAddress(element)) {
    std::string name = Trim(DisplayNameOf(element));
    return Find(LowerCase(name + std::string(kGroupSuffix)));
  }
  return Find(AddressKey(element));
}

std::vector<std::pair<std::string, AddrAliasRec>> AddressMap::Sorted() const {
  std::vector<std::pair<std::string, AddrAliasRec>> out(map_->begin(), map_->end());
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return out;
}

store::AddressLookup AddressMap::Lookup() const {
  std::shared_ptr<const Map> snapshot = map_;
  return [snapshot](std::string_view bareLower, std::string& name) {
    auto it = snapshot->find(std::string(bareLower));
    if (it == snapshot->end()) return false;
    name = it->second.displayName;
    return true;
  };
}

StringList BuildAlwaysEncryptList(const TPXCustomIni& index) {
  StringList out;
  index.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    if (name.starts_with("$$") || IsGroupSection(name)) return;
    if (!(store::EntryFlags(lines, 0) & store::dfEncrypted)) return;
    std::string key = AddressKey(store::FindKey(lines, "address").value_or(""));
    if (!key.empty()) out.push_back(key);
  });
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace px::contacts
