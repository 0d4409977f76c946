// Copy to... and Move to...: what the selection takes along and which folders may receive it.
#include <gtest/gtest.h>

#include "mailbox_rows.h"

#include "desk/carry_targets.h"
#include "desk/grid_model.h"

namespace px::desk {
namespace {

using store::DocRecord;
using store::DocRows;

using fixture::Rec;

GridModel Mailbox() { return fixture::MailboxRows(); }

std::vector<std::string> Names(const store::Selection& sel) {
  std::vector<std::string> out;
  for (const auto& s : sel) out.push_back(s.name);
  return out;
}

TEST(CarrySelection, CollapsedMessageTakesItsHiddenParts) {
  GridModel m = Mailbox();
  ASSERT_TRUE(m.ToggleCollapse(1).has_value());  // collapse the message
  m.SetSelected(1, true);
  m.SetSelected(0, true);
  EXPECT_EQ(Names(SelectionWithHiddenParts(m.rows())),
            (std::vector<std::string>{"new.doc", "Hello.txt", "a.pdf", "b.jpg"}));
}

TEST(CarrySelection, OpenMessageTakesOnlyWhatIsSelected) {
  GridModel m = Mailbox();
  m.SetSelected(1, true);
  m.SetSelected(3, true);
  EXPECT_EQ(Names(SelectionWithHiddenParts(m.rows())), (std::vector<std::string>{"Hello.txt", "b.jpg"}));
  // A lone part of an open message goes alone.
  GridModel n = Mailbox();
  n.SetSelected(2, true);
  EXPECT_EQ(Names(SelectionWithHiddenParts(n.rows())), (std::vector<std::string>{"a.pdf"}));
}

// A tree node with the fields the carry targets look at.
TreeNode Node(const std::string& caption, const std::string& path, int image, bool restricted = false) {
  TreeNode n;
  n.caption = caption;
  n.path = path;
  n.image = image;
  n.restricted = restricted;
  return n;
}

TEST(CarryTarget, RefusesWhatCannotReceive) {
  const TreeNode folder = Node("A", "/docs/A/", niFolder);
  const TreeNode restricted = Node("R", "/docs/R/", niFolder, true);
  const TreeNode shell = Node("My Computer", "", niComputer);
  const TreeNode fav = Node("Favorites", "/data/fav/", niFavorites);
  const TreeNode trash = Node("Trash", "/docs/TRASH/", niTrashEmpty);
  const TreeNode inner = Node("B", "/docs/A/B/", niFolder);
  const std::vector<std::string> none;
  struct Case {
    const TreeNode* target;
    std::vector<std::string> sources, folders;
    bool move, allowed;
  } cases[] = {
      {&folder, {"/docs/"}, none, true, true},
      {&folder, {"/docs/"}, none, false, true},
      {&trash, {"/docs/"}, none, true, true},
      {nullptr, {"/docs/"}, none, false, false},
      {&restricted, {"/docs/"}, none, false, false},
      {&shell, {"/docs/"}, none, false, false},
      {&fav, {"/docs/"}, none, false, false},
      // Moving into the folder the files are in does nothing; copying there makes copies.
      {&folder, {"/docs/A/"}, none, true, false},
      {&folder, {"/docs/A/"}, none, false, true},
      {&folder, {"/docs/A/", "/docs/"}, none, true, true},
      // A folder cannot go into itself or below itself.
      {&folder, {"/docs/"}, {"/docs/A/"}, true, false},
      {&inner, {"/docs/"}, {"/docs/A/"}, false, false},
      {&inner, {"/docs/"}, {"/docs/AB/"}, false, true},
  };
  for (const auto& c : cases) {
    const std::string refusal = CarryTargetRefusal(c.target, c.sources, c.folders, c.move);
    EXPECT_EQ(refusal.empty(), c.allowed) << (c.target ? c.target->path : "null") << " move=" << c.move;
  }
}

}  // namespace
}  // namespace px::desk
