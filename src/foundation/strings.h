#pragma once
// Small text helpers: comma lists, tag prefixes of index section names, extension tests,
// file-name cleaning, message templates and message-series identifiers.
// All text is UTF-8 bytes; every function accepts empty input.
#include <string>
#include <string_view>
#include <vector>

#include "foundation/types.h"

namespace px {

// Comma lists ("a,b,c"), compared exactly (case-sensitive).
// 1-based position of ","+item+"," inside ","+list+","; 0 when absent.
size_t CommaListContains(std::string_view item, std::string_view list);
// list becomes item when empty, else gets ","+item appended unless already contained.
// Returns true when the list changed.
bool CommaListAdd(std::string_view item, std::string& list);
// Removes the item together with one neighbouring comma. Returns true when it was there.
bool CommaListRemove(std::string_view item, std::string& list);
// Trimmed pieces; empty pieces between two commas are kept, a trailing comma adds nothing.
StringList SplitCommaList(std::string_view text);

// Case-insensitive prefix test (Unicode case folding).
bool StartsWithText(std::string_view s, std::string_view prefix);

// Index section names may carry a tag prefix: "$$$" ... up to and including the first ".".
struct TagSplit {
  std::string prefix;  // "" when the name has no tag prefix
  std::string rest;
};
TagSplit SplitTagPrefix(std::string_view sectionName);

// The grid's marker extensions.
inline constexpr char kGroupMarkerExt = '\x12';
inline constexpr char kFolderMarkerExt = '\x11';
// ext is the group marker (0x12) or "vcf" in any case.
bool IsContactExt(std::string_view ext);
// ext is "txt" or "eml" in any case.
bool IsMessageExt(std::string_view ext);
// s is not empty and its first byte is below 0x20.
bool StartsWithControl(std::string_view s);

// Folder path form: empty stays empty, a trailing "." is dropped, a trailing "/" is ensured.
std::string FolderPathOf(std::string_view s);

// A file name made from a title: never empty, never ".", "..", never starting or ending with
// ".", never a reserved name (index file, "$$$..." or "$$.Plumadex"), never invalid UTF-8,
// at most maxBytes bytes (callers that add " (n)" or an extension pass what is left of 255).
// See strings.cpp for the character mapping.
std::string SafeFileName(std::string_view s, size_t maxBytes = 255);

// Replaces "%1" ... "%n" by args[0] ... args[n-1] in one pass over the template; inserted
// arguments are never scanned again. "%" not followed by a valid argument number stays.
std::string SubstituteArgs(std::string_view tmpl, const std::vector<std::string>& args);

// Text between "<TITLE>" and "</TITLE>" (tags in any case), upper-cased and trimmed;
// "" when there is no title.
std::string ExtractTitleTag(std::string_view html);

// Removes bytes <= 0x20 (blanks, tabs, CR, LF, other controls) at both ends.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
// Trim, then trailing tabs, line feeds, carriage returns and blanks removed (so: same as Trim).
std::string TrimRight(std::string_view s);

// Message-series identifier: base [":" part ["/" count]], part and count as three digits.
struct SeriesId {
  std::string base;
  int part = 0;   // 0 when absent or not a number
  int count = 0;  // 0 when absent or not a number
};
SeriesId ParseSeriesId(std::string_view id);
// The text before the first ":" (the whole id when there is none).
std::string SeriesBase(std::string_view id);
// base + ":" + ddd [+ "/" + ddd when count > 0]; base alone when part <= 0.
std::string FormatSeriesId(std::string_view base, int part, int count = 0);

}  // namespace px
