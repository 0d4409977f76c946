// Splits arbitrary bytes as a mailbox. It must end, keep every piece within the bound, pair
// every message's begin with its end, and give the same messages whatever chunks the input
// arrives in (the first byte picks the chunk size).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "import/mbox_splitter.h"

using namespace px::import;

namespace {

class Collect : public MboxSink {
public:
  void BeginMessage(uint64_t) override {
    if (open) std::abort();
    open = true;
    messages.emplace_back();
  }
  void LinePiece(std::string_view text, bool, bool last) override {
    if (!open || text.size() > MboxSplitter::kMaxPiece) std::abort();
    messages.back().append(text);
    if (last) messages.back() += '\n';
  }
  void EndMessage() override {
    if (!open) std::abort();
    open = false;
  }
  bool open = false;
  std::vector<std::string> messages;
};

std::vector<std::string> Split(std::string_view in, size_t chunk, MboxSplitter::Mode mode) {
  Collect c;
  MboxSplitter s(c, mode);
  if (chunk == 0) s.Feed(in);
  else
    for (size_t i = 0; i < in.size(); i += chunk) s.Feed(in.substr(i, chunk));
  s.Finish();
  if (c.open) std::abort();
  return c.messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 16;
  std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (auto mode : {MboxSplitter::Mode::Mailbox, MboxSplitter::Mode::Single}) {
    auto whole = Split(in, 0, mode);
    if (Split(in, chunk, mode) != whole) std::abort();
  }
  return 0;
}
