#include "app/options_glue.h"

#include "desk/account_editor.h"
#include "desk/desk_state.h"
#include "desk/tree_model.h"
#include "desk/ui/frm_accounts.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/tree_view.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "store/doc_record.h"
#include "transport/pop3/account_check.h"
#include "transport/smtp/smtp_client.h"

#include <cstdlib>

#include <QMessageBox>

namespace px::app {

namespace {
constexpr const char* kAccountsPage = "External e-mail configuration";

// Logs in to an outgoing server and leaves, in the words of the incoming check.
transport::pop3::AccountCheck CheckSmtpServer(const transport::SmtpServerSetting& s) {
  transport::SmtpConfig config = transport::SmtpConfig::From(s);
  if (const char* ca = std::getenv("PLUMADEX_SMTP_CA"); ca && *ca) config.caFile = ca;
  config.connectTimeoutSec = 20;
  config.replyTimeoutSec = 60;
  transport::SmtpClient client(config);
  const transport::SmtpResult r = client.Check();
  transport::pop3::AccountCheck out;
  out.works = r.failure == transport::SmtpFailure::None;
  if (out.works) {
    out.message = transport::pop3::kAccountWorks;
    return out;
  }
  out.message = r.failure == transport::SmtpFailure::Login ? transport::pop3::kInvalidLogin
                                                            : transport::pop3::kCannotConnect;
  out.detail = transport::DescribeSmtpFailure(r, s.host);
  return out;
}

}  // namespace

void OpenAccountsPage(desk::TfrmDesk& desk, desk::DeskState& state) {
  RandomSource random;
  desk::AccountEditor editor(state.settings, random);
  desk::TfrmAccounts dlg(
      editor, [](const transport::ExternalAccount& a) { return transport::pop3::CheckAccount(a, 60000); },
      [&desk](const std::string& text) {
        // Shown at once: the message window holds its queue while the desk starts.
        QMessageBox::warning(&desk, QStringLiteral("Plumadex"), QString::fromStdString(text));
      },
      &desk);
  dlg.SetSmtpChecker(CheckSmtpServer);
  dlg.exec();
}

void InstallOptions(desk::TfrmDesk& desk, desk::DeskState& state) {
  auto* browser = desk.findChild<desk::DeskBrowser*>();
  if (!browser) return;
  auto previous = browser->openDocument;
  browser->openDocument = [&desk, &state, previous](const store::DocRecord& r) {
    const bool optionPage = r.ext.size() == 1 && r.ext[0] == kFolderMarkerExt && r.name.empty();
    if (optionPage && r.title == kAccountsPage) {
      OpenAccountsPage(desk, state);
      return true;
    }
    return previous ? previous(r) : false;
  };
}

}  // namespace px::app
