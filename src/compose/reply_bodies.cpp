#include "compose/reply_bodies.h"

#include "foundation/address.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"

#include <QList>
#include <QString>

#include <algorithm>

namespace px::compose {

namespace {

using mailformat::HtmlEscape;

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i], b = prefix[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return true;
}

// Wrapping counts characters, not bytes.
std::u32string U32(std::string_view s) {
  const QList<uint> ucs = QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).toUcs4();
  return std::u32string(ucs.begin(), ucs.end());
}
std::string U8(const std::u32string& s) {
  return QString::fromUcs4(s.data(), static_cast<qsizetype>(s.size())).toStdString();
}
bool IsBlank(char32_t c) { return c == U' ' || c == U'\t'; }
std::u32string TrimU32(const std::u32string& s) {
  size_t a = 0, b = s.size();
  while (a < b && s[a] <= 0x20) ++a;
  while (b > a && s[b - 1] <= 0x20) --b;
  return s.substr(a, b - a);
}
std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

std::string FontOpen(const TemplateFont& font) {
  return "<FONT face=\"" + font.name + "\" point-size=" + std::to_string(font.size) + " color=black>";
}

constexpr std::string_view kBlockquote =
    "<BLOCKQUOTE style=\"PADDING-RIGHT: 0px; PADDING-LEFT: 5px; MARGIN-LEFT: 5px; "
    "BORDER-LEFT: #000000 2px solid; MARGIN-RIGHT: 0px\">";

// Position just after the opening <BODY ...> tag, or npos.
size_t BodyContentStart(std::string_view html) {
  for (size_t i = 0; (i = html.find('<', i)) != std::string_view::npos; ++i) {
    if (StartsNoCase(html.substr(i), "<body") &&
        (i + 5 >= html.size() || html[i + 5] == '>' || html[i + 5] <= ' ')) {
      const size_t close = html.find('>', i);
      return close == std::string_view::npos ? std::string_view::npos : close + 1;
    }
  }
  return std::string_view::npos;
}
size_t BodyContentEnd(std::string_view html, size_t from) {
  size_t found = std::string_view::npos;
  for (size_t i = from; (i = html.find('<', i)) != std::string_view::npos; ++i)
    if (StartsNoCase(html.substr(i), "</body")) found = i;
  return found;
}

}  // namespace

std::string ReplySubject(std::string_view subject) {
  // Views, not copies: a subject of a million markers is read once.
  std::string_view rest = TrimView(subject);
  long count = 0;
  for (;;) {
    if (!StartsNoCase(rest, "RE")) break;
    std::string_view after = rest.substr(2);
    if (!after.empty() && after[0] == ':') {
      ++count;
      rest = TrimView(after.substr(1));
      continue;
    }
    if (!after.empty() && after[0] == '[') {
      const size_t close = after.find(']');
      if (close == std::string_view::npos) break;
      const std::string_view digits = after.substr(1, close - 1);
      long n = 0;
      const bool number = !digits.empty() && digits.size() <= 6 &&
                          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (number) n = std::stol(std::string(digits));
      count += n;
      after = after.substr(close + 1);
      if (!after.empty() && after[0] == ':') after = after.substr(1);
      rest = TrimView(after);
      continue;
    }
    break;
  }
  if (count == 0) return "Re: " + std::string(rest);
  return "Re[" + std::to_string(count + 1) + "]: " + std::string(rest);
}

std::string ForwardSubject(std::string_view subject) {
  std::string s = Trim(subject);
  if (StartsNoCase(s, "FW:")) s = Trim(std::string_view(s).substr(3));
  if (StartsNoCase(s, "FWD:")) return s;
  return "Fwd: " + s;
}

Recipients ReplyRecipients(std::string_view sender, std::string_view toList, std::string_view ccList,
                           std::string_view ownAddress, std::string_view ownServiceId, bool all,
                           const StringList& otherOwn) {
  // The user's addresses as compared: bare, lower-case, service users without the service domain.
  auto key = [](std::string_view entry) { return LowerCase(StripServiceDomain(BareAddressOf(entry))); };
  StringList own;
  for (std::string_view a : {ownAddress, ownServiceId})
    if (std::string k = key(a); !k.empty()) own.push_back(k);
  for (const std::string& a : otherOwn)
    if (std::string k = key(a); !k.empty()) own.push_back(k);
  auto isOwn = [&](const std::string& e) { return std::find(own.begin(), own.end(), key(e)) != own.end(); };

  Recipients r;
  r.to = Trim(sender);
  if (all) {
    const StringList tos = ParseAddressList(toList);
    const bool toMeAlone = tos.size() == 1 && isOwn(tos[0]);
    if (!toMeAlone && !tos.empty()) r.to = r.to.empty() ? JoinAddressList(tos) : r.to + ", " + JoinAddressList(tos);
    r.cc = Trim(ccList);
  }
  StringList to = ParseAddressList(r.to);
  if (to.size() > 1) {
    std::erase_if(to, isOwn);
    // Answering one's own message to others: the others remain; to oneself alone: oneself.
    if (to.empty()) to = ParseAddressList(Trim(sender));
  }
  // Each address once.
  StringList seen;
  std::erase_if(to, [&](const std::string& e) {
    const std::string k = key(e);
    if (std::find(seen.begin(), seen.end(), k) != seen.end()) return true;
    seen.push_back(k);
    return false;
  });
  StringList cc = ParseAddressList(r.cc);
  std::erase_if(cc, [&](const std::string& e) {
    if (isOwn(e)) return true;
    const std::string k = key(e);
    if (std::find(seen.begin(), seen.end(), k) != seen.end()) return true;
    seen.push_back(k);
    return false;
  });
  r.to = JoinAddressList(to);
  r.cc = JoinAddressList(cc);
  return r;
}

namespace {
constexpr size_t kMaxReferences = 20;
// The "<...@...>" ids of a value, in order.
StringList MessageIds(std::string_view value) {
  StringList ids;
  size_t i = 0;
  while ((i = value.find('<', i)) != std::string_view::npos) {
    const size_t close = value.find('>', i + 1);
    if (close == std::string_view::npos) break;
    const std::string_view inner = value.substr(i + 1, close - i - 1);
    const bool usable = !inner.empty() && inner.size() < 250 && inner.find('@') != std::string_view::npos &&
                        std::all_of(inner.begin(), inner.end(), [](char c) {
                          const auto u = static_cast<unsigned char>(c);
                          return u > 0x20 && u < 0x7f && c != '<';
                        });
    if (usable) ids.push_back("<" + std::string(inner) + ">");
    i = close + 1;
  }
  return ids;
}
}  // namespace

ThreadHeaders ReplyThreadHeaders(std::string_view messageId, std::string_view references) {
  ThreadHeaders h;
  const StringList id = MessageIds(messageId);
  if (id.empty()) return h;
  h.inReplyTo = id.front();
  StringList refs = MessageIds(references);
  std::erase(refs, h.inReplyTo);
  refs.push_back(h.inReplyTo);
  if (refs.size() > kMaxReferences) refs.erase(refs.begin(), refs.end() - static_cast<long>(kMaxReferences));
  for (const std::string& r : refs) h.references += (h.references.empty() ? "" : " ") + r;
  return h;
}

StringList QuoteAndWrap(const StringList& lines, bool quote, size_t width) {
  // Every line keeps room for text: a quote prefix wider than that is read as text (a long
  // word ending in ">" is no quote), so each piece cut off shortens what is left and the work
  // stays linear in the input.
  width = std::max<size_t>(width, 8);
  const size_t maxPrefix = width - std::min<size_t>(20, width / 2);
  StringList out;
  std::u32string held, heldPrefix;
  bool hasHeld = false;
  for (const std::string& raw : lines) {
    const std::u32string line = TrimU32(U32(raw));
    std::u32string prefix, text = line;
    if (quote) {
      const size_t gt = line.find(U'>');
      bool quoted = gt != std::u32string::npos;
      for (size_t i = 0; quoted && i < gt; ++i)
        if (IsBlank(line[i]) || line[i] == U'<') quoted = false;
      if (quoted) {
        size_t end = gt;
        while (end < line.size() && line[end] == U'>') ++end;
        if (end + 2 <= maxPrefix) {
          prefix = line.substr(0, end);
          text = TrimU32(line.substr(end));
        }
      }
      prefix += U"> ";
    }
    // The line being cut is prefix + body[p..].
    std::u32string body;
    if (hasHeld) {
      if (text.empty() || (quote && heldPrefix != prefix)) {
        out.push_back(U8(held));
        body = text;
      } else {
        body = held.substr(heldPrefix.size()) + U" " + text;
      }
      hasHeld = false;
    } else {
      body = text;
    }
    const size_t plen = prefix.size();
    size_t lastBlank = std::u32string::npos;
    for (size_t i = body.size(); i-- > 0;)
      if (IsBlank(body[i])) {
        lastBlank = i;
        break;
      }
    size_t rulesFrom = body.size();  // body[rulesFrom..] is all "="
    while (rulesFrom > 0 && body[rulesFrom - 1] == U'=') --rulesFrom;
    size_t p = 0;
    bool broke = false;
    bool done = false;
    while (plen + (body.size() - p) > width) {
      const size_t shown = plen + (body.size() - p);
      size_t brk = std::u32string::npos;  // within prefix + body[p..]
      for (size_t i = std::min(shown, width + 1); i-- > 0;)
        if (IsBlank(i < plen ? prefix[i] : body[p + i - plen])) {
          brk = i;
          break;
        }
      size_t next;
      if (brk != std::u32string::npos && brk > plen) {
        out.push_back(U8(prefix + body.substr(p, brk - plen)));
        next = p + (brk - plen) + 1;
      } else {
        // The text after the last blank of the line (the prefix ends in one when quoting).
        const size_t tail = lastBlank != std::u32string::npos && lastBlank >= p ? lastBlank + 1 : p;
        const bool rule = tail < body.size() && tail >= rulesFrom;
        out.push_back(U8(prefix + body.substr(p, width - plen)));
        next = rule ? body.size() : p + (width - plen);
      }
      while (next < body.size() && IsBlank(body[next])) ++next;
      p = next;
      broke = true;
      if (p >= body.size()) {
        done = true;
        break;
      }
    }
    if (done) continue;
    std::u32string cur = prefix + body.substr(p);
    if (broke) {
      held = std::move(cur);
      heldPrefix = prefix;
      hasHeld = true;
    } else {
      out.push_back(U8(cur));
    }
  }
  if (hasHeld) out.push_back(U8(held));
  return out;
}

HeaderLine SplitHeaderLine(std::string_view line) {
  HeaderLine h;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    h.value = std::string(line);
    return h;
  }
  h.label = std::string(line.substr(0, colon + 1));
  h.value = std::string(line.substr(colon + 1));
  return h;
}

bool IsBccHeaderLine(std::string_view line) { return StartsNoCase(Trim(line), "Bcc:"); }

std::string HeaderBlockHtml(const StringList& headerLines) {
  std::string out;
  for (const std::string& line : headerLines) {
    if (IsBccHeaderLine(line)) continue;
    const HeaderLine h = SplitHeaderLine(line);
    out += "<B><I>" + h.label + "</I></B>&nbsp;" + HtmlEscape(Trim(h.value)) + "<BR>";
  }
  return out;
}

std::string Signature::PlainBlock() const { return plain.empty() ? std::string() : "\r\n" + plain + "\r\n"; }

std::string Signature::HtmlBlock() const {
  return html.empty() ? std::string() : "<DIV>&nbsp;</DIV><DIV>" + html + "</DIV>";
}

Signature MakeSignature(const StringList& lines) {
  Signature sig;
  StringList body = lines;
  DropTrailingEmptyLines(body);
  if (body.empty()) return sig;
  bool lastWasRule = true;  // nothing joins in front of the first line
  for (size_t i = 0; i < body.size(); ++i) {
    const std::string& line = body[i];
    const std::string t = Trim(line);
    const bool rule = !t.empty() && (t[0] == '-' || t[0] == '=' || t[0] == '_') &&
                      std::all_of(t.begin(), t.end(), [&](char c) { return c == t[0]; });
    if (i > 0) sig.plain += "\r\n";
    if (rule) {
      sig.plain += std::string(kWrapWidth, t[0]);
      sig.html += "<HR>";
    } else {
      sig.plain += line;
      if (!lastWasRule) sig.html += "<BR>";
      sig.html += HtmlEscape(line);
    }
    lastWasRule = rule;
  }
  return sig;
}

void DropTrailingEmptyLines(StringList& lines) {
  while (!lines.empty() && Trim(lines.back()).empty()) lines.pop_back();
}

StringList PlainReplyLines(const StringList& headerLines, const StringList& text, const Signature& sig) {
  StringList all = headerLines;
  all.insert(all.end(), text.begin(), text.end());
  DropTrailingEmptyLines(all);
  const StringList quoted = QuoteAndWrap(all, true);
  return SplitLines("\r\n" + sig.PlainBlock() + "\r\n" + JoinLines(quoted));
}

StringList PlainForwardLines(const StringList& headerLines, const StringList& text, const Signature& sig) {
  StringList body = text;
  DropTrailingEmptyLines(body);
  const std::string rule(kWrapWidth, '=');
  std::string head = "\r\n" + sig.PlainBlock() + "\r\n" + rule + "\r\n" + JoinLines(headerLines);
  StringList out = SplitLines(head);
  out.insert(out.end(), body.begin(), body.end());
  out.push_back(rule);
  return out;
}

std::string HtmlReplyToText(const StringList& headerLines, const StringList& text, std::string_view charset,
                            const TemplateFont& font, const Signature& sig) {
  std::string html = "<HTML><HEAD><META http-equiv=Content-Type content=\"text/html; charset=" + std::string(charset) +
                     "\"></HEAD><BODY>" + FontOpen(font) + "<DIV>&nbsp;</DIV>" + sig.HtmlBlock() + "<DIV>&nbsp;</DIV>";
  html += "\r\n";
  html += kBlockquote;
  html += "\r\n<HR>" + HeaderBlockHtml(headerLines) + "<HR><DIV>&nbsp;</DIV>\r\n";
  for (size_t i = 0; i < text.size(); ++i) html += (i ? "<BR>" : "") + HtmlEscape(text[i]);
  html += "\r\n</FONT></BLOCKQUOTE></BODY></HTML>";
  return html;
}

BodyWrap HtmlReplyWrap(const StringList& headerLines, const TemplateFont& font, const Signature& sig) {
  BodyWrap w;
  w.before = FontOpen(font) + "<DIV>&nbsp;</DIV>" + sig.HtmlBlock() + "<DIV>&nbsp;</DIV>" + std::string(kBlockquote) +
             "<HR>" + HeaderBlockHtml(headerLines) + "<HR><DIV>&nbsp;</DIV>";
  w.after = "</FONT></BLOCKQUOTE>";
  return w;
}

std::string HtmlForwardOfText(const StringList& text, std::string_view charset) {
  std::string html = "<HTML><HEAD><META http-equiv=Content-Type content=\"text/html; charset=" + std::string(charset) +
                     "\"></HEAD><BODY>";
  for (const std::string& line : text) html += "<DIV>" + (line.empty() ? std::string("&nbsp;") : HtmlEscape(line)) + "</DIV>\r\n";
  html += "<HR></FONT></BODY></HTML>";
  return html;
}

std::string HtmlForwardHeader(const StringList& headerLines, const TemplateFont& font, const Signature& sig) {
  return FontOpen(font) + "<DIV>&nbsp;</DIV>" + sig.HtmlBlock() + "<DIV>&nbsp;</DIV><DIV><HR>" +
         HeaderBlockHtml(headerLines) + "<HR>&nbsp;</DIV></FONT>";
}

std::string HtmlNewMessage(const TemplateFont& font, const Signature& sig) {
  return "<HTML><HEAD></HEAD><BODY>" + FontOpen(font) + "<DIV>&nbsp;</DIV>" + sig.HtmlBlock() + "</FONT></BODY></HTML>";
}

std::string HtmlOfTextDocument(const StringList& text, const TemplateFont& font, const Signature& sig) {
  std::string html = "<HTML><HEAD></HEAD><BODY>" + FontOpen(font);
  for (const std::string& line : text) html += "<DIV>" + HtmlEscape(line) + "</DIV>";
  html += "<DIV>&nbsp;</DIV>" + sig.HtmlBlock() + "</FONT></BODY></HTML>";
  return html;
}

std::string WrapBodyContent(std::string_view html, std::string_view before, std::string_view after) {
  const size_t start = BodyContentStart(html);
  if (start == std::string_view::npos)
    return std::string(before) + std::string(html) + std::string(after);
  size_t end = BodyContentEnd(html, start);
  if (end == std::string_view::npos) end = html.size();
  std::string out(html.substr(0, start));
  out += before;
  out += html.substr(start, end - start);
  out += after;
  out += html.substr(end);
  return out;
}

StringList SplitLines(std::string_view text) {
  StringList out;
  std::string cur;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      out.push_back(cur);
      cur.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

std::string JoinLines(const StringList& lines, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += separator;
    out += lines[i];
  }
  return out;
}

}  // namespace px::compose
