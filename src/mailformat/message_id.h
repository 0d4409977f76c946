#pragma once
// Message ids: base [":" part [ "/" total ]]. All parts of one message share the base.
#include <string>
#include <string_view>

namespace px::mailformat {

struct MessageId {
  std::string base;
  unsigned part = 0;   // 0 when absent or not a number
  unsigned total = 0;  // 0 when absent or not a number
};

MessageId ParseMessageId(std::string_view id);
// base + ":" + part in at least three digits (+ "/" + total when total > 0); the base alone when
// part is 0.
std::string FormatMessageId(std::string_view base, unsigned part, unsigned total = 0);
// Two ids belong to the same message when their bases are equal.
bool SameMessage(std::string_view a, std::string_view b);

}  // namespace px::mailformat
