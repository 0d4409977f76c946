#pragma once
// Puts the desk together: the welcome window before the start-up runs, then every part's
// windows (messages, opened documents, transfers, options, contacts) around the desk window.
// The program's main and the journey tests build the same desk through it.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

// Call right after the desk window is made, before its event loop runs. False when this
// start ends here (it handed its request to the running desk, or found one): the caller
// shows the queued messages and returns.
bool AssembleDesk(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
