#include "foundation/dates.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include "foundation/random.h"

namespace px {

DateTime MakeDateTime(int, int, int, int, int, int, int) { return 0; }
DateTimeParts SplitDateTime(DateTime) { return {}; }
DateTime NowDateTime() { return 0; }
DateTime DateTimeFromUnix(int64_t, int64_t) { return 0; }
int64_t DateTimeToUnix(DateTime) { return 0; }
QDateTime DateTimeToQDateTime(DateTime) { return {}; }
DateTime DateTimeFromQDateTime(const QDateTime&) { return 0; }
std::string FormatShortDate(DateTime) { return {}; }
DateTime ParseShortDate(std::string_view) { return 0; }
std::string FormatMailDate(DateTime) { return {}; }
std::string FormatMailDate(DateTime, const QTimeZone&) { return {}; }
std::string ZoneAbbreviation(std::string_view n) { return std::string(n); }
std::string FormatLocalDateTime(std::string_view, std::string_view, bool, DateTime) { return {}; }
std::string FormatLocalDateTime(std::string_view, std::string_view, bool, DateTime, const QLocale&) { return {}; }
std::string FormatSize(int64_t) { return {}; }
std::string NewUniqueId(RandomSource&) { return {}; }
std::string NewUniqueId(RandomSource&, DateTime) { return {}; }
DateTime SafeFileDate(const QDateTime&) { return 0; }
DateTime FileTimeOf(const std::string&) { return 0; }
int64_t FileSizeOf(const std::string&) { return 0; }
bool SameFile(const std::string&, const std::string&) { return false; }
std::string ShortPathOf(const std::string& p) { return p; }

}  // namespace px
