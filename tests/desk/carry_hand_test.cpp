// The hand: picking up rows, the press-drag distance, cursors, the drag picture, drops on folder
// nodes, from other programs and from the clipboard, Restore and automatic expansion.
#include <gtest/gtest.h>

#include "mailbox_rows.h"

#include "desk/carry_hand.h"
#include "support/test_support.h"

#include <filesystem>

namespace px::desk {
namespace {

using store::DocRecord;
using store::DocRows;

using fixture::Rec;

GridModel Rows() { return fixture::MailboxRows(); }

std::vector<std::string> Selected(const GridModel& m) {
  std::vector<std::string> out;
  for (const auto& r : m.rows())
    if (r.selected) out.push_back(r.title);
  return out;
}

int Record(const GridModel& m, const std::string& title) {
  for (size_t i = 0; i < m.size(); ++i)
    if (m.rows()[i].title == title) return static_cast<int>(i);
  return -1;
}

TEST(CarryHand, ClickingThreeNamesHoldsThemAndClickingOneAgainPutsOnlyItDown) {
  GridModel m = Rows();
  CarryHand hand;
  for (const char* t : {"new", "old", "Hello"}) {
    const size_t r = static_cast<size_t>(Record(m, t));
    hand.Press(10, 10);
    const bool was = PressName(m, hand, r);
    ReleaseName(m, hand, r, was, true);
  }
  EXPECT_EQ(hand.state(), Hand::Documents);
  EXPECT_EQ(m.SelectedCount(), 3u);
  const size_t old = static_cast<size_t>(Record(m, "old"));
  hand.Press(10, 10);
  bool was = PressName(m, hand, old);
  EXPECT_TRUE(was);
  EXPECT_TRUE(m.rows()[old].selected);  // stays until the release
  ReleaseName(m, hand, old, was, true);
  EXPECT_FALSE(m.rows()[old].selected);
  EXPECT_EQ(m.SelectedCount(), 2u);
  EXPECT_EQ(hand.state(), Hand::Documents);
}

TEST(CarryHand, ADragThatEndedLeavesNothingInHandWhereverItWent) {
  struct Case {
    DragEnd how;
    bool putDownNow;
    bool putDownAfterDrop;
  };
  const Case cases[] = {{DragEnd::Cancelled, true, false},
                        {DragEnd::OtherProgram, true, false},
                        {DragEnd::DeskGrid, true, false},
                        {DragEnd::DeskNode, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.how));
    CarryHand hand;
    hand.HoldDocuments(3);
    hand.Press(0, 0);
    hand.MoveWithButton(10, 0);
    EXPECT_EQ(hand.DragEnded(c.how), c.putDownNow);
    EXPECT_FALSE(hand.PressDragging());
    EXPECT_EQ(hand.DropOnNodeDone(), c.putDownAfterDrop);
    // Only the drop the drag ended on puts the hand down afterwards; a later click-carry drop
    // does not.
    EXPECT_FALSE(hand.DropOnNodeDone());
  }
}

TEST(CarryHand, PressingAndMovingFivePixelsKeepsTheRowInHand) {
  GridModel m = Rows();
  CarryHand hand;
  const size_t r = static_cast<size_t>(Record(m, "new"));
  hand.Press(100, 100);
  bool was = PressName(m, hand, r);
  ReleaseName(m, hand, r, was, true);
  hand.Press(100, 100);
  was = PressName(m, hand, r);
  EXPECT_FALSE(hand.MoveWithButton(104, 96));  // four pixels: not yet
  EXPECT_TRUE(hand.MoveWithButton(105, 100));
  EXPECT_FALSE(hand.MoveWithButton(120, 100));  // reported once
  ReleaseName(m, hand, r, was, true);
  EXPECT_TRUE(m.rows()[r].selected);
  EXPECT_EQ(hand.state(), Hand::Documents);
  // The last row put down empties the hand.
  hand.Press(0, 0);
  was = PressName(m, hand, r);
  ReleaseName(m, hand, r, was, true);
  EXPECT_EQ(m.SelectedCount(), 0u);
  EXPECT_EQ(hand.state(), Hand::Empty);
}

TEST(CarryHand, ACollapsedMessageIsPickedUpAndPutDownWithItsParts) {
  GridModel m = Rows();
  const size_t hello = static_cast<size_t>(Record(m, "Hello"));
  ASSERT_TRUE(m.ToggleCollapse(hello).has_value());
  CarryHand hand;
  bool was = PressName(m, hand, hello);
  ReleaseName(m, hand, hello, was, true);
  EXPECT_EQ(Selected(m), (std::vector<std::string>{"Hello", "a", "b"}));
  was = PressName(m, hand, hello);
  ReleaseName(m, hand, hello, was, true);
  EXPECT_EQ(m.SelectedCount(), 0u);
}

TEST(CarryHand, ShiftAddsTheRowsBetweenAndCancellingClearsEverything) {
  GridModel m = Rows();
  CarryHand hand;
  const size_t first = m.RecordOfVisible(0), last = m.RecordOfVisible(m.VisibleCount() - 1);
  bool was = PressName(m, hand, first);
  ReleaseName(m, hand, first, was, true);
  ExtendSelection(m, hand, last);
  EXPECT_EQ(m.SelectedCount(), m.VisibleCount());
  EXPECT_EQ(hand.currentRecord(), static_cast<int>(last));
  hand.Press(1, 1);
  hand.MoveWithButton(50, 50);
  hand.PutDown();
  EXPECT_EQ(hand.state(), Hand::Empty);
  EXPECT_FALSE(hand.PressDragging());
}

TEST(CarryHand, ASnapshotComesBackAsDocumentsWhenItsCurrentRowIsListedAgain) {
  GridModel m = Rows();
  CarryHand hand;
  const size_t r = static_cast<size_t>(Record(m, "new"));
  m.SetSelected(r, true);
  hand.HoldDocuments(static_cast<int>(r));
  hand.TakeSnapshot(store::SnapshotSelection(m.rows()), static_cast<int>(r));
  EXPECT_EQ(hand.state(), Hand::Snapshot);
  DocRows other{Rec("x", "doc", 1), Rec("new", "doc", 300)};
  const auto again = hand.Reselect(other);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0], 1u);
  EXPECT_EQ(hand.state(), Hand::Documents);
  EXPECT_EQ(hand.currentRecord(), 1);
}

TEST(CarryHand, CursorsAndPicturesFollowTheHand) {
  struct Case {
    CursorInput in;
    int cursor;
  } cases[] = {
      {{Hand::Empty}, ccArrow},
      {{Hand::Documents, 1}, ccDrag},
      {{Hand::Documents, 2}, ccMultiDrag},
      {{Hand::Documents, 2, true}, ccDragAddr},
      {{Hand::Snapshot, 3}, ccMultiDrag},
      {{Hand::Folder}, ccDragFolder},
      {{Hand::Sticker}, ccDragSticker},
      {{Hand::MailSorting}, ccMailSort},
      {{Hand::CustomiseIcons, 0, false, true}, ccFont},
      {{Hand::CustomiseIcons, 0, false, false}, ccNoDrop},
      {{Hand::MoveIcons, 0, false, true, true}, ccHand2},
      {{Hand::MoveIcons, 0, false, true, false}, ccHand},
      {{Hand::Documents, 1, false, false, false, true}, ccBusy},
  };
  for (const auto& c : cases) EXPECT_EQ(CarryCursorOf(c.in), c.cursor) << static_cast<int>(c.in.hand);
  const DragPicture rows = DragPictureOf(Hand::Documents), folder = DragPictureOf(Hand::Folder);
  EXPECT_TRUE(rows.shown);
  EXPECT_EQ(rows.offsetX, -32);
  EXPECT_EQ(rows.offsetY, 16);
  EXPECT_EQ(folder.offsetX, -8);
  // Documents carried to another tab are still seen in hand.
  EXPECT_TRUE(DragPictureOf(Hand::Snapshot).shown);
  EXPECT_EQ(DragPictureOf(Hand::Snapshot).offsetX, -32);
  EXPECT_FALSE(DragPictureOf(Hand::Sticker).shown);
  auto pr = DragPictureRows(3, 24, 1000);
  EXPECT_EQ(pr.rows, 3u);
  EXPECT_FALSE(pr.ellipsis);
  pr = DragPictureRows(500, 24, 1000);
  EXPECT_EQ(pr.rows, 10u);
  EXPECT_TRUE(pr.ellipsis);
  pr = DragPictureRows(500, 24, 100);  // four rows fit: three and "..."
  EXPECT_EQ(pr.rows, 3u);
  EXPECT_TRUE(pr.ellipsis);
}

TreeNode Node(std::string path, int image = niFolder) {
  TreeNode n;
  n.path = std::move(path);
  n.image = image;
  return n;
}

TEST(CarryDrop, ModifiersBusyParentsAndStickers) {
  TreeNode target = Node("/docs/B/");
  DropInput in;
  in.what = DragKind::Documents;
  in.target = &target;
  in.sourceFolder = "/docs/A/";
  in.count = 2;
  in.trashFolder = "/docs/TRASH/";
  in.copyMoveIsMove = false;
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::Copy);
  EXPECT_EQ(PlanCarryDrop(in, false, false, true).action, DropAction::Move);  // Shift
  in.copyMoveIsMove = true;
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::Move);
  EXPECT_EQ(PlanCarryDrop(in, false, true, false).action, DropAction::Copy);  // Ctrl
  const DropDecision busy = PlanCarryDrop(in, true, false, false);
  EXPECT_EQ(busy.action, DropAction::Refuse);
  EXPECT_EQ(busy.message, kBusyDropRefusal);
  // Out of the trash it always moves.
  in.sourceFolder = "/docs/TRASH/";
  EXPECT_EQ(PlanCarryDrop(in, false, true, false).action, DropAction::Move);
  // A folder on its own parent, on itself or below it stays.
  in.what = DragKind::Folder;
  in.sourceFolder = "/docs/B/C/";
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::Ignore);
  TreeNode below = Node("/docs/B/C/D/");
  in.target = &below;
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::Ignore);
  TreeNode elsewhere = Node("/docs/E/");
  in.target = &elsewhere;
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::Move);
  // A sticker becomes a document in any folder that takes files, never in a restricted one.
  in.what = DragKind::Stickers;
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::MakeSticker);
  TreeNode computer = Node("", niComputer);
  in.target = &computer;
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::Refuse);
  in.tab = GridTab::Tools;
  in.target = &elsewhere;
  EXPECT_EQ(PlanCarryDrop(in, false, false, false).action, DropAction::Ignore);
}

TEST(CarryOutside, UriListsRoundTripOddNamesAndKeepOnlyLocalFiles) {
  const std::vector<std::string> paths = {"/home/u/a b.txt", "/home/u/100%.txt", "/home/u/-x \"q\" `$(y)`",
                                          std::string("/home/u/\xff\xfe.bin")};
  const std::string list = UriListOf(paths);
  EXPECT_EQ(list.substr(0, 25), "file:///home/u/a%20b.txt\r");
  EXPECT_EQ(LocalPathsOfUriList(list), paths);
  const std::string mixed =
      "# comment\r\nhttp://example.org/x.txt\r\nfile://otherhost/etc/passwd\r\nfile:///tmp/ok.txt\r\n"
      "file://localhost/tmp/two.txt\r\nnot a uri\r\nfile:///tmp/dir/\r\n";
  EXPECT_EQ(LocalPathsOfUriList(mixed), (std::vector<std::string>{"/tmp/ok.txt", "/tmp/two.txt", "/tmp/dir"}));
  bool cut = false;
  EXPECT_EQ(PathsOfCopiedFiles(CopiedFilesText(paths, true), &cut), paths);
  EXPECT_TRUE(cut);
  EXPECT_EQ(PathsOfCopiedFiles(CopiedFilesText(paths, false), &cut), paths);
  EXPECT_FALSE(cut);
}

TEST(CarryOutside, FilesAreCopiedOrMovedWithShiftAndFoldersAndOwnFilesAreSpared) {
  px::test::TempHome home;
  const std::string out = home.path("out/"), docs = home.path("Documents/");
  px::test::makeDirs(out + "sub");
  px::test::makeDirs(docs + "B");
  px::test::writeFile(out + "one.txt", "1");
  px::test::writeFile(docs + "mine.txt", "m");
  std::filesystem::create_symlink(out + "one.txt", out + "link.txt");
  TreeNode target = Node(docs + "B/");
  const std::vector<std::string> dropped = {out + "one.txt", out + "sub", out + "link.txt", docs + "mine.txt",
                                            out + "missing.txt"};
  OutsideDropPlan p = PlanOutsideDrop(&target, dropped, false, false, {docs});
  EXPECT_EQ(p.action, DropAction::Copy);
  EXPECT_EQ(p.files, (std::vector<std::string>{out + "one.txt", docs + "mine.txt"}));
  EXPECT_NE(p.message.find(out + "sub"), std::string::npos);
  p = PlanOutsideDrop(&target, dropped, false, true, {docs});
  EXPECT_EQ(p.action, DropAction::Move);
  EXPECT_EQ(p.copiedInstead, (std::vector<std::string>{docs + "mine.txt"}));
  EXPECT_EQ(PlanOutsideDrop(&target, dropped, true, false, {docs}).action, DropAction::Refuse);
  TreeNode computer = Node("", niComputer);
  EXPECT_EQ(PlanOutsideDrop(&computer, dropped, false, false, {docs}).action, DropAction::Refuse);
  EXPECT_EQ(PlanOutsideDrop(&target, {out + "sub"}, false, false, {docs}).action, DropAction::Refuse);
}

TEST(CarryClipboard, PasteCopiesMovesDuplicatesOrRefuses) {
  DeskClipboard clip;
  TreeNode b = Node("/docs/B/"), a = Node("/docs/A/"), trash = Node("/docs/TRASH/", niTrashFull);
  EXPECT_EQ(PlanPaste(clip, &b, false, "/docs/TRASH/").action, DropAction::Ignore);
  store::SelectionRecord s;
  s.folder = "/docs/A/";
  s.name = "x.txt";
  s.ext = "txt";
  clip.Put({s}, false);
  EXPECT_EQ(clip.Paths(), (std::vector<std::string>{"/docs/A/x.txt"}));
  EXPECT_EQ(PlanPaste(clip, &b, false, "/docs/TRASH/").action, DropAction::Copy);
  EXPECT_EQ(PlanPaste(clip, &a, false, "/docs/TRASH/").action, DropAction::Duplicate);
  EXPECT_EQ(PlanPaste(clip, &trash, false, "/docs/TRASH/").action, DropAction::Move);
  EXPECT_EQ(PlanPaste(clip, &b, true, "/docs/TRASH/").action, DropAction::Refuse);
  clip.Put({s}, true);
  EXPECT_EQ(PlanPaste(clip, &b, false, "/docs/TRASH/").action, DropAction::Move);
  EXPECT_EQ(PlanPaste(clip, &a, false, "/docs/TRASH/").action, DropAction::Ignore);
  TreeNode computer = Node("", niComputer);
  EXPECT_EQ(PlanPaste(clip, &computer, false, "/docs/TRASH/").action, DropAction::Refuse);
  // A folder cannot be pasted into itself.
  store::SelectionRecord f;
  f.folder = "/docs/";
  f.name = "B";
  clip.Put({f}, false);
  TreeNode inside = Node("/docs/B/C/");
  EXPECT_EQ(PlanPaste(clip, &inside, false, "/docs/TRASH/").action, DropAction::Refuse);
}

TEST(CarryTrash, RestoreGoesHomeWhenTheFolderIsStillThere) {
  EXPECT_EQ(RestoreTargetOf("/docs/A/", "/docs/", true), "/docs/A/");
  EXPECT_EQ(RestoreTargetOf("/docs/A", "/docs/", true), "/docs/A/");
  EXPECT_EQ(RestoreTargetOf("/docs/A/", "/docs/", false), "/docs/");
  EXPECT_EQ(RestoreTargetOf("", "/docs/", true), "/docs/");
}

TEST(CarryAutoExpand, HoveringACollapsedNodeHalfASecondOpensItOnce) {
  TreeNode n = Node("/docs/A/");
  n.hasSubfolders = true;
  TreeNode leaf = Node("/docs/L/");
  AutoExpand ae;
  ae.Hover(&n, 1000);
  EXPECT_EQ(ae.Due(1499), nullptr);
  EXPECT_EQ(ae.Due(1500), &n);
  EXPECT_EQ(ae.Due(1600), nullptr);
  ae.Hover(&leaf, 1700);
  EXPECT_EQ(ae.Due(3000), nullptr);  // nothing below it
  ae.Hover(&n, 3000);
  n.expanded = true;
  EXPECT_EQ(ae.Due(4000), nullptr);
  n.expanded = false;
  ae.Hover(nullptr, 4000);
  ae.Hover(&n, 4100);
  ae.Hover(&n, 4500);  // still the same hover
  EXPECT_EQ(ae.Due(4600), &n);
}

}  // namespace
}  // namespace px::desk
