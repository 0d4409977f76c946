#pragma once
// The part descriptor (".$$1"): one message part's header data on its way from a mail source to
// the filer. Six positional lines, then tagged lines; CR LF line ends.
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
  // "MsgID".
  std::vector<std::pair<std::string, std::string>> keys;
  bool outbound = false, draft = false, read = false, encrypted = false;
  bool hasFolder = false;
  std::string folder;  // as written; see SafeFolderValue() before using it as a path
  std::string Key(std::string_view name) const;  // last value of a key, "" when absent
};
DescriptorTags ReadDescriptorTags(const PartDescriptor& d);

// A kind is a marker kind ("$$$" + anything). Only the program's own unpacker writes those.
bool IsMarkerKind(std::string_view kind);

}  // namespace px::mailformat
