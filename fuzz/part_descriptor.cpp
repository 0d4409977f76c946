// Part descriptors, message ids, folder values and mail dates from arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mailformat/mail_date.h"
#include "mailformat/message_id.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/pseudo_headers.h"

using namespace px::mailformat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  PartDescriptor d = ParsePartDescriptor(bytes);
  std::string once = FormatPartDescriptor(d);
  // Writing what was read is stable, and every written line is one line.
  if (FormatPartDescriptor(ParsePartDescriptor(once)) != once) std::abort();
  size_t lines = 0;
  for (size_t i = 0; i < once.size(); ++i) {
    if (once[i] == '\n') {
      if (i == 0 || once[i - 1] != '\r') std::abort();
      ++lines;
    } else if (once[i] == '\r' && (i + 1 >= once.size() || once[i + 1] != '\n')) {
      std::abort();
    } else if (once[i] == '\0') {
      std::abort();
    }
  }
  if (lines != 6 + d.tagged.size()) std::abort();
  DescriptorTags t = ReadDescriptorTags(d);
  (void)t;
  for (const auto& line : d.tagged) {
    MessageId id = ParseMessageId(line);
    if (SameMessage(line, FormatMessageId(id.base, id.part, id.total)) != true) std::abort();
    if (auto f = SafeFolderValue(line)) {
      if (f->find("..") != std::string::npos && (f->starts_with("..") || f->find("\\..") != std::string::npos)) {
        // ".." may only occur inside a piece ("a..b"), never as one.
        size_t start = 0;
        while (start <= f->size()) {
          size_t e = f->find('\\', start);
          std::string piece = f->substr(start, e == std::string::npos ? std::string::npos : e - start);
          if (piece == ".." || piece == ".") std::abort();
          if (e == std::string::npos) break;
          start = e + 1;
        }
      }
      if (f->starts_with("/") || f->starts_with("\\") || (f->size() >= 2 && (*f)[1] == ':')) std::abort();
    }
    ParseMailDate(line);
    ParseAolDate(line);
  }
  return 0;
}
