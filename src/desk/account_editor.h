#pragma once
// The accounts page: the user's own POP3 accounts listed, added, edited, removed, enabled and
// tested. Headless: the window shows a form and hands it here.
//
// What the user types becomes an INI key (the account name) or a blank-separated word of the
// account record (server, user), so characters that would break either are refused with a
// message before anything is written. A test only reads the form: it writes nothing.
#include "transport/accounts.h"
#include "transport/pop3/account_check.h"
#include "transport/smtp/smtp_setting.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace px {
class Settings;
class RandomSource;
}  // namespace px

namespace px::desk {

struct AccountForm {
  std::string name;
  std::string server;  // "host" or "host:port"
  std::string user;
  std::string password;
  bool savePassword = true;
  bool keep = false;
  bool enabled = true;
  transport::pop3::Security security = transport::pop3::Security::Tls;
  bool imap = false;        // receive over IMAP instead of POP3
  std::string folders;      // IMAP folders to receive from, separated by ","; empty: INBOX
  // The outgoing server: "" for none. An account may have only this one (server left empty).
  std::string smtpServer;  // "host" or "host:port"
  transport::SmtpSecurity smtpSecurity = transport::SmtpSecurity::StartTls;
  // Log in to the outgoing server with the incoming user name and password.
  bool smtpSameLogin = true;
  std::string smtpUser;    // "" logs in to no one (used when smtpSameLogin is off)
  std::string smtpPassword;
};

const std::vector<transport::SmtpSecurity>& SmtpSecurityChoices();
std::string SmtpSecurityCaption(transport::SmtpSecurity s);

// The security choices offered, in the order of the list.
const std::vector<transport::pop3::Security>& SecurityChoices();
std::string SecurityCaption(transport::pop3::Security s, bool imap = false);

AccountForm FormOf(const transport::ExternalAccount& a,
                   const std::optional<transport::SmtpServerSetting>& smtp = std::nullopt);

// "" when the form may be saved (or tested), else the message to show. `originalName` is the
// name the account had when the form was opened ("" for a new one); `taken` the names in use.
// The protocol words of the form (IMAP and its folders) on an account.
void SetProtocol(transport::ExternalAccount& a, const AccountForm& f);
std::string CheckAccountForm(const AccountForm& f, const std::string& originalName,
                             const std::vector<std::string>& taken);
// The same checks, without the name (a test needs no name).
std::string CheckConnectionFields(const AccountForm& f);

class AccountEditor {
public:
  explicit AccountEditor(Settings& settings, RandomSource& random);

  std::vector<transport::ExternalAccount> Accounts() const;
  // Every account as the page shows it: the incoming ones with their outgoing server, then
  // the accounts that only send.
  std::vector<AccountForm> Forms() const;
  std::vector<std::string> Names() const;

  // Saves the form over the account `originalName` ("" adds one). "" on success, else the
  // message; nothing is written on a refusal.
  std::string Save(const AccountForm& f, const std::string& originalName);
  bool Remove(const std::string& name);
  bool SetEnabled(const std::string& name, bool on);

  // The account the form describes, as the check sees it.
  static transport::ExternalAccount AccountOf(const AccountForm& f);
  // The outgoing server the form describes; nullopt when it names none.
  static std::optional<transport::SmtpServerSetting> SmtpOf(const AccountForm& f);

private:
  Settings& settings_;
  RandomSource& random_;
};

}  // namespace px::desk
