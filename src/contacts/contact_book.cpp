#include "contacts/contact_book.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <unistd.h>

#include "contacts/contact_folder.h"
#include "contacts/groups.h"
#include "foundation/address.h"
#include "foundation/atomic_file.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/folder_files.h"

namespace px::contacts {

namespace {

void RemoveFromList(StringList& list, const std::string& key) {
  if (key.empty()) return;
  list.erase(std::remove(list.begin(), list.end(), key), list.end());
}

void AddToList(StringList& list, const std::string& key) {
  if (key.empty()) return;
  auto it = std::lower_bound(list.begin(), list.end(), key);
  if (it == list.end() || *it != key) list.insert(it, key);
}

}  // namespace

bool ContactIsEmpty(const AddrRec& rec) {
  return Trim(rec.firstName).empty() && Trim(rec.lastName).empty() &&
         Trim(rec.organisation).empty() && Trim(rec.primaryEmail).empty() &&
         rec.OtherEmailList().empty();
}

std::string DuplicateRefusal(const AddressMap& map, const AddrRec& rec, std::string_view self) {
  std::vector<std::string> addresses{rec.primaryEmail};
  for (const std::string& e : rec.OtherEmailList()) addresses.push_back(e);
  for (const std::string& a : addresses) {
    const std::string key = AddressKey(a);
    if (key.empty()) continue;
    const AddrAliasRec* hit = map.Find(key);
    if (!hit || IsGroupSection(hit->section)) continue;
    if (!self.empty() && hit->section == self) continue;
    return DuplicateAddressMessage(hit->displayName, key);
  }
  return {};
}

LoadedContact LoadContact(const ContactBook& book, std::string_view name) {
  LoadedContact out;
  if (name.empty()) return out;
  const std::string folder = store::WithSlash(book.contactsFolder);
  std::optional<AddrRec> rec = ReadContactFile(folder + std::string(name));
  if (!rec) return out;
  out.rec = std::move(*rec);
  store::TPXIniFile index(*book.registry, store::IndexPathOf(folder));
  out.flags = index.ReadInteger(name, "Flags", 0);
  (void)index.Release();  // only read
  out.rec.encrypt = (out.flags & store::dfEncrypted) != 0;
  out.ok = true;
  return out;
}

SaveResult SaveContact(const ContactBook& book, AddrRec rec, std::string_view existing,
                       const std::string& shownFolder) {
  SaveResult result;
  rec.primaryEmail = StripServiceDomain(Trim(rec.primaryEmail));
  if (ContactIsEmpty(rec)) {
    result.refusal = std::string(kEmptyContactRefusal);
    return result;
  }
  if (std::string refusal = DuplicateRefusal(*book.map, rec, existing); !refusal.empty()) {
    result.refusal = std::move(refusal);
    return result;
  }
  // Only users of the mail service (an address without "@") can be encrypted to.
  if (rec.primaryEmail.find('@') != std::string::npos || rec.primaryEmail.empty()) rec.encrypt = false;

  const std::string folder = store::WithSlash(book.contactsFolder);
  std::string name(existing);
  std::string oldAddress;
  if (name.empty()) {
    FileStatus err;
    name = PlaceNewContactFile(folder, rec, *book.random, &err);
    if (name.empty()) {
      result.error = err.message;
      return result;
    }
  } else {
    if (!store::IsPlainFileName(name)) {
      result.error = "Cannot write " + folder + name;
      return result;
    }
    FileStatus st = WriteContactFile(rec, folder + name);
    if (!st.ok()) {
      result.error = st.message;
      return result;
    }
  }

  store::TPXIniFile index(*book.registry, store::IndexPathOf(folder));
  if (!existing.empty()) oldAddress = index.ReadString(name, "Address", "");
  WriteContactKeys(index, name, rec, ContactTitle(rec));
  int64_t flags = index.ReadInteger(name, "Flags", 0);
  flags = rec.encrypt ? (flags | store::dfEncrypted) : (flags & ~int64_t(store::dfEncrypted));
  index.WriteInteger(name, "Flags", flags);
  index.WriteInteger(name, "Time", ContactFileStamp(folder + name));
  FileStatus st = index.UpdateFile();
  if (!st.ok()) result.error = st.message;
  book.map->Build(index, book.firstNameFirst);
  (void)index.Release();  // the save above has told of a failure

  if (book.alwaysEncrypt) {
    RemoveFromList(*book.alwaysEncrypt, AddressKey(oldAddress));
    if (rec.encrypt) AddToList(*book.alwaysEncrypt, AddressKey(rec.primaryEmail));
  }

  // A contact made while a group or another folder is shown is shown there too.
  const std::string shown = shownFolder.empty() ? folder : store::WithSlash(shownFolder);
  if (existing.empty() && shown != folder) {
    FileStatus linkErr;
    AddGroupMembers(*book.registry, shown, {name}, &linkErr);
    if (!linkErr.ok() && result.error.empty()) result.error = linkErr.message;
  }
  result.saved = result.error.empty();
  result.name = name;
  return result;
}

SaveResult AddAddressToContact(const ContactBook& book, std::string_view name,
                               std::string_view address) {
  SaveResult result;
  LoadedContact c = LoadContact(book, name);
  if (!c.ok) {
    result.error = "Cannot read " + store::WithSlash(book.contactsFolder) + std::string(name);
    return result;
  }
  const std::string bare = StripServiceDomain(Trim(BareAddressOf(address)));
  if (bare.empty()) return result;
  const std::string key = AddressKey(bare);
  bool present = AddressKey(c.rec.primaryEmail) == key;
  for (const std::string& e : c.rec.OtherEmailList()) present = present || AddressKey(e) == key;
  if (!present) {
    if (!Trim(c.rec.otherEmails).empty()) c.rec.otherEmails += ", ";
    c.rec.otherEmails += bare;
  }
  return SaveContact(book, c.rec, name, book.contactsFolder);
}

std::string DropImportResult::Summary() const {
  std::string s;
  if (imported) s = std::to_string(imported) + (imported == 1 ? " contact was" : " contacts were") + " added to Contacts.";
  if (merged) {
    if (!s.empty()) s += "\r";
    s += std::to_string(merged) + (merged == 1 ? " card was" : " cards were") + " merged into the contact with the same address.";
  }
  if (known) {
    if (!s.empty()) s += "\r";
    s += std::to_string(known) + (known == 1 ? " card was" : " cards were") + " left out: the address is already in the contact list.";
  }
  if (empty) {
    if (!s.empty()) s += "\r";
    s += std::to_string(empty) + (empty == 1 ? " card was" : " cards were") + " left out: no name, organization or address.";
  }
  return s;
}

DropImportResult ImportDroppedCards(const ContactBook& book, const std::vector<std::string>& paths,
                                    const SharedAddressResolver& shared) {
  DropImportResult out;
  for (const std::string& path : paths) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxCardFileSize) {
      out.errors.push_back(ec ? FileErrorText("read", path, {}, ec.value())
                              : "Cannot read " + path + "\r\rThe file is too large for a contact card.");
      continue;
    }
    std::string text;
    if (const FileStatus st = ReadWholeFile(path, text, kMaxCardFileSize); !st.ok()) {
      out.errors.push_back(st.message);
      continue;
    }
    ImportResult r = ImportContactCards(book.contactsFolder, text, *book.registry, *book.map,
                                        book.firstNameFirst, *book.random, shared);
    out.imported += r.imported;
    out.known += r.known;
    out.merged += r.merged;
    for (auto* names : {&r.files, &r.mergedInto})
      for (const std::string& n : *names)
        if (std::find(out.contacts.begin(), out.contacts.end(), n) == out.contacts.end()) out.contacts.push_back(n);
    out.empty += r.empty;
    for (auto& e : r.errors) out.errors.push_back(std::move(e));
  }
  if (out.imported || out.merged) {
    // The map now sees the new cards with their final titles.
    store::TPXIniFile index(*book.registry, store::IndexPathOf(store::WithSlash(book.contactsFolder)));
    book.map->Build(index, book.firstNameFirst);
    if (book.alwaysEncrypt) *book.alwaysEncrypt = BuildAlwaysEncryptList(index);
    (void)index.Release();  // only read
  }
  return out;
}

std::string ContactAttachmentCopy(const std::string& cardPath, const std::string& folder,
                                  RandomSource& random, FileStatus* error) {
  std::string card;
  FileStatus st = ReadWholeFile(cardPath, card);
  if (!st.ok()) {
    if (error) *error = st;
    return {};
  }
  // Two contacts sent in the same moment never share a copy: a taken name is never replaced.
  const std::string dir = store::WithSlash(folder);
  const std::string name =
      PlaceNewFile(dir, card, [&random](int) { return "$$PXtmp" + NewUniqueId(random) + ".vcf"; }, &st);
  if (name.empty()) {
    if (error) *error = st;
    return {};
  }
  return dir + name;
}

}  // namespace px::contacts
