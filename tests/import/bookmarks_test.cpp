// Bookmark files: folders and Internet shortcuts with their titles, entities decoded once,
// hostile headings kept inside the target, nesting capped, a second import adds nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>

#include "import/bookmarks.h"
#include "store/index_file.h"
#include "support/test_support.h"

namespace px::import {
namespace {

TEST(Bookmarks, TitlesAreDecodedInOnePass) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"News &amp; Weather", "News & Weather"},
      {"&amp;lt;", "&lt;"},  // one pass: never decoded twice
      {"&#33;&#x41;&#X42;", "!AB"},
      {"&#233;t&eacute;", "\xC3\xA9t&eacute;"},
      {"&#0;x", "\xEF\xBF\xBDx"},
      {"a &nbsp; b ", "a   b"},
      {"&unknown; & &#xZZ;", "&unknown; & &#xZZ;"},
      {"line\x01" "break", "line break"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeTitle(c.in), c.out) << c.in;
}

TEST(Bookmarks, FoldersAndShortcutsOnceAndInsideTheTarget) {
  test::TempHome home;
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += "<DT><H3>level" + std::to_string(i) + "</H3>\n<DL><p>\n";
  deep += "<DT><A HREF=\"https://deep.example/\">Deep</A>\n";
  for (int i = 0; i < 40; ++i) deep += "</DL><p>\n";
  test::writeFile(home.path("bookmarks.html"),
                  "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
                  "<DT><A HREF=\"https://news.example/\" ADD_DATE=\"1\">News &amp; Weather</A>\n"
                  "<DT><A HREF=\"https://a.example/\">Same</A>\n"
                  "<DT><A HREF=\"https://b.example/\">Same</A>\n"
                  "<DT><A HREF=\"https://broken.example/\"no closing\n"
                  "<DT><H3 ADD_DATE=\"2\">Work/../Stuff</H3>\n<DL><p>\n"
                  "<DT><A HREF=\"https://work.example/\">Work site</A>\n"
                  "</DL><p>\n"
                  "<DT><H3>..</H3>\n<DL><p>\n<DT><A HREF=\"https://dots.example/\">Dots</A>\n</DL><p>\n" +
                      deep + "</DL><p>\n");
  const std::string target = home.path("docs/Imported/bookmarks/");
  store::IniRegistry registry;
  BookmarkResult r = ImportBookmarks(home.path("bookmarks.html"), target, registry);
  EXPECT_EQ(r.bookmarks, 6);
  EXPECT_EQ(test::readFile(target + "News & Weather.url"), "[InternetShortcut]\r\nURL=https://news.example/\r\n");
  EXPECT_TRUE(QFile::exists(QString::fromStdString(target + "Same.url")));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(target + "Same (2).url")));
  EXPECT_NE(test::readFile(target + "Plumadex.ini").find("Title=Same"), std::string::npos);
  EXPECT_NE(test::readFile(target + "Plumadex.ini").find("Title=Work/../Stuff"), std::string::npos);
  // Everything inside the target, nested at most 32 deep below it.
  int files = 0;
  QDirIterator it(QString::fromStdString(home.root()), QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const std::string f = it.next().toStdString();
    if (f.ends_with(".url")) {
      ++files;
      EXPECT_EQ(f.rfind(target, 0), 0u) << f;
      EXPECT_LE(std::count(f.begin() + static_cast<long>(target.size()), f.end(), '/'), 33) << f;
    }
  }
  EXPECT_EQ(files, 6);
  // Again: nothing new.
  BookmarkResult again = ImportBookmarks(home.path("bookmarks.html"), target, registry);
  EXPECT_EQ(again.bookmarks, 0);
  EXPECT_EQ(again.folders, 0);
  EXPECT_EQ(again.known, 6);
}

}  // namespace
}  // namespace px::import
