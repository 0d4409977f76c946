#pragma once
// The document grid's core model: the rows of the shown folder, sorted and filtered once per
// change, message bundles grouped into parent and child rows, and the index of visible rows
// the view paints from. Also the header's sort clicks and captions, the status-bar texts,
// type-ahead and the colour-mark decision. No widgets here.
#include "desk/grid_layout.h"
#include "desk/view_filter.h"
#include "store/doc_record.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace px::desk {

struct GridOptions {
  GridTab tab = GridTab::Files;
  int sorting = -1;             // the tab's sort order (+-1..7)
  bool firstNameFirst = true;   // NameOrder
  bool searchActive = false;
  ViewFilter filter = ViewFilter::ShowAll;
};

// Whether bundles are grouped under these options: no search (or the contacts tab), and the
// files view sorted by date, address or mail kind, or the contacts view by name.
bool GroupsBundles(const GridOptions& o);

// Marks parent (rsHasChildren) and child rows (rsChild, plus rsCollapsedChild under a collapsed
// parent). parentOut, when given, receives each row's parent index (-1 for none).
void GroupBundles(store::DocRows& rows, const GridOptions& o, std::vector<int32_t>* parentOut);

class GridModel {
public:
  GridModel() = default;

  // A new listing: the rows are sorted, filtered, grouped and indexed.
  void SetRows(store::DocRows rows, const GridOptions& options);
  // The options changed (sort order, filter, tab, name order): re-sort and re-index.
  void SetOptions(const GridOptions& options);
  // Only the view filter (or the search state) changed: filter again, keeping the order.
  void SetOptionsKeepOrder(const GridOptions& options) {
    options_ = options;
    Refilter();
  }
  // Sort, filter, group, index (SortAndFilterRows).
  void SortAndFilter();
  // Filter, group and index without sorting again (the rows' order is kept).
  void Refilter();
  void Clear();

  const GridOptions& options() const { return options_; }
  const store::DocRows& rows() const { return rows_; }
  // For edits that do not change the order or visibility (selection, icon, flags other than
  // the view-relevant ones). Call Refilter() after edits that do.
  store::DocRows& MutableRows() { return rows_; }
  size_t size() const { return rows_.size(); }

  // Visible rows (none of 0x109 set).
  size_t VisibleCount() const { return visible_.size(); }
  size_t RecordOfVisible(size_t visibleRow) const { return visible_[visibleRow]; }
  // The visible row of a record, or -1 when it is not visible.
  int VisibleOfRecord(size_t record) const;

  int parentOf(size_t record) const { return record < parent_.size() ? parent_[record] : -1; }
  // Unread or pending rows, and parents whose collapsed children are unread or pending.
  bool highlighted(size_t record) const { return record < highlight_.size() && highlight_[record]; }
  // The row carries a sticker that its parent does not.
  bool ShowsStickerMark(size_t record) const;
  // The row continues the group of the visible row above it (no separator line between).
  bool ContinuesAbove(size_t visibleRow) const;

  // The expander of a parent row: toggles dfCollapsed in its flags and the collapsed state of
  // its children. Returns the new flags (to be written to the index), or nothing when the
  // record is not a parent.
  std::optional<int> ToggleCollapse(size_t record);

  // Selection helpers.
  void SetSelected(size_t record, bool on);
  void SelectOnly(size_t record);
  void SelectAllVisible();
  void ClearSelection();
  size_t SelectedCount() const;

  // A record by folder and name (section name) after a new listing, or -1.
  int FindRecord(const std::string& folder, const std::string& sectionName) const;

private:
  void Index();

  store::DocRows rows_;
  GridOptions options_;
  std::vector<uint32_t> visible_;
  std::vector<int32_t> parent_;
  std::vector<uint8_t> highlight_;
};

// ---- header ----

enum class HeaderPicture { None, Ascending, Descending, Type, Colour, MailKind };
struct HeaderSectionLook {
  std::string caption;
  HeaderPicture picture = HeaderPicture::None;
  bool clickable = true;
};
// sizeColumn: sizes have a column of their own (both captions shown plain).
std::vector<HeaderSectionLook> HeaderLook(GridTab tab, int sorting, bool showSize,
                                          bool firstNameFirst, bool sizeColumn = false);

struct HeaderClickResult {
  bool ignored = false;
  int sorting = 0;               // the new order (saved to Sorting or Address Sorting)
  std::optional<bool> showSize;  // files tab: set by size, cleared by date
  bool swapNameOrder = false;    // contacts tab: the name order flips (direction kept)
};
// noSort: the shown node is "My Computer" or "Network".
HeaderClickResult HeaderSortClick(GridTab tab, int section, int sorting, bool firstNameFirst,
                                  bool noSort = false);

// ---- status bar ----

// "  %1 file(s) selected, total size %2" over the selected rows that are not contacts.
std::string SelectionStatusText(const store::DocRows& rows);
// "  Looking for:  " + typed.
std::string TypeAheadStatusText(const std::string& typed);

// ---- type-ahead (contacts tab) ----

class TypeAhead {
public:
  void Add(const std::string& utf8Char) { typed_ += utf8Char; }
  void Clear() { typed_.clear(); }
  const std::string& typed() const { return typed_; }
  // The first visible row whose name (a contact by its formatted name, a group by its title)
  // begins with the typed text, without regard to case; -1 when none does.
  int Find(const GridModel& model) const;

private:
  std::string typed_;
};

// ---- colour mark ----

struct ColourClickDecision {
  bool openChooser = false;  // ask the user (the chooser starts at lastColour)
  int applyColour = -1;      // colour to give the selected rows (-1: none now)
  int lastColour = 0;        // Last Colour after the click
};
// rowColour 0..15; lastColour 0..9 (9: take the clicked row's colour first).
ColourClickDecision DecideColourClick(int rowColour, int lastColour);
// After the chooser: the colour to apply, or -1 when cancelled or unchanged.
int ColourAfterChooser(int rowColour, bool confirmed, int chosen);

// Flags with the colour label replaced.
inline int FlagsWithColour(int flags, int colour) {
  return (flags & ~store::dfColourMask) | ((colour & 15) << 1);
}

// ---- drawing facts ----

// The text of the date column: the date (formatted by the caller's formatter) or "unknown",
// or the size with showSize.
// A size as people read it: "512 bytes", "12.3 KB", "2.4 MB", "1.1 GB" (powers of 1000).
std::string HumanSize(uint64_t bytes);
std::string DateColumnText(const store::DocRecord& r, bool showSize,
                           const std::string& formattedDate);

enum class MessageIcon { None, Draft, Delivered, Pending, AwaitingConfirmation, Unread, Read };
// Whether the row is a message (eml, or mail with txt or eml) and which state icon it shows.
// awaitingConfirmation says whether some recipient is a service user without "@" (after group
// expansion and exclusions); it is asked only for outgoing mail without Delivered or pending.
MessageIcon MessageIconOf(const store::DocRecord& r,
                          const std::function<bool(const store::DocRecord&)>& awaitingConfirmation);

// The recipient check of MessageIconOf: some recipient (Address, Cc and Bcc, groups expanded
// with membersOf, ExcludeTo left out) is a user of the mail service, written without "@",
// whose delivery the service confirms later.
bool AwaitsConfirmation(const store::DocRecord& r,
                        const std::function<StringList(std::string_view group)>& membersOf);

// Small marks drawn over a row's type icon: a message that was answered or forwarded, and
// encrypted mail and contacts with keys while encryption software is present.
struct TypeIconOverlays {
  bool replied = false;
  bool forwarded = false;
  bool encrypted = false;
};
TypeIconOverlays OverlaysOf(const store::DocRecord& r, bool encryptionPresent);

// The mouse wheel over the grid, its scroll bar or a tree moves the grid: one row per notch
// (120 units of angle), rolling up towards the start, kept within 0..maxTop. Finer wheels
// (touchpads) are added up until they make a whole row.
class WheelRows {
public:
  int Scroll(int top, int angleDelta, int maxTop);

private:
  int rest_ = 0;
};

// Whether the name column shows "." + extension after the title: files of a type the system
// does not know, unless the title already ends in that extension ("clock.bmp,69c").
bool ShowsTypeExtension(const store::DocRecord& r, bool unknownType);

}  // namespace px::desk
