#include "foundation/strings.h"

#include <algorithm>
#include <charconv>

#include "foundation/text_case.h"
#include "foundation/utf8.h"

namespace px {
namespace {

bool isBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view trimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Strict non-negative decimal number; 0 for anything else (also on overflow).
int toNumber(std::string_view s) {
  if (s.empty() || s.size() > 9) return 0;
  int v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < 0) return 0;
  return v;
}

std::string_view stripDot(std::string_view ext) {
  if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
  return ext;
}

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when invalid.
size_t utf8Char(std::string_view s, size_t i, char32_t& cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  size_t n;
  char32_t min;
  if (c < 0x80) { cp = c; return 1; }
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; min = 0x80; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; min = 0x800; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; min = 0x10000; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

// ---------------------------------------------------------------- comma lists

size_t CommaListContains(std::string_view item, std::string_view list) {
  std::string padded;
  padded.reserve(list.size() + 2);
  padded.append(1, ',').append(list).append(1, ',');
  std::string needle;
  needle.reserve(item.size() + 2);
  needle.append(1, ',').append(item).append(1, ',');
  size_t p = padded.find(needle);
  return p == std::string::npos ? 0 : p + 1;
}

bool CommaListAdd(std::string_view item, std::string& list) {
  if (list.empty()) {
    list = item;
    return !item.empty();
  }
  if (CommaListContains(item, list) != 0) return false;
  list.append(1, ',').append(item);
  return true;
}

bool CommaListRemove(std::string_view item, std::string& list) {
  size_t pos = CommaListContains(item, list);
  if (pos == 0) return false;
  std::string padded = "," + list + ",";
  padded.erase(pos - 1, item.size() + 1);  // ","+item, leaving the following comma
  // padded now starts and ends with the padding commas (or is a lone ",").
  if (padded.size() <= 2) {
    list.clear();
  } else {
    list = padded.substr(1, padded.size() - 2);
  }
  return true;
}

StringList SplitCommaList(std::string_view text) {
  StringList out;
  if (text.empty()) return out;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      if (start < text.size()) out.emplace_back(trimView(text.substr(start)));
      break;
    }
    out.emplace_back(trimView(text.substr(start, comma - start)));
    start = comma + 1;
  }
  return out;
}

// ---------------------------------------------------------------- names and extensions

bool StartsWithText(std::string_view s, std::string_view prefix) {
  if (prefix.empty()) return true;
  if (s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix)) return true;
  // Folding may change byte lengths (e.g. the Kelvin sign), so compare the folded forms.
  bool ascii = std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }) &&
               std::all_of(prefix.begin(), prefix.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return false;
  return FoldCase(s).starts_with(FoldCase(prefix));
}

TagSplit SplitTagPrefix(std::string_view name) {
  if (name.starts_with("$$$")) {
    size_t dot = name.find('.');
    if (dot != std::string_view::npos)
      return {std::string(name.substr(0, dot + 1)), std::string(name.substr(dot + 1))};
  }
  return {std::string(), std::string(name)};
}

bool IsContactExt(std::string_view ext) {
  ext = stripDot(ext);
  return (ext.size() == 1 && ext[0] == kGroupMarkerExt) || SameText(ext, "vcf");
}

bool IsMessageExt(std::string_view ext) {
  ext = stripDot(ext);
  return SameText(ext, "txt") || SameText(ext, "eml");
}

bool StartsWithControl(std::string_view s) {
  return !s.empty() && static_cast<unsigned char>(s[0]) < 0x20;
}

std::string FolderPathOf(std::string_view s) {
  if (s.empty()) return {};
  if (s.back() == '.') s.remove_suffix(1);
  // "." alone would otherwise become "/", the root of the file system.
  if (s.empty()) return {};
  std::string r(s);
  if (r.back() != '/') r += '/';
  return r;
}

std::string SafeFileName(std::string_view s, size_t maxBytes) {
  maxBytes = std::max<size_t>(maxBytes, 2);
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    size_t n = utf8Char(s, i, cp);
    if (n == 0) {  // invalid byte: never leave broken UTF-8 in a file name
      out += '_';
      ++i;
      continue;
    }
    if (cp < 0x20 || (cp >= 0x80 && cp <= 0xBF)) {
      out += '_';
    } else {
      switch (cp) {
        case '!': case '*': case '/': case ':': case '?': case '\\': case '|': out += '_'; break;
        case '"': out += '\''; break;
        case '<': out += '('; break;
        case '>': out += ')'; break;
        default: out.append(s.substr(i, n));
      }
    }
    i += n;
  }
  out = std::string(trimView(out));

  // Cut on a character boundary.
  auto cutTo = [&out](size_t max) {
    if (out.size() <= max) return;
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out = std::string(trimView(out));
  };
  cutTo(maxBytes);
  // Names that would be hidden, special or the program's own files; checked after the cut,
  // which could otherwise leave exactly such a name.
  if (SameText(out, "Plumadex.ini") || SameText(out, "$$.Plumadex") || out.starts_with("$$$")) {
    out.insert(0, 1, '_');
    cutTo(maxBytes);
  }
  if (out.empty()) return "_";
  if (out.front() == '.') out.front() = '_';
  if (out.back() == '.') out.back() = '_';
  return out;
}

std::string SubstituteArgs(std::string_view tmpl, const std::vector<std::string>& args) {
  std::string out;
  out.reserve(tmpl.size());
  const size_t n = args.size();
  for (size_t i = 0; i < tmpl.size(); ++i) {
    char c = tmpl[i];
    if (c != '%' || i + 1 >= tmpl.size() || tmpl[i + 1] < '0' || tmpl[i + 1] > '9') {
      out += c;
      continue;
    }
    // Longest argument number that exists: "%12" is argument 12 only when there are 12.
    size_t len = 0, num = 0;
    size_t v = 0;
    for (size_t k = i + 1; k < tmpl.size() && k <= i + 3 && tmpl[k] >= '0' && tmpl[k] <= '9'; ++k) {
      v = v * 10 + size_t(tmpl[k] - '0');
      if (v >= 1 && v <= n) { len = k - i; num = v; }
    }
    if (len == 0) {
      out += c;
      continue;
    }
    out += args[num - 1];
    i += len;
  }
  return out;
}

std::string ExtractTitleTag(std::string_view html) {
  std::string lower = AsciiLower(html);
  size_t open = lower.find("<title>");
  if (open == std::string::npos) return {};
  open += 7;
  size_t close = lower.find("</title>", open);
  if (close == std::string::npos) return {};
  return std::string(trimView(UpperCase(html.substr(open, close - open))));
}

std::string Trim(std::string_view s) { return std::string(trimView(s)); }

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && isBlank(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string TrimRight(std::string_view s) { return std::string(trimView(s)); }

// ---------------------------------------------------------------- series identifiers

SeriesId ParseSeriesId(std::string_view id) {
  SeriesId r;
  size_t colon = id.find(':');
  if (colon == std::string_view::npos) {
    r.base = std::string(id);
    return r;
  }
  r.base = std::string(id.substr(0, colon));
  std::string_view rest = id.substr(colon + 1);
  size_t slash = rest.find('/');
  if (slash == std::string_view::npos) {
    r.part = toNumber(rest);
  } else {
    r.part = toNumber(rest.substr(0, slash));
    r.count = toNumber(rest.substr(slash + 1));
  }
  return r;
}

std::string SeriesBase(std::string_view id) {
  return std::string(id.substr(0, std::min(id.find(':'), id.size())));
}

std::string FormatSeriesId(std::string_view base, int part, int count) {
  std::string r(base);
  if (part <= 0) return r;
  auto three = [](int v) {
    std::string s = std::to_string(v);
    if (s.size() < 3) s.insert(0, 3 - s.size(), '0');
    return s;
  };
  r += ':' + three(part);
  if (count > 0) r += '/' + three(count);
  return r;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace px
