// The matcher against a naive reference (case-sensitive, byte by byte), and windowed matching
// against matching the whole text for single-token keywords.
#include "search/text_matcher.h"

#include "foundation/text_case.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using px::search::IsWordDelimiter;

std::vector<std::string> tokensOf(std::string_view s) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (IsWordDelimiter(static_cast<unsigned char>(c))) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

bool naiveFind(std::string_view text, std::string_view keyword, bool whole) {
  const std::vector<std::string> tk = tokensOf(keyword);
  if (tk.empty()) return false;
  const std::string& first = tk[0];
  for (size_t p = 0; p + first.size() <= text.size(); ++p) {
    if (text.substr(p, first.size()) != first) continue;
    if (whole && p > 0 && !IsWordDelimiter(static_cast<unsigned char>(text[p - 1]))) continue;
    size_t end = p + first.size();
    if (tk.size() == 1) {
      if (whole && end < text.size() && !IsWordDelimiter(static_cast<unsigned char>(text[end]))) continue;
      return true;
    }
    if (end >= text.size() || !IsWordDelimiter(static_cast<unsigned char>(text[end]))) continue;
    const std::vector<std::string> rest = tokensOf(text.substr(end));
    bool ok = rest.size() >= tk.size() - 1;
    for (size_t i = 1; ok && i < tk.size(); ++i) ok = rest[i - 1] == tk[i];
    if (ok) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned flags = (data[0] & (px::search::SF_WHOLEWORDS | px::search::SF_ANYSTRINGS)) |
                         px::search::SF_CASESENSITIVE;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t zero = rest.find('\0');
  if (zero == std::string_view::npos) return 0;
  std::vector<std::string> keywords;
  std::string_view kw = rest.substr(0, zero);
  while (!kw.empty() && keywords.size() < 4) {
    const size_t nl = kw.find('\n');
    keywords.emplace_back(kw.substr(0, nl));
    kw = nl == std::string_view::npos ? std::string_view() : kw.substr(nl + 1);
  }
  const std::string_view text = rest.substr(zero + 1);
  // The matcher's folding is the full Unicode case folding, character by character.
  if (QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8() ==
      QByteArray(text.data(), static_cast<qsizetype>(text.size()))) {
    if (px::search::FoldForMatch(text) != px::FoldCase(text)) std::abort();
  }

  bool expected;
  if (text.empty()) {
    expected = false;
  } else if (flags & px::search::SF_ANYSTRINGS) {
    expected = false;
    for (const std::string& k : keywords) expected = expected || naiveFind(text, k, flags & px::search::SF_WHOLEWORDS);
  } else {
    expected = true;
    for (const std::string& k : keywords) expected = expected && naiveFind(text, k, flags & px::search::SF_WHOLEWORDS);
  }
  if (px::search::KeywordMatcher::MatchText(text, keywords, flags) != expected) std::abort();

  // Two overlapping windows give the whole text's answer when every keyword is one token.
  bool singleTokens = true;
  for (const std::string& k : keywords) singleTokens = singleTokens && tokensOf(k).size() <= 1;
  if (singleTokens && text.size() > 1) {
    px::search::KeywordMatcher m(keywords, flags);
    const size_t cut = 1 + data[0] % (text.size() - 1);
    const size_t second = cut > m.Overlap() ? cut - m.Overlap() : 0;
    m.Feed(text.substr(0, cut), false, true);
    if (!m.Decided()) m.Feed(text.substr(second), second > 0, false);
    if (m.Result() != expected) std::abort();
  }
  return 0;
}
