// quoted-printable: the stream decoder must not depend on how its input is cut into pieces,
// and an encoded line must decode to itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mailformat/codecs.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string line = QPDecodeLine(in);
  if (line.size() > size) std::abort();

  QPDecoder whole;
  std::string a;
  whole.Feed(in, a);
  whole.Finish(a);
  size_t step = size ? (data[0] % 7) + 1 : 1;
  QPDecoder pieces;
  std::string b;
  for (size_t pos = 0; pos < size; pos += step) pieces.Feed(in.substr(pos, step), b);
  pieces.Finish(b);
  if (a != b) std::abort();

  // Any line without line breaks survives encoding.
  std::string plain(in);
  for (char& c : plain)
    if (c == '\r' || c == '\n') c = ' ';
  QPDecoder back;
  std::string c;
  back.Feed(QPEncodeLine(plain), c);
  back.Finish(c);
  if (c != plain) std::abort();
  return 0;
}
