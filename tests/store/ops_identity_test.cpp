// Folders reached through other paths, names taken by someone else meanwhile, and trees that
// change while they are walked: nothing is deleted or overwritten that should not be.
#include "ops_fixture.h"

#include "store/tree_ops.h"
#include "foundation/file_lock.h"

#include <dirent.h>
#include <unistd.h>

#include <set>

using namespace px::store;
using namespace px::store::test;
using px::test::makeDirs;
using px::test::readFile;
using px::test::writeFile;

namespace {

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> out;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      // The index's lock file stays beside it after a save; it is no document.
      if (n != "." && n != ".." && !px::IsLockFileName(n)) out.insert(n);
    }
    ::closedir(d);
  }
  return out;
}

}  // namespace

// A document sent into its own folder by another path is the same file, never its own twin.
TEST_F(OpsFixture, DocumentIntoItsOwnFolderThroughALinkKeepsFileAndEntry) {
  struct Case {
    const char* what;
    int code;
    const char* link;    // a link made in the documents folder
    const char* points;  // what it points at, relative to the documents folder
    const char* target;  // the target folder, relative to the documents folder
  };
  const Case cases[] = {
      {"move through a linked parent", opMove, "Up", ".", "Up/A/"},
      {"move through a link to the folder", opMove, "LinkA", "A", "LinkA/"},
      {"copy through a linked parent", opCopy, "Up", ".", "Up/A/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string a = dir("A");
    doc(a, "Report.txt", "the only copy", {"Title=Quarterly", "Flags=512", "Address=bob@example.org"});
    ASSERT_EQ(::symlink((docs + c.points).c_str(), (docs + c.link).c_str()), 0);
    OpItem it = item(a, "Report.txt", "Quarterly", docs + c.target);
    EXPECT_TRUE(ops->RunDocOperation(c.code, it));

    EXPECT_EQ(readFile(a + "Report.txt"), "the only copy");
    EXPECT_EQ(value(a, "Report.txt", "Title"), "Quarterly");
    EXPECT_EQ(value(a, "Report.txt", "Address"), "bob@example.org");
    if (c.code == opCopy) {
      // A second document beside the first, both described in the one index.
      EXPECT_EQ(readFile(a + "Quarterly.txt"), "the only copy");
      EXPECT_EQ(value(a, "Quarterly.txt", "Address"), "bob@example.org");
    } else {
      EXPECT_EQ(namesIn(a), (std::set<std::string>{"Plumadex.ini", "Report.txt"}));
    }
    EXPECT_EQ(registry.OpenCount(), 0u);
    DeleteTree(a, false);
    ::unlink((docs + c.link).c_str());
  }
}

// A folder copied or moved into its own subfolder through a link is refused, not copied until
// the path grows too long.
TEST_F(OpsFixture, FolderIntoItsOwnSubfolderThroughALinkIsRefused) {
  for (int code : {opCopy, opMove}) {
    SCOPED_TRACE(code);
    const std::string f = dir("F");
    makeDirs(f + "sub");
    writeFile(f + "sub/x.txt", "x");
    ASSERT_EQ(::symlink(f.c_str(), (docs + "FL").c_str()), 0);
    OpItem it = item(docs, "F", "F", docs + "FL/sub/");
    EXPECT_FALSE(ops->RunDocOperation(code, it));
    EXPECT_NE(lastMessage().find("into itself"), std::string::npos) << lastMessage();
    EXPECT_EQ(namesIn(f + "sub"), (std::set<std::string>{"x.txt"}));
    EXPECT_EQ(readFile(f + "sub/x.txt"), "x");
    ::unlink((docs + "FL").c_str());
    DeleteTree(f, false);
    messages.Clear();
  }
  // The tree copy itself checks identity too.
  const std::string f = dir("G");
  makeDirs(f + "sub");
  ASSERT_EQ(::symlink(f.c_str(), (docs + "GL").c_str()), 0);
  px::FileStatus r = CopyTree(f, docs + "GL/sub/G", false);
  EXPECT_EQ(r.error, EINVAL);
  EXPECT_EQ(namesIn(f + "sub"), std::set<std::string>{});
}

// A name chosen from the folder as it was read may be taken by another writer before the file
// gets there: the file then takes the next free name and the other file stays as it was.
TEST_F(OpsFixture, NameTakenMeanwhileGetsTheNextNameAndNothingIsOverwritten) {
  for (int code : {opCopy, opMove, opStoreCopy}) {
    SCOPED_TRACE(code);
    const std::string a = dir("A"), b = dir("B");
    std::vector<OpItem> items;
    for (const char* n : {"r1.txt", "r2.txt"}) {
      doc(a, n, std::string("from ") + n, {"Title=Report"});
      OpItem it = item(a, n, "Report", b);
      if (code == opStoreCopy) {
        it.sourceFile = a + n;
        it.folder = b;
      }
      items.push_back(it);
    }
    // After the first document another program puts the name the second would get.
    bool once = false;
    ops->RunOnSelection(code, items, [&](OpItem&, bool) {
      if (!once) writeFile(b + "Report (2).txt", "someone else's");
      once = true;
    });
    EXPECT_EQ(readFile(b + "Report.txt"), "from r1.txt");
    EXPECT_EQ(readFile(b + "Report (2).txt"), "someone else's");
    EXPECT_EQ(readFile(b + "Report (3).txt"), "from r2.txt");
    if (code == opCopy || code == opMove) EXPECT_EQ(value(b, "Report (3).txt", "Title"), "<none>");
    DeleteTree(a, false);
    DeleteTree(b, false);
  }
}

// A folder being deleted that is swapped for a link to another folder half-way: the walk stays
// in the folder it opened, and the other folder's files survive.
TEST_F(OpsFixture, TreeDeleteSwappedForALinkMidWayStaysInItsOwnFolder) {
  const std::string t = dir("T"), outside = home.path("outside/");
  makeDirs(outside);
  makeDirs(t + "p");
  for (const char* n : {"a", "b", "c"}) {
    writeFile(t + "p/" + n, "mine");
    writeFile(outside + n, "precious");
  }
  bool swapped = false;
  DeleteTree(t, false, [&](const std::string&, bool) {
    if (swapped) return;
    swapped = true;
    ASSERT_EQ(::rename((t + "p").c_str(), (home.path("moved-away")).c_str()), 0);
    ASSERT_EQ(::symlink(outside.c_str(), (t + "p").c_str()), 0);
  });
  ASSERT_TRUE(swapped);
  for (const char* n : {"a", "b", "c"}) EXPECT_EQ(readFile(outside + n), "precious") << n;
  // The folder it opened was emptied all the same.
  EXPECT_EQ(namesIn(home.path("moved-away")), std::set<std::string>{});
}

// Links inside a tree are copied and deleted as links, never followed.
TEST_F(OpsFixture, LinksInsideATreeAreNeverFollowed) {
  const std::string t = dir("T"), outside = home.path("outside/");
  makeDirs(outside + "deep");
  writeFile(outside + "deep/f", "precious");
  writeFile(t + "own.txt", "own");
  ASSERT_EQ(::symlink(outside.c_str(), (t + "to-dir").c_str()), 0);
  ASSERT_EQ(::symlink((outside + "deep/f").c_str(), (t + "to-file").c_str()), 0);

  ASSERT_TRUE(CopyTree(t, docs + "T2", false).ok());
  char buf[512] = {};
  ASSERT_GT(::readlink((docs + "T2/to-dir").c_str(), buf, sizeof buf - 1), 0);
  EXPECT_EQ(std::string(buf), outside);
  EXPECT_EQ(readFile(docs + "T2/own.txt"), "own");
  // A second copy to the same place is refused rather than merged over the first.
  EXPECT_EQ(CopyTree(t, docs + "T2", false).error, EEXIST);

  std::vector<std::string> removed;
  ASSERT_TRUE(DeleteTree(t, false, [&](const std::string& p, bool) { removed.push_back(p); }).ok());
  EXPECT_FALSE(exists(t));
  EXPECT_EQ(readFile(outside + "deep/f"), "precious");
  EXPECT_EQ(removed.size(), 4u);  // own.txt, both links, the folder
}

// The placement primitives never replace: each asks for another name, or reports EEXIST.
TEST(TreeOps, PlacementsAskForTheNextNameInsteadOfReplacing) {
  px::test::TempHome home;
  const std::string d = home.path("d/");
  makeDirs(d);
  auto fresh = [&](const std::string& name, const std::string& bytes) {
    writeFile(d + name, bytes);
    return d + name;
  };
  writeFile(d + "taken", "keep");
  makeDirs(d + "takenDir");
  int asked = 0;
  auto nextOf = [&](const std::string& path) {
    return NextTarget([&asked, path] {
      ++asked;
      return path;
    });
  };
  struct Case {
    const char* what;
    std::function<px::FileStatus(const NextTarget&, std::string*)> place;
    std::string expect;  // where it ends up
  };
  const Case cases[] = {
      {"copy", [&](const NextTarget& n, std::string* p) { return CopyFileKeepTime(fresh("s1", "1"), d + "taken", false, n, p); }, d + "n1"},
      {"move", [&](const NextTarget& n, std::string* p) { return MoveEntry(fresh("s2", "2"), d + "taken", false, n, p); }, d + "n2"},
      {"move a folder", [&](const NextTarget& n, std::string* p) { makeDirs(d + "s3"); return MoveEntry(d + "s3", d + "takenDir", false, n, p); }, d + "n3/"},
      {"new folder", [&](const NextTarget& n, std::string* p) { return MakeNewFolder(d + "takenDir", n, p); }, d + "n4/"},
      {"tree copy", [&](const NextTarget& n, std::string* p) { makeDirs(d + "s5"); return CopyTree(d + "s5", d + "takenDir", false, {}, n, p); }, d + "n5/"},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ++i;
    asked = 0;
    std::string placed;
    px::FileStatus f = c.place(nextOf(d + "n" + std::to_string(i)), &placed);
    EXPECT_TRUE(f.ok()) << f.error;
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(placed, c.expect);
    EXPECT_EQ(readFile(d + "taken"), "keep");
    EXPECT_TRUE(IsDirectory(d + "takenDir"));
    // Without a way to another name the placement fails and leaves the target alone.
    EXPECT_EQ(c.place({}, nullptr).error, EEXIST);
  }
  EXPECT_EQ(readFile(d + "n1"), "1");
  EXPECT_EQ(readFile(d + "n2"), "2");
}
