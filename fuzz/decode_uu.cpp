// uuencode: line decoder and stream decoder on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mailformat/codecs.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string line = UUDecodeLine(in);
  if (line.size() > 63) std::abort();

  UUDecoder whole;
  std::string a;
  whole.Feed(in, a);
  whole.Finish(a);
  size_t step = size ? (data[0] % 11) + 1 : 1;
  UUDecoder pieces;
  std::string b;
  for (size_t pos = 0; pos < size; pos += step) pieces.Feed(in.substr(pos, step), b);
  pieces.Finish(b);
  if (a != b) std::abort();
  return 0;
}
