#include "app/desk_parts_glue.h"

#include "app/address_setup_glue.h"
#include "app/contacts_glue.h"
#include "app/document_opener_glue.h"
#include "app/import_glue.h"
#include "app/info_hint_glue.h"
#include "app/local_addresses_glue.h"
#include "app/mail_sort_glue.h"
#include "app/message_windows_glue.h"
#include "app/options_glue.h"
#include "app/quickboard_glue.h"
#include "app/search_glue.h"
#include "app/transfer_glue.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"

namespace px::app {

bool AssembleDesk(desk::TfrmDesk& desk, desk::DeskState& state) {
  InstallAddressSetup(desk, state);  // before the start-up timer fires
  if (desk.startResult() != desk::DeskController::StartResult::Run) return false;
  auto* windows = InstallMessageWindows(desk, state);
  auto* opener = InstallDocumentOpener(desk, state);
  InstallTransfers(desk, state);
  InstallOptions(desk, state);
  InstallSearch(desk, state);
  InstallImport(desk, state);
  InstallQuickboard(desk, state, opener);
  InstallInfoHint(desk, state);
  InstallLocalAddresses(desk, state, windows);
  InstallMailSorting(desk, state);
  // Last: it wraps the grid's handlers the others set.
  InstallContacts(desk, state);
  return true;
}

}  // namespace px::app
