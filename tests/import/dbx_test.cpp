// Outlook Express stores made from their layout: the folder tree (Local Folders only), each
// folder's messages byte for byte into the spool and filed by folder, the odd cases of the
// layout, and damaged or hostile files: bounded reads, loops, deep trees, names that try to
// leave the target.
#include <gtest/gtest.h>

#include <QDir>

#include <atomic>
#include <random>

#include "foundation/random.h"
#include "import/dbx_reader.h"
#include "import/import_run.h"
#include "import/import_source.h"
#include "mailformat/spool.h"
#include "support/dbx_fixture.h"
#include "support/test_support.h"

namespace px::import {
namespace {

using px::test::DbxFolderSpec;
using px::test::DbxMessageOptions;
using px::test::MakeDbxFolderList;
using px::test::MakeDbxMessageFile;

std::string Msg(int n, size_t bodyBytes = 40) {
  return "From: ann@example.org\r\nSubject: message " + std::to_string(n) + "\r\nMessage-ID: <m" + std::to_string(n) +
         "@example.org>\r\n\r\n" + std::string(bodyBytes, static_cast<char>('a' + n % 26)) + "\r\n";
}

std::vector<std::string> Texts(const std::string& file) {
  std::vector<std::string> r;
  ForEachDbxMessage(DbxBytes::OfMemory(file), [&](std::string_view t) {
    r.emplace_back(t);
    return true;
  });
  return r;
}

TEST(DbxReader, TheFolderTreeKeepsLocalFoldersOnlyWithNamesAndFiles) {
  const std::string list = MakeDbxFolderList({
      {1, 0, "Local Folders", ""},
      {2, 1, "Inbox", "Inbox.dbx"},
      {3, 1, "Projects", "Projects.dbx"},
      {4, 3, "2003", "2003.dbx"},
      {5, 1, "Deleted Items", "Deleted Items.dbx"},
      {6, 0, "news.example.com", ""},
      {7, 6, "comp.lang.c", "comp.lang.c.dbx"},
  });
  for (bool zeroStart : {false, true}) {
    const std::string bytes = zeroStart ? MakeDbxFolderList({{1, 0, "Local Folders", ""}, {2, 1, "Inbox", "Inbox.dbx"}}, true)
                                        : list;
    auto folders = ReadDbxFolders(DbxBytes::OfMemory(bytes));
    if (zeroStart) {
      ASSERT_EQ(folders.size(), 1u);
      EXPECT_EQ(folders[0].names, std::vector<std::string>{"Inbox"});
      continue;
    }
    std::vector<std::string> paths;
    for (const auto& f : folders) {
      std::string p;
      for (const auto& n : f.names) p += "/" + n;
      paths.push_back(p + "=" + f.file + (f.tickedAtFirst ? "" : " (unticked)"));
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"/Deleted Items=Deleted Items.dbx (unticked)", "/Inbox=Inbox.dbx",
                                               "/Projects/2003=2003.dbx", "/Projects=Projects.dbx"}));
  }
  // Not a folder list: nothing.
  EXPECT_TRUE(ReadDbxFolders(DbxBytes::OfMemory(MakeDbxMessageFile({Msg(1)}))).empty());
}

TEST(DbxReader, MessagesComeByteForByteThroughEveryOddCaseOfTheLayout) {
  const std::vector<std::string> msgs = {Msg(1, 3000), Msg(2), Msg(3, 1)};
  const struct {
    const char* what;
    DbxMessageOptions options;
    int64_t count;
  } cases[] = {
      {"plain", {}, 3},
      {"start offset 0", {.zeroStart = true}, 3},
      {"negative count", {.count = -5}, 0},
      {"no text property", {.withoutTextProperty = true}, 3},
      {"one block each", {.blockSize = 1 << 20}, 3},
      {"tiny blocks", {.blockSize = 7}, 3},
      {"deep tree", {.deepNodes = 50000}, 3},
  };
  for (const auto& c : cases) {
    const std::string file = MakeDbxMessageFile(msgs, c.options);
    EXPECT_EQ(DbxMessageCount(DbxBytes::OfMemory(file)), c.count) << c.what;
    EXPECT_EQ(Texts(file), msgs) << c.what;
  }
}

TEST(DbxReader, DamagedFilesEndTheBranchNotTheRead) {
  const std::vector<std::string> msgs = {Msg(1, 2000), Msg(2, 2000)};
  // A chain that loops back: each message stops at the repeated block.
  std::vector<std::string> looped = Texts(MakeDbxMessageFile(msgs, {.blockSize = 500, .loopChain = true}));
  EXPECT_EQ(looped, msgs);
  // A block longer than the file: the text ends before it, the next message is still read.
  std::vector<std::string> longer = Texts(MakeDbxMessageFile(msgs, {.blockSize = 500, .overlongBlock = true}));
  ASSERT_EQ(longer.size(), 2u);
  EXPECT_EQ(longer[0], msgs[0].substr(0, msgs[0].size() / 500 * 500));
  // Cut anywhere: never a read past the end, never a crash.
  const std::string whole = MakeDbxMessageFile(msgs);
  for (size_t n = 0; n < whole.size(); n += 97) Texts(whole.substr(0, n));
  // Bytes changed at random, many times over: every read ends, nothing is longer than the file.
  std::mt19937 rng(11);
  const std::string list = MakeDbxFolderList({{1, 0, "Local Folders", ""}, {2, 1, "Inbox", "Inbox.dbx"}, {3, 2, "Sub", "S.dbx"}});
  for (int round = 0; round < 3000; ++round) {
    std::string m = round % 2 ? whole : list;
    for (int k = 0; k < 1 + round % 8; ++k) m[16 + rng() % (m.size() - 16)] = static_cast<char>(rng());
    for (const auto& t : Texts(m)) ASSERT_LE(t.size(), m.size());
    for (const auto& f : ReadDbxFolders(DbxBytes::OfMemory(m))) ASSERT_LE(f.names.size(), 64u);
  }
  // A node that points at itself through every link.
  std::string self = MakeDbxMessageFile({});
  uint32_t node = 0x400;
  test::PutU32(self, node + 8, node);
  test::PutU32(self, node + 0xC, node);
  test::PutU32(self, node + 0x18, node);
  test::PutU32(self, node + 0x1C, node);
  EXPECT_TRUE(Texts(self).empty());
}

TEST(DbxImport, AStoreIsFiledByFolderAndNothingLeavesTheTarget) {
  test::TempHome home;
  const std::string store = home.path("oe/");
  test::makeDirs(store);
  test::writeFile(store + "folders.dbx", MakeDbxFolderList({
                                             {1, 0, "Local Folders", ""},
                                             {2, 1, "Inbox", "Inbox.dbx"},
                                             {3, 1, "Projects", "Projects.dbx"},
                                             {4, 3, "2003", "2003.dbx"},
                                             {5, 1, "..", "dots.dbx"},
                                             {6, 1, "a/../../b", "slash.dbx"},
                                             {7, 1, "Escape", "../outside.dbx"},
                                             {8, 0, "news.example.com", ""},
                                             {9, 8, "comp.lang.c", "news.dbx"},
                                         }));
  test::writeFile(store + "Inbox.dbx", MakeDbxMessageFile({Msg(1), Msg(2)}));
  test::writeFile(store + "Projects.dbx", MakeDbxMessageFile({}));
  test::writeFile(store + "2003.dbx", MakeDbxMessageFile({Msg(3)}));
  test::writeFile(store + "dots.dbx", MakeDbxMessageFile({Msg(4)}));
  test::writeFile(store + "slash.dbx", MakeDbxMessageFile({Msg(5)}));
  test::writeFile(home.path("outside.dbx"), MakeDbxMessageFile({Msg(6)}));
  test::writeFile(store + "news.dbx", MakeDbxMessageFile({Msg(7)}));

  auto source = MakeSource("dbx", store);
  ASSERT_TRUE(source);
  RandomSource random(3);
  mailformat::MailSpool spool(home.path("spool/"), random);
  spool.setSync(false);
  ImportRun run(spool, home.path("records/"));
  ImportOptions o;
  o.target = "Imported\\dbx";
  std::atomic<bool> cancel{false};
  ImportSummary s = run.Run(*source, o, cancel);
  EXPECT_EQ(s.messages, 5u) << [&] {
    std::string r;
    for (const auto& k : s.skipped) r += k.what + ": " + k.reason + "\n";
    return r;
  }();
  std::map<std::string, int> byFolder;
  for (const QString& n : QDir(QString::fromStdString(home.path("spool/"))).entryList(QDir::Files)) {
    const std::string text = test::readFile(home.path("spool/") + n.toStdString());
    const size_t at = text.find("_Folder: ");
    ASSERT_NE(at, std::string::npos);
    const std::string folder = text.substr(at + 9, text.find('\r', at) - at - 9);
    ++byFolder[folder];
    // Byte for byte after the lines the import puts first.
    EXPECT_NE(text.find("\r\nSubject: message "), std::string::npos);
  }
  for (const auto& [folder, n] : byFolder) {
    EXPECT_EQ(folder.rfind("Imported\\dbx\\", 0), 0u) << folder;
    for (const QString& piece : QString::fromStdString(folder).split(QLatin1Char('\\')))
      EXPECT_TRUE(piece != QLatin1String("..") && piece != QLatin1String(".") && !piece.contains(QLatin1Char('/')))
          << folder;
  }
  EXPECT_EQ(byFolder["Imported\\dbx\\Inbox"], 2);
  EXPECT_EQ(byFolder["Imported\\dbx\\Projects\\2003"], 1);
  EXPECT_EQ(byFolder["Imported\\dbx\\a_.._.._b"], 1);
  bool refused = false;
  for (const auto& k : s.skipped) refused = refused || k.what == "../outside.dbx";
  EXPECT_TRUE(refused);
  // Again: nothing new.
  ImportSummary again = run.Run(*source, o, cancel);
  EXPECT_EQ(again.messages, 0u);
  EXPECT_EQ(again.duplicates, 5u);
}

}  // namespace
}  // namespace px::import
