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

std::string SecurityCaption(Security s) {
  switch (s) {
    case Security::Tls: return "TLS (port 995)";
    case Security::StartTls: return "STARTTLS (port 110)";
    case Security::Plain: return "None - plain text (not encrypted)";
    case Security::Auto: return "TLS, else STARTTLS";
  }
  return {};
}

AccountForm FormOf(const transport::ExternalAccount& a) {
  AccountForm f;
  f.name = a.name;
  f.server = a.server;
  f.user = a.user;
  f.password = a.password;
  f.savePassword = !a.password.empty();
  f.keep = a.keep;
  f.enabled = a.enabled;
  f.security = a.security;
  return f;
}

std::string CheckConnectionFields(const AccountForm& f) {
  const std::string server = Trim(f.server);
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
  return {};
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

std::vector<std::string> AccountEditor::Names() const { return transport::AccountNames(settings_); }

transport::ExternalAccount AccountEditor::AccountOf(const AccountForm& f) {
  transport::ExternalAccount a;
  a.name = Trim(f.name);
  a.server = Trim(f.server);
  a.user = Trim(f.user);
  a.password = f.password;
  a.keep = f.keep;
  a.enabled = f.enabled;
  a.security = f.security;
  return a;
}

std::string AccountEditor::Save(const AccountForm& f, const std::string& originalName) {
  const std::string problem = CheckAccountForm(f, originalName, Names());
  if (!problem.empty()) return problem;
  transport::ExternalAccount a = AccountOf(f);
  // Words of the settings line this version does not know stay with the account.
  if (!originalName.empty()) {
    if (auto old = transport::ReadAccount(settings_, originalName)) a.extra = old->extra;
    if (a.name != originalName && !transport::RenameAccount(settings_, originalName, a.name))
      return "Sorry, but this account cannot be renamed to \"" + a.name + "\".";
  }
  if (!f.savePassword) a.password.clear();
  transport::WriteAccount(settings_, a, random_);
  return {};
}

bool AccountEditor::Remove(const std::string& name) { return transport::DeleteAccount(settings_, name); }

bool AccountEditor::SetEnabled(const std::string& name, bool on) {
  auto a = transport::ReadAccount(settings_, name);
  if (!a || !a->IsComplete()) return false;
  if (a->enabled == on) return true;
  a->enabled = on;
  transport::WriteAccount(settings_, *a, random_);
  return true;
}

}  // namespace px::desk
