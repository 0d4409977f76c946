#pragma once
// Ties the import window to the desk: File > "Import..." (also the Import page of the Options)
// opens it; when it closes, the imported mail waiting in the spool is filed and the contacts
// relisted; File > "Import Contacts..." asks for vCard files as the contacts part does.
namespace px::desk {
class TfrmDesk;
struct DeskState;
}  // namespace px::desk

namespace px::app {

void InstallImport(px::desk::TfrmDesk& desk, px::desk::DeskState& state);

}  // namespace px::app
