#pragma once
// Address lists: the syntax of every address field (index keys Address/To/Cc/Bcc, compose
// and filter fields), service addresses and person names.
//
// A list is elements separated by "," or ";". An element is a bare address, a name followed
// by <address>, "quoted name" <address>, or a group: name + "." (stored form) or
// name + " (GROUP)" (shown form). Service users are kept without the service mail domain.
#include <functional>
#include <string>
#include <string_view>

#include "foundation/types.h"

namespace px {

// The mail service's own domain: its users are stored as bare user names.
inline constexpr std::string_view kServiceMailDomain = "plumadex.net";

// Shown-form suffix of a group element and the markers used when one name must be shown.
inline constexpr std::string_view kGroupSuffix = " (GROUP)";
inline constexpr std::string_view kGroupMarker = "(GROUP)";
inline constexpr std::string_view kListMarker = "(LIST)";

// The elements of an address list, trimmed, groups rewritten to the shown form.
StringList ParseAddressList(std::string_view text);
// Ends in "." without any ",", or ends in " (GROUP)" (any case).
bool IsGroupAddress(std::string_view s);
// Still contains "," or ";" once every "quoted" part is removed.
bool IsAddressList(std::string_view s);
// The name part of an element (group: name without suffix; <addr> alone: addr).
std::string DisplayNameOf(std::string_view element);
// The address part of an element without the service domain; groups are returned trimmed.
std::string BareAddressOf(std::string_view element);
// "user@plumadex.net" (any case) -> "user"; anything else unchanged.
std::string StripServiceDomain(std::string_view address);
// "user" -> "user@plumadex.net"; addresses with "@" and "" unchanged.
std::string AddServiceDomain(std::string_view address);
// Some element of list has the same bare address as address (without regard to case).
bool AddressInList(std::string_view listText, std::string_view address);

// Canonical written form of one person: "name" <address> (just the address when name is
// empty); and a list joined with ", ".
std::string FormatAddressElement(std::string_view displayName, std::string_view address);
std::string JoinAddressList(const StringList& elements);

// Members of a group (given by name, without suffix) in the canonical written form; empty
// when the group is unknown. Supplied by the contacts subsystem.
using GroupMembersFn = std::function<StringList(std::string_view groupName)>;
// Replaces every group element by its members, leaving out members whose bare address is in
// the comma list exclude and members already in the list; joined with ", ".
std::string ExpandGroups(std::string_view listText, std::string_view exclude,
                         const GroupMembersFn& membersOf);

struct PersonName {
  std::string first;
  std::string last;
};
// "Last, First" or "First [M.] Last".
PersonName SplitPersonName(std::string_view full);
// firstFirst: "First Last"; else "Last, First" (or whichever part exists).
std::string JoinPersonName(std::string_view first, std::string_view last, bool firstFirst);
// A group element unchanged; anything else split and joined.
std::string FormatPersonName(std::string_view element, bool firstFirst);

}  // namespace px
