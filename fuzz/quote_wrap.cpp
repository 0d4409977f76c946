// Quoting, re-wrapping and the subject rules run over the text of received mail: any bytes,
// any line lengths, invalid UTF-8 included.
#include "compose/reply_bodies.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const px::StringList lines = px::compose::SplitLines(text);
  px::compose::QuoteAndWrap(lines, true);
  px::compose::QuoteAndWrap(lines, false);
  px::compose::ReplySubject(text);
  px::compose::ForwardSubject(text);
  return 0;
}
