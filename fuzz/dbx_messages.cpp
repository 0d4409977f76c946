// Reads arbitrary bytes as an Outlook Express message folder file. It must end (loops in the
// trees and block chains), and no message is longer than the file itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "import/dbx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (size > 0 && (data[0] & 1) && bytes.size() >= 16)
    std::memcpy(bytes.data(), "\xCF\xAD\x12\xFE\xC5\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0", 16);
  const auto file = px::import::DbxBytes::OfMemory(bytes);
  (void)px::import::DbxMessageCount(file);
  uint64_t total = 0;
  px::import::ForEachDbxMessage(file, [&](std::string_view text) {
    if (text.size() > bytes.size()) std::abort();
    total += text.size();
    return true;
  });
  return 0;
}
