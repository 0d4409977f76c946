// Safe file writing: the old file stays until the new one is whole, nothing is left behind.
#include "foundation/atomic_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
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
