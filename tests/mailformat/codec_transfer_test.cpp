// base64, quoted-printable and uuencode: line functions and the streaming decoders.
#include <gtest/gtest.h>

#include <random>

#include "mailformat/codecs.h"

using namespace px::mailformat;

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// Feeds `input` to a decoder in pieces of the given sizes (cycled), then finishes.
template <class Decoder>
std::string FeedInPieces(Decoder d, std::string_view input, std::vector<size_t> sizes) {
  std::string out;
  size_t pos = 0, k = 0;
  while (pos < input.size()) {
    size_t len = std::min(sizes[k++ % sizes.size()], input.size() - pos);
    d.Feed(input.substr(pos, len), out);
    pos += len;
  }
  d.Finish(out);
  return out;
}

const std::vector<std::vector<size_t>> kChunkings = {{1}, {2}, {3}, {5, 1, 7}, {76}, {77}, {4096}};

}  // namespace

TEST(CodecBase64, LineDecoder) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"QQ", "A"},
      {"QUJD", "ABC"},
      {"QUI=", "AB"},
      {"QQ==", "A"},
      {"Q===", "@"},                 // a group yields at least one byte
      {"QU JD\t!", "ABC"},           // characters outside the alphabet are ignored
      {"", ""},
      {"====", ""},
      {"QQ==QUI=", "AAB"},           // decoding carries on after padding
  };
  for (const auto& c : cases) EXPECT_EQ(Base64DecodeLine(c.in), c.out) << c.in;
}

TEST(CodecBase64, EncodersMake76ColumnLines) {
  std::string data = RandomBytes(1000, 1);
  auto lines = Base64EncodeLines(data);
  ASSERT_EQ(lines.size(), 18u);  // 1336 characters
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 76u);
  EXPECT_EQ(lines.back().size(), 1336u - 17 * 76);
  std::string joined = Base64Lines(data);
  EXPECT_EQ(joined.find("\r\n"), 76u);
  EXPECT_NE(joined.substr(joined.size() - 2), "\r\n");
  EXPECT_EQ(Base64DecodeLine(joined), data);
  EXPECT_TRUE(Base64EncodeLines("").empty());
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");

  // The streaming encoder writes the same lines, each ended by CR LF, however it is fed.
  for (size_t n : {0u, 1u, 56u, 57u, 58u, 1000u}) {
    std::string part = data.substr(0, n);
    std::string expected = Base64Lines(part);
    if (!expected.empty()) expected += "\r\n";
    for (size_t chunk : {1u, 2u, 57u, 100u}) {
      Base64Encoder e;
      std::string out;
      for (size_t pos = 0; pos < part.size(); pos += chunk) e.Feed(part.substr(pos, chunk), out);
      e.Finish(out);
      EXPECT_EQ(out, expected) << n << "/" << chunk;
    }
  }
}

TEST(CodecBase64, StreamDecoderCarriesLeftoversAcrossLinesAndChunks) {
  std::string data = RandomBytes(5000, 2);
  std::string wellFormed = Base64Lines(data) + "\r\n";
  // Lines that do not hold a multiple of four characters.
  std::string all = Base64Encode(data), odd;
  for (size_t i = 0; i < all.size(); i += 61) odd += all.substr(i, 61) + "\n";
  for (const auto& sizes : kChunkings) {
    EXPECT_EQ(FeedInPieces(Base64Decoder{}, wellFormed, sizes), data);
    EXPECT_EQ(FeedInPieces(Base64Decoder{}, odd, sizes), data);
  }
  // Well-formed 76-column input decodes line by line to the same bytes.
  std::string lineWise;
  size_t pos = 0;
  while (pos < wellFormed.size()) {
    size_t eol = wellFormed.find("\r\n", pos);
    lineWise += Base64DecodeLine(std::string_view(wellFormed).substr(pos, eol - pos));
    pos = eol + 2;
  }
  EXPECT_EQ(lineWise, data);
}

TEST(CodecQuotedPrintable, LineDecoderAndEncoder) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"Caf=E9", "Caf\xE9"},
      {"a=3db", "a=b"},
      {"=", "="},
      {"abc=4", "abc=4"},          // "=" among the last two characters stays
      {"x=ZZy", "x=ZZy"},
      {"==41", "=A"},
  };
  for (const auto& c : cases) EXPECT_EQ(QPDecodeLine(c.in), c.out) << c.in;

  EXPECT_EQ(QPEncodeLine("a=b caf\xE9 "), "a=3Db caf=E9=20");
  EXPECT_EQ(QPEncodeLine("tab\tin"), "tab\tin");
  std::string longLine(200, 'x');
  std::string enc = QPEncodeLine(longLine);
  size_t pos = 0;
  while (pos < enc.size()) {
    size_t eol = enc.find("\r\n", pos);
    size_t len = (eol == std::string::npos ? enc.size() : eol) - pos;
    EXPECT_LE(len, 76u);
    if (eol == std::string::npos) break;
    EXPECT_EQ(enc[eol - 1], '=');
    pos = eol + 2;
  }
}

TEST(CodecQuotedPrintable, StreamDecoderJoinsSoftBreaksAcrossChunks) {
  struct Case { const char* in; const char* out; } cases[] = {
      {"abc=\r\ndef\r\n", "abcdef\r\n"},
      {"abc=\ndef\n", "abcdef\r\n"},
      {"abc= \t\r\ndef", "abcdef"},            // blanks after a soft break
      {"caf=E9=\r\n=E9", "caf\xE9\xE9"},
      {"a=\r\n", "a"},
      {"a=", "a"},
      {"50=%", "50=%"},
      {"a=4\r\nb", "a=4\r\nb"},
      {"=4", "=4"},
      {"x = y", "x = y"},
      {"x\ry", "x\ry"},
      {"end\r", "end\r"},
  };
  for (const auto& c : cases)
    for (const auto& sizes : kChunkings) EXPECT_EQ(FeedInPieces(QPDecoder{}, c.in, sizes), c.out) << c.in;

  // Round trip of encoded lines through the stream decoder.
  std::string text = RandomBytes(3000, 3), lines, encoded;
  for (auto& c : text)
    if (c == '\r' || c == '\n') c = 'x';
  for (size_t i = 0; i < text.size(); i += 300) {
    lines += text.substr(i, 300) + "\r\n";
    encoded += QPEncodeLine(text.substr(i, 300)) + "\r\n";
  }
  for (const auto& sizes : kChunkings) EXPECT_EQ(FeedInPieces(QPDecoder{}, encoded, sizes), lines);
}

TEST(CodecUuencode, LineDecoder) {
  EXPECT_EQ(UUDecodeLine("#86)C"), "abc");
  EXPECT_EQ(UUDecodeLine("#86)C\r"), "abc");
  EXPECT_EQ(UUDecodeLine("`"), "");
  EXPECT_EQ(UUDecodeLine(""), "");
  EXPECT_EQ(UUDecodeLine("\x01" "abc"), "");
  // A count larger than the data: missing characters are blanks, nothing beyond is read.
  EXPECT_EQ(UUDecodeLine("&86)C"), std::string("abc\0\0\0", 6));
  EXPECT_EQ(UUDecodeLine("M").size(), 45u);
  // Zero bytes written as blanks (classic encoders) or as "`" decode alike.
  EXPECT_EQ(UUDecodeLine(")86)C    9&5F"), std::string("abc\0\0\0def", 9));
  EXPECT_EQ(UUDecodeLine(")86)C````9&5F"), std::string("abc\0\0\0def", 9));
}

TEST(CodecUuencode, StreamDecoderSkipsToBeginAndStopsAtEnd) {
  std::string body =
      "Some preamble\r\n"
      "begin 644 abc.txt\r\n"
      "#86)C\r\n"
      "#86)C\r\n"
      "`\r\n"
      "end\r\n"
      "#86)C\r\n";
  for (const auto& sizes : kChunkings) {
    UUDecoder d;
    EXPECT_EQ(FeedInPieces(d, body, sizes), "abcabc");
  }
  UUDecoder none;
  std::string out;
  none.Feed("no begin line\r\n#86)C\r\n", out);
  none.Finish(out);
  EXPECT_EQ(out, "");
  EXPECT_FALSE(none.SawBegin());
}
