#pragma once
// Ties mail transfers to the desk: the Send/Receive actions, the automatic check, the progress
// bars with their stop buttons in the status bar, the end-of-run filing and the network state.
#include <string>

namespace px::desk {
class TfrmDesk;
struct DeskState;
class TransferRun;
}  // namespace px::desk

namespace px::app {

px::desk::TransferRun* InstallTransfers(px::desk::TfrmDesk& desk, px::desk::DeskState& state);
// The service password the next runs use, after a password change.
void SetServicePassword(px::desk::TfrmDesk& desk, const std::string& password);

}  // namespace px::app
