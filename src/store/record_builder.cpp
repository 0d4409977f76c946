#include "store/record_builder.h"

#include "foundation/address.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "store/section_lines.h"

#include <optional>

namespace px::store {

// The part of a record that comes from its index section. `time` receives the `Time` key when
// there is one (it dates mail).
void ParseSectionLines(DocRecord& r, std::span<const std::string_view> lines,
                       std::optional<DateTime>& time, const AddressLookup& lookup) {
  constexpr size_t kExtraKeys = static_cast<size_t>(DocKey::Charset) + 1;
  std::string_view extra[kExtraKeys];
  bool anyExtra = false;
  auto keep = [&](DocKey k, std::string_view v) {
    extra[static_cast<size_t>(k)] = v;
    anyExtra = true;
  };
  std::optional<std::string_view> timeText;
  // A key given twice counts once, at its first line, as the INI class reads it.
  uint32_t seen = 0;
  auto first = [&seen](int bit) {
    const uint32_t m = 1u << bit;
    if (seen & m) return false;
    seen |= m;
    return true;
  };
  for (std::string_view line : lines) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = TrimView(line.substr(0, eq));
    std::string_view value = TrimView(line.substr(eq + 1));
    if (key.size() < 2 || key.size() > 9) continue;
    // The first letter picks the one name a key of this length can be.
    switch (key.size() * 256 + static_cast<unsigned char>(LowerAscii(key[0]))) {
      case 2 * 256 + 'c':
        if (EqualsNoCase(key, "cc") && first(0)) keep(DocKey::Cc, value);
        break;
      case 2 * 256 + 't':
        if (EqualsNoCase(key, "to") && first(1)) keep(DocKey::To, value);
        break;
      case 3 * 256 + 'b':
        if (EqualsNoCase(key, "bcc") && first(2)) keep(DocKey::Bcc, value);
        break;
      case 4 * 256 + 't':
        if (EqualsNoCase(key, "time") && first(3)) timeText = value;
        break;
      case 4 * 256 + 'f':
        if (EqualsNoCase(key, "from") && first(4)) keep(DocKey::From, value);
        break;
      case 4 * 256 + 's':
        if (EqualsNoCase(key, "sent") && first(5)) keep(DocKey::Sent, value);
        break;
      case 5 * 256 + 't':
        if (EqualsNoCase(key, "title") && first(6)) r.title.assign(value);
        break;
      case 5 * 256 + 'f':
        if (EqualsNoCase(key, "flags") && first(7)) r.flags = ParseEntryFlags(value);
        break;
      case 5 * 256 + 'm':
        if (EqualsNoCase(key, "msgid") && first(8)) r.msgId.assign(value);
        break;
      case 7 * 256 + 'a':
        if (EqualsNoCase(key, "address") && first(9)) r.address.assign(value);
        break;
      case 7 * 256 + 's':
        if (EqualsNoCase(key, "sticker") && first(10)) r.sticker.assign(value);
        break;
      case 7 * 256 + 'r':
        if (EqualsNoCase(key, "replied") && first(11)) keep(DocKey::Replied, value);
        break;
      case 7 * 256 + 'c':
        if (EqualsNoCase(key, "charset") && first(12)) keep(DocKey::Charset, value);
        break;
      case 8 * 256 + 'o':
        if (EqualsNoCase(key, "original") && first(13)) keep(DocKey::Original, value);
        break;
      case 9 * 256 + 'e':
        if (EqualsNoCase(key, "excludeto") && first(14)) keep(DocKey::ExcludeTo, value);
        break;
      case 9 * 256 + 'd':
        if (EqualsNoCase(key, "delivered") && first(15)) keep(DocKey::Delivered, value);
        break;
      case 9 * 256 + 'f':
        if (EqualsNoCase(key, "forwarded") && first(16)) keep(DocKey::Forwarded, value);
        break;
      default:
        break;
    }
  }
  if (anyExtra) {
    std::pair<DocKey, std::string_view> present[kExtraKeys];
    size_t n = 0;
    for (size_t k = 0; k < kExtraKeys; ++k)
      if (!extra[k].empty()) present[n++] = {static_cast<DocKey>(k), extra[k]};
    r.SetExtras(std::span<const std::pair<DocKey, std::string_view>>(present, n));
  }
  time.reset();
  if (timeText) time = ParseShortDate(*timeText);
  ComputeShownAddress(r, lookup);
}

// The part of a record that comes from its file.
void CompleteWithFile(DocRecord& r, std::string_view folder, std::string_view name, std::string_view prefix,
                      std::string_view target, uint64_t size, DateTime fileDate,
                      const std::optional<DateTime>& time) {
  r.folder.assign(folder);
  r.name.assign(name);
  r.prefix.assign(prefix);
  r.target.assign(target);
  if (!target.empty()) {
    std::string_view t = target;
    auto slash = t.rfind('/');
    if (slash != std::string_view::npos) t.remove_prefix(slash + 1);
    r.ext = ExtensionOf(SplitTagPrefix(t).rest);
  } else {
    r.ext = ExtensionOf(name);
  }
  r.size = size;
  r.date = (r.flags & dfMailMask) && time ? *time : fileDate;
  if (r.title.empty()) r.title = StripExtension(name);
}

void FillDocRecord(DocRecord& r, std::string_view folder, std::string_view name, std::string_view prefix,
                   std::string_view target, uint64_t size, DateTime fileDate,
                   std::span<const std::string_view> lines, const AddressLookup& lookup) {
  std::optional<DateTime> time;
  ParseSectionLines(r, lines, time, lookup);
  CompleteWithFile(r, folder, name, prefix, target, size, fileDate, time);
}

DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         std::span<const std::string_view> lines, const AddressLookup& lookup) {
  DocRecord r;
  FillDocRecord(r, folder, name, prefix, target, size, fileDate, lines, lookup);
  return r;
}

DocRecord BuildDocRecord(std::string_view folder, std::string_view name, std::string_view prefix,
                         std::string_view target, uint64_t size, DateTime fileDate,
                         const StringList& lines, const AddressLookup& lookup) {
  auto views = Views(lines);
  return BuildDocRecord(folder, name, prefix, target, size, fileDate,
                        std::span<const std::string_view>(views), lookup);
}

DocRecord BuildContactRecord(std::string_view folder, std::string_view prefix, std::string_view name,
                             const StringList& lines, DateTime now, StringList* furtherAddresses) {
  DocRecord r;
  r.folder = std::string(folder);
  r.prefix = std::string(prefix);
  r.name = std::string(name);
  r.date = now + kContactDateOffset;
  r.size = 0;
  uint32_t seen = 0;  // the first line of a repeated key wins
  auto first = [&seen](int bit) {
    const uint32_t m = 1u << bit;
    if (seen & m) return false;
    seen |= m;
    return true;
  };
  for (const std::string& l : lines) {
    std::string_view line = l;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = TrimView(line.substr(0, eq));
    std::string_view value = TrimView(line.substr(eq + 1));
    if (EqualsNoCase(key, "title")) {
      if (first(0)) r.title.assign(value);
    } else if (EqualsNoCase(key, "flags")) {
      if (first(1)) r.flags = ParseEntryFlags(value);
    } else if (EqualsNoCase(key, "sticker")) {
      if (first(2)) r.sticker.assign(value);
    } else if (EqualsNoCase(key, "address")) {
      if (first(3)) r.address.assign(value);
    } else if (EqualsNoCase(key, "addresses")) {
      if (first(4) && furtherAddresses) *furtherAddresses = SplitAddresses(value);
    }
  }
  if (IsGroupAddress(name)) {
    r.ext = std::string(1, kGroupMarkerExt);
    r.address = std::string(name);
    r.shownAddress = std::string(kGroupMarker);
  } else {
    r.ext = "vcf";
    r.shownAddress = r.address;
    // An empty last name before the first name, so the name reads as "last, first".
    if (r.title.find(',') == std::string::npos) r.title.insert(0, ",");
  }
  return r;
}

}  // namespace px::store
