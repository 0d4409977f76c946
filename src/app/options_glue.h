#pragma once
// Ties the option pages that exist as windows to the desk: opening "External e-mail
// configuration" in the tools tree shows the accounts window.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallOptions(px::desk::TfrmDesk& desk, px::desk::DeskState& state);
// The accounts window, modal over the desk.
void OpenAccountsPage(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
