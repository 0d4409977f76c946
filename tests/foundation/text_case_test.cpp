#include "foundation/text_case.h"

#include <gtest/gtest.h>

using namespace px;

TEST(TextCase, ComparesWithoutRegardToCase) {
  struct Case { const char* a; const char* b; int sign; } cases[] = {
      {"Plumadex.ini", "PLUMADEX.INI", 0},
      {"abc", "ABD", -1},
      {"Zeta", "alpha", 1},
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", 0},  // Été / éTÉ
      {"Stra\xC3\x9F" "e", "STRASSE", 0},              // ß folds to ss
      {"", "", 0},
      {"a", "", 1},
  };
  for (const auto& c : cases) {
    int r = CompareText(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    EXPECT_EQ(SameText(c.a, c.b), c.sign == 0) << c.a << " vs " << c.b;
  }
}

TEST(TextCase, UpperAndLowerHandleUtf8AndKeepInvalidBytes) {
  EXPECT_EQ(UpperCase("caf\xC3\xA9"), "CAF\xC3\x89");
  EXPECT_EQ(LowerCase("CAF\xC3\x89"), "caf\xC3\xA9");
  std::string invalid = "ab\xFF";
  EXPECT_FALSE(UpperCase(invalid).empty());
}
