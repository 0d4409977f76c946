#include <gtest/gtest.h>

#include "mailformat/codecs.h"

using namespace px::mailformat;

TEST(CodecEscape, UrlEncodeKeepsUnreservedOnly) {
  EXPECT_EQ(UrlEncode("a b&c"), "a%20b%26c");
  EXPECT_EQ(UrlEncode("AZaz09-_.!~*'()"), "AZaz09-_.!~*'()");
  EXPECT_EQ(UrlEncode("\xC3\xA9/?=%"), "%C3%A9%2F%3F%3D%25");
  EXPECT_EQ(UrlEncode(""), "");
}

TEST(CodecEscape, UrlDecodeKeepsBrokenEscapesAndStopsAtTheEnd) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"a%20b%26c", "a b&c"},
      {"%c3%A9", "\xC3\xA9"},
      {"100%", "100%"},          // "%" at the end
      {"50%2", "50%2"},          // one digit left
      {"%zz%41", "%zzA"},        // not hex, then a valid escape
      {"%%41", "%A"},
      {"a+b", "a+b"},
  };
  for (const auto& c : cases) EXPECT_EQ(UrlDecode(c.in), c.out) << c.in;
  for (const auto& c : cases) EXPECT_EQ(UrlDecode(UrlEncode(c.in)), c.in) << c.in;
}

TEST(CodecEscape, FileUrlPathEscapesAllButTheExtension) {
  EXPECT_EQ(FileUrlPath("/home/me/My Mail #1/caf\xC3\xA9.h t m"), "/home/me/My%20Mail%20%231/caf%C3%A9.h t m");
  EXPECT_EQ(FileUrlPath("C:\\x\\a b"), "C|%5Cx%5Ca%20b");
  EXPECT_EQ(FileUrlPath("/dir.d/name"), "/dir.d/name");
}

TEST(CodecEscape, FileUrlToPathAndSlashes) {
  EXPECT_EQ(FileUrlToPath("file:///tmp/a.gif"), "tmp/a.gif");
  EXPECT_EQ(FileUrlToPath("cid:abc"), "cid:abc");
  EXPECT_EQ(FileUrlToPath("file:"), "");
  EXPECT_EQ(SlashesToBackslashes("a/b/c"), "a\\b\\c");
}

TEST(CodecEscape, XmlAndHtmlEscape) {
  EXPECT_EQ(XmlEscape("<a href=\"x\">'[1]' & more</a>"),
            "&lt;a href=&quot;x&quot;&gt;&apos;&#091;1&#093;&apos; &amp; more&lt;/a&gt;");
  EXPECT_EQ(HtmlEscape("<b>\"Tom\" & 'Jerry'</b>"), "&lt;b&gt;&quot;Tom&quot; &amp; 'Jerry'&lt;/b&gt;");
}

TEST(CodecEscape, HtmlUnescapeResolvesOneLevelInOnePass) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"&amp;lt;", "&lt;"},
      {"&#65;&#66;", "AB"},
      {"&#x41;", "_"},
      {"&amp;#65;", "&#65;"},            // decoded text is not decoded again
      {"&#38;#65;", "&#65;"},
      {"a&nbsp;b&lt;c&gt;&quot;", "a b<c>\""},
      {"AT&T", "AT&T"},
      {"&#", "&#"},                      // ends, keeps the text
      {"x &#65 and more", "x &#65 and more"},
      {"AT&#T rocks; truly", "AT&#T rocks; truly"},   // not a reference: blanks before ";"
      {"&#0;", "_"},
      {"&#9999999999;", "_"},
      {"&#55296;", "_"},                 // a lone surrogate
      {"&#233;", "\xC3\xA9"},            // UTF-8 text by default
      {"&#8364;", "\xE2\x82\xAC"},
      {"caf&eacute; &euro;5 &copy;", "caf\xC3\xA9 \xE2\x82\xAC" "5 \xC2\xA9"},
      {"&Eacute;&eacute", "\xC3\x89&eacute"},   // without ";" a name stays text
      {"&unknown; &EACUTE;", "&unknown; &EACUTE;"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlUnescape(c.in), c.out) << c.in;
}

TEST(CodecEscape, HtmlUnescapeNumericReferenceFollowsTheCharset) {
  EXPECT_EQ(HtmlUnescape("caf&#233;", "iso-8859-1"), "caf\xE9");
  EXPECT_EQ(HtmlUnescape("&#8364;", "windows-1252"), "\x80");
  // A character the charset lacks is "_", never its low byte (0x3A9 & 0xFF would be 0xA9).
  EXPECT_EQ(HtmlUnescape("&#937;", "iso-8859-1"), "_");
  EXPECT_EQ(HtmlUnescape("&#937;", "no-such-charset"), "_");
  EXPECT_EQ(HtmlUnescape("&#937;", "UTF-8"), "\xCE\xA9");
  EXPECT_EQ(HtmlUnescape("&eacute;&mdash;", "iso-8859-1"), "\xE9_");
}

TEST(CodecEscape, HtmlUnescapeIsLinearOnHostileInput) {
  std::string s;
  for (int i = 0; i < 200000; ++i) s += "&#&#;";
  std::string out = HtmlUnescape(s);
  EXPECT_EQ(out.size(), 200000u * 3);  // "&#" kept, then "&#;" is no number: "_"
}
