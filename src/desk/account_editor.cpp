#include "desk/account_editor.h"

#include "foundation/settings.h"
#include "foundation/strings.h"

#include <algorithm>

namespace px::desk {

using transport::pop3::Security;

namespace {

bool HasKeyBreaker(std::string_view s) {
  return s.find_first_of("=[]\r\n") != std::string_view::npos;
}

bool HasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

const std::vector<Security>& SecurityChoices() {
  static const std::vector<Security> c = {Security::Tls, Security::StartTls, Security::Plain};
  return c;
}

std::string SecurityCaption(Security s, bool imap) {
  switch (s) {
    case Security::Tls: return imap ? "TLS (port 993)" : "TLS (port 995)";
    case Security::StartTls: return imap ? "STARTTLS (port 143)" : "STARTTLS (port 110)";
    case Security::Plain: return "None - plain text (not encrypted)";
    case Security::Auto: return "TLS, else STARTTLS";
  }
  return {};
}

const std::vector<transport::SmtpSecurity>& SmtpSecurityChoices() {
  using transport::SmtpSecurity;
  static const std::vector<SmtpSecurity> c = {SmtpSecurity::StartTls, SmtpSecurity::Tls, SmtpSecurity::Plain};
  return c;
}

std::string SmtpSecurityCaption(transport::SmtpSecurity s) {
  switch (s) {
    case transport::SmtpSecurity::StartTls: return "STARTTLS (port 587)";
    case transport::SmtpSecurity::Tls: return "TLS (port 465)";
    case transport::SmtpSecurity::Plain: return "None - plain text (not encrypted)";
  }
  return {};
}

namespace {

std::string ServerText(const std::string& host, int port) {
  const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return port > 0 ? h + ":" + std::to_string(port) : h;
}

void SetSmtp(AccountForm& f, const transport::SmtpServerSetting& s) {
  f.smtpServer = ServerText(s.host, s.port);
  f.smtpSecurity = s.security;
  // Settings written before the choice was kept: the same login when user and password agree.
  f.smtpSameLogin = s.sameLogin || (s.user == f.user && s.password == f.password && !f.user.empty());
  f.smtpUser = s.user;
  f.smtpPassword = s.password;
}

}  // namespace

void SetProtocol(transport::ExternalAccount& a, const AccountForm& f) {
  a.SetImap(f.imap);
  std::vector<std::string> folders;
  if (f.imap) {
    size_t p = 0;
    while (p <= f.folders.size()) {
      size_t e = f.folders.find(',', p);
      if (e == std::string::npos) e = f.folders.size();
      std::string name = Trim(f.folders.substr(p, e - p));
      if (!name.empty()) folders.push_back(name);
      p = e + 1;
    }
  }
  a.SetImapFolders(folders);
}

AccountForm FormOf(const transport::ExternalAccount& a, const std::optional<transport::SmtpServerSetting>& smtp) {
  AccountForm f;
  f.name = a.name;
  f.server = a.server;
  f.user = a.user;
  f.password = a.password;
  f.savePassword = !a.password.empty();
  f.keep = a.keep;
  f.enabled = a.enabled;
  f.security = a.security;
  f.imap = a.IsImap();
  if (f.imap) {
    const auto folders = a.ImapFolders();
    if (folders.size() != 1 || folders[0] != "INBOX")
      for (const auto& folder : folders) f.folders += (f.folders.empty() ? "" : ", ") + folder;
  }
  if (smtp) {
    SetSmtp(f, *smtp);
    if (!smtp->password.empty()) f.savePassword = true;
  }
  return f;
}

namespace {

std::string CheckSmtpFields(const AccountForm& f) {
  const std::string server = Trim(f.smtpServer);
  if (server.empty()) return {};
  std::string host;
  int port = 0;
  if (!transport::ParseServerAddress(server, host, port))
    return "Sorry, but the outgoing server must be a host name or \"host:port\" (a port from 1 to 65535).";
  if (!f.smtpSameLogin) {
    if (HasControl(f.smtpUser)) return "Sorry, but the user name cannot contain line breaks.";
    if (HasControl(f.smtpPassword)) return "Sorry, but the password cannot contain line breaks.";
  }
  return {};
}

}  // namespace

std::string CheckConnectionFields(const AccountForm& f) {
  const std::string server = Trim(f.server);
  // An account that only sends needs no incoming server.
  if (server.empty() && !Trim(f.smtpServer).empty()) {
    if (f.smtpSameLogin && (HasControl(f.user) || HasControl(f.password)))
      return "Sorry, but the user name and password cannot contain line breaks.";
    return CheckSmtpFields(f);
  }
  if (server.empty()) return "Please enter the e-mail server (host or host:port).";
  if (HasKeyBreaker(server) || HasControl(server) || server.find(' ') != std::string::npos)
    return "Sorry, but the server name cannot contain blanks or the characters =, [ and ].";
  const size_t colon = server.rfind(':');
  if (colon != std::string::npos) {
    const std::string host = server.substr(0, colon), port = server.substr(colon + 1);
    const bool digits = !port.empty() && port.size() <= 5 &&
                        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (host.empty() || !digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
      return "Sorry, but the port after \":\" must be a number from 1 to 65535.";
  }
  if (server == transport::kServiceHostMarker)
    return "Sorry, but the Plumadex server is set up under Plumadex mail configuration.";
  const std::string user = Trim(f.user);
  if (user.empty()) return "Please enter the user name of this account.";
  if (HasControl(user) || user.find(' ') != std::string::npos)
    return "Sorry, but the user name cannot contain blanks or line breaks.";
  if (HasControl(f.password)) return "Sorry, but the password cannot contain line breaks.";
  if (f.imap && HasControl(f.folders)) return "Sorry, but the folder names cannot contain line breaks.";
  return CheckSmtpFields(f);
}

std::string CheckAccountForm(const AccountForm& f, const std::string& originalName,
                             const std::vector<std::string>& taken) {
  const std::string name = Trim(f.name);
  if (name.empty()) return "Please enter a name for this account.";
  if (HasKeyBreaker(name) || HasControl(name) || name.front() == ';')
    return "Sorry, but the account name cannot contain the characters =, [ and ] or line breaks.";
  if (name != originalName && std::find(taken.begin(), taken.end(), name) != taken.end())
    return "Sorry, but an account named \"" + name + "\" already exists.";
  return CheckConnectionFields(f);
}

AccountEditor::AccountEditor(Settings& settings, RandomSource& random) : settings_(settings), random_(random) {}

std::vector<transport::ExternalAccount> AccountEditor::Accounts() const {
  std::vector<transport::ExternalAccount> all = transport::ReadAccounts(settings_);
  all.erase(std::remove_if(all.begin(), all.end(), [](const auto& a) { return a.IsService(); }), all.end());
  return all;
}

std::vector<AccountForm> AccountEditor::Forms() const {
  std::vector<AccountForm> out;
  const auto smtp = transport::ReadSmtpSettings(settings_);
  auto smtpOf = [&](const std::string& name) -> std::optional<transport::SmtpServerSetting> {
    for (const auto& s : smtp)
      if (s.account == name) return s;
    return std::nullopt;
  };
  const std::vector<std::string> incoming = transport::AccountNames(settings_);
  for (const auto& a : Accounts()) out.push_back(FormOf(a, smtpOf(a.name)));
  for (const auto& s : smtp) {
    if (std::find(incoming.begin(), incoming.end(), s.account) != incoming.end()) continue;
    AccountForm f;
    f.name = s.account;
    f.user = s.user;
    f.password = s.password;
    f.savePassword = !s.password.empty();
    SetSmtp(f, s);
    f.smtpSameLogin = true;  // the form's user name and password are the outgoing server's
    out.push_back(std::move(f));
  }
  return out;
}

std::vector<std::string> AccountEditor::Names() const {
  std::vector<std::string> names = transport::AccountNames(settings_);
  for (const auto& s : transport::ReadSmtpSettings(settings_))
    if (std::find(names.begin(), names.end(), s.account) == names.end()) names.push_back(s.account);
  return names;
}

std::optional<transport::SmtpServerSetting> AccountEditor::SmtpOf(const AccountForm& f) {
  transport::SmtpServerSetting s;
  if (!transport::ParseServerAddress(Trim(f.smtpServer), s.host, s.port)) return std::nullopt;
  s.account = Trim(f.name);
  s.security = f.smtpSecurity;
  const bool onlySends = Trim(f.server).empty();
  if (f.smtpSameLogin || onlySends) {
    s.user = Trim(f.user);
    s.password = f.password;
    // Kept as a choice: whether the password is saved or not does not change it.
    s.sameLogin = !onlySends;
  } else {
    s.user = Trim(f.smtpUser);
    s.password = f.smtpPassword;
  }
  return s;
}

transport::ExternalAccount AccountEditor::AccountOf(const AccountForm& f) {
  transport::ExternalAccount a;
  a.name = Trim(f.name);
  a.server = Trim(f.server);
  a.user = Trim(f.user);
  a.password = f.password;
  a.keep = f.keep;
  a.enabled = f.enabled;
  a.security = f.security;
  SetProtocol(a, f);
  return a;
}

std::string AccountEditor::Save(const AccountForm& f, const std::string& originalName) {
  const std::string problem = CheckAccountForm(f, originalName, Names());
  if (!problem.empty()) return problem;
  transport::ExternalAccount a = AccountOf(f);
  const bool incoming = !a.server.empty();
  const bool hadIncoming = !originalName.empty() && settings_.ValueExists(kExternalAccountsSection, originalName);
  // Words of the settings line this version does not know stay with the account.
  if (!originalName.empty()) {
    if (auto old = transport::ReadAccount(settings_, originalName)) {
      a.extra = old->extra;
      SetProtocol(a, f);
    }
    if (a.name != originalName) {
      if (hadIncoming) {
        if (!transport::RenameAccount(settings_, originalName, a.name))
          return "Sorry, but this account cannot be renamed to \"" + a.name + "\".";
      } else {
        const std::string words = settings_.ReadString(transport::kAccountSettingsSection, originalName);
        settings_.DeleteKey(transport::kAccountSettingsSection, originalName);
        if (!words.empty()) settings_.WriteString(transport::kAccountSettingsSection, a.name, words);
      }
    }
  }
  if (!f.savePassword) a.password.clear();
  if (incoming) {
    transport::WriteAccount(settings_, a, random_);
  } else if (hadIncoming) {
    // The incoming server was cleared: the account only sends from now on.
    const std::string words = settings_.ReadString(transport::kAccountSettingsSection, a.name);
    settings_.DeleteKey(kExternalAccountsSection, a.name);
    if (!words.empty()) settings_.WriteString(transport::kAccountSettingsSection, a.name, words);
  }
  if (auto smtp = SmtpOf(f)) {
    if (!f.savePassword) smtp->password.clear();
    transport::WriteSmtpSetting(settings_, *smtp, random_);
  } else {
    transport::DeleteSmtpSetting(settings_, a.name);
  }
  (void)settings_.UpdateFile();  // a failure reaches the settings' save-failure handler
  return {};
}

bool AccountEditor::Remove(const std::string& name) {
  const bool incoming = transport::DeleteAccount(settings_, name);
  const bool outgoing = transport::ReadSmtpSetting(settings_, name).has_value();
  settings_.DeleteKey(transport::kAccountSettingsSection, name);
  (void)settings_.UpdateFile();  // a failure reaches the settings' save-failure handler
  return incoming || outgoing;
}

bool AccountEditor::SetEnabled(const std::string& name, bool on) {
  auto a = transport::ReadAccount(settings_, name);
  if (!a || !a->IsComplete()) return false;
  if (a->enabled == on) return true;
  a->enabled = on;
  transport::WriteAccount(settings_, *a, random_);
  return true;
}

}  // namespace px::desk
