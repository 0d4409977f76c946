// Rich text is outside data: the decoder must not crash, stay bounded, and give the same text
// however the bytes are cut into pieces.
#include "search/rtf_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
struct Collect final : px::search::TextSink {
  bool Put(std::string_view s) override {
    text += s;
    return true;
  }
  std::string text;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  Collect whole, cut;
  {
    px::search::RtfDecoder d(whole);
    d.Feed(in);
    d.Finish();
  }
  {
    px::search::RtfDecoder d(cut);
    const size_t step = 1 + size % 7;
    for (size_t i = 0; i < size; i += step) d.Feed(in.substr(i, step));
    d.Finish();
  }
  if (whole.text != cut.text) std::abort();
  return 0;
}
