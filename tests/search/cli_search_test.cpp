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

}  // namespace
