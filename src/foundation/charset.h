#pragma once
// The charset service. A table of charsets known by Windows code page numbers and web names,
// so that "Charset" values and "CHARSET:" lines written by any version keep their meaning;
// conversion and detection through ICU. The local code page is UTF-8 (65001).
//
// Charset names are matched without regard to case and through ICU's aliases ("latin1",
// "cp1252", "x-sjis" ...). A charset nobody knows leaves text unchanged.
#include <string>
#include <string_view>
#include <vector>

namespace px {

inline constexpr int kCodePageUtf16LE = 1200;
inline constexpr int kCodePageUtf16BE = 1201;
inline constexpr int kCodePageDefault = 1252;  // the default charset's code page
inline constexpr int kCodePageUtf8 = 65001;    // the local code page

struct CharsetRow {
  int codePage = 0;          // Windows code page number
  int familyCodePage = 0;    // Windows family (display) code page
  std::string description;   // "Western European (Windows)"
  std::string webCharset;    // "windows-1252"
  std::string headerCharset; // name used in mail headers
  std::string bodyCharset;   // name used in mail bodies
};

// All rows, sorted by description (case-insensitive); built once, immutable.
const std::vector<CharsetRow>& CharsetRows();
// Index into CharsetRows() of the charset's row, or -1.
int CharsetIndex(std::string_view name);
// Code page of a charset name (0 when unknown) and the web name of a code page ("" when
// unknown).
int CodePageOfCharset(std::string_view name);
std::string CharsetNameOfCodePage(int codePage);
// The web charset of code page 1252: "windows-1252".
std::string DefaultCharsetName();
// The charset is UTF-16 (code page 1200 or 1201).
bool IsUnicodeCharset(std::string_view name);

// text in the charset -> UTF-8. Unchanged when the charset is unknown or UTF-8; bytes that
// do not decode become U+FFFD.
std::string DecodeFromCharset(std::string_view text, std::string_view charset);
// UTF-8 -> text in the charset. Unchanged when the charset is unknown or UTF-8; characters
// the charset lacks become its substitution character.
std::string EncodeToCharset(std::string_view utf8, std::string_view charset);
// The same by code page number.
std::string DecodeFromCodePage(std::string_view text, int codePage);
std::string EncodeToCodePage(std::string_view utf8, int codePage);

// The code page of the text when detection is confident (above 20 of 100); else 0.
int DetectCodePage(std::string_view text);

// UTF-16 forms. ToWide reads text in the charset (UTF-8 when the charset is unknown);
// FromWide writes it (UTF-8 when unknown).
std::u16string ToWide(std::string_view text, std::string_view charset = {});
std::string FromWide(std::u16string_view wide, std::string_view charset = {});

}  // namespace px
