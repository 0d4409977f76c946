// Replies of the mail service (status texts, upload counts, published versions) and the query
// encoding of values taken from them: never a crash, and an encoded value never carries a
// character that could end or add a query parameter.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "transport/service_protocol.h"

using namespace px::transport;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string status = StatusText(in);
  if (status.size() > size) std::abort();
  ReadPasswordChangeReply(in);
  if (UploadAccepted(in, 0) && status != "0") std::abort();
  const std::string version = PublishedVersionOf(in);
  for (unsigned char c : version)
    if (c <= 0x20) std::abort();
  OffersNewVersion(version);
  for (const std::string& e : {EncodeListingValue(in), EncodeQueryValue(in)})
    for (unsigned char c : e)
      if (c == '&' || c == '=' || c == '#' || c == '?' || c == '+' || c <= 0x20 || c >= 0x7F) std::abort();
  const std::string path = ConfirmPath(in, false, in, in, in);
  if (path.find('#') != std::string::npos || path.find(' ') != std::string::npos) std::abort();
  return 0;
}
