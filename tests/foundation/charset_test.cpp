#include "foundation/charset.h"

#include <gtest/gtest.h>

#include "foundation/text_case.h"

using namespace px;

namespace {
int cpOfRow(int i) { return i < 0 ? 0 : CharsetRows()[size_t(i)].codePage; }
}  // namespace

TEST(Charset, TableIsSortedAndKnowsTheStoredNames) {
  const auto& rows = CharsetRows();
  ASSERT_GT(rows.size(), 30u);
  for (size_t i = 1; i < rows.size(); ++i)
    EXPECT_LE(CompareText(rows[i - 1].description, rows[i].description), 0) << rows[i].description;

  struct Case { const char* name; int codePage; } cases[] = {
      {"Windows-1252", 1252}, {"windows-1252", 1252}, {"iso-8859-1", 28591}, {"ISO-8859-2", 28592},
      {"utf-8", 65001},       {"UTF-16", 1200},       {"unicode", 1200},     {"unicodeFFFE", 1201},
      {"UTF-16BE", 1201},     {"koi8-r", 20866},      {"shift_jis", 932},    {"x-sjis", 932},
      {"gb2312", 936},        {"big5", 950},          {"euc-kr", 51949},     {"us-ascii", 20127},
      {"latin1", 28591},      {"cp1251", 1251},       {"1250", 1250},        {" \"utf-7\" ", 65000},
      {"iso-8859-15", 28605}, {"no-such-charset", 0}, {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(cpOfRow(CharsetIndex(c.name)), c.codePage) << c.name;
  EXPECT_EQ(CodePageOfCharset("koi8-r"), 20866);
  EXPECT_EQ(CharsetNameOfCodePage(28592), "iso-8859-2");
  EXPECT_EQ(CharsetNameOfCodePage(4242), "");
  EXPECT_TRUE(SameText(DefaultCharsetName(), "windows-1252"));
  EXPECT_TRUE(IsUnicodeCharset("unicode"));
  EXPECT_TRUE(IsUnicodeCharset("utf-16be"));
  EXPECT_FALSE(IsUnicodeCharset("utf-8"));
  EXPECT_FALSE(IsUnicodeCharset("bogus"));
}

TEST(Charset, DecodesAndEncodes) {
  struct Case { const char* charset; std::string bytes; std::string utf8; } cases[] = {
      {"windows-1252", "caf\xE9 \x80", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"iso-8859-2", "\xB1", "\xC4\x85"},                               // ą
      {"koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},  // Привет
      {"shift_jis", "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC"},    // 日本
      {"unicode", std::string("A\0\xE9\0", 4), "A\xC3\xA9"},
      {"unicodeFFFE", std::string("\0A\0\xE9", 4), "A\xC3\xA9"},
      {"utf-8", "caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeFromCharset(c.bytes, c.charset), c.utf8) << c.charset;
    EXPECT_EQ(EncodeToCharset(c.utf8, c.charset), c.bytes) << c.charset;
  }
  EXPECT_EQ(DecodeFromCodePage("\xE9", 1252), "\xC3\xA9");
  EXPECT_EQ(EncodeToCodePage("\xC3\xA9", 28591), "\xE9");
  // Unknown charsets leave the text alone; empty input stays empty.
  EXPECT_EQ(DecodeFromCharset("caf\xE9", "x-unknown"), "caf\xE9");
  EXPECT_EQ(EncodeToCharset("caf\xC3\xA9", ""), "caf\xC3\xA9");
  EXPECT_EQ(DecodeFromCharset("", "koi8-r"), "");
  // A character the charset lacks becomes a visible "?".
  EXPECT_EQ(EncodeToCharset("a\xE6\x97\xA5" "b", "windows-1252"), "a?b");
}

TEST(Charset, DetectsOnlyWhenConfident) {
  EXPECT_EQ(DetectCodePage(""), 0);
  std::string utf8;
  for (int i = 0; i < 20; ++i) utf8 += "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln, sch\xC3\xB6ne Stra\xC3\x9F" "e. ";
  EXPECT_EQ(DetectCodePage(utf8), 65001);
  std::string koi;
  for (int i = 0; i < 30; ++i) koi += "\xF0\xD2\xC9\xD7\xC5\xD4 \xCD\xC9\xD2, \xCB\xC1\xCB \xC4\xC5\xCC\xC1? ";
  EXPECT_EQ(DetectCodePage(koi), 20866);
}

TEST(Charset, WideConversions) {
  EXPECT_EQ(ToWide("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(ToWide("caf\xE9", "windows-1252"), u"caf\u00E9");
  EXPECT_EQ(FromWide(u"caf\u00E9"), "caf\xC3\xA9");
  EXPECT_EQ(FromWide(u"caf\u00E9", "iso-8859-1"), "caf\xE9");
  EXPECT_EQ(FromWide(u"\u20AC", "no-such"), "\xE2\x82\xAC");
  EXPECT_EQ(ToWide(""), u"");
  EXPECT_EQ(FromWide(u""), "");
}
