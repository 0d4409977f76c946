#pragma once
// Ties mail transfers to the desk: the Send/Receive actions, the automatic check, the progress
// bars with their stop buttons in the status bar, the end-of-run filing and the network state.
namespace px::desk {
class TfrmDesk;
struct DeskState;
class TransferRun;
}  // namespace px::desk

namespace px::app {

px::desk::TransferRun* InstallTransfers(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
