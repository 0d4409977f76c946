#pragma once
// Ties the information pop-up (TfrmHint) to the desk's grid: it shows what a click on the zone
// under the pointer does, or the document's information and preview, 500 ms after the pointer
// came to rest.
namespace px::desk {
class TfrmDesk;
class TfrmHint;
struct DeskState;
}  // namespace px::desk

namespace px::app {

px::desk::TfrmHint* InstallInfoHint(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
