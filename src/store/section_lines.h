#pragma once
// Small readers of raw index-section lines ("key=value"), shared by the record builder, the
// listing and the outgoing register. Keys compare without regard to ASCII case.
#include "foundation/strings.h"
#include "foundation/types.h"
#include "store/doc_record.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace px::store {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

inline bool EqualsNoCase(std::string_view a, std::string_view lowerAscii) {
  if (a.size() != lowerAscii.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerAscii[i]) return false;
  }
  return true;
}

inline bool StartsWithDollars(std::string_view s) { return s.size() >= 3 && s.substr(0, 3) == "$$$"; }

// A decimal integer (or "$"/"0x" hexadecimal, as the program's INI readers accept); invalid
// text gives 0. Only the low 16 bits are flag bits.
inline int ParseFlags(std::string_view v) {
  v = TrimView(v);
  if (v.empty()) return 0;
  int base = 10;
  bool neg = false;
  if (v.front() == '-' || v.front() == '+') {
    neg = v.front() == '-';
    v.remove_prefix(1);
  }
  if (!v.empty() && v.front() == '$') {
    base = 16;
    v.remove_prefix(1);
  } else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  if (v.empty()) return 0;
  int64_t n = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n, base);
  if (ec != std::errc() || p != v.data() + v.size()) return 0;
  if (neg) n = -n;
  return static_cast<int>(static_cast<uint64_t>(n) & dfStoredMask);
}

// The lines of a section as views (for the StringList form of the builders).
inline std::vector<std::string_view> Views(const StringList& lines) {
  return std::vector<std::string_view>(lines.begin(), lines.end());
}

// Value of `key` in a section's lines (keys without regard to case, trimmed); the last line wins.
inline std::optional<std::string> FindKey(std::span<const std::string_view> lines, std::string_view keyLower) {
  std::optional<std::string> out;
  for (std::string_view line : lines) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (EqualsNoCase(TrimView(line.substr(0, eq)), keyLower)) out = std::string(TrimView(line.substr(eq + 1)));
  }
  return out;
}

inline StringList SplitAddresses(std::string_view value) {
  StringList out;
  for (std::string& s : SplitCommaList(value))
    if (!s.empty()) out.push_back(std::move(s));
  return out;
}

inline bool IsAsciiText(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace px::store
