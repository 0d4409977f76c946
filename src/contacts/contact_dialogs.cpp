#include "contacts/contact_dialogs.h"

#include <algorithm>
#include <map>

#include "contacts/contact_folder.h"
#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/folder_files.h"

namespace px::contacts {

namespace {

std::string RowText(std::string_view name, std::string_view bare, bool firstNameFirst) {
  const PersonName p = SplitPersonName(name);
  return "\"" + JoinPersonName(Trim(p.first), Trim(p.last), firstNameFirst) + "\" <" + std::string(bare) + ">";
}

}  // namespace

AddrRec RecordForAddress(std::string_view addressText) {
  AddrRec rec;
  rec.primaryEmail = StripServiceDomain(Trim(BareAddressOf(addressText)));
  std::string name = Trim(DisplayNameOf(addressText));
  // An element without a name reads its address as the name: that is no person's name.
  if (SameText(StripServiceDomain(name), rec.primaryEmail)) name.clear();
  const PersonName p = SplitPersonName(name);
  rec.firstName = Trim(p.first);
  rec.lastName = Trim(p.last);
  return rec;
}

ContactsDialogModel::ContactsDialogModel(const std::vector<std::string>& addressTexts,
                                         const AddressMap& map, std::string_view ownServiceId,
                                         bool firstNameFirst)
    : firstNameFirst_(firstNameFirst) {
  std::string joined;
  for (const std::string& t : addressTexts) {
    if (Trim(t).empty()) continue;
    if (!joined.empty()) joined += ", ";
    joined += t;
  }
  StringList elements = ParseAddressList(joined);
  std::sort(elements.begin(), elements.end());
  elements.erase(std::unique(elements.begin(), elements.end()), elements.end());
  const std::string own = LowerCase(StripServiceDomain(Trim(ownServiceId)));
  for (const std::string& e : elements) {
    if (IsGroupAddress(e)) continue;
    const std::string bare = LowerCase(Trim(BareAddressOf(e)));
    if (bare.empty() || (!own.empty() && bare == own)) continue;
    const AddrAliasRec* hit = map.Find(AddressKey(bare));
    ContactsDialogRow row;
    if (hit) {
      row.text = RowText(FormatPersonName(hit->displayName, firstNameFirst), bare, firstNameFirst);
    } else {
      std::string name = Trim(DisplayNameOf(e));
      if (SameText(StripServiceDomain(name), bare)) name.clear();
      row.text = name.empty() ? bare : RowText(name, bare, firstNameFirst);
    }
    row.known = hit != nullptr;
    row.ticked = !row.known;
    rows_.push_back(std::move(row));
  }
  Sort();
  // The same address under two names is listed once, with a name when one of them has it.
  std::vector<ContactsDialogRow> unique;
  std::map<std::string, size_t> seen;
  for (auto& r : rows_) {
    const std::string a = RowAddress(r);
    auto [it, fresh] = seen.try_emplace(a, unique.size());
    if (fresh) unique.push_back(std::move(r));
    else if (unique[it->second].text == a && r.text != a) unique[it->second] = std::move(r);
  }
  rows_ = std::move(unique);
}

void ContactsDialogModel::Sort() {
  std::stable_sort(rows_.begin(), rows_.end(), [](const ContactsDialogRow& a, const ContactsDialogRow& b) {
    return LowerCase(a.text) < LowerCase(b.text);
  });
}

std::string ContactsDialogModel::RowAddress(const ContactsDialogRow& row) {
  return LowerCase(Trim(BareAddressOf(row.text)));
}

void ContactsDialogModel::SetTicked(int row, bool on) {
  if (row >= 0 && row < static_cast<int>(rows_.size())) rows_[row].ticked = on;
}

void ContactsDialogModel::TickAll(bool on) {
  for (auto& r : rows_) r.ticked = on;
}

bool ContactsDialogModel::AddEnabled() const {
  return std::any_of(rows_.begin(), rows_.end(), [](const ContactsDialogRow& r) { return r.ticked; });
}

void ContactsDialogModel::MarkKnown(int row, std::string_view displayName) {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return;
  ContactsDialogRow& r = rows_[row];
  r.text = "\"" + std::string(displayName) + "\" <" + RowAddress(r) + ">";
  r.known = true;
  r.ticked = false;
  changed_ = true;
  Sort();
}

std::string ContactsDialogModel::AddTicked(const ContactBook& book, const std::string& targetFolder,
                                           const std::string& targetCaption,
                                           std::vector<std::string>* errors) {
  const std::string root = store::WithSlash(book.contactsFolder);
  const std::string target = targetFolder.empty() ? root : store::WithSlash(targetFolder);
  const bool group = target != root;
  std::vector<std::string> members;
  bool added = false;
  for (ContactsDialogRow& row : rows_) {
    if (!row.ticked) continue;
    AddrRec rec = RecordForAddress(row.text);
    if (rec.primaryEmail.empty()) continue;
    // A contact that has the address already is reused: adding it to a group only links it.
    std::string name;
    if (const AddrAliasRec* hit = book.map->Find(AddressKey(rec.primaryEmail)); hit && !IsGroupSection(hit->section))
      name = hit->section;
    if (name.empty()) {
      SaveResult r = SaveContact(book, rec, "", root);
      if (!r.saved) {
        if (errors) errors->push_back(r.error.empty() ? r.refusal : r.error);
        continue;
      }
      name = r.name;
    }
    added = true;
    if (group) members.push_back(name);
    const AddrAliasRec* now = book.map->Find(AddressKey(rec.primaryEmail));
    row.text = "\"" + (now ? now->displayName : ContactTitle(rec)) + "\" <" + RowAddress(row) + ">";
    row.known = true;
  }
  if (group && !members.empty()) {
    FileStatus err;
    AddGroupMembers(*book.registry, target, members, &err);
    if (!err.ok() && errors) errors->push_back(err.message);
  }
  if (!added) return {};
  changed_ = true;
  Sort();
  return "Selected contacts have been added to " + (group ? "the group \"" + targetCaption + "\"" : targetCaption);
}

std::vector<std::string> ExistingContactEntries(const AddressMap& map, bool firstNameFirst) {
  std::vector<std::string> out;
  for (const auto& [key, rec] : map.Sorted()) {
    if (!rec.isPrimary || IsGroupSection(rec.section)) continue;
    out.push_back(FormatPersonName(rec.displayName, firstNameFirst) + " <" + key + ">");
  }
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    return LowerCase(a) < LowerCase(b);
  });
  return out;
}

int PreselectedEntry(const std::vector<std::string>& entries, std::string_view addressText) {
  const std::string name = Trim(DisplayNameOf(addressText));
  if (name.empty()) return -1;
  int found = -1;
  for (int i = 0; i < static_cast<int>(entries.size()); ++i)
    if (SameText(Trim(DisplayNameOf(entries[i])), name)) found = i;
  return found;
}

SaveResult AddToExistingContact(const ContactBook& book, std::string_view entry,
                                std::string_view addressText) {
  const AddrAliasRec* hit = book.map->Find(AddressKey(BareAddressOf(entry)));
  if (!hit || IsGroupSection(hit->section)) {
    SaveResult r;
    r.error = "Sorry, but this contact is no longer in the contact list.";
    return r;
  }
  return AddAddressToContact(book, hit->section, addressText);
}

}  // namespace px::contacts
