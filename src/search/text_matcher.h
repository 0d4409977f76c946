#pragma once
// The keyword matcher of the search: does a text hold the keywords? Text is UTF-8. Without
// case sensitivity both sides are compared in their Unicode case folding (ICU), with an ASCII
// fast path. Word delimiters are the ASCII bytes of the filter panel's index test; every other
// byte (letters, digits, control bytes, every byte of a multi-byte character) is a word
// character.
//
// A keyword is a list of tokens: "e-mail" is "e", "mail" and matches "e-mail", "e mail" and
// "e - mail" alike: its first token may end a longer word (unless whole words are asked), the
// tokens after it must be whole tokens of the text, one after another. Every occurrence is tried,
// so "net" as a whole word is found in "internet net".
//
// Long texts are matched window by window (Feed): a window tells whether the text goes on before
// and after it, and an occurrence whose boundary test needs the bytes beyond the window is left to
// the next window, which must begin with the last Overlap() bytes of this one.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace px::search {

enum TSearchFlag : unsigned {
  SF_CASESENSITIVE = 0x1,
  SF_WHOLEWORDS = 0x2,
  SF_ANYSTRINGS = 0x4,
  SF_SCANOTHERFORMATS = 0x8,
};

bool IsWordDelimiter(unsigned char c);

// The first token at or after start: {position, length}; length 0 when none is left.
struct TokenSpan {
  size_t pos = 0;
  size_t len = 0;
};
TokenSpan NextToken(std::string_view text, size_t start);

// The form in which text is compared without regard to case: ASCII lower-cased byte by byte,
// anything else through ICU's full case folding.
std::string FoldForMatch(std::string_view text);
// The same into out (its storage kept from one window to the next).
void FoldForMatchInto(std::string_view text, std::string& out);

class KeywordMatcher {
public:
  KeywordMatcher(const std::vector<std::string>& keywords, unsigned flags);

  // One window of the text. continuesBefore / continuesAfter: the text goes on beyond the
  // window's start / end. Returns Decided().
  bool Feed(std::string_view window, bool continuesBefore = false, bool continuesAfter = false);
  // The answer is known: every keyword found, or (any keywords) one of them.
  bool Decided() const;
  // The answer once the whole text was fed (or as soon as Decided()).
  bool Result() const;
  // Bytes a window must repeat of the one before: at least 4 times the longest folded keyword.
  size_t Overlap() const { return overlap_; }
  // Starts again for another text.
  void Reset();
  bool HasKeywords() const { return !keywords_.empty(); }

  // Whole text in one go.
  static bool MatchText(std::string_view text, const std::vector<std::string>& keywords, unsigned flags);

private:
  struct Keyword {
    std::vector<std::string> tokens;  // folded unless case sensitive; empty: never found
  };
  bool FindIn(const Keyword& k, std::string_view text, bool before, bool after) const;

  std::vector<Keyword> keywords_;
  std::vector<char> found_;
  size_t foundCount_ = 0;
  unsigned flags_ = 0;
  size_t overlap_ = 64;
  bool sawText_ = false;
  std::string folded_;  // the last window, folded
};

}  // namespace px::search
