#include "foundation/strings.h"

#include <gtest/gtest.h>

using namespace px;

TEST(CommaList, ContainsAddAndRemove) {
  EXPECT_EQ(CommaListContains("a", "a,b,c"), 1u);
  EXPECT_EQ(CommaListContains("b", "a,b,c"), 3u);
  EXPECT_EQ(CommaListContains("b", "a,bb,c"), 0u);
  EXPECT_EQ(CommaListContains("B", "a,b"), 0u);  // exact
  EXPECT_EQ(CommaListContains("x", ""), 0u);

  std::string list;
  EXPECT_TRUE(CommaListAdd("a", list));
  EXPECT_EQ(list, "a");
  EXPECT_TRUE(CommaListAdd("b", list));
  EXPECT_FALSE(CommaListAdd("a", list));
  EXPECT_TRUE(CommaListAdd("c", list));
  EXPECT_EQ(list, "a,b,c");

  struct Case { const char* list; const char* item; const char* result; bool removed; } cases[] = {
      {"a,b,c", "a", "b,c", true},
      {"a,b,c", "b", "a,c", true},
      {"a,b,c", "c", "a,b", true},
      {"a", "a", "", true},
      {"a,b", "x", "a,b", false},
      {"ab,b", "b", "ab", true},
      {"", "a", "", false},
  };
  for (const auto& c : cases) {
    std::string l = c.list;
    EXPECT_EQ(CommaListRemove(c.item, l), c.removed) << c.list << " - " << c.item;
    EXPECT_EQ(l, c.result) << c.list << " - " << c.item;
  }
}

TEST(CommaList, SplitKeepsInnerEmptyPiecesAndDropsTrailingComma) {
  EXPECT_EQ(SplitCommaList(""), StringList{});
  EXPECT_EQ(SplitCommaList(" a , b "), (StringList{"a", "b"}));
  EXPECT_EQ(SplitCommaList("a,,b"), (StringList{"a", "", "b"}));
  EXPECT_EQ(SplitCommaList("a,b,"), (StringList{"a", "b"}));
  EXPECT_EQ(SplitCommaList(",a"), (StringList{"", "a"}));
}

TEST(Names, TagPrefixExtensionsAndFolders) {
  auto t = SplitTagPrefix("$$$Red.Invoice 4");
  EXPECT_EQ(t.prefix, "$$$Red.");
  EXPECT_EQ(t.rest, "Invoice 4");
  t = SplitTagPrefix("Plain.txt");
  EXPECT_EQ(t.prefix, "");
  EXPECT_EQ(t.rest, "Plain.txt");
  t = SplitTagPrefix("$$$NoDot");
  EXPECT_EQ(t.prefix, "");
  EXPECT_EQ(t.rest, "$$$NoDot");

  EXPECT_TRUE(IsContactExt("VCF"));
  EXPECT_TRUE(IsContactExt("\x12"));
  EXPECT_TRUE(IsContactExt(".vcf"));
  EXPECT_FALSE(IsContactExt("vcard"));
  EXPECT_TRUE(IsMessageExt("Eml"));
  EXPECT_TRUE(IsMessageExt("txt"));
  EXPECT_FALSE(IsMessageExt("msg"));
  EXPECT_FALSE(IsMessageExt(""));
  EXPECT_TRUE(StartsWithControl("\x11"));
  EXPECT_FALSE(StartsWithControl(""));
  EXPECT_FALSE(StartsWithControl("a\x11"));

  EXPECT_TRUE(StartsWithText("Hello world", "hELLO"));
  EXPECT_TRUE(StartsWithText("\xC3\x89t\xC3\xA9", "\xC3\xA9T"));
  EXPECT_FALSE(StartsWithText("He", "Hello"));
  EXPECT_TRUE(StartsWithText("", ""));

  EXPECT_EQ(FolderPathOf(""), "");
  EXPECT_EQ(FolderPathOf("/data/Mail"), "/data/Mail/");
  EXPECT_EQ(FolderPathOf("/data/Mail/"), "/data/Mail/");
  EXPECT_EQ(FolderPathOf("/data/Mail/."), "/data/Mail/");
  EXPECT_EQ(FolderPathOf("."), "");  // never the root folder
}

TEST(SafeFileName, MapsCharactersNotBytes) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"Re: what?", "Re_ what_"},
      {"a\"b\"<c>", "a'b'(c)"},
      {"x!y*z/w\\v|u", "x_y_z_w_v_u"},
      {"tab\there\x01", "tab_here_"},
      {"  padded  ", "padded"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},          // é is kept whole
      {"\xC2\xA9 2024", "_ 2024"},              // © (U+00A9) becomes _
      {"bad\xE9" "byte", "bad_byte"},           // invalid UTF-8
      {"\xA9", "_"},
      {"\xE2\x82\xAC 5", "\xE2\x82\xAC 5"},     // € kept
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out) << c.in;
}

TEST(SafeFileName, RefusesEmptyDotsAndReservedNames) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"", "_"},
      {"   ", "_"},
      {".", "_"},
      {"..", "__"},
      {".hidden", "_hidden"},
      {"ends.", "ends_"},
      {"Plumadex.ini", "_Plumadex.ini"},
      {"PLUMADEX.INI", "_PLUMADEX.INI"},
      {"$$$Red.Note", "_$$$Red.Note"},
      {"$$.plumadex", "_$$.plumadex"},
      {"Plumadex.ini.txt", "Plumadex.ini.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.in), c.out) << c.in;
}

TEST(SafeFileName, CutsLongNamesOnCharacterBoundary) {
  std::string longName;
  for (int i = 0; i < 200; ++i) longName += "\xC3\xA9";  // 400 bytes
  std::string r = SafeFileName(longName);
  EXPECT_LE(r.size(), 255u);
  EXPECT_EQ(r.size(), 254u);
  EXPECT_EQ(r, longName.substr(0, 254));
  EXPECT_EQ(SafeFileName(std::string(300, 'a')).size(), 255u);
  EXPECT_EQ(SafeFileName("\xC3\xA9\xC3\xA9\xC3\xA9", 5), "\xC3\xA9\xC3\xA9");
  // A cut that leaves a reserved name still gets it refused.
  struct Cut { const char* in; size_t max; const char* out; } cuts[] = {
      {"Plumadex.ini (2)", 12, "_Plumadex.in"},
      {"$$.Plumadex copy", 11, "_$$.Plumade"},
      {"  $$$Red.Note", 5, "_$$$R"},
  };
  for (const auto& c : cuts) EXPECT_EQ(SafeFileName(c.in, c.max), c.out) << c.in;
  // A cut that ends on a dot still obeys the dot rule.
  std::string dotted = std::string(254, 'a') + ".b";
  std::string d = SafeFileName(dotted);
  EXPECT_EQ(d.size(), 255u);
  EXPECT_NE(d.back(), '.');
}

TEST(SubstituteArgs, ReplacesEachArgumentOnce) {
  EXPECT_EQ(SubstituteArgs("Cannot open %1 (%2)", {"a.txt", "x"}), "Cannot open a.txt (x)");
  EXPECT_EQ(SubstituteArgs("%1 and %1", {"x"}), "x and x");
  // Arguments that look like placeholders are not substituted again.
  EXPECT_EQ(SubstituteArgs("%1/%2", {"%2", "%1"}), "%2/%1");
  EXPECT_EQ(SubstituteArgs("%1", {"%1%1"}), "%1%1");
  // Missing arguments and stray percent signs stay as they are.
  EXPECT_EQ(SubstituteArgs("100% of %3", {"a"}), "100% of %3");
  EXPECT_EQ(SubstituteArgs("%", {}), "%");
  EXPECT_EQ(SubstituteArgs("", {"a"}), "");
  // "%10" is argument ten only when there are ten.
  EXPECT_EQ(SubstituteArgs("%10", {"a"}), "a0");
  std::vector<std::string> ten = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "ten"};
  EXPECT_EQ(SubstituteArgs("%10 %1", ten), "ten 1");
}

TEST(Text, TitleTagAndTrim) {
  EXPECT_EQ(ExtractTitleTag("<html><TITLE> ok done </TITLE></html>"), "OK DONE");
  EXPECT_EQ(ExtractTitleTag("<title>Error 4</title>"), "ERROR 4");
  EXPECT_EQ(ExtractTitleTag("<title>open"), "");
  EXPECT_EQ(ExtractTitleTag(""), "");
  EXPECT_EQ(Trim("\t a b \r\n"), "a b");
  EXPECT_EQ(TrimRight(" a\t\r\n "), "a");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(Trim(""), "");
}

TEST(SeriesId, ParseAndFormat) {
  struct Case { const char* id; const char* base; int part; int count; } cases[] = {
      {"20040203120000123456:002/003", "20040203120000123456", 2, 3},
      {"abc:005", "abc", 5, 0},
      {"abc", "abc", 0, 0},
      {"abc:x/y", "abc", 0, 0},
      {"abc:1:2/3", "abc", 0, 3},
      {"", "", 0, 0},
      {":7/", "", 7, 0},
  };
  for (const auto& c : cases) {
    SeriesId s = ParseSeriesId(c.id);
    EXPECT_EQ(s.base, c.base) << c.id;
    EXPECT_EQ(s.part, c.part) << c.id;
    EXPECT_EQ(s.count, c.count) << c.id;
    EXPECT_EQ(SeriesBase(c.id), c.base) << c.id;
  }
  EXPECT_EQ(FormatSeriesId("b", 2, 3), "b:002/003");
  EXPECT_EQ(FormatSeriesId("b", 2), "b:002");
  EXPECT_EQ(FormatSeriesId("b", 0, 3), "b");
  SeriesId back = ParseSeriesId(FormatSeriesId("b", 12, 1000));
  EXPECT_EQ(back.part, 12);
  EXPECT_EQ(back.count, 1000);
}
