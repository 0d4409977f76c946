// What the grid's and the trees' context menus enable.
#include <gtest/gtest.h>

#include "desk/browser_menus.h"

namespace px::desk {
namespace {

struct GridCase {
  const char* what;
  GridMenuInput in;
  bool rename, duplicate, del, newFolder;
};

TEST(BrowserMenus, GridMenuFollowsTheShownNodeAndTheSelection) {
  const GridCase cases[] = {
      {"one row in a folder", {GridTab::Files, false, true, 1, "", false}, true, true, true, true},
      {"two rows", {GridTab::Files, false, true, 2, "", false}, false, false, true, true},
      {"nothing selected", {GridTab::Files, false, true, 0, "", false}, false, false, true, true},
      {"restricted node", {GridTab::Files, true, true, 1, "", false}, false, false, false, false},
      {"shell node without folder", {GridTab::Files, false, false, 1, "", false}, true, true, true, false},
      {"restricted contacts node still deletes", {GridTab::Contacts, true, true, 1, "", false}, false, false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const GridMenu m = DecideGridMenu(c.in);
    EXPECT_TRUE(m.shown);
    EXPECT_EQ(m.rename, c.rename);
    EXPECT_EQ(m.duplicate, c.duplicate);
    EXPECT_EQ(m.del, c.del);
    EXPECT_EQ(m.newFolder, c.newFolder);
  }
}

TEST(BrowserMenus, GridMenuTextsAndTheToolsTab) {
  GridMenuInput in;
  in.tab = GridTab::Tools;
  EXPECT_FALSE(DecideGridMenu(in).shown);
  in.tab = GridTab::Contacts;
  EXPECT_EQ(DecideGridMenu(in).newFolderText, "New Address Group...");
  in.tab = GridTab::Files;
  EXPECT_EQ(DecideGridMenu(in).newFolderText, "New Folder...");
  EXPECT_EQ(DecideGridMenu(in).blockText, "");
  in.blockableSender = "a@b.example";
  EXPECT_EQ(DecideGridMenu(in).blockText, "Block Sender");
  in.senderBlocked = true;
  EXPECT_EQ(DecideGridMenu(in).blockText, "Unblock Sender");
}

TEST(BrowserMenus, TreeMenuOffersChangesOnOrdinaryFoldersOnly) {
  TreeNode folder;
  folder.image = niFolder;
  folder.path = "/d/Work/";
  TreeNode root;
  root.image = niRoot;
  root.path = "/d/";
  TreeNode trash;
  trash.image = niTrashFull;
  trash.path = "/d/TRASH/";
  TreeNode computer;
  computer.image = niComputer;
  TreeNode locked;
  locked.image = niFolder;
  locked.path = "/d/Locked/";
  locked.restricted = true;
  TreeNode group;
  group.image = niGroup;
  group.path = "/c/Friends/";

  struct Case {
    const char* what;
    GridTab tab;
    const TreeNode* node;
    bool shown, newFolder, movable, empty;
  } const cases[] = {
      {"folder", GridTab::Files, &folder, true, true, true, false},
      {"documents root", GridTab::Files, &root, true, true, false, false},
      {"full trash", GridTab::Files, &trash, true, true, false, true},
      {"computer", GridTab::Files, &computer, true, false, false, false},
      {"restricted folder", GridTab::Files, &locked, true, false, false, false},
      {"address group", GridTab::Contacts, &group, true, true, true, false},
      // The empty space below the nodes has a menu too (what can be made there).
      {"no node", GridTab::Files, nullptr, true, false, false, false},
      {"tools tree", GridTab::Tools, &folder, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const TreeMenu m = DecideTreeMenu(c.tab, c.node);
    EXPECT_EQ(m.shown, c.shown);
    EXPECT_EQ(m.newFolder, c.newFolder);
    EXPECT_EQ(m.rename, c.movable);
    EXPECT_EQ(m.del, c.movable);
    EXPECT_EQ(m.emptyTrash, c.empty);
  }
  EXPECT_EQ(DecideTreeMenu(GridTab::Contacts, &group).newFolderText, "New Address Group...");

  // Empty space: a new folder goes into the shown folder, when one may be made there.
  const TreeMenu space = DecideTreeMenu(GridTab::Files, nullptr, &folder);
  EXPECT_TRUE(space.shown);
  EXPECT_TRUE(space.newFolder);
  EXPECT_FALSE(space.onNode);
  EXPECT_FALSE(space.rename || space.del || space.emptyTrash);
  EXPECT_FALSE(DecideTreeMenu(GridTab::Files, nullptr, &locked).newFolder);
  EXPECT_FALSE(DecideTreeMenu(GridTab::Tools, nullptr, &folder).shown);
}

TEST(GridMenuDecision, MarkAsReadAndUnreadFollowTheSelection) {
  struct Case {
    GridTab tab;
    size_t unread, read;
    bool markRead, markUnread;
  } const cases[] = {
      {GridTab::Files, 1, 0, true, false},
      {GridTab::Files, 0, 2, false, true},
      {GridTab::Files, 1, 1, true, true},
      {GridTab::Files, 0, 0, false, false},
      {GridTab::Contacts, 1, 1, false, false},
  };
  for (const auto& c : cases) {
    GridMenuInput in;
    in.tab = c.tab;
    in.selected = c.unread + c.read;
    in.selectedUnread = c.unread;
    in.selectedRead = c.read;
    const GridMenu m = DecideGridMenu(in);
    EXPECT_EQ(m.markRead, c.markRead);
    EXPECT_EQ(m.markUnread, c.markUnread);
    EXPECT_TRUE(m.newMessage);
  }
}

}  // namespace
}  // namespace px::desk
