#include "desk/hint_builder.h"

#include "foundation/address.h"
#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "search/extractor.h"
#include "store/index_value.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace px::desk {

namespace {

constexpr size_t kPreviewLineChars = 400;
constexpr size_t kMinStickerLines = 5;
constexpr std::string_view kCutMark = " ...";

bool IsGroupRow(const store::DocRecord& r) { return r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt; }
bool IsCardRow(const store::DocRecord& r) { return SameText(r.ext, "vcf"); }

// Byte length of the UTF-8 prefix holding at most `chars` characters.
size_t Utf8Prefix(std::string_view s, size_t chars) {
  size_t i = 0, n = 0;
  while (i < s.size() && n < chars) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++n;
  }
  return i;
}

// A whole text as at most kPreviewMaxLines lines, trailing empty ones removed.
std::string TrimLines(std::string_view text, bool truncated) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size() && lines.size() < kPreviewMaxLines + 1) {
    size_t nl = text.find('\n', start);
    const bool last = nl == std::string_view::npos;
    std::string_view line = text.substr(start, last ? std::string_view::npos : nl - start);
    // A line cut by the read limit is left out, unless it is all there is (a one-line file).
    if (last && truncated && !lines.empty()) break;
    lines.push_back(line);
    if (last) break;
    start = nl + 1;
  }
  bool more = lines.size() > kPreviewMaxLines || (truncated && !lines.empty());
  if (lines.size() > kPreviewMaxLines) lines.resize(kPreviewMaxLines);
  auto blank = [](std::string_view l) {
    return std::all_of(l.begin(), l.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
  };
  while (!lines.empty() && blank(lines.back())) lines.pop_back();
  std::string out;
  for (std::string_view l : lines) {
    while (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    if (!out.empty()) out.push_back('\n');
    const size_t cut = Utf8Prefix(l, kPreviewLineChars);
    out.append(l.substr(0, cut));
    if (cut < l.size()) out.append(kCutMark);
  }
  if (more && !out.empty()) out.append(kCutMark);
  return out;
}

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
    if (n == 9 || (n == 1 && c < 0xC2) || i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

bool LooksBinary(std::string_view bytes) {
  size_t controls = 0;
  for (unsigned char c : bytes) {
    if (c == 0) return true;
    if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f' && c != 0x1B) ++controls;
  }
  return controls * 20 > bytes.size();  // more than 5% control bytes
}

// Text of a plain file's bytes in UTF-8.
std::string ToUtf8(std::string_view bytes, std::string_view charset) {
  if (!charset.empty()) return DecodeFromCharset(bytes, charset);
  // UTF-8 (or ASCII) as it is; anything else by the guessed code page.
  if (IsValidUtf8(bytes)) return std::string(bytes);
  const int cp = DetectCodePage(bytes);
  return DecodeFromCodePage(bytes, cp ? cp : 1252);
}

void AddList(std::vector<HintLine>& out, const std::string& head, std::string_view list) {
  bool first = true;
  for (const std::string& e : ParseAddressList(list)) {
    out.push_back({first ? head : std::string(), e});
    first = false;
  }
}

std::string Converted(std::string_view text, std::string_view charset) {
  return charset.empty() ? std::string(text) : DecodeFromCharset(text, charset);
}

}  // namespace

std::string HintSize(uint64_t size) {
  if (size < 1000) return std::to_string(size) + " bytes";
  return std::to_string((size + 500) / 1000) + "K";
}

std::string SentText(std::string_view sent) {
  std::string s = Trim(sent);
  // "... +0100": the offset becomes "(UTC+0100)".
  if (s.size() >= 5) {
    const std::string_view tail = std::string_view(s).substr(s.size() - 5);
    const bool offset = (tail[0] == '+' || tail[0] == '-') &&
                        std::all_of(tail.begin() + 1, tail.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (offset) return s.substr(0, s.size() - 5) + "(UTC" + std::string(tail) + ")";
  }
  return s;
}

std::vector<std::string> HistoryLines(std::string_view value, std::string_view tmpl,
                                      const std::function<std::string(DateTime)>& formatDate,
                                      bool displayNames) {
  std::vector<std::string> out;
  for (const std::string& record : SplitCommaList(value)) {
    const std::string rec = Trim(record);
    if (rec.empty()) continue;
    // date, time, then the recipients
    size_t p = rec.find(' ');
    size_t q = p == std::string::npos ? std::string::npos : rec.find(' ', p + 1);
    const std::string when = q == std::string::npos ? rec : rec.substr(0, q);
    std::string who = q == std::string::npos ? std::string() : Trim(rec.substr(q + 1));
    std::replace(who.begin(), who.end(), ';', ',');
    if (displayNames && !who.empty()) {
      std::string names;
      for (const std::string& e : ParseAddressList(who)) {
        if (!names.empty()) names += ", ";
        std::string n = DisplayNameOf(e);
        names += n.empty() ? BareAddressOf(e) : n;
      }
      who = names;
    }
    if (who.empty()) who = "the recepient";
    const DateTime t = ParseShortDate(when);
    const std::string date = t != 0 && formatDate ? formatDate(t) : when;
    out.push_back(SubstituteArgs(tmpl, {date, who}));
  }
  return out;
}

std::vector<HintLine> SplitColumns(std::string_view text) {
  std::vector<HintLine> out;
  size_t start = 0;
  for (;;) {
    const size_t nl = text.find('\n', start);
    std::string_view line = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t colon = line.find(": ");
    if (!line.empty() && line.front() != '"' && line.front() != '<' && colon != std::string_view::npos)
      out.push_back({std::string(line.substr(0, colon + 2)), std::string(line.substr(colon + 2))});
    else
      out.push_back({{}, std::string(line)});
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  return out;
}

std::string ReadPreview(const std::string& path, std::string_view charset, const std::atomic<bool>* cancelled) {
  if (IsUnicodeCharset(charset)) return {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::string bytes(kPreviewMaxBytes + 1, '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    if (cancelled && cancelled->load()) {
      ::close(fd);
      return {};
    }
    const ssize_t n = ::read(fd, bytes.data() + got, std::min<size_t>(16384, bytes.size() - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  const bool truncated = bytes.size() > kPreviewMaxBytes;
  if (truncated) bytes.resize(kPreviewMaxBytes);
  // UTF-16 by its byte-order mark: not previewed, as a UTF-16 charset.
  if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
    return {};
  if (LooksBinary(bytes)) return {};
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  if (truncated && charset.empty()) {
    // Do not cut a UTF-8 character in two.
    size_t end = bytes.size();
    size_t back = 0;
    while (end > 0 && back < 4 && (static_cast<unsigned char>(bytes[end - 1]) & 0xC0) == 0x80) --end, ++back;
    if (end > 0 && static_cast<unsigned char>(bytes[end - 1]) >= 0xC0) bytes.resize(end - 1);
  }
  return TrimLines(ToUtf8(bytes, charset), truncated);
}

std::string ReadMessagePreview(const std::string& path, const std::atomic<bool>* cancelled) {
  struct Sink final : search::TextSink {
    std::string text;
    const std::atomic<bool>* cancelled = nullptr;
    bool full = false;
    bool Put(std::string_view utf8) override {
      if (cancelled && cancelled->load()) return false;
      const size_t room = kPreviewMaxBytes - text.size();
      text.append(utf8.substr(0, std::min(room, utf8.size())));
      if (utf8.size() >= room) full = true;
      return !full && std::count(text.begin(), text.end(), '\n') <= static_cast<long>(kPreviewMaxLines);
    }
  } sink;
  sink.cancelled = cancelled;
  (void)search::ExtractMail(path, sink);
  if (cancelled && cancelled->load()) return {};
  return TrimLines(sink.text, sink.full);
}

HintContent BuildHint(int zone, const store::DocRecord& r, const HintEnvironment& env) {
  HintContent c;
  const bool files = env.tab == GridTab::Files;
  const bool contact = r.IsContact();
  auto say = [&c](std::string text) { c.lines.push_back({{}, std::move(text)}); };
  switch (zone) {
    case 1:
      if (contact) say("Edit contact information");
      else if (files && env.dragging && !r.selected && store::IsPendingFlags(r.flags) && IsMessageExt(r.ext))
        say("Attach files to this message");
      else say("Open file");
      return c;
    case 2:
      if (r.searchState & store::rsHasChildren) {
        const bool collapsed = (r.flags & store::dfCollapsed) != 0;
        if (env.tab == GridTab::Contacts)
          say(collapsed ? "Show additional information" : "Hide additional information");
        else say(collapsed ? "Show attachments" : "Hide attachments");
      } else if (store::IsPendingFlags(r.flags)) {
        say("Write cover message");
      } else if (contact) {
        say("Compose new message to this address");
      }
      return c;
    case 3: say(r.sticker.empty() ? "Attach sticker note" : "Edit sticker note"); return c;
    case 4: say("Color code"); return c;
    case 5: break;
    case 7:
      if (!files) return c;
      break;
    case 9:
      if (!files || !store::IsMailFlags(r.flags)) return c;
      break;
    default: return c;
  }
  c.gridInfo = true;
  const std::string charset(r.charset());

  if (zone == 5) {
    if (IsGroupRow(r)) {
      StringList members = env.groupMembers ? env.groupMembers(r) : StringList{};
      std::sort(members.begin(), members.end(), [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
      for (std::string& m : members) say(std::move(m));
      return c;
    }
    if (IsCardRow(r)) {
      const std::string summary = env.contactSummary ? env.contactSummary(r) : std::string();
      if (env.tab == GridTab::Contacts) c.lines = SplitColumns(summary);
      else if (!summary.empty()) for (auto& l : SplitColumns(summary)) say(l.head + l.text);
      return c;
    }
    if (!r.sticker.empty()) c.sticker = store::DecodeIndexText(r.sticker).text;
    if (!env.showPreview || IsUnicodeCharset(charset)) return c;
    if (SameText(r.ext, "txt")) {
      c.previewPath = r.FilePath();
      c.previewCharset = charset;
    } else if (SameText(r.ext, "eml") || SameText(r.ext, "mht") || SameText(r.ext, "mhtml")) {
      c.previewPath = r.FilePath();
      c.previewMessage = true;
    }
    return c;
  }

  if (zone == 7) {
    std::string type;
    if (SameText(r.ext, "eml")) {
      type = "Rich Text E-mail Message";
    } else if (SameText(r.ext, "txt") && store::IsMailFlags(r.flags) &&
               ParseSeriesId(r.msgId).part <= 1) {
      type = "Plain Text E-mail Message";
    } else {
      type = env.typeName ? env.typeName(r.FilePath()) : std::string();
      if (type.empty()) type = (r.ext.empty() ? std::string("Unknown") : UpperAscii(r.ext)) + " file";
    }
    c.lines.push_back({"File type: ", type});
    c.lines.push_back({"Size: ", HintSize(r.size)});
    if (env.showSize && env.formatDate) c.lines.push_back({"Date: ", env.formatDate(r.date)});
    if (!charset.empty()) {
      const int ix = CharsetIndex(charset);
      c.lines.push_back({"Encoding: ", ix >= 0 ? CharsetRows()[static_cast<size_t>(ix)].description : charset});
    }
    if ((r.flags & store::dfReceived) && !r.sent().empty()) c.lines.push_back({"Sent: ", SentText(r.sent())});
    if (r.flags & store::dfEncrypted) c.lines.push_back({"Encrypted: ", "PGP"});
    auto history = [&](std::string_view value, std::string_view tmpl, bool names) {
      for (std::string& l : HistoryLines(value, tmpl, env.formatDate, names)) say(std::move(l));
    };
    if (r.flags & store::dfOutgoing) history(r.delivered(), "Delivered: %1 to %2", true);
    if (r.flags & store::dfReceived) history(r.replied(), "Replied: %1 to %2", false);
    if (store::IsMailFlags(r.flags)) history(r.forwarded(), "Forwarded: %1 to %2", false);
    return c;
  }

  // zone 9: the addresses of a message
  if (r.flags & store::dfEncrypted) c.lines.push_back({"Encrypted: ", "PGP"});
  auto expanded = [&](std::string_view list) {
    return env.expandGroups ? env.expandGroups(list, r.excludeTo()) : std::string(list);
  };
  std::string single;
  if (r.flags & store::dfReceived) {
    AddList(c.lines, "From: ", Converted(r.address, charset));
    AddList(c.lines, "To: ", Converted(r.to(), charset));
    single = r.address;
  } else {
    AddList(c.lines, "From: ", Converted(r.from(), charset));
    AddList(c.lines, "To: ", Converted(expanded(r.address), charset));
    single = r.address;
  }
  AddList(c.lines, "Cc: ", Converted(expanded(r.cc()), charset));
  AddList(c.lines, "Bcc: ", Converted(expanded(r.bcc()), charset));
  if (ParseAddressList(single).size() == 1 && !IsGroupAddress(single) && env.summaryOfAddress)
    c.sticker = env.summaryOfAddress(single);
  return c;
}

bool FinishHint(HintContent& c, const std::atomic<bool>* cancelled) {
  if (c.previewPath.empty()) return true;
  const std::string text = c.previewMessage ? ReadMessagePreview(c.previewPath, cancelled)
                                            : ReadPreview(c.previewPath, c.previewCharset, cancelled);
  if (cancelled && cancelled->load()) return false;
  if (!text.empty()) c.lines = SplitColumns(text);
  c.previewPath.clear();
  return true;
}

HintPlacement PlaceHint(const HintGeometry& g) {
  HintPlacement p;
  p.infoLines = g.infoLines;
  p.stickerLines = g.stickerLines;
  const int lh = std::max(1, g.lineHeight);
  auto height = [&](size_t info, size_t sticker) {
    return static_cast<int>(info + sticker) * lh + g.frame * (sticker ? 2 : 1);
  };
  const int h = height(g.infoLines, g.stickerLines);
  const int below = g.workBottom - g.rowBottom;
  const int above = g.rowTop - g.workTop;
  p.x = std::clamp(g.left, g.workLeft, std::max(g.workLeft, g.workRight - g.width));
  if (g.raise && h <= above) {
    p.y = g.rowTop - h;
    return p;
  }
  if (h <= below) {
    p.y = g.rowBottom;
    return p;
  }
  if (h <= above) {
    p.y = g.rowTop - h;
    return p;
  }
  // Neither way: keep the larger side and drop lines until it fits.
  const bool useBelow = below >= above;
  const int room = useBelow ? below : above;
  while (height(p.infoLines, p.stickerLines) > room) {
    if (p.stickerLines > kMinStickerLines) --p.stickerLines;
    else if (p.infoLines > 1) --p.infoLines;
    else if (p.stickerLines > 1) --p.stickerLines;
    else break;
    p.cut = true;
  }
  const int fitted = height(p.infoLines, p.stickerLines);
  p.y = useBelow ? g.rowBottom : std::max(g.workTop, g.rowTop - fitted);
  return p;
}

void CutHint(HintContent& c, const HintPlacement& p) {
  if (!p.cut) return;
  // The sticker's lines, counted as shown.
  std::vector<std::string> sticker;
  size_t start = 0;
  while (!c.sticker.empty()) {
    const size_t nl = c.sticker.find('\n', start);
    sticker.push_back(c.sticker.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (sticker.size() > p.stickerLines) {
    sticker.resize(p.stickerLines);
    if (!sticker.empty()) sticker.back() += std::string(kCutMark);
    c.sticker.clear();
    for (size_t i = 0; i < sticker.size(); ++i) c.sticker += (i ? "\n" : "") + sticker[i];
  }
  if (c.lines.size() > p.infoLines) {
    c.lines.resize(p.infoLines);
    if (!c.lines.empty()) c.lines.back().text += std::string(kCutMark);
  }
}

}  // namespace px::desk
