// Index files arrive from other machines and other versions: loading must never fail, and
// load -> save -> load must give the same sections with the same lines.
#include "foundation/text_case.h"
#include "store/index_value.h"
#include "store/index_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using px::StringList;
using px::TPXIniBase;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool plainLines(const StringList& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    if (l.find_first_of(std::string_view("\r\v\0", 3)) != std::string::npos) return false;
    if (i + 1 < lines.size() && !l.empty() && l.back() == ';') return false;  // merges by design
  }
  return lines.empty() || !lines.back().empty();  // a final empty line is not kept
}

bool plainCharset(const std::string& c) {
  for (unsigned char ch : c)
    if (ch < 0x20 || ch == '~' || ch == ';') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  TPXIniBase first("");
  first.SetText(text);
  std::string saved = first.Text();
  TPXIniBase second("");
  second.SetText(saved);
  StringList a, b;
  first.GetStrings(a);
  second.GetStrings(b);
  check(a == b);
  check(second.Text() == saved);

  // Every section read back through the key readers gives its first value.
  StringList names;
  second.ReadSections(names);
  for (const std::string& name : names) {
    StringList lines, keys;
    second.ReadSectionValues(name, lines);
    second.ReadSection(name, keys);
    check(second.SectionExists(name) == !lines.empty());
    for (const std::string& key : keys) {
      (void)second.ReadString(name, key, "");
      (void)second.ReadInteger(name, key, 0);
      (void)second.ReadDateTime(name, key, 0);
    }
  }

  // The value coding: decoding never fails, and plain lines survive a round trip.
  StringList lines;
  std::string charset = px::store::DecodeIndexValue(text, lines);
  (void)px::store::DecodeIndexText(text);
  std::string encoded = px::store::EncodeIndexValue(lines, charset);
  // Text that itself begins like a charset prefix is read as one (a property of the format).
  bool prefixLike = charset.empty() && encoded.size() >= 8 &&
                    px::SameText(std::string_view(encoded).substr(0, 8), "CHARSET:");
  if (plainLines(lines) && plainCharset(charset) && !prefixLike) {
    StringList again;
    std::string charset2 = px::store::DecodeIndexValue(encoded, again);
    check(again == lines);
    check(charset2 == (lines.empty() ? std::string() : charset));
  }
  return 0;
}
