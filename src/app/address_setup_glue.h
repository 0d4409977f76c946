#pragma once
// Ties the service address set-up (the welcome and address windows) to the desk's start-up.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallAddressSetup(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
