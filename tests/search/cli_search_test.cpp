// plumadex-cli search prints the paths of the documents whose text holds the words.
#include "support/test_paths.h"
#include "support/test_support.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>

namespace {

using px::test::TempHome;
using px::test::makeDirs;
using px::test::writeFile;

struct CliRun {
  int code = -1;
  std::string out, err;
};

CliRun cli(const QStringList& args) {
  QProcess p;
  p.start(PX_BINARY_DIR "/src/plumadex-cli", args);
  CliRun r;
  if (!p.waitForFinished(60000)) return r;
  r.code = p.exitCode();
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

TEST(CliSearch, PrintsMatchingPathsOfTheTree) {
  TempHome home;  // PLUMADEX_HOME for the child too
  const std::string docs = home.path("Documents/");
  makeDirs(docs + "letters");
  makeDirs(home.path("data/TRASH"));
  writeFile(docs + "letters/offer.rtf", "{\\rtf1\\ansi Our offer for the caf\\'e9}");
  writeFile(docs + "notes.txt", "nothing of interest");
  writeFile(docs + "Café menu.txt", "x");
  writeFile(home.path("data/TRASH/old café.txt"), "café");
  const CliRun r = cli({"search", "--whole-words", "CAFÉ"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, docs + "Café menu.txt\n" + docs + "letters/offer.rtf\n");

  const CliRun none = cli({"search", "--in", QString::fromStdString(docs + "letters"), "--scan", "absent"});
  EXPECT_EQ(none.code, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(cli({"search"}).code, 2);
  EXPECT_EQ(cli({"search", "--in", "/nonexistent/x", "word"}).code, 2);
}

// The first command of a new user: no data folder yet.
TEST(CliSearch, IndexingAFreshHomeMakesTheDataFolder) {
  TempHome home;
  makeDirs(home.path("Documents"));
  writeFile(home.path("Documents/report.txt"), "The bakery");
  const CliRun built = cli({"index"});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_EQ(cli({"search", "bakery"}).out, home.path("Documents/report.txt") + "\n");
}

TEST(CliSearch, IndexBuiltThenAnswersQueries) {
  TempHome home;
  const std::string docs = home.path("Documents/");
  makeDirs(docs + "mail");
  makeDirs(home.path("data"));
  writeFile(docs + "report.txt", "The quarterly report of the bakery");
  writeFile(docs + "mail/body.txt", "Please send the quarterly invoice");
  writeFile(docs + "mail/Plumadex.ini", "[body.txt]\r\nTitle=Order\r\nFlags=4096\r\nAddress=miller@mill.example\r\n");
  const CliRun built = cli({"index"});
  ASSERT_EQ(built.code, 0) << built.err;
  EXPECT_EQ(built.out, "Indexed 2 documents in 2 folders: 2 read, 0 moved, 0 removed.\n");
  EXPECT_NE(built.err.find("Indexing: 2/2 folders, 2 documents (2 read)"), std::string::npos) << built.err;

  EXPECT_EQ(cli({"search", "quarterly"}).out, docs + "mail/body.txt\n" + docs + "report.txt\n");
  EXPECT_EQ(cli({"search", "\"quarterly report\""}).out, docs + "report.txt\n");
  EXPECT_EQ(cli({"search", "quarterly", "NOT", "from:miller@mill.example"}).out, docs + "report.txt\n");
  EXPECT_EQ(cli({"search", "--in", QString::fromStdString(docs + "mail"), "quarterly"}).out, docs + "mail/body.txt\n");
  // The index finds words; the scan finds the letters inside words too.
  EXPECT_EQ(cli({"search", "quarter"}).code, 1);
  EXPECT_EQ(cli({"search", "--scan", "quarter"}).out, docs + "report.txt\n" + docs + "mail/body.txt\n");
  // A document changed after the index was built is found once the index is brought up to date.
  writeFile(docs + "late.txt", "quarterly too");
  EXPECT_EQ(cli({"index"}).out, "Indexed 3 documents in 2 folders: 1 read, 0 moved, 0 removed.\n");
  EXPECT_EQ(cli({"index", "--rebuild"}).out, "Indexed 3 documents in 2 folders: 3 read, 0 moved, 0 removed.\n");
  EXPECT_EQ(cli({"search", "quarterly"}).out,
            docs + "late.txt\n" + docs + "mail/body.txt\n" + docs + "report.txt\n");
  EXPECT_EQ(cli({"index", "--bogus"}).code, 2);
}

}  // namespace
