#pragma once
// Ties the desk's document opener to the desk: the grid's open action (after the message
// window's own ".txt"/".eml" handling), "Open with", "Print" and "New" in the row menu, the
// once-a-second watch of opened documents, and the close refusal while documents are open.
namespace px::desk {
class TfrmDesk;
struct DeskState;
class DocumentOpener;
}  // namespace px::desk

namespace px::app {

px::desk::DocumentOpener* InstallDocumentOpener(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
