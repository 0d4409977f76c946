#include "foundation/password.h"

#include <gtest/gtest.h>

#include "foundation/random.h"

using namespace px;

TEST(Password, ScrambledFormIsSixtyCapitals) {
  RandomSource random(7);
  std::string s = ScramblePassword("secret", random);
  ASSERT_EQ(s.size(), 60u);
  for (char c : s) EXPECT_TRUE(c >= 'A' && c <= 'Z') << s;
  EXPECT_NE(s, ScramblePassword("secret", random));  // fresh random letters each time
}

TEST(Password, RoundTrips) {
  RandomSource random(11);
  const std::string cases[] = {
      "", "a", "secret", "exactly20characters!", "p\xC3\xA4ss w\xC3\xB6rd",
      "\xFF\xFE\x80", "this password is longer than twenty bytes and is kept whole",
      std::string("with\0nul", 8),
  };
  for (const std::string& pw : cases)
    for (int round = 0; round < 20; ++round)
      EXPECT_EQ(UnscramblePassword(ScramblePassword(pw, random)), pw) << pw;
  EXPECT_EQ(UnscramblePassword(ScramblePassword("twenty-one characters", random)).size(), 21u);
}

TEST(Password, ReadsTheClassicFormAndBadInput) {
  // Written by hand from the classic rules: key letters "A..", password "ab".
  // i=1: 'a'(97) xor 'A'(65) = 32 -> letters 20,21 = "BG"; i=2: 'b'(98) xor 'B'(66) = 32 -> "BG";
  // i>=3: 0x01 xor key.
  std::string s = "ABCDEFGHIJKLMNOPQRSB";  // letter 20 is overwritten by i=1 with "B"
  s += "GBG";
  for (int i = 3; i <= 20; ++i) {
    unsigned key = static_cast<unsigned char>(s[size_t(i - 1)]);
    unsigned x = 1u ^ key;
    s += char('A' + x / 26);
    s += char('A' + x % 26);
  }
  s += "Z";
  ASSERT_EQ(s.size(), 60u);
  EXPECT_EQ(UnscramblePassword(s), "ab");
  EXPECT_EQ(UnscramblePassword(""), "");
  EXPECT_NO_FATAL_FAILURE(UnscramblePassword("short"));
  EXPECT_NO_FATAL_FAILURE(UnscramblePassword(std::string(61, 'z')));
}
