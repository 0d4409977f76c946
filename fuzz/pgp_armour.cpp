// Armoured PGP blocks are looked for in received mail: the reader must stay inside the text,
// return blocks in order that do not overlap, each starting with its BEGIN line and ending
// with its END line, and read user ids without leaving anything but a lower-case address.
#include "crypto/pgp_bridge.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t last = 0;
  for (const auto& b : px::crypto::FindArmour(text)) {
    if (b.begin < last || b.end > text.size() || b.begin >= b.end) std::abort();
    if (text.substr(b.begin, 15) != "-----BEGIN PGP ") std::abort();
    if (text.substr(0, b.end).substr(b.end - 5) != "-----") std::abort();
    if (b.kind.size() > 64) std::abort();
    last = b.end;
  }
  const std::string a = px::crypto::AddressOfUserId(text.substr(0, 512));
  for (char c : a)
    if ((c >= 'A' && c <= 'Z') || c == '<' || c == '>' || c == ' ') std::abort();
  return 0;
}
