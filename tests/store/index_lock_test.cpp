// Several writers on one folder index, and indexes the parser did not fully understand.
#include "foundation/file_lock.h"
#include "foundation/ini_file.h"
#include "store/folder_files.h"
#include "store/index_file.h"
#include "store/op_transaction.h"
#include "store/tree_ops.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>

#include <algorithm>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace px;
using namespace px::store;
using px::test::readFile;
using px::test::writeFile;

namespace {

StringList sectionsOf(const TPXCustomIni& ini) {
  StringList s;
  ini.ReadSections(s);
  return s;
}

StringList hiddenAndPlainFiles(const std::string& dir) {
  StringList r;
  for (const QString& n : QDir(QString::fromStdString(dir)).entryList(QDir::Files | QDir::Hidden))
    r.push_back(n.toStdString());
  std::sort(r.begin(), r.end());
  return r;
}

// Runs `work(k)` in two child processes at once (k = 0, 1), released together; true when both
// ended with status 0.
template <typename Work>
bool runTwoProcesses(Work work) {
  int gate[2];
  if (::pipe(gate) != 0) return false;
  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = ::fork();
    if (kids[k] < 0) return false;
    if (kids[k] == 0) {
      ::close(gate[1]);
      char c;
      (void)!::read(gate[0], &c, 1);  // returns when the parent closes its end
      ::_exit(work(k) ? 0 : 1);
    }
  }
  ::close(gate[0]);
  ::close(gate[1]);
  bool ok = true;
  for (pid_t kid : kids) {
    int status = 0;
    ok = ::waitpid(kid, &status, 0) == kid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
  }
  return ok;
}

constexpr int kPerProcess = 150;

std::string entryName(int k, int i) { return "doc-" + std::to_string(k) + "-" + std::to_string(i) + ".txt"; }

TEST(IndexLock, TwoProcessesChangingOneIndexLoseNoEntry) {
  // One handle per change, and a transaction holding the index open over many changes with
  // saves in between (the way a run of document operations does).
  for (bool longRun : {false, true}) {
    SCOPED_TRACE(longRun ? "transaction" : "handle per change");
    px::test::TempHome home;
    const std::string dir = home.path("shared/");
    px::test::makeDirs(dir);
    writeFile(dir + "Plumadex.ini", "[old.txt]\r\nTitle=Old\r\n\r\n");
    const bool ok = runTwoProcesses([&](int k) {
      IniRegistry registry;  // each process has its own
      if (longRun) {
        OpTransaction tx(registry, nullptr, nullptr, nullptr);
        for (int i = 0; i < kPerProcess; ++i) {
          tx.Write(dir, entryName(k, i), "Title", "T" + std::to_string(i));
          if (i % 7 == 6 && !tx.Commit().ok()) return false;
        }
        return tx.Commit().ok() && tx.Close().ok();
      }
      for (int i = 0; i < kPerProcess; ++i) {
        TPXIniFile ix(registry, IndexPathOf(dir));
        ix.WriteString(entryName(k, i), "Title", "T" + std::to_string(i));
        if (!ix.Release().ok()) return false;
      }
      return true;
    });
    ASSERT_TRUE(ok);
    TPXIniBase saved(dir + "Plumadex.ini");
    EXPECT_EQ(saved.ReadString("old.txt", "Title", "-"), "Old");
    int missing = 0;
    for (int k = 0; k < 2; ++k)
      for (int i = 0; i < kPerProcess; ++i)
        if (saved.ReadString(entryName(k, i), "Title", "-") != "T" + std::to_string(i)) ++missing;
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(saved.SectionCount(), 2u * kPerProcess + 1);
  }
}

TEST(IndexLock, ChangesGoOnTopOfAnIndexSavedByAnotherWriterMeanwhile) {
  px::test::TempHome home;
  const std::string dir = home.path("f/");
  px::test::makeDirs(dir);
  writeFile(dir + "Plumadex.ini",
            "[a.txt]\r\nTitle=A\r\nFlags=512\r\n\r\n[b.txt]\r\nTitle=B\r\n\r\n[c.txt]\r\nTitle=C\r\n\r\n");
  IniRegistry mine, theirs;  // two processes
  TPXIniFile ix(mine, IndexPathOf(dir));
  {
    TPXIniFile other(theirs, IndexPathOf(dir));
    other.WriteString("new.txt", "Title", "Theirs");
    other.WriteString("a.txt", "Sticker", "their note");
    other.EraseSection("c.txt");
    ASSERT_TRUE(other.Release().ok());
  }
  // This copy was read before their save.
  ix.WriteString("mine.txt", "Title", "Mine");
  ix.DeleteKey("a.txt", "Flags");
  ix.EraseSection("b.txt");
  ix.DeleteKey("c.txt", "Title");  // gone on disk already: nothing to do there
  ASSERT_TRUE(ix.UpdateFile().ok());
  // The open copy now shows both writers' changes.
  EXPECT_EQ(ix.ReadString("new.txt", "Title", "-"), "Theirs");
  EXPECT_TRUE(ix.Release().ok());

  TPXIniBase saved(dir + "Plumadex.ini");
  EXPECT_EQ(sectionsOf(saved), (StringList{"a.txt", "mine.txt", "new.txt"}));
  EXPECT_EQ(saved.ReadString("a.txt", "Sticker", "-"), "their note");
  EXPECT_EQ(saved.ReadString("a.txt", "Flags", "-"), "-");
  EXPECT_EQ(saved.ReadString("mine.txt", "Title", "-"), "Mine");
}

TEST(IndexLock, LockFileIsHiddenAndNeverCarriedByACopy) {
  px::test::TempHome home;
  const std::string dir = home.path("src/");
  px::test::makeDirs(dir);
  writeFile(dir + "doc.txt", "x");
  {
    IniRegistry registry;
    TPXIniFile ix(registry, IndexPathOf(dir));
    ix.WriteString("doc.txt", "Title", "Doc");
    ASSERT_TRUE(ix.Release().ok());
  }
  EXPECT_EQ(hiddenAndPlainFiles(dir), (StringList{".Plumadex.ini.lock", "Plumadex.ini", "doc.txt"}));
  EXPECT_TRUE(IsHiddenFileName(".Plumadex.ini.lock"));
  EXPECT_TRUE(IsLockFileName(".Plumadex.ini.lock"));
  EXPECT_FALSE(IsLockFileName("notes.lock"));
  ASSERT_FALSE(CopyTree(dir, home.path("copy/"), false));
  EXPECT_EQ(hiddenAndPlainFiles(home.path("copy/")), (StringList{"Plumadex.ini", "doc.txt"}));
}

TEST(IndexLock, LockIsExclusiveAcrossHoldersAndALinkIsRefused) {
  px::test::TempHome home;
  const std::string path = home.path("Plumadex.ini");
  FileLock first;
  ASSERT_EQ(first.Lock(path), 0);
  FileLock second;
  EXPECT_EQ(second.Lock(path, 50), ETIMEDOUT);
  first.Unlock();
  EXPECT_EQ(second.Lock(path, 50), 0);
  second.Unlock();

  // A link planted at the lock's name is not followed.
  const std::string other = home.path("g/Plumadex.ini");
  px::test::makeDirs(home.path("g/"));
  ASSERT_EQ(::symlink(home.path("victim").c_str(), LockPathOf(other).c_str()), 0);
  FileLock third;
  EXPECT_EQ(third.Lock(other, 50), ELOOP);
  EXPECT_NE(::access(home.path("victim").c_str(), F_OK), 0);
  TPXIniBase ini(other);
  ini.WriteString("a", "k", "1");
  EXPECT_FALSE(ini.UpdateFile().ok());
}

// ---------------------------------------------------------------------------------------------
// Damaged indexes

template <size_t N>
std::string bytesOf(const char (&s)[N]) {
  return std::string(s, N - 1);
}

TEST(DamagedIndex, IsKeptAsideOnceAndNeverOverwritten) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"binary", bytesOf("[a.txt]\r\nTitle=A\r\n\x00\x01\x02\xFF\x10garbage\x00\r\n")},
      {"control bytes", bytesOf("[a.txt]\r\nTitle=A\r\n\x01\x02\x03\x04\x05\r\n")},
      {"broken UTF-16", bytesOf("\xFF\xFE[\0a\0.\0t\0x\0t\0]\0\r\0\n\0\x00\xD8\x41")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    px::test::TempHome home;
    const std::string dir = home.path("f/");
    px::test::makeDirs(dir);
    writeFile(dir + "Plumadex.ini", c.bytes);
    IniRegistry registry;
    {
      TPXIniFile ix(registry, IndexPathOf(dir));
      ix.WriteString("new.txt", "Title", "New");
      ASSERT_TRUE(ix.Release().ok());
    }
    std::vector<std::string> notices = registry.TakeNotices();
    ASSERT_EQ(notices.size(), 1u);
    StringList aside;
    for (const auto& f : hiddenAndPlainFiles(dir))
      if (f.rfind("Plumadex.ini.damaged-", 0) == 0) aside.push_back(f);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(dir + aside.front()), c.bytes);
    EXPECT_NE(notices.front().find(aside.front()), std::string::npos) << notices.front();
    // The new index holds the change; the next save is an ordinary one.
    {
      TPXIniFile ix(registry, IndexPathOf(dir));
      EXPECT_EQ(ix.ReadString("new.txt", "Title", "-"), "New");
      ix.WriteString("second.txt", "Title", "2");
      ASSERT_TRUE(ix.Release().ok());
    }
    EXPECT_TRUE(registry.TakeNotices().empty());
    int asideNow = 0;
    for (const auto& f : hiddenAndPlainFiles(dir)) asideNow += f.rfind("Plumadex.ini.damaged-", 0) == 0;
    EXPECT_EQ(asideNow, 1);
  }
}

TEST(DamagedIndex, ControlBytesInsideValuesAreNoDamage) {
  px::test::TempHome home;
  const std::string path = home.path("Plumadex.ini");
  const std::string text = "[a.txt]\r\nTitle=\x1B$B0lK\\\x1B(B \x01odd\r\n\r\n";
  writeFile(path, text);
  TPXIniBase ini(path, TPXIniBase::Kind::FolderIndex);
  EXPECT_FALSE(ini.Damaged());
  ini.WriteString("b.txt", "Title", "B");
  ASSERT_TRUE(ini.UpdateFile().ok());
  EXPECT_EQ(readFile(path), text + "[b.txt]\r\nTitle=B\r\n\r\n");
}

TEST(DamagedIndex, TextBeforeFirstSectionAndRepeatedSectionsAreWrittenBack) {
  px::test::TempHome home;
  const std::string path = home.path("Plumadex.ini");
  writeFile(path,
            "Written by hand; keep this.\r\n\r\n[a.txt]\r\nTitle=First\r\n[z.txt]\r\nTitle=Z\r\n"
            "[A.TXT]\r\nTitle=Second\r\nFlags=5\r\n");
  {
    TPXIniBase ini(path, TPXIniBase::Kind::FolderIndex);
    EXPECT_EQ(ini.ReadString("a.txt", "Title", "-"), "First");
    ini.WriteString("m.txt", "Title", "M");
    ASSERT_TRUE(ini.UpdateFile().ok());
  }
  EXPECT_EQ(readFile(path),
            "Written by hand; keep this.\r\n\r\n"
            "[a.txt]\r\nTitle=First\r\n\r\n[A.TXT]\r\nTitle=Second\r\nFlags=5\r\n\r\n"
            "[m.txt]\r\nTitle=M\r\n\r\n[z.txt]\r\nTitle=Z\r\n\r\n");
  {
    // Read again, the first copy still wins; erasing the entry takes its later copies along,
    // so an erased entry never comes back.
    TPXIniBase ini(path, TPXIniBase::Kind::FolderIndex);
    EXPECT_EQ(ini.ReadString("a.txt", "Title", "-"), "First");
    ini.EraseSection("a.txt");
    ASSERT_TRUE(ini.UpdateFile().ok());
  }
  TPXIniBase after(path);
  EXPECT_EQ(after.ReadString("a.txt", "Title", "-"), "-");
  EXPECT_EQ(readFile(path).rfind("Written by hand; keep this.\r\n", 0), 0u);
}

}  // namespace
