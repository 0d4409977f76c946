#pragma once
// The five view-filter tabs of the files view: which rows each tab hides.
#include "store/doc_record.h"

#include <functional>
#include <string>
#include <vector>

namespace px::desk {

enum class ViewFilter { ShowAll = 0, Incoming = 1, Outgoing = 2, Pending = 3, Other = 4 };
inline constexpr int kViewFilterCount = 5;

ViewFilter ViewFilterFromIndex(int index);

// Sets or clears the view-hidden row state of every row. The Pending tab shows every pending
// (outgoing, not yet sent) row together with every row of its message bundle (same folder and
// series base), wherever in the listing those rows are.
void ApplyViewFilter(store::DocRows& rows, ViewFilter filter);

// The tab captions as stored (padded with blanks).
const std::vector<std::string>& ViewFilterCaptions();
// The captions padded so the first four are as wide as the widest of them: blanks are added
// alternately at the end and at the start. width measures a caption in pixels.
std::vector<std::string> PadViewFilterCaptions(const std::function<int(const std::string&)>& width);

}  // namespace px::desk
