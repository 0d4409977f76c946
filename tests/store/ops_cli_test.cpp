// plumadex-cli copy/move/trash/delete/rename: exit status and messages follow the result.
#include "support/test_paths.h"
#include "support/test_support.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <string>

using px::test::TempHome;
using px::test::makeDirs;
using px::test::readFile;
using px::test::writeFile;

namespace {

struct CliResult {
  int status = -1;
  std::string out, err;
};

CliResult runCli(const QStringList& args) {
  CliResult r;
  QProcess p;
  p.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), args);
  if (!p.waitForFinished(30000)) return r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

}  // namespace

TEST(OpsCli, ExitStatusFollowsTheOperation) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli")))
    GTEST_SKIP() << "plumadex-cli is not built";
  TempHome home;
  const std::string docs = home.path("Documents/");
  makeDirs(docs + "A");
  makeDirs(docs + "B");
  writeFile(docs + "A/a.txt", "a");
  writeFile(docs + "A/Plumadex.ini", "[a.txt]\r\nTitle=Alpha\r\nFlags=512\r\n");
  auto q = [](const std::string& s) { return QString::fromStdString(s); };

  CliResult moved = runCli({"move", q(docs + "A/a.txt"), q(docs + "B")});
  EXPECT_EQ(moved.status, 0) << moved.err;
  EXPECT_EQ(moved.out, docs + "B/Alpha.txt\n");
  EXPECT_EQ(readFile(home.path("data/unread.lst")), docs + "B/=1\r\n");

  CliResult missing = runCli({"copy", q(docs + "A/nothing.txt"), q(docs + "B")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no such file"), std::string::npos);

  writeFile(docs + "B/Beta.txt", "b");
  CliResult refused = runCli({"rename", q(docs + "B/Alpha.txt"), "beta"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Sorry, but you cannot rename this file to\nbeta.txt"), std::string::npos)
      << refused.err;

  // The new title is given in UTF-8 and stored in the document's charset.
  writeFile(docs + "B/cv.txt", "c");
  writeFile(docs + "B/Plumadex.ini", "[cv.txt]\r\nTitle=cv\r\nCharset=ISO-8859-1\r\n");
  CliResult renamed = runCli({"rename", q(docs + "B/cv.txt"), QString::fromUtf8("r\xc3\xa9sum\xc3\xa9")});
  EXPECT_EQ(renamed.status, 0) << renamed.err;
  EXPECT_EQ(renamed.out, docs + "B/r\xc3\xa9sum\xc3\xa9.txt\n");
  EXPECT_NE(readFile(docs + "B/Plumadex.ini").find("Title=r\xe9sum\xe9\r\n"), std::string::npos);

  CliResult trashed = runCli({"trash", q(docs + "B/Alpha.txt")});
  EXPECT_EQ(trashed.status, 0) << trashed.err;
  EXPECT_EQ(readFile(docs + "TRASH/Alpha.txt"), "a");

  CliResult emptied = runCli({"delete", q(docs + "TRASH")});
  EXPECT_EQ(emptied.status, 0) << emptied.err;
  EXPECT_TRUE(QFileInfo::exists(q(docs + "TRASH")));
  EXPECT_FALSE(QFileInfo::exists(q(docs + "TRASH/Alpha.txt")));

  CliResult usage = runCli({"move", q(docs + "B/Beta.txt")});
  EXPECT_EQ(usage.status, 2);
}
