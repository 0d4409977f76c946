#include "mailformat/mime_header.h"

#include "mailformat/codecs.h"

namespace px::mailformat {

namespace {
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
}  // namespace

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

std::string_view TrimRightView(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(0, e);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(s[i]) != Lower(prefix[i])) return false;
  return true;
}

bool HeaderNameMatches(std::string_view line, std::string_view name) {
  if (!StartsWithNoCase(line, name)) return false;
  std::string_view rest = TrimView(line.substr(name.size()));
  return !rest.empty() && rest[0] == ':';
}

std::string CleanHeaderValue(std::string_view rest, std::string* wordCharset) {
  std::string v(rest);
  for (char& c : v)
    if (c == '\t') c = ' ';
  if (v.find("=?") != std::string::npos) {
    std::string cs;
    v = DecodeEncodedWords(v, &cs);
    if (wordCharset && !cs.empty()) *wordCharset = cs;
  }
  std::string collapsed;
  collapsed.reserve(v.size());
  for (char c : v) {
    if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ') continue;
    collapsed.push_back(c);
  }
  std::string_view t = TrimView(collapsed);
  if (!t.empty() && t[0] == ':') t.remove_prefix(1);
  return std::string(TrimView(t));
}

std::string HeaderParam(std::string_view value, std::string_view param) {
  if (param.empty()) {
    size_t semi = value.find(';');
    return std::string(TrimView(value.substr(0, semi)));
  }
  // Case-free search without building a lower-cased copy.
  size_t pos = std::string_view::npos;
  if (value.size() >= param.size()) {
    for (size_t i = 0; i + param.size() <= value.size(); ++i) {
      if (StartsWithNoCase(value.substr(i), param)) {
        pos = i;
        break;
      }
    }
  }
  if (pos == std::string_view::npos) return {};
  std::string_view rest = TrimView(value.substr(pos + param.size()));
  if (!rest.empty() && rest[0] == '"') {
    rest.remove_prefix(1);
    size_t q = rest.find('"');
    return std::string(TrimView(rest.substr(0, q)));
  }
  size_t semi = rest.find(';');
  return std::string(TrimView(rest.substr(0, semi)));
}

bool IsValidUtf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (len == 0 || c == 0xC0 || c == 0xC1 || c > 0xF4 || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

std::string OneLine(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return r;
}

}  // namespace px::mailformat
