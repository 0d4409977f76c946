// The start-up sweep: parked documents go back where their index still names them, the other
// leftovers go, and nothing of a process running now is touched.
#include "foundation/atomic_file.h"
#include "store/index_file.h"
#include "store/leftover_sweep.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

using namespace px;
using namespace px::store;
using px::test::readFile;
using px::test::writeFile;

namespace {

bool exists(const std::string& p) {
  struct stat st{};
  return ::lstat(p.c_str(), &st) == 0;
}

TEST(LeftoverSweep, PutsBackNamedDocumentsAndClearsTheRest) {
  px::test::TempHome home;
  const std::string docs = home.path("Documents/");
  const std::string sub = docs + "A/";
  const std::string outside = home.path("Outside/");
  px::test::makeDirs(sub);
  px::test::makeDirs(outside);
  IniRegistry registry;
  {
    TPXIniFile ix(registry, IndexPathOf(sub));
    ix.WriteString("named.txt", "Title", "Named");
    ix.WriteString("taken.txt", "Title", "Taken");
    ASSERT_TRUE(ix.Release().ok());
  }
  struct Case {
    std::string file, bytes;
    bool stays;               // the leftover itself is still there after the sweep
    std::string restoredAs;   // where its bytes are afterwards ("" when gone)
  } cases[] = {
      {sub + ParkedName("named.txt", "1"), "named", false, sub + "named.txt"},
      {sub + ParkedName("unnamed.txt", "2"), "unnamed", false, ""},
      {sub + ParkedName("taken.txt", "3"), "old taken", false, ""},
      {sub + ".px-deleted-4", "nameless", true, ""},
      {docs + std::string(kTempFilePrefix) + "0123456789abcdef", "temp", false, ""},
      {outside + std::string(kTempFilePrefix) + "0123456789abcdef", "outside", true, ""},
  };
  writeFile(sub + "taken.txt", "new taken");
  for (const auto& c : cases) writeFile(c.file, c.bytes);
  ASSERT_EQ(::symlink(outside.c_str(), (docs + "link").c_str()), 0);

  // As seen by a run long after they were left.
  SweepResult r = SweepLeftovers(docs, registry, std::time(nullptr) + 3600);
  for (const auto& c : cases) {
    EXPECT_EQ(exists(c.file), c.stays) << c.file;
    if (!c.restoredAs.empty()) EXPECT_EQ(readFile(c.restoredAs), c.bytes) << c.file;
  }
  EXPECT_EQ(readFile(sub + "taken.txt"), "new taken");
  EXPECT_EQ(r.restored, 1u);
  EXPECT_EQ(r.removed, 3u);
  EXPECT_EQ(r.kept, 1u);
}

TEST(LeftoverSweep, LeavesWhatARunningProcessJustMade) {
  px::test::TempHome home;
  const std::string docs = home.path("Documents/");
  px::test::makeDirs(docs);
  IniRegistry registry;
  const std::string temp = docs + std::string(kTempFilePrefix) + "fedcba9876543210";
  const std::string parked = docs + ParkedName("x.txt", "5");
  writeFile(temp, "being written");
  writeFile(parked, "being deleted");
  SweepResult r = SweepLeftovers(docs, registry, std::time(nullptr));
  EXPECT_TRUE(exists(temp));
  EXPECT_TRUE(exists(parked));
  EXPECT_EQ(r.removed + r.restored, 0u);
}

}  // namespace
