// Change notification of the shown folder.
#include "store/folder_watch.h"
#include "store/tree_watch.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <vector>

namespace px::store {
namespace {

class WatchFolder : public ::testing::Test {
protected:
  void SetUp() override {
    folder = home.path("Documents/Shown/");
    test::makeDirs(folder);
    watch.SetRelist([this](const std::string& f) {
      relisted.push_back(f);
      if (touchDuringRelist) test::writeFile(folder + "made-by-listing.tmp", "x");
    });
    ASSERT_TRUE(watch.Watch(folder));
  }

  test::TempHome home;
  std::string folder;
  FolderWatch watch;
  std::vector<std::string> relisted;
  bool touchDuringRelist = false;
};

TEST_F(WatchFolder, OwnOperationsAreSwallowed) {
  EXPECT_FALSE(watch.CheckFolderChanges(true));
  test::writeFile(folder + "new.txt", "x");
  // An operation of the program checks with refresh clear: no second listing follows.
  EXPECT_TRUE(watch.CheckFolderChanges(false));
  EXPECT_FALSE(watch.CheckFolderChanges(true));
  EXPECT_TRUE(relisted.empty());
}

TEST_F(WatchFolder, OutsideChangesListAgainOnce) {
  touchDuringRelist = true;
  test::writeFile(folder + "a.txt", "x");
  std::rename((folder + "a.txt").c_str(), (folder + "b.txt").c_str());
  EXPECT_TRUE(watch.CheckFolderChanges(true));
  EXPECT_EQ(relisted, std::vector<std::string>{folder});
  // What the listing itself changed does not list again.
  EXPECT_FALSE(watch.CheckFolderChanges(true));
  EXPECT_EQ(relisted.size(), 1u);
}

TEST_F(WatchFolder, IndexSavesAndHiddenFilesAreNotChanges) {
  test::writeFile(folder + ".Plumadex.ini.tmp1", "[a]\r\n");
  std::rename((folder + ".Plumadex.ini.tmp1").c_str(), (folder + "Plumadex.ini").c_str());
  test::writeFile(folder + ".hidden", "x");
  EXPECT_FALSE(watch.CheckFolderChanges(true));
  EXPECT_TRUE(relisted.empty());
}

TEST_F(WatchFolder, SubfoldersAreNotWatched) {
  test::makeDirs(folder + "sub");
  EXPECT_TRUE(watch.CheckFolderChanges(false));  // the subfolder's name is a change here
  test::writeFile(folder + "sub/deep.txt", "x");
  EXPECT_FALSE(watch.CheckFolderChanges(true));
}

TEST_F(WatchFolder, QuietRootsNeverListAgain) {
  watch.SetQuietRoots(home.path("tmp"), home.path("Documents"));
  test::writeFile(folder + "a.txt", "x");
  EXPECT_TRUE(watch.CheckFolderChanges(true));
  EXPECT_TRUE(relisted.empty());
}

TEST_F(WatchFolder, SwitchingFoldersDropsTheOldFoldersChanges) {
  const std::string other = home.path("Documents/Other/");
  test::makeDirs(other);
  test::writeFile(folder + "a.txt", "x");
  ASSERT_TRUE(watch.Watch(other));
  EXPECT_FALSE(watch.CheckFolderChanges(true));
  test::writeFile(folder + "b.txt", "x");
  EXPECT_FALSE(watch.CheckFolderChanges(true));
  test::writeFile(other + "c.txt", "x");
  EXPECT_TRUE(watch.CheckFolderChanges(true));
  EXPECT_EQ(relisted, std::vector<std::string>{other});
  watch.Close();
  test::writeFile(other + "d.txt", "x");
  EXPECT_FALSE(watch.CheckFolderChanges(true));
  EXPECT_FALSE(watch.Watch(home.path("missing/")));
  EXPECT_FALSE(watch.Watching());
}

TEST_F(WatchFolder, RemovedFolderIsReportedOnce) {
  ASSERT_EQ(std::remove(folder.c_str()), 0);
  EXPECT_TRUE(watch.CheckFolderChanges(false));
  EXPECT_FALSE(watch.Watching());
  EXPECT_FALSE(watch.CheckFolderChanges(true));
}

TEST(TreeWatchTest, SubfoldersMadeRemovedOrRenamedOutsideAreTold) {
  test::TempHome home;
  const std::string docs = home.path("Documents/");
  test::makeDirs(docs + "A/Old");
  TreeWatch watch;
  watch.SetFolders({docs, docs + "A/"});
  EXPECT_EQ(watch.Folders().size(), 2u);
  EXPECT_TRUE(watch.TakeChangedFolders().empty());

  // Files and hidden folders are not the tree's business.
  test::writeFile(docs + "A/note.txt", "x");
  test::makeDirs(docs + ".cache");
  EXPECT_TRUE(watch.TakeChangedFolders().empty());

  test::makeDirs(docs + "New");
  EXPECT_EQ(watch.TakeChangedFolders(), std::vector<std::string>{docs});
  ASSERT_EQ(std::rename((docs + "A/Old").c_str(), (docs + "A/Renamed").c_str()), 0);
  EXPECT_EQ(watch.TakeChangedFolders(), std::vector<std::string>{docs + "A/"});
  ASSERT_EQ(::rmdir((docs + "New").c_str()), 0);
  test::makeDirs(docs + "A/Another");
  EXPECT_EQ(watch.TakeChangedFolders(), (std::vector<std::string>{docs, docs + "A/"}));

  // A folder no longer shown open is not watched any more.
  watch.SetFolders({docs});
  test::makeDirs(docs + "A/Quiet");
  EXPECT_TRUE(watch.TakeChangedFolders().empty());
  // A watched folder that goes away is told, and dropped.
  watch.SetFolders({docs, docs + "A/"});
  std::filesystem::remove_all(docs + "A");
  EXPECT_EQ(watch.TakeChangedFolders(), (std::vector<std::string>{docs, docs + "A/"}));
  EXPECT_EQ(watch.Folders().size(), 1u);
}

}  // namespace
}  // namespace px::store
