#pragma once
// IMAP server responses (RFC 3501 and its extensions), read from the bytes of one whole
// response as it came over the wire: literals ("{n}" + CRLF + n bytes) inline. Parsing is
// bounded: nesting, item counts and sizes are capped, and anything malformed is an error,
// never a crash or a guess.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace px::transport::imap {

// One value of a response: an atom (NIL apart), a string (quoted or literal), NIL, or a
// parenthesised list.
struct Value {
  enum class Type { Atom, String, Nil, List };
  Type type = Type::Atom;
  std::string text;          // atom or string content
  std::vector<Value> list;   // for lists

  bool IsAtom(std::string_view name) const;  // an atom of that name, compared without case
  // Atoms and strings as text; NIL as "".
  std::string_view Str() const { return text; }
};

struct Response {
  enum class Kind { Untagged, Tagged, Continuation };
  Kind kind = Kind::Untagged;
  std::string tag;            // for tagged responses
  std::optional<int64_t> number;  // "* 12 EXISTS": 12
  std::string name;           // upper-case: OK NO BAD BYE PREAUTH, EXISTS FETCH CAPABILITY ...
  // The response code of a status response, without its brackets: its name upper-case and
  // its argument as given ("UIDVALIDITY", "3857529045").
  std::string code, codeArg;
  std::vector<Value> values;  // the data of a data response (FETCH: one list)
  std::string text;           // the human-readable text of a status or continuation response

  bool IsStatus() const;      // OK, NO, BAD, BYE or PREAUTH
};

// Limits on what one response may hold.
inline constexpr int kMaxDepth = 16;
inline constexpr size_t kMaxItems = 200000;

// Parses one whole response (with its final line end). Returns nullopt with *error on
// malformed input.
std::optional<Response> ParseResponse(std::string_view bytes, std::string* error = nullptr);

// The size of the literal announced at the end of `line` ("... {123}\r\n" or "{123+}"), or -1.
int64_t TrailingLiteral(std::string_view line);

// Looks up an item of a FETCH response by name ("UID", "RFC822.SIZE", "BODY[]"): the value
// that follows it, or nullptr.
const Value* FetchItem(const Value& list, std::string_view name);
// A number of a value ("123"); nullopt when it is none.
std::optional<int64_t> NumberOf(const Value& v);

// Encodes a string argument of a command as an atom, a quoted string, or (for 8-bit text or
// line breaks) nullopt: the caller sends it as a literal.
std::optional<std::string> QuoteArgument(std::string_view s);

// "1:5,7,9:12" for sorted, unique UIDs.
std::string SequenceSet(const std::vector<uint32_t>& uids, size_t from = 0, size_t count = SIZE_MAX);

// A mailbox name in modified UTF-7 (RFC 3501 5.1.3) from UTF-8.
std::string EncodeMailboxName(std::string_view utf8);

}  // namespace px::transport::imap
