// The folder tree's item model: lazy loading, reloads that keep open folders, and the rows,
// indexes and signals a view relies on, checked by Qt's model tester through every change.
#include <gtest/gtest.h>

#include "desk/folder_tree_model.h"
#include "store/index_file.h"
#include "support/test_support.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
#include <QPersistentModelIndex>

#include <filesystem>

namespace px::desk {
namespace {

using test::makeDirs;

// The tester reports through warnings of its own category; each one fails the test.
std::vector<std::string>* gTesterComplaints = nullptr;
QtMessageHandler gPreviousHandler = nullptr;

void CollectComplaints(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
  if (gTesterComplaints && ctx.category && std::string(ctx.category) == "qt.modeltest") {
    gTesterComplaints->push_back(msg.toStdString());
    return;
  }
  if (gPreviousHandler) gPreviousHandler(type, ctx, msg);
}

class FolderTreeModelTest : public ::testing::Test {
protected:
  void SetUp() override {
    docs = home.path("Documents/");
    makeDirs(docs + "alpha/Inner/Deep");
    makeDirs(docs + "alpha/Second");
    makeDirs(docs + "beta");
    makeDirs(docs + "TRASH");
    env.documentsFolder = docs;
    env.trashFolder = docs + "TRASH/";
    env.contactsFolder = home.path("data/Contacts/");
    env.registry = &registry;
    env.volumes = [] { return std::vector<MountItem>{}; };
    env.networkPlaces = [] { return std::vector<MountItem>{}; };
    env.unreadOf = [this](const std::string& f) {
      store::UnreadCount c;
      if (f == docs + "alpha/") c = {2, 5};
      return c;
    };
    root = MakeFilesRoot(env);
    model.SetEnvironment(&env);
    model.SetRoot(root.get());
    gTesterComplaints = &complaints;
    gPreviousHandler = qInstallMessageHandler(CollectComplaints);
  }
  void TearDown() override {
    qInstallMessageHandler(gPreviousHandler);
    gTesterComplaints = nullptr;
    EXPECT_TRUE(complaints.empty()) << complaints.front();
  }

  TreeNode* Child(TreeNode* parent, const std::string& caption) {
    for (auto& c : parent->children)
      if (c->caption == caption) return c.get();
    return nullptr;
  }
  QModelIndex Index(TreeNode* n) { return model.IndexOf(n); }
  std::vector<std::string> RowCaptions(const QModelIndex& parent) {
    std::vector<std::string> out;
    for (int r = 0; r < model.rowCount(parent); ++r)
      out.push_back(model.index(r, 0, parent).data().toString().toStdString());
    return out;
  }

  test::TempHome home;
  std::string docs;
  store::IniRegistry registry;
  TreeEnvironment env;
  std::unique_ptr<TreeNode> root;
  FolderTreeModel model;
  std::vector<std::string> complaints;
};

TEST_F(FolderTreeModelTest, RowsIndexesAndRolesFollowTheNodes) {
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  ASSERT_EQ(model.rowCount(), 1);
  const QModelIndex top = model.index(0, 0);
  EXPECT_EQ(FolderTreeModel::NodeOf(top), root.get());
  EXPECT_EQ(top.data().toString().toStdString(), "Documents");
  EXPECT_EQ(top.data(FolderTreeModel::ImageRole).toInt(), niRoot);
  TreeNode* alpha = Child(root.get(), "alpha");
  ASSERT_NE(alpha, nullptr);
  const QModelIndex a = Index(alpha);
  EXPECT_EQ(a.parent(), top);
  EXPECT_EQ(FolderTreeModel::NodeOf(a), alpha);
  EXPECT_EQ(model.index(a.row(), 0, top), a);
  // Collapsed: the total below the folder; open: its own.
  EXPECT_EQ(a.data(FolderTreeModel::CountRole).toString().toStdString(), " [5] ");
  alpha->expanded = true;
  EXPECT_EQ(a.data(FolderTreeModel::CountRole).toString().toStdString(), " [2] ");
  alpha->expanded = false;

  FolderTreeModel::Marks marks;
  marks.newMailBelow = [this](const std::string& f) { return (docs + "alpha/Inner/").starts_with(f); };
  model.SetMarks(marks);
  EXPECT_EQ(a.data(FolderTreeModel::MarkRole).toInt(), static_cast<int>(NodeMark::NewMail));
  EXPECT_EQ(Index(Child(root.get(), "beta")).data(FolderTreeModel::MarkRole).toInt(),
            static_cast<int>(NodeMark::None));

  // Deep nodes: their index leads back up through their parents.
  TreeNode* deep = model.FindNode(docs + "alpha/Inner/Deep/", true);
  ASSERT_NE(deep, nullptr);
  QModelIndex up = Index(deep);
  std::vector<std::string> path;
  for (; up.isValid(); up = up.parent()) path.push_back(up.data().toString().toStdString());
  EXPECT_EQ(path, (std::vector<std::string>{"Deep", "Inner", "alpha", "Documents"}));
  // A node of another tree has no index here.
  TreeNode stranger;
  EXPECT_FALSE(Index(&stranger).isValid());
  EXPECT_FALSE(model.Contains(&stranger));
  EXPECT_TRUE(model.Contains(deep));
}

TEST_F(FolderTreeModelTest, ReloadKeepsOpenChildrenAndReplacesTheOthers) {
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  TreeNode* alpha = Child(root.get(), "alpha");
  TreeNode* beta = Child(root.get(), "beta");
  model.Load(alpha);
  alpha->expanded = true;
  TreeNode* inner = Child(alpha, "Inner");
  ASSERT_NE(inner, nullptr);
  model.Load(inner);
  inner->expanded = true;
  const QPersistentModelIndex betaIndex(Index(beta));

  std::vector<TreeNode*> wanted;
  QObject::connect(&model, &FolderTreeModel::ExpandWanted, [&](const QModelIndex& i) {
    wanted.push_back(FolderTreeModel::NodeOf(i));
  });
  makeDirs(docs + "gamma");
  std::filesystem::remove_all(docs + "beta");
  model.Reload(root.get());

  EXPECT_EQ(Child(root.get(), "alpha"), alpha);  // the same node, with its subtree
  EXPECT_EQ(Child(alpha, "Inner"), inner);
  EXPECT_EQ(Child(root.get(), "beta"), nullptr);
  ASSERT_NE(Child(root.get(), "gamma"), nullptr);
  EXPECT_FALSE(betaIndex.isValid());  // its rows left before the node was freed
  EXPECT_EQ(model.rowCount(Index(alpha)), 2);
  EXPECT_EQ(RowCaptions(Index(inner)), (std::vector<std::string>{"Deep"}));
  // The views open again what was open: the root, alpha and Inner.
  EXPECT_EQ(wanted, (std::vector<TreeNode*>{root.get(), alpha, inner}));

  // A folder made on disk below an open node shows after that node's reload alone.
  makeDirs(docs + "alpha/Third");
  model.Reload(alpha);
  EXPECT_EQ(RowCaptions(Index(alpha)), (std::vector<std::string>{"Inner", "Second", "Third"}));
  EXPECT_EQ(Child(alpha, "Inner"), inner);
}

TEST_F(FolderTreeModelTest, ClearAndLoadReplaceTheRowsWhole) {
  // No tester: it opens whatever may be opened after each change.
  TreeNode* alpha = Child(root.get(), "alpha");
  model.Load(alpha);
  ASSERT_EQ(model.rowCount(Index(alpha)), 2);
  const QPersistentModelIndex second(model.index(1, 0, Index(alpha)));
  int removed = 0;
  QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved,
                   [&](const QModelIndex& parent, int first, int last) {
                     // The rows' nodes are still there while they leave.
                     EXPECT_EQ(model.rowCount(parent), 2);
                     EXPECT_EQ(model.index(last, 0, parent).data().toString().toStdString(), "Second");
                     removed += last - first + 1;
                   });
  model.Clear(alpha);
  EXPECT_EQ(removed, 2);
  EXPECT_FALSE(second.isValid());
  EXPECT_EQ(model.rowCount(Index(alpha)), 0);
  EXPECT_FALSE(alpha->childrenLoaded);
  EXPECT_TRUE(model.hasChildren(Index(alpha)));  // its subfolders are read again on opening
  EXPECT_TRUE(model.canFetchMore(Index(alpha)));
  model.fetchMore(Index(alpha));
  EXPECT_EQ(RowCaptions(Index(alpha)), (std::vector<std::string>{"Inner", "Second"}));
  EXPECT_FALSE(model.canFetchMore(Index(alpha)));

  // A folder whose last subfolder went has nothing to open.
  std::filesystem::remove_all(docs + "alpha/Inner");
  std::filesystem::remove_all(docs + "alpha/Second");
  model.Load(alpha);
  EXPECT_EQ(model.rowCount(Index(alpha)), 0);
  EXPECT_FALSE(model.hasChildren(Index(alpha)));
}

TEST_F(FolderTreeModelTest, TheTesterFindsNothingWrongThroughClearAndLoad) {
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
  TreeNode* alpha = Child(root.get(), "alpha");
  model.Load(alpha);
  model.Clear(alpha);
  makeDirs(docs + "alpha/Fourth");
  model.Load(alpha);
  model.Clear(root.get());
  model.Load(root.get());
  EXPECT_NE(Child(root.get(), "alpha"), nullptr);
  QCoreApplication::processEvents();  // opening asked for during a change comes after it
}

TEST_F(FolderTreeModelTest, UnreadCountsAreReadAgainUpTheWay) {
  TreeNode* alpha = Child(root.get(), "alpha");
  model.Load(alpha);
  TreeNode* inner = Child(alpha, "Inner");
  std::vector<TreeNode*> changed;
  QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& a, const QModelIndex& b) {
    EXPECT_EQ(a, b);
    changed.push_back(FolderTreeModel::NodeOf(a));
  });
  env.unreadOf = [this](const std::string& f) {
    return f == docs + "alpha/Inner/" ? store::UnreadCount{3, 3} : store::UnreadCount{0, 3};
  };
  model.RefreshUnread(docs + "alpha/Inner/");
  EXPECT_EQ(inner->unread.own, 3);
  EXPECT_EQ(alpha->unread.total, 3);
  EXPECT_EQ(Child(root.get(), "beta")->unread.total, 0);  // not on the way
  EXPECT_EQ(changed, (std::vector<TreeNode*>{root.get(), alpha, inner}));
  EXPECT_EQ(Index(alpha).data(FolderTreeModel::CountRole).toString().toStdString(), " [3] ");
}

TEST_F(FolderTreeModelTest, OnlyTheFolderOpenedIsRead) {
  // No tester here: it would open every node.
  for (int i = 0; i < 2000; ++i) makeDirs(docs + "big/f" + std::to_string(i) + (i % 100 ? "" : "/sub"));
  model.Reload(root.get());
  TreeNode* big = Child(root.get(), "big");
  TreeNode* alpha = Child(root.get(), "alpha");
  ASSERT_NE(big, nullptr);
  const QModelIndex b = Index(big);
  EXPECT_FALSE(big->childrenLoaded);
  EXPECT_EQ(model.rowCount(b), 0);
  EXPECT_TRUE(model.hasChildren(b));
  ASSERT_TRUE(model.canFetchMore(b));

  int inserted = 0;
  QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                   [&](const QModelIndex& parent, int first, int last) {
                     EXPECT_EQ(FolderTreeModel::NodeOf(parent), big);
                     inserted += last - first + 1;
                   });
  model.fetchMore(b);
  EXPECT_EQ(inserted, 2000);
  EXPECT_EQ(model.rowCount(b), 2000);
  EXPECT_FALSE(alpha->childrenLoaded);
  int withSubfolders = 0;
  for (const auto& c : big->children) {
    EXPECT_FALSE(c->childrenLoaded);
    withSubfolders += c->hasSubfolders;
  }
  EXPECT_EQ(withSubfolders, 20);
  // Row numbers stay right for every child, wherever a view asks first.
  EXPECT_EQ(Index(big->children[1234].get()).row(), 1234);
  EXPECT_EQ(Index(big->children[7].get()).parent(), b);
}

}  // namespace
}  // namespace px::desk
