// The operation transaction on its own: what a commit keeps and what a failed commit puts back.
#include "store/op_transaction.h"

#include "store/newmail_list.h"
#include "store/tree_ops.h"
#include "store/unread_list.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

using namespace px;
using namespace px::store;
using px::test::readFile;
using px::test::writeFile;

namespace {

struct TransactionTest : ::testing::Test {
  px::test::TempHome home;
  IniRegistry registry;
  UnreadList unread;
  NewMailList newMail;
  std::unique_ptr<TPXIniBase> sent;
  std::string a, b;

  void SetUp() override {
    a = home.path("A/");
    b = home.path("B/");
    px::test::makeDirs(a);
    px::test::makeDirs(b);
    sent = std::make_unique<TPXIniBase>(home.path("sent.ini"));
  }
  bool exists(const std::string& p) {
    struct stat st{};
    return ::lstat(p.c_str(), &st) == 0;
  }
  std::string value(const std::string& folder, const std::string& section, const std::string& key) {
    TPXIniFile ini(registry, IndexPathOf(folder));
    return ini.ReadString(section, key, "<none>");
  }
  // Makes the folder's index unsavable: a directory stands where the file would go.
  void BlockIndex(const std::string& folder) { px::test::makeDirs(IndexPathOf(folder)); }
};

TEST_F(TransactionTest, CommitKeepsChangesAndRemovesParkedFiles) {
  writeFile(a + "doc.txt", "d");
  writeFile(a + ".px-deleted-1", "gone");
  {
    OpTransaction tx(registry, &unread, &newMail, sent.get());
    tx.Write(a, "doc.txt", "Title", "Doc");
    tx.Write(a, "doc.txt", "Flags", "512");
    tx.Write(a, "two.txt", "Flags", "512");
    tx.Parked(a + "gone.txt", a + ".px-deleted-1");
    tx.ChangeUnread(a, 2);
    tx.SentWrite("$$$LNK.x", "Path", a);
    EXPECT_GT(tx.Changes(), 0u);
    ASSERT_TRUE(tx.Commit().ok());
    EXPECT_EQ(tx.Changes(), 0u);
    // Nothing is put back after a commit.
    tx.Rollback();
    ASSERT_TRUE(tx.Close().ok());
  }
  EXPECT_FALSE(exists(a + ".px-deleted-1"));
  EXPECT_FALSE(exists(a + "gone.txt"));
  EXPECT_EQ(value(a, "doc.txt", "Title"), "Doc");
  EXPECT_EQ(unread.GetUnreadCount(a).own, 2);
  TPXIniBase reread(home.path("sent.ini"));
  EXPECT_EQ(reread.ReadString("$$$LNK.x", "Path", ""), a);
}

TEST_F(TransactionTest, FailedCommitPutsBackFilesEntriesCountsAndRegister) {
  // Before: a.txt in A with its entry, a parked file, counts, a register entry, a folder.
  writeFile(a + "a.txt", "a");
  {
    TPXIniFile ini(registry, IndexPathOf(a));
    ini.WriteString("a.txt", "Title", "Old");
    ini.WriteString("$$$AB.c.vcf", "Flags", "0");
    ini.DeleteKey("$$$AB.c.vcf", "Flags");  // an empty section: a contact reference
  }
  unread.ChangeUnreadCount(a, 1, false);
  writeFile(a + "p.txt", "parked");
  sent->WriteString("$$$LNK.m", "Path", a);
  px::test::makeDirs(a + "Sub/");
  unread.ChangeUnreadCount(a + "Sub/", 1, false);
  newMail.Add(a + "Sub/");
  BlockIndex(b);

  OpTransaction tx(registry, &unread, &newMail, sent.get());
  // Move a.txt to B with its entry.
  ASSERT_EQ(::rename((a + "a.txt").c_str(), (b + "a.txt").c_str()), 0);
  tx.FileMoved(a + "a.txt", b + "a.txt");
  tx.NamesOf(b).Add("a.txt");
  px::StringList lines = tx.Lines(a, "a.txt");
  tx.Erase(a, "a.txt");
  tx.Remember(b, "a.txt");
  tx.WriteLines(b, "a.txt", lines);
  tx.Erase(a, "$$$AB.c.vcf");
  tx.ChangeUnread(a, -1);
  tx.ChangeUnread(b, 1);
  tx.SentWrite("$$$LNK.m", "Path", b);
  tx.SentWrite("$$$LNK.new", "Path", b);
  // Park p.txt; create a file; move a folder's counts.
  ASSERT_EQ(::rename((a + "p.txt").c_str(), (a + ".px-deleted-2").c_str()), 0);
  tx.Parked(a + "p.txt", a + ".px-deleted-2");
  writeFile(b + "new.txt", "n");
  tx.FileCreated(b + "new.txt");
  ASSERT_EQ(::rename((a + "Sub").c_str(), (b + "Sub").c_str()), 0);
  tx.FileMoved(a + "Sub/", b + "Sub/");
  unread.MoveFolder(a + "Sub/", b + "Sub/");
  newMail.MoveFolder(a + "Sub/", b + "Sub/");
  tx.FolderMoved(a + "Sub/", b + "Sub/");

  const FileStatus st = tx.Commit();
  EXPECT_FALSE(st.ok());
  EXPECT_EQ(tx.Changes(), 0u);
  // The keyless contact reference is back in the open index.
  EXPECT_EQ(tx.SectionsOf(a, "c.vcf"), std::vector<std::string>{"$$$AB.c.vcf"});
  (void)tx.Close();

  EXPECT_EQ(readFile(a + "a.txt"), "a");
  EXPECT_FALSE(exists(b + "a.txt"));
  EXPECT_EQ(readFile(a + "p.txt"), "parked");
  EXPECT_FALSE(exists(a + ".px-deleted-2"));
  EXPECT_FALSE(exists(b + "new.txt"));
  EXPECT_TRUE(exists(a + "Sub"));
  EXPECT_EQ(unread.GetUnreadCount(a + "Sub/").own, 1);
  EXPECT_TRUE(newMail.Contains(a + "Sub/"));
  EXPECT_EQ(unread.GetUnreadCount(a).own, 1);
  EXPECT_EQ(unread.GetUnreadCount(b).own, 0);
  // The source index on disk holds its entries again, the empty one included.
  TPXIniBase onDisk(IndexPathOf(a));
  EXPECT_EQ(onDisk.ReadString("a.txt", "Title", ""), "Old");
  TPXIniBase sentOnDisk(home.path("sent.ini"));
  EXPECT_EQ(sentOnDisk.ReadString("$$$LNK.m", "Path", ""), a);
  EXPECT_FALSE(sentOnDisk.SectionExists("$$$LNK.new"));
}

TEST_F(TransactionTest, SectionCacheFollowsWritesAndErasures) {
  {
    TPXIniFile ini(registry, IndexPathOf(a));
    ini.WriteString("x.txt", "Title", "X");
    ini.WriteString("$$$T1.x.txt", "Title", "X1");
  }
  OpTransaction tx(registry, nullptr, nullptr, nullptr);
  EXPECT_EQ(tx.SectionsOf(a, "X.TXT").size(), 2u);
  tx.Write(a, "$$$T2.x.txt", "Title", "X2");
  tx.Erase(a, "x.txt");
  const auto s = tx.SectionsOf(a, "x.txt");
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0], "$$$T1.x.txt");
  EXPECT_EQ(s[1], "$$$T2.x.txt");
  // Without lists or register the bookkeeping is simply not done.
  tx.ChangeUnread(a, 1);
  tx.SentWrite("$$$LNK.q", "Path", a);
  EXPECT_TRUE(tx.Commit().ok());
  EXPECT_TRUE(tx.Close().ok());
}

}  // namespace
