#pragma once
// Ties the message windows to the desk: the desk's mailto hand-over opens a filled-in new
// message, ".txt" and ".eml" documents of the grid open in the message window, and queued
// messages are filed into the folder they belong to.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk
namespace px::compose::ui {
class MessageWindows;
}

namespace px::app {

px::compose::ui::MessageWindows* InstallMessageWindows(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
