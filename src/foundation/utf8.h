// UTF-8 encoding of single code points.
#pragma once

#include <cstdint>
#include <string>

namespace px {

// Appends the UTF-8 bytes of a code point (no check for surrogates or the range).
void AppendUtf8(std::string& out, uint32_t cp);

}  // namespace px
