// Bundle grouping, view filters, the visible-row index, header clicks and the small decisions
// of the document grid's model.
#include <gtest/gtest.h>

#include "desk/grid_model.h"
#include "desk/view_filter.h"
#include "foundation/dates.h"

namespace px::desk {
namespace {

using store::DocRecord;
using store::DocRows;

DocRecord Rec(std::string title, std::string ext, double date, int flags = 0, std::string msgId = "",
              std::string folder = "/d/") {
  DocRecord r;
  r.folder = std::move(folder);
  r.title = std::move(title);
  r.ext = std::move(ext);
  r.name = r.title + "." + r.ext;
  r.date = date;
  r.flags = flags;
  r.msgId = std::move(msgId);
  return r;
}

// A received message (part 1) with two attachments, plus loose documents.
DocRows Mailbox(int messageFlags = store::dfReceivedMail) {
  DocRows rows;
  rows.push_back(Rec("old.doc", "doc", 100));
  rows.push_back(Rec("Hello", "txt", 200, messageFlags, "B1:001/003"));
  rows.push_back(Rec("a.pdf", "pdf", 200, 0x1001, "B1:002/003"));
  rows.push_back(Rec("b.jpg", "jpg", 200, 0x1001, "B1:003/003"));
  rows.push_back(Rec("new.doc", "doc", 300));
  return rows;
}

std::vector<std::string> VisibleTitles(const GridModel& m) {
  std::vector<std::string> out;
  for (size_t v = 0; v < m.VisibleCount(); ++v) out.push_back(m.rows()[m.RecordOfVisible(v)].title);
  return out;
}

TEST(GridBundles, MessageWithAttachmentsIsOneParentAndTwoChildren) {
  GridModel m;
  m.SetRows(Mailbox(), {GridTab::Files, -1});
  EXPECT_EQ(VisibleTitles(m), (std::vector<std::string>{"new.doc", "Hello", "a.pdf", "b.jpg", "old.doc"}));
  const auto& rows = m.rows();
  EXPECT_TRUE(rows[1].searchState & store::rsHasChildren);
  EXPECT_TRUE(rows[2].searchState & store::rsChild);
  EXPECT_TRUE(rows[3].searchState & store::rsChild);
  EXPECT_EQ(m.parentOf(2), 1);
  EXPECT_EQ(m.parentOf(4), -1);
  EXPECT_TRUE(m.ContinuesAbove(2));
  EXPECT_FALSE(m.ContinuesAbove(1));

  // Collapsing hides the children and reports the flags to store.
  auto flags = m.ToggleCollapse(1);
  ASSERT_TRUE(flags.has_value());
  EXPECT_TRUE(*flags & store::dfCollapsed);
  EXPECT_EQ(VisibleTitles(m), (std::vector<std::string>{"new.doc", "Hello", "old.doc"}));
  // Not a parent: nothing to toggle.
  EXPECT_FALSE(m.ToggleCollapse(0).has_value());

  // The collapsed state lives in the flags, so it survives a new listing.
  DocRows again = Mailbox(store::dfReceivedMail | store::dfCollapsed);
  m.SetRows(std::move(again), {GridTab::Files, -1});
  EXPECT_EQ(VisibleTitles(m), (std::vector<std::string>{"new.doc", "Hello", "old.doc"}));
  m.ToggleCollapse(1);
  EXPECT_EQ(m.VisibleCount(), 5u);
}

TEST(GridBundles, OnlyUnderGroupingOrdersAndWithoutSearch) {
  struct Case { GridTab tab; int sorting; bool search; bool groups; } cases[] = {
      {GridTab::Files, -1, false, true},  {GridTab::Files, 2, false, true},
      {GridTab::Files, 6, false, true},   {GridTab::Files, 4, false, false},
      {GridTab::Files, -7, false, false}, {GridTab::Files, 1, true, false},
      {GridTab::Contacts, 4, true, true}, {GridTab::Contacts, 2, false, false},
      {GridTab::Tools, 4, false, false}};
  for (const auto& c : cases) {
    GridOptions o{c.tab, c.sorting};
    o.searchActive = c.search;
    EXPECT_EQ(GroupsBundles(o), c.groups) << static_cast<int>(c.tab) << " " << c.sorting;
  }
}

TEST(GridBundles, ChildrenMustFollowDirectlyWithSameBaseKindAndFolder) {
  DocRows rows;
  rows.push_back(Rec("Msg", "eml", 5, 0x2000, "X:001/004"));
  rows.push_back(Rec("p2", "pdf", 5, 0x2000, "X:002/004"));
  rows.push_back(Rec("other kind", "pdf", 5, 0x1000, "X:003/004"));  // received: breaks the run
  rows.push_back(Rec("p4", "pdf", 5, 0x2000, "X:004/004"));
  rows.push_back(Rec("Msg2", "eml", 5, 0x2000, "XY:001"));           // base "XY" is not "X"
  rows.push_back(Rec("not a message", "pdf", 5, 0x2000, "Z:001"));   // part 1 but not txt/eml
  rows.push_back(Rec("z2", "pdf", 5, 0x2000, "Z:002"));
  GridOptions o{GridTab::Files, 6};
  GroupBundles(rows, o, nullptr);
  std::vector<int> states;
  for (const auto& r : rows) states.push_back(r.searchState & 0x106);
  EXPECT_EQ(states, (std::vector<int>{2, 4, 0, 0, 0, 0, 0}));

  // Contacts tab: any part 1 is a parent (contact rows keyed name:001, name:002).
  DocRows contacts;
  contacts.push_back(Rec("Doe, Jane", "vcf", 0, 0, "jane.vcf:001"));
  contacts.push_back(Rec("Doe, Jane", "vcf", 0, 0, "jane.vcf:002"));
  GroupBundles(contacts, {GridTab::Contacts, 4}, nullptr);
  EXPECT_EQ(contacts[0].searchState & 0x6, 2);
  EXPECT_EQ(contacts[1].searchState & 0x6, 4);
}

TEST(GridViewFilter, TabsHideByMailKind) {
  DocRows rows;
  rows.push_back(Rec("in", "txt", 1, 0x1001, "A:001"));
  rows.push_back(Rec("out", "txt", 1, 0x2000, "B:001"));
  rows.push_back(Rec("doc", "doc", 1, 0));
  rows.push_back(Rec("card", "vcf", 1, 0));
  auto shown = [&](ViewFilter f) {
    ApplyViewFilter(rows, f);
    std::string s;
    for (const auto& r : rows) s += r.Visible() ? '1' : '0';
    return s;
  };
  EXPECT_EQ(shown(ViewFilter::Incoming), "1000");
  EXPECT_EQ(shown(ViewFilter::Outgoing), "0100");
  EXPECT_EQ(shown(ViewFilter::Other), "0011");
  EXPECT_EQ(shown(ViewFilter::ShowAll), "1111");
}

TEST(GridViewFilter, RowsTheFilterHidesLeaveTheSelection) {
  DocRows rows;
  rows.push_back(Rec("in", "txt", 1, 0x1001, "A:001"));
  rows.push_back(Rec("doc", "doc", 2, 0));
  GridModel m;
  m.SetRows(std::move(rows), {GridTab::Files, 4});
  m.SelectAllVisible();
  ASSERT_EQ(m.SelectedCount(), 2u);
  GridOptions o = m.options();
  o.filter = ViewFilter::Other;
  m.SetOptionsKeepOrder(o);
  EXPECT_EQ(m.SelectedCount(), 1u);
  EXPECT_TRUE(m.rows()[m.RecordOfVisible(0)].selected);
  o.filter = ViewFilter::ShowAll;
  m.SetOptionsKeepOrder(o);
  EXPECT_EQ(m.SelectedCount(), 1u);
}

TEST(GridViewFilter, PendingBringsEveryRowOfTheBundleWhereverItIs) {
  DocRows rows;
  rows.push_back(Rec("att1", "pdf", 1, 0x2000, "M:002/003"));          // not marked, far from its message
  rows.push_back(Rec("loose", "doc", 2, 0));
  rows.push_back(Rec("msg", "txt", 3, 0x2400, "M:001/003"));           // waiting to be sent
  rows.push_back(Rec("sent msg", "txt", 4, 0x2000, "R:001"));
  rows.push_back(Rec("att2", "pdf", 5, 0x2000, "M:003/003"));
  rows.push_back(Rec("elsewhere", "pdf", 5, 0x2000, "M:002/003", "/other/"));  // other folder
  rows.push_back(Rec("unsent", "doc", 6, 0x2400));                     // pending, no msgId
  ApplyViewFilter(rows, ViewFilter::Pending);
  std::string s;
  for (const auto& r : rows) s += r.Visible() ? '1' : '0';
  EXPECT_EQ(s, "1010101");
}

TEST(GridViewFilter, PendingShowsOutgoingMailOnlyNeverReceivedMail) {
  DocRows rows;
  rows.push_back(Rec("unread in", "txt", 1, 0x1201, "U:001/002"));     // received, unread
  rows.push_back(Rec("its part", "pdf", 2, 0x1201, "U:002/002"));
  rows.push_back(Rec("read in", "txt", 3, 0x1001, "I:001"));
  rows.push_back(Rec("unread doc", "doc", 4, 0x0200));                 // a document marked unread
  rows.push_back(Rec("queued", "txt", 5, 0x2400, "Q:001"));
  rows.push_back(Rec("draft", "txt", 6, 0x4000, "D:001"));
  ApplyViewFilter(rows, ViewFilter::Pending);
  std::string s;
  for (const auto& r : rows) s += r.Visible() ? '1' : '0';
  EXPECT_EQ(s, "000010");
}

TEST(GridViewFilter, CaptionsArePaddedAlternately) {
  // One pixel per character: the widest of the first four is 18 wide.
  auto width = [](const std::string& s) { return static_cast<int>(s.size()); };
  auto caps = PadViewFilterCaptions(width);
  ASSERT_EQ(caps.size(), 5u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(caps[i].size(), 18u) << i;
  EXPECT_EQ(caps[3], "     Pending      ");   // the first blank goes to the end
  EXPECT_EQ(caps[4], "     Other     ");      // "Other" is left as it is
}

TEST(GridModelIndex, VisibleIndexAndHighlight) {
  DocRows rows = Mailbox();
  rows[1].flags &= ~store::dfUnread;  // message read
  rows[3].flags |= store::dfUnread;   // one attachment unread
  GridModel m;
  m.SetRows(std::move(rows), {GridTab::Files, -1});
  // Sorted: new.doc, Hello, a.pdf, b.jpg, old.doc
  EXPECT_FALSE(m.highlighted(1));
  EXPECT_TRUE(m.highlighted(3));
  m.ToggleCollapse(1);
  EXPECT_TRUE(m.highlighted(1));  // collapsed parent speaks for its unread child
  EXPECT_EQ(m.VisibleOfRecord(4), 2);
  EXPECT_EQ(m.VisibleOfRecord(3), -1);

  // Search misses are not visible.
  DocRows r2 = Mailbox();
  r2[0].searchState = store::rsSearchMiss;
  GridOptions o{GridTab::Files, -1};
  o.searchActive = true;
  m.SetRows(std::move(r2), o);
  EXPECT_EQ(m.VisibleCount(), 4u);
  EXPECT_FALSE(m.rows()[1].searchState & store::rsHasChildren);  // no grouping while searching
}

TEST(GridModelIndex, SizeSortUsesFullSizes) {
  DocRows rows;
  rows.push_back(Rec("small", "bin", 1));
  rows.back().size = 10;
  rows.push_back(Rec("huge", "bin", 1));
  rows.back().size = (uint64_t{5} << 32) + 3;  // 20 GiB: its low 32 bits are 3
  rows.push_back(Rec("mid", "bin", 1));
  rows.back().size = 1u << 31;
  GridModel m;
  m.SetRows(std::move(rows), {GridTab::Files, -7});
  EXPECT_EQ(VisibleTitles(m), (std::vector<std::string>{"huge", "mid", "small"}));
}

TEST(GridModelIndex, StickerMarkOnlyWhereItDiffersFromTheParent) {
  DocRows rows = Mailbox();
  rows[1].sticker = "note";
  rows[2].sticker = "note";
  rows[3].sticker = "other";
  GridModel m;
  m.SetRows(std::move(rows), {GridTab::Files, -1});
  EXPECT_TRUE(m.ShowsStickerMark(1));
  EXPECT_FALSE(m.ShowsStickerMark(2));
  EXPECT_TRUE(m.ShowsStickerMark(3));
  EXPECT_FALSE(m.ShowsStickerMark(0));
}

TEST(GridHeader, SortClicks) {
  struct Case { int section; int current; int expect; std::optional<bool> showSize; } cases[] = {
      {fsDate, 4, -1, false},   // date starts descending and clears Show Size
      {fsDate, -1, 1, false},   // same column: direction reverses
      {fsSize, -1, -7, true},   // size starts descending and sets Show Size
      {fsName, -1, 4, std::nullopt},
      {fsName, 4, -4, std::nullopt},
      {fsAddress, 1, 2, std::nullopt},
      {fsType, 1, 3, std::nullopt},
      {fsColour, 1, 5, std::nullopt},
      {fsMailKind, 1, 6, std::nullopt},
  };
  for (const auto& c : cases) {
    auto r = HeaderSortClick(GridTab::Files, c.section, c.current, true);
    EXPECT_FALSE(r.ignored);
    EXPECT_EQ(r.sorting, c.expect) << c.section << " " << c.current;
    EXPECT_EQ(r.showSize, c.showSize) << c.section;
  }
  EXPECT_TRUE(HeaderSortClick(GridTab::Files, fsName, 4, true, /*noSort=*/true).ignored);
  EXPECT_TRUE(HeaderSortClick(GridTab::Tools, fsName, 4, true).ignored);
}

TEST(GridHeader, ContactsNameClicksSwapTheOrder) {
  auto r = HeaderSortClick(GridTab::Contacts, csLast, -4, /*firstNameFirst=*/true);
  EXPECT_TRUE(r.swapNameOrder);
  EXPECT_EQ(r.sorting, -4);  // direction kept
  r = HeaderSortClick(GridTab::Contacts, csFirst, 4, true);
  EXPECT_FALSE(r.swapNameOrder);
  EXPECT_EQ(r.sorting, -4);
  r = HeaderSortClick(GridTab::Contacts, csFirst, 2, /*firstNameFirst=*/false);
  EXPECT_TRUE(r.swapNameOrder);
  EXPECT_EQ(r.sorting, 4);
  EXPECT_TRUE(HeaderSortClick(GridTab::Contacts, csPhone, 4, true).ignored);
  EXPECT_TRUE(HeaderSortClick(GridTab::Contacts, csIcon, 4, true).ignored);
  r = HeaderSortClick(GridTab::Contacts, csAddress, 4, true);
  EXPECT_EQ(r.sorting, 2);
  EXPECT_FALSE(r.showSize.has_value());
}

TEST(GridHeader, CaptionsAndPictures) {
  auto look = HeaderLook(GridTab::Files, -1, /*showSize=*/false, true);
  ASSERT_EQ(look.size(), 7u);
  EXPECT_EQ(look[fsSize].caption, "(Size)");
  EXPECT_EQ(look[fsDate].caption, "Date");
  EXPECT_EQ(look[fsDate].picture, HeaderPicture::Descending);
  EXPECT_EQ(look[fsType].picture, HeaderPicture::Type);
  look = HeaderLook(GridTab::Files, 5, true, true);
  EXPECT_EQ(look[fsDate].caption, "(Date)");
  EXPECT_EQ(look[fsColour].picture, HeaderPicture::Ascending);

  look = HeaderLook(GridTab::Contacts, 4, false, /*firstNameFirst=*/false);
  ASSERT_EQ(look.size(), 5u);
  EXPECT_EQ(look[csFirst].caption, "(First Name)");
  EXPECT_EQ(look[csLast].picture, HeaderPicture::Ascending);
  EXPECT_FALSE(look[csPhone].clickable);
}

TEST(GridStatus, SelectionTextCountsDocumentsNotContacts) {
  DocRows rows;
  rows.push_back(Rec("a", "doc", 1));
  rows.back().size = 3000;
  rows.back().selected = true;
  rows.push_back(Rec("big", "iso", 1));
  rows.back().size = uint64_t{5} << 30;
  rows.back().selected = true;
  rows.push_back(Rec("Doe, Jane", "vcf", 1));
  rows.back().selected = true;
  rows.push_back(Rec("b", "doc", 1));
  rows.back().size = 10;
  EXPECT_EQ(SelectionStatusText(rows), "  2 file(s) selected, total size 5.4 GB");
  EXPECT_EQ(TypeAheadStatusText("do"), "  Looking for:  do");
}

TEST(GridStatus, SizesReadAsPeopleReadThem) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0 bytes"},          {1, "1 byte"},           {999, "999 bytes"},    {1000, "1.0 KB"},
      {12345, "12.3 KB"},      {99949, "99.9 KB"},      {99960, "100 KB"},     {999499, "999 KB"},
      {999960, "1.0 MB"},      {2400000, "2.4 MB"},     {2449999, "2.4 MB"},   {1100000000, "1.1 GB"},
      {uint64_t{5} << 40, "5.5 TB"}, {UINT64_MAX, "18.4 EB"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(HumanSize(bytes), text) << bytes;
}

TEST(GridTypeAhead, FindsFirstVisibleNameIgnoringCase) {
  DocRows rows;
  rows.push_back(Rec("Smith, Anna", "vcf", 0));
  rows.push_back(Rec("Doe, John", "vcf", 0));
  rows.push_back(Rec("Friends", std::string(1, '\x12'), 0));
  GridModel m;
  m.SetRows(std::move(rows), {GridTab::Contacts, 4, /*firstNameFirst=*/true});
  TypeAhead t;
  EXPECT_EQ(t.Find(m), -1);
  t.Add("j");
  t.Add("O");
  const int v = t.Find(m);
  ASSERT_GE(v, 0);
  EXPECT_EQ(m.rows()[m.RecordOfVisible(v)].title, "Doe, John");  // "John Doe"
  t.Clear();
  t.Add("fr");
  ASSERT_GE(t.Find(m), 0);
  EXPECT_EQ(m.rows()[m.RecordOfVisible(t.Find(m))].title, "Friends");
  t.Add("x");
  EXPECT_EQ(t.Find(m), -1);
}

TEST(GridColour, ClickDecisions) {
  struct Case { int row, last; bool chooser; int apply; int lastAfter; } cases[] = {
      {0, 3, false, 3, 3},  // uncoloured row takes the last colour without asking
      {3, 3, true, -1, 3},  // same colour: ask
      {5, 9, true, -1, 5},  // 9 takes the row's colour first
      {2, 0, false, 0, 0},  // removes the colour
  };
  for (const auto& c : cases) {
    auto d = DecideColourClick(c.row, c.last);
    EXPECT_EQ(d.openChooser, c.chooser) << c.row << "," << c.last;
    EXPECT_EQ(d.applyColour, c.apply);
    EXPECT_EQ(d.lastColour, c.lastAfter);
  }
  EXPECT_EQ(ColourAfterChooser(3, true, 4), 4);
  EXPECT_EQ(ColourAfterChooser(3, true, 3), -1);
  EXPECT_EQ(ColourAfterChooser(3, false, 4), -1);
  EXPECT_EQ(FlagsWithColour(0x1201 | (7 << 1), 2), 0x1201 | (2 << 1));
}

TEST(GridDrawing, DateTextAndMessageIcons) {
  DocRecord r = Rec("x", "doc", 0);
  r.size = 2048;
  EXPECT_EQ(DateColumnText(r, false, "ignored"), "unknown");
  EXPECT_EQ(DateColumnText(r, true, ""), FormatSize(2048));
  r.date = 5;
  EXPECT_EQ(DateColumnText(r, false, "1/5/00"), "1/5/00");

  auto none = [](const DocRecord&) { return false; };
  auto waits = [](const DocRecord&) { return true; };
  struct Case { std::string ext; int flags; bool delivered; bool awaiting; MessageIcon icon; } cases[] = {
      {"doc", 0x1201, false, false, MessageIcon::None},
      {"txt", 0, false, false, MessageIcon::None},      // a plain text file
      {"eml", 0, false, false, MessageIcon::None},
      {"txt", 0x1201, false, false, MessageIcon::Unread},
      {"eml", 0x1001, false, false, MessageIcon::Read},
      {"txt", 0x6400, false, false, MessageIcon::Draft},
      {"txt", 0x2400, false, false, MessageIcon::Pending},
      {"txt", 0x2000, true, true, MessageIcon::Delivered},
      {"txt", 0x2000, false, true, MessageIcon::AwaitingConfirmation},
      {"txt", 0x2000, false, false, MessageIcon::Delivered},
  };
  for (const auto& c : cases) {
    DocRecord m = Rec("m", c.ext, 1, c.flags);
    if (c.delivered) m.Set(store::DocKey::Delivered, "someone");
    EXPECT_EQ(MessageIconOf(m, c.awaiting ? std::function<bool(const DocRecord&)>(waits) : none), c.icon)
        << c.ext << " " << c.flags;
  }
}

TEST(GridDrawing, UnknownTypesShowTheirExtensionOnce) {
  struct Case { std::string title, ext; int flags; bool unknown, shows; } cases[] = {
      {"clock", "bmp,69c", 0, true, true},
      {"clock.bmp,69c", "bmp,69c", 0x1001, true, false},
      {"clock.BMP,69C", "bmp,69c", 0, true, false},
      {"report", "doc", 0, false, false},          // a known type shows its icon instead
      {"Hello", "txt", 0x1201, true, false},       // messages show their state icon
      {".xyz", "xyz", 0, true, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShowsTypeExtension(Rec(c.title, c.ext, 1, c.flags), c.unknown), c.shows) << c.title;
}

TEST(GridWheel, OneRowPerNotchUpTowardsTheStartWithinTheRange) {
  struct Case { int top, delta, maxTop, want; } cases[] = {
      {10, -120, 50, 11}, {10, 120, 50, 9}, {10, -360, 50, 13}, {0, 240, 50, 0},
      {49, -480, 50, 50}, {10, -120, 0, 0}, {10, 120, 5, 5},
  };
  for (const auto& c : cases) {
    WheelRows w;
    EXPECT_EQ(w.Scroll(c.top, c.delta, c.maxTop), c.want) << c.top << " " << c.delta;
  }
  // A fine wheel moves once its steps make a whole notch.
  WheelRows fine;
  EXPECT_EQ(fine.Scroll(10, -60, 50), 10);
  EXPECT_EQ(fine.Scroll(10, -60, 50), 11);
  EXPECT_EQ(fine.Scroll(11, 40, 50), 11);
}

TEST(GridDrawing, AwaitingConfirmationLooksAtEveryRecipientAfterGroups) {
  auto members = [](std::string_view group) {
    if (group == "Team") return StringList{"\"Ann\" <ann>", "bob@example.org"};
    return StringList{};
  };
  struct Case { std::string address, cc, bcc, excludeTo; bool awaits; } cases[] = {
      {"bob@example.org", "", "", "", false},
      {"ann", "", "", "", true},                          // a service user
      {"bob@example.org", "\"Carl\" <carl>", "", "", true},
      {"bob@example.org", "", "dan", "", true},
      {"Team (GROUP)", "", "", "", true},                 // a member is a service user
      {"Team (GROUP)", "", "", "ann", false},             // ... left out of this message
      {"Nobody (GROUP)", "", "", "", false},
  };
  for (const auto& c : cases) {
    DocRecord r = Rec("m", "txt", 1, 0x2000, "B:001/001");
    r.address = c.address;
    r.Set(store::DocKey::Cc, c.cc);
    r.Set(store::DocKey::Bcc, c.bcc);
    r.Set(store::DocKey::ExcludeTo, c.excludeTo);
    EXPECT_EQ(AwaitsConfirmation(r, members), c.awaits) << c.address << " " << c.cc << " " << c.bcc;
    EXPECT_EQ(MessageIconOf(r, [&](const DocRecord& d) { return AwaitsConfirmation(d, members); }),
              c.awaits ? MessageIcon::AwaitingConfirmation : MessageIcon::Delivered);
  }
}

TEST(GridDrawing, OverlaysForAnsweredForwardedAndEncrypted) {
  DocRecord m = Rec("m", "txt", 1, 0x1001 | store::dfEncrypted, "B:001/001");
  m.Set(store::DocKey::Replied, "01/02/03 10:00:00 bob@x");
  TypeIconOverlays o = OverlaysOf(m, true);
  EXPECT_TRUE(o.replied);
  EXPECT_FALSE(o.forwarded);
  EXPECT_TRUE(o.encrypted);
  EXPECT_FALSE(OverlaysOf(m, false).encrypted);  // no encryption software: no mark
  m.Set(store::DocKey::Forwarded, "01/02/03 10:00:00 carl@x");
  EXPECT_TRUE(OverlaysOf(m, false).forwarded);
  // A document that is not a message carries no answer marks.
  DocRecord d = Rec("d", "doc", 1, 0);
  d.Set(store::DocKey::Replied, "x");
  EXPECT_FALSE(OverlaysOf(d, true).replied);
  EXPECT_FALSE(OverlaysOf(d, true).encrypted);
  // A contact with a key shows the encryption mark.
  DocRecord c = Rec("Ann", "vcf", 1, store::dfEncrypted);
  ASSERT_TRUE(c.IsContact());
  EXPECT_TRUE(OverlaysOf(c, true).encrypted);
}

}  // namespace
}  // namespace px::desk
