#pragma once
// Multi-line values in one index line (stickers, signatures and other multi-line settings).
//
// Lines are joined with "~"; a "~" inside a line is written ";~" (so is a vertical tab). An
// optional charset travels in front as "CHARSET:" + name + "~~". The format has a known quirk
// that stored values rely on: a line ending in ";" followed by another line reads back as one
// line joined by "~" ("x;" and "y" give "x;~y", which decodes to "x~y").
#include "foundation/types.h"

#include <string>
#include <string_view>

namespace px::store {

// Encodes `lines`; the charset prefix is added only to a non-empty result. A line holding
// CR/LF line breaks counts as several lines; NUL bytes become blanks.
std::string EncodeIndexValue(const StringList& lines, std::string_view charset = {});
// Decodes `value` into `lines` (replaced) and returns the charset named in front (trimmed),
// or "" when none is named.
std::string DecodeIndexValue(std::string_view value, StringList& lines);

struct DecodedIndexText {
  std::string text;     // lines joined by "\n", converted to UTF-8
  std::string charset;  // as named in the value ("" when none)
};
// Decodes `value` into one text; a body in a named charset is converted to UTF-8.
DecodedIndexText DecodeIndexText(std::string_view value);

}  // namespace px::store
