#pragma once
// Dates, sizes, unique identifiers and file facts.
// px::DateTime counts days since 1899-12-30 00:00 local wall time; 0 means "no date".
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/types.h"

class QDateTime;
class QTimeZone;
class QLocale;

namespace px {

class RandomSource;

// --- DateTime arithmetic (pure, no time zone involved) ---
struct DateTimeParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, msec = 0;
};
// 0 when the parts do not make a valid date or time.
DateTime MakeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                      int second = 0, int msec = 0);
DateTimeParts SplitDateTime(DateTime t);

// --- Conversions (local time zone of the system) ---
DateTime NowDateTime();
DateTime DateTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0);
// Seconds since the epoch of the local wall time t (0 for no date).
int64_t DateTimeToUnix(DateTime t);
// An invalid QDateTime for t == 0.
QDateTime DateTimeToQDateTime(DateTime t);
// 0 for an invalid QDateTime; other zones are converted to local time.
DateTime DateTimeFromQDateTime(const QDateTime& dt);

// --- Stored and shown forms ---
// "mm/dd/yy hh:nn:ss" (index keys Time, Delivered, sent.ini Sent). "" for no date.
std::string FormatShortDate(DateTime t);
// The reverse; 0 (no date) for anything malformed. Years 00-50 are 20yy, 51-99 are 19yy.
DateTime ParseShortDate(std::string_view s);
// "Tue, 3 Feb 2004 14:05 +0100 (CET)": English names in every locale, the system's zone.
std::string FormatMailDate(DateTime t);
// The same for a given zone (t is wall time in that zone).
std::string FormatMailDate(DateTime t, const QTimeZone& zone);
// Abbreviation for a full zone name ("Central Europe Time" -> "CET"); the name itself when
// the table does not know it.
std::string ZoneAbbreviation(std::string_view fullName);
// Date part formatted with dateFormat and time part with timeFormat (Windows picture
// strings: d dd ddd dddd M MM MMM MMMM y yy yyyy, h hh H HH m mm s ss t tt, 'literal'),
// in the user's locale, joined with a blank in the order dateFirst says; an empty format
// leaves its part out.
std::string FormatLocalDateTime(std::string_view dateFormat, std::string_view timeFormat,
                                bool dateFirst, DateTime t);
std::string FormatLocalDateTime(std::string_view dateFormat, std::string_view timeFormat,
                                bool dateFirst, DateTime t, const QLocale& locale);

// "999 bytes", "1K" ... "1000K", "1.0M", "52.4M".
std::string FormatSize(int64_t bytes);

// "yyyymmddhhnnsszzz" of now + a random number below 1000000000 (no padding).
std::string NewUniqueId(RandomSource& random);
std::string NewUniqueId(RandomSource& random, DateTime now);

// --- Files (paths are UTF-8) ---
// The file time as a DateTime; the current time when the file time is invalid.
DateTime SafeFileDate(const QDateTime& fileTime);
// Last-write time (0 when missing).
DateTime FileTimeOf(const std::string& path);
// Size in bytes (0 when missing).
int64_t FileSizeOf(const std::string& path);
// Both exist as files with equal size and equal modification time (to the millisecond).
bool SameFile(const std::string& a, const std::string& b);
// There are no short names here: the path unchanged.
std::string ShortPathOf(const std::string& path);

}  // namespace px
