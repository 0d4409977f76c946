#pragma once
// External mail accounts: section "External Accounts" of User.ini, one key per account (its
// name, as created its e-mail address) whose value is either "?" (created, not configured yet)
// or "enabled server user [*] [scrambled password]".
//
// Settings that the classic record has no room for (how the connection is protected, later
// the outgoing server) live in the section "External Account Settings" under the same key, as
// blank-separated name=value words. A record without them reads with their defaults, and words
// this version does not know are kept when the account is saved again.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transport/pop3/pop3_client.h"

namespace px {
class RandomSource;
class Settings;
}  // namespace px

namespace px::transport {

inline constexpr std::string_view kAccountSettingsSection = "External Account Settings";
// The server name that means an account on the mail service itself.
inline constexpr std::string_view kServiceHostMarker = "plumadex";
// The service account's name in the transfer window.
inline constexpr std::string_view kServiceAccountName = "Plumadex server";

struct ExternalAccount {
  std::string name;
  bool enabled = false;
  std::string server;    // "host" or "host:port"; "plumadex" is the mail service; empty: none
  std::string user;
  bool keep = false;     // leave messages on the server
  std::string password;  // clear text in memory; empty when none is saved
  pop3::Security security = pop3::Security::Auto;
  // The extra words of "External Account Settings" other than those above, in order.
  std::vector<std::pair<std::string, std::string>> extra;

  bool IsService() const;
  // Host and user set: the account can be visited.
  bool IsComplete() const { return !server.empty() && !user.empty(); }
  // An extra setting by name ("" when absent), for settings kept beside the record.
  std::string Option(std::string_view key) const;
  void SetOption(std::string_view key, std::string_view value);  // empty value removes it

  // The word "protocol=imap": mail is received over IMAP instead of POP3.
  bool IsImap() const { return Option(kProtocolKey) == "imap"; }
  void SetImap(bool imap) { SetOption(kProtocolKey, imap ? "imap" : ""); }
  // IMAP folders to receive from ("folders=" word, names separated by ","); INBOX when none.
  std::vector<std::string> ImapFolders() const;
  void SetImapFolders(const std::vector<std::string>& folders);

  static constexpr std::string_view kProtocolKey = "protocol";
  static constexpr std::string_view kFoldersKey = "folders";
};

// The record value in either form; the password is unscrambled.
ExternalAccount ParseAccountRecord(std::string_view name, std::string_view value);
// The configured form: "1 " or "0 ", server ("-" when empty), " ", user ("-"), " ", "* " when
// keep is on, then the scrambled password when there is one; trimmed.
std::string FormatAccountRecord(const ExternalAccount& account, RandomSource& random);
// The words of "External Account Settings" ("" when everything has its default).
std::string FormatAccountSettings(const ExternalAccount& account);
void ApplyAccountSettings(std::string_view value, ExternalAccount& account);

// Account names in file order.
std::vector<std::string> AccountNames(const Settings& settings);
std::optional<ExternalAccount> ReadAccount(const Settings& settings, std::string_view name);
std::vector<ExternalAccount> ReadAccounts(const Settings& settings);
// Writes the record (configured form) and its settings; saves the file.
void WriteAccount(Settings& settings, const ExternalAccount& account, RandomSource& random);
// A new account under `name`, unconfigured ("?"). False when the name is empty, holds "=",
// "[" or a line break, or is taken.
bool AddUnconfiguredAccount(Settings& settings, std::string_view name);
bool DeleteAccount(Settings& settings, std::string_view name);
// Moves the record and its settings to a new name; false when the new name is taken or bad.
bool RenameAccount(Settings& settings, std::string_view from, std::string_view to);
// True for a name that can be an INI key here.
bool IsValidAccountName(std::string_view name);

// One line describing the account for lists (never the password), e.g.
// "a@b.org  enabled  pop.b.org:995  user a  keep  tls  password saved". A plain-text account
// says so: "plain text (not encrypted)".
std::string DescribeAccount(const ExternalAccount& account);

}  // namespace px::transport
