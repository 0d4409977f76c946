#include "transport/sent_notice.h"

#include "foundation/address.h"
#include "foundation/text_case.h"

#include <algorithm>

namespace px::transport {

std::string SentNoticeText(const OutgoingMessage& m) {
  constexpr size_t kNamed = 3;
  StringList all, seen;
  for (const StringList* list : {&m.to, &m.ccList, &m.bccList})
    for (const std::string& e : *list) {
      const std::string key = LowerCase(BareAddressOf(e));
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
      seen.push_back(key);
      all.push_back(e);
    }
  if (all.empty()) return "Sent";
  std::string text = "Sent to ";
  for (size_t i = 0; i < all.size() && i < kNamed; ++i) text += (i ? ", " : "") + all[i];
  if (all.size() > kNamed) text += " and " + std::to_string(all.size() - kNamed) + " more";
  return text;
}

}  // namespace px::transport
