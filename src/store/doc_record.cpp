#include "store/doc_record.h"

#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"

#include <algorithm>

namespace px::store {

namespace {
const std::string kEmpty;
}

const std::string& DocRecord::Get(DocKey key) const {
  for (const auto& [k, v] : extras_)
    if (k == key) return v;
  return kEmpty;
}

void DocRecord::Set(DocKey key, std::string value) {
  for (auto it = extras_.begin(); it != extras_.end(); ++it) {
    if (it->first != key) continue;
    if (value.empty())
      extras_.erase(it);
    else
      it->second = std::move(value);
    return;
  }
  if (!value.empty()) extras_.emplace_back(key, std::move(value));
}

std::string DocRecord::FilePath() const {
  if (!target.empty()) {
    // The target names an index section; its file is the section name without tag prefix.
    auto slash = target.rfind('/');
    std::string_view dir = slash == std::string::npos ? std::string_view{} : std::string_view(target).substr(0, slash + 1);
    std::string_view sect = slash == std::string::npos ? std::string_view(target) : std::string_view(target).substr(slash + 1);
    return std::string(dir) + SplitTagPrefix(sect).rest;
  }
  return folder + name;
}

bool DocRecord::IsContact() const { return IsContactExt(ext); }

SelectionRecord MakeSelectionRecord(const DocRecord& rec, size_t row) {
  SelectionRecord s;
  s.folder = rec.folder;
  s.row = row;
  s.title = rec.title;
  s.name = rec.name;
  s.prefix = rec.prefix;
  s.ext = rec.ext;
  s.date = rec.date;
  s.size = rec.size;
  s.flags = rec.flags;
  s.address = rec.address;
  s.msgId = rec.msgId;
  s.cc = rec.cc();
  s.bcc = rec.bcc();
  s.to = rec.to();
  s.excludeTo = rec.excludeTo();
  s.charset = rec.charset();
  s.sticker = rec.sticker;
  s.target = rec.target;
  return s;
}

Selection SnapshotSelection(const DocRows& rows) {
  Selection out;
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].selected) out.push_back(MakeSelectionRecord(rows[i], i));
  return out;
}

std::string ShownAddressOf(int flags, std::string_view address, std::string_view cc,
                           std::string_view bcc, const AddressLookup& lookup) {
  if (((flags & dfOutgoing) && (!cc.empty() || !bcc.empty())) || IsAddressList(address))
    return std::string(kListMarker);
  if (lookup) {
    std::string bare = LowerCase(BareAddressOf(address));
    std::string name;
    if (!bare.empty() && lookup(bare, name)) return name;
  }
  return DisplayNameOf(address);
}

void ComputeShownAddress(DocRecord& rec, const AddressLookup& lookup) {
  rec.shownAddress = ShownAddressOf(rec.flags, rec.address, rec.cc(), rec.bcc(), lookup);
}

std::string ExtensionOf(std::string_view fileName) {
  auto dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return std::string(fileName.substr(dot + 1));
}

std::string StripExtension(std::string_view fileName) {
  auto dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string(fileName);
  return std::string(fileName.substr(0, dot));
}

}  // namespace px::store
