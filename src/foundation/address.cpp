#include "foundation/address.h"

namespace px {

StringList ParseAddressList(std::string_view) { return {}; }
bool IsGroupAddress(std::string_view) { return false; }
bool IsAddressList(std::string_view) { return false; }
std::string DisplayNameOf(std::string_view e) { return std::string(e); }
std::string BareAddressOf(std::string_view e) { return std::string(e); }
std::string StripServiceDomain(std::string_view a) { return std::string(a); }
std::string AddServiceDomain(std::string_view a) { return std::string(a); }
bool AddressInList(std::string_view, std::string_view) { return false; }
std::string FormatAddressElement(std::string_view, std::string_view a) { return std::string(a); }
std::string JoinAddressList(const StringList&) { return {}; }
std::string ExpandGroups(std::string_view l, std::string_view, const GroupMembersFn&) { return std::string(l); }
PersonName SplitPersonName(std::string_view) { return {}; }
std::string JoinPersonName(std::string_view, std::string_view, bool) { return {}; }
std::string FormatPersonName(std::string_view e, bool) { return std::string(e); }

}  // namespace px
