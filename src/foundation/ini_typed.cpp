// Typed readers and writers of the INI interface, all in their text forms.
#include "foundation/ini_file.h"

#include "foundation/text_case.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace px {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool parseInteger(std::string_view s, int64_t& out) {
  s = trim(s);
  bool neg = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    neg = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return false;
  uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || p != s.data() + s.size()) return false;
  if (base == 10 && v > (neg ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX))) return false;
  out = neg ? int64_t(0 - v) : int64_t(v);
  return true;
}

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = int64_t(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

const int64_t kEpochShift = daysFromCivil(1899, 12, 30);  // day 0 of DateTime

unsigned daysInMonth(int64_t y, unsigned m) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// Reads up to `maxDigits` digits as a number; false when there is none.
bool takeNumber(std::string_view& s, int maxDigits, int64_t& out, int& digits) {
  digits = 0;
  out = 0;
  while (!s.empty() && digits < maxDigits && s.front() >= '0' && s.front() <= '9') {
    out = out * 10 + (s.front() - '0');
    s.remove_prefix(1);
    ++digits;
  }
  return digits > 0;
}

bool takeChar(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

bool parseTimePart(std::string_view& s, double& frac) {
  int64_t h, n, sec = 0;
  int dg;
  if (!takeNumber(s, 2, h, dg) || !takeChar(s, ':') || !takeNumber(s, 2, n, dg)) return false;
  if (takeChar(s, ':') && !takeNumber(s, 2, sec, dg)) return false;
  if (h > 23 || n > 59 || sec > 59) return false;
  frac = double(h * 3600 + n * 60 + sec) / 86400.0;
  return true;
}

bool parseDatePart(std::string_view& s, double& day) {
  int64_t a, b, c;
  int da, db, dc;
  int64_t y;
  unsigned m, d;
  if (!takeNumber(s, 4, a, da)) return false;
  if (da == 4 && takeChar(s, '-')) {  // yyyy-mm-dd
    if (!takeNumber(s, 2, b, db) || !takeChar(s, '-') || !takeNumber(s, 2, c, dc)) return false;
    y = a, m = unsigned(b), d = unsigned(c);
  } else if (da <= 2 && takeChar(s, '/')) {  // mm/dd/yy[yy]
    if (!takeNumber(s, 2, b, db) || !takeChar(s, '/') || !takeNumber(s, 4, c, dc)) return false;
    if (dc == 3) return false;
    y = dc <= 2 ? (c < 50 ? 2000 + c : 1900 + c) : c;
    m = unsigned(a), d = unsigned(b);
  } else {
    return false;
  }
  if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return false;
  day = double(daysFromCivil(y, m, d) - kEpochShift);
  return true;
}

// Date, time or both; the time alone gives a pure fraction.
bool parseDateTime(std::string_view s, double& out, bool wantDate, bool wantTime) {
  s = trim(s);
  double day = 0, frac = 0;
  std::string_view probe = s;
  bool haveDate = parseDatePart(probe, day);
  if (haveDate) {
    s = probe;
    s = trim(s);
    if (!s.empty() && !parseTimePart(s, frac)) return false;
  } else if (!parseTimePart(s, frac)) {
    return false;
  }
  if (!trim(s).empty()) return false;
  out = (wantDate ? day : 0) + (wantTime ? frac : 0);
  return true;
}

void splitDateTime(DateTime v, int64_t& y, unsigned& m, unsigned& d, int& h, int& n, int& s) {
  double whole = std::floor(v);
  int64_t secs = std::llround((v - whole) * 86400.0);
  int64_t day = int64_t(whole);
  if (secs >= 86400) {
    secs -= 86400;
    ++day;
  }
  civilFromDays(day + kEpochShift, y, m, d);
  h = int(secs / 3600);
  n = int(secs / 60 % 60);
  s = int(secs % 60);
}

std::string formatDate(DateTime v) {
  int64_t y; unsigned m, d; int h, n, s;
  splitDateTime(v, y, m, d, h, n, s);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
  return buf;
}

std::string formatTime(DateTime v) {
  int64_t y; unsigned m, d; int h, n, s;
  splitDateTime(v, y, m, d, h, n, s);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, n, s);
  return buf;
}

}  // namespace

int64_t TPXCustomIni::ReadInteger(std::string_view section, std::string_view key, int64_t def) const {
  int64_t v;
  return parseInteger(ReadString(section, key, {}), v) ? v : def;
}

void TPXCustomIni::WriteInteger(std::string_view section, std::string_view key, int64_t value) {
  WriteString(section, key, std::to_string(value));
}

bool TPXCustomIni::ReadBool(std::string_view section, std::string_view key, bool def) const {
  std::string s = ReadString(section, key, {});
  int64_t v;
  if (parseInteger(s, v)) return v != 0;
  std::string_view t = trim(s);
  if (SameText(t, "true") || SameText(t, "yes")) return true;
  if (SameText(t, "false") || SameText(t, "no")) return false;
  return def;
}

void TPXCustomIni::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

DateTime TPXCustomIni::ReadDate(std::string_view section, std::string_view key, DateTime def) const {
  double v;
  return parseDateTime(ReadString(section, key, {}), v, true, false) ? v : def;
}

void TPXCustomIni::WriteDate(std::string_view section, std::string_view key, DateTime value) {
  WriteString(section, key, formatDate(value));
}

DateTime TPXCustomIni::ReadTime(std::string_view section, std::string_view key, DateTime def) const {
  double v;
  return parseDateTime(ReadString(section, key, {}), v, false, true) ? v : def;
}

void TPXCustomIni::WriteTime(std::string_view section, std::string_view key, DateTime value) {
  WriteString(section, key, formatTime(value));
}

DateTime TPXCustomIni::ReadDateTime(std::string_view section, std::string_view key, DateTime def) const {
  double v;
  return parseDateTime(ReadString(section, key, {}), v, true, true) ? v : def;
}

void TPXCustomIni::WriteDateTime(std::string_view section, std::string_view key, DateTime value) {
  WriteString(section, key, formatDate(value) + " " + formatTime(value));
}

double TPXCustomIni::ReadFloat(std::string_view section, std::string_view key, double def) const {
  std::string s(trim(ReadString(section, key, {})));
  for (char& c : s)
    if (c == ',') c = '.';  // written by a locale with a decimal comma
  double v;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return def;
  return v;
}

void TPXCustomIni::WriteFloat(std::string_view section, std::string_view key, double value) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, value);
  WriteString(section, key, std::string_view(buf, ec == std::errc() ? size_t(p - buf) : 0));
}

std::string TPXCustomIni::ReadBinary(std::string_view section, std::string_view key) const {
  std::string s = ReadString(section, key, {});
  if (s.size() % 2) return {};
  auto nib = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(s.size() / 2);
  for (size_t i = 0; i < s.size(); i += 2) {
    int hi = nib(s[i]), lo = nib(s[i + 1]);
    if (hi < 0 || lo < 0) return {};
    out += char(hi * 16 + lo);
  }
  return out;
}

void TPXCustomIni::WriteBinary(std::string_view section, std::string_view key, std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  WriteString(section, key, out);
}

}  // namespace px
