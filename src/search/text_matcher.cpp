#include "search/text_matcher.h"

#include "foundation/text_case.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <unordered_map>

namespace px::search {
namespace {

constexpr auto kDelimiters = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {9, 10, 13, 32, 33, 34, 58, 59, 60, 61, 62, 63, 92, 124, 126}) t[c] = true;
  for (unsigned c = 39; c <= 47; ++c) t[c] = true;
  return t;
}();

bool isAscii(std::string_view s) {
  // Eight bytes at a time: the high bit of any of them.
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (w & 0x8080808080808080ull) return false;
  }
  for (; i < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
  return true;
}

size_t findBytes(std::string_view hay, std::string_view needle, size_t from) {
  if (from > hay.size() || needle.size() > hay.size() - from) return std::string_view::npos;
  const void* p = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
  return p ? static_cast<size_t>(static_cast<const char*>(p) - hay.data()) : std::string_view::npos;
}

// The full case folding of one character, as UTF-8 (folding is context free). Kept per thread:
// documents use few distinct characters beyond ASCII.
const std::string& foldedCharacter(UChar32 c) {
  thread_local std::unordered_map<UChar32, std::string> cache;
  auto it = cache.find(c);
  if (it != cache.end()) return it->second;
  if (cache.size() > 65536) cache.clear();
  UChar src[2];
  int32_t n = 0;
  U16_APPEND_UNSAFE(src, n, c);
  UChar dst[8];
  UErrorCode err = U_ZERO_ERROR;
  const int32_t m = u_strFoldCase(dst, 8, src, n, U_FOLD_CASE_DEFAULT, &err);
  std::string out;
  if (U_SUCCESS(err)) {
    char buf[32];
    int32_t len = 0;
    u_strToUTF8(buf, sizeof buf, &len, dst, m, &err);
    if (U_SUCCESS(err)) out.assign(buf, static_cast<size_t>(len));
  }
  if (out.empty()) {
    char buf[4];
    int32_t k = 0;
    U8_APPEND_UNSAFE(buf, k, c);
    out.assign(buf, static_cast<size_t>(k));
  }
  return cache.emplace(c, std::move(out)).first->second;
}

}  // namespace

bool IsWordDelimiter(unsigned char c) { return kDelimiters[c]; }

TokenSpan NextToken(std::string_view text, size_t start) {
  size_t i = start;
  while (i < text.size() && kDelimiters[static_cast<unsigned char>(text[i])]) ++i;
  size_t j = i;
  while (j < text.size() && !kDelimiters[static_cast<unsigned char>(text[j])]) ++j;
  return {i, j - i};
}

namespace {

// The foldings of the characters of the basic plane, looked up by index (filled as they are met).
struct FoldedBmp {
  uint8_t len = 0xFF;  // 0xFF: not known yet
  char bytes[15];
};

const FoldedBmp& foldedBmp(UChar32 c) {
  thread_local std::unique_ptr<FoldedBmp[]> table(new FoldedBmp[0x10000]);
  FoldedBmp& f = table[static_cast<size_t>(c)];
  if (f.len == 0xFF) {
    const std::string& s = foldedCharacter(c);
    const size_t len = std::min(s.size(), sizeof f.bytes);
    std::memcpy(f.bytes, s.data(), len);
    f.len = static_cast<uint8_t>(len);
  }
  return f;
}

// ASCII upper case to lower case in place, without branches (the compiler vectorises it).
void lowerAscii(char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    p[i] = static_cast<char>(c + ((static_cast<unsigned char>(c - 'A') < 26) << 5));
  }
}

// The length of the run of ASCII bytes at the start of s.
size_t asciiRun(const char* s, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, s + i, 8);
    if (w & 0x8080808080808080ull) break;
  }
  while (i < n && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

}  // namespace

void FoldForMatchInto(std::string_view text, std::string& out) {
  out.clear();
  if (isAscii(text)) {
    out.assign(text);
    lowerAscii(out.data(), out.size());
    return;
  }
  // Runs of ASCII at once, other characters through the cache of their foldings; bytes that
  // are not UTF-8 stay as they are.
  out.reserve(text.size() + text.size() / 8);
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t n = static_cast<int32_t>(text.size());
  int32_t i = 0;
  while (i < n) {
    const size_t run = asciiRun(text.data() + i, static_cast<size_t>(n - i));
    if (run) {
      const size_t at = out.size();
      out.append(text.data() + i, run);
      lowerAscii(out.data() + at, run);
      i += static_cast<int32_t>(run);
      if (i >= n) break;
    }
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(p, i, n, c);
    if (c < 0) {
      out.append(text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
      continue;
    }
    if (c < 0x10000) {
      const FoldedBmp& f = foldedBmp(c);
      out.append(f.bytes, f.len);
    } else {
      out += foldedCharacter(c);
    }
  }
}

std::string FoldForMatch(std::string_view text) {
  std::string out;
  FoldForMatchInto(text, out);
  return out;
}

KeywordMatcher::KeywordMatcher(const std::vector<std::string>& keywords, unsigned flags) : flags_(flags) {
  size_t longest = 0;
  for (const std::string& raw : keywords) {
    const std::string k = (flags & SF_CASESENSITIVE) ? raw : FoldForMatch(raw);
    Keyword kw;
    for (TokenSpan t = NextToken(k, 0); t.len; t = NextToken(k, t.pos + t.len))
      kw.tokens.emplace_back(k.substr(t.pos, t.len));
    longest = std::max(longest, k.size());
    keywords_.push_back(std::move(kw));
  }
  overlap_ = std::max<size_t>(64, 4 * longest + 8);
  found_.assign(keywords_.size(), 0);
}

void KeywordMatcher::Reset() {
  std::fill(found_.begin(), found_.end(), 0);
  foundCount_ = 0;
  sawText_ = false;
}

bool KeywordMatcher::Decided() const {
  if (!sawText_) return false;
  if (flags_ & SF_ANYSTRINGS) return foundCount_ > 0;
  return foundCount_ == keywords_.size();
}

bool KeywordMatcher::Result() const { return Decided(); }

bool KeywordMatcher::FindIn(const Keyword& k, std::string_view text, bool before, bool after) const {
  if (k.tokens.empty()) return false;
  const bool whole = flags_ & SF_WHOLEWORDS;
  const std::string& first = k.tokens.front();
  auto delim = [&](size_t i) { return kDelimiters[static_cast<unsigned char>(text[i])]; };
  for (size_t p = findBytes(text, first, 0); p != std::string_view::npos; p = findBytes(text, first, p + 1)) {
    if (whole) {
      // At the window's start the byte before lies in the previous window, which saw it.
      if (p == 0 ? before : !delim(p - 1)) continue;
    }
    const size_t end = p + first.size();
    if (k.tokens.size() == 1) {
      if (whole && (end == text.size() ? after : !delim(end))) continue;
      return true;
    }
    // Further tokens follow as whole tokens of the text.
    if (end == text.size() || !delim(end)) continue;
    size_t q = end;
    bool ok = true;
    for (size_t i = 1; i < k.tokens.size() && ok; ++i) {
      const TokenSpan t = NextToken(text, q);
      if (t.len == 0 || (after && t.pos + t.len == text.size()) ||
          text.substr(t.pos, t.len) != k.tokens[i]) {
        ok = false;
      }
      q = t.pos + t.len;
    }
    if (ok) return true;
  }
  return false;
}

bool KeywordMatcher::Feed(std::string_view window, bool continuesBefore, bool continuesAfter) {
  if (window.empty() || Decided()) return Decided();
  sawText_ = true;
  std::string_view text = window;
  if (!(flags_ & SF_CASESENSITIVE)) {
    FoldForMatchInto(window, folded_);
    text = folded_;
  }
  for (size_t i = 0; i < keywords_.size(); ++i) {
    if (found_[i]) continue;
    if (FindIn(keywords_[i], text, continuesBefore, continuesAfter)) {
      found_[i] = 1;
      ++foundCount_;
      if (flags_ & SF_ANYSTRINGS) break;
    } else if (!(flags_ & SF_ANYSTRINGS) && !continuesBefore && !continuesAfter) {
      break;  // the whole text, and one keyword is missing
    }
  }
  return Decided();
}

bool KeywordMatcher::MatchText(std::string_view text, const std::vector<std::string>& keywords, unsigned flags) {
  KeywordMatcher m(keywords, flags);
  m.Feed(text);
  return m.Result();
}

}  // namespace px::search
