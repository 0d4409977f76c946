// Turns arbitrary bytes into vCard cards as an LDIF address book. It must end, and every card it
// writes must be well formed: begun and ended, no line with a bare CR or control character.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import/ldif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  px::import::LdifResult r = px::import::LdifToVCards(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::string& c = r.cards;
  size_t begins = 0, ends = 0;
  for (size_t p = 0; (p = c.find("BEGIN:VCARD\r\n", p)) != std::string::npos; ++p) ++begins;
  for (size_t p = 0; (p = c.find("END:VCARD\r\n", p)) != std::string::npos; ++p) ++ends;
  if (begins != static_cast<size_t>(r.people) || ends != begins) std::abort();
  for (size_t i = 0; i < c.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(c[i]);
    if (ch == '\r' && (i + 1 >= c.size() || c[i + 1] != '\n')) std::abort();
    if (ch == '\n' && (i == 0 || c[i - 1] != '\r')) std::abort();
    if (ch < 0x20 && ch != '\r' && ch != '\n' && ch != '\t') std::abort();
  }
  return 0;
}
