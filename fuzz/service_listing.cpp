// The mail service's listing from arbitrary bytes: it parses or is refused, and no value that
// reaches a marker file or a request carries a line break.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "transport/service_listing.h"

using namespace px::transport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<ListedMessage> listed;
  ListingStatus st = ParseServiceListing(bytes, listed);
  if (st != ListingStatus::Ok && !listed.empty() && st != ListingStatus::Bad) std::abort();
  if (listed.size() > kMaxListedMessages) std::abort();
  for (const auto& m : listed) {
    for (const std::string* v : {&m.from, &m.fileName, &m.subject, &m.messageId, &m.to})
      if (v->find('\r') != std::string::npos || v->find('\n') != std::string::npos) std::abort();
    if (m.size < -1) std::abort();
    TMailPreviewItem p = PreviewItemOf(m, "Plumadex server");
    if (p.fileName != m.fileName) std::abort();
    (void)m.ReceiptId();
  }
  return 0;
}
