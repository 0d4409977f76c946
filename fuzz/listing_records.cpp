// Index sections written by other machines, other versions or by hand become document records:
// building them, their shown addresses and their order must hold for any bytes.
#include "store/doc_sort.h"
#include "store/folder_listing.h"
#include "store/index_file.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace px;
using namespace px::store;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TPXIniBase ini("/nonexistent/fuzz/Plumadex.ini");
  ini.SetText(text);

  DocRows rows;
  const AddressLookup lookup = [](std::string_view bare, std::string& name) {
    if (bare.size() % 3 != 0) return false;
    name = std::string(bare);
    return true;
  };
  ini.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    if (rows.size() >= 200) return;
    DocRecord r = BuildDocRecord("/f/", name, {}, {}, lines.size(), 40000.5, lines, lookup);
    if (r.title.empty() && !StripExtension(name).empty()) std::abort();
    if (r.flags < 0 || r.flags > 0xFFFF) std::abort();
    px::StringList copy(lines.begin(), lines.end());
    px::StringList further;
    DocRecord c = BuildContactRecord("/f/", "$$$AB.", name, copy, 40000, &further);
    if (c.ext.empty()) std::abort();
    rows.push_back(std::move(r));
    rows.push_back(std::move(c));
  });
  (void)CountUnread(rows);
  for (int code = -7; code <= 7; ++code) {
    if (code == 0) continue;
    SortOptions opt;
    opt.sorting = code;
    opt.contactsTab = code % 2 == 0;
    std::vector<size_t> order = SortOrder(rows, opt);
    std::vector<bool> seen(rows.size(), false);
    for (size_t i : order) {
      if (i >= rows.size() || seen[i]) std::abort();
      seen[i] = true;
    }
    if (order.size() != rows.size()) std::abort();
  }
  return 0;
}
