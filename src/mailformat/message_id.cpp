#include "mailformat/message_id.h"

#include "foundation/strings.h"

namespace px::mailformat {

// The series id of the foundation is the one reader and writer of these ids.

MessageId ParseMessageId(std::string_view id) {
  const SeriesId s = ParseSeriesId(id);
  return {s.base, static_cast<unsigned>(s.part), static_cast<unsigned>(s.count)};
}

std::string FormatMessageId(std::string_view base, unsigned part, unsigned total) {
  return FormatSeriesId(base, static_cast<int>(part), static_cast<int>(total));
}

bool SameMessage(std::string_view a, std::string_view b) { return SeriesBase(a) == SeriesBase(b); }

}  // namespace px::mailformat
