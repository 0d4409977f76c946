// base64: the stream decoder, fed in pieces, must agree with the one-shot decoder, and
// encoding then decoding must give the bytes back.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mailformat/codecs.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string whole = Base64DecodeLine(in);
  if (whole.size() > size) std::abort();

  // Piece sizes come from the first byte.
  size_t step = size ? (data[0] % 13) + 1 : 1;
  Base64Decoder d;
  std::string streamed;
  for (size_t pos = 0; pos < size; pos += step) d.Feed(in.substr(pos, step), streamed);
  d.Finish(streamed);
  if (streamed != whole) std::abort();

  std::string lines = Base64Lines(in);
  if (Base64DecodeLine(lines) != in) std::abort();
  Base64Encoder e;
  std::string enc;
  for (size_t pos = 0; pos < size; pos += step) e.Feed(in.substr(pos, step), enc);
  e.Finish(enc);
  if (!enc.empty() && enc.substr(0, enc.size() - 2) != lines) std::abort();
  return 0;
}
