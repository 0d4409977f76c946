#include "app/options_glue.h"

#include "app/address_setup_glue.h"
#include "app/transfer_glue.h"
#include "desk/account_editor.h"
#include "desk/desk_state.h"
#include "desk/option_pages.h"
#include "desk/tree_model.h"
#include "desk/ui/frm_accounts.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/frm_options.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/tree_view.h"
#include "foundation/random.h"
#include "foundation/strings.h"
#include "foundation/ui/font_value_qt.h"
#include "foundation/ui/standard_font.h"
#include "store/doc_record.h"
#include "transport/http_client.h"
#include "transport/key_exchange.h"
#include "transport/pop3/account_check.h"
#include "transport/service_protocol.h"
#include "transport/service_requests.h"
#include "transport/smtp/smtp_client.h"

#include <QColorDialog>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontMetrics>
#include <QMessageBox>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>

namespace px::app {

namespace {

// Logs in to an outgoing server and leaves, in the words of the incoming check.
transport::pop3::AccountCheck CheckSmtpServer(const transport::SmtpServerSetting& s, transport::StopSwitch& stop) {
  transport::SmtpConfig config = transport::SmtpConfig::From(s);
  if (const char* ca = std::getenv("PLUMADEX_SMTP_CA"); ca && *ca) config.caFile = ca;
  config.connectTimeoutSec = 20;
  config.replyTimeoutSec = 60;
  transport::SmtpClient client(config);
  const transport::StopAttached attached(&stop, [&client] { client.Stop(); });
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

FontValue BaseFont() { return ui::FromQFont(ui::StandardFont()); }

// "Custom Colors": the colour dialog's sixteen custom colours as decimal colour values.
void LoadCustomColors(const std::string& text) {
  const StringList parts = SplitCommaList(text);
  for (int i = 0; i < QColorDialog::customCount() && i < static_cast<int>(parts.size()); ++i) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(parts[static_cast<size_t>(i)].c_str(), &end, 10);
    if (end && *end == 0 && !parts[static_cast<size_t>(i)].empty())
      QColorDialog::setCustomColor(i, ui::ToQColor(static_cast<ColorRef>(v)));
  }
}

std::string SaveCustomColors() {
  std::string out;
  for (int i = 0; i < QColorDialog::customCount(); ++i) {
    if (i) out += ',';
    out += std::to_string(ui::FromQColor(QColorDialog::customColor(i)));
  }
  return out;
}

void Warn(QWidget* parent, const std::string& text) {
  QMessageBox::warning(parent, QStringLiteral("Plumadex"), QString::fromStdString(text));
}

}  // namespace

void ApplyDeskLook(desk::TfrmDesk& desk, desk::DeskState& state) {
  const FontValue base = BaseFont();
  const FontValue folder = state.settings.FolderFont(base);
  const FontValue file = state.settings.FileFont(base);
  // The folder font serves all three trees.
  for (auto* tree : desk.findChildren<desk::TPXTreeView*>()) {
    tree->setFont(ui::ToQFont(folder));
    // Black is the stored default: the theme's text colour stays then.
    if (folder.color != 0) {
      QPalette pal = tree->palette();
      pal.setColor(QPalette::Text, ui::ToQColor(folder.color));
      tree->setPalette(pal);
    }
    tree->countBold = state.settings.HighlightFontBold();
    tree->countColour = state.settings.UseHighlightFontColor() ? ui::ToQColor(state.settings.HighlightFontColor())
                                                               : QColor();
    tree->viewport()->update();
  }
  for (auto* panel : desk.findChildren<desk::GridPanel*>()) {
    const QFont f = ui::ToQFont(file);
    desk::TheGrid* grid = panel->grid();
    // The panel measures its columns (the date column's width) with its own font.
    panel->setFont(f);
    grid->setFont(f);
    // The view-filter tabs and the header stay in the standard font; every attribute is set,
    // so none is taken over from the file font.
    QFont standard = ui::StandardFont();
    standard.setBold(false);
    standard.setItalic(false);
    standard.setUnderline(false);
    panel->ViewFilterTabs()->setFont(standard);
    panel->header()->setFont(standard);
    if (file.color != 0) {
      QPalette pal = grid->palette();
      pal.setColor(QPalette::Text, ui::ToQColor(file.color));
      grid->setPalette(pal);
    }
    // Rows grow with a larger font and never shrink below the standard height.
    const QFontMetrics fm(f);
    grid->setRowHeight(std::max(24, fm.height() + 8));
    panel->ReloadLook();
    grid->viewport()->update();
  }
}

void OpenAccountsPage(desk::TfrmDesk& desk, desk::DeskState& state) {
  RandomSource random;
  desk::AccountEditor editor(state.settings, random);
  desk::TfrmAccounts dlg(
      editor,
      [](const transport::ExternalAccount& a, transport::StopSwitch& stop) {
        return transport::pop3::CheckAccount(a, 60000, {}, &stop);
      },
      [&desk](const std::string& text) {
        // Shown at once: the message window holds its queue while the desk starts.
        Warn(&desk, text);
      },
      &desk);
  dlg.SetSmtpChecker(CheckSmtpServer);
  dlg.exec();
}

// The Encryption page: the key button publishes or withdraws the own key on the key server;
// "Import key..." takes keys that another program exported.
static void AddEncryptionPage(desk::TfrmDesk& desk, desk::DeskState& state, desk::OptionsServices& svc) {
  svc.encryptionState = [&state] {
    desk::OptionsServices::EncryptionState st;
    st.available = state.pgp && state.pgp->Available();
    st.reason = state.pgp ? state.pgp->ReasonText() : std::string("not started");
    st.hasUser = !state.settings.ID().empty();
    if (!st.available) return st;
    st.hasOwnKey = transport::HasOwnKey(*state.pgp, state.settings.ID());
    std::set<std::string> pairs;
    for (const auto& k : state.pgp->ListKeys(true)) pairs.insert(k.fingerprint);
    for (const auto& k : state.pgp->ListKeys()) {
      if (!k.Usable()) continue;
      st.keys.push_back(k.userId + (pairs.count(k.fingerprint) ? "  (your key pair)" : "") + "  " + k.fingerprint);
    }
    return st;
  };
  svc.encryptionKeyAction = [&desk, &state] {
    if (!state.pgp || !state.pgp->Available()) return;
    const std::optional<std::string> password = ServicePasswordOf(desk);
    if (!password) return;
    transport::KeyServerAccess a;
    a.http = transport::ServiceHttpSettings(state.locations);
    a.host = transport::ServiceHost(state.settings);
    a.user = state.settings.ID();
    a.password = *password;
    a.name = state.settings.Name();
    const transport::KeyExchangeOutcome o = transport::HasOwnKey(*state.pgp, a.user)
                                                ? transport::WithdrawOwnKey(*state.pgp, a)
                                                : transport::PublishOwnKey(*state.pgp, a);
    if (o.done) QMessageBox::information(&desk, QStringLiteral("Plumadex"), QString::fromStdString(o.text));
    else Warn(&desk, o.text);
  };
  svc.importKey = [&desk, &state] {
    if (!state.pgp || !state.pgp->Available()) return;
    const QString file = QFileDialog::getOpenFileName(&desk, QStringLiteral("Import key"), QString(),
                                                      QStringLiteral("Keys (*.asc *.gpg *.pgp *.key);;All files (*)"));
    if (file.isEmpty()) return;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.size() > (16 << 20)) {
      Warn(&desk, "Cannot read " + file.toStdString());
      return;
    }
    const QByteArray bytes = f.readAll();
    const crypto::ImportOutcome r = state.pgp->Import(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    if (!r.status.ok()) {
      Warn(&desk, r.status.Message());
      return;
    }
    std::string text = std::to_string(r.fingerprints.size()) + " key(s) imported.";
    if (!r.refused.empty())
      text += " Secret keys protected by a passphrase were not taken; Plumadex uses keys without one.";
    QMessageBox::information(&desk, QStringLiteral("Plumadex"), QString::fromStdString(text));
  };
}

void OpenOptionsPage(desk::TfrmDesk& desk, desk::DeskState& state, const std::string& caption) {
  desk::OptionsServices svc;
  svc.settings = &state.settings;
  svc.blocked = state.blockedSenders.get();
  svc.baseFont = BaseFont();
  svc.notify = [&desk](const std::string& text) { Warn(&desk, text); };
  svc.inform = [&desk](const std::string& text) {
    QMessageBox::information(&desk, QStringLiteral("Plumadex"), QString::fromStdString(text));
  };
  svc.fontChanged = [&desk, &state](desk::FontRole) { ApplyDeskLook(desk, state); };
  svc.appearanceSaved = [&desk, &state] { ApplyDeskLook(desk, state); };
  svc.checkMailChanged = [&desk] { desk.controller().ApplyCheckMailSettings(); };
  svc.personalSaved = [&state] { state.ownFromAddress = OwnFromAddress(state.settings); };
  svc.openAccounts = [&desk, &state] { OpenAccountsPage(desk, state); };
  svc.setUpAddress = [&desk, &state] { RunAddressSetupWindows(desk, state); };
  if (desk.hooks().importContacts) svc.importContacts = [&desk] { desk.hooks().importContacts(); };
  svc.importMail = [&desk] { desk.commands().Run("actImport"); };
  AddEncryptionPage(desk, state, svc);
  svc.changePassword = [&desk, &state](const std::string& oldPassword, const std::string& newPassword,
                                       bool save) {
    transport::HttpClient client(transport::ServiceHttpSettings(state.locations));
    RandomSource random;
    const transport::PasswordChangeOutcome r =
        transport::ChangeServicePassword(client, transport::ServiceHost(state.settings), state.settings.ID(),
                                         oldPassword, newPassword, save, state.settings, random);
    if (r.reply == transport::PasswordChangeReply::Changed) {
      (void)state.settings.UpdateFile();  // a failure reaches the settings' save-failure handler
      SetServicePassword(desk, newPassword);
    }
    return r;
  };
  svc.chooseFont = [&desk](const FontValue& current, const std::string& title) -> std::optional<FontValue> {
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, ui::ToQFont(current), &desk, QString::fromStdString(title));
    if (!ok) return std::nullopt;
    return ui::FromQFont(f, current.color);
  };
  svc.chooseColor = [&desk](ColorRef current, std::string& custom) -> std::optional<ColorRef> {
    LoadCustomColors(custom);
    const QColor c = QColorDialog::getColor(ui::ToQColor(current), &desk);
    custom = SaveCustomColors();
    if (!c.isValid()) return std::nullopt;
    return ui::FromQColor(c);
  };
  const auto page = desk::OptionPageOf(caption).value_or(desk::OptionPage::Personal);
  desk::TfrmOptions dlg(std::move(svc), page, &desk);
  dlg.exec();
}

void InstallOptions(desk::TfrmDesk& desk, desk::DeskState& state) {
  auto& hooks = desk.hooks();
  auto readLayout = hooks.readLayout;
  hooks.readLayout = [&desk, &state, readLayout] {
    if (readLayout) readLayout();
    ApplyDeskLook(desk, state);
  };
  auto* browser = desk.findChild<desk::DeskBrowser*>();
  if (!browser) return;
  auto previous = browser->openDocument;
  browser->openDocument = [&desk, &state, previous](const store::DocRecord& r) {
    const bool optionRow = r.ext.size() == 1 && r.ext[0] == kFolderMarkerExt && r.name.empty();
    if (optionRow && desk::OptionPageOf(r.title)) {
      OpenOptionsPage(desk, state, r.title);
      return true;
    }
    return previous ? previous(r) : false;
  };
}

}  // namespace px::app
