#pragma once
// Ties the option pages to the desk: a row of the tools tree's "Options" opens the options
// window at that page; the fonts of the settings are applied to the trees and the grid at
// start-up and whenever the user picks another one.
#include <string>

namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallOptions(px::desk::TfrmDesk& desk, px::desk::DeskState& state);
// The accounts window, modal over the desk.
void OpenAccountsPage(px::desk::TfrmDesk& desk, px::desk::DeskState& state);
// The options window at the page with this caption, modal over the desk.
void OpenOptionsPage(px::desk::TfrmDesk& desk, px::desk::DeskState& state, const std::string& caption);
// The folder and file fonts and the highlighting of the settings, applied to the desk.
void ApplyDeskLook(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
