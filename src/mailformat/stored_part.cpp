#include "mailformat/stored_part.h"

#include "mailformat/mime_header.h"

namespace px::mailformat {

namespace {
bool IsCard(std::string_view kind) { return kind.size() == 3 && StartsWithNoCase(kind, "vcf"); }
}  // namespace

int FiledFlags(const DescriptorTags& tags, std::string_view kind) {
  int flags;
  if (tags.draft)
    flags = 0x6400;
  else if (tags.outbound)
    flags = 0x2001;
  else if (tags.read)
    flags = 0x1001;
  else
    flags = IsCard(kind) ? 0x1200 : 0x1201;
  if (tags.encrypted) flags |= 0x0040;
  return flags;
}

int ComposedFlags(bool encrypt, bool draft) {
  return 0x2400 | (encrypt ? 0x0040 : 0) | (draft ? 0x4000 : 0);
}

int DeliveredFlags(int flags, std::string_view kind) {
  flags &= ~0x0400;
  if (!IsCard(kind)) flags |= 0x0001;
  return flags;
}

}  // namespace px::mailformat
