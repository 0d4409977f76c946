// Decodes arbitrary bytes as a bookmark title: it must end, never grow past the input's room,
// and leave no control character for a file name or an index value.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import/bookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string t = px::import::DecodeTitle(std::string_view(reinterpret_cast<const char*>(data), size));
  if (t.size() > 1024) std::abort();
  for (unsigned char c : t)
    if (c < 0x20) std::abort();
  return 0;
}
