#include "store/index_file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include <QDir>

namespace px::store {
namespace {

using px::test::readFile;
using px::test::TempHome;
using px::test::writeFile;

StringList sectionsOf(const TPXCustomIni& ini) {
  StringList s;
  ini.ReadSections(s);
  return s;
}

StringList linesOf(const TPXCustomIni& ini, std::string_view section) {
  StringList l;
  ini.ReadSectionValues(section, l);
  return l;
}

StringList filesIn(const std::string& dir) {
  StringList r;
  for (const QString& n : QDir(QString::fromStdString(dir)).entryList(QDir::Files | QDir::Hidden))
    r.push_back(n.toStdString());
  return r;
}

// ---------------------------------------------------------------------------------------------
// Parsing

TEST(IniParse, LineEndsAreEquivalent) {
  for (const char* eol : {"\r\n", "\n", "\r"}) {
    std::string e(eol);
    TPXIniBase ini("");
    ini.SetText("[a]" + e + "x=1" + e + e + "[b]" + e + "y=2" + e + "z=3");
    EXPECT_EQ(sectionsOf(ini), (StringList{"a", "b"})) << "eol " << int(e[0]);
    EXPECT_EQ(linesOf(ini, "b"), (StringList{"y=2", "z=3"}));
  }
}

TEST(IniParse, DropsCommentsBlankLinesAndTextBeforeFirstSection) {
  TPXIniBase ini("");
  ini.SetText("orphan=1\r\n;comment\r\n[S]\r\n\r\n;note=2\r\nk=v\r\n  \r\nnoequals\r\n");
  EXPECT_EQ(sectionsOf(ini), StringList{"S"});
  // A line of blanks and a line without "=" are kept verbatim.
  EXPECT_EQ(linesOf(ini, "s"), (StringList{"k=v", "  ", "noequals"}));
}

TEST(IniParse, RepeatedSectionIsIgnoredWithItsLines) {
  TPXIniBase ini("");
  ini.SetText("[Mail.txt]\r\nTitle=first\r\n[MAIL.TXT]\r\nTitle=second\r\nFlags=5\r\n[other]\r\na=1\r\n");
  EXPECT_EQ(sectionsOf(ini), (StringList{"Mail.txt", "other"}));
  EXPECT_EQ(linesOf(ini, "mail.txt"), StringList{"Title=first"});
}

TEST(IniParse, LeadingByteOrderMarkIsSkipped) {
  TPXIniBase ini("");
  ini.SetText("\xEF\xBB\xBF[first]\r\nk=1\r\n");
  EXPECT_EQ(ini.ReadString("first", "k", "-"), "1");
  EXPECT_EQ(ini.Text(), "[first]\r\nk=1\r\n\r\n");
}

TEST(IniParse, HeaderNameIsTakenUnchanged) {
  TPXIniBase ini("");
  ini.SetText("[ spaced ]\r\na=1\r\n[[nested]]\r\nb=2\r\n[]\r\nc=3\r\n[x\r\nd=4\r\n");
  EXPECT_EQ(ini.ReadString(" spaced ", "a", "-"), "1");
  EXPECT_EQ(ini.ReadString("spaced", "a", "-"), "-");
  EXPECT_EQ(ini.ReadString("[nested]", "b", "-"), "2");
  EXPECT_EQ(ini.ReadString("", "c", "-"), "3");
  // "[x" is not a header: it is a line of the section above.
  EXPECT_EQ(linesOf(ini, ""), (StringList{"c=3", "[x", "d=4"}));
}

// ---------------------------------------------------------------------------------------------
// Reading and writing keys

TEST(IniKeys, ReadStringMatchesWholeKeyWithoutCaseAndKeepsValueVerbatim) {
  TPXIniBase ini("");
  ini.SetText("[Doc]\r\nTitleX=no\r\ntitle= Hello = World \r\nTitle=second\r\n=empty\r\n");
  EXPECT_EQ(ini.ReadString("DOC", "TITLE", "-"), " Hello = World ");
  EXPECT_EQ(ini.ReadString("doc", "Titl", "-"), "-");
  EXPECT_EQ(ini.ReadString("doc", "", "-"), "empty");
  EXPECT_EQ(ini.ReadString("missing", "Title", "dflt"), "dflt");
  EXPECT_TRUE(ini.ValueExists("doc", "titlex"));
  EXPECT_FALSE(ini.ValueExists("doc", "Flags"));
}

TEST(IniKeys, WriteReplacesFirstMatchOrAppendsAndKeepsSectionsSorted) {
  TPXIniBase ini("");
  ini.SetText("[b]\r\nTitle=one\r\nFlags=1\r\nTITLE=dup\r\n");
  ini.WriteString("B", "title", "two");
  ini.WriteString("b", "Sticker", "s");
  ini.WriteString("A", "x", "1");
  ini.WriteString("c", "y", "2");
  EXPECT_EQ(linesOf(ini, "b"), (StringList{"title=two", "Flags=1", "TITLE=dup", "Sticker=s"}));
  EXPECT_EQ(sectionsOf(ini), (StringList{"A", "b", "c"}));
}

TEST(IniKeys, WritersTurnLineBreaksAndNulIntoBlanks) {
  TPXIniBase ini("");
  const std::string section("na\rme\n", 6), key("k\0y", 3);
  ini.WriteString(section, key, std::string("a\r\nb\0c", 6));
  EXPECT_EQ(sectionsOf(ini), StringList{"na me "});
  // Readers take the names the way the writers stored them.
  EXPECT_EQ(ini.ReadString(section, key, "-"), "a  b c");
  EXPECT_EQ(linesOf(ini, "na me "), StringList{"k y=a  b c"});
  // The saved text therefore reads back as the same single section and line.
  TPXIniBase again("");
  again.SetText(ini.Text());
  EXPECT_EQ(linesOf(again, "na me "), StringList{"k y=a  b c"});
}

TEST(IniKeys, DeleteKeyEraseSectionAndEmptySections) {
  TPXIniBase ini("");
  ini.SetText("[a]\r\nk=1\r\nk=2\r\n[empty]\r\n[b]\r\nx=1\r\n");
  EXPECT_FALSE(ini.SectionExists("empty"));
  EXPECT_TRUE(ini.SectionExists("A"));
  ini.DeleteKey("a", "K");  // the first of the two
  EXPECT_EQ(linesOf(ini, "a"), StringList{"k=2"});
  ini.DeleteKey("a", "k");
  EXPECT_FALSE(ini.SectionExists("a"));
  EXPECT_EQ(sectionsOf(ini), (StringList{"a", "b", "empty"}));  // still listed, without lines
  ini.EraseSection("B");
  EXPECT_EQ(sectionsOf(ini), (StringList{"a", "empty"}));
  EXPECT_EQ(ini.Text(), "[a]\r\n\r\n[empty]\r\n\r\n");
}

TEST(IniKeys, NonAsciiNamesCompareWithoutCase) {
  TPXIniBase ini("");
  ini.WriteString("Ärger.txt", "Größe", "1");
  EXPECT_EQ(ini.ReadString("ärger.TXT", "GRÖSSE", "-"), "1");  // full case folding: ß = ss
  EXPECT_EQ(ini.ReadString("ärger.TXT", "größe", "-"), "1");
  ini.WriteString("ÄRGER.TXT", "GRÖßE", "2");
  EXPECT_EQ(linesOf(ini, "ärger.txt"), StringList{"GRÖßE=2"});
}

TEST(IniKeys, KeyReadersSeeSectionLinesAndDump) {
  TPXIniBase ini("");
  ini.SetText("[Z]\r\nb=2\r\nflag\r\n[y]\r\na=1\r\n");
  StringList keys;
  ini.ReadSection("z", keys);
  EXPECT_EQ(keys, StringList{"b"});
  StringList dump;
  ini.GetStrings(dump);
  EXPECT_EQ(dump, (StringList{"[y]", "a=1", "", "[Z]", "b=2", "flag", ""}));
  std::vector<std::pair<std::string, size_t>> seen;
  ini.ForEachSection([&](std::string_view name, std::span<const std::string_view> lines) {
    seen.emplace_back(std::string(name), lines.size());
  });
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, size_t>>{{"y", 1}, {"Z", 2}}));
}

TEST(IniKeys, TypedValuesInTextForm) {
  TPXIniBase ini("");
  ini.SetText("[s]\r\nhex=0x1F\r\ndollar=$10\r\nneg= -42 \r\nbad=12a\r\nbig=99999999999999999999\r\n"
              "yes=true\r\nday=12/31/99\r\nstamp=01/05/03 10:30\r\ncomma=2,5\r\n");
  EXPECT_EQ(ini.ReadInteger("s", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("s", "dollar", 0), 16);
  EXPECT_EQ(ini.ReadInteger("s", "neg", 0), -42);
  EXPECT_EQ(ini.ReadInteger("s", "bad", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "big", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "none", 7), 7);
  EXPECT_TRUE(ini.ReadBool("s", "yes", false));
  EXPECT_TRUE(ini.ReadBool("s", "hex", false));
  EXPECT_FALSE(ini.ReadBool("s", "bad", false));
  EXPECT_DOUBLE_EQ(ini.ReadDate("s", "day", 0), 36525.0);  // 1999-12-31
  EXPECT_DOUBLE_EQ(ini.ReadDateTime("s", "stamp", 0), 37626.0 + 10.5 / 24);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("s", "comma", 0), 2.5);

  ini.WriteBool("s", "b", true);
  ini.WriteInteger("s", "i", -5);
  ini.WriteDateTime("s", "dt", 37626.0 + 10.5 / 24);
  ini.WriteDate("s", "d", 37626.75);
  ini.WriteTime("s", "t", 0.25);
  ini.WriteFloat("s", "f", 0.1);
  ini.WriteBinary("s", "bin", std::string("\x00\xff\x10", 3));
  EXPECT_EQ(ini.ReadString("s", "b", ""), "1");
  EXPECT_EQ(ini.ReadString("s", "i", ""), "-5");
  EXPECT_EQ(ini.ReadString("s", "dt", ""), "2003-01-05 10:30:00");
  EXPECT_EQ(ini.ReadString("s", "d", ""), "2003-01-05");
  EXPECT_EQ(ini.ReadString("s", "t", ""), "06:00:00");
  EXPECT_EQ(ini.ReadString("s", "bin", ""), "00FF10");
  EXPECT_DOUBLE_EQ(ini.ReadDateTime("s", "dt", 0), 37626.0 + 10.5 / 24);
  EXPECT_DOUBLE_EQ(ini.ReadTime("s", "t", 0), 0.25);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("s", "f", 0), 0.1);
  EXPECT_EQ(ini.ReadBinary("s", "bin"), std::string("\x00\xff\x10", 3));
  EXPECT_DOUBLE_EQ(ini.ReadDate("s", "i", -1), -1);  // not a date
}

// ---------------------------------------------------------------------------------------------
// Files

TEST(IniFileIo, SavesSortedWithCrLfOnlyWhenModified) {
  TempHome home;
  std::string path = home.path("Plumadex.ini");
  {
    TPXIniBase ini(path);
    EXPECT_TRUE(ini.LoadStatus().ok());
    EXPECT_TRUE(ini.UpdateFile().ok());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));  // nothing written yet
    ini.WriteString("beta", "k", "2");
    ini.WriteString("Alpha", "k", "1");
    ini.WriteString("$$.Plumadex", "Hide Contacts", "");
    EXPECT_TRUE(ini.UpdateFile().ok());
    EXPECT_FALSE(ini.Modified());
  }
  EXPECT_EQ(readFile(path), "[$$.Plumadex]\r\nHide Contacts=\r\n\r\n[Alpha]\r\nk=1\r\n\r\n[beta]\r\nk=2\r\n\r\n");
  TPXIniBase again(path);
  EXPECT_EQ(again.ReadString("BETA", "K", ""), "2");
  EXPECT_FALSE(again.Modified());
}

TEST(IniFileIo, RewriteKeepsModeAndLeavesNoTemporaryFile) {
  TempHome home;
  std::string path = home.path("Plumadex.ini");
  writeFile(path, "[a]\nk=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  TPXIniBase ini(path);
  ini.WriteString("a", "k", "2");
  ASSERT_TRUE(ini.UpdateFile().ok());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // Only the index and its lock file (hidden, left in place for the next writer).
  EXPECT_EQ(filesIn(home.root()), (StringList{".Plumadex.ini.lock", "Plumadex.ini"}));
}

TEST(IniFileIo, FailedSaveIsReportedKeepsOldFileAndCanBeRetried) {
  TempHome home;
  // The index path is taken by a folder: the rename over it fails after the data was written.
  std::string blocked = home.path("blocked/Plumadex.ini");
  px::test::makeDirs(blocked);
  TPXIniBase ini(home.path("missing/Plumadex.ini"));
  ini.WriteString("a", "k", "1");
  FileStatus st = ini.UpdateFile();
  EXPECT_FALSE(st.ok());
  EXPECT_EQ(st.error, ENOENT);
  EXPECT_EQ(st.message.rfind("Cannot write " + home.path("missing/Plumadex.ini") + "\r\rError 2: ", 0), 0u)
      << st.message;
  EXPECT_TRUE(ini.Modified());  // the changes are still pending
  px::test::makeDirs(home.path("missing"));
  EXPECT_TRUE(ini.UpdateFile().ok());
  EXPECT_EQ(readFile(home.path("missing/Plumadex.ini")), "[a]\r\nk=1\r\n\r\n");

  // A file that could not be read is never overwritten by the partial copy in memory.
  TPXIniBase unreadable(blocked);
  EXPECT_EQ(unreadable.LoadStatus().error, EISDIR);
  unreadable.WriteString("a", "k", "1");
  EXPECT_FALSE(unreadable.UpdateFile().ok());
  EXPECT_TRUE(QFileInfo(QString::fromStdString(blocked)).isDir());
  EXPECT_EQ(filesIn(home.path("blocked")), StringList{});
}

TEST(IniFileIo, SaveWritesThroughSymbolicLink) {
  TempHome home;
  std::string real = home.path("real.ini");
  std::string link = home.path("Plumadex.ini");
  writeFile(real, "[a]\r\nk=1\r\n");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  TPXIniBase ini(link);
  ini.WriteString("a", "k", "2");
  ASSERT_TRUE(ini.UpdateFile().ok());
  EXPECT_TRUE(QFileInfo(QString::fromStdString(link)).isSymLink());
  EXPECT_EQ(readFile(real), "[a]\r\nk=2\r\n\r\n");
}

TEST(IniFileIo, IndexFileNameInAnyCase) {
  TempHome home;
  EXPECT_EQ(IndexPathOf(home.root()), home.path("Plumadex.ini"));
  EXPECT_EQ(IndexPathOf(home.root().substr(0, home.root().size() - 1)), home.path("Plumadex.ini"));
  writeFile(home.path("PLUMADEX.INI"), "[a]\r\nk=1\r\n");
  EXPECT_EQ(IndexPathOf(home.root()), home.path("PLUMADEX.INI"));
  EXPECT_TRUE(IsIndexFileName("plumadex.INI"));
  EXPECT_FALSE(IsIndexFileName("Plumadex.ini.bak"));
}

TEST(IniFileIo, IndexInAnySpellingIsReadAndUpdatedNeverDoubled) {
  for (const char* spelling : {"plumadex.INI", "PlumaDEX.Ini", "pLUMADEX.iNI", "PLUMADEX.INI"}) {
    SCOPED_TRACE(spelling);
    TempHome home;
    const std::string dir = home.path("f/");
    px::test::makeDirs(dir);
    writeFile(dir + spelling, "[a.txt]\r\nTitle=A\r\n");
    EXPECT_EQ(IndexPathOf(dir), dir + spelling);
    IniRegistry registry;
    {
      TPXIniFile ini(registry, IndexPathOf(dir));
      EXPECT_EQ(ini.ReadString("a.txt", "Title", "-"), "A");
      ini.WriteString("a.txt", "Flags", "512");
      ASSERT_TRUE(ini.Release().ok());
    }
    EXPECT_EQ(readFile(dir + spelling), "[a.txt]\r\nTitle=A\r\nFlags=512\r\n\r\n");
    int indexes = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
      if (IsIndexFileName(e.path().filename().string())) ++indexes;
    EXPECT_EQ(indexes, 1);
  }
}

}  // namespace
}  // namespace px::store
