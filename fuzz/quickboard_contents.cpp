// quickboard.ini's Contents, recently-used.xbel and the pop-up's column split: never a crash,
// and Contents written from what was read reads back the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "desk/hint_builder.h"
#include "desk/quickboard.h"
#include "desk/quickboard_ranking.h"

using namespace px::desk;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  for (bool escaped : {false, true}) {
    const auto paths = ParseContents(in, escaped);
    const ContentsText again = SerialiseContents(paths);
    auto trimmed = paths;
    while (!trimmed.empty() && trimmed.back().empty()) trimmed.pop_back();
    // Pieces that begin or end with blanks are trimmed by the reader: compare only clean ones.
    bool clean = !again.contents.empty() && again.contents.front() != ' ' && again.contents.back() != ' ' &&
                 again.contents.front() != '\t' && again.contents.back() != '\t';
    if (clean && ParseContents(again.contents, again.escaped) != trimmed) std::abort();
  }
  (void)ReadRecentlyUsed(in, 100);
  (void)SplitColumns(in);
  (void)IsSafeIconName(in);
  return 0;
}
