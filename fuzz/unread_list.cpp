// unread.lst and newmail.lst as read at start-up: any bytes give a usable list.
#include "store/list_file.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const px::StringList lines = px::store::SplitListText(text);
  px::store::UnreadList list;
  list.LoadLines(lines);
  int64_t sum = 0;
  for (const auto& [folder, n] : list.Entries()) {
    if (n <= 0 || folder.empty() || (folder.back() != '/' && folder.back() != '\\')) __builtin_trap();
    sum += list.GetUnreadCount(folder).own;
  }
  (void)sum;
  for (const auto& l : lines) {
    list.ChangeUnreadCount(l, 1, true);
    list.ChangeUnreadCount(l, -2, true);
  }
  if (list.Size() != 0 && list.Changed()) {
    for (const auto& [folder, n] : list.Entries())
      if (n <= 0) __builtin_trap();
  }
  return 0;
}
