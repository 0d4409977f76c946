// New entries are appended to a folder's index in place; anything else rewrites the whole file.
#include "store/index_file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace px::store {
namespace {

using px::test::readFile;
using px::test::TempHome;
using px::test::writeFile;

ino_t InodeOf(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

const std::string kOld = "[a.txt]\r\nTitle=A\r\nFlags=1\r\n\r\n[Stale.txt]\r\nTitle=Old\r\nFlags=9\r\n\r\n";

TEST(IndexAppend, NewEntriesGoAtTheEndOfTheFileAsItIs) {
  TempHome home;
  const std::string path = home.path("Plumadex.ini");
  writeFile(path, kOld);
  const ino_t before = InodeOf(path);
  IniRegistry reg;
  {
    TPXIniFile ix(reg, path);
    ix.EraseSection("new.eml");  // as the filer clears a leftover entry first
    ix.WriteString("new.eml", "Title", "New");
    ix.WriteString("new.eml", "Flags", "3");
    ix.WriteString("new.eml", "Flags", "4");
    ASSERT_TRUE(ix.Release().ok());
  }
  EXPECT_EQ(InodeOf(path), before) << "the file was rewritten";
  EXPECT_EQ(readFile(path), kOld + "[new.eml]\r\nTitle=New\r\nFlags=4\r\n\r\n");
  // Read back as one index, and the next full save writes it in order again.
  TPXIniFile ix(reg, path);
  EXPECT_EQ(ix.ReadString("NEW.eml", "Flags", ""), "4");
  EXPECT_EQ(ix.ReadString("a.txt", "Title", ""), "A");
  StringList sections;
  ix.ReadSections(sections);
  EXPECT_EQ(sections, (StringList{"a.txt", "new.eml", "Stale.txt"}));
  ix.WriteString("a.txt", "Flags", "2");
  ASSERT_TRUE(ix.Release().ok());
  EXPECT_EQ(readFile(path), "[a.txt]\r\nTitle=A\r\nFlags=2\r\n\r\n[new.eml]\r\nTitle=New\r\nFlags=4\r\n\r\n"
                            "[Stale.txt]\r\nTitle=Old\r\nFlags=9\r\n\r\n");
}

// Whatever the file already names (in any letter case), or a file the program would not write
// back as it is, goes through the full save: no entry is ever written twice.
TEST(IndexAppend, ChangesToWhatTheFileHoldsRewriteIt) {
  struct Case {
    const char* what;
    std::string before;
    std::string section;
    bool erase;
    std::string after;
  } cases[] = {
      {"a stale entry is replaced, not shadowed", kOld, "stale.TXT", true,
       "[a.txt]\r\nTitle=A\r\nFlags=1\r\n\r\n[stale.TXT]\r\nTitle=T\r\n\r\n"},
      {"an entry is changed in place", kOld, "A.TXT", false,
       "[a.txt]\r\nTitle=T\r\nFlags=1\r\n\r\n[Stale.txt]\r\nTitle=Old\r\nFlags=9\r\n\r\n"},
      {"no line end at the end", "[a.txt]\r\nTitle=A", "b.txt", false,
       "[a.txt]\r\nTitle=A\r\n[b.txt]\r\nTitle=T\r\n\r\n"},
      {"a UTF-16 file", std::string("\xFF\xFE[\0a\0]\0\r\0\n\0", 12), "b.txt", false,
       "[a]\r\n\r\n[b.txt]\r\nTitle=T\r\n\r\n"},
  };
  for (const auto& c : cases) {
    TempHome home;
    const std::string path = home.path("Plumadex.ini");
    writeFile(path, c.before);
    IniRegistry reg;
    TPXIniFile ix(reg, path);
    if (c.erase) ix.EraseSection(c.section);
    ix.WriteString(c.section, "Title", "T");
    ASSERT_TRUE(ix.Release().ok()) << c.what;
    EXPECT_EQ(readFile(path), c.after) << c.what;
  }
}

// Another process that read the file before an entry was appended keeps that entry when it
// saves its own change.
TEST(IndexAppend, AnAppendIsSeenByAWriterThatReadTheFileBefore) {
  TempHome home;
  const std::string path = home.path("Plumadex.ini");
  writeFile(path, kOld);
  IniRegistry desk, cli;  // two processes
  TPXIniFile early(desk, path);
  EXPECT_EQ(early.ReadString("a.txt", "Title", ""), "A");
  {
    TPXIniFile ix(cli, path);
    ix.WriteString("new.eml", "Title", "New");
    ASSERT_TRUE(ix.Release().ok());
  }
  early.WriteString("a.txt", "Title", "Changed");
  ASSERT_TRUE(early.Release().ok());
  TPXIniFile ix(cli, path);
  EXPECT_EQ(ix.ReadString("new.eml", "Title", ""), "New");
  EXPECT_EQ(ix.ReadString("a.txt", "Title", ""), "Changed");
}

// A disk that fills up half-way through the new entry: the save fails and the file is as it was.
TEST(IndexAppend, AFailedAppendLeavesTheFileAsItWas) {
  TempHome home;
  const std::string path = home.path("Plumadex.ini");
  writeFile(path, kOld);
  IniRegistry reg;
  TPXIniFile ix(reg, path);
  ix.WriteString("new.eml", "Title", std::string(4096, 'x'));
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = kOld.size() + 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const FileStatus st = ix.UpdateFile();
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(st.ok());
  EXPECT_EQ(readFile(path), kOld);
  // Tried again with room, the entry is written whole.
  ASSERT_TRUE(ix.Release().ok());
  EXPECT_EQ(readFile(path), kOld + "[new.eml]\r\nTitle=" + std::string(4096, 'x') + "\r\n\r\n");
}

}  // namespace
}  // namespace px::store
