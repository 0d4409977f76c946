#include "store/index_value.h"

#include <gtest/gtest.h>

namespace px::store {
namespace {

struct EncodeCase {
  StringList lines;
  std::string charset;
  std::string encoded;
};

TEST(IndexValue, Encode) {
  const EncodeCase cases[] = {
      {{"a", "", "b"}, "", "a~~b"},
      {{"x;", "y"}, "", "x;~y"},
      {{"tilde~here"}, "", "tilde;~here"},
      {{"v\vt"}, "", "v;~t"},
      {{}, "utf-8", ""},
      {{""}, "utf-8", ""},
      {{"caf\xe9"}, "iso-8859-1", "CHARSET:iso-8859-1~~caf\xe9"},
      {{"one\r\ntwo\nthree\rfour"}, "", "one~two~three~four"},
      {{std::string("nul\0x", 5)}, "", "nul x"},
      // A charset name read from a damaged value must not escape the separator when written back.
      {{"A"}, "iso-88x;", "CHARSET:iso-88x~~A"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeIndexValue(c.lines, c.charset), c.encoded) << c.encoded;
}

struct DecodeCase {
  std::string value;
  StringList lines;
  std::string charset;
};

TEST(IndexValue, Decode) {
  const DecodeCase cases[] = {
      {"a~~b", {"a", "", "b"}, ""},
      {"tilde;~here", {"tilde~here"}, ""},
      {"x;~y", {"x~y"}, ""},  // the known quirk: "x;" and "y" come back as one line
      {"", {}, ""},
      {"a~", {"a"}, ""},  // a final empty piece is not added
      {"a~~", {"a", ""}, ""},
      {"CHARSET:koi8-r~~line", {"line"}, "koi8-r"},
      {"charset: Windows-1252 ~~l1~l2", {"l1", "l2"}, "Windows-1252"},
      {"CHARSET:utf-8~~", {}, "utf-8"},
      // Without the separating pair the text is the user's own.
      {"Charset: none here", {"Charset: none here"}, ""},
  };
  for (const auto& c : cases) {
    StringList lines{"stale"};
    EXPECT_EQ(DecodeIndexValue(c.value, lines), c.charset) << c.value;
    EXPECT_EQ(lines, c.lines) << c.value;
  }
}

TEST(IndexValue, RoundTripOfLinesWithoutTrailingSemicolon) {
  const StringList lines{"first ~ line", "", ";; starts", "ends ~", "last"};
  StringList back;
  EXPECT_EQ(DecodeIndexValue(EncodeIndexValue(lines, "utf-8"), back), "utf-8");
  EXPECT_EQ(back, lines);
}

TEST(IndexValue, DecodeTextConvertsNamedCharsetToUtf8) {
  DecodedIndexText t = DecodeIndexText("CHARSET:iso-8859-1~~caf\xe9~ol\xe9");
  EXPECT_EQ(t.charset, "iso-8859-1");
  EXPECT_EQ(t.text, "caf\xc3\xa9\nol\xc3\xa9");
  DecodedIndexText plain = DecodeIndexText("a;~b~c~");
  EXPECT_EQ(plain.charset, "");
  EXPECT_EQ(plain.text, "a~b\nc\n");
}

}  // namespace
}  // namespace px::store
