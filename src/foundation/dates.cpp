#include "foundation/dates.h"

#include <sys/stat.h>

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <array>
#include <cmath>
#include <cstdio>

#include "foundation/random.h"

namespace px {
namespace {

constexpr qint64 kJulianDayOfZero = 2415019;  // 1899-12-30
constexpr int64_t kMsPerDay = 86400000;

std::string twoDigits(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

// A field of up to two characters at 0-based position pos, read as a number; -1 when it is
// missing or not a number (a leading blank is allowed, as a hand-written date may have it).
int field(std::string_view s, size_t pos) {
  if (pos >= s.size()) return -1;
  std::string_view f = s.substr(pos, 2);
  if (f.size() == 2 && f[0] == ' ') f.remove_prefix(1);
  if (f.empty()) return -1;
  int v = 0;
  for (char c : f) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

constexpr std::array<const char*, 7> kDayNames = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct ZoneName {
  const char* full;
  const char* abbr;
};
constexpr ZoneName kZoneNames[] = {
    {"Coordinated Universal Time", "UTC"},
    {"Greenwich Mean Time", "GMT"},
    {"British Summer Time", "BST"},
    {"Irish Summer Time", "IST"},
    {"Western Europe Time", "WET"},
    {"Western Europe Summer Time", "WEST"},
    {"Central Europe Time", "CET"},
    {"Central Europe Summer Time", "CEST"},
    {"Eastern Europe Time", "EET"},
    {"Eastern Europe Summer Time", "EEST"},
    {"Moscow Time", "MSK"},
    {"Moscow Summer Time", "MSD"},
    {"Atlantic Standard Time", "AST"},
    {"Atlantic Daylight Saving Time", "ADT"},
    {"Eastern Standard Time", "EST"},
    {"Eastern Daylight Saving Time", "EDT"},
    {"Eastern Time", "ET"},
    {"Central Standard Time", "CST"},
    {"Central Daylight Saving Time", "CDT"},
    {"Central Time", "CT"},
    {"Mountain Standard Time", "MST"},
    {"Mountain Daylight Saving Time", "MDT"},
    {"Mountain Time", "MT"},
    {"Pacific Standard Time", "PST"},
    {"Pacific Daylight Saving Time", "PDT"},
    {"Pacific Time", "PT"},
    {"Hawaiian Standard Time", "HST"},
    {"Alaska Standard Time", "AKST"},
    {"Alaska Standard Daylight Saving Time", "AKDT"},
    {"Australian Eastern Standard Time", "AEST"},
    {"Australian Eastern Daylight Time", "AEDT"},
    {"Australian Central Standard Time", "ACST"},
    {"Australian Central Daylight Time", "ACDT"},
    {"Australian Western Standard Time", "AWST"},
};

bool lettersOnly(const QString& s) {
  if (s.isEmpty()) return false;
  for (QChar c : s)
    if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))) return false;
  return true;
}

// Windows date and time pictures, rendered with the locale's names.
std::string formatPicture(std::string_view pic, bool timePart, const QDate& d, const QTime& tm,
                          const QLocale& locale) {
  QString out;
  size_t i = 0;
  while (i < pic.size()) {
    char c = pic[i];
    if (c == '\'') {  // literal text; '' inside is one quote
      size_t j = i + 1;
      QByteArray lit;
      while (j < pic.size()) {
        if (pic[j] == '\'') {
          if (j + 1 < pic.size() && pic[j + 1] == '\'') { lit += '\''; j += 2; continue; }
          break;
        }
        lit += pic[j++];
      }
      out += QString::fromUtf8(lit);
      i = j + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < pic.size() && pic[i + run] == c) ++run;
    auto num = [&](int v, bool pad) { out += pad ? QString::asprintf("%02d", v) : QString::number(v); };
    bool handled = true;
    if (!timePart) {
      switch (c) {
        case 'd':
          if (run == 1) num(d.day(), false);
          else if (run == 2) num(d.day(), true);
          else if (run == 3) out += locale.dayName(d.dayOfWeek(), QLocale::ShortFormat);
          else out += locale.dayName(d.dayOfWeek(), QLocale::LongFormat);
          break;
        case 'M':
          if (run == 1) num(d.month(), false);
          else if (run == 2) num(d.month(), true);
          else if (run == 3) out += locale.monthName(d.month(), QLocale::ShortFormat);
          else out += locale.monthName(d.month(), QLocale::LongFormat);
          break;
        case 'y':
          if (run == 1) num(d.year() % 100, false);
          else if (run == 2) num(d.year() % 100, true);
          else out += QString::number(d.year());
          break;
        case 'g':
          break;  // era: not shown
        default:
          handled = false;
      }
    } else {
      int h12 = tm.hour() % 12 == 0 ? 12 : tm.hour() % 12;
      switch (c) {
        case 'h': num(h12, run >= 2); break;
        case 'H': num(tm.hour(), run >= 2); break;
        case 'm': num(tm.minute(), run >= 2); break;
        case 's': num(tm.second(), run >= 2); break;
        case 't': {
          QString ap = tm.hour() < 12 ? locale.amText() : locale.pmText();
          out += run == 1 ? ap.left(1) : ap;
          break;
        }
        default:
          handled = false;
      }
    }
    if (!handled) out += QString::fromUtf8(pic.substr(i, run).data(), qsizetype(run));
    i += run;
  }
  return out.toStdString();
}

}  // namespace

// ---------------------------------------------------------------- arithmetic

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  QDate d(year, month, day);
  if (!d.isValid() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59 || msec < 0 || msec > 999)
    return 0;
  double days = double(d.toJulianDay() - kJulianDayOfZero);
  double frac = double(((hour * 60 + minute) * 60 + second) * 1000 + msec) / double(kMsPerDay);
  // Before the zero day the time of day counts away from zero, as stored dates do.
  return days < 0 ? days - frac : days + frac;
}

DateTimeParts SplitDateTime(DateTime t) {
  DateTimeParts p;
  if (!std::isfinite(t) || std::fabs(t) > 3.0e6) return p;
  double whole = std::trunc(t);
  int64_t days = int64_t(whole);
  int64_t ms = std::llround(std::fabs(t - whole) * double(kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += t < 0 ? -1 : 1;
  }
  QDate d = QDate::fromJulianDay(kJulianDayOfZero + days);
  p.year = d.year();
  p.month = d.month();
  p.day = d.day();
  p.hour = int(ms / 3600000);
  p.minute = int(ms / 60000 % 60);
  p.second = int(ms / 1000 % 60);
  p.msec = int(ms % 1000);
  return p;
}

// ---------------------------------------------------------------- conversions

DateTime NowDateTime() { return DateTimeFromQDateTime(QDateTime::currentDateTime()); }

DateTime DateTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  if (seconds > 1000000000000LL || seconds < -1000000000000LL) return 0;  // beyond any calendar
  return DateTimeFromQDateTime(
      QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000, Qt::LocalTime));
}

int64_t DateTimeToUnix(DateTime t) {
  QDateTime dt = DateTimeToQDateTime(t);
  return dt.isValid() ? dt.toSecsSinceEpoch() : 0;
}

QDateTime DateTimeToQDateTime(DateTime t) {
  if (t == 0) return {};
  DateTimeParts p = SplitDateTime(t);
  QDate d(p.year, p.month, p.day);
  if (!d.isValid()) return {};
  return QDateTime(d, QTime(p.hour, p.minute, p.second, p.msec), Qt::LocalTime);
}

DateTime DateTimeFromQDateTime(const QDateTime& dt) {
  if (!dt.isValid()) return 0;
  QDateTime local = dt.timeSpec() == Qt::LocalTime ? dt : dt.toLocalTime();
  QDate d = local.date();
  QTime tm = local.time();
  return MakeDateTime(d.year(), d.month(), d.day(), tm.hour(), tm.minute(), tm.second(), tm.msec());
}

// ---------------------------------------------------------------- stored and shown forms

std::string FormatShortDate(DateTime t) {
  if (t == 0) return {};  // written as nothing so that it reads back as "no date"
  DateTimeParts p = SplitDateTime(t);
  if (p.year == 0) return {};
  return twoDigits(p.month) + "/" + twoDigits(p.day) + "/" + twoDigits(p.year % 100) + " " +
         twoDigits(p.hour) + ":" + twoDigits(p.minute) + ":" + twoDigits(p.second);
}

DateTime ParseShortDate(std::string_view s) {
  int month = field(s, 0), day = field(s, 3), year = field(s, 6);
  int hour = field(s, 9), minute = field(s, 12);
  int second = s.size() > 16 ? field(s, 15) : 0;
  if (month <= 0 || day <= 0 || year < 0 || hour < 0 || minute < 0 || second < 0) return 0;
  year += year <= 50 ? 2000 : 1900;
  return MakeDateTime(year, month, day, hour, minute, second);
}

std::string ZoneAbbreviation(std::string_view fullName) {
  for (const ZoneName& z : kZoneNames)
    if (fullName == z.full) return z.abbr;
  return std::string(fullName);
}

std::string FormatMailDate(DateTime t) { return FormatMailDate(t, QTimeZone::systemTimeZone()); }

std::string FormatMailDate(DateTime t, const QTimeZone& zone) {
  DateTimeParts p = SplitDateTime(t);
  QDate d(p.year, p.month, p.day);
  if (!d.isValid()) return {};
  QDateTime at(d, QTime(p.hour, p.minute, p.second), zone.isValid() ? zone : QTimeZone::utc());
  int offset = at.offsetFromUtc();  // seconds east of UTC
  // "+0000" for UTC itself: "-0000" would claim the zone is unknown.
  char sign = offset >= 0 ? '+' : '-';
  int mins = std::abs(offset) / 60;
  std::string r = std::string(kDayNames[size_t(d.dayOfWeek() - 1)]) + ", " + std::to_string(p.day) +
                  " " + kMonthNames[size_t(p.month - 1)] + " " + std::to_string(p.year) + " " +
                  twoDigits(p.hour) + ":" + twoDigits(p.minute) + " " + sign +
                  twoDigits(mins / 60) + twoDigits(mins % 60);
  if (!zone.isValid()) return r;
  QString full = zone.displayName(at, QTimeZone::LongName, QLocale(QLocale::English));
  std::string name;
  if (!full.isEmpty()) {
    std::string abbr = ZoneAbbreviation(full.toStdString());
    if (abbr != full.toStdString()) name = abbr;
  }
  if (name.empty()) {
    QString sysAbbr = zone.abbreviation(at);
    if (lettersOnly(sysAbbr)) name = sysAbbr.toStdString();
    else if (!full.isEmpty() && full != sysAbbr) name = full.toStdString();
  }
  if (!name.empty()) r += " (" + name + ")";
  return r;
}

std::string FormatLocalDateTime(std::string_view dateFormat, std::string_view timeFormat,
                                bool dateFirst, DateTime t) {
  return FormatLocalDateTime(dateFormat, timeFormat, dateFirst, t, QLocale::system());
}

std::string FormatLocalDateTime(std::string_view dateFormat, std::string_view timeFormat,
                                bool dateFirst, DateTime t, const QLocale& locale) {
  DateTimeParts p = SplitDateTime(t);
  QDate d(p.year, p.month, p.day);
  QTime tm(p.hour, p.minute, p.second, p.msec);
  if (!d.isValid()) return {};
  std::string datePart = dateFormat.empty() ? std::string() : formatPicture(dateFormat, false, d, tm, locale);
  std::string timePart = timeFormat.empty() ? std::string() : formatPicture(timeFormat, true, d, tm, locale);
  const std::string& a = dateFirst ? datePart : timePart;
  const std::string& b = dateFirst ? timePart : datePart;
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + " " + b;
}

std::string FormatSize(int64_t n) {
  if (n < 0) n = 0;
  if (n < 1000) return std::to_string(n) + " bytes";
  if (n <= 999999) return std::to_string((n + 500) / 1000) + "K";
  int64_t r = n + 50000;
  return std::to_string(r / 1000000) + "." + std::to_string(r % 1000000 / 100000) + "M";
}

std::string NewUniqueId(RandomSource& random) { return NewUniqueId(random, NowDateTime()); }

std::string NewUniqueId(RandomSource& random, DateTime now) {
  DateTimeParts p = SplitDateTime(now);
  char b[32];
  std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d%03d", p.year, p.month, p.day, p.hour,
                p.minute, p.second, p.msec);
  return std::string(b) + std::to_string(random.Below(1000000000));
}

// ---------------------------------------------------------------- files

DateTime SafeFileDate(const QDateTime& fileTime) {
  DateTime t = DateTimeFromQDateTime(fileTime);
  return t == 0 ? NowDateTime() : t;
}

DateTime FileTimeOf(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return 0;
  return DateTimeFromUnix(int64_t(st.st_mtim.tv_sec), int64_t(st.st_mtim.tv_nsec));
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return int64_t(st.st_size);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (a.empty() || b.empty() || ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
    return false;
  if (!S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size) return false;
  auto ms = [](const struct stat& s) {
    return int64_t(s.st_mtim.tv_sec) * 1000 + int64_t(s.st_mtim.tv_nsec) / 1000000;
  };
  return ms(sa) == ms(sb);
}

std::string ShortPathOf(const std::string& path) { return path; }

}  // namespace px
