#include "store/index_entry.h"

#include "foundation/ini_file.h"

#include <charconv>
#include <cstdint>
#include <system_error>

namespace px::store {
namespace {

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

template <typename Lines>
std::optional<std::string_view> firstValue(const Lines& lines, std::string_view key) {
  for (std::string_view line : lines) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (EntryKeyIs(line.substr(0, eq), key)) return line.substr(eq + 1);
  }
  return std::nullopt;
}

}  // namespace

int ParseEntryFlags(std::string_view v) {
  v = trimBlanks(v);
  bool neg = false;
  if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
    neg = v.front() == '-';
    v.remove_prefix(1);
  }
  int base = 10;
  if (!v.empty() && v.front() == '$') {
    base = 16;
    v.remove_prefix(1);
  } else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    base = 16;
    v.remove_prefix(2);
  }
  if (v.empty()) return 0;
  uint64_t n = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n, base);
  if (ec != std::errc() || p != v.data() + v.size()) return 0;
  if (neg) n = 0 - n;
  return static_cast<int>(n & 0xFFFF);
}

bool EntryKeyIs(std::string_view lineKey, std::string_view key) {
  lineKey = trimBlanks(lineKey);
  if (lineKey.size() != key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (lowerAscii(lineKey[i]) != lowerAscii(key[i])) return false;
  return true;
}

std::optional<std::string_view> EntryValue(std::span<const std::string_view> lines, std::string_view key) {
  return firstValue(lines, key);
}

std::optional<std::string_view> EntryValue(const StringList& lines, std::string_view key) {
  return firstValue(lines, key);
}

int EntryFlags(std::span<const std::string_view> lines, int def) {
  auto v = EntryValue(lines, "Flags");
  return v && !trimBlanks(*v).empty() ? ParseEntryFlags(*v) : def;
}

int EntryFlags(const StringList& lines, int def) {
  auto v = EntryValue(lines, "Flags");
  return v && !trimBlanks(*v).empty() ? ParseEntryFlags(*v) : def;
}

int ReadEntryFlags(const TPXCustomIni& index, std::string_view section, int def) {
  StringList lines;
  index.ReadSectionValues(section, lines);
  return EntryFlags(lines, def);
}

}  // namespace px::store
