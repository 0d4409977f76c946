#pragma once
// Ties the service address set-up (the welcome and address windows) to the desk's start-up
// and to the options.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallAddressSetup(px::desk::TfrmDesk& desk, px::desk::DeskState& state);
// The welcome window, modal; from the options the user may set up or change the address at
// any time. True when an address was stored.
bool RunAddressSetupWindows(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
