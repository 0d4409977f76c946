#include "mailformat/html_refs.h"

#include "mailformat/codecs.h"

namespace px::mailformat {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

size_t FindNoCase(std::string_view hay, std::string_view lowerNeedle, size_t from) {
  for (size_t i = from; i + lowerNeedle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < lowerNeedle.size() && Lower(hay[i + k]) == lowerNeedle[k]) ++k;
    if (k == lowerNeedle.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string RewriteHtmlReferences(
    std::string_view html,
    const std::function<std::optional<std::string>(HtmlRefKind, const std::string&)>& replace) {
  std::string out;
  out.reserve(html.size() + 256);
  size_t pos = 0, n = html.size();
  while (pos < n) {
    size_t lt = html.find('<', pos);
    if (lt == std::string_view::npos) break;
    if (html.compare(lt, 4, "<!--") == 0) {
      size_t end = html.find("-->", lt + 4);
      size_t stop = end == std::string_view::npos ? n : end + 3;
      out.append(html.substr(pos, stop - pos));
      pos = stop;
      continue;
    }
    size_t nameBegin = lt + 1, nameEnd = nameBegin;
    while (nameEnd < n && !IsSpace(html[nameEnd]) && html[nameEnd] != '>' && html[nameEnd] != '/') ++nameEnd;
    std::string_view name = html.substr(nameBegin, nameEnd - nameBegin);
    if (EqualsNoCase(name, "script") || EqualsNoCase(name, "style")) {
      std::string endTag = "</" + std::string(name.size() == 6 ? "script" : "style");
      size_t end = FindNoCase(html, endTag, nameEnd);
      size_t stop = end == std::string_view::npos ? n : end;
      out.append(html.substr(pos, stop - pos));
      pos = stop;
      continue;
    }
    std::optional<HtmlRefKind> kind;
    std::string_view wanted;
    if (EqualsNoCase(name, "img")) {
      kind = HtmlRefKind::ImageSource;
      wanted = "src";
    } else if (EqualsNoCase(name, "body")) {
      kind = HtmlRefKind::BodyBackground;
      wanted = "background";
    } else if (EqualsNoCase(name, "link")) {
      kind = HtmlRefKind::StyleSheet;
      wanted = "href";
    }
    // Walk the attributes up to the end of the tag.
    size_t i = nameEnd;
    out.append(html.substr(pos, i - pos));
    pos = i;
    bool isStyleSheetLink = false;
    struct Hit { size_t begin, end; std::string value; };
    std::optional<Hit> hit;
    while (i < n && html[i] != '>') {
      if (IsSpace(html[i]) || html[i] == '/') {
        ++i;
        continue;
      }
      size_t attrBegin = i;
      while (i < n && !IsSpace(html[i]) && html[i] != '=' && html[i] != '>') ++i;
      std::string_view attr = html.substr(attrBegin, i - attrBegin);
      size_t j = i;
      while (j < n && IsSpace(html[j])) ++j;
      if (j >= n || html[j] != '=') continue;
      ++j;
      while (j < n && IsSpace(html[j])) ++j;
      size_t valueBegin = j, valueEnd;
      std::string_view value;
      if (j < n && (html[j] == '"' || html[j] == '\'')) {
        char q = html[j];
        size_t close = html.find(q, j + 1);
        valueEnd = close == std::string_view::npos ? n : close + 1;
        value = html.substr(j + 1, (close == std::string_view::npos ? n : close) - j - 1);
      } else {
        while (j < n && !IsSpace(html[j]) && html[j] != '>') ++j;
        valueEnd = j;
        value = html.substr(valueBegin, valueEnd - valueBegin);
      }
      if (kind && EqualsNoCase(attr, wanted) && !hit) hit = Hit{valueBegin, valueEnd, HtmlUnescape(value)};
      if (kind == HtmlRefKind::StyleSheet && EqualsNoCase(attr, "rel") && FindNoCase(value, "stylesheet", 0) != std::string_view::npos)
        isStyleSheetLink = true;
      i = valueEnd;
    }
    size_t tagEnd = i < n ? i + 1 : n;
    if (hit && (kind != HtmlRefKind::StyleSheet || isStyleSheetLink)) {
      if (auto repl = replace(*kind, hit->value)) {
        out.append(html.substr(pos, hit->begin - pos));
        out += '"';
        out += HtmlEscape(*repl);
        out += '"';
        pos = hit->end;
      }
    }
    out.append(html.substr(pos, tagEnd - pos));
    pos = tagEnd;
  }
  if (pos < n) out.append(html.substr(pos));
  return out;
}

}  // namespace px::mailformat
