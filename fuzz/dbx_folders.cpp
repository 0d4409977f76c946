// Reads arbitrary bytes as an Outlook Express folder list. It must end (loops, deep trees) and
// every folder it names has a path of bounded depth and names without a NUL.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "import/dbx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  // Most inputs lack the signature: give half of them one, so the walk is reached.
  if (size > 0 && (data[0] & 1) && bytes.size() >= 16)
    std::memcpy(bytes.data(), "\xCF\xAD\x12\xFE\xC6\xFD\x74\x6F\x66\xE3\xD1\x11\x9A\x4E\x00\xC0", 16);
  for (const auto& f : px::import::ReadDbxFolders(px::import::DbxBytes::OfMemory(bytes))) {
    if (f.names.empty() || f.names.size() > 64) std::abort();
    for (const auto& n : f.names)
      if (n.find('\0') != std::string::npos || n.size() > 255) std::abort();
  }
  return 0;
}
