#pragma once
// Address groups: subfolders of the Contacts folder whose index lists the members as link
// entries ("$$$AB." + the card's file name). A group stands in address fields as its title +
// " (GROUP)" and is replaced by its members when mail is sent.
#include <string>
#include <string_view>
#include <vector>

#include "foundation/types.h"
#include "store/index_file.h"

namespace px::contacts {

// The section prefix of a link entry to a contact of the Contacts folder.
inline constexpr std::string_view kContactLinkPrefix = "$$$AB.";

// The folder of a group named by its title, its address-field entry ("title (GROUP)") or its
// section name ("name."); "" when the name cannot be a group. A group whose folder name
// differs from its title (the name was made unique) is found through the Titles of the
// Contacts folder's index.
std::string GroupFolderOf(const std::string& contactsFolder, store::IniRegistry& registry,
                          std::string_view name);

// The members of a group as address-list elements ("Name" <address>), the name in the name
// order; members without an address are left out. Empty when the group has no index.
StringList GroupMembers(const std::string& contactsFolder, store::IniRegistry& registry,
                        std::string_view name, bool firstNameFirst);

// The recipient text of a drop on a group: its members, then those of its subfolders, all the
// way down, joined with ", ". Symbolic links are not followed and no folder is visited twice.
std::string GroupRecipientText(const std::string& contactsFolder, store::IniRegistry& registry,
                               const std::string& groupFolder, bool firstNameFirst);

// Writes a link entry for each card name into the group's index (existing entries stay).
// Returns the number of entries added.
int AddGroupMembers(store::IniRegistry& registry, const std::string& groupFolder,
                    const std::vector<std::string>& cardNames, FileStatus* error = nullptr);

struct GroupInfo {
  std::string folder;   // with trailing "/"
  std::string caption;  // the Title in the Contacts index, else the folder name
};
// The groups directly below the Contacts folder, sorted by caption without regard to case.
std::vector<GroupInfo> ListGroups(const std::string& contactsFolder, store::IniRegistry& registry);

// Makes a new group folder in the Contacts folder for a title typed by the user: the folder
// name is made safe (no separators, no dot-names) and unique, and the Contacts index gets the
// section folder name + "." with the Title. Returns the group ("" folder when the title is
// empty after trimming or the folder could not be made, with *error set in the latter case).
GroupInfo CreateGroup(const std::string& contactsFolder, store::IniRegistry& registry,
                      std::string_view title, std::string* error = nullptr);

}  // namespace px::contacts
