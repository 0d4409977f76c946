#pragma once
// Ties the contacts to the desk: the address map in the desk's state, built at start-up from
// the Contacts folder, so that the grid shows senders and recipients by contact name; the
// contact editor on opening a card and for a new contact; "Add to Contacts"; messages started
// from a contact's address; cards dropped on the contacts view. Installed after the other
// parts, so that it sees the grid's handlers they set.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/address.h"
#include "foundation/types.h"

class QWidget;

namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallContacts(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

// For the message windows: the contacts as address entries ("Name <address>", groups as
// "title (GROUP)"), the members of a group, and "Add to Contacts" for an address field.
StringList ContactEntries(px::desk::TfrmDesk& desk, px::desk::DeskState& state);
GroupMembersFn GroupMembersOf(px::desk::DeskState& state);
// Whether mail to an address is always to be encrypted (its contact says so; only with PGP).
std::function<bool(std::string_view)> AlwaysEncryptOf(px::desk::DeskState& state);
void AddToContacts(px::desk::TfrmDesk& desk, const std::vector<std::string>& addressTexts, QWidget* parent);

}  // namespace px::app
