#include <gtest/gtest.h>

#include "mailformat/codecs.h"

using namespace px::mailformat;

TEST(CodecEncodedWords, DecodesAndReportsTheCharset) {
  struct Case { const char* in; const char* out; const char* charset; } cases[] = {
      {"=?iso-8859-1?Q?Caf=E9_au_lait?=", "Caf\xE9 au lait", "iso-8859-1"},
      {"=?UTF-8?b?Q2Fmw6k=?=", "Caf\xC3\xA9", "UTF-8"},
      {"Re: =?utf-8?q?gr=C3=BC=C3=9Fe?= from me", "Re: gr\xC3\xBC\xC3\x9F" "e from me", "utf-8"},
      {"=?iso-8859-1?Z?abc?=", "=?iso-8859-1?Z?abc?=", ""},      // unknown letter: unchanged
      {"plain text", "plain text", ""},
      {"=?utf-8?Q?unterminated", "=?utf-8?Q?unterminated", ""},
      {"=?", "=?", ""},
      {"=??Q?x?=", "=??Q?x?=", ""},                              // no charset
      {"=?utf-8*en?Q?Hi?=", "Hi", "utf-8"},                      // RFC 2231 language dropped
      {"=?bad charset?Q?x?= =?utf-8?Q?ok?=", "=?bad charset?Q?x?= ok", "utf-8"},
  };
  for (const auto& c : cases) {
    std::string cs;
    EXPECT_EQ(DecodeEncodedWords(c.in, &cs), c.out) << c.in;
    EXPECT_EQ(cs, c.charset) << c.in;
  }
}

TEST(CodecEncodedWords, BlanksBetweenAdjacentWordsAreDropped) {
  EXPECT_EQ(DecodeEncodedWords("=?utf-8?Q?a?= =?utf-8?Q?b?="), "ab");
  EXPECT_EQ(DecodeEncodedWords("=?utf-8?Q?a?=\r\n\t=?utf-8?B?Yg==?="), "ab");
  EXPECT_EQ(DecodeEncodedWords("=?utf-8?Q?a_?= =?utf-8?Q?b?="), "a b");
  EXPECT_EQ(DecodeEncodedWords("=?utf-8?Q?a?= x =?utf-8?Q?b?="), "a x b");
  EXPECT_EQ(DecodeEncodedWords("x =?utf-8?Q?a?= y"), "x a y");
}

TEST(CodecEncodedWords, DecodedTextIsNotDecodedAgain) {
  // The word decodes to the text of another encoded word, which must stay as it is.
  std::string inner = "=?utf-8?Q?x?=";
  std::string outer = "=?utf-8?B?PT91dGYtOD9RP3g/PQ==?=";
  EXPECT_EQ(DecodeEncodedWords(outer), inner);
  EXPECT_EQ(DecodeEncodedWords("=?utf-8?Q?=3D=3Futf-8=3FQ=3Fy=3F=3D?="), "=?utf-8?Q?y?=");
}

TEST(CodecEncodedWords, DifferentCharsetsMeetInUtf8) {
  std::string cs;
  EXPECT_EQ(DecodeEncodedWords("=?iso-8859-1?Q?caf=E9?= =?koi8-r?B?9A==?=", &cs), "caf\xC3\xA9\xD0\xA2");
  EXPECT_EQ(cs, "UTF-8");
  // ASCII words do not force a conversion.
  EXPECT_EQ(DecodeEncodedWords("=?us-ascii?Q?Re:_?= =?iso-8859-1?Q?=E9?=", &cs), "Re: \xE9");
  EXPECT_EQ(cs, "iso-8859-1");
}

TEST(CodecEncodedWords, ManyOpeningsStayLinear) {
  std::string s;
  for (int i = 0; i < 100000; ++i) s += "=?a b";
  EXPECT_EQ(DecodeEncodedWords(s), s);
}
