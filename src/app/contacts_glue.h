#pragma once
// Ties the contacts to the desk: the address map in the desk's state, built at start-up from
// the Contacts folder, so that the grid shows senders and recipients by contact name.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallContacts(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
