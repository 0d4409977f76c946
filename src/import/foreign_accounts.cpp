#include "import/foreign_accounts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "foundation/locations.h"
#include "foundation/settings.h"
#include "import/file_probe.h"
#include "transport/accounts.h"

namespace px::import {

namespace {

constexpr size_t kMaxPrefs = 8u << 20;
constexpr size_t kMaxAddress = 254;

std::string ReadPrefs(const std::string& path) {
  std::string text;
  if (!ReadBounded(path, text, kMaxPrefs)) text.resize(std::min(text.size(), kMaxPrefs));
  return text;
}

// A JavaScript string literal starting at s[p] (the opening quote); its value, p past it.
bool JsString(std::string_view s, size_t& p, std::string& out) {
  if (p >= s.size() || s[p] != '"') return false;
  out.clear();
  for (++p; p < s.size(); ++p) {
    char c = s[p];
    if (c == '"') {
      ++p;
      return true;
    }
    if (c == '\n') return false;
    if (c == '\\' && p + 1 < s.size()) {
      char e = s[++p];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          // Only the code points that matter here (ASCII) are kept as such; others are refused
          // later by the address check through the replacement "?".
          if (p + 4 < s.size()) {
            unsigned v = 0;
            bool ok = true;
            for (int i = 1; i <= 4; ++i) {
              char h = s[p + static_cast<size_t>(i)];
              v <<= 4;
              if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
              else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
              else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
              else ok = false;
            }
            if (ok) {
              out += v < 0x80 ? static_cast<char>(v) : '?';
              p += 4;
            }
          }
          break;
        }
        default: out += e;
      }
      continue;
    }
    out += c;
  }
  return false;
}

// user_pref("name", "value"); -> name, value (string values only).
std::map<std::string, std::string> StringPrefs(std::string_view text) {
  std::map<std::string, std::string> prefs;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    size_t p = line.find("user_pref(");
    if (p == std::string_view::npos) continue;
    p += 10;
    while (p < line.size() && line[p] == ' ') ++p;
    std::string name, value;
    if (!JsString(line, p, name)) continue;
    while (p < line.size() && (line[p] == ' ' || line[p] == ',')) ++p;
    if (!JsString(line, p, value)) continue;
    prefs[name] = value;
  }
  return prefs;
}

std::string Get(const std::map<std::string, std::string>& m, const std::string& key) {
  auto it = m.find(key);
  return it == m.end() ? std::string() : it->second;
}

}  // namespace

bool IsSafeAccountAddress(std::string_view a) {
  if (a.empty() || a.size() > kMaxAddress) return false;
  if (a.front() == ' ' || a.back() == ' ' || a.front() == ';') return false;
  for (unsigned char c : a)
    if (c < 0x20 || c == 0x7f || c == '=' || c == '[' || c == ']') return false;
  return a.find('@') != std::string_view::npos && transport::IsValidAccountName(a);
}

std::vector<ForeignAccount> ThunderbirdAccounts(const std::string& profile) {
  std::vector<ForeignAccount> out;
  const auto prefs = StringPrefs(ReadPrefs(WithSlash(profile) + "prefs.js"));
  // The accounts in the order Thunderbird lists them, each with its server and identities.
  std::string list = Get(prefs, "mail.accountmanager.accounts");
  std::vector<std::string> accounts;
  for (size_t s = 0; s <= list.size();) {
    size_t c = list.find(',', s);
    std::string a = list.substr(s, c == std::string::npos ? std::string::npos : c - s);
    while (!a.empty() && a.front() == ' ') a.erase(0, 1);
    while (!a.empty() && a.back() == ' ') a.pop_back();
    if (!a.empty()) accounts.push_back(a);
    if (c == std::string::npos) break;
    s = c + 1;
  }
  for (const std::string& a : accounts) {
    const std::string server = Get(prefs, "mail.account." + a + ".server");
    if (server.empty()) continue;
    ForeignAccount f;
    f.type = Get(prefs, "mail.server." + server + ".type");
    if (f.type != "pop3" && f.type != "imap") continue;
    f.server = Get(prefs, "mail.server." + server + ".realhostname");
    if (f.server.empty()) f.server = Get(prefs, "mail.server." + server + ".hostname");
    if (f.server.empty()) f.server = Get(prefs, "mail.server." + server + ".hostName");
    f.user = Get(prefs, "mail.server." + server + ".realuserName");
    if (f.user.empty()) f.user = Get(prefs, "mail.server." + server + ".userName");
    const std::string ids = Get(prefs, "mail.account." + a + ".identities");
    const std::string firstId = ids.substr(0, ids.find(','));
    if (!firstId.empty()) f.address = Get(prefs, "mail.identity." + firstId + ".useremail");
    if (f.address.empty() && !f.user.empty() && !f.server.empty())
      f.address = f.user.find('@') != std::string::npos ? f.user : f.user + "@" + f.server;
    if (f.address.empty()) continue;
    bool listed = false;
    for (const auto& o : out) listed = listed || o.address == f.address;
    if (!listed) out.push_back(std::move(f));
  }
  return out;
}

int AddForeignAccounts(Settings& settings, const std::vector<std::string>& addresses, std::vector<SkippedItem>& skipped) {
  int added = 0;
  for (const std::string& a : addresses) {
    if (!IsSafeAccountAddress(a)) {
      skipped.push_back({a, kRefusedAccount});
      continue;
    }
    if (settings.ValueExists(kExternalAccountsSection, a)) continue;
    if (transport::AddUnconfiguredAccount(settings, a)) ++added;
  }
  if (added > 0) {
    FileStatus st = settings.UpdateFile();
    if (!st.ok()) skipped.push_back({"User.ini", "cannot be saved: " + st.message});
  }
  return added;
}

}  // namespace px::import
