#include "transport/smtp/smtp_setting.h"

#include <algorithm>
#include <cctype>

#include "foundation/address.h"
#include "foundation/password.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "transport/accounts.h"

namespace px::transport {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string EncodeUser(std::string_view user) {
  std::string out;
  for (char c : user) {
    if (c == '%') out += "%25";
    else if (c == ' ') out += "%20";
    else out += c;
  }
  return out;
}

std::string DecodeUser(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && text.substr(i, 3) == "%20") { out += ' '; i += 2; }
    else if (text[i] == '%' && text.substr(i, 3) == "%25") { out += '%'; i += 2; }
    else out += text[i];
  }
  return out;
}

bool HostCharOk(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '.' || c == '-' || c == '_' || c == ':' || u >= 0x80;
}

std::vector<std::string_view> SplitBlanks(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && s[i] == ' ') ++i;
    size_t j = i;
    while (j < s.size() && s[j] != ' ') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// A sender address as kept in the setting: bare, no blanks or commas.
std::string CleanAddress(std::string_view a) {
  std::string bare = BareAddressOf(a);
  std::string out;
  for (char c : bare)
    if (static_cast<unsigned char>(c) > 0x20 && c != ',') out += c;
  return out;
}

}  // namespace

std::string_view SecurityName(SmtpSecurity s) {
  switch (s) {
    case SmtpSecurity::Tls: return "tls";
    case SmtpSecurity::StartTls: return "starttls";
    case SmtpSecurity::Plain: return "plain";
  }
  return "starttls";
}

std::optional<SmtpSecurity> ParseSecurity(std::string_view name) {
  if (EqualNoCase(name, "tls") || EqualNoCase(name, "ssl")) return SmtpSecurity::Tls;
  if (EqualNoCase(name, "starttls")) return SmtpSecurity::StartTls;
  if (EqualNoCase(name, "plain")) return SmtpSecurity::Plain;
  return std::nullopt;
}

int DefaultSmtpPort(SmtpSecurity s) { return s == SmtpSecurity::Tls ? 465 : 587; }

bool ParseServerAddress(std::string_view text, std::string& host, int& port) {
  std::string_view t = text;
  std::string_view portText;
  if (!t.empty() && t.front() == '[') {
    size_t close = t.find(']');
    if (close == std::string_view::npos) return false;
    host = std::string(t.substr(1, close - 1));
    std::string_view rest = t.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      portText = rest.substr(1);
      if (portText.empty()) return false;
    }
  } else {
    size_t colon = t.rfind(':');
    if (colon != std::string_view::npos && t.find(':') == colon) {
      host = std::string(t.substr(0, colon));
      portText = t.substr(colon + 1);
      if (portText.empty()) return false;
    } else {
      host = std::string(t);
    }
  }
  if (host.empty() || !std::all_of(host.begin(), host.end(), HostCharOk)) return false;
  port = 0;
  if (!portText.empty()) {
    if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    port = std::stoi(std::string(portText));
    if (port < 1 || port > 65535) return false;
  }
  return true;
}

namespace {

bool IsSmtpWord(std::string_view w) { return w.starts_with("smtp=") || w.starts_with("smtp-"); }

// The value's words other than ours, in order.
std::string OtherWords(std::string_view value) {
  std::string out;
  for (auto w : SplitBlanks(value)) {
    if (IsSmtpWord(w)) continue;
    if (!out.empty()) out += ' ';
    out.append(w);
  }
  return out;
}

}  // namespace

std::string FormatSmtpWords(const SmtpServerSetting& s, RandomSource& random) {
  std::string v = "smtp=";
  v += s.host.find(':') != std::string::npos ? "[" + s.host + "]" : s.host;
  v += ":" + std::to_string(s.EffectivePort());
  v += " smtp-security=";
  v += SecurityName(s.security);
  if (!s.user.empty()) v += " smtp-user=" + EncodeUser(s.user);
  std::string from;
  for (const auto& a : s.fromAddresses) {
    std::string c = CleanAddress(a);
    if (c.empty()) continue;
    if (!from.empty()) from += ",";
    from += c;
  }
  if (!from.empty()) v += " smtp-from=" + from;
  if (!s.password.empty()) v += " smtp-password=" + ScramblePassword(s.password, random);
  if (s.sameLogin) v += " smtp-login=same";
  return v;
}

std::optional<SmtpServerSetting> ParseSmtpWords(std::string_view account, std::string_view value) {
  SmtpServerSetting s;
  s.account = std::string(account);
  bool hasServer = false, hasSecurity = false;
  for (auto w : SplitBlanks(value)) {
    if (!IsSmtpWord(w)) continue;
    size_t eq = w.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view k = w.substr(0, eq), v = w.substr(eq + 1);
    if (k == "smtp") {
      if (!ParseServerAddress(v, s.host, s.port)) return std::nullopt;
      hasServer = true;
    } else if (k == "smtp-security") {
      auto sec = ParseSecurity(v);
      if (!sec) return std::nullopt;
      s.security = *sec;
      hasSecurity = true;
    } else if (k == "smtp-user") {
      s.user = DecodeUser(v);
    } else if (k == "smtp-from") {
      for (const auto& a : SplitCommaList(v))
        if (!a.empty()) s.fromAddresses.push_back(a);
    } else if (k == "smtp-password") {
      if (v.empty() || !std::all_of(v.begin(), v.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return std::nullopt;
      s.password = UnscramblePassword(v);
    } else if (k == "smtp-login") {
      s.sameLogin = v == "same";
    }
    // Later versions' smtp words are left alone.
  }
  // Without a stated protection nothing is sent: plain text is never assumed.
  if (!hasServer || !hasSecurity) return std::nullopt;
  return s;
}

namespace {

// A setting that logs in as its incoming account takes that account's user name and password
// as they are now (a password saved since is the outgoing server's too).
void TakeIncomingLogin(const Settings& settings, SmtpServerSetting& s) {
  if (!s.sameLogin) return;
  const auto account = ReadAccount(settings, s.account);
  if (!account || account->IsService()) return;
  if (!account->user.empty()) s.user = account->user;
  if (!account->password.empty()) s.password = account->password;
}

}  // namespace

std::vector<SmtpServerSetting> ReadSmtpSettings(const Settings& settings) {
  std::vector<SmtpServerSetting> out;
  StringList keys;
  settings.Ini().ReadSection(kAccountSettingsSection, keys);
  for (const auto& k : keys)
    if (auto s = ParseSmtpWords(k, settings.ReadString(kAccountSettingsSection, k))) {
      TakeIncomingLogin(settings, *s);
      out.push_back(std::move(*s));
    }
  return out;
}

std::optional<SmtpServerSetting> ReadSmtpSetting(const Settings& settings, std::string_view account) {
  if (!settings.ValueExists(kAccountSettingsSection, account)) return std::nullopt;
  auto s = ParseSmtpWords(account, settings.ReadString(kAccountSettingsSection, account));
  if (s) TakeIncomingLogin(settings, *s);
  return s;
}

void WriteSmtpSetting(Settings& settings, const SmtpServerSetting& s, RandomSource& random) {
  std::string words = OtherWords(settings.ReadString(kAccountSettingsSection, s.account));
  if (!words.empty()) words += ' ';
  words += FormatSmtpWords(s, random);
  settings.WriteString(kAccountSettingsSection, s.account, words);
}

void DeleteSmtpSetting(Settings& settings, std::string_view account) {
  if (!settings.ValueExists(kAccountSettingsSection, account)) return;
  std::string words = OtherWords(settings.ReadString(kAccountSettingsSection, account));
  if (words.empty()) settings.DeleteKey(kAccountSettingsSection, account);
  else settings.WriteString(kAccountSettingsSection, account, words);
}

std::string DescribeSmtpSetting(const SmtpServerSetting& s) {
  std::string from;
  for (const auto& a : s.fromAddresses) from += (from.empty() ? "" : ",") + a;
  return s.account + ": outgoing server " + s.host + ":" + std::to_string(s.EffectivePort()) + " " +
         std::string(SecurityName(s.security)) + ", user " + (s.user.empty() ? std::string("(none)") : s.user) +
         (s.password.empty() ? ", no password saved" : "") + (from.empty() ? "" : ", for " + from);
}

const SmtpServerSetting* FindSmtpServerFor(const std::vector<SmtpServerSetting>& all, std::string_view fromAddress) {
  std::string bare = CleanAddress(fromAddress);
  if (bare.empty()) return nullptr;
  for (const auto& s : all)
    for (const auto& a : s.fromAddresses)
      if (EqualNoCase(CleanAddress(a), bare)) return &s;
  for (const auto& s : all)
    if (EqualNoCase(CleanAddress(s.account), bare)) return &s;
  return nullptr;
}

}  // namespace px::transport
