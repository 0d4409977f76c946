// Column layout, resize clamps, heights and click zones of the document grid.
#include <gtest/gtest.h>

#include <numeric>

#include "desk/folder_pos.h"
#include "desk/grid_layout.h"
#include "desk/grid_model.h"
#include "desk/grid_zones.h"

namespace px::desk {
namespace {

GridGeometryInput FilesInput(int panel = 1002, bool sb = false) {
  GridGeometryInput in;
  in.tab = GridTab::Files;
  in.panelWidth = panel;
  in.scrollBarWidth = 16;
  in.scrollBarVisible = sb;
  in.dateTextWidth = 120;
  in.widths = {200, 200, 250};
  return in;
}

GridGeometryInput ContactsInput(int panel = 1002) {
  GridGeometryInput in = FilesInput(panel);
  in.tab = GridTab::Contacts;
  return in;
}

TEST(GridLayout, FilesSectionsTileTheGrid) {
  for (bool sb : {false, true}) {
    const GridColumns c = ComputeColumns(FilesInput(1002, sb));
    EXPECT_EQ(c.P, 1000);
    EXPECT_EQ(c.G, sb ? 984 : 1000);
    EXPECT_EQ(c.A, 800 + (sb ? 16 : 0));
    ASSERT_EQ(c.sections.size(), 7u);
    EXPECT_EQ(c.sections[fsType], 21);
    EXPECT_EQ(c.sections[fsColour], 50);
    EXPECT_EQ(c.sections[fsName], c.A - 120 - 107);
    EXPECT_EQ(c.sections[fsSize] + c.sections[fsDate], 136);
    EXPECT_EQ(c.N, c.A - 157);
    // Everything left of the address column ends at A + 1; the address runs to G.
    EXPECT_EQ(std::accumulate(c.sections.begin(), c.sections.end(), 0), c.G);
  }
}

TEST(GridLayout, SizesHaveAColumnOfTheirOwnBeforeTheDate) {
  GridGeometryInput in = FilesInput(1002, false);
  in.sizeTextWidth = 60;
  const GridColumns c = ComputeColumns(in);
  ASSERT_EQ(c.sections.size(), 7u);
  EXPECT_EQ(c.sizeColumn, 72);
  EXPECT_EQ(c.sections[fsSize], 72);
  EXPECT_EQ(c.sections[fsDate], 136);  // the whole date column, as without sizes
  EXPECT_EQ(c.N, c.A - 157 - 72);
  EXPECT_EQ(c.nameFiles, c.N);
  EXPECT_EQ(std::accumulate(c.sections.begin(), c.sections.end(), 0), c.G);
  // Both captions show plainly; without the column one of them is in parentheses.
  const auto look = HeaderLook(GridTab::Files, -1, false, true, true);
  EXPECT_EQ(look[fsSize].caption, "Size");
  EXPECT_EQ(look[fsDate].caption, "Date");
  EXPECT_EQ(HeaderLook(GridTab::Files, -1, false, true)[fsSize].caption, "(Size)");
}

TEST(GridLayout, ContactsSectionsTileTheGrid) {
  const GridColumns c = ComputeColumns(ContactsInput());
  ASSERT_EQ(c.sections.size(), 5u);
  EXPECT_EQ(c.sections[csPhone], 250);
  EXPECT_EQ(c.N, 800 - 250);
  EXPECT_EQ(c.sections[csFirst], (c.N - 74) / 2);
  EXPECT_EQ(std::accumulate(c.sections.begin(), c.sections.end(), 0), c.G);
}

TEST(GridLayout, ReadValuesAreClamped) {
  const ColumnWidths w = ClampWidths({5, 900, -3});
  EXPECT_EQ(w.fileAddress, 100);
  EXPECT_EQ(w.contactAddress, 500);
  EXPECT_EQ(w.contactPhone, 100);
}

TEST(GridLayout, WideningNameLowersAddressWidthDownToItsFloor) {
  GridGeometryInput in = FilesInput();
  const GridColumns c = ComputeColumns(in);
  // 50 pixels of a 1000-pixel panel are 50 per mille.
  EXPECT_EQ(ApplySectionResize(in, fsName, c.sections[fsName] + 50).fileAddress, 150);
  // Dragging far past the right edge stops at 100.
  EXPECT_EQ(ApplySectionResize(in, fsName, c.sections[fsName] + 5000).fileAddress, 100);
}

TEST(GridLayout, NarrowingNameNeverPassesTheCeilingOrTheNameMinimum) {
  GridGeometryInput in = FilesInput();
  const ColumnWidths w = ApplySectionResize(in, fsName, -4000);
  EXPECT_LE(w.fileAddress, kMaxPerMille);
  in.widths = w;
  EXPECT_GE(ComputeColumns(in).sections[fsName], kMinNameWidth);
  // On a narrow panel the name minimum binds before the 500 ceiling.
  GridGeometryInput narrow = FilesInput(500);
  const ColumnWidths n = ApplySectionResize(narrow, fsName, 0);
  narrow.widths = n;
  EXPECT_GE(ComputeColumns(narrow).sections[fsName], kMinNameWidth);
  EXPECT_GE(n.fileAddress, kMinPerMille);
}

TEST(GridLayout, FixedSectionsIgnoreResizes) {
  GridGeometryInput in = FilesInput();
  for (int s : {fsType, fsColour, fsSize, fsDate, fsMailKind, fsAddress}) {
    const ColumnWidths w = ApplySectionResize(in, s, 300);
    EXPECT_EQ(w.fileAddress, 200) << s;
  }
  GridGeometryInput c = ContactsInput();
  for (int s : {csIcon, csFirst, csAddress}) {
    const ColumnWidths w = ApplySectionResize(c, s, 300);
    EXPECT_EQ(w.contactPhone, 250) << s;
    EXPECT_EQ(w.contactAddress, 200) << s;
  }
}

TEST(GridLayout, ContactColumnsStayWithinClamps) {
  GridGeometryInput in = ContactsInput();
  const GridColumns c = ComputeColumns(in);
  // Wider "Last Name" lowers the phone width.
  EXPECT_EQ(ApplySectionResize(in, csLast, c.sections[csLast] + 100).contactPhone, 150);
  EXPECT_EQ(ApplySectionResize(in, csLast, c.sections[csLast] + 9000).contactPhone, 100);
  // Narrower "Last Name" raises the phone width only while "Last Name" keeps 50 pixels.
  {
    GridGeometryInput t = in;
    t.widths = ApplySectionResize(in, csLast, 0);
    EXPECT_LE(t.widths.contactPhone, kMaxPerMille);
    EXPECT_GE(ComputeColumns(t).sections[csLast], kMinContactColumn);
  }
  // Wider "Phone Numbers": address down, phone up by the same amount, both within clamps.
  {
    const ColumnWidths w = ApplySectionResize(in, csPhone, c.sections[csPhone] + 50);
    EXPECT_EQ(w.contactAddress, 150);
    EXPECT_EQ(w.contactPhone, 300);
  }
  for (int target : {-5000, 0, 5000}) {
    GridGeometryInput t = in;
    t.widths = ApplySectionResize(in, csPhone, target);
    EXPECT_GE(t.widths.contactAddress, kMinPerMille) << target;
    EXPECT_LE(t.widths.contactAddress, kMaxPerMille) << target;
    EXPECT_GE(t.widths.contactPhone, kMinPerMille) << target;
    EXPECT_LE(t.widths.contactPhone, kMaxPerMille) << target;
    EXPECT_EQ(t.widths.contactAddress + t.widths.contactPhone, 450) << target;
    const GridColumns tc = ComputeColumns(t);
    EXPECT_GE(tc.sections[csLast], kMinContactColumn) << target;
    EXPECT_GE(tc.sections[csPhone], kMinContactColumn) << target;
  }
}

TEST(GridLayout, Heights) {
  GridHeights h = ComputeHeights(13, 13, 13, 400, true);
  EXPECT_EQ(h.header, 17);
  EXPECT_EQ(h.tabs, 18);
  EXPECT_EQ(h.row, 24);  // never below 24
  EXPECT_EQ(h.rowsShown, (400 - 17 - 18) / 24);
  h = ComputeHeights(13, 13, 30, 400, false);
  EXPECT_EQ(h.row, 34);
  EXPECT_EQ(h.tabs, 0);
  EXPECT_EQ(ComputeHeights(13, 13, 13, 10, true).rowsShown, 0);
}

// ---- click zones ----

ZoneFrame Frame() {
  ZoneFrame f;
  f.rowWidth = 1000;
  f.rowHeight = 24;
  f.nameEndFiles = 600;
  f.nameEndTab = 500;
  f.addressStart = 800;
  return f;
}

TEST(GridZones, CoordinatesDecodeFromTheirAnchors) {
  const ZoneFrame f = Frame();
  struct Case { int v; int x; } xs[] = {
      {0, 0}, {71, 71}, {4446, 602}, {4444, 600}, {3334, 501}, {3335, 502},
      {2201, 779}, {2224, 802}, {-1, 999}};
  for (auto c : xs) EXPECT_EQ(DecodeZoneX(c.v, f), c.x) << c.v;
  // The icon line starts at (24 - 16) / 2 = 4.
  struct YCase { int v; int y; } ys[] = {{1109, 2}, {1129, 22}, {1113, 6}, {1, 1}, {-1, 23}};
  for (auto c : ys) EXPECT_EQ(DecodeZoneY(c.v, f), c.y) << c.v;
}

TEST(GridZones, HitTestingByTab) {
  const ZoneFrame f = Frame();
  ZoneRowFacts files;
  files.hasChildren = true;
  files.hasAddress = true;
  struct Case { int x, y; int zone; } cases[] = {
      {5, 12, gzTypeIcon}, {30, 12, gzExpander}, {50, 12, gzSticker}, {60, 12, gzColour},
      {200, 12, gzName}, {650, 12, gzDateSize}, {900, 12, gzAddress},
      {5, 0, gzNone},     // above the icon
      {21, 12, gzNone},   // gap between icon and expander
      {790, 12, gzNone},  // mail-kind icon inactive: row not selected and pending
  };
  for (auto c : cases) EXPECT_EQ(HitZone(c.x, c.y, f, files), c.zone) << c.x << "," << c.y;

  files.selected = files.pending = true;
  EXPECT_EQ(HitZone(790, 12, f, files), gzMailKind);

  // A child on the files tab has no expander; a pending attachment has its pending mark.
  ZoneRowFacts child = files;
  child.isChild = true;
  EXPECT_EQ(HitZone(30, 12, f, child), gzNone);
  child.pendingNonMessage = true;
  EXPECT_EQ(HitZone(30, 12, f, child), gzExpander);

  // Contacts tab: detail line in place of the date; child rows have no icon, name or colour.
  ZoneRowFacts contact;
  contact.tab = GridTab::Contacts;
  contact.isContact = true;
  contact.hasDetail = true;
  contact.hasAddress = true;
  EXPECT_EQ(HitZone(550, 12, f, contact), gzDetail);
  EXPECT_EQ(HitZone(50, 12, f, contact), gzNone);  // no sticker mark for contacts
  contact.hasDetail = false;
  EXPECT_EQ(HitZone(650, 12, f, contact), gzNone);
  contact.isChild = true;
  EXPECT_EQ(HitZone(5, 12, f, contact), gzNone);
  EXPECT_EQ(HitZone(200, 12, f, contact), gzNone);
  EXPECT_EQ(HitZone(900, 12, f, contact), gzAddress);

  // Tools tab: only the icon.
  ZoneRowFacts tool;
  tool.tab = GridTab::Tools;
  tool.hasAddress = true;
  EXPECT_EQ(HitZone(5, 12, f, tool), gzTypeIcon);
  EXPECT_EQ(HitZone(200, 12, f, tool), gzNone);
  EXPECT_EQ(HitZone(900, 12, f, tool), gzNone);
}

// ---- per-folder scroll memory ----

TEST(FolderPos, RestoresOnlyUnderTheSameSortOrder) {
  FolderPositions p;
  p.Remember("/d/Mail/", 40, -1);
  EXPECT_EQ(p.Restore("/d/Mail/", -1), 40);
  EXPECT_EQ(p.Restore("/d/Mail", -1), 40);
  EXPECT_FALSE(p.Restore("/d/Mail/", 1).has_value());
  EXPECT_FALSE(p.Restore("/d/mail/", -1).has_value());  // paths keep their case
  p.Remember("/d/Mail/", 3, 4);
  EXPECT_EQ(p.Restore("/d/Mail/", 4), 3);
  p.Remember("/d/Mail/Sub/", 7, 4);
  p.Remember("/d/Mailbox/", 9, 4);
  p.MoveFolder("/d/Mail/", "/d/Post/");
  EXPECT_EQ(p.Restore("/d/Post/Sub/", 4), 7);
  EXPECT_FALSE(p.Restore("/d/Mail/Sub/", 4).has_value());
  EXPECT_EQ(p.Restore("/d/Mailbox/", 4), 9);  // a sibling sharing the prefix stays
}

}  // namespace
}  // namespace px::desk
