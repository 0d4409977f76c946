#include "store/newmail_list.h"
#include "store/unread_list.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace px::store;
using px::test::TempHome;
using px::test::makeDirs;
using px::test::readFile;
using px::test::writeFile;

namespace {

struct UnreadFixture : ::testing::Test {
  TempHome home;
  std::string dir(const std::string& rel) {
    makeDirs(home.path(rel));
    return home.path(rel) + "/";
  }
  std::string file() { return home.path("unread.lst"); }
};

}  // namespace

TEST_F(UnreadFixture, LoadDropsUnusableLinesAndKeepsFolderNamesWithEquals) {
  const std::string a = dir("Docs/a=b"), b = dir("Docs/B"), lower = dir("Docs/old");
  const std::string gone = home.path("Docs/Gone/");
  writeFile(file(), a + "=4\r\n" + b + "=2\n" + gone + "=3\r\n" + b + "=0\r\n" +
                        dir("Docs/zero") + "=0\r\n" + dir("Docs/neg") + "=-2\r\n" +
                        dir("Docs/x") + "=x1\r\n" + "no equals sign\r\n" + lower + "=1\r\n" +
                        "C:\\WINDOWS\\=5\r\n");
  UnreadList list;
  list.Load(file());
  EXPECT_EQ(list.Size(), 4u);
  EXPECT_EQ(list.GetUnreadCount("C:\\WINDOWS\\").own, 5);  // foreign: kept, not judged
  EXPECT_EQ(list.GetUnreadCount(a).own, 4);
  EXPECT_EQ(list.GetUnreadCount(b).own, 2);  // the first line of a folder wins
  EXPECT_EQ(list.GetUnreadCount(lower).own, 1);
  EXPECT_EQ(list.GetUnreadCount(gone).own, 0);
  EXPECT_FALSE(list.Changed());
}

TEST_F(UnreadFixture, LineWithoutFinalSeparatorStillNamesItsFolder) {
  std::string a = dir("Docs/A");
  a.pop_back();
  writeFile(file(), a + "=2\r\n" + dir("Docs/Huge") + "=9223372036854775807\r\n");
  UnreadList list;
  list.Load(file());
  EXPECT_EQ(list.GetUnreadCount(a + "/").own, 2);
  list.ChangeUnreadCount(a + "/", -1, true);
  EXPECT_EQ(list.Size(), 1u);
  EXPECT_EQ(list.GetUnreadCount(a).own, 1);
}

TEST_F(UnreadFixture, PathsKeepTheirCase) {
  const std::string upper = dir("Docs/Mail"), lower = dir("Docs/mail");
  UnreadList list;
  list.ChangeUnreadCount(upper, 2, false);
  EXPECT_EQ(list.GetUnreadCount(upper).own, 2);
  EXPECT_EQ(list.GetUnreadCount(lower).own, 0);
  list.ChangeUnreadCount(lower, 5, true);
  ASSERT_TRUE(list.Save(file()).ok());
  UnreadList again;
  again.Load(file());
  EXPECT_EQ(again.GetUnreadCount(upper).own, 2);
  EXPECT_EQ(again.GetUnreadCount(lower).own, 5);
}

TEST_F(UnreadFixture, OwnAndTotalAreSeparateCountsBeyondSixteenBits) {
  const std::string top = dir("Docs/top"), sub = dir("Docs/top/sub"), sibling = dir("Docs/topper");
  UnreadList list;
  list.ChangeUnreadCount(top, 2, false);
  list.ChangeUnreadCount(sub, 3, false);
  list.ChangeUnreadCount(sibling, 7, false);  // shares the text prefix, not the folder
  EXPECT_EQ(list.GetUnreadCount(top).own, 2);
  EXPECT_EQ(list.GetUnreadCount(top).total, 5);
  EXPECT_EQ(list.GetUnreadCount(home.path("Docs")).total, 12);
  list.ChangeUnreadCount(sub, 70000, false);
  EXPECT_EQ(list.GetUnreadCount(sub).own, 70000);
  EXPECT_EQ(list.GetUnreadCount(top).own, 2);
  EXPECT_EQ(list.GetUnreadCount(top).total, 70002);
}

TEST_F(UnreadFixture, ChangesNotifyAndRemoveEntriesAtZero) {
  const std::string f = dir("Docs/f");
  UnreadList list;
  std::vector<std::string> refreshed;
  list.SetNodeRefresh([&](const std::string& folder) { refreshed.push_back(folder); });
  list.ChangeUnreadCount(f, -1, true);  // no entry: nothing happens
  EXPECT_FALSE(list.Changed());
  EXPECT_TRUE(refreshed.empty());
  list.ChangeUnreadCount(f, 1, true);
  list.ChangeUnreadCount(f, 1, true);
  list.ChangeUnreadCount(f, -5, true);
  EXPECT_EQ(list.Size(), 0u);
  EXPECT_TRUE(list.Changed());
  EXPECT_EQ(refreshed, (std::vector<std::string>{f, f, f}));
}

TEST_F(UnreadFixture, SaveOnlyWhenChangedAndAtomically) {
  const std::string f = dir("Docs/f");
  writeFile(file(), f + "=3\r\n");
  UnreadList list;
  list.Load(file());
  writeFile(file(), "untouched");
  ASSERT_TRUE(list.Save(file()).ok());
  EXPECT_EQ(readFile(file()), "untouched");
  list.ChangeUnreadCount(f, 1, true);
  ASSERT_TRUE(list.Save(file()).ok());
  EXPECT_EQ(readFile(file()), f + "=4\r\n");
  EXPECT_FALSE(list.Changed());
}

TEST_F(UnreadFixture, SaveIntoReadOnlyFolderReportsAndKeepsOldFile) {
  const std::string d = dir("ro");
  const std::string path = d + "unread.lst";
  writeFile(path, "old");
  chmod(d.c_str(), 0555);
  bool mounted = false;
  if (access(d.c_str(), W_OK) == 0) {
    // Permissions do not stop this user: make the folder a read-only file system instead.
    chmod(d.c_str(), 0755);
    mounted = mount("tmpfs", d.c_str(), "tmpfs", 0, "size=64k") == 0;
    if (!mounted) GTEST_SKIP() << "no way to make a read-only folder here";
    writeFile(path, "old");
    if (mount(nullptr, d.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      umount2(d.c_str(), MNT_DETACH);
      GTEST_SKIP() << "no way to make a read-only folder here";
    }
  }
  UnreadList list;
  list.ChangeUnreadCount(dir("Docs/f"), 1, true);
  px::FileStatus st = list.Save(path);
  chmod(d.c_str(), 0755);
  EXPECT_FALSE(st.ok());
  EXPECT_NE(st.message.find("Cannot write " + path), std::string::npos);
  EXPECT_EQ(readFile(path), "old");
  if (mounted) umount2(d.c_str(), MNT_DETACH);
  EXPECT_TRUE(list.Changed());
}

TEST_F(UnreadFixture, MovingAndDeletingFoldersCarriesCounts) {
  const std::string a = dir("Docs/a"), sub = dir("Docs/a/sub"), b = home.path("Docs/b/");
  UnreadList list;
  list.ChangeUnreadCount(a, 1, false);
  list.ChangeUnreadCount(sub, 2, false);
  list.MoveFolder(a, b);
  EXPECT_EQ(list.GetUnreadCount(a).total, 0);
  EXPECT_EQ(list.GetUnreadCount(b).own, 1);
  EXPECT_EQ(list.GetUnreadCount(b + "sub/").own, 2);
  list.ResetTree(b);
  EXPECT_EQ(list.Size(), 0u);
}

TEST_F(UnreadFixture, NewMailListRoundTrip) {
  NewMailList list;
  list.Load(home.path("missing.lst"));
  EXPECT_TRUE(list.Empty());
  EXPECT_TRUE(list.Add(home.path("Docs/In")));
  EXPECT_FALSE(list.Add(home.path("Docs/In/")));
  EXPECT_TRUE(list.Add(home.path("Docs/in/")));
  const std::string path = home.path("newmail.lst");
  ASSERT_TRUE(list.Save(path).ok());
  EXPECT_EQ(readFile(path), home.path("Docs/In/") + "\r\n" + home.path("Docs/in/") + "\r\n");
  NewMailList again;
  again.Load(path);
  EXPECT_TRUE(again.Contains(home.path("Docs/In/")));
  EXPECT_TRUE(again.Remove(home.path("Docs/In/")));
  EXPECT_FALSE(again.Contains(home.path("Docs/In/")));
  EXPECT_TRUE(again.Contains(home.path("Docs/in/")));
}
