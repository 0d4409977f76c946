#pragma once
// Header-line helpers shared by the spool splitter and the MHTML reader.
#include <string>
#include <string_view>

namespace px::mailformat {

// Removes bytes <= 0x20 at both ends.
std::string_view TrimView(std::string_view s);
std::string_view TrimRightView(std::string_view s);

// The header line starts with `name` (any case) and the rest, trimmed, starts with ":".
bool HeaderNameMatches(std::string_view line, std::string_view name);

// The value of a header whose name has been cut off (`rest` still holds the ":"): tabs become
// blanks, encoded words are decoded (their charset goes to *wordCharset when given), runs of
// blanks collapse, the ":" is removed and the result is trimmed.
std::string CleanHeaderValue(std::string_view rest, std::string* wordCharset);

// A parameter of a header value ("boundary=", "charset=", "name=" ...). The parameter text is
// searched case-free anywhere in the value (so "name=" is also found in "filename="); a quoted
// value runs to the next double quote, otherwise to the next ";". With an empty `param` the main
// value (before the first ";") is returned.
std::string HeaderParam(std::string_view value, std::string_view param);

// CR, LF and NUL become blanks: a value written as one line of a stored file.
std::string OneLine(std::string_view s);

// The bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view s);

// Case-free ASCII prefix test.
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

}  // namespace px::mailformat
