#pragma once
// Ties the local address list to the desk: after every listing of the shown folder the worker
// derives its quick list and its people; "Activity Contacts" shows them as a menu (write to
// them, add or edit them as contacts, hide them in this folder), and the message windows offer
// the quick list.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk
namespace px::compose::ui {
class MessageWindows;
}

namespace px::app {

void InstallLocalAddresses(px::desk::TfrmDesk& desk, px::desk::DeskState& state,
                           px::compose::ui::MessageWindows* windows);

}  // namespace px::app
