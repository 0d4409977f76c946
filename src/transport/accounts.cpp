#include "transport/accounts.h"

#include <algorithm>

#include "foundation/address.h"
#include "foundation/password.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"

namespace px::transport {

namespace {

constexpr std::string_view kSecurityKey = "security";

// Takes the next blank-separated word of `s` from `pos`.
std::string_view NextWord(std::string_view s, size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
  size_t start = pos;
  while (pos < s.size() && s[pos] != ' ') ++pos;
  return s.substr(start, pos - start);
}

bool HasBadChar(std::string_view s) {
  for (char c : s)
    if (c == '\r' || c == '\n' || c == '\0') return true;
  return false;
}

}  // namespace

bool ExternalAccount::IsService() const { return SameText(server, kServiceHostMarker); }

std::string ExternalAccount::Option(std::string_view key) const {
  for (const auto& [k, v] : extra)
    if (k == key) return v;
  return {};
}

void ExternalAccount::SetOption(std::string_view key, std::string_view value) {
  for (auto it = extra.begin(); it != extra.end(); ++it)
    if (it->first == key) {
      if (value.empty()) extra.erase(it);
      else it->second = std::string(value);
      return;
    }
  if (!value.empty()) extra.emplace_back(std::string(key), std::string(value));
}

ExternalAccount ParseAccountRecord(std::string_view name, std::string_view value) {
  ExternalAccount a;
  a.name = std::string(name);
  std::string v = Trim(value);
  if (v == "?") {
    std::string n = StripServiceDomain(Trim(name));
    size_t at = n.find('@');
    if (at != std::string::npos) {
      a.user = n.substr(0, at);
      a.server = "pop." + n.substr(at + 1);
    } else {
      a.user = n;
      a.server = std::string(kServiceHostMarker);
    }
    return a;
  }
  v += "     ";
  a.enabled = v[1] == ' ' && v[0] == '1';
  size_t pos = 0;
  NextWord(v, pos);  // the enabled field
  std::string_view server = NextWord(v, pos);
  std::string_view user = NextWord(v, pos);
  std::string_view word = NextWord(v, pos);
  a.server = server == "-" ? std::string() : std::string(server);
  a.user = user == "-" ? std::string() : std::string(user);
  std::string scrambled;
  if (word == "*") {
    a.keep = true;
    scrambled = Trim(std::string_view(v).substr(pos));
  } else {
    scrambled = std::string(word);
  }
  a.password = UnscramblePassword(scrambled);
  return a;
}

std::string FormatAccountRecord(const ExternalAccount& a, RandomSource& random) {
  std::string r = a.enabled ? "1 " : "0 ";
  r += a.server.empty() ? std::string("-") : a.server;
  r += ' ';
  r += a.user.empty() ? std::string("-") : a.user;
  r += ' ';
  if (a.keep) r += "* ";
  if (!a.password.empty()) r += ScramblePassword(a.password, random);
  return Trim(r);
}

std::string FormatAccountSettings(const ExternalAccount& a) {
  std::string r;
  auto add = [&](std::string_view k, std::string_view v) {
    if (!r.empty()) r += ' ';
    r.append(k).append("=").append(v);
  };
  if (a.security != pop3::Security::Auto) add(kSecurityKey, pop3::SecurityName(a.security));
  for (const auto& [k, v] : a.extra) add(k, v);
  return r;
}

std::vector<std::string> ExternalAccount::ImapFolders() const {
  std::vector<std::string> r;
  std::string value = Option(kFoldersKey);
  size_t p = 0;
  while (p <= value.size() && !value.empty()) {
    size_t e = value.find(',', p);
    if (e == std::string::npos) e = value.size();
    std::string name;
    for (size_t i = p; i < e; ++i) {
      int hi = 0, lo = 0;
      auto hex = [](char c, int& v) {
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else return false;
        return true;
      };
      if (value[i] == '%' && i + 2 < e && hex(value[i + 1], hi) && hex(value[i + 2], lo)) {
        name += static_cast<char>(hi * 16 + lo);
        i += 2;
      } else {
        name += value[i];
      }
    }
    if (!name.empty() && std::find(r.begin(), r.end(), name) == r.end()) r.push_back(name);
    p = e + 1;
  }
  if (r.empty()) r.push_back("INBOX");
  return r;
}

void ExternalAccount::SetImapFolders(const std::vector<std::string>& folders) {
  std::string value;
  for (const auto& f : folders) {
    if (f.empty()) continue;
    if (!value.empty()) value += ',';
    for (unsigned char c : f) {
      if (c <= 0x20 || c == '%' || c == ',' || c == '=' || c == 0x7f) {
        static const char kHex[] = "0123456789ABCDEF";
        value += '%';
        value += kHex[c >> 4];
        value += kHex[c & 15];
      } else {
        value += static_cast<char>(c);
      }
    }
  }
  // INBOX alone is the default and needs no word.
  SetOption(kFoldersKey, value == "INBOX" ? std::string() : value);
}

void ApplyAccountSettings(std::string_view value, ExternalAccount& a) {
  a.extra.clear();
  a.security = pop3::Security::Auto;
  size_t pos = 0;
  for (;;) {
    std::string_view w = NextWord(value, pos);
    if (w.empty()) break;
    size_t eq = w.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    std::string_view k = w.substr(0, eq), v = w.substr(eq + 1);
    if (k == kSecurityKey) {
      // An unknown protection reads as the strictest, never as plain text.
      a.security = pop3::ParseSecurity(v).value_or(pop3::Security::Tls);
      continue;
    }
    a.SetOption(k, v);
  }
}

std::vector<std::string> AccountNames(const Settings& settings) {
  StringList keys;
  settings.Ini().ReadSection(kExternalAccountsSection, keys);
  return keys;
}

std::optional<ExternalAccount> ReadAccount(const Settings& settings, std::string_view name) {
  if (!settings.ValueExists(kExternalAccountsSection, name)) return std::nullopt;
  ExternalAccount a = ParseAccountRecord(name, settings.ReadString(kExternalAccountsSection, name));
  ApplyAccountSettings(settings.ReadString(kAccountSettingsSection, name), a);
  return a;
}

std::vector<ExternalAccount> ReadAccounts(const Settings& settings) {
  std::vector<ExternalAccount> r;
  for (const auto& n : AccountNames(settings))
    if (auto a = ReadAccount(settings, n)) r.push_back(std::move(*a));
  return r;
}

void WriteAccount(Settings& settings, const ExternalAccount& account, RandomSource& random) {
  settings.WriteString(kExternalAccountsSection, account.name, FormatAccountRecord(account, random));
  std::string words = FormatAccountSettings(account);
  if (words.empty()) settings.DeleteKey(kAccountSettingsSection, account.name);
  else settings.WriteString(kAccountSettingsSection, account.name, words);
}

bool IsValidAccountName(std::string_view name) {
  std::string t = Trim(name);
  return !t.empty() && t == name && !HasBadChar(name) && name.find('=') == std::string_view::npos &&
         name.front() != '[' && name.front() != ';';
}

bool AddUnconfiguredAccount(Settings& settings, std::string_view name) {
  if (!IsValidAccountName(name) || settings.ValueExists(kExternalAccountsSection, name)) return false;
  settings.WriteString(kExternalAccountsSection, name, "?");
  return true;
}

bool DeleteAccount(Settings& settings, std::string_view name) {
  if (!settings.ValueExists(kExternalAccountsSection, name)) return false;
  settings.DeleteKey(kExternalAccountsSection, name);
  settings.DeleteKey(kAccountSettingsSection, name);
  return true;
}

bool RenameAccount(Settings& settings, std::string_view from, std::string_view to) {
  if (!IsValidAccountName(to) || !settings.ValueExists(kExternalAccountsSection, from)) return false;
  // A change of letter case only is a rename too (keys compare without case).
  if (settings.ValueExists(kExternalAccountsSection, to) && !SameText(from, to)) return false;
  std::string record = settings.ReadString(kExternalAccountsSection, from);
  std::string words = settings.ReadString(kAccountSettingsSection, from);
  settings.DeleteKey(kExternalAccountsSection, from);
  settings.DeleteKey(kAccountSettingsSection, from);
  settings.WriteString(kExternalAccountsSection, to, record);
  if (!words.empty()) settings.WriteString(kAccountSettingsSection, to, words);
  return true;
}

std::string DescribeAccount(const ExternalAccount& a) {
  std::string r = a.name;
  r += a.enabled ? "  enabled" : "  disabled";
  r += "  server ";
  r += a.server.empty() ? std::string("-") : a.server;
  r += "  user ";
  r += a.user.empty() ? std::string("-") : a.user;
  if (a.keep) r += "  keep on server";
  if (a.IsImap()) {
    r += "  IMAP";
    auto folders = a.ImapFolders();
    if (folders.size() != 1 || folders[0] != "INBOX") {
      r += " folders";
      for (const auto& f : folders) r += " " + f;
    }
  }
  if (!a.IsService()) {
    switch (a.security) {
      case pop3::Security::Auto: r += "  encrypted (TLS or STLS)"; break;
      case pop3::Security::Tls: r += "  encrypted (TLS)"; break;
      case pop3::Security::StartTls: r += "  encrypted (STLS)"; break;
      case pop3::Security::Plain: r += "  plain text (not encrypted)"; break;
    }
  }
  if (!a.Option("oauth2").empty()) {
    r += "  OAuth2 (" + a.Option("oauth2") + ")";
    r += a.password.empty() ? "  not signed in" : "  signed in";
    return r;
  }
  r += a.password.empty() ? "  no password saved" : "  password saved";
  return r;
}

}  // namespace px::transport
