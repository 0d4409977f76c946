#include "mailformat/message_id.h"

#include <cstdio>

namespace px::mailformat {

namespace {

unsigned ReadNumber(std::string_view s) {
  if (s.empty() || s.size() > 9) return 0;
  unsigned v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + unsigned(c - '0');
  }
  return v;
}

std::string_view BaseOf(std::string_view id) { return id.substr(0, id.find(':')); }

}  // namespace

MessageId ParseMessageId(std::string_view id) {
  MessageId r;
  size_t colon = id.find(':');
  r.base = std::string(id.substr(0, colon));
  size_t slash = id.find('/');
  if (colon != std::string_view::npos) {
    size_t end = (slash != std::string_view::npos && slash > colon) ? slash : id.size();
    r.part = ReadNumber(id.substr(colon + 1, end - colon - 1));
  }
  if (slash != std::string_view::npos) r.total = ReadNumber(id.substr(slash + 1));
  return r;
}

std::string FormatMessageId(std::string_view base, unsigned part, unsigned total) {
  std::string r(base);
  if (part == 0) return r;
  char buf[32];
  std::snprintf(buf, sizeof buf, ":%.3u", part);
  r += buf;
  if (total > 0) {
    std::snprintf(buf, sizeof buf, "/%.3u", total);
    r += buf;
  }
  return r;
}

bool SameMessage(std::string_view a, std::string_view b) { return BaseOf(a) == BaseOf(b); }

}  // namespace px::mailformat
