#include "app/message_windows_glue.h"

#include "compose/ui/message_windows.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/tree_view.h"
#include "foundation/strings.h"
#include "store/doc_record.h"

namespace px::app {

px::compose::ui::MessageWindows* InstallMessageWindows(px::desk::TfrmDesk& desk, px::desk::DeskState& state) {
  using namespace px::compose::ui;
  MessageWindowsConfig cfg;
  cfg.settings = &state.settings;
  cfg.messages = &state.messages;
  cfg.tempFolder = state.locations.tempFolder;
  cfg.dataRoot = state.locations.dataRoot;
  cfg.documentsFolder = state.locations.documents;
  auto* browser = desk.findChild<px::desk::DeskBrowser*>();
  // The lists and sent.ini are made during the desk's initialisation: read them when filing.
  store::OpServices& ops = cfg.opServices;
  ops.registry = &state.indexRegistry;
  ops.messages = &state.messages;
  ops.documentsFolder = state.locations.documents;
  ops.trashFolder = state.locations.trash;
  ops.contactsFolder = state.locations.contacts;
  cfg.online = [&desk] { return !desk.hooks().internetAvailable || desk.hooks().internetAvailable(); };
  // A send-only run through the desk's transfer entry (the send thread picks the pending message).
  cfg.sendNow = [&desk](const std::string&) {
    if (desk.hooks().startTransfer) desk.hooks().startTransfer(px::desk::TransferKind::Send);
  };
  cfg.filed = [browser] {
    if (browser) browser->Relist();
  };
  // The lists and sent.ini exist only once the desk has initialised.
  cfg.refreshServices = [&state](store::OpServices& s) {
    s.unread = state.unreadList;
    s.newMail = state.newMailList;
    s.sent = state.sentIni;
    s.ownFromAddress = state.ownFromAddress;
  };
  auto* windows = new MessageWindows(std::move(cfg), &desk);
  desk.hooks().openMailto = [windows, &state](const std::string& url) {
    windows->NewMessage(state.locations.documents, url);
  };
  if (browser) {
    browser->openDocument = [windows](const store::DocRecord& r) {
      if (!IsMessageExt(r.ext) || r.IsContact()) return false;
      if (r.IsLink()) {
        const std::string path = r.FilePath();
        const size_t slash = path.rfind('/');
        return windows->OpenDocument(path.substr(0, slash + 1), path.substr(slash + 1)) != nullptr;
      }
      return windows->OpenDocument(r.folder, r.name, r.prefix) != nullptr;
    };
  }
  return windows;
}

}  // namespace px::app
