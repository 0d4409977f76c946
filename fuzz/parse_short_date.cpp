// Short dates are read from index files and registers that other programs may have written.
// A date that parses must write back to a text that parses to the same date.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/dates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 256) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  px::DateTime t = px::ParseShortDate(text);
  if (t == 0) return 0;
  if (!std::isfinite(t)) __builtin_trap();
  std::string written = px::FormatShortDate(t);
  if (written.size() != 17 || px::ParseShortDate(written) != t) __builtin_trap();
  px::DateTimeParts p = px::SplitDateTime(t);
  if (p.year < 1951 || p.year > 2050 || p.month < 1 || p.day < 1) __builtin_trap();
  px::FormatSize(int64_t(size) << 20);
  return 0;
}
