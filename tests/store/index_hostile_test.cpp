// Indexes that are not what they seem: a link, a FIFO, a folder, a UTF-16 file.
#include "foundation/ini_file.h"
#include "store/index_file.h"
#include "store/list_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace px;
using namespace px::store;
using px::test::readFile;
using px::test::writeFile;

namespace {

enum class Odd { Symlink, DanglingSymlink, Fifo, Folder };

TEST(HostileIndex, ALinkFifoOrFolderIsUnreadableAndNeverWritten) {
  for (Odd kind : {Odd::Symlink, Odd::DanglingSymlink, Odd::Fifo, Odd::Folder}) {
    SCOPED_TRACE(static_cast<int>(kind));
    px::test::TempHome home;
    const std::string dir = home.path("f/");
    const std::string victim = home.path("victim.txt");
    px::test::makeDirs(dir);
    const std::string index = dir + "Plumadex.ini";
    switch (kind) {
      case Odd::Symlink:
        writeFile(victim, "[precious]\r\nkeep=1\r\n");
        ASSERT_EQ(::symlink(victim.c_str(), index.c_str()), 0);
        break;
      case Odd::DanglingSymlink:
        ASSERT_EQ(::symlink(victim.c_str(), index.c_str()), 0);
        break;
      case Odd::Fifo:
        ASSERT_EQ(::mkfifo(index.c_str(), 0600), 0);
        break;
      case Odd::Folder:
        px::test::makeDirs(index);
        break;
    }
    IniRegistry registry;
    TPXIniFile ix(registry, IndexPathOf(dir));  // a FIFO must not hang here
    EXPECT_FALSE(ix.LoadStatus().ok());
    EXPECT_EQ(ix.SectionCount(), 0u);
    ix.WriteString("doc.txt", "Title", "x");
    EXPECT_FALSE(ix.Release().ok());
    struct stat st{};
    ASSERT_EQ(::lstat(index.c_str(), &st), 0);
    if (kind == Odd::Symlink) {
      EXPECT_TRUE(S_ISLNK(st.st_mode));
      EXPECT_EQ(readFile(victim), "[precious]\r\nkeep=1\r\n");
    }
    if (kind == Odd::DanglingSymlink) {
      EXPECT_TRUE(S_ISLNK(st.st_mode));
      EXPECT_NE(::access(victim.c_str(), F_OK), 0);  // nothing created through the link
    }
    if (kind == Odd::Fifo) {
      EXPECT_TRUE(S_ISFIFO(st.st_mode));
      EXPECT_TRUE(ReadListFile(index).empty());  // list files do not hang either
    }
    if (kind == Odd::Folder) EXPECT_TRUE(S_ISDIR(st.st_mode));
  }
}

TEST(HostileIndex, Utf16IndexesAreReadAndKeptAs8BitText) {
  struct Case {
    const char* name;
    bool littleEndian;
  } cases[] = {{"little-endian", true}, {"big-endian", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    px::test::TempHome home;
    const std::string dir = home.path("f/");
    px::test::makeDirs(dir);
    const std::u16string text = u"[Brief \u00e9t\u00e9.txt]\r\nTitle=\u00c9t\u00e9\r\nFlags=512\r\n";
    std::string bytes = c.littleEndian ? std::string("\xFF\xFE", 2) : std::string("\xFE\xFF", 2);
    for (char16_t ch : text) {
      const char lo = static_cast<char>(ch & 0xFF), hi = static_cast<char>(ch >> 8);
      bytes += c.littleEndian ? lo : hi;
      bytes += c.littleEndian ? hi : lo;
    }
    writeFile(dir + "Plumadex.ini", bytes);
    IniRegistry registry;
    TPXIniFile ix(registry, IndexPathOf(dir));
    EXPECT_TRUE(ix.LoadStatus().ok());
    EXPECT_EQ(ix.ReadString("Brief \u00e9t\u00e9.txt", "Title", "-"), "\u00c9t\u00e9");
    ix.WriteString("Brief \u00e9t\u00e9.txt", "Sticker", "n");
    ASSERT_TRUE(ix.Release().ok());
    const std::string saved = readFile(dir + "Plumadex.ini");
    EXPECT_NE(saved.find("Title=\u00c9t\u00e9\r\nFlags=512\r\nSticker=n"), std::string::npos) << saved;
  }
}

}  // namespace
