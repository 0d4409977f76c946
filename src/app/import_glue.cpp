#include "app/import_glue.h"

#include "contacts/ui/frm_shared_address.h"
#include "desk/desk_commands.h"
#include "desk/desk_mail.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "foundation/random.h"
#include "import/import_model.h"
#include "import/ui/frm_import.h"

#include <QTimer>

#include <memory>

namespace px::app {

namespace {

class ImportHost : public QObject {
public:
  ImportHost(desk::TfrmDesk& desk, desk::DeskState& state) : QObject(&desk), desk_(desk), state_(state) {}

  void Open() {
    if (open_ || state_.locations.dataRoot.empty()) return;
    open_ = true;
    import::ImportModel model(state_.locations.inbox, state_.locations.dataRoot + "Import/");
    model.Discover(import::DiscoveryPlaces::FromEnvironment());
    import::ImportContext context;
    context.contactsFolder = state_.locations.contacts;
    context.registry = &state_.indexRegistry;
    context.settings = &state_.settings;
    context.random = &random_;
    context.firstNameFirst = state_.settings.FirstNameFirst();
    contacts::SharedAddressQuestioner questioner([this](const contacts::SharedAddressQuestion& q) {
      return contacts::ui::TfrmSharedAddress::Ask(q, state_.settings.FirstNameFirst(), &desk_);
    });
    context.shared = questioner.Resolver();
    // The automatic mail check waits while the window is open.
    QTimer& check = desk_.controller().timers().tmrCheckMail;
    const bool checking = check.isActive();
    check.stop();
    import::ui::TfrmImport window(model, context, &desk_);
    const bool ran = window.exec() == QDialog::Accepted;
    if (checking) check.start();
    open_ = false;
    if (!ran) return;
    const import::ImportTotals& t = model.totals();
    // What was spooled (also before a cancel) is filed now, like received mail.
    // The imported folders are new: the trees are built again once filing has made them, and
    // the first node shown.
    auto& h = desk_.hooks();
    if (t.messages > 0)
      if (auto* mail = desk_.findChild<desk::DeskMail*>()) {
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(mail, &desk::DeskMail::filingFinished, this, [this, once](qint64, bool changed) {
          disconnect(*once);
          auto& hooks = desk_.hooks();
          if (!changed || !hooks.buildTrees) return;
          hooks.buildTrees();
          if (hooks.selectFirstNode) hooks.selectFirstNode();
        });
        mail->StartFiling();
      }
    if ((t.contacts > 0 || t.merged > 0 || t.lists > 0) && h.buildTrees && t.messages == 0) {
      h.buildTrees();
      if (h.selectFirstNode) h.selectFirstNode();
    }
    state_.messages.QueueMessage(t.errors.empty() ? MessageKind::Information : MessageKind::Warning, t.Summary());
    state_.messages.ShowQueuedMessages();
  }

private:
  desk::TfrmDesk& desk_;
  desk::DeskState& state_;
  RandomSource random_;
  bool open_ = false;
};

}  // namespace

void InstallImport(desk::TfrmDesk& desk, desk::DeskState& state) {
  auto* host = new ImportHost(desk, state);
  desk::DeskCommands& commands = desk.commands();
  commands.Provide("actImport", [host] { host->Open(); });
  commands.Provide(
      "actImportContacts", [&desk] { if (desk.hooks().importContacts) desk.hooks().importContacts(); },
      [&desk] { return static_cast<bool>(desk.hooks().importContacts); });
}

}  // namespace px::app
