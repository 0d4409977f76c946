#include "app/address_setup_glue.h"

#include "app/options_glue.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"
#include "foundation/random.h"
#include "transport/address_setup.h"
#include "transport/http_client.h"
#include "transport/service_protocol.h"
#include "transport/ui/frm_reg.h"

#include <QMessageBox>

namespace px::app {

bool RunAddressSetupWindows(desk::TfrmDesk& desk, desk::DeskState& state) {
  using namespace px::transport;
  // Shown at once: the message window holds its queue while the desk starts.
  auto notify = [&desk](MessageKind kind, const std::string& text) {
    const QString t = QString::fromStdString(text), title = QStringLiteral("Plumadex");
    if (kind == MessageKind::Error)
      QMessageBox::critical(&desk, title, t);
    else if (kind == MessageKind::Warning)
      QMessageBox::warning(&desk, title, t);
    else
      QMessageBox::information(&desk, title, t);
  };
  bool stored = false;
  auto openAddressWindow = [&](RegMode mode) {
    const std::string host = ServiceHost(state.settings);
    auto request = [&state](RegMode m, const RegFields& f) {
      // The host is chosen afresh and the client lives only for this request.
      HttpClient client(ServiceHttpSettings(state.locations));
      RandomSource random;
      return RunRegistration(client, RegHost(f, state.settings), m, f, state.settings, random);
    };
    TfrmReg dlg(mode, request, notify, host, &desk);
    dlg.exec();
    stored = stored || dlg.Completed();
    return dlg.Completed();
  };
  TfrmReg2 welcome(MakeWelcomeView(state.settings), openAddressWindow, &desk);
  welcome.exec();
  if (stored) {
    state.userId = state.settings.ID();
    state.ownFromAddress = OwnFromAddress(state.settings);
  }
  if (welcome.Chosen() == WelcomeChoice::OwnAccountsOnly) {
    SetOwnAccountsOnly(state.settings, true);
    OpenAccountsPage(desk, state);
  }
  return stored;
}

void InstallAddressSetup(desk::TfrmDesk& desk, desk::DeskState& state) {
  desk.hooks().runAddressSetup = [&desk, &state] {
    if (!transport::NeedsAddressSetup(state.settings, state.checkVersionMarker)) return;
    RunAddressSetupWindows(desk, state);
  };
}

}  // namespace px::app
