// Filing a queued message: documents, one message id, flags, sent.ini, Send Now, and the
// replacement of a re-edited message only after the new version is filed.
#include "compose/new_message_filer.h"
#include "foundation/strings.h"
#include "store/ops_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <utility>

#include <sys/stat.h>

namespace px::compose {
namespace {

using store::test::OpsFixture;

struct FilerTest : OpsFixture {
  std::string scratch;
  std::vector<std::string> sendRuns;
  FilerServices Services() {
    FilerServices s;
    s.ops = ops.get();
    s.messages = &messages;
    s.dataRoot = home.path("data/");
    s.documentsFolder = docs;
    s.defaultSender = "\"Me\" <me>";
    s.sendNow = [this](const std::string& base) { sendRuns.push_back(base); };
    return s;
  }
  std::string Body(const std::string& name, const std::string& bytes) {
    scratch = home.path("tmp/");
    px::test::makeDirs(scratch);
    px::test::writeFile(scratch + name, bytes);
    return scratch + name;
  }
  TNewMessageRec Record(const std::string& folder) {
    TNewMessageRec r;
    r.modified = true;
    r.Subject = "Hello";
    r.To = "ann@x.org";
    r.Charset = "US-ASCII";
    r.BodyFile = Body("PX1.txt", "Hi Ann\r\n");
    r.Document = folder + "New message.txt";
    return r;
  }
};

TEST_F(FilerTest, BodyAndAttachmentsBecomeOneOutgoingMessage) {
  const std::string folder = dir("Mail");
  doc(folder, "notes.txt", "in the folder already", {"Title=My notes"});
  const std::string outside = Body("report.pdf", "%PDF");
  TNewMessageRec r = Record(folder);
  r.Attachments = {outside, folder + "notes.txt"};
  r.Cc = "carl@x.org";
  r.From = "work@x.org";
  r.Original = "R," + folder + "orig.txt";
  const FiledMessage m = FileNewMessage(r, Services());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.documents, (StringList{"Hello.txt", "report.pdf", "notes.txt"}));
  EXPECT_EQ(px::test::readFile(folder + "Hello.txt"), "Hi Ann\r\n");
  EXPECT_FALSE(exists(r.BodyFile));  // the scratch body is gone once filed
  EXPECT_TRUE(exists(outside));      // attachments outside the folder are copied, not moved
  for (size_t i = 0; i < m.documents.size(); ++i) {
    const std::string& s = m.documents[i];
    EXPECT_EQ(value(folder, s, "MsgID"), FormatSeriesId(m.seriesBase, static_cast<int>(i + 1), 3)) << s;
    EXPECT_EQ(value(folder, s, "Flags"), "9216") << s;  // outgoing + pending
    EXPECT_EQ(value(folder, s, "Address"), "ann@x.org");
    EXPECT_EQ(value(folder, s, "Cc"), "carl@x.org");
    EXPECT_EQ(value(folder, s, "From"), "work@x.org");
    EXPECT_EQ(value(folder, s, "Charset"), "US-ASCII");
    EXPECT_EQ(value(folder, s, "Original"), "R," + folder + "orig.txt");
    const std::string link = std::string(store::kLinkPrefix) + value(folder, s, "MsgID");
    EXPECT_EQ(this->sent->ReadString(link, "Path", ""), folder);
    EXPECT_EQ(this->sent->ReadString(link, "ID", ""), s);
  }
  EXPECT_EQ(value(folder, "notes.txt", "Title"), "My notes");
  EXPECT_TRUE(sendRuns.empty());  // Send Later
}

// A received message as the filer leaves it: its body and its attachment share one id base.
TEST_F(FilerTest, ForwardCopiesTheReceivedPartsAndLeavesTheOriginalAlone) {
  const std::string folder = dir("Inbox");
  const std::vector<std::string> bodyEntry = {"Title=Report", "Flags=4609", "MsgID=20260101120000000123:001/002",
                                              "Address=ann@x.org", "To=me@x.org"};
  const std::vector<std::string> partEntry = {"Flags=4609", "MsgID=20260101120000000123:002/002",
                                              "Address=ann@x.org", "To=me@x.org"};
  doc(folder, "Report.txt", "the text", bodyEntry);
  doc(folder, "notes.txt", "the notes", partEntry);
  auto entryOf = [&](const std::string& name) {
    std::string all;
    for (const char* k : {"Title", "Flags", "MsgID", "Address", "To", "Original", "From"})
      all += std::string(k) + "=" + value(folder, name, k) + ";";
    return all;
  };
  const std::string bodyBefore = entryOf("Report.txt"), partBefore = entryOf("notes.txt");

  TNewMessageRec r = Record(folder);
  r.Subject = "Fwd: Report";
  r.To = "carl@x.org";
  r.Document = folder + "Report.txt";
  r.Original = "F," + folder + "Report.txt";
  r.Attachments = {folder + "notes.txt"};
  const FiledMessage m = FileNewMessage(r, Services());
  ASSERT_TRUE(m.ok);
  ASSERT_EQ(m.documents.size(), 2u);
  EXPECT_NE(m.documents[1], "notes.txt");
  EXPECT_EQ(px::test::readFile(folder + m.documents[1]), "the notes");
  EXPECT_EQ(SeriesBase(value(folder, m.documents[1], "MsgID")), m.seriesBase);
  EXPECT_EQ(value(folder, m.documents[1], "Flags"), "9216");
  // The part is sent under its own name, not the one its copy got beside the original.
  EXPECT_EQ(value(folder, m.documents[1], "Title"), "notes");
  // The received message is untouched: files and entries.
  EXPECT_EQ(px::test::readFile(folder + "Report.txt"), "the text");
  EXPECT_EQ(px::test::readFile(folder + "notes.txt"), "the notes");
  EXPECT_EQ(entryOf("Report.txt"), bodyBefore);
  EXPECT_EQ(entryOf("notes.txt"), partBefore);
  const std::string link = std::string(store::kLinkPrefix) + "20260101120000000123:002/002";
  EXPECT_FALSE(this->sent->SectionExists(link));
}

TEST_F(FilerTest, AttachmentsKeepTheirNamesWhenTheirCopiesAreNumbered) {
  const std::string folder = dir("Out");
  doc(folder, "R\xc3\xa9sum\xc3\xa9 2026.pdf", "older", {"Title=R\xc3\xa9sum\xc3\xa9 2026"});
  doc(folder, "R\xc3\xa9sum\xc3\xa9 2026 (2).pdf", "older still", {"Title=R\xc3\xa9sum\xc3\xa9 2026"});
  // A title the user gave that itself ends in a number stays as it is.
  TNewMessageRec r = Record(folder);
  r.Attachments = {Body("R\xc3\xa9sum\xc3\xa9 2026.pdf", "%PDF new"), Body("notes (2).txt", "n")};
  const FiledMessage m = FileNewMessage(r, Services());
  ASSERT_TRUE(m.ok);
  ASSERT_EQ(m.documents.size(), 3u);
  EXPECT_EQ(m.documents[1], "R\xc3\xa9sum\xc3\xa9 2026 (3).pdf");  // the file stands beside the others
  EXPECT_EQ(px::test::readFile(folder + m.documents[1]), "%PDF new");
  EXPECT_EQ(value(folder, m.documents[1], "Title"), "R\xc3\xa9sum\xc3\xa9 2026");
  EXPECT_EQ(value(folder, m.documents[2], "Title"), "notes (2)");
}

TEST_F(FilerTest, SendNowStartsARunAndDraftsAreNotSent) {
  const std::string folder = dir("Out");
  TNewMessageRec r = Record(folder);
  r.SendNow = true;
  FiledMessage m = FileNewMessage(r, Services());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(sendRuns, (std::vector<std::string>{m.seriesBase}));

  TNewMessageRec d = Record(folder);
  d.To.clear();
  d.Draft = true;
  d.SendNow = true;
  m = FileNewMessage(d, Services());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(sendRuns.size(), 1u);
  EXPECT_EQ(value(folder, m.documents[0], "Flags"), std::to_string(0x2400 | 0x4000));

  FilerServices offline = Services();
  offline.offline = true;
  TNewMessageRec o = Record(folder);
  o.SendNow = true;
  ASSERT_TRUE(FileNewMessage(o, offline).ok);
  EXPECT_EQ(sendRuns.size(), 1u);
}

TEST_F(FilerTest, EmptySubjectWithOneAttachmentNamesTheMessageAfterIt) {
  const std::string folder = dir("S");
  TNewMessageRec r = Record(folder);
  ComposeModel model(ComposeEnv{});
  OpenRequest req;
  req.path = folder + "x.txt";
  model.Open(req);
  model.to = "ann@x.org";
  model.AddAttachments({Body("report.pdf", "%PDF")});
  r.Subject = model.RecordSubject({});
  r.Attachments = model.attachments;
  const FiledMessage m = FileNewMessage(r, Services());
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.documents[0], "report.txt");
}

TEST_F(FilerTest, ReEditedDraftIsReplacedOnlyAfterTheNewVersionIsFiled) {
  const std::string folder = dir("Drafts");
  TNewMessageRec first = Record(folder);
  first.Draft = true;
  first.Attachments = {Body("keep.pdf", "%PDF")};
  const FiledMessage v1 = FileNewMessage(first, Services());
  ASSERT_TRUE(v1.ok);
  const std::string oldId = value(folder, "Hello.txt", "MsgID");

  // The user reopens the draft, keeps the attachment, changes the text.
  TNewMessageRec second = Record(folder);
  second.BodyFile = Body("PX2.txt", "Hi again\r\n");
  second.Document = folder + "Hello.txt";
  second.ReplacesMsgID = oldId;
  second.Attachments = {folder + "keep.pdf"};
  const FiledMessage v2 = FileNewMessage(second, Services());
  ASSERT_TRUE(v2.ok);
  EXPECT_FALSE(exists(folder + "Hello.txt"));
  ASSERT_EQ(v2.documents.size(), 2u);
  EXPECT_EQ(px::test::readFile(folder + v2.documents[0]), "Hi again\r\n");
  EXPECT_TRUE(exists(folder + "keep.pdf"));
  EXPECT_EQ(SeriesBase(value(folder, "keep.pdf", "MsgID")), v2.seriesBase);
  // Sent now, not a draft any more: every part is pending, the reused one too.
  EXPECT_EQ(std::stoi(value(folder, "keep.pdf", "Flags")) & 0x4400, 0x0400);
  EXPECT_EQ(value(folder, v2.documents[0], "Flags"), "9216");
  EXPECT_FALSE(this->sent->SectionExists(std::string(store::kLinkPrefix) + oldId));

  // When the new version cannot be filed the old one stays.
  TNewMessageRec broken = Record(folder);
  broken.BodyFile = scratch + "missing.txt";
  broken.Document = folder + v2.documents[0];
  broken.ReplacesMsgID = value(folder, v2.documents[0], "MsgID");
  EXPECT_FALSE(FileNewMessage(broken, Services()).ok);
  EXPECT_TRUE(exists(folder + v2.documents[0]));
  EXPECT_EQ(value(folder, v2.documents[0], "MsgID"), broken.ReplacesMsgID);
}

// Runs `fn` once when an operation asks for the pending folders to be refreshed.
struct RefreshHook final : store::PendingRefresh {
  std::function<void()> fn;
  void RefreshPending() override {
    if (fn) std::exchange(fn, nullptr)();
  }
};

TEST_F(FilerTest, ARegisterThatCannotBeSavedAfterAReEditIsTold) {
  const std::string folder = dir("Outbox");
  const FiledMessage v1 = FileNewMessage(Record(folder), Services());
  ASSERT_TRUE(v1.ok);
  const std::string oldId = value(folder, "Hello.txt", "MsgID");
  const std::string oldLink = std::string(store::kLinkPrefix) + oldId;
  ASSERT_TRUE(sent->SectionExists(oldLink));

  // Once the old version is deleted, a folder takes the register's place (even root cannot
  // write a file there), so erasing the old links cannot be saved.
  const std::string sentPath = home.path("data/sent.ini");
  RefreshHook refresh;
  refresh.fn = [&] {
    ASSERT_EQ(::rename(sentPath.c_str(), (sentPath + ".kept").c_str()), 0);
    ASSERT_EQ(::mkdir(sentPath.c_str(), 0700), 0);
  };
  store::OpServices services = ops->Services();
  ops = std::make_unique<store::DocOperations>(
      std::move(services), store::OpCollaborators{resolver, noOpenDocs, noQuickboard, noRules, refresh});
  messages.Clear();

  TNewMessageRec second = Record(folder);
  second.BodyFile = Body("PX2.txt", "Hi again\r\n");
  second.Document = folder + "Hello.txt";
  second.ReplacesMsgID = oldId;
  ASSERT_TRUE(FileNewMessage(second, Services()).ok);
  EXPECT_FALSE(exists(folder + "Hello.txt"));
  bool told = false;
  for (const std::string& m : messages.Pending()) told = told || m.find(sentPath) != std::string::npos;
  EXPECT_TRUE(told) << "the failed save of " << sentPath << " was not reported";
}

TEST_F(FilerTest, UnchangedDocumentIsSentAsItself) {
  const std::string folder = dir("Docs");
  doc(folder, "plan.txt", "the plan", {"Title=Plan"});
  TNewMessageRec r = Record(folder);
  r.modified = false;
  r.Document = folder + "plan.txt";
  r.Subject = "Plan";
  const FiledMessage m = FileNewMessage(r, Services());
  ASSERT_TRUE(m.ok);
  ASSERT_EQ(m.documents, (StringList{"plan.txt"}));
  EXPECT_EQ(value(folder, "plan.txt", "Flags"), "9216");
  EXPECT_EQ(value(folder, "plan.txt", "From"), "\"Me\" <me>");
}

TEST_F(FilerTest, FolderWithoutWriteAccessFilesInTheDataRoot) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes everywhere";
  const std::string folder = dir("Locked");
  ::chmod(folder.c_str(), 0500);
  px::test::makeDirs(home.path("data/"));
  const FiledMessage m = FileNewMessage(Record(folder), Services());
  ::chmod(folder.c_str(), 0700);
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.folder, home.path("data/"));
  EXPECT_NE(lastMessage().find("You cannot create files in that folder"), std::string::npos);
}

}  // namespace
}  // namespace px::compose
