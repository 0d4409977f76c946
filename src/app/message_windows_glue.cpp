#include "app/message_windows_glue.h"

#include "app/contacts_glue.h"
#include "desk/ui/carry_view.h"

#include "compose/ui/message_windows.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/tree_view.h"
#include "foundation/strings.h"
#include "foundation/message_queue.h"
#include "foundation/settings.h"
#include "store/doc_record.h"
#include "transport/identities.h"

#include <memory>

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
  // Send Now is a send-only transfer run: whatever is pending goes, each message by the route
  // its From chose (the service, or the account's outgoing server).
  cfg.sendNow = [&desk](const std::string&) {
    if (desk.hooks().startTransfer) desk.hooks().startTransfer(px::desk::TransferKind::Send);
  };
  cfg.sendRefusal = [&state](const std::string& from, const std::string& recipients) {
    return transport::SendRefusal(state.settings, from, recipients);
  };
  cfg.filed = [browser] {
    if (browser) browser->Relist();
  };
  // The lists and sent.ini exist only once the desk has initialised.
  cfg.refreshServices = [&state](store::OpServices& s) {
    s.unread = state.unreadList.get();
    s.newMail = state.newMailList.get();
    s.sent = state.sentIni.get();
    s.ownFromAddress = state.ownFromAddress;
  };
  cfg.contactEntries = [&desk, &state] { return ContactEntries(desk, state); };
  cfg.groupMembers = GroupMembersOf(state);
  cfg.encryptionReady = [&state] { return state.pgp && state.pgp->Available(); };
  cfg.alwaysEncrypt = AlwaysEncryptOf(state);
  cfg.addToContacts = [&desk](const std::string& addresses, QWidget* parent) {
    AddToContacts(desk, {addresses}, parent);
  };
  auto* windows = new MessageWindows(std::move(cfg), &desk);
  desk.hooks().openMailto = [windows, &state](const std::string& url) {
    windows->NewMessage(state.locations.documents, url);
  };
  // New Message (menu bar, toolbar, Ctrl+N, context menus): filed in the shown folder when it
  // is one of the user's folders, else in the documents folder.
  desk.commands().Provide("actNewMessage", [windows, browser, &state] {
    std::string folder = state.locations.documents;
    if (browser && browser->CurrentTab() == px::desk::GridTab::Files && !browser->ShownRestricted() &&
        !browser->ShownFolder().empty())
      folder = browser->ShownFolder();
    windows->NewMessage(folder);
  });
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
    // Documents carried onto a person: a new message to that person with them attached.
    browser->sendToPerson = [windows, browser](const std::vector<std::string>& files, const std::string& to) {
      const std::string folder = browser->ShownFolder();
      TfrmEdit* w = windows->NewMessage(folder, to);
      if (!w) return;
      QStringList list;
      for (const auto& f : files) list << QString::fromStdString(f);
      w->AttachFiles(list);
    };
  }
  return windows;
}

}  // namespace px::app
