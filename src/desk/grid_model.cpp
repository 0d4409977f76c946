#include "desk/grid_model.h"

#include "foundation/address.h"
#include "foundation/dates.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"
#include "store/doc_sort.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace px::desk {

using store::DocRecord;
using store::DocRows;

namespace {
constexpr int kGroupBits = store::rsHasChildren | store::rsChild | store::rsCollapsedChild;
constexpr int kAttention = store::dfUnread | store::dfPending;

int Code(int sorting) { return sorting < 0 ? -sorting : sorting; }
}  // namespace

bool GroupsBundles(const GridOptions& o) {
  const int code = Code(store::NormalizeSorting(o.sorting));
  if (o.tab == GridTab::Contacts) return code == 4;
  if (o.tab != GridTab::Files || o.searchActive) return false;
  return code == 1 || code == 2 || code == 6;
}

void GroupBundles(DocRows& rows, const GridOptions& o, std::vector<int32_t>* parentOut) {
  if (parentOut) parentOut->assign(rows.size(), -1);
  for (auto& r : rows) r.searchState &= ~kGroupBits;
  if (!GroupsBundles(o)) return;
  const bool files = o.tab == GridTab::Files;
  size_t i = 0;
  while (i < rows.size()) {
    DocRecord& parent = rows[i];
    const SeriesId id = parent.msgId.empty() ? SeriesId{} : ParseSeriesId(parent.msgId);
    if (id.part != 1 || id.base.empty() || (files && !IsMessageExt(parent.ext))) {
      ++i;
      continue;
    }
    const int kind = parent.flags & store::dfMailMask;
    const int childState =
        store::rsChild | ((parent.flags & store::dfCollapsed) ? store::rsCollapsedChild : 0);
    size_t j = i + 1;
    for (; j < rows.size(); ++j) {
      DocRecord& c = rows[j];
      if ((c.flags & store::dfMailMask) != kind || c.folder != parent.folder) break;
      // Same base: the id continues with ":" right after the base.
      if (c.msgId.size() <= id.base.size() || c.msgId.compare(0, id.base.size(), id.base) != 0 ||
          c.msgId[id.base.size()] != ':')
        break;
      c.searchState |= childState;
      if (parentOut) (*parentOut)[j] = static_cast<int32_t>(i);
    }
    if (j > i + 1) parent.searchState |= store::rsHasChildren;
    i = j;
  }
}

void GridModel::SetRows(DocRows rows, const GridOptions& options) {
  rows_ = std::move(rows);
  options_ = options;
  SortAndFilter();
}

void GridModel::SetOptions(const GridOptions& options) {
  options_ = options;
  SortAndFilter();
}

void GridModel::SortAndFilter() {
  store::SortOptions so;
  so.sorting = options_.sorting;
  so.contactsTab = options_.tab == GridTab::Contacts;
  so.firstNameFirst = options_.firstNameFirst;
  store::SortDocRecords(rows_, so);
  Refilter();
}

void GridModel::Refilter() {
  if (options_.tab == GridTab::Files)
    ApplyViewFilter(rows_, options_.filter);
  else
    ApplyViewFilter(rows_, ViewFilter::ShowAll);
  GroupBundles(rows_, options_, &parent_);
  // Rows the view no longer shows cannot stay in hand (a Delete would reach them unseen).
  for (auto& r : rows_)
    if (r.selected && !r.Visible()) r.selected = false;
  Index();
}

void GridModel::Clear() {
  rows_.clear();
  visible_.clear();
  parent_.clear();
  highlight_.clear();
}

void GridModel::Index() {
  visible_.clear();
  visible_.reserve(rows_.size());
  highlight_.assign(rows_.size(), 0);
  if (parent_.size() != rows_.size()) parent_.assign(rows_.size(), -1);
  for (size_t i = 0; i < rows_.size(); ++i) {
    const DocRecord& r = rows_[i];
    if (r.flags & kAttention) {
      highlight_[i] = 1;
      // A collapsed parent speaks for its hidden children.
      const int p = parent_[i];
      if (p >= 0 && (r.searchState & store::rsCollapsedChild)) highlight_[p] = 1;
    }
    if (r.Visible()) visible_.push_back(static_cast<uint32_t>(i));
  }
}

int GridModel::VisibleOfRecord(size_t record) const {
  auto it = std::lower_bound(visible_.begin(), visible_.end(), record);
  if (it == visible_.end() || *it != record) return -1;
  return static_cast<int>(it - visible_.begin());
}

bool GridModel::ShowsStickerMark(size_t record) const {
  if (record >= rows_.size() || rows_[record].sticker.empty()) return false;
  const int p = parentOf(record);
  return p < 0 || rows_[p].sticker != rows_[record].sticker;
}

bool GridModel::ContinuesAbove(size_t visibleRow) const {
  if (visibleRow == 0 || visibleRow >= visible_.size()) return false;
  const DocRecord& r = rows_[visible_[visibleRow]];
  if (r.searchState & store::rsChild) return true;
  const DocRecord& above = rows_[visible_[visibleRow - 1]];
  if (r.msgId.empty() || above.msgId.empty() || r.folder != above.folder) return false;
  if ((r.flags & store::dfMailMask) != (above.flags & store::dfMailMask)) return false;
  const std::string base = SeriesBase(r.msgId);
  return !base.empty() && base == SeriesBase(above.msgId);
}

std::optional<int> GridModel::ToggleCollapse(size_t record) {
  if (record >= rows_.size() || !(rows_[record].searchState & store::rsHasChildren))
    return std::nullopt;
  DocRecord& p = rows_[record];
  p.flags ^= store::dfCollapsed;
  const bool collapsed = p.flags & store::dfCollapsed;
  for (size_t j = record + 1; j < rows_.size() && parent_[j] == static_cast<int32_t>(record); ++j) {
    if (collapsed) {
      rows_[j].searchState |= store::rsCollapsedChild;
      rows_[j].selected = false;  // hidden rows cannot stay in hand
    } else {
      rows_[j].searchState &= ~store::rsCollapsedChild;
    }
  }
  Index();
  return p.flags;
}

void GridModel::SetSelected(size_t record, bool on) {
  if (record < rows_.size()) rows_[record].selected = on;
}

void GridModel::SelectOnly(size_t record) {
  for (auto& r : rows_) r.selected = false;
  SetSelected(record, true);
}

void GridModel::SelectAllVisible() {
  for (auto& r : rows_) r.selected = false;
  for (uint32_t i : visible_) rows_[i].selected = true;
}

void GridModel::ClearSelection() {
  for (auto& r : rows_) r.selected = false;
}

size_t GridModel::SelectedCount() const {
  return static_cast<size_t>(std::count_if(rows_.begin(), rows_.end(),
                                           [](const DocRecord& r) { return r.selected; }));
}

int GridModel::FindRecord(const std::string& folder, const std::string& sectionName) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].folder == folder && rows_[i].SectionName() == sectionName) return static_cast<int>(i);
  return -1;
}

// ---- header ----

std::vector<HeaderSectionLook> HeaderLook(GridTab tab, int sorting, bool showSize,
                                          bool firstNameFirst, bool sizeColumn) {
  std::vector<HeaderSectionLook> out;
  const HeaderPicture dir = sorting > 0 ? HeaderPicture::Ascending : HeaderPicture::Descending;
  const int code = Code(sorting);
  if (tab == GridTab::Contacts) {
    out = {{"", HeaderPicture::None, false},
           {"First Name", HeaderPicture::None, true},
           {"Last Name", HeaderPicture::None, true},
           {"Phone Number", HeaderPicture::None, false},
           {"Address", HeaderPicture::None, true}};
    HeaderSectionLook& second = out[firstNameFirst ? csLast : csFirst];
    second.caption = "(" + second.caption + ")";
    if (code == 4) out[firstNameFirst ? csFirst : csLast].picture = dir;
    if (code == 2) out[csAddress].picture = dir;
    return out;
  }
  if (tab == GridTab::Tools) return out;
  out = {{"", HeaderPicture::Type, true},  {"", HeaderPicture::Colour, true},
         {"Name", HeaderPicture::None, true}, {"Size", HeaderPicture::None, true},
         {"Date", HeaderPicture::None, true}, {"", HeaderPicture::MailKind, true},
         {"Address", HeaderPicture::None, true}};
  if (!sizeColumn) {
    HeaderSectionLook& hidden = out[showSize ? fsDate : fsSize];
    hidden.caption = "(" + hidden.caption + ")";
  }
  for (size_t s = 0; s < kFileSectionCodes.size(); ++s)
    if (kFileSectionCodes[s] == code) out[s].picture = dir;
  return out;
}

HeaderClickResult HeaderSortClick(GridTab tab, int section, int sorting, bool firstNameFirst,
                                  bool noSort) {
  HeaderClickResult res;
  res.sorting = sorting;
  if (noSort || tab == GridTab::Tools) {
    res.ignored = true;
    return res;
  }
  int code = 0;
  if (tab == GridTab::Contacts) {
    if (section == csIcon || section == csPhone || section < 0 || section > csAddress) {
      res.ignored = true;
      return res;
    }
    if ((section == csFirst && !firstNameFirst) || (section == csLast && firstNameFirst)) {
      res.swapNameOrder = true;
      res.sorting = sorting < 0 ? -4 : 4;
      return res;
    }
    code = kContactSectionCodes[section];
  } else {
    if (section < 0 || section >= static_cast<int>(kFileSectionCodes.size())) {
      res.ignored = true;
      return res;
    }
    code = kFileSectionCodes[section];
  }
  if (code == Code(sorting))
    res.sorting = -sorting;
  else
    res.sorting = (code == 1 || code == 7) ? -code : code;
  if (tab == GridTab::Files) {
    if (code == 7) res.showSize = true;
    if (code == 1) res.showSize = false;
  }
  return res;
}

// ---- status bar ----

std::string SelectionStatusText(const DocRows& rows) {
  uint64_t count = 0, total = 0;
  for (const auto& r : rows) {
    if (!r.selected || r.IsContact()) continue;
    ++count;
    total += r.size;
  }
  return SubstituteArgs("  %1 file(s) selected, total size %2",
                        {std::to_string(count), HumanSize(total)});
}

std::string TypeAheadStatusText(const std::string& typed) { return "  Looking for:  " + typed; }

int TypeAhead::Find(const GridModel& model) const {
  if (typed_.empty()) return -1;
  const bool firstFirst = model.options().firstNameFirst;
  for (size_t v = 0; v < model.VisibleCount(); ++v) {
    const DocRecord& r = model.rows()[model.RecordOfVisible(v)];
    const std::string name =
        r.ext.size() == 1 && r.ext[0] == kGroupMarkerExt ? r.title : FormatPersonName(r.title, firstFirst);
    if (StartsWithText(name, typed_)) return static_cast<int>(v);
  }
  return -1;
}

// ---- colour mark ----

ColourClickDecision DecideColourClick(int rowColour, int lastColour) {
  ColourClickDecision d;
  d.lastColour = lastColour == 9 ? rowColour : lastColour;
  if (rowColour != d.lastColour)
    d.applyColour = d.lastColour;
  else
    d.openChooser = true;
  return d;
}

int ColourAfterChooser(int rowColour, bool confirmed, int chosen) {
  return confirmed && chosen != rowColour ? chosen : -1;
}

// ---- drawing facts ----

std::string HumanSize(uint64_t n) {
  if (n == 1) return "1 byte";
  if (n < 1000) return std::to_string(n) + " bytes";
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  double v = static_cast<double>(n) / 1000.0;
  size_t u = 0;
  while (v >= 999.95 && u + 1 < std::size(kUnits)) {
    v /= 1000.0;
    ++u;
  }
  char b[32];
  if (v < 99.95)
    std::snprintf(b, sizeof b, "%.1f %s", v, kUnits[u]);
  else
    std::snprintf(b, sizeof b, "%.0f %s", v, kUnits[u]);
  return b;
}

std::string DateColumnText(const DocRecord& r, bool showSize, const std::string& formattedDate) {
  if (showSize) return FormatSize(static_cast<int64_t>(r.size));
  if (r.date == 0) return "unknown";
  return formattedDate;
}

MessageIcon MessageIconOf(const DocRecord& r,
                          const std::function<bool(const DocRecord&)>& awaitingConfirmation) {
  const bool mail = store::IsMailFlags(r.flags);
  const bool isEml = SameText(r.ext, "eml");
  if (!(isEml || (mail && IsMessageExt(r.ext)))) return MessageIcon::None;
  if (r.flags & store::dfDraft) return MessageIcon::Draft;
  if (r.flags & store::dfOutgoing) {
    if (!r.delivered().empty()) return MessageIcon::Delivered;
    if (r.flags & store::dfPending) return MessageIcon::Pending;
    if (awaitingConfirmation && awaitingConfirmation(r)) return MessageIcon::AwaitingConfirmation;
    return MessageIcon::Delivered;
  }
  if (r.flags & store::dfReceived)
    return (r.flags & store::dfUnread) ? MessageIcon::Unread : MessageIcon::Read;
  return MessageIcon::None;
}

bool AwaitsConfirmation(const DocRecord& r,
                        const std::function<StringList(std::string_view group)>& membersOf) {
  std::string all = r.address;
  for (std::string_view more : {r.cc(), r.bcc()}) {
    if (more.empty()) continue;
    if (!all.empty()) all += ", ";
    all += more;
  }
  const GroupMembersFn none = [](std::string_view) { return StringList{}; };
  for (const std::string& e : ParseAddressList(ExpandGroups(all, r.excludeTo(), membersOf ? membersOf : none))) {
    if (IsGroupAddress(e)) continue;
    const std::string bare = BareAddressOf(e);
    if (!bare.empty() && bare.find('@') == std::string::npos) return true;
  }
  return false;
}

TypeIconOverlays OverlaysOf(const DocRecord& r, bool encryptionPresent) {
  TypeIconOverlays o;
  const bool message = MessageIconOf(r, nullptr) != MessageIcon::None;
  o.replied = message && !Trim(r.replied()).empty();
  o.forwarded = message && !Trim(r.forwarded()).empty();
  o.encrypted = encryptionPresent && (r.flags & store::dfEncrypted) && (store::IsMailFlags(r.flags) || r.IsContact());
  return o;
}

int WheelRows::Scroll(int top, int angleDelta, int maxTop) {
  rest_ += angleDelta;
  const int rows = rest_ / 120;
  rest_ -= rows * 120;
  return std::clamp(top - rows, 0, std::max(0, maxTop));
}

bool ShowsTypeExtension(const DocRecord& r, bool unknownType) {
  if (!unknownType || r.IsContact() || r.ext.empty()) return false;
  if (r.ext.size() == 1 && static_cast<unsigned char>(r.ext[0]) < 0x20) return false;  // shell rows
  if (MessageIconOf(r, nullptr) != MessageIcon::None) return false;
  return !store::TitleEndsWithExtension(r.title, r.ext);
}

}  // namespace px::desk
