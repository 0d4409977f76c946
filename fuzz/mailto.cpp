// mailto URLs come from other programs (the desktop's mail handler request): the conversion must
// never crash and never leave a line break in a header field.
#include "compose/mailto.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string url = "mailto:" + std::string(reinterpret_cast<const char*>(data), size);
  px::compose::MailtoFields f;
  px::compose::ProcessMailto(url, f);
  for (const std::string* v : {&f.to, &f.cc, &f.bcc, &f.from, &f.subject})
    if (v->find_first_of("\r\n") != std::string::npos) std::abort();
  return 0;
}
