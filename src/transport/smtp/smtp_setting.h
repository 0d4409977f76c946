#pragma once
// The outgoing (SMTP) server of an external account. It is kept with the account's other
// settings that the classic record has no room for: words of the section "External Account
// Settings" under the account's name (accounts.h), which older settings files simply lack and
// whose other words are left as they are:
//   smtp=HOST:PORT smtp-security=tls|starttls|plain [smtp-user=USER] [smtp-from=A,B,...]
//   [smtp-password=SCRAMBLED] [smtp-login=same]
// Blanks and "%" inside the user name are written as "%20" and "%25". An IPv6 host is written
// in brackets ("smtp=[::1]:587"). A user who has no incoming account can still have an
// outgoing server under a name of its own.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace px {
class RandomSource;
class Settings;
}  // namespace px

namespace px::transport {

enum class SmtpSecurity { Tls, StartTls, Plain };

std::string_view SecurityName(SmtpSecurity s);
std::optional<SmtpSecurity> ParseSecurity(std::string_view name);
// 465 for implicit TLS, 587 otherwise.
int DefaultSmtpPort(SmtpSecurity s);

struct SmtpServerSetting {
  std::string account;       // the account's name (its e-mail address)
  std::string host;
  int port = 0;              // 0: the security's default port
  SmtpSecurity security = SmtpSecurity::StartTls;
  std::string user;
  std::string password;      // in clear, in memory only; stored scrambled
  std::vector<std::string> fromAddresses;  // bare sender addresses that use this server
  // Logs in with the user name and password of the incoming account of the same name
  // ("smtp-login=same"): a password saved later for the account serves both servers.
  bool sameLogin = false;

  int EffectivePort() const { return port > 0 ? port : DefaultSmtpPort(security); }
  bool Complete() const { return !host.empty(); }
};

// "HOST[:PORT]" (also "[v6]:PORT"); false for an empty host, a bad port or characters that do
// not belong in a host name.
bool ParseServerAddress(std::string_view text, std::string& host, int& port);

// The smtp words of a setting, blank-separated.
std::string FormatSmtpWords(const SmtpServerSetting& s, RandomSource& random);
// The setting in the words of an account's settings value (other words are skipped); nullopt
// when there is no server or a word is not one this program wrote (nothing is guessed).
std::optional<SmtpServerSetting> ParseSmtpWords(std::string_view account, std::string_view value);

// Every readable setting, in file order.
std::vector<SmtpServerSetting> ReadSmtpSettings(const Settings& settings);
std::optional<SmtpServerSetting> ReadSmtpSetting(const Settings& settings, std::string_view account);
void WriteSmtpSetting(Settings& settings, const SmtpServerSetting& s, RandomSource& random);
void DeleteSmtpSetting(Settings& settings, std::string_view account);

// One line for listings: "NAME: outgoing server HOST:PORT SECURITY, user USER ..." (never the
// password).
std::string DescribeSmtpSetting(const SmtpServerSetting& s);

// The server that sends mail from `fromAddress` (any form; compared by bare address without
// regard to case): a setting that lists the address among its senders, else the setting of the
// account whose name is that address. nullptr when there is none.
const SmtpServerSetting* FindSmtpServerFor(const std::vector<SmtpServerSetting>& all, std::string_view fromAddress);

}  // namespace px::transport
