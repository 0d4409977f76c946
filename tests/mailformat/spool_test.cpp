// The mail spool: atomic, never-clobbering files and the filer's split step.
#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

#include "mailformat/pseudo_headers.h"
#include "mime_test_util.h"

namespace px::mailformat {
namespace {

using testing::Crlf;
using testing::SpoolFixture;

TEST(Spool, WriteFileNeverReplacesAnExistingFileAndLeavesNoTemporaries) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  ASSERT_TRUE(s.WriteFile("a", kRawExt, "first"));
  std::string err;
  EXPECT_FALSE(s.WriteFile("a", kRawExt, "second", &err));
  EXPECT_NE(err.find("Cannot write"), std::string::npos);
  EXPECT_EQ(px::test::readFile(s.PathOf("a", kRawExt)), "first");
  EXPECT_EQ(f.Files(), std::vector<std::string>{"a.msg_"});
}

TEST(Spool, UnfinishedWriterIsInvisibleAndDiscardedWithoutTrace) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  {
    SpoolFileWriter w;
    ASSERT_TRUE(w.Open(s, "n", kContentExt));
    ASSERT_TRUE(w.Write("partial"));
    EXPECT_TRUE(s.List(kContentExt).empty());
    EXPECT_FALSE(s.Exists("n", kContentExt));
  }
  EXPECT_TRUE(f.Files().empty());
  SpoolFileWriter w;
  ASSERT_TRUE(w.Open(s, "n", kContentExt));
  std::string big(600 * 1024, 'x');  // larger than the write buffer
  ASSERT_TRUE(w.Write("a"));
  ASSERT_TRUE(w.Write(big));
  ASSERT_TRUE(w.Commit());
  EXPECT_EQ(px::test::readFile(s.PathOf("n", kContentExt)), "a" + big);
}

TEST(Spool, CommitRetriesUnderAnotherNameAfterACollision) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  ASSERT_TRUE(s.WriteFile("taken", kContentExt, "old"));
  SpoolFileWriter w;
  ASSERT_TRUE(w.Open(s, "taken", kContentExt));
  ASSERT_TRUE(w.Write("new"));
  EXPECT_FALSE(w.Commit());
  EXPECT_EQ(w.error(), EEXIST);
  EXPECT_TRUE(w.CommitAs("other"));
  EXPECT_EQ(px::test::readFile(s.PathOf("taken", kContentExt)), "old");
  EXPECT_EQ(px::test::readFile(s.PathOf("other", kContentExt)), "new");
}

TEST(Spool, ListTakesRegularFilesOfOneExtensionInNameOrder) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  for (const char* n : {"b", "a", "c"}) ASSERT_TRUE(s.WriteFile(n, kDescriptorExt, "x"));
  ASSERT_TRUE(s.WriteFile("d", kContentExt, "x"));
  px::test::writeFile(f.folder() + ".hidden.$$1", "x");
  px::test::makeDirs(f.folder() + "dir.$$1");
  EXPECT_EQ(s.List(kDescriptorExt), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Spool, NewNamesAreUniqueNamesFreeForEveryExtension) {
  SpoolFixture f;
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string n = f.spool().NewName();
    EXPECT_GE(n.size(), 18u);
    EXPECT_LE(n.size(), 26u);
    EXPECT_EQ(n.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_TRUE(seen.insert(n).second);
  }
}

TEST(Spool, SplitSpoolMessageDeletesTheRawMessageOnSuccess) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  ASSERT_TRUE(s.WriteFile("m", kRawExt, Crlf("Subject: S\n\nx\n")));
  SplitResult r = SplitSpoolMessage(s, "m", {});
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r.parts.size(), 1u);
  EXPECT_FALSE(s.Exists("m", kRawExt));
  EXPECT_TRUE(s.Exists(r.parts[0], kDescriptorExt));
  EXPECT_TRUE(s.Exists(r.parts[0], kContentExt));
  EXPECT_EQ(f.Files().size(), 2u);
}

TEST(Spool, MessageThatFailsToSplitIsKeptAsErr) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  // A "message" that opens but cannot be read.
  px::test::makeDirs(s.PathOf("bad", kRawExt));
  SplitResult r = SplitSpoolMessage(s, "bad", {});
  EXPECT_EQ(r.status, SplitStatus::Failed);
  EXPECT_FALSE(r.error.empty());
  EXPECT_FALSE(s.Exists("bad", kRawExt));
  struct stat st;
  EXPECT_EQ(::stat(s.PathOf("bad", kFailedExt).c_str(), &st), 0);
}

TEST(Spool, FifoInPlaceOfAMessageFailsWithoutHanging) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  ASSERT_EQ(::mkfifo(s.PathOf("fifo", kRawExt).c_str(), 0600), 0);
  SplitResult r = SplitSpoolMessage(s, "fifo", {});
  EXPECT_EQ(r.status, SplitStatus::Failed);
  EXPECT_TRUE(r.parts.empty());
  struct stat st;
  EXPECT_EQ(::lstat(s.PathOf("fifo", kFailedExt).c_str(), &st), 0);
}

TEST(Spool, MessageThatCannotBeOpenedIsLeftForTheNextRun) {
  SpoolFixture f;
  SplitResult r = SplitSpoolMessage(f.spool(), "missing", {});
  EXPECT_EQ(r.status, SplitStatus::CannotOpen);
  EXPECT_TRUE(f.Files().empty());
}

TEST(Spool, MarkFailedKeepsAnEarlierFailedMessage) {
  SpoolFixture f;
  MailSpool& s = f.spool();
  ASSERT_TRUE(s.WriteFile("m", kFailedExt, "old"));
  ASSERT_TRUE(s.WriteFile("m", kRawExt, "new"));
  ASSERT_TRUE(s.MarkFailed("m"));
  EXPECT_EQ(px::test::readFile(s.PathOf("m", kFailedExt)), "old");
  EXPECT_EQ(s.List(kFailedExt).size(), 2u);
}

TEST(Spool, EveryDescriptorHasItsContentAndNothingLeaksOutOfTheSpool) {
  SpoolFixture f;
  auto parts = f.Split(testing::Fixture("inline_images.eml"));
  auto parts2 = f.Split(testing::Fixture("forwarded.eml"));
  MailSpool& s = f.spool();
  auto d = s.List(kDescriptorExt), c = s.List(kContentExt);
  EXPECT_EQ(d, c);
  EXPECT_EQ(d.size(), 4u);
  EXPECT_EQ(f.Files().size(), 8u);
}

TEST(PseudoHeaders, ImportLinesAndTheReceiverAccountLine) {
  EXPECT_EQ(ImportPseudoHeaders("A\\B", true, true), "_Folder: A\\B\r\n_Outbound: *\r\n_Draft: *\r\n");
  EXPECT_EQ(ImportPseudoHeaders("x\r\ny", false, false), "_Folder: x  y\r\n");
  EXPECT_EQ(InsertAccountHeader("A: 1\r\nB: 2\r\n\r\nbody\r\n", "acc"),
            "A: 1\r\nB: 2\r\nX-Plumadex-Account: acc\r\n\r\nbody\r\n");
  EXPECT_EQ(InsertAccountHeader("A: 1\n\nbody\n", "acc"), "A: 1\nX-Plumadex-Account: acc\r\n\nbody\n");
  EXPECT_EQ(InsertAccountHeader("A: 1", "a\r\nb"), "A: 1\r\nX-Plumadex-Account: a  b\r\n");
}

}  // namespace
}  // namespace px::mailformat
