#include "app/contacts_glue.h"

#include "contacts/address_map.h"
#include "contacts/contact_folder.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"

#include <QObject>

namespace px::app {

namespace {

// Owns the address map for the life of the desk.
class ContactsHost : public QObject {
public:
  ContactsHost(desk::TfrmDesk& desk, desk::DeskState& state) : QObject(&desk), state_(state) {
    state_.addressMap = &map_;
  }
  ~ContactsHost() override {
    if (state_.addressMap == &map_) state_.addressMap = nullptr;
  }

  void Sync() {
    if (state_.locations.contacts.empty()) return;
    contacts::SyncResult r = contacts::SynchroniseContacts(
        state_.locations.contacts, state_.indexRegistry, map_, state_.settings.FirstNameFirst());
    for (const IniStatus& e : r.errors) state_.messages.QueueMessage(MessageKind::Error, e.message);
  }

private:
  desk::DeskState& state_;
  contacts::AddressMap map_;
};

}  // namespace

void InstallContacts(desk::TfrmDesk& desk, desk::DeskState& state) {
  auto* host = new ContactsHost(desk, state);
  auto previous = desk.hooks().syncContacts;
  desk.hooks().syncContacts = [host, previous] {
    if (previous) previous();
    host->Sync();
  };
  // The desk has started by the time the glue is installed: build the map now.
  host->Sync();
}

}  // namespace px::app
