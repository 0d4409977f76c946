// Safe file writing: the old file stays until the new one is whole, nothing is left behind.
#include "foundation/atomic_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace px;
using px::test::readFile;
using px::test::writeFile;

namespace {

size_t temporaries(const std::string& dir) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().starts_with(kTempFilePrefix)) ++n;
  return n;
}

TEST(AtomicFile, ReplacesWholeOrNotAtAll) {
  px::test::TempHome home;
  const std::string dir = home.path("f/");
  px::test::makeDirs(dir);
  writeFile(dir + "a.txt", "old");
  {
    AtomicFile f(dir + "a.txt");
    ASSERT_EQ(f.Open(), 0);
    ASSERT_TRUE(f.Write("new "));
    ASSERT_TRUE(f.Write("text"));
    EXPECT_EQ(readFile(dir + "a.txt"), "old");  // nothing shows before the commit
    EXPECT_EQ(temporaries(dir), 1u);
    ASSERT_EQ(f.Commit(), 0);
  }
  EXPECT_EQ(readFile(dir + "a.txt"), "new text");
  {
    AtomicFile f(dir + "a.txt");
    ASSERT_EQ(f.Open(), 0);
    f.Write("dropped");
  }  // never committed
  EXPECT_EQ(readFile(dir + "a.txt"), "new text");
  EXPECT_EQ(temporaries(dir), 0u);
}

TEST(AtomicFile, WithoutReplacingATakenNameKeepsBothAndCanTakeAnother) {
  px::test::TempHome home;
  const std::string dir = home.path("f/");
  px::test::makeDirs(dir);
  writeFile(dir + "a.txt", "theirs");
  AtomicFile f(dir + "a.txt");
  ASSERT_EQ(f.Open(), 0);
  f.Write("mine");
  EXPECT_EQ(f.Commit(false), EEXIST);
  EXPECT_EQ(readFile(dir + "a.txt"), "theirs");
  EXPECT_TRUE(f.IsOpen());
  f.SetPath(dir + "a (2).txt");
  ASSERT_EQ(f.Commit(false), 0);
  EXPECT_EQ(readFile(dir + "a (2).txt"), "mine");
  EXPECT_EQ(temporaries(dir), 0u);
}

TEST(AtomicFile, AMissingFolderIsReportedAndLeavesNothing) {
  px::test::TempHome home;
  AtomicFile f(home.path("missing/a.txt"));
  EXPECT_EQ(f.Open(), ENOENT);
  EXPECT_FALSE(f.Write("x"));
  EXPECT_NE(f.Commit(), 0);
}

TEST(AtomicFile, PlacingANewFileTakesTheFirstFreeNameAndNeverReplaces) {
  px::test::TempHome home;
  const std::string dir = home.path("f/");
  px::test::makeDirs(dir);
  writeFile(dir + "n0.txt", "theirs");
  writeFile(dir + "n1.txt", "theirs too");
  FileStatus error;
  const auto name = [](int attempt) { return "n" + std::to_string(attempt) + ".txt"; };
  EXPECT_EQ(PlaceNewFile(dir, "mine", name, &error), "n2.txt");
  EXPECT_TRUE(error.ok());
  EXPECT_EQ(readFile(dir + "n0.txt"), "theirs");
  EXPECT_EQ(readFile(dir + "n2.txt"), "mine");
  // Every name taken: nothing placed, the failure says so, no temporary is left.
  EXPECT_EQ(PlaceNewFile(dir, "more", name, &error, 3), "");
  EXPECT_EQ(error.error, EEXIST);
  EXPECT_EQ(PlaceNewFile(home.path("missing/"), "x", name, &error), "");
  EXPECT_EQ(error.error, ENOENT);
  EXPECT_EQ(temporaries(dir), 0u);
}

TEST(AtomicFile, ARewriteKeepsTheModeAndTheLinkAndAFailedProducerKeepsTheOldFile) {
  px::test::TempHome home;
  const std::string dir = home.path("f/");
  px::test::makeDirs(dir);
  writeFile(dir + "real.txt", "old");
  ASSERT_EQ(::chmod((dir + "real.txt").c_str(), 0640), 0);
  ASSERT_EQ(::symlink("real.txt", (dir + "link.txt").c_str()), 0);
  ASSERT_TRUE(SaveFileAtomic(dir + "link.txt", "new").ok());
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "link.txt"));
  EXPECT_EQ(readFile(dir + "real.txt"), "new");
  struct stat st {};
  ASSERT_EQ(::stat((dir + "real.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const FileStatus failed = SaveFileAtomic(dir + "real.txt", [](const ByteWriter& write) {
    return write("half of it") && false;
  });
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.path, dir + "real.txt");
  EXPECT_EQ(readFile(dir + "real.txt"), "new");
  ASSERT_TRUE(SaveFileAtomic(dir + "real.txt", [](const ByteWriter& write) {
    return write("in ") && write("pieces");
  }).ok());
  EXPECT_EQ(readFile(dir + "real.txt"), "in pieces");
  px::test::makeDirs(dir + "folder");
  EXPECT_EQ(SaveFileAtomic(dir + "folder", "x").error, EISDIR);
  EXPECT_EQ(temporaries(dir), 0u);
}

TEST(UniqueFd, ClosesOnceAndHandsOver) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd a(fds[0]);
  UniqueFd b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.get(), fds[0]);
  EXPECT_EQ(b.Close(), 0);
  EXPECT_FALSE(b);
  ::close(fds[1]);
}

}  // namespace
