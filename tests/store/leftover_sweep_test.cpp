// The start-up sweep: parked documents go back where their index still names them, the other
// leftovers go, and nothing of a process running now is touched.
#include "foundation/atomic_file.h"
#include "store/index_file.h"
#include "store/leftover_sweep.h"
#include "store/run_mark.h"
#include "foundation/locations.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>

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



// Runs leave marks: a run after runs that all ended well does not walk the trees; a run that
// was stopped makes the next runs sweep until a sweep has run long enough after it to take
// everything it can have left.
TEST(RunMarks, OnlyARunThatWasStoppedMakesTheNextOnesSweep) {
  px::test::TempHome home;
  const std::string data = home.path("data/");
  px::test::makeDirs(data);
  const std::string runs = data + "Runs/";
  const time_t t0 = std::time(nullptr);
  {
    // A data root never marked before may hold anything: sweep.
    RunMark first(data, t0);
    EXPECT_TRUE(first.SweepNeeded());
    first.Swept(t0);
  }
  {
    // Swept too soon for files the earlier runs left just before: the next run sweeps again.
    RunMark second(data, t0 + 1);
    EXPECT_TRUE(second.SweepNeeded());
    second.Swept(t0 + kLeftoverAgeSeconds);
  }
  {
    RunMark calm(data, t0 + kLeftoverAgeSeconds + 1);
    EXPECT_FALSE(calm.SweepNeeded());
    // Its own mark is there while it runs, and names this process.
    EXPECT_TRUE(exists(runs + std::to_string(::getpid()) + "-" + std::to_string(ProcessStartTicks(::getpid()))));
  }
  // A run that ended well leaves no mark; only the note of the sweep-less start is gone too.
  EXPECT_TRUE(QDir(QString::fromStdString(runs)).entryList(QDir::Files | QDir::Hidden).isEmpty());

  // A mark of a process that is gone (pid 1 runs, but started at another tick): a stopped run.
  const std::string gone = runs + "1-" + std::to_string(ProcessStartTicks(1) + 1);
  writeFile(gone, "");
  const time_t t1 = t0 + 2 * kLeftoverAgeSeconds;
  {
    RunMark after(data, t1);
    EXPECT_TRUE(after.SweepNeeded());
    after.Swept(t1);
  }
  EXPECT_FALSE(exists(gone));
  {
    RunMark later(data, t1 + kLeftoverAgeSeconds);
    EXPECT_TRUE(later.SweepNeeded());
    later.Swept(t1 + kLeftoverAgeSeconds);
  }
  EXPECT_FALSE(RunMark(data, t1 + kLeftoverAgeSeconds + 1).SweepNeeded());

  // The mark of a run going on now is left alone and never taken for a stopped one.
  const std::string live = runs + "1-" + std::to_string(ProcessStartTicks(1));
  writeFile(live, "");
  EXPECT_FALSE(RunMark(data, t1 + 3 * kLeftoverAgeSeconds).SweepNeeded());
  EXPECT_TRUE(exists(live));
}

TEST(RunMarks, TheSweepRunsOnlyAfterAStoppedRun) {
  px::test::TempHome home;
  Locations loc;
  loc.dataRoot = home.path("data/");
  loc.documents = home.path("Documents/");
  px::test::makeDirs(loc.dataRoot);
  px::test::makeDirs(loc.documents);
  IniRegistry registry;
  const time_t t0 = std::time(nullptr) + 3600;  // long after the files below were written
  {
    RunMark mark(loc.dataRoot, t0 - 2 * kLeftoverAgeSeconds);
    mark.Swept(t0);
  }
  const std::string temp = loc.documents + std::string(kTempFilePrefix) + "0123456789abcdef";
  writeFile(temp, "temp");
  {
    RunMark calm(loc.dataRoot, t0);
    EXPECT_EQ(SweepAfterStoppedRuns(loc, registry, calm, t0).removed, 0u);
    EXPECT_TRUE(exists(temp));
  }
  writeFile(loc.dataRoot + "Runs/1-" + std::to_string(ProcessStartTicks(1) + 1), "");
  RunMark after(loc.dataRoot, t0);
  EXPECT_EQ(SweepAfterStoppedRuns(loc, registry, after, t0).removed, 1u);
  EXPECT_FALSE(exists(temp));
}

}  // namespace
