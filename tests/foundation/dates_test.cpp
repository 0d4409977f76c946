#include "foundation/dates.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <set>

#include "foundation/random.h"
#include "support/test_support.h"

using namespace px;

TEST(DateTime, ArithmeticRoundTrips) {
  EXPECT_EQ(MakeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(MakeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(MakeDateTime(2000, 1, 1, 12), 36526.5);
  EXPECT_EQ(MakeDateTime(2001, 2, 29), 0.0);   // no such day
  EXPECT_EQ(MakeDateTime(2001, 1, 1, 24), 0.0);
  DateTimeParts p = SplitDateTime(MakeDateTime(2026, 12, 31, 23, 59, 59, 999));
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.day, 31);
  EXPECT_EQ(p.hour, 23);
  EXPECT_EQ(p.minute, 59);
  EXPECT_EQ(p.second, 59);
  EXPECT_EQ(p.msec, 999);
  // Before the zero day the fraction still counts the time of day.
  p = SplitDateTime(MakeDateTime(1899, 12, 29, 6));
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.hour, 6);
}

TEST(DateTime, QtAndUnixConversions) {
  DateTime t = MakeDateTime(2004, 2, 3, 14, 5, 6);
  QDateTime q = DateTimeToQDateTime(t);
  ASSERT_TRUE(q.isValid());
  EXPECT_EQ(q.date(), QDate(2004, 2, 3));
  EXPECT_EQ(q.time(), QTime(14, 5, 6));
  EXPECT_DOUBLE_EQ(DateTimeFromQDateTime(q), t);
  EXPECT_FALSE(DateTimeToQDateTime(0).isValid());
  EXPECT_EQ(DateTimeFromQDateTime(QDateTime()), 0.0);
  EXPECT_DOUBLE_EQ(DateTimeFromUnix(DateTimeToUnix(t)), t);
  QDateTime utc(QDate(2010, 6, 1), QTime(8, 0), Qt::UTC);
  EXPECT_DOUBLE_EQ(DateTimeFromQDateTime(utc), DateTimeFromQDateTime(utc.toLocalTime()));
  EXPECT_DOUBLE_EQ(DateTimeFromUnix(utc.toSecsSinceEpoch()), DateTimeFromQDateTime(utc));
  EXPECT_NEAR(NowDateTime(), DateTimeFromQDateTime(QDateTime::currentDateTime()), 1.0 / 86400);
  EXPECT_EQ(DateTimeFromUnix(INT64_MAX), 0.0);
}

TEST(ShortDate, FormatsAndParses) {
  EXPECT_EQ(FormatShortDate(MakeDateTime(2004, 2, 3, 14, 5, 6)), "02/03/04 14:05:06");
  EXPECT_EQ(FormatShortDate(MakeDateTime(1999, 12, 31, 23, 59, 59)), "12/31/99 23:59:59");
  EXPECT_EQ(FormatShortDate(0), "");

  struct Case { const char* text; DateTime want; } cases[] = {
      {"02/03/04 14:05:06", MakeDateTime(2004, 2, 3, 14, 5, 6)},
      {"02/03/00 00:00:00", MakeDateTime(2000, 2, 3)},
      {"02/03/50 01:02:03", MakeDateTime(2050, 2, 3, 1, 2, 3)},
      {"02/03/51 01:02:03", MakeDateTime(1951, 2, 3, 1, 2, 3)},
      {"02/03/04 14:05", MakeDateTime(2004, 2, 3, 14, 5)},     // no seconds
      {"02/03/04 14:05:0", MakeDateTime(2004, 2, 3, 14, 5)},   // 16 characters: seconds ignored
      {"00/03/04 14:05:06", 0},
      {"02/00/04 14:05:06", 0},
      {"13/03/04 14:05:06", 0},
      {"02/30/04 14:05:06", 0},
      {"02/03/04 24:05:06", 0},
      {"02/03/04 14:60:06", 0},
      {"xx/03/04 14:05:06", 0},
      {"02/03/04", 0},
      {"", 0},
      {"-1/03/04 14:05:06", 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ParseShortDate(c.text), c.want) << c.text;

  DateTime y2k = MakeDateTime(2000, 1, 1, 0, 0, 1);
  EXPECT_DOUBLE_EQ(ParseShortDate(FormatShortDate(y2k)), y2k);
}

TEST(MailDate, EnglishNamesAndZoneOffset) {
  DateTime winter = MakeDateTime(2004, 2, 3, 14, 5, 59);
  DateTime summer = MakeDateTime(2004, 7, 4, 9, 30);
  std::string berlin = FormatMailDate(winter, QTimeZone("Europe/Berlin"));
  EXPECT_TRUE(berlin.starts_with("Tue, 3 Feb 2004 14:05 +0100")) << berlin;
  EXPECT_NE(berlin.find("(CET)"), std::string::npos) << berlin;
  std::string ny = FormatMailDate(summer, QTimeZone("America/New_York"));
  EXPECT_TRUE(ny.starts_with("Sun, 4 Jul 2004 09:30 -0400")) << ny;
  EXPECT_NE(ny.find("(EDT)"), std::string::npos) << ny;
  std::string india = FormatMailDate(winter, QTimeZone("Asia/Kolkata"));
  EXPECT_TRUE(india.starts_with("Tue, 3 Feb 2004 14:05 +0530")) << india;
  // UTC is "+0000": "-0000" would say the zone is unknown.
  std::string utc = FormatMailDate(winter, QTimeZone::utc());
  EXPECT_TRUE(utc.starts_with("Tue, 3 Feb 2004 14:05 +0000")) << utc;
  // The system zone path works whatever the locale.
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  std::string local = FormatMailDate(winter);
  QLocale::setDefault(QLocale::c());
  EXPECT_TRUE(local.starts_with("Tue, 3 Feb 2004 14:05 ")) << local;
  EXPECT_EQ(FormatMailDate(0, QTimeZone::utc()).substr(0, 16), "Sat, 30 Dec 1899");
}

TEST(MailDate, ZoneAbbreviations) {
  EXPECT_EQ(ZoneAbbreviation("Central Europe Summer Time"), "CEST");
  EXPECT_EQ(ZoneAbbreviation("Alaska Standard Daylight Saving Time"), "AKDT");
  EXPECT_EQ(ZoneAbbreviation("Mars Time"), "Mars Time");
}

TEST(LocalDateTime, WindowsPicturesInTheGivenLocale) {
  DateTime t = MakeDateTime(2004, 2, 3, 14, 5, 6);
  QLocale en(QLocale::English, QLocale::UnitedStates);
  QLocale de(QLocale::German, QLocale::Germany);
  EXPECT_EQ(FormatLocalDateTime("dd/MM/yyyy", "HH:mm:ss", true, t, en), "03/02/2004 14:05:06");
  EXPECT_EQ(FormatLocalDateTime("d.M.yy", "h:mm tt", false, t, en), "2:05 PM 3.2.04");
  EXPECT_EQ(FormatLocalDateTime("dddd, d MMMM yyyy", "", true, t, en), "Tuesday, 3 February 2004");
  EXPECT_EQ(FormatLocalDateTime("ddd d MMM", "", true, t, de).substr(0, 2), "Di");
  EXPECT_EQ(FormatLocalDateTime("'day' d", "", true, t, en), "day 3");
  EXPECT_EQ(FormatLocalDateTime("", "hh 'o''clock'", true, t, en), "02 o'clock");
  EXPECT_EQ(FormatLocalDateTime("", "", true, t, en), "");
}

TEST(FormatSize, Thresholds) {
  struct Case { int64_t n; const char* text; } cases[] = {
      {0, "0 bytes"},         {999, "999 bytes"},       {1000, "1K"},
      {1499, "1K"},           {1500, "2K"},             {999999, "1000K"},
      {1000000, "1.0M"},      {1049999, "1.0M"},        {1050000, "1.1M"},
      {52428800, "52.4M"},    {5000000000LL, "5000.0M"}, {-5, "0 bytes"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatSize(c.n), c.text) << c.n;
}

TEST(UniqueId, TimeStampAndRandomSuffix) {
  RandomSource r1(42), r2(42);
  DateTime t = MakeDateTime(2004, 2, 3, 14, 5, 6, 78);
  std::string a = NewUniqueId(r1, t);
  EXPECT_EQ(a.substr(0, 17), "20040203140506078");
  EXPECT_GT(a.size(), 17u);
  EXPECT_LE(a.size(), 26u);
  EXPECT_EQ(a, NewUniqueId(r2, t));  // same seed, same id
  std::set<std::string> ids;
  RandomSource r;
  for (int i = 0; i < 1000; ++i) ids.insert(NewUniqueId(r, t));
  EXPECT_GT(ids.size(), 990u);
  EXPECT_EQ(NewUniqueId(r).size() >= 18, true);
}

TEST(Files, TimeSizeAndSameFile) {
  px::test::TempHome home;
  std::string a = home.path("a.bin"), b = home.path("b.bin"), c = home.path("c.bin");
  px::test::writeFile(a, "hello");
  px::test::writeFile(b, "hello");
  px::test::writeFile(c, "hellO!");
  struct timespec times[2] = {{1075817106, 0}, {1075817106, 500000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, b.c_str(), times, 0), 0);
  ASSERT_EQ(::utimensat(AT_FDCWD, c.c_str(), times, 0), 0);

  EXPECT_EQ(FileSizeOf(a), 5);
  EXPECT_EQ(FileSizeOf(home.path("missing")), 0);
  EXPECT_EQ(FileSizeOf(""), 0);
  EXPECT_NEAR(FileTimeOf(a), DateTimeFromUnix(1075817106, 500000000), 1e-9);
  EXPECT_EQ(FileTimeOf(home.path("missing")), 0.0);
  EXPECT_TRUE(SameFile(a, b));
  EXPECT_FALSE(SameFile(a, c));                 // size differs
  EXPECT_FALSE(SameFile(a, home.path("none")));
  times[1].tv_sec += 2;
  ASSERT_EQ(::utimensat(AT_FDCWD, b.c_str(), times, 0), 0);
  EXPECT_FALSE(SameFile(a, b));                 // time differs

  EXPECT_DOUBLE_EQ(SafeFileDate(QDateTime(QDate(2004, 2, 3), QTime(1, 2))), MakeDateTime(2004, 2, 3, 1, 2));
  EXPECT_NEAR(SafeFileDate(QDateTime()), NowDateTime(), 1.0 / 86400);
  EXPECT_EQ(ShortPathOf("/a b/c"), "/a b/c");
}
