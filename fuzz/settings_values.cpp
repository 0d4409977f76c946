// User.ini text and hand-over requests: every typed setting must read without fault, and
// values must stay inside their limits whatever the file holds.
#include "foundation/settings.h"
#include "platform/single_instance.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  px::Settings s;
  s.Ini().SetText(text);
  const int tree = s.TreeWidth();
  if (tree < 100 || tree > 500) std::abort();
  const int sorting = s.Sorting();
  if (sorting == 0 || sorting < -7 || sorting > 7) std::abort();
  const int addr = s.AddressSorting();
  if (addr != 2 && addr != -2 && addr != 4 && addr != -4) std::abort();
  if (s.MailCheckInterval() < 1) std::abort();
  if (s.LastColour() < 0 || s.LastColour() > 9) std::abort();
  s.EWidth(1280, 800);
  s.EHeight(1280, 800);
  px::FontValue base;
  s.FolderFont(base);
  const px::FontValue f = s.FileFont(base);
  if (f.size <= 0) std::abort();
  px::OwnFromAddress(s);
  s.DefaultCharset();
  px::platform::SingleInstance::IsAcceptableRequest(text);
  return 0;
}
