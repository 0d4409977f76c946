#include "contacts/groups.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "foundation/address.h"
#include "foundation/file_status.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/folder_files.h"
#include "store/unique_names.h"

namespace px::contacts {

namespace fs = std::filesystem;

namespace {

// The title a group is named by in an address field or the address map.
std::string GroupTitleOf(std::string_view name) {
  std::string t = Trim(name);
  if (t.size() >= kGroupSuffix.size() &&
      SameText(std::string_view(t).substr(t.size() - kGroupSuffix.size()), kGroupSuffix))
    t.resize(t.size() - kGroupSuffix.size());
  else if (!t.empty() && t.back() == '.')
    t.pop_back();
  return Trim(t);
}

bool IsRealFolder(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(path, ec);
  return !ec && fs::is_directory(st);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Appends the members listed in one group folder's index.
void AppendMembers(const std::string& contactsFolder, store::IniRegistry& registry,
                   const std::string& groupFolder, bool firstNameFirst, StringList& out) {
  const std::string indexPath = store::IndexPathOf(groupFolder);
  if (!FileExists(indexPath)) return;
  StringList sections;
  {
    store::TPXIniFile group(registry, indexPath);
    group.ReadSections(sections);
    (void)group.Release();  // only read
  }
  if (sections.empty()) return;
  store::TPXIniFile contacts(registry, store::IndexPathOf(contactsFolder));
  for (const std::string& s : sections) {
    if (SameText(s, "$$.Plumadex")) continue;
    const std::string name = SplitTagPrefix(s).rest;
    if (name.empty()) continue;
    const std::string address = contacts.ReadString(name, "Address", "");
    if (Trim(address).empty()) continue;
    const std::string title = contacts.ReadString(name, "Title", "");
    out.push_back(FormatAddressElement(FormatPersonName(title, firstNameFirst), address));
  }
  (void)contacts.Release();  // only read
}

}  // namespace

std::string GroupFolderOf(const std::string& contactsFolder, store::IniRegistry& registry,
                          std::string_view name) {
  const std::string title = GroupTitleOf(name);
  if (title.empty() || contactsFolder.empty()) return {};
  const std::string root = store::WithSlash(contactsFolder);
  const std::string direct = root + SafeFileName(title);
  if (IsRealFolder(direct)) return direct + "/";
  // A folder whose name was made unique: its section carries the title.
  const std::string indexPath = store::IndexPathOf(root);
  if (FileExists(indexPath)) {
    store::TPXIniFile index(registry, indexPath);
    StringList sections;
    index.ReadSections(sections);
    std::string found;
    for (const std::string& s : sections) {
      if (s.size() < 2 || s.back() != '.' || !SplitTagPrefix(s).prefix.empty()) continue;
      if (!SameText(Trim(index.ReadString(s, "Title", "")), title)) continue;
      const std::string folder = s.substr(0, s.size() - 1);
      if (store::IsPlainFileName(folder) && IsRealFolder(root + folder)) {
        found = root + folder + "/";
        break;
      }
    }
    (void)index.Release();  // only read
    if (!found.empty()) return found;
  }
  return direct + "/";
}

StringList GroupMembers(const std::string& contactsFolder, store::IniRegistry& registry,
                        std::string_view name, bool firstNameFirst) {
  StringList out;
  const std::string folder = GroupFolderOf(contactsFolder, registry, name);
  if (folder.empty() || !IsRealFolder(folder.substr(0, folder.size() - 1))) return out;
  AppendMembers(store::WithSlash(contactsFolder), registry, folder, firstNameFirst, out);
  return out;
}

std::string GroupRecipientText(const std::string& contactsFolder, store::IniRegistry& registry,
                               const std::string& groupFolder, bool firstNameFirst) {
  const std::string root = store::WithSlash(contactsFolder);
  StringList members;
  std::set<std::string> visited;
  // Depth-first in name order; the visited set guards against a folder reached twice (bind
  // mounts, hard-linked folders), and symbolic links are never entered.
  std::vector<std::string> stack{store::WithSlash(groupFolder)};
  while (!stack.empty()) {
    const std::string folder = stack.back();
    stack.pop_back();
    const std::string bare = folder.substr(0, folder.size() - 1);
    if (!IsRealFolder(bare)) continue;
    std::error_code ec;
    const fs::path canonical = fs::canonical(bare, ec);
    if (ec || !visited.insert(canonical.string()).second) continue;
    AppendMembers(root, registry, folder, firstNameFirst, members);
    std::vector<std::string> subfolders;
    for (auto it = fs::directory_iterator(bare, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      const std::string n = it->path().filename().string();
      if (n.empty() || n[0] == '.') continue;
      std::error_code sec;
      if (it->is_symlink(sec) || !it->is_directory(sec)) continue;
      subfolders.push_back(n);
    }
    std::sort(subfolders.begin(), subfolders.end(),
              [](const std::string& a, const std::string& b) { return LowerCase(a) < LowerCase(b); });
    for (auto s = subfolders.rbegin(); s != subfolders.rend(); ++s) stack.push_back(folder + *s + "/");
  }
  return JoinAddressList(members);
}

int AddGroupMembers(store::IniRegistry& registry, const std::string& groupFolder,
                    const std::vector<std::string>& cardNames, FileStatus* error) {
  store::TPXIniFile group(registry, store::IndexPathOf(store::WithSlash(groupFolder)));
  StringList present;
  group.ReadSections(present);
  int added = 0;
  for (const std::string& name : cardNames) {
    if (name.empty()) continue;
    const std::string section = std::string(kContactLinkPrefix) + name;
    if (std::any_of(present.begin(), present.end(), [&](const std::string& s) { return SameText(s, section); }))
      continue;
    present.push_back(section);
    // An empty section: the member's keys are read from the Contacts folder's index.
    group.WriteString(section, "Flags", "0");
    group.DeleteKey(section, "Flags");
    ++added;
  }
  FileStatus st = group.Release();
  if (!st.ok() && error) *error = st;
  return st.ok() ? added : 0;
}

std::vector<GroupInfo> ListGroups(const std::string& contactsFolder, store::IniRegistry& registry) {
  std::vector<GroupInfo> groups;
  const std::string root = store::WithSlash(contactsFolder);
  std::error_code ec;
  std::vector<std::string> names;
  for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string n = it->path().filename().string();
    std::error_code sec;
    if (n.empty() || n[0] == '.' || it->is_symlink(sec) || !it->is_directory(sec)) continue;
    names.push_back(n);
  }
  if (names.empty()) return groups;
  const std::string indexPath = store::IndexPathOf(root);
  const bool haveIndex = FileExists(indexPath);
  std::optional<store::TPXIniFile> index;
  if (haveIndex) index.emplace(registry, indexPath);
  for (const std::string& n : names) {
    std::string caption = index ? Trim(index->ReadString(n + ".", "Title", "")) : std::string();
    groups.push_back({root + n + "/", caption.empty() ? n : caption});
  }
  if (index) (void)index->Release();  // only read
  std::sort(groups.begin(), groups.end(), [](const GroupInfo& a, const GroupInfo& b) {
    return LowerCase(a.caption) < LowerCase(b.caption);
  });
  return groups;
}

GroupInfo CreateGroup(const std::string& contactsFolder, store::IniRegistry& registry,
                      std::string_view title, std::string* error) {
  const std::string t = Trim(title);
  if (t.empty() || contactsFolder.empty()) return {};
  const std::string root = store::WithSlash(contactsFolder);
  for (int attempt = 0; attempt < 20; ++attempt) {
    store::UniqueName u = store::UniqueFileName(root, t, "");
    if (!u.ok) break;
    std::error_code ec;
    // create_directory reports false when something of that name appeared meanwhile.
    if (!fs::create_directory(root + u.fileName, ec)) {
      if (ec) {
        if (error) *error = FileErrorText("create", root + u.fileName, {}, ec.value());
        return {};
      }
      continue;
    }
    store::TPXIniFile index(registry, store::IndexPathOf(root));
    index.WriteString(u.fileName + ".", "Title", t);
    FileStatus st = index.Release();
    if (!st.ok() && error) *error = st.message;
    return {root + u.fileName + "/", t};
  }
  if (error) *error = "Cannot create a folder for the group " + t + " in " + root;
  return {};
}

}  // namespace px::contacts
