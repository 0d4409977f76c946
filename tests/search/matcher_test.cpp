#include "search/text_matcher.h"

#include "foundation/text_case.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace px::search {
namespace {

struct MatchCase {
  const char* text;
  std::vector<std::string> keywords;
  unsigned flags;
  bool expected;
};

class MatchTextTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchTextTable, Answers) {
  const MatchCase& c = GetParam();
  EXPECT_EQ(KeywordMatcher::MatchText(c.text, c.keywords, c.flags), c.expected)
      << "text: " << c.text << " first keyword: " << (c.keywords.empty() ? "" : c.keywords[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchTextTable,
    ::testing::Values(
        // nothing precedes an occurrence at the start of the text
        MatchCase{"Price list", {"price"}, SF_WHOLEWORDS, true},
        // later occurrences are tried: the whole word after the one inside "internet"
        MatchCase{"internet net", {"net"}, SF_WHOLEWORDS, true},
        MatchCase{"internet", {"net"}, SF_WHOLEWORDS, false},
        MatchCase{"internet", {"net"}, 0, true},
        // tokens of a keyword against tokens of the text
        MatchCase{"send an e-mail now", {"e-mail"}, 0, true},
        MatchCase{"send an e mail now", {"e-mail"}, 0, true},
        MatchCase{"send an e - mail now", {"e-mail"}, 0, true},
        MatchCase{"send an email now", {"e-mail"}, 0, false},
        MatchCase{"send an e-mailbox", {"e-mail"}, 0, false},
        // case folding: Unicode, not a single-byte table; UTF-8 survives it
        MatchCase{"STRASSE und Straße", {"straße"}, 0, true},
        MatchCase{"ÉTÉ À PARIS", {"été"}, 0, true},
        MatchCase{"МОСКВА", {"москва"}, 0, true},
        MatchCase{"Москва", {"москва"}, SF_CASESENSITIVE, false},
        MatchCase{"Price", {"price"}, SF_CASESENSITIVE, false},
        // UTF-8 letters are word characters
        MatchCase{"caféine", {"café"}, SF_WHOLEWORDS, false},
        MatchCase{"un café.", {"café"}, SF_WHOLEWORDS, true},
        // all and any
        MatchCase{"alpha beta", {"alpha", "gamma"}, 0, false},
        MatchCase{"alpha beta", {"alpha", "gamma"}, SF_ANYSTRINGS, true},
        MatchCase{"alpha beta", {"beta", "alpha"}, 0, true},
        // empty keyword list: any finds nothing, all takes any text; empty text never matches
        MatchCase{"text", {}, SF_ANYSTRINGS, false},
        MatchCase{"text", {}, 0, true},
        MatchCase{"", {}, 0, false},
        MatchCase{"", {"a"}, SF_ANYSTRINGS, false},
        // a keyword of delimiters alone is never found
        MatchCase{"a -- b", {"--"}, 0, false}));

TEST(MatcherWindows, WordCutByTheWindowEdgeIsDecidedByTheNextWindow) {
  // "inter|net" across two windows: "net" as a whole word must not be found at the cut.
  KeywordMatcher m({"net"}, SF_WHOLEWORDS);
  m.Feed("the inter", false, true);
  EXPECT_FALSE(m.Decided());
  m.Feed("the internet", true, false);
  EXPECT_FALSE(m.Result());

  KeywordMatcher n({"net"}, SF_WHOLEWORDS);
  n.Feed("a fishing net", false, true);  // the text may go on ("network")
  EXPECT_FALSE(n.Decided());
  n.Feed("fishing net.", true, false);
  EXPECT_TRUE(n.Result());
}

TEST(MatcherWindows, KeywordsFoundInDifferentWindowsAllCount) {
  KeywordMatcher m({"alpha", "omega"}, 0);
  m.Feed("alpha and more", false, true);
  EXPECT_FALSE(m.Decided());
  m.Feed("more and omega", true, false);
  EXPECT_TRUE(m.Result());
}

TEST(MatcherWindows, OverlapIsAtLeastFourTimesTheLongestKeyword) {
  const std::string longWord(100, 'x');
  KeywordMatcher m({"a", longWord}, 0);
  EXPECT_GE(m.Overlap(), 400u);
}

TEST(FoldForMatchTest, IsTheFullCaseFolding) {
  for (const char* t : {"Plain ASCII Text", "Straße ÉTÉ Ωμέγα ﬁne İstanbul ǅ", "МОСКВА и Киев", "mixed \xF0\x9F\x98\x80 emoji"})
    EXPECT_EQ(FoldForMatch(t), FoldCase(t)) << t;
  // Bytes that are not UTF-8 stay as they are.
  EXPECT_EQ(FoldForMatch("A\xFF\xC3"), "a\xFF\xC3");
}

TEST(NextTokenTest, SkipsDelimitersAndTakesWordCharacters) {
  const TokenSpan t = NextToken("  -- abc;def", 0);
  EXPECT_EQ(t.pos, 5u);
  EXPECT_EQ(t.len, 3u);
  EXPECT_EQ(NextToken(" ;; ", 0).len, 0u);
  // control bytes and bytes from 128 up are word characters
  EXPECT_EQ(NextToken(std::string("\x01\xC3\xA9x", 4), 0).len, 4u);
}

}  // namespace
}  // namespace px::search
