// Entity references and the tolerant HTML-to-text converter.
#include <algorithm>
#include <cstdint>

#include "foundation/charset.h"
#include "foundation/utf8.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"

namespace px::mailformat {

namespace {

bool IsUtf8Name(std::string_view charset) {
  return charset.empty() || SameText(charset, "utf-8") || SameText(charset, "utf8") ||
         CodePageOfCharset(charset) == kCodePageUtf8;
}

// The character `cp` written in `charset`, or "_" when the charset cannot hold it. Taking the
// low byte instead would put an unrelated character into the text.
void AppendCodePoint(std::string& out, uint32_t cp, std::string_view charset) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    out += '_';
    return;
  }
  if (cp < 0x80) {
    out += static_cast<char>(cp);
    return;
  }
  std::string utf8;
  AppendUtf8(utf8, cp);
  if (IsUtf8Name(charset)) {
    out += utf8;
    return;
  }
  if (CodePageOfCharset(charset) == 0 && CharsetIndex(charset) < 0) {
    out += '_';  // a charset nobody knows: its bytes cannot be told
    return;
  }
  std::string enc = EncodeToCharset(utf8, charset);
  if (enc.empty() || enc == utf8 || DecodeFromCharset(enc, charset) != utf8) {
    out += '_';
    return;
  }
  out += enc;
}

bool StartsAt(std::string_view s, size_t pos, std::string_view what) {
  return s.size() - pos >= what.size() && s.compare(pos, what.size(), what) == 0;
}

// Named character references besides the five above (HTML 4 Latin-1 and the common
// punctuation), sorted by name for a binary search.
constexpr std::pair<std::string_view, uint32_t> kEntities[] = {
    {"AElig", 198}, {"Aacute", 193}, {"Acirc", 194}, {"Agrave", 192}, {"Aring", 197},
    {"Atilde", 195}, {"Auml", 196}, {"Ccedil", 199}, {"Dagger", 8225}, {"ETH", 208},
    {"Eacute", 201}, {"Ecirc", 202}, {"Egrave", 200}, {"Euml", 203}, {"Iacute", 205},
    {"Icirc", 206}, {"Igrave", 204}, {"Iuml", 207}, {"Ntilde", 209}, {"OElig", 338},
    {"Oacute", 211}, {"Ocirc", 212}, {"Ograve", 210}, {"Oslash", 216}, {"Otilde", 213},
    {"Ouml", 214}, {"Scaron", 352}, {"THORN", 222}, {"Uacute", 218}, {"Ucirc", 219},
    {"Ugrave", 217}, {"Uuml", 220}, {"Yacute", 221}, {"Yuml", 376}, {"aacute", 225}, {"acirc", 226},
    {"acute", 180}, {"aelig", 230}, {"agrave", 224}, {"apos", 39}, {"aring", 229}, {"atilde", 227},
    {"auml", 228}, {"bdquo", 8222}, {"brvbar", 166}, {"bull", 8226}, {"ccedil", 231},
    {"cedil", 184}, {"cent", 162}, {"circ", 710}, {"copy", 169}, {"curren", 164}, {"dagger", 8224},
    {"deg", 176}, {"divide", 247}, {"eacute", 233}, {"ecirc", 234}, {"egrave", 232}, {"emsp", 8195},
    {"ensp", 8194}, {"eth", 240}, {"euml", 235}, {"euro", 8364}, {"fnof", 402}, {"frac12", 189},
    {"frac14", 188}, {"frac34", 190}, {"hellip", 8230}, {"iacute", 237}, {"icirc", 238},
    {"iexcl", 161}, {"igrave", 236}, {"iquest", 191}, {"iuml", 239}, {"laquo", 171},
    {"ldquo", 8220}, {"lrm", 8206}, {"lsaquo", 8249}, {"lsquo", 8216}, {"macr", 175},
    {"mdash", 8212}, {"micro", 181}, {"middot", 183}, {"ndash", 8211}, {"not", 172},
    {"ntilde", 241}, {"oacute", 243}, {"ocirc", 244}, {"oelig", 339}, {"ograve", 242},
    {"ordf", 170}, {"ordm", 186}, {"oslash", 248}, {"otilde", 245}, {"ouml", 246}, {"para", 182},
    {"permil", 8240}, {"plusmn", 177}, {"pound", 163}, {"raquo", 187}, {"rdquo", 8221},
    {"reg", 174}, {"rlm", 8207}, {"rsaquo", 8250}, {"rsquo", 8217}, {"sbquo", 8218},
    {"scaron", 353}, {"sect", 167}, {"shy", 173}, {"sup1", 185}, {"sup2", 178}, {"sup3", 179},
    {"szlig", 223}, {"thinsp", 8201}, {"thorn", 254}, {"tilde", 732}, {"times", 215},
    {"trade", 8482}, {"uacute", 250}, {"ucirc", 251}, {"ugrave", 249}, {"uml", 168}, {"uuml", 252},
    {"yacute", 253}, {"yen", 165}, {"yuml", 255}, {"zwj", 8205}, {"zwnj", 8204},
};

uint32_t NamedEntity(std::string_view name) {
  auto it = std::lower_bound(std::begin(kEntities), std::end(kEntities), name,
                             [](const auto& e, std::string_view n) { return e.first < n; });
  return it != std::end(kEntities) && it->first == name ? it->second : 0;
}

// A numeric reference longer than this, or one holding blanks or markup, is ordinary text.
constexpr size_t kMaxReference = 10;

}  // namespace

std::string HtmlUnescape(std::string_view text, std::string_view charset) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0, n = text.size();
  while (i < n) {
    size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, amp - i));
    i = amp;
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"&nbsp;", ' '}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}};
    bool done = false;
    for (const auto& [name, ch] : kNamed) {
      if (StartsAt(text, i, name)) {
        out += ch;
        i += name.size();
        done = true;
        break;
      }
    }
    if (done) continue;
    if (StartsAt(text, i, "&#")) {
      size_t start = i + 2;
      size_t limit = std::min(n, start + kMaxReference + 1);
      size_t semi = start;
      while (semi < limit && text[semi] != ';' && text[semi] != '&' && text[semi] != '<' &&
             static_cast<unsigned char>(text[semi]) > ' ')
        ++semi;
      if (semi < limit && text[semi] == ';') {
        std::string_view body = text.substr(start, semi - start);
        bool decimal = !body.empty() && std::all_of(body.begin(), body.end(), [](char c) {
          return c >= '0' && c <= '9';
        });
        if (decimal) {
          uint32_t cp = 0;
          for (char c : body) {
            cp = cp * 10 + static_cast<uint32_t>(c - '0');
            if (cp > 0x10FFFF) break;
          }
          AppendCodePoint(out, cp, charset);
        } else {
          out += '_';
        }
        i = semi + 1;
        continue;
      }
    }
    // Other named references ("&eacute;"): letters and digits, then ";".
    size_t end = i + 1, limit = std::min(n, i + 1 + kMaxReference);
    while (end < limit && ((text[end] >= 'a' && text[end] <= 'z') || (text[end] >= 'A' && text[end] <= 'Z') ||
                           (text[end] >= '0' && text[end] <= '9')))
      ++end;
    if (end < n && text[end] == ';' && end > i + 1) {
      if (uint32_t cp = NamedEntity(text.substr(i + 1, end - i - 1))) {
        AppendCodePoint(out, cp, charset);
        i = end + 1;
        continue;
      }
    }
    out += '&';
    ++i;
  }
  return out;
}

namespace {

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

size_t FindNoCase(std::string_view hay, std::string_view upperNeedle, size_t from) {
  if (upperNeedle.empty() || hay.size() < upperNeedle.size()) return std::string_view::npos;
  for (size_t i = from; i + upperNeedle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < upperNeedle.size()) {
      char c = hay[i + k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (c != upperNeedle[k]) break;
      ++k;
    }
    if (k == upperNeedle.size()) return i;
  }
  return std::string_view::npos;
}

class HtmlTextWriter {
public:
  explicit HtmlTextWriter(std::string_view charset) : knownCharset_(charset) {}

  void Line(std::string_view raw);
  HtmlTextResult Finish() {
    Flush(true);
    return std::move(result_);
  }

private:
  void Flush(bool skipEmpty) {
    bool empty = std::all_of(paragraph_.begin(), paragraph_.end(),
                             [](char c) { return static_cast<unsigned char>(c) <= ' '; });
    if (!(empty && skipEmpty)) {
      std::string_view cs = result_.charset.empty() ? std::string_view(knownCharset_) : result_.charset;
      result_.lines.push_back(HtmlUnescape(paragraph_, cs));
    }
    paragraph_.clear();
  }
  void AddText(std::string_view text) {
    if (inBody_ && !inComment_) paragraph_.append(text);
  }
  void Tag(std::string_view name, std::string_view restOfLine);

  std::string knownCharset_;
  HtmlTextResult result_;
  std::string paragraph_;
  bool inTag_ = false;
  bool inBody_ = true;
  bool inComment_ = false;
  std::string rawEnd_;  // "</SCRIPT" or "</STYLE" while inside one
};

void HtmlTextWriter::Tag(std::string_view name, std::string_view restOfLine) {
  if (!result_.rich && IsOneOf(name, {"IMG", "FRAME", "APPLET", "SCRIPT", "MAP", "AREA", "MULTICOL",
                                      "TABLE", "COL", "TR", "TD", "EMBED", "OBJECT", "INPUT", "MENU"}))
    result_.rich = true;
  if (name == "/BODY") {
    Flush(true);
    result_.lines.emplace_back();
    inBody_ = false;
  } else if (name == "HEAD") {
    Flush(true);
    inBody_ = false;
  } else if (name == "/HEAD") {
    paragraph_.clear();
    inBody_ = true;
  } else if (name == "META") {
    std::string lower = AsciiLower(restOfLine);
    size_t at = lower.find("charset=");
    if (at != std::string::npos) {
      size_t v = at + 8;
      if (v < restOfLine.size() && (restOfLine[v] == '"' || restOfLine[v] == '\'')) ++v;
      size_t end = v;
      while (end < lower.size() && std::string_view("\t \"';>/").find(lower[end]) == std::string_view::npos) ++end;
      if (end > v) result_.charset = lower.substr(v, end - v);
    }
  } else if (name == "COMMENT") {
    inComment_ = true;
  } else if (name == "/COMMENT") {
    inComment_ = false;
  } else if (name == "STYLE" || name == "SCRIPT") {
    // Style sheets and scripts are not text, and their "<" are not tags: skip to the end tag.
    rawEnd_ = "</" + std::string(name);
  } else if (name == "/TD") {
    if (inBody_) paragraph_ += '\t';
  } else if (inBody_ && IsOneOf(name, {"BR", "BUTTON", "CAPTION", "DIV", "FN", "FORM", "FRAME", "H1",
                                        "H2", "H3", "H4", "H5", "H6", "HR", "LI", "P", "PLAINTEXT",
                                        "PRE", "TR"})) {
    if (name == "P") Flush(true);
    // Later block tags yield blank lines; only leading ones are swallowed.
    Flush(result_.lines.empty());
  }
}

void HtmlTextWriter::Line(std::string_view raw) {
  std::string joined;
  if (raw.find('\r') != std::string_view::npos || raw.find('\n') != std::string_view::npos) {
    joined.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == ' ' && StartsAt(raw, i, " \r\n")) {
        joined += ' ';
        i += 2;
      } else if (StartsAt(raw, i, "\r\n")) {
        joined += ' ';
        i += 1;
      } else {
        joined += raw[i];
      }
    }
    raw = joined;
  }
  size_t pos = 0;
  if (inTag_) {
    size_t gt = raw.find('>');
    if (gt == std::string_view::npos) return;
    inTag_ = false;
    pos = gt + 1;
  }
  if (!paragraph_.empty() && paragraph_.back() != ' ') paragraph_ += ' ';
  while (pos < raw.size()) {
    if (!rawEnd_.empty()) {
      size_t end = FindNoCase(raw, rawEnd_, pos);
      if (end == std::string_view::npos) return;
      rawEnd_.clear();
      pos = end;
    }
    size_t lt = raw.find('<', pos);
    if (lt == std::string_view::npos) break;
    AddText(raw.substr(pos, lt - pos));
    size_t nameEnd = lt + 1;
    while (nameEnd < raw.size() && raw[nameEnd] != ' ' && raw[nameEnd] != '>' && raw[nameEnd] != '\t' &&
           raw[nameEnd] != '\r' && raw[nameEnd] != '\n')
      ++nameEnd;
    std::string name = AsciiUpper(raw.substr(lt + 1, nameEnd - lt - 1));
    if (name.size() > 1 && name.back() == '/') name.pop_back();  // <BR/>
    Tag(name, raw.substr(lt));
    size_t gt = raw.find('>', nameEnd);
    if (gt == std::string_view::npos) {
      inTag_ = true;
      return;
    }
    pos = gt + 1;
  }
  if (pos < raw.size()) AddText(raw.substr(pos));
}

}  // namespace

HtmlTextResult HtmlToText(const std::vector<std::string>& htmlLines, std::string_view charset) {
  HtmlTextWriter w(charset);
  for (const auto& line : htmlLines) w.Line(line);
  return w.Finish();
}

HtmlTextResult HtmlToText(std::string_view html, std::string_view charset) {
  HtmlTextWriter w(charset);
  size_t start = 0;
  while (start <= html.size()) {
    size_t lf = html.find('\n', start);
    size_t end = lf == std::string_view::npos ? html.size() : lf;
    std::string_view line = html.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (lf == std::string_view::npos) {
      if (!line.empty()) w.Line(line);
      break;
    }
    w.Line(line);
    start = lf + 1;
  }
  return w.Finish();
}

}  // namespace px::mailformat
