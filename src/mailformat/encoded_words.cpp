// Encoded words in mail headers ("=?charset?B|Q?text?=").
#include <algorithm>

#include "foundation/charset.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"

namespace px::mailformat {

namespace {

// An encoded word is at most 75 characters long; a longer charset name is not one.
constexpr size_t kMaxCharsetName = 75;

struct Piece {
  std::string bytes;
  std::string charset;  // empty for raw text between encoded words
  bool encoded = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::string DecodeEncodedWords(std::string_view value, std::string* charset) {
  if (value.find("=?") == std::string_view::npos) return std::string(value);
  std::vector<Piece> pieces;
  size_t i = 0, n = value.size();
  while (i < n) {
    size_t start = value.find("=?", i);
    if (start == std::string_view::npos) break;
    size_t csBegin = start + 2;
    size_t limit = std::min(n, csBegin + kMaxCharsetName);
    size_t q1 = csBegin;
    while (q1 < limit && value[q1] != '?' && !IsBlank(value[q1])) ++q1;
    if (q1 >= limit || value[q1] != '?' || q1 == csBegin || q1 + 2 >= n || value[q1 + 2] != '?') {
      // Not an encoded word: keep "=?" as text and look further on.
      pieces.push_back({std::string(value.substr(i, start + 2 - i)), {}, false});
      i = start + 2;
      continue;
    }
    char letter = static_cast<char>(value[q1 + 1] & ~0x20);
    if (letter != 'B' && letter != 'Q') {
      pieces.push_back({std::string(value.substr(i, start + 2 - i)), {}, false});
      i = start + 2;
      continue;
    }
    size_t textBegin = q1 + 3;
    size_t close = value.find("?=", textBegin);
    if (close == std::string_view::npos) break;  // no word can be complete from here on
    std::string_view raw = value.substr(i, start - i);
    // White space between two adjacent encoded words is not part of the text.
    bool betweenWords = !pieces.empty() && pieces.back().encoded &&
                        std::all_of(raw.begin(), raw.end(), IsBlank);
    if (!raw.empty() && !betweenWords) pieces.push_back({std::string(raw), {}, false});
    std::string_view cs = value.substr(csBegin, q1 - csBegin);
    if (size_t star = cs.find('*'); star != std::string_view::npos) cs = cs.substr(0, star);  // RFC 2231 language
    std::string_view text = value.substr(textBegin, close - textBegin);
    std::string decoded;
    if (letter == 'B') {
      decoded = Base64DecodeLine(text);
    } else {
      std::string t(text);
      std::replace(t.begin(), t.end(), '_', ' ');
      decoded = QPDecodeLine(t);
    }
    pieces.push_back({std::move(decoded), std::string(cs), true});
    i = close + 2;
  }
  if (i < n) pieces.push_back({std::string(value.substr(i)), {}, false});

  // One charset for the whole value when the words agree (ASCII-only words agree with anything);
  // otherwise everything is brought to UTF-8.
  std::string common;
  std::string lastCharset;
  bool mixed = false;
  for (const auto& p : pieces) {
    if (!p.encoded) continue;
    lastCharset = p.charset;
    if (IsAscii(p.bytes) && (SameText(p.charset, "us-ascii") || SameText(p.charset, "ascii"))) continue;
    if (common.empty())
      common = p.charset;
    else if (!SameText(common, p.charset))
      mixed = true;
  }
  std::string out;
  out.reserve(value.size());
  for (const auto& p : pieces) {
    if (mixed && p.encoded)
      out += DecodeFromCharset(p.bytes, p.charset);
    else
      out += p.bytes;
  }
  if (charset && !lastCharset.empty()) *charset = mixed ? std::string("UTF-8") : (common.empty() ? lastCharset : common);
  return out;
}

}  // namespace px::mailformat
