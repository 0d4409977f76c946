#include "foundation/charset.h"

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <memory>

#include "foundation/text_case.h"

namespace px {
namespace {

// Code pages the program has always offered, with the names it wrote into stored files, and
// the ICU converter that reads each. 936 and 949 read as their Windows supersets, as mail
// labelled gb2312 or euc-kr is in practice.
struct KnownCharset {
  int codePage;
  int family;
  const char* description;
  const char* web;
  const char* header;
  const char* body;
  const char* icu;
};

constexpr KnownCharset kKnown[] = {
    {1200, 1200, "Unicode", "unicode", "utf-16", "utf-16", "UTF-16LE"},
    {1201, 1200, "Unicode (Big-Endian)", "unicodeFFFE", "unicodeFFFE", "unicodeFFFE", "UTF-16BE"},
    {65000, 1200, "Unicode (UTF-7)", "utf-7", "utf-7", "utf-7", "UTF-7"},
    {65001, 1200, "Unicode (UTF-8)", "utf-8", "utf-8", "utf-8", "UTF-8"},
    {20127, 1252, "US-ASCII", "us-ascii", "us-ascii", "us-ascii", "US-ASCII"},
    {1252, 1252, "Western European (Windows)", "Windows-1252", "iso-8859-1", "iso-8859-1", "windows-1252"},
    {28591, 1252, "Western European (ISO)", "iso-8859-1", "iso-8859-1", "iso-8859-1", "ISO-8859-1"},
    {28605, 1252, "Latin 9 (ISO)", "iso-8859-15", "iso-8859-15", "iso-8859-15", "ISO-8859-15"},
    {850, 1252, "Western European (DOS)", "ibm850", "ibm850", "ibm850", "ibm-850"},
    {10000, 1252, "Western European (Mac)", "macintosh", "macintosh", "macintosh", "macintosh"},
    {1250, 1250, "Central European (Windows)", "windows-1250", "windows-1250", "windows-1250", "windows-1250"},
    {28592, 1250, "Central European (ISO)", "iso-8859-2", "iso-8859-2", "iso-8859-2", "ISO-8859-2"},
    {852, 1250, "Central European (DOS)", "ibm852", "ibm852", "ibm852", "ibm-852"},
    {1251, 1251, "Cyrillic (Windows)", "windows-1251", "windows-1251", "windows-1251", "windows-1251"},
    {28595, 1251, "Cyrillic (ISO)", "iso-8859-5", "iso-8859-5", "iso-8859-5", "ISO-8859-5"},
    {20866, 1251, "Cyrillic (KOI8-R)", "koi8-r", "koi8-r", "koi8-r", "KOI8-R"},
    {21866, 1251, "Cyrillic (KOI8-U)", "koi8-u", "koi8-u", "koi8-u", "KOI8-U"},
    {866, 1251, "Cyrillic (DOS)", "cp866", "cp866", "cp866", "ibm-866"},
    {1253, 1253, "Greek (Windows)", "windows-1253", "windows-1253", "windows-1253", "windows-1253"},
    {28597, 1253, "Greek (ISO)", "iso-8859-7", "iso-8859-7", "iso-8859-7", "ISO-8859-7"},
    {1254, 1254, "Turkish (Windows)", "windows-1254", "iso-8859-9", "iso-8859-9", "windows-1254"},
    {28599, 1254, "Turkish (ISO)", "iso-8859-9", "iso-8859-9", "iso-8859-9", "ISO-8859-9"},
    {28593, 1254, "Latin 3 (ISO)", "iso-8859-3", "iso-8859-3", "iso-8859-3", "ISO-8859-3"},
    {1255, 1255, "Hebrew (Windows)", "windows-1255", "windows-1255", "windows-1255", "windows-1255"},
    {28598, 1255, "Hebrew (ISO-Visual)", "iso-8859-8", "iso-8859-8", "iso-8859-8", "ISO-8859-8"},
    {38598, 1255, "Hebrew (ISO-Logical)", "iso-8859-8-i", "iso-8859-8-i", "iso-8859-8-i", "ISO-8859-8-I"},
    {1256, 1256, "Arabic (Windows)", "windows-1256", "windows-1256", "windows-1256", "windows-1256"},
    {28596, 1256, "Arabic (ISO)", "iso-8859-6", "iso-8859-6", "iso-8859-6", "ISO-8859-6"},
    {1257, 1257, "Baltic (Windows)", "windows-1257", "windows-1257", "windows-1257", "windows-1257"},
    {28594, 1257, "Baltic (ISO)", "iso-8859-4", "iso-8859-4", "iso-8859-4", "ISO-8859-4"},
    {28603, 1257, "Estonian (ISO)", "iso-8859-13", "iso-8859-13", "iso-8859-13", "ISO-8859-13"},
    {1258, 1258, "Vietnamese (Windows)", "windows-1258", "windows-1258", "windows-1258", "windows-1258"},
    {874, 874, "Thai (Windows)", "windows-874", "windows-874", "windows-874", "windows-874"},
    {932, 932, "Japanese (Shift-JIS)", "shift_jis", "iso-2022-jp", "iso-2022-jp", "windows-31j"},
    {50220, 932, "Japanese (JIS)", "iso-2022-jp", "iso-2022-jp", "iso-2022-jp", "ISO-2022-JP"},
    {51932, 932, "Japanese (EUC)", "euc-jp", "euc-jp", "euc-jp", "EUC-JP"},
    {936, 936, "Chinese Simplified (GB2312)", "gb2312", "gb2312", "gb2312", "windows-936"},
    {54936, 936, "Chinese Simplified (GB18030)", "GB18030", "GB18030", "GB18030", "GB18030"},
    {52936, 936, "Chinese Simplified (HZ)", "hz-gb-2312", "hz-gb-2312", "hz-gb-2312", "HZ-GB-2312"},
    {950, 950, "Chinese Traditional (Big5)", "big5", "big5", "big5", "windows-950"},
    {949, 949, "Korean", "ks_c_5601-1987", "ks_c_5601-1987", "ks_c_5601-1987", "windows-949"},
    {51949, 949, "Korean (EUC)", "euc-kr", "euc-kr", "euc-kr", "windows-949"},
    {50225, 949, "Korean (ISO)", "iso-2022-kr", "iso-2022-kr", "iso-2022-kr", "ISO-2022-KR"},
};

struct ConverterDeleter {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterDeleter>;

Converter openConverter(const char* name) {
  UErrorCode err = U_ZERO_ERROR;
  Converter c(ucnv_open(name, &err));
  if (U_FAILURE(err)) c.reset();
  return c;
}

// ICU's internal name of a converter name or alias; "" when ICU does not know it.
std::string icuInternalName(std::string_view name) {
  if (name.empty() || name.size() > 64) return {};
  std::string n(name);
  UErrorCode err = U_ZERO_ERROR;
  const char* canon = ucnv_getAlias(n.c_str(), 0, &err);
  if (U_FAILURE(err) || !canon) return {};
  return canon;
}

struct Table {
  std::vector<CharsetRow> rows;     // sorted by description
  std::vector<std::string> icu;     // converter name per row
  std::vector<std::string> icuKey;  // ICU internal name per row
};

const Table& table() {
  static const Table t = [] {
    Table tb;
    std::vector<size_t> order;
    for (size_t i = 0; i < std::size(kKnown); ++i)
      if (openConverter(kKnown[i].icu)) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [](size_t a, size_t b) {
      return CompareText(kKnown[a].description, kKnown[b].description) < 0;
    });
    for (size_t i : order) {
      const KnownCharset& k = kKnown[i];
      tb.rows.push_back({k.codePage, k.family, k.description, k.web, k.header, k.body});
      tb.icu.push_back(k.icu);
      tb.icuKey.push_back(icuInternalName(k.icu));
    }
    return tb;
  }();
  return t;
}

int rowOfCodePage(int codePage) {
  const Table& t = table();
  for (size_t i = 0; i < t.rows.size(); ++i)
    if (t.rows[i].codePage == codePage) return int(i);
  return -1;
}

// "1252", "cp1252", "windows-1252", "x-cp1252" -> 1252; 0 otherwise.
int codePageNumberIn(std::string_view name) {
  std::string n = AsciiLower(name);
  for (std::string_view p : {"windows-", "x-cp", "cp"})
    if (n.starts_with(p)) {
      n.erase(0, p.size());
      break;
    }
  if (n.empty() || n.size() > 5) return 0;
  int v = 0;
  for (char c : n) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The ICU converter name for a charset: the table's, else ICU's own alias; "" when unknown.
std::string converterFor(std::string_view charset) {
  int i = CharsetIndex(charset);
  if (i >= 0) return table().icu[size_t(i)];
  return icuInternalName(charset);
}

std::string converterForCodePage(int codePage) {
  int i = rowOfCodePage(codePage);
  return i >= 0 ? table().icu[size_t(i)] : std::string();
}

bool isUtf8Converter(const std::string& conv) { return icuInternalName(conv) == "UTF-8"; }

std::u16string toUnicode(std::string_view text, const std::string& conv) {
  if (text.empty()) return {};
  Converter c = openConverter(conv.c_str());
  if (!c) return {};
  std::u16string out(text.size() * 2 + 16, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(c.get(), reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                            text.data(), int32_t(text.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(size_t(n) + 1, u'\0');
    err = U_ZERO_ERROR;
    ucnv_reset(c.get());
    n = ucnv_toUChars(c.get(), reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                      text.data(), int32_t(text.size()), &err);
  }
  if (U_FAILURE(err)) return {};
  out.resize(size_t(n));
  return out;
}

std::string fromUnicode(std::u16string_view wide, const std::string& conv) {
  if (wide.empty()) return {};
  Converter c = openConverter(conv.c_str());
  if (!c) return {};
  // A visible "?" rather than the invisible control some charsets substitute.
  if (ucnv_getMinCharSize(c.get()) == 1 && !ucnv_isAmbiguous(c.get())) {
    UErrorCode serr = U_ZERO_ERROR;
    ucnv_setSubstChars(c.get(), "?", 1, &serr);
  }
  std::string out(wide.size() * 4 + 16, '\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(c.get(), out.data(), int32_t(out.size()),
                              reinterpret_cast<const UChar*>(wide.data()), int32_t(wide.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(size_t(n) + 1, '\0');
    err = U_ZERO_ERROR;
    ucnv_reset(c.get());
    n = ucnv_fromUChars(c.get(), out.data(), int32_t(out.size()),
                        reinterpret_cast<const UChar*>(wide.data()), int32_t(wide.size()), &err);
  }
  if (U_FAILURE(err)) return {};
  out.resize(size_t(n));
  return out;
}

std::u16string utf8ToUtf16(std::string_view s) {
  if (s.empty()) return {};
  std::u16string out(s.size() + 1, u'\0');
  int32_t n = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(out.data()), int32_t(out.size()), &n, s.data(),
                       int32_t(s.size()), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err)) return {};
  out.resize(size_t(n));
  return out;
}

std::string utf16ToUtf8(std::u16string_view w) {
  if (w.empty()) return {};
  std::string out(w.size() * 3 + 1, '\0');
  int32_t n = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), int32_t(out.size()), &n, reinterpret_cast<const UChar*>(w.data()),
                     int32_t(w.size()), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err)) return {};
  out.resize(size_t(n));
  return out;
}

std::string decodeWith(std::string_view text, const std::string& conv) {
  if (text.empty() || conv.empty() || isUtf8Converter(conv)) return std::string(text);
  std::u16string wide = toUnicode(text, conv);
  if (wide.empty()) return std::string(text);
  return utf16ToUtf8(wide);
}

std::string encodeWith(std::string_view utf8, const std::string& conv) {
  if (utf8.empty() || conv.empty() || isUtf8Converter(conv)) return std::string(utf8);
  std::u16string wide = utf8ToUtf16(utf8);
  std::string out = fromUnicode(wide, conv);
  return out.empty() && !wide.empty() ? std::string(utf8) : out;
}

}  // namespace

const std::vector<CharsetRow>& CharsetRows() { return table().rows; }

int CharsetIndex(std::string_view name) {
  std::string_view n = name;
  while (!n.empty() && (n.front() == ' ' || n.front() == '"')) n.remove_prefix(1);
  while (!n.empty() && (n.back() == ' ' || n.back() == '"')) n.remove_suffix(1);
  if (n.empty()) return -1;
  const Table& t = table();
  for (size_t i = 0; i < t.rows.size(); ++i)
    if (SameText(t.rows[i].webCharset, n)) return int(i);
  for (size_t i = 0; i < t.rows.size(); ++i)
    if (SameText(t.rows[i].headerCharset, n) || SameText(t.rows[i].bodyCharset, n)) return int(i);
  if (int cp = codePageNumberIn(n)) {
    int i = rowOfCodePage(cp);
    if (i >= 0) return i;
  }
  std::string key = icuInternalName(n);
  if (!key.empty()) {
    for (size_t i = 0; i < t.rows.size(); ++i)
      if (t.icuKey[i] == key) return int(i);
  }
  return -1;
}

int CodePageOfCharset(std::string_view name) {
  int i = CharsetIndex(name);
  return i >= 0 ? table().rows[size_t(i)].codePage : 0;
}

std::string CharsetNameOfCodePage(int codePage) {
  int i = rowOfCodePage(codePage);
  return i >= 0 ? table().rows[size_t(i)].webCharset : std::string();
}

std::string DefaultCharsetName() {
  std::string n = CharsetNameOfCodePage(kCodePageDefault);
  return n.empty() ? "Windows-1252" : n;
}

bool IsUnicodeCharset(std::string_view name) {
  int cp = CodePageOfCharset(name);
  return cp == kCodePageUtf16LE || cp == kCodePageUtf16BE;
}

std::string DecodeFromCharset(std::string_view text, std::string_view charset) {
  return decodeWith(text, converterFor(charset));
}

std::string EncodeToCharset(std::string_view utf8, std::string_view charset) {
  return encodeWith(utf8, converterFor(charset));
}

std::string DecodeFromCodePage(std::string_view text, int codePage) {
  return decodeWith(text, converterForCodePage(codePage));
}

std::string EncodeToCodePage(std::string_view utf8, int codePage) {
  return encodeWith(utf8, converterForCodePage(codePage));
}

int DetectCodePage(std::string_view text) {
  if (text.empty()) return 0;
  UErrorCode err = U_ZERO_ERROR;
  UCharsetDetector* det = ucsdet_open(&err);
  if (U_FAILURE(err)) return 0;
  std::unique_ptr<UCharsetDetector, void (*)(UCharsetDetector*)> guard(det, ucsdet_close);
  size_t len = std::min<size_t>(text.size(), 1 << 20);  // a megabyte tells enough
  ucsdet_setText(det, text.data(), int32_t(len), &err);
  const UCharsetMatch* m = ucsdet_detect(det, &err);
  if (U_FAILURE(err) || !m) return 0;
  int32_t confidence = ucsdet_getConfidence(m, &err);
  const char* name = ucsdet_getName(m, &err);
  if (U_FAILURE(err) || !name || confidence <= 20) return 0;
  return CodePageOfCharset(name);
}

std::u16string ToWide(std::string_view text, std::string_view charset) {
  std::string conv = converterFor(charset);
  if (!conv.empty() && !isUtf8Converter(conv)) {
    std::u16string w = toUnicode(text, conv);
    if (!w.empty() || text.empty()) return w;
  }
  return utf8ToUtf16(text);
}

std::string FromWide(std::u16string_view wide, std::string_view charset) {
  std::string conv = converterFor(charset);
  if (!conv.empty() && !isUtf8Converter(conv)) {
    std::string s = fromUnicode(wide, conv);
    if (!s.empty() || wide.empty()) return s;
  }
  return utf16ToUtf8(wide);
}

}  // namespace px
