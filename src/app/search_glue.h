#pragma once
// Ties the filter panel to the desk: the action "Search" (Ctrl+F) opens the panel under the grid
// or closes it; "Search" filters the shown folder's listing and, with "Search in subfolders",
// runs the background search over its tree, with the progress in the status bar and one message
// naming the files that could not be searched.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallSearch(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
