#pragma once
// The part descriptor (".$$1"): one message part's header data on its way from a mail source to
// the filer. Six positional lines, then tagged lines; CR LF line ends.
//
// Charset rule. The text of lines 1 (recipients), 2 (sender) and 4 (name) and of the "To:",
// "CC:" and "Reply-To:" lines is in the charset that the descriptor's "Charset:" line names.
// A descriptor without a "Charset:" line has that text in UTF-8; bytes that are not valid UTF-8
// there are in the default charset (windows-1252: 8-bit headers of mail that declares nothing).
// The splitter writes it so:
//  - a text part (and a message kept whole) keeps its own charset on the "Charset:" line, and
//    its name and addresses are written in that charset;
//  - a named part that is not text (a picture, a PDF) gets no "Charset:" line, and its name
//    and addresses are written in UTF-8.
// Whoever files a descriptor converts once, at its edge: the file name is made from
// DescriptorTextToUtf8(line 4, charset); the index keeps `Title` and the addresses as written,
// with `Charset` = the "Charset:" value, or, when there is none, in UTF-8 (converted with the
// same function) and without a `Charset` key.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/types.h"

namespace px::mailformat {

// Kinds (line 3) that are markers, not extensions.
inline constexpr std::string_view kReceiptKind = "$$$r";       // delivery receipt
inline constexpr std::string_view kFolderMarkerKind = "$$$_";  // creates the "_Folder" folder

struct PartDescriptor {
  std::string to;       // line 1: recipients
  std::string from;     // line 2: sender
  std::string kind;     // line 3: content file extension without the dot, or a marker
  std::string name;     // line 4: file name or subject
  std::string sticker;  // line 5: note text
  std::vector<std::string> tagged;  // lines 7 on, as written

  void AddTag(std::string_view tag, std::string_view value);  // tag + value, one line
  void AddLine(std::string_view line);
};

// The file's bytes: every line made one line (CR, LF and NUL become blanks), CR LF after each.
std::string FormatPartDescriptor(const PartDescriptor& d);
// Tolerant: missing lines are empty, LF or CR LF line ends, empty trailing lines dropped.
PartDescriptor ParsePartDescriptor(std::string_view bytes);

// The tagged lines as the filer reads them: each line is tested against the tags in a fixed
// order and the first match wins; other lines are ignored.
struct DescriptorTags {
  DateTime time = 0;  // from "X-DATE-RECEIVED:" (UTC, converted to local) or "_AOL Date:"
  // Index keys in the order of their lines: "Sent", "To", "Cc", "Bcc", "Charset", "Account",
  // "MsgID", "Message-ID" (the Internet message id, "<...>"), "References" (the ids of the
  // messages before it in its thread, blank-separated), "Content-ID" (of a part an HTML body
  // shows by "cid:", without angle brackets).
  std::vector<std::pair<std::string, std::string>> keys;
  bool outbound = false, draft = false, read = false, encrypted = false;
  bool hasFolder = false;
  std::string folder;  // as written; see SafeFolderValue() before using it as a path
  std::string Key(std::string_view name) const;  // last value of a key, "" when absent
};
DescriptorTags ReadDescriptorTags(const PartDescriptor& d);

// Descriptor text (lines 1, 2, 4, the address lines) in UTF-8, by the charset rule above;
// `charset` is the value of the descriptor's "Charset:" line ("" when it has none).
std::string DescriptorTextToUtf8(std::string_view text, std::string_view charset);

// A kind is a marker kind ("$$$" + anything). Only the program's own unpacker writes those.
bool IsMarkerKind(std::string_view kind);

}  // namespace px::mailformat
