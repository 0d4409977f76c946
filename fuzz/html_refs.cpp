// Picture and style-sheet references of arbitrary HTML: the scanner must end, and rewriting
// every reference must leave the text around them as it was.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "mailformat/html_refs.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t seen = 0;
  std::string same = RewriteHtmlReferences(in, [&](HtmlRefKind, const std::string&) -> std::optional<std::string> {
    ++seen;
    return std::nullopt;
  });
  if (same != in) std::abort();
  std::string changed = RewriteHtmlReferences(in, [](HtmlRefKind, const std::string& v) -> std::optional<std::string> {
    return "cid:" + std::to_string(v.size());
  });
  if (changed.size() > size + seen * 32 + 32) std::abort();
  return 0;
}
