// Word files come from anywhere: the piece table reader must stay inside both streams whatever
// offsets and counts the file claims, and hand out valid UTF-8.
#include "search/extractor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
struct Check final : px::search::TextSink {
  bool Put(std::string_view s) override {
    total += s.size();
    return total < (64u << 20);
  }
  size_t total = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // First two bytes: length of the WordDocument stream; the rest is the table stream.
  if (size < 2) return 0;
  const size_t docLen = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
  const std::string_view all(reinterpret_cast<const char*>(data) + 2, size - 2);
  // The file information block is 906 bytes: pad short inputs so the piece table is reached.
  std::string doc(all.substr(0, docLen));
  if (doc.size() < 1024) doc.resize(1024, '\0');
  Check sink;
  px::search::WordTextFromStreams(doc, all.substr(docLen), sink);
  return 0;
}
