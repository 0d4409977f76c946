#pragma once
// Ties mail transfers to the desk: the Send/Receive actions, the automatic check, the progress
// bars with their stop buttons in the status bar, the end-of-run filing and the network state.
#include <optional>
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
// The service password as the runs have it, asked for (and kept for the runs) when there is
// none; nullopt when the user declined.
std::optional<std::string> ServicePasswordOf(px::desk::TfrmDesk& desk);

}  // namespace px::app
