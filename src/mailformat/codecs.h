#pragma once
// Text codecs shared by the mail readers and writers, the compose window and the transfer code:
// URL, XML and HTML escapes, a tolerant HTML-to-text converter, base64, quoted-printable and
// uuencode, and the decoder of encoded words in mail headers.
//
// Everything works on byte strings in whatever charset the text has. The functions are pure;
// the decoder classes carry the state of one body across the chunks it is fed in, so a large
// body is decoded in one pass without being held twice.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace px::mailformat {

// ---- URLs -------------------------------------------------------------------------------------

// Keeps RFC 2396 unreserved characters, turns every other byte into "%XX" (upper-case hex).
std::string UrlEncode(std::string_view text);
// "%XX" becomes the byte; a "%" without two hex digits after it is kept literally.
std::string UrlDecode(std::string_view text);
// Escapes a file path (without its extension) for a "file:///" address; the caller adds the prefix.
std::string FileUrlPath(std::string_view path);
// A text beginning "file:" loses that prefix and the slashes after it; other texts are unchanged.
std::string FileUrlToPath(std::string_view text);
// Every "/" becomes "\" (reference keys of embedded resources).
std::string SlashesToBackslashes(std::string_view text);

// ---- XML and HTML -----------------------------------------------------------------------------

std::string XmlEscape(std::string_view text);
std::string HtmlEscape(std::string_view text);
// Resolves "&nbsp;" (a blank), "&lt;", "&gt;", "&amp;", "&quot;", the other common named
// references ("&eacute;", "&euro;" ...) and decimal "&#N;" references in one pass (never twice:
// "&amp;lt;" gives "&lt;"). A referenced character is written in `charset`
// (the text's charset; empty means the local code page, UTF-8); one that is malformed or cannot be
// written in that charset becomes "_". An "&#" without ";" is kept as it stands.
std::string HtmlUnescape(std::string_view text, std::string_view charset = {});

struct HtmlTextResult {
  std::vector<std::string> lines;  // plain-text lines, entity references resolved
  std::string charset;             // from a META charset declaration, else empty
  bool rich = false;               // the HTML uses tables, images, scripts, frames, forms ...
};
// Plain text of HTML given as lines (a tolerant converter, not a full parser). `charset` is the
// charset the HTML is known to have, used for numeric references until a META tag names one.
HtmlTextResult HtmlToText(const std::vector<std::string>& htmlLines, std::string_view charset = {});
// Same, for HTML given as one text (split at CR LF / LF).
HtmlTextResult HtmlToText(std::string_view html, std::string_view charset = {});

// ---- base64 -----------------------------------------------------------------------------------

// Standard base64 (RFC 2045 alphabet, "=" padding) without line breaks.
std::string Base64Encode(std::string_view bytes);
// Base64 as lines of 76 characters (the last one may be shorter); no line for empty input.
std::vector<std::string> Base64EncodeLines(std::string_view bytes);
// Base64 as one text: lines of 76 characters joined with CR LF (no CR LF after the last line).
std::string Base64Lines(std::string_view bytes);
// Decodes one self-contained piece of base64; characters outside the alphabet are ignored.
std::string Base64DecodeLine(std::string_view text);

// Decodes a base64 body fed in chunks of any size (lines need not hold a multiple of four
// characters: leftovers are carried into the next chunk). Characters outside the alphabet are
// skipped; "=" ends a group early, after which decoding carries on with the next group.
class Base64Decoder {
public:
  // Appends the bytes decoded from `chunk` to `out`.
  void Feed(std::string_view chunk, std::string& out);
  // Flushes a trailing incomplete group (the end of the body).
  void Finish(std::string& out);
  void Reset();

private:
  unsigned quad_ = 0;   // accumulated 6-bit values of the current group
  int count_ = 0;       // characters in the current group (0..3)
};

// Encodes a stream of bytes as base64 lines of 76 characters, each ending in CR LF.
class Base64Encoder {
public:
  void Feed(std::string_view bytes, std::string& out);
  // Writes the last (padded) group and ends an unfinished line with CR LF.
  void Finish(std::string& out);

private:
  void EmitQuad(const unsigned char* in, std::string& out);
  unsigned char pending_[3] = {0, 0, 0};
  int pendingCount_ = 0;
  int column_ = 0;
};

// ---- quoted-printable ---------------------------------------------------------------------------

// "=XX" (hex digits of either case) becomes the byte; any other "=" stays unchanged. Soft line
// breaks must have been joined by the caller.
std::string QPDecodeLine(std::string_view text);
// RFC 2045 quoted-printable of one line (no line break in `line`): "=", control characters and
// bytes above 126 are escaped, a blank or tab at the end is escaped, and lines longer than 76
// characters are broken with soft line breaks ("=" CR LF).
std::string QPEncodeLine(std::string_view line);

// Decodes a quoted-printable body fed in chunks of any size. Soft line breaks ("=" before the end
// of a line, also with blanks between) are removed even when they straddle two chunks; hard line
// breaks (CR LF or LF) are written as `lineBreak`.
class QPDecoder {
public:
  explicit QPDecoder(std::string_view lineBreak = "\r\n") : lineBreak_(lineBreak) {}
  void Feed(std::string_view chunk, std::string& out);
  void Finish(std::string& out);
  void Reset();

private:
  bool Pending(char c, std::string& out);
  void Flush(std::string& out);
  std::string lineBreak_;
  std::string pending_;  // an unfinished escape or soft break held back until more input arrives
  bool pendingCR_ = false;
};

// ---- uuencode ---------------------------------------------------------------------------------

// Decodes one uuencoded line: the first character gives the byte count (at most 63); characters
// missing at the end of the line count as blanks (some mailers strip them). Reads only the line.
std::string UUDecodeLine(std::string_view line);

// Decodes a uuencoded body fed in chunks of any size: lines before "begin" are skipped, data lines
// are decoded up to a line " ", "`" or "end"; the rest is skipped.
class UUDecoder {
public:
  void Feed(std::string_view chunk, std::string& out);
  void Finish(std::string& out);
  void Reset();
  bool SawBegin() const { return state_ != State::BeforeBegin; }

private:
  void Line(std::string_view line, std::string& out);
  enum class State { BeforeBegin, Data, Done };
  State state_ = State::BeforeBegin;
  std::string partial_;  // a line not yet ended by LF
};

// ---- encoded words (RFC 2047) -------------------------------------------------------------------

// Decodes the encoded words ("=?charset?B|Q?text?=") of a header value. The white space between
// two adjacent encoded words is dropped; decoded text is never scanned again. When every encoded
// word names the same charset the result is in that charset (the raw text around them is taken to
// be ASCII); when they name different charsets all of them are converted to UTF-8 and "UTF-8" is
// reported. `charset` (when given) receives the charset of the result's encoded words, or is left
// unchanged when the value holds none.
std::string DecodeEncodedWords(std::string_view value, std::string* charset = nullptr);

}  // namespace px::mailformat
