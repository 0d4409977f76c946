#pragma once
// The outgoing (SMTP) server of an external account, kept in User.ini beside the account
// records in a section of its own, keyed by the account's name. Settings files written before
// outgoing servers existed simply have no such section; the account records themselves are
// left untouched, so older readers of them keep working.
//
// Value: fields separated by single blanks:
//   host:port  security ("tls", "starttls" or "plain")  user ("-" when empty)
//   sender addresses (comma list, "-" when none)  [scrambled password]
// Blanks and "%" inside the user name are written as "%20" and "%25". An IPv6 host is written
// in brackets ("[::1]:587").
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace px {
class RandomSource;
class Settings;
}  // namespace px

namespace px::transport {

inline constexpr std::string_view kOutgoingServersSection = "Outgoing Servers";

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

  int EffectivePort() const { return port > 0 ? port : DefaultSmtpPort(security); }
  bool Complete() const { return !host.empty(); }
};

// "HOST[:PORT]" (also "[v6]:PORT"); false for an empty host, a bad port or characters that do
// not belong in a host name.
bool ParseServerAddress(std::string_view text, std::string& host, int& port);

std::string FormatSmtpSetting(const SmtpServerSetting& s, RandomSource& random);
// nullopt when the value is not a setting this program wrote (nothing is guessed).
std::optional<SmtpServerSetting> ParseSmtpSetting(std::string_view account, std::string_view value);

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
