#include "mailformat/mail_date.h"

#include <cstring>
#include <string>

#include <QDateTime>
#include <QTimeZone>

#include "foundation/dates.h"
#include "mailformat/mime_header.h"

namespace px::mailformat {

namespace {

int ReadInt(std::string_view s, bool* ok = nullptr) {
  if (ok) *ok = false;
  if (s.empty() || s.size() > 9) return 0;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  if (ok) *ok = true;
  return v;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return r;
}

// Next blank-separated word starting at pos; pos moves past it.
std::string_view NextWord(std::string_view s, size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
  size_t start = pos;
  while (pos < s.size() && s[pos] != ' ') ++pos;
  return s.substr(start, pos - start);
}

}  // namespace

DateTime ParseMailDate(std::string_view input) {
  std::string text = Upper(TrimView(input));
  for (char& c : text)
    if (c == '\t') c = ' ';
  std::string_view s(text);
  if (!s.empty() && s.back() == ')') {
    size_t open = s.rfind('(');
    if (open != std::string_view::npos) s = TrimRightView(s.substr(0, open));
  }
  if (s.empty()) return 0;
  // Zone: the last blank-separated word.
  size_t lastBlank = s.rfind(' ');
  std::string_view zone = lastBlank == std::string_view::npos ? s : s.substr(lastBlank + 1);
  int offsetMinutes = 0;
  if (zone.size() >= 2 && (zone[0] == '+' || zone[0] == '-')) {
    int h = ReadInt(zone.substr(1, 2));
    int m = zone.size() > 3 ? ReadInt(zone.substr(3, 2)) : 0;
    offsetMinutes = h * 60 + m;
    if (zone[0] == '-') offsetMinutes = -offsetMinutes;
  }
  std::string_view head = lastBlank == std::string_view::npos ? std::string_view() : s.substr(0, lastBlank);
  size_t start = 0;
  size_t semi = head.rfind(';');
  if (semi != std::string_view::npos) {
    start = semi + 1;
  } else {
    size_t comma = head.rfind(',');
    if (comma != std::string_view::npos) start = comma + 1;
  }
  while (start < s.size() && !IsDigit(s[start])) ++start;
  size_t pos = start;
  std::string_view day = NextWord(s, pos);
  std::string_view monthWord = NextWord(s, pos);
  std::string_view yearWord = NextWord(s, pos);
  std::string_view timeWord = NextWord(s, pos);
  bool ok = false;
  int d = ReadInt(day, &ok);
  if (!ok) return 0;
  static const char kMonths[] = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
  int month = 1;
  if (monthWord.size() >= 3) {
    std::string m3(monthWord.substr(0, 3));
    const char* hit = std::strstr(kMonths, m3.c_str());
    if (hit) month = int(hit - kMonths) / 3 + 1;
  }
  if (yearWord.size() < 2) return 0;
  int yy = ReadInt(yearWord.substr(yearWord.size() - 2), &ok);
  if (!ok) return 0;
  int year = yy <= 50 ? 2000 + yy : 1900 + yy;
  // Time: hh:nn[:ss]
  int hh = 0, nn = 0, ss = 0;
  {
    size_t c1 = timeWord.find(':');
    if (c1 == std::string_view::npos) return 0;
    hh = ReadInt(timeWord.substr(0, c1), &ok);
    if (!ok) return 0;
    std::string_view rest = timeWord.substr(c1 + 1);
    size_t c2 = rest.find(':');
    nn = ReadInt(rest.substr(0, c2), &ok);
    if (!ok) return 0;
    if (c2 != std::string_view::npos) {
      ss = ReadInt(rest.substr(c2 + 1), &ok);
      if (!ok) return 0;
    }
  }
  DateTime t = MakeDateTime(year, month, d, hh, nn, ss);
  if (t == 0) return 0;
  return t - offsetMinutes / 1440.0;
}

DateTime ParseAolDate(std::string_view text) {
  std::string_view s = TrimView(text);
  size_t pos = 0;
  std::string_view date = NextWord(s, pos);
  std::string_view time = NextWord(s, pos);
  std::string_view marker = NextWord(s, pos);
  if (date.empty() || time.empty() || marker.empty()) return 0;
  size_t a = date.find('/'), b = date.find('/', a == std::string_view::npos ? 0 : a + 1);
  if (a == std::string_view::npos || b == std::string_view::npos) return 0;
  size_t c = time.find(':'), d = time.find(':', c == std::string_view::npos ? 0 : c + 1);
  if (c == std::string_view::npos || d == std::string_view::npos) return 0;
  bool ok1, ok2, ok3, ok4, ok5, ok6;
  int month = ReadInt(date.substr(0, a), &ok1);
  int day = ReadInt(date.substr(a + 1, b - a - 1), &ok2);
  int year = ReadInt(date.substr(b + 1), &ok3);
  int hour = ReadInt(time.substr(0, c), &ok4);
  int minute = ReadInt(time.substr(c + 1, d - c - 1), &ok5);
  int second = ReadInt(time.substr(d + 1), &ok6);
  if (!(ok1 && ok2 && ok3 && ok4 && ok5 && ok6)) return 0;
  if (year < 100) year += year <= 50 ? 2000 : 1900;
  if (hour == 12) hour = 0;
  if (marker[0] == 'P' || marker[0] == 'p') hour += 12;
  return MakeDateTime(year, month, day, hour, minute, second);
}

DateTime UtcToLocal(DateTime utc) {
  if (utc == 0) return 0;
  DateTimeParts p = SplitDateTime(utc);
  QDateTime u(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second, p.msec),
              QTimeZone::utc());
  if (!u.isValid()) return 0;
  QDateTime l = u.toLocalTime();
  return MakeDateTime(l.date().year(), l.date().month(), l.date().day(), l.time().hour(),
                      l.time().minute(), l.time().second(), l.time().msec());
}

}  // namespace px::mailformat
