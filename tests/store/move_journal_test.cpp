// A batch move stopped at any point (kill -9) is finished or put back at the next start: no
// document without its entry, no entry lost.
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "store/doc_operations.h"
#include "store/index_file.h"
#include "store/move_journal.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace px;
using namespace px::store;

namespace {

bool exists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string docName(int i) { return "d" + std::to_string(i) + ".txt"; }
std::string note(int i) { return "note " + std::to_string(i); }

size_t journalsIn(const std::string& folder) {
  return QDir(QString::fromStdString(folder)).entryList({"*.journal"}, QDir::Files).size();
}

// A folder of `count` documents, each with an entry that only it has.
void makeDocs(const std::string& folder, int count) {
  px::test::makeDirs(folder);
  IniRegistry registry;
  TPXIniFile ix(registry, IndexPathOf(folder));
  for (int i = 0; i < count; ++i) {
    px::test::writeFile(folder + docName(i), "text of " + std::to_string(i));
    ix.WriteString(docName(i), "Flags", "512");
    ix.WriteString(docName(i), "Sticker", note(i));
  }
  ASSERT_TRUE(ix.Release().ok());
}

// Every document sits in exactly one of the two folders, with its own entry there and none in
// the other folder.
void expectEveryDocumentWithItsEntry(const std::string& a, const std::string& b, int count) {
  IniRegistry registry;
  TPXIniFile ia(registry, IndexPathOf(a)), ib(registry, IndexPathOf(b));
  int wrong = 0;
  for (int i = 0; i < count; ++i) {
    const bool inA = exists(a + docName(i)), inB = exists(b + docName(i));
    TPXIniFile& here = inA ? ia : ib;
    TPXIniFile& there = inA ? ib : ia;
    if (inA == inB || here.ReadString(docName(i), "Sticker", "-") != note(i) ||
        there.ReadString(docName(i), "Sticker", "-") != "-") {
      ++wrong;
      ADD_FAILURE() << docName(i) << " in source " << inA << " in target " << inB << ": entry here \""
                    << here.ReadString(docName(i), "Sticker", "-") << "\", there \""
                    << there.ReadString(docName(i), "Sticker", "-") << "\"";
      if (wrong > 5) return;
    }
  }
}

// Moves every document of `from` to `to` with journaling; writes one byte to `progress` per item.
void moveAll(const std::string& from, const std::string& to, int count, const std::string& journal, int progress) {
  IniRegistry registry;
  RandomSource random{7};
  MessageQueue messages;
  OpServices s;
  s.registry = &registry;
  s.random = &random;
  s.messages = &messages;
  s.journalFolder = journal;
  NullCollaborators none;
  DocOperations ops(std::move(s), none.Get());
  std::vector<OpItem> items;
  for (int i = 0; i < count; ++i) {
    OpItem it;
    it.folder = from;
    it.name = docName(i);
    it.title = "d" + std::to_string(i);
    it.ext = "txt";
    it.flags = 512;
    it.sticker = note(i);
    it.targetFolder = to;
    it.refFolder = from;
    items.push_back(std::move(it));
  }
  ops.RunOnSelection(opMove, items, [&](OpItem&, bool) { (void)!::write(progress, "x", 1); });
}

TEST(MoveJournal, KillAtRandomPointsOfAMoveThenStartUpLosesNothing) {
  // PLUMADEX_LONG_TESTS=1 runs it on a folder of the size users move at once.
  const int kDocs = std::getenv("PLUMADEX_LONG_TESTS") ? 5000 : 300;
  std::srand(20261210);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    px::test::TempHome home;
    const std::string from = home.path("Documents/from/"), to = home.path("Documents/to/");
    const std::string journal = JournalFolderOf(home.path("data"));
    px::test::makeDirs(home.path("data"));
    makeDocs(from, kDocs);
    px::test::makeDirs(to);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t kid = ::fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
      ::close(pipeFds[0]);
      moveAll(from, to, kDocs, journal, pipeFds[1]);
      ::_exit(0);
    }
    ::close(pipeFds[1]);
    // Stopped after a random number of documents (the first round before any).
    const int stopAfter = round == 0 ? 0 : 1 + std::rand() % (kDocs - 1);
    char buf[1];
    for (int got = 0; got < stopAfter && ::read(pipeFds[0], buf, 1) == 1;) ++got;
    ::kill(kid, SIGKILL);
    int status = 0;
    ::waitpid(kid, &status, 0);
    ::close(pipeFds[0]);

    // The batch got under way before it was stopped.
    if (stopAfter > 0) EXPECT_TRUE(exists(to + docName(0)) || !exists(from + docName(0)));
    IniRegistry registry;  // the next start
    RecoverJournals(journal, registry);
    EXPECT_EQ(journalsIn(journal), 0u);
    expectEveryDocumentWithItsEntry(from, to, kDocs);
  }
}

TEST(MoveJournal, RecoveryFinishesMovedDocumentsAndKeepsTheOthers) {
  px::test::TempHome home;
  const std::string from = home.path("Documents/from/"), to = home.path("Documents/to/");
  const std::string journal = JournalFolderOf(home.path("data"));
  px::test::makeDirs(home.path("data"));
  makeDocs(from, 4);
  px::test::makeDirs(to);
  {
    IniRegistry registry;
    std::vector<JournalItem> plan;
    for (int i = 0; i < 4; ++i) {
      JournalItem j;
      j.folder = from;
      j.name = docName(i);
      j.section = docName(i);
      j.targetFolder = to;
      ASSERT_TRUE(FillFileIdentity(j));
      TPXIniFile ix(registry, IndexPathOf(from));
      ix.ReadSectionValues(j.section, j.lines);
      plan.push_back(j);
    }
    BatchJournal batch(journal);
    ASSERT_EQ(batch.Begin(plan, true), 0);
    // A batch that is still running is left alone.
    EXPECT_EQ(RecoverJournals(journal, registry).journals, 0u);
    // d0 moved, its entry not yet saved anywhere; d1 not moved; d2 moved and its source entry
    // already erased; d3 gone from both folders.
    ASSERT_EQ(::rename((from + docName(0)).c_str(), (to + docName(0)).c_str()), 0);
    ASSERT_EQ(::rename((from + docName(2)).c_str(), (to + docName(2)).c_str()), 0);
    ASSERT_EQ(::unlink((from + docName(3)).c_str()), 0);
    TPXIniFile ix(registry, IndexPathOf(from));
    ix.EraseSection(docName(2));
    ASSERT_TRUE(ix.Release().ok());
    // The process dies here: the journal stays, its lock goes.
  }
  ASSERT_EQ(journalsIn(journal), 1u);
  IniRegistry registry;
  const JournalRecovery r = RecoverJournals(journal, registry);
  EXPECT_EQ(r.journals, 1u);
  EXPECT_EQ(r.finished, 2u);
  EXPECT_EQ(r.unknown, 1u);
  EXPECT_EQ(journalsIn(journal), 0u);
  TPXIniFile src(registry, IndexPathOf(from)), dst(registry, IndexPathOf(to));
  EXPECT_EQ(dst.ReadString(docName(0), "Sticker", "-"), note(0));
  EXPECT_EQ(src.ReadString(docName(0), "Sticker", "-"), "-");
  EXPECT_EQ(src.ReadString(docName(1), "Sticker", "-"), note(1));
  EXPECT_EQ(dst.ReadString(docName(2), "Sticker", "-"), note(2));
  // Found nowhere: its entry is not erased.
  EXPECT_EQ(src.ReadString(docName(3), "Sticker", "-"), note(3));
}

}  // namespace
