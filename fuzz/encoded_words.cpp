// Encoded words in header values: arbitrary input must end, and decoding never grows the text
// beyond what a conversion to UTF-8 can make of it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mailformat/codecs.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string charset;
  std::string out = DecodeEncodedWords(in, &charset);
  if (out.size() > size * 4 + 16) std::abort();
  return 0;
}
