#include "foundation/strings.h"

namespace px {

size_t CommaListContains(std::string_view, std::string_view) { return 0; }
bool CommaListAdd(std::string_view, std::string&) { return false; }
bool CommaListRemove(std::string_view, std::string&) { return false; }
StringList SplitCommaList(std::string_view) { return {}; }
bool StartsWithText(std::string_view, std::string_view) { return false; }
TagSplit SplitTagPrefix(std::string_view s) { return {"", std::string(s)}; }
bool IsContactExt(std::string_view) { return false; }
bool IsMessageExt(std::string_view) { return false; }
bool StartsWithControl(std::string_view) { return false; }
std::string FolderPathOf(std::string_view s) { return std::string(s); }
std::string SafeFileName(std::string_view s) { return std::string(s); }
std::string SubstituteArgs(std::string_view t, const std::vector<std::string>&) { return std::string(t); }
std::string ExtractTitleTag(std::string_view) { return {}; }
std::string Trim(std::string_view s) { return std::string(s); }
std::string TrimLeft(std::string_view s) { return std::string(s); }
std::string TrimRight(std::string_view s) { return std::string(s); }
SeriesId ParseSeriesId(std::string_view) { return {}; }
std::string SeriesBase(std::string_view s) { return std::string(s); }
std::string FormatSeriesId(std::string_view b, int, int) { return std::string(b); }

}  // namespace px
