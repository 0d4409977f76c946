// Entity references and the HTML-to-text converter on arbitrary input, in several charsets.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mailformat/codecs.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  static const char* const kCharsets[] = {"", "iso-8859-1", "windows-1252", "koi8-r", "shift_jis", "nonsense"};
  const char* cs = kCharsets[size ? data[0] % 6 : 0];
  std::string u = HtmlUnescape(in, cs);
  if (u.size() > size * 4) std::abort();
  auto text = HtmlToText(in, cs);
  size_t total = 0;
  for (const auto& l : text.lines) total += l.size();
  if (total > size * 4 + text.lines.size()) std::abort();
  return 0;
}
