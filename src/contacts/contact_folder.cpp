#include "contacts/contact_folder.h"

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "contacts/contact_summary.h"
#include "foundation/address.h"
#include "foundation/atomic_file.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_record.h"
#include "store/folder_files.h"
#include "store/section_lines.h"

namespace px::contacts {

namespace fs = std::filesystem;

std::string ContactTitle(const AddrRec& rec) {
  std::string first = Trim(rec.firstName), last = Trim(rec.lastName);
  if (first.empty() && last.empty()) return Trim(rec.organisation);
  return JoinPersonName(first, last, false);
}

std::string SyncTitle(const AddrRec& rec) {
  if (Trim(rec.firstName).empty() && Trim(rec.lastName).empty())
    return rec.organisation.empty() ? std::string() : Trim(rec.organisation) + ", ";
  return Trim(Trim(rec.lastName) + ", " + Trim(rec.firstName));
}

void WriteContactKeys(TPXCustomIni& index, std::string_view section, const AddrRec& rec,
                      std::string_view title) {
  index.WriteString(section, "Title", title);
  index.WriteString(section, "Address", rec.primaryEmail);
  std::string others;
  for (const std::string& e : rec.OtherEmailList()) {
    if (!others.empty()) others += ", ";
    others += e;
  }
  if (others.empty()) index.DeleteKey(section, "Addresses");
  else index.WriteString(section, "Addresses", others);
}

int64_t ContactFileStamp(const std::string& path) {
  QFileInfo info(QString::fromStdString(path));
  if (!info.exists()) return 0;
  QDateTime t = info.lastModified();
  QDate d = t.date();
  QTime h = t.time();
  if (d.year() < 1980) return 0;
  int64_t date = ((d.year() - 1980) << 9) | (d.month() << 5) | d.day();
  int64_t time = (h.hour() << 11) | (h.minute() << 5) | (h.second() / 2);
  return (date << 16) | time;
}

SyncResult SynchroniseContacts(const std::string& contactsFolder, store::IniRegistry& registry,
                               AddressMap& map, bool firstNameFirst, StringList* alwaysEncrypt) {
  SyncResult result;
  std::string folder = store::WithSlash(contactsFolder);
  store::TPXIniFile index(registry, store::IndexPathOf(folder));

  // Groups: every real subfolder (links are not followed) has its section with a Title.
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    std::error_code sec;
    if (!e.is_directory(sec) || e.is_symlink(sec)) continue;
    std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::string section = name + ".";
    if (index.ReadString(section, "Title", "").empty()) index.WriteString(section, "Title", name);
  }

  // Cards whose file changed since the entry was written.
  for (const store::FolderFile& f : store::EnumerateFolderFiles(folder)) {
    if (!SameText(store::ExtensionOf(f.name), "vcf")) continue;
    std::string path = folder + f.name;
    int64_t stamp = ContactFileStamp(path);
    if (index.ReadInteger(f.name, "Time", -1) == stamp) continue;
    std::optional<AddrRec> rec = ReadContactFile(path);
    if (!rec) continue;
    WriteContactKeys(index, f.name, *rec, SyncTitle(*rec));
    index.WriteInteger(f.name, "Time", stamp);
    ++result.cardsRead;
  }

  // Entries whose file is gone, and (for a group) whose folder is gone too.
  StringList sections;
  index.ReadSections(sections);
  for (const std::string& s : sections) {
    if (SameText(s, "$$.Plumadex")) continue;
    if (!index.ReadString(s, "Path", "").empty()) continue;  // kept where it points
    std::string name = SplitTagPrefix(s).rest;
    if (!store::IsPlainFileName(name)) continue;
    if (!store::PathIsGone(folder + name)) continue;
    if (IsGroupSection(s) && store::FolderExists(folder + name.substr(0, name.size() - 1))) continue;
    index.EraseSection(s);
    ++result.sectionsErased;
  }
  FileStatus st = index.UpdateFile();
  if (!st.ok()) result.errors.push_back(st);

  map.Build(index, firstNameFirst);
  if (alwaysEncrypt) *alwaysEncrypt = BuildAlwaysEncryptList(index);
  st = index.Release();
  if (!st.ok()) result.errors.push_back(st);
  return result;
}

std::string PlaceNewContactFile(const std::string& folder, const AddrRec& rec,
                                RandomSource& random, FileStatus* error) {
  FileStatus st;
  const std::string name = PlaceNewFile(store::WithSlash(folder), WriteVCard(rec, RevStamp()),
                                        [&random](int) { return NewUniqueId(random) + ".vcf"; }, &st);
  if (name.empty() && error) *error = st;
  return name;
}

std::string DuplicateAddressMessage(std::string_view displayName, std::string_view address) {
  return "Sorry, but such an address is already present in contact list:\r\"" +
         std::string(displayName) + "\" <" + std::string(address) + ">";
}

}  // namespace px::contacts

namespace px::contacts {

namespace {

// Adds the contact's addresses to the map, so that later cards of the same import see them.
void MapAddresses(AddressMap& map, const std::string& name, const AddrRec& rec, bool firstNameFirst) {
  const std::string display = ContactDisplayName(ContactTitle(rec), firstNameFirst);
  bool primary = true;
  std::vector<std::string> all{rec.primaryEmail};
  for (const std::string& e : rec.OtherEmailList()) all.push_back(e);
  for (const std::string& e : all) {
    const std::string key = AddressKey(e);
    if (!key.empty()) map.Insert(key, AddrAliasRec{name, display, primary});
    primary = false;
  }
}

}  // namespace

ImportResult ImportContactCards(const std::string& contactsFolder, std::string_view text,
                                store::IniRegistry& registry, AddressMap& map,
                                bool firstNameFirst, RandomSource& random,
                                const SharedAddressResolver& shared) {
  ImportResult result;
  std::string folder = store::WithSlash(contactsFolder);
  SynchroniseContacts(folder, registry, map, firstNameFirst);
  std::vector<AddrRec> cards = ReadVCards(text);
  for (size_t i = 0; i < cards.size(); ++i) {
    AddrRec& rec = cards[i];
    if (Trim(rec.firstName).empty() && Trim(rec.lastName).empty() &&
        Trim(rec.organisation).empty() && rec.primaryEmail.empty() && rec.otherEmails.empty()) {
      ++result.empty;
      continue;
    }
    // The first address of the card that a contact already has.
    std::optional<AddrAliasRec> hit;
    std::string sharedKey;
    std::vector<std::string> addresses{rec.primaryEmail};
    for (const std::string& e : rec.OtherEmailList()) addresses.push_back(e);
    for (const std::string& e : addresses) {
      const std::string key = AddressKey(e);
      const AddrAliasRec* found = key.empty() ? nullptr : map.Find(key);
      if (!found || IsGroupSection(found->section)) continue;
      hit = *found;
      sharedKey = key;
      break;
    }
    if (hit) {
      SharedAddressQuestion q;
      q.incoming = rec;
      q.existingName = hit->section;
      q.existingDisplay = hit->displayName;
      q.address = sharedKey;
      q.remaining = static_cast<int>(cards.size() - i - 1);
      std::optional<AddrRec> existing;
      if (store::IsPlainFileName(hit->section)) existing = ReadContactFile(folder + hit->section);
      if (existing) q.existing = *existing;
      const SharedAddressChoice choice = shared ? shared(q) : SharedAddressChoice::Skip;
      if (choice == SharedAddressChoice::Skip) {
        ++result.known;
        continue;
      }
      if (choice == SharedAddressChoice::Merge) {
        if (!existing) {
          result.errors.push_back("Cannot read " + folder + hit->section);
          continue;
        }
        const AddrRec merged = MergeContact(*existing, rec);
        const std::string path = folder + hit->section;
        if (FileStatus st = WriteContactFile(merged, path); !st.ok()) {
          result.errors.push_back(st.message);
          continue;
        }
        store::TPXIniFile index(registry, store::IndexPathOf(folder));
        WriteContactKeys(index, hit->section, merged, ContactTitle(merged));
        index.WriteInteger(hit->section, "Time", ContactFileStamp(path));
        if (FileStatus st = index.Release(); !st.ok()) result.errors.push_back(st.message);
        MapAddresses(map, hit->section, merged, firstNameFirst);
        result.mergedInto.push_back(hit->section);
        ++result.merged;
        continue;
      }
      ++result.keptBoth;
    }
    FileStatus err;
    std::string name = PlaceNewContactFile(folder, rec, random, &err);
    if (name.empty()) {
      result.errors.push_back(err.message);
      continue;
    }
    {
      store::TPXIniFile index(registry, store::IndexPathOf(folder));
      WriteContactKeys(index, name, rec, ContactTitle(rec));
      index.WriteInteger(name, "Flags", rec.encrypt && rec.primaryEmail.find('@') == std::string::npos
                                            ? store::dfEncrypted : 0);
      index.WriteInteger(name, "Time", ContactFileStamp(folder + name));
      FileStatus st = index.Release();
      if (!st.ok()) result.errors.push_back(st.message);
    }
    // Later cards of the same file see this one.
    MapAddresses(map, name, rec, firstNameFirst);
    result.files.push_back(name);
    ++result.imported;
  }
  return result;
}

}  // namespace px::contacts

namespace px::contacts {

store::ContactCardDetails CardDetailsOf(const std::string& cardPath) {
  store::ContactCardDetails d;
  std::optional<AddrRec> rec = ReadContactFile(cardPath);
  if (!rec) return d;
  for (uint8_t kind : VisiblePhoneKinds(*rec)) {
    if (kind >= kPhoneKinds || rec->phones[kind].empty()) continue;
    d.detailLines.push_back(std::string(PhoneKindName(kind)) + ": " + rec->phones[kind]);
  }
  for (const std::string& n : KeptPhoneNumbers(*rec)) d.detailLines.push_back(std::string(PhoneKindName(pkOther)) + ": " + n);
  d.furtherAddresses = rec->OtherEmailList();
  d.hasFurtherAddresses = true;
  return d;
}

}  // namespace px::contacts
