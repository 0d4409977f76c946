#include "store/doc_record.h"

#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"

#include <algorithm>
#include <cstring>

namespace px::store {

namespace {

constexpr size_t kEntryHead = 5;

uint32_t LengthAt(const std::string& b, size_t pos) {
  uint32_t n = 0;
  for (int i = 0; i < 4; ++i) n |= uint32_t(static_cast<unsigned char>(b[pos + 1 + i])) << (8 * i);
  return n;
}

void AppendEntry(std::string& b, DocKey key, std::string_view value) {
  const auto n = static_cast<uint32_t>(value.size());
  b += static_cast<char>(key);
  for (int i = 0; i < 4; ++i) b += static_cast<char>((n >> (8 * i)) & 0xFF);
  b.append(value);
}

}  // namespace

std::string_view DocRecord::Get(DocKey key) const {
  for (size_t pos = 0; pos + kEntryHead <= extras_.size();) {
    uint32_t n = LengthAt(extras_, pos);
    if (static_cast<DocKey>(extras_[pos]) == key) return std::string_view(extras_).substr(pos + kEntryHead, n);
    pos += kEntryHead + n;
  }
  return {};
}

void DocRecord::Set(DocKey key, std::string_view value) {
  std::string next;
  next.reserve(extras_.size() + value.size() + kEntryHead);
  for (size_t pos = 0; pos + kEntryHead <= extras_.size();) {
    uint32_t n = LengthAt(extras_, pos);
    if (static_cast<DocKey>(extras_[pos]) != key)
      AppendEntry(next, static_cast<DocKey>(extras_[pos]), std::string_view(extras_).substr(pos + kEntryHead, n));
    pos += kEntryHead + n;
  }
  if (!value.empty()) AppendEntry(next, key, value);
  extras_ = std::move(next);
}

void DocRecord::SetExtras(std::span<const std::pair<DocKey, std::string_view>> values) {
  size_t total = 0;
  for (const auto& [k, v] : values)
    if (!v.empty()) total += kEntryHead + v.size();
  std::string next(total, '\0');  // written in place: records are built by the 100,000
  char* p = next.data();
  for (const auto& [k, v] : values) {
    if (v.empty()) continue;
    const auto n = static_cast<uint32_t>(v.size());
    *p++ = static_cast<char>(k);
    for (int i = 0; i < 4; ++i) *p++ = static_cast<char>((n >> (8 * i)) & 0xFF);
    std::memcpy(p, v.data(), v.size());
    p += v.size();
  }
  extras_ = std::move(next);
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
  s.cc = std::string(rec.cc());
  s.bcc = std::string(rec.bcc());
  s.to = std::string(rec.to());
  s.excludeTo = std::string(rec.excludeTo());
  s.charset = std::string(rec.charset());
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

bool TitleEndsWithExtension(std::string_view title, std::string_view ext) {
  if (ext.empty() || title.size() <= ext.size() + 1) return false;
  const std::string_view tail = title.substr(title.size() - ext.size() - 1);
  return tail[0] == '.' && SameText(tail.substr(1), ext);
}

std::string TitleWithoutExtension(std::string_view title, std::string_view ext) {
  if (!TitleEndsWithExtension(title, ext)) return std::string(title);
  return std::string(title.substr(0, title.size() - ext.size() - 1));
}

}  // namespace px::store
