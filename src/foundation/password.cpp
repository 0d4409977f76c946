#include "foundation/password.h"

#include <algorithm>

#include "foundation/random.h"

namespace px {
namespace {

constexpr size_t kKeptChars = 20;   // characters held in the classic 60-letter form
constexpr size_t kClassicLength = 60;
constexpr char kEndMark = '\x01';

void putPair(std::string& s, size_t pos0, unsigned x) {
  s[pos0] = char('A' + x / 26);
  s[pos0 + 1] = char('A' + x % 26);
}

unsigned pairAt(std::string_view s, size_t pos0) {
  int x = (int(static_cast<unsigned char>(s[pos0])) - 'A') * 26 +
          (int(static_cast<unsigned char>(s[pos0 + 1])) - 'A');
  return unsigned(x) & 0xFFu;
}

}  // namespace

std::string ScramblePassword(std::string_view password, RandomSource& random) {
  std::string pw(password.substr(0, std::min(password.size(), kKeptChars)));
  pw.resize(kKeptChars, kEndMark);
  std::string s(kClassicLength, 'A');
  for (char& c : s) c = char('A' + random.Below(26));
  // 1-based: letters 2i+18 and 2i+19 hold password character i xor letter i, written in
  // order, so the key of character 20 is the letter written for character 1.
  for (size_t i = 1; i <= kKeptChars; ++i) {
    unsigned x = static_cast<unsigned char>(pw[i - 1]) ^ static_cast<unsigned char>(s[i - 1]);
    putPair(s, 2 * i + 17, x);
  }
  // Longer passwords continue with two letters per further byte, keyed by letters 1..20 in
  // turn, instead of being cut: a cut password would silently fail every log-in.
  for (size_t j = kKeptChars; j < password.size(); ++j) {
    unsigned key = static_cast<unsigned char>(s[(j - kKeptChars) % kKeptChars]);
    unsigned x = static_cast<unsigned char>(password[j]) ^ key;
    s += "AA";
    putPair(s, s.size() - 2, x);
  }
  return s;
}

std::string UnscramblePassword(std::string_view scrambled) {
  if (scrambled.empty()) return {};
  std::string s(scrambled);
  if (s.size() < kClassicLength) s.resize(kClassicLength, 'A');
  std::string pw;
  for (size_t i = 1; i <= kKeptChars; ++i) {
    char c = char(pairAt(s, 2 * i + 17) ^ static_cast<unsigned char>(s[i - 1]));
    if (c == kEndMark) return pw;
    pw += c;
  }
  for (size_t pos = kClassicLength, j = 0; pos + 1 < s.size(); pos += 2, ++j) {
    unsigned key = static_cast<unsigned char>(s[j % kKeptChars]);
    char c = char(pairAt(s, pos) ^ key);
    if (c == kEndMark) break;
    pw += c;
  }
  return pw;
}

}  // namespace px
