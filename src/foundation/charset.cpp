#include "foundation/charset.h"

namespace px {

const std::vector<CharsetRow>& CharsetRows() { static const std::vector<CharsetRow> rows; return rows; }
int CharsetIndex(std::string_view) { return -1; }
int CodePageOfCharset(std::string_view) { return 0; }
std::string CharsetNameOfCodePage(int) { return {}; }
std::string DefaultCharsetName() { return "windows-1252"; }
bool IsUnicodeCharset(std::string_view) { return false; }
std::string DecodeFromCharset(std::string_view t, std::string_view) { return std::string(t); }
std::string EncodeToCharset(std::string_view t, std::string_view) { return std::string(t); }
std::string DecodeFromCodePage(std::string_view t, int) { return std::string(t); }
std::string EncodeToCodePage(std::string_view t, int) { return std::string(t); }
int DetectCodePage(std::string_view) { return 0; }
std::u16string ToWide(std::string_view, std::string_view) { return {}; }
std::string FromWide(std::u16string_view, std::string_view) { return {}; }

}  // namespace px
