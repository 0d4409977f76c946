// PDF files are outside data: reading their text must not crash or hang, whatever the bytes.
#include "search/extractor.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {
struct Count final : px::search::TextSink {
  bool Put(std::string_view s) override {
    bytes += s.size();
    return true;
  }
  size_t bytes = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = ::memfd_create("pdf", MFD_CLOEXEC);
  if (fd < 0) return 0;
  size_t off = 0;
  while (off < size) {
    const ssize_t n = ::write(fd, data + off, size - off);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  Count sink;
  (void)px::search::ExtractPdf("/proc/self/fd/" + std::to_string(fd), sink);
  ::close(fd);
  return 0;
}
