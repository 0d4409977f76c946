#pragma once
// Case-insensitive comparison of UTF-8 text. Index section names and keys, settings keys and
// every name-collision check compare this way. ASCII takes a fast path; other text is
// case-folded with ICU (full Unicode case folding, locale independent).
#include <string>
#include <string_view>

namespace px {

// The case-folded form of s; equal folds mean "same text without regard to case".
std::string FoldCase(std::string_view s);
// Negative, zero or positive, as the folded forms compare bytewise.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
// Upper / lower case of UTF-8 text (ICU, root locale). Invalid UTF-8 is kept as it is.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
// ASCII-only variants, for keys known to be ASCII (fast, no allocation beyond the result).
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);

// Ordering functor for sorted containers keyed without regard to case.
struct TextLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return CompareText(a, b) < 0; }
};

}  // namespace px
