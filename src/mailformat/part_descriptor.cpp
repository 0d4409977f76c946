#include "mailformat/part_descriptor.h"

#include "foundation/charset.h"
#include "foundation/dates.h"
#include "mailformat/mail_date.h"
#include "mailformat/mime_header.h"

namespace px::mailformat {

void PartDescriptor::AddTag(std::string_view tag, std::string_view value) {
  std::string line(tag);
  line += value;
  tagged.push_back(OneLine(line));
}

void PartDescriptor::AddLine(std::string_view line) { tagged.push_back(OneLine(line)); }

std::string FormatPartDescriptor(const PartDescriptor& d) {
  std::string r;
  auto line = [&r](std::string_view s) {
    r += OneLine(s);
    r += "\r\n";
  };
  line(d.to);
  line(d.from);
  line(d.kind);
  line(d.name);
  line(d.sticker);
  line("");
  for (const auto& t : d.tagged) line(t);
  return r;
}

PartDescriptor ParsePartDescriptor(std::string_view bytes) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t nl = bytes.find('\n', start);
    std::string_view l = bytes.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    lines.push_back(l);
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  PartDescriptor d;
  auto at = [&lines](size_t i) { return i < lines.size() ? std::string(lines[i]) : std::string(); };
  d.to = at(0);
  d.from = at(1);
  d.kind = at(2);
  d.name = at(3);
  d.sticker = at(4);
  size_t end = lines.size();
  while (end > 6 && lines[end - 1].empty()) --end;
  for (size_t i = 6; i < end; ++i) d.tagged.emplace_back(lines[i]);
  return d;
}

std::string DescriptorTags::Key(std::string_view name) const {
  std::string v;
  for (const auto& [k, val] : keys)
    if (k == name) v = val;
  return v;
}

DescriptorTags ReadDescriptorTags(const PartDescriptor& d) {
  DescriptorTags t;
  auto rest = [](std::string_view line, size_t n) { return std::string(TrimView(line.substr(n))); };
  for (const std::string& ls : d.tagged) {
    std::string_view line(ls);
    if (StartsWithNoCase(line, "X-DATE-RECEIVED:")) {
      t.time = UtcToLocal(ParseShortDate(rest(line, 16)));
    } else if (line.starts_with("_AOL Date:")) {
      t.time = ParseAolDate(rest(line, 10));
    } else if (StartsWithNoCase(line, "DATE:")) {
      t.keys.emplace_back("Sent", rest(line, 5));
    } else if (StartsWithNoCase(line, "TO:")) {
      t.keys.emplace_back("To", rest(line, 3));
    } else if (line.starts_with("X-Multiple-to:")) {
      t.keys.emplace_back("To", rest(line, 14));
    } else if (StartsWithNoCase(line, "CC:")) {
      t.keys.emplace_back("Cc", rest(line, 3));
    } else if (StartsWithNoCase(line, "BCC:")) {
      t.keys.emplace_back("Bcc", rest(line, 4));
    } else if (StartsWithNoCase(line, "CHARSET:")) {
      t.keys.emplace_back("Charset", rest(line, 8));
    } else if (line == "_Outbound") {
      t.outbound = true;
    } else if (line == "_Draft") {
      t.draft = true;
    } else if (line == "_Read") {
      t.read = true;
    } else if (line == "_Encrypted") {
      t.encrypted = true;
    } else if (line.starts_with("_Folder:")) {
      t.hasFolder = true;
      t.folder = rest(line, 8);
    } else if (line.starts_with("X-Plumadex-Account:")) {
      t.keys.emplace_back("Account", rest(line, 19));
    } else if (line.starts_with("MsgID:")) {
      t.keys.emplace_back("MsgID", rest(line, 6));
    } else if (line.starts_with("Message-ID:")) {
      t.keys.emplace_back("Message-ID", rest(line, 11));
    } else if (line.starts_with("References:")) {
      t.keys.emplace_back("References", rest(line, 11));
    } else if (line.starts_with("Content-ID:")) {
      t.keys.emplace_back("Content-ID", rest(line, 11));
    }
  }
  return t;
}

std::string DescriptorTextToUtf8(std::string_view text, std::string_view charset) {
  if (!charset.empty()) return DecodeFromCharset(text, charset);
  if (IsValidUtf8(text)) return std::string(text);
  return DecodeFromCharset(text, DefaultCharsetName());
}

bool IsMarkerKind(std::string_view kind) { return kind.starts_with("$$$"); }

}  // namespace px::mailformat
