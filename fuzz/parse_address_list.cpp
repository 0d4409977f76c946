// Address lists come from received headers, contact files and imports; names taken from them
// end up in file names. Checks that parsing never fails and that its results stay well formed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/address.h"
#include "foundation/strings.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

bool validUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
             : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  px::StringList elements = px::ParseAddressList(text);
  size_t checked = 0;
  for (const std::string& e : elements) {
    if (++checked > 16) break;  // keeps the per-input cost linear
    check(!e.empty());
    check(static_cast<unsigned char>(e.front()) > 0x20 && static_cast<unsigned char>(e.back()) > 0x20);
    std::string name = px::DisplayNameOf(e);
    std::string bare = px::BareAddressOf(e);
    check(name.size() <= e.size() && bare.size() <= e.size());
    if (!px::IsGroupAddress(e)) check(px::AddressInList(text, e) == !bare.empty());
    px::FormatPersonName(e, true);
    px::PersonName p = px::SplitPersonName(name);
    px::JoinPersonName(p.first, p.last, false);
    px::AddServiceDomain(bare);
    std::string canonical = px::FormatAddressElement(name, bare);
    // The canonical form of a plain name and address parses back to one element.
    if (!px::IsAddressList(bare) && bare.find_first_of("\"<>") == std::string::npos &&
        !bare.empty() && bare.back() != '.')
      check(px::ParseAddressList(canonical).size() == 1);

    std::string file = px::SafeFileName(name);
    check(!file.empty() && file.size() <= 255 && validUtf8(file));
    check(file.front() != '.' && file.back() != '.' && !file.starts_with("$$$"));
    check(file.find_first_of("/\\:*?|\"<>") == std::string::npos);
  }
  px::IsAddressList(text);
  px::StringList members(elements.begin(), elements.begin() + std::min<size_t>(elements.size(), 8));
  px::ExpandGroups(text, text.substr(0, size / 2), [&](std::string_view) { return members; });
  px::SplitCommaList(text);
  px::ParseSeriesId(text);
  px::SubstituteArgs(text, {"%1", "%2%1", "x"});
  return 0;
}
