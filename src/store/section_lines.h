#pragma once
// Small readers of raw index-section lines ("key=value"), shared by the record builder, the
// listing and the outgoing register. Keys compare without regard to ASCII case.
#include "foundation/strings.h"
#include "foundation/types.h"
#include "store/index_entry.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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

// The lines of a section as views (for the StringList form of the builders).
inline std::vector<std::string_view> Views(const StringList& lines) {
  return std::vector<std::string_view>(lines.begin(), lines.end());
}

// Value of `key` in a section's lines (keys without regard to case, trimmed), trimmed; the first
// line wins.
inline std::optional<std::string> FindKey(std::span<const std::string_view> lines, std::string_view key) {
  auto v = EntryValue(lines, key);
  if (!v) return std::nullopt;
  return std::string(TrimView(*v));
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
