#pragma once
// Ties the Quickboard to the desk: the bar in the desk's top panel over quickboard.ini, its
// commands (move and customise icons, the bar's height), what a button opens, documents and
// folders carried onto a button, and the buttons following what the document operations move.
namespace px::desk {
class TfrmDesk;
class DocumentOpener;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallQuickboard(px::desk::TfrmDesk& desk, px::desk::DeskState& state, px::desk::DocumentOpener* opener);

}  // namespace px::app
