// The folder tree views over their models inside the desk's browser: lazy opening, the node's
// open state, selection reaching the browser, and reloads that keep open folders open.
#include <gtest/gtest.h>

#include "desk/desk_browser.h"
#include "desk/desk_state.h"
#include "desk/ui/tree_view.h"
#include "foundation/locations.h"
#include "support/test_support.h"
#include "ui/browser_frame.h"

#include <QLabel>
#include <QTabWidget>
#include <QTest>

#include <filesystem>

namespace px::desk {
namespace {

class TreeViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    state.locations = ComputeLocations();
    MakeDataFolders(state.locations);
    docs = state.locations.documents;
    test::makeDirs(docs + "Work/Sub/Deep");
    test::makeDirs(docs + "Work/Other");
    test::makeDirs(docs + "Zeta");
    host.resize(700, 500);
    view_ = LayBrowser(state, host, trees, gridHost, status, QRect(0, 0, 300, 500), QRect(300, 0, 400, 500));
    browser = &view_->browser();
    browser->BuildTrees();
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    view_->SelectFirstNode();
  }
  void TearDown() override { view_.reset(); }

  TPXTreeView* view() { return view_->tree(0); }
  FolderTreeModel& model() { return view()->Model(); }
  TreeNode* Node(const std::string& rel) { return model().FindNode(docs + rel + "/", false); }

  test::TempHome home;
  DeskState state;
  std::string docs;
  QWidget host;
  QTabWidget* trees = nullptr;
  QWidget* gridHost = nullptr;
  QLabel* status = nullptr;
  std::unique_ptr<DeskBrowserView> view_;
  DeskBrowser* browser = nullptr;
};

TEST_F(TreeViewTest, AFolderIsReadWhenItOpensAndRemembersWhetherItIsOpen) {
  EXPECT_EQ(view()->objectName(), QStringLiteral("FileTree"));
  EXPECT_EQ(view_->tree(1)->objectName(), QStringLiteral("AddrTree"));
  EXPECT_EQ(view_->tree(2)->objectName(), QStringLiteral("ToolTree"));
  TreeNode* work = Node("Work");
  ASSERT_NE(work, nullptr);
  EXPECT_FALSE(work->childrenLoaded);
  EXPECT_TRUE(model().hasChildren(model().IndexOf(work)));  // the expander shows before reading

  view()->ExpandNode(work);
  EXPECT_TRUE(work->childrenLoaded);
  EXPECT_TRUE(work->expanded);
  EXPECT_EQ(model().rowCount(model().IndexOf(work)), 2);
  TreeNode* sub = Node("Work/Sub");
  ASSERT_NE(sub, nullptr);
  EXPECT_FALSE(sub->childrenLoaded);  // only the folder opened is read
  EXPECT_FALSE(Node("Zeta")->childrenLoaded);

  view()->collapse(model().IndexOf(work));
  EXPECT_FALSE(work->expanded);
  EXPECT_TRUE(work->childrenLoaded);

  // The keyboard opens a folder the same way.
  view()->setFocus();
  view()->SelectNode(Node("Zeta"));
  view()->SelectNode(work);
  QTest::keyClick(view(), Qt::Key_Right);
  EXPECT_TRUE(work->expanded);
  EXPECT_TRUE(view()->isExpanded(model().IndexOf(work)));
}

TEST_F(TreeViewTest, TheNodeMadeCurrentIsShownByTheBrowser) {
  TreeNode* work = Node("Work");
  ASSERT_NE(work, nullptr);
  const QRect r = view()->NodeRect(work);
  ASSERT_TRUE(r.isValid());
  QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, r.center());
  EXPECT_EQ(view()->NodeAt(r.center()), work);
  EXPECT_EQ(view()->CurrentNode(), work);
  EXPECT_EQ(browser->ShownNode(), work);
  EXPECT_EQ(browser->ShownFolder(), docs + "Work/");

  view()->setFocus();
  QTest::keyClick(view(), Qt::Key_Down);
  EXPECT_EQ(browser->ShownNode(), Node("Zeta"));

  // Selecting from the program with the view's signals held back shows nothing new.
  const bool blocked = view()->blockSignals(true);
  view()->SelectNode(work);
  view()->blockSignals(blocked);
  EXPECT_EQ(browser->ShownNode(), Node("Zeta"));
}

TEST_F(TreeViewTest, AReloadKeepsOpenFoldersOpenAndTheShownOneSelected) {
  state.initialised = true;
  TreeNode* work = Node("Work");
  browser->ShowNode(work, true);
  TreeNode* sub = Node("Work/Sub");
  ASSERT_NE(sub, nullptr);
  view()->ExpandNode(sub);
  browser->ShowNode(sub);
  ASSERT_EQ(view()->CurrentNode(), sub);
  browser->CheckFolderChanges();  // the open folders are watched from here on

  test::makeDirs(docs + "Work/Added");
  std::filesystem::remove_all(docs + "Work/Other");
  browser->CheckFolderChanges();

  EXPECT_NE(Node("Work/Added"), nullptr);
  EXPECT_EQ(Node("Work/Other"), nullptr);
  EXPECT_EQ(Node("Work/Sub"), sub);  // the same node, still open
  EXPECT_TRUE(view()->isExpanded(model().IndexOf(work)));
  EXPECT_TRUE(view()->isExpanded(model().IndexOf(sub)));
  EXPECT_EQ(model().rowCount(model().IndexOf(sub)), 1);
  EXPECT_EQ(view()->CurrentNode(), sub);
  EXPECT_EQ(browser->ShownNode(), sub);

  // A node the user closed stays closed through the next reload.
  view()->collapse(model().IndexOf(sub));
  test::makeDirs(docs + "Work/More");
  browser->CheckFolderChanges();
  EXPECT_NE(Node("Work/More"), nullptr);
  TreeNode* closed = Node("Work/Sub");  // a closed node is read anew
  ASSERT_NE(closed, nullptr);
  EXPECT_FALSE(closed->expanded);
  EXPECT_FALSE(view()->isExpanded(model().IndexOf(closed)));
  EXPECT_TRUE(view()->isExpanded(model().IndexOf(work)));
  EXPECT_EQ(browser->ShownNode(), closed);
  EXPECT_EQ(view()->CurrentNode(), closed);
}

}  // namespace
}  // namespace px::desk
