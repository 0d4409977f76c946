#include "desk/view_filter.h"

#include "foundation/strings.h"

#include <unordered_set>

namespace px::desk {

using store::DocRecord;
using store::DocRows;

ViewFilter ViewFilterFromIndex(int index) {
  if (index < 0 || index >= kViewFilterCount) return ViewFilter::ShowAll;
  return static_cast<ViewFilter>(index);
}

namespace {

void SetHidden(DocRecord& r, bool hidden) {
  if (hidden)
    r.searchState |= store::rsViewHidden;
  else
    r.searchState &= ~store::rsViewHidden;
}

std::string BundleKey(const DocRecord& r) {
  std::string key = r.folder;
  key += '\0';
  key += SeriesBase(r.msgId);
  return key;
}

}  // namespace

void ApplyViewFilter(DocRows& rows, ViewFilter filter) {
  switch (filter) {
    case ViewFilter::ShowAll:
      for (auto& r : rows) SetHidden(r, false);
      return;
    case ViewFilter::Incoming:
      for (auto& r : rows) SetHidden(r, (r.flags & store::dfReceived) == 0);
      return;
    case ViewFilter::Outgoing:
      for (auto& r : rows) SetHidden(r, (r.flags & store::dfOutgoing) == 0);
      return;
    case ViewFilter::Other:
      for (auto& r : rows) SetHidden(r, store::IsMailFlags(r.flags));
      return;
    case ViewFilter::Pending: {
      // Mail waiting to go out, with the rest of its message; received mail never shows here.
      constexpr int kAttention = store::dfPending;
      std::unordered_set<std::string> bundles;
      for (const auto& r : rows)
        if ((r.flags & kAttention) && !r.msgId.empty()) bundles.insert(BundleKey(r));
      for (auto& r : rows) {
        bool shown = (r.flags & kAttention) != 0;
        if (!shown && !r.msgId.empty() && !bundles.empty()) shown = bundles.count(BundleKey(r)) > 0;
        SetHidden(r, !shown);
      }
      return;
    }
  }
}

const std::vector<std::string>& ViewFilterCaptions() {
  static const std::vector<std::string> captions = {
      "     Show All     ", "     Incoming     ", "     Outgoing     ", "     Pending     ",
      "     Other     "};
  return captions;
}

std::vector<std::string> PadViewFilterCaptions(const std::function<int(const std::string&)>& width) {
  std::vector<std::string> out = ViewFilterCaptions();
  int widest = 0;
  for (int i = 0; i < 4; ++i) widest = std::max(widest, width(out[i]));
  for (int i = 0; i < 4; ++i) {
    bool atEnd = true;
    // Bounded: a blank is at least one pixel wide in any real font.
    for (int guard = 0; guard < 200 && width(out[i]) < widest; ++guard) {
      if (atEnd)
        out[i] += ' ';
      else
        out[i].insert(out[i].begin(), ' ');
      atEnd = !atEnd;
    }
  }
  return out;
}

}  // namespace px::desk
