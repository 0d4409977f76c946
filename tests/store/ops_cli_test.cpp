// plumadex-cli copy/move/trash/delete/rename: exit status and messages follow the result.
#include "support/test_paths.h"
#include "support/test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <string>
#include <vector>

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

// Two programs storing documents of one name into one folder at the same time: each picks its
// names from the folder as it read it, so both pick the same ones; every file must survive.
TEST(OpsCli, TwoProcessesStoringTheSameNamesKeepEveryFile) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli")))
    GTEST_SKIP() << "plumadex-cli is not built";
  TempHome home;
  const std::string docs = home.path("Documents/");
  const std::string target = docs + "Inbox/";
  makeDirs(target);
  constexpr int kEach = 150;
  std::vector<QStringList> argsOf(2);
  std::set<std::string> contents;
  for (int p = 0; p < 2; ++p) {
    const std::string src = home.path("src" + std::to_string(p) + "/");
    makeDirs(src);
    argsOf[p] << "store";
    for (int i = 0; i < kEach; ++i) {
      const std::string body = "writer " + std::to_string(p) + " file " + std::to_string(i);
      writeFile(src + std::to_string(i) + ".txt", body);
      contents.insert(body);
      argsOf[p] << QString::fromStdString(src + std::to_string(i) + ".txt");
    }
    argsOf[p] << "--into" << QString::fromStdString(target) << "--title" << "Same" << "--quiet";
  }
  QProcess a, b;
  a.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), argsOf[0]);
  b.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), argsOf[1]);
  ASSERT_TRUE(a.waitForFinished(120000));
  ASSERT_TRUE(b.waitForFinished(120000));
  EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
  EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();

  std::set<std::string> found;
  QDir dir(QString::fromStdString(target));
  for (const QString& n : dir.entryList(QDir::Files | QDir::Hidden)) {
    if (!n.startsWith(QStringLiteral("Same"))) continue;
    found.insert(readFile(target + n.toStdString()));
  }
  EXPECT_EQ(found.size(), contents.size());
  EXPECT_EQ(found, contents);
}

// list names only folders; what the commands print on stderr holds no raw carriage return (the
// message window's line breaks, or one inside a file name, would hide the text before it).
TEST(OpsCli, ListOfANonFolderFailsAndMessagesHoldNoCarriageReturn) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli")))
    GTEST_SKIP() << "plumadex-cli is not built";
  TempHome home;
  const std::string docs = home.path("Documents/");
  makeDirs(docs + "A");
  writeFile(docs + "A/file.txt", "x");
  ASSERT_EQ(::mkfifo((docs + "pipe").c_str(), 0600), 0);
  makeDirs(docs + "Odd");
  ASSERT_EQ(::mkfifo((docs + "Odd/Plumadex.ini").c_str(), 0600), 0);
  auto q = [](const std::string& s) { return QString::fromStdString(s); };
  struct Case {
    QStringList args;
    int status;
  };
  const Case cases[] = {
      {{"list", q(docs + "A/file.txt")}, 1},
      {{"list", q(docs + "pipe")}, 1},
      {{"list", q(docs + "missing")}, 1},
      {{"list", q(docs + "Odd")}, 0},  // an index that is not a file: listed without it, with a warning
      {{"copy", q(docs + "A/gone\r\rError 0: fine.txt"), q(docs + "A")}, 1},
      {{"split", q(docs + "A/no\rmessage"), q(home.path("spool"))}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    CliResult r = runCli(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << r.out;
  }
}

// A full disk under the data folder: a move is refused with a message that names the file that
// could not be written and the cause, with --quiet as without; deleting still works, which is
// how the user makes room.
TEST(OpsCli, OnAFullDiskMovesSayWhyAndDeletingMakesRoom) {
  if (!QFileInfo::exists(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli")))
    GTEST_SKIP() << "plumadex-cli is not built";
  TempHome home;
  const std::string root = home.path("disk");
  makeDirs(root);
  if (::mount("tmpfs", root.c_str(), "tmpfs", 0, "size=512k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{root};
  qputenv("PLUMADEX_HOME", QByteArray::fromStdString(root));
  const std::string docs = root + "/Documents/";
  makeDirs(docs + "A");
  makeDirs(docs + "B");
  std::string index;
  for (int i = 0; i < 4; ++i) {
    const std::string n = "d" + std::to_string(i) + ".bin";
    writeFile(docs + "A/" + n, std::string(40000, char('a' + i)));
    index += "[" + n + "]\r\nTitle=Doc " + std::to_string(i) + "\r\nSticker=" + std::string(2000, 's') + "\r\n\r\n";
  }
  writeFile(docs + "A/Plumadex.ini", index);
  auto q = [](const std::string& s) { return QString::fromStdString(s); };
  // A first run makes the data folder.
  ASSERT_EQ(runCli({"move", q(docs + "A/d0.bin"), q(docs + "B")}).status, 0);
  for (int n = 0;; ++n) {
    FILE* f = std::fopen((root + "/filler" + std::to_string(n)).c_str(), "wb");
    if (!f) break;
    std::string page(4096, 'f');
    const bool full = std::fwrite(page.data(), 1, page.size(), f) != page.size();
    if ((std::fclose(f) != 0) || full) break;
  }

  for (const QStringList& args : {QStringList{"move", "--quiet"}, QStringList{"move"}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    CliResult r = runCli(args + QStringList{q(docs + "A/d1.bin"), q(docs + "B")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("Cannot write " + root + "/data/Journal/"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Error 28: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("full"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(docs + "A/d1.bin"), std::string(40000, 'b'));
  }

  CliResult deleted = runCli({"delete", q(docs + "A/d1.bin")});
  EXPECT_EQ(deleted.status, 0) << deleted.err;
  EXPECT_FALSE(QFileInfo::exists(q(docs + "A/d1.bin")));
  const std::string after = readFile(docs + "A/Plumadex.ini");
  EXPECT_EQ(after.find("[d1.bin]"), std::string::npos);
  EXPECT_NE(after.find("Title=Doc 2"), std::string::npos);
  EXPECT_NE(after.find("Title=Doc 3"), std::string::npos);
  // With the room made, the move goes through.
  CliResult moved = runCli({"move", "--quiet", q(docs + "A/d2.bin"), q(docs + "B")});
  EXPECT_EQ(moved.status, 0) << moved.err;
}
