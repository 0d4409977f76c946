#include <gtest/gtest.h>
#include <unistd.h>

#include "foundation/dates.h"
#include "incoming/filer_fixture.h"
#include "incoming/service_envelope.h"
#include "mailformat/mail_date.h"
#include "mailformat/message_id.h"

namespace px::incoming::test {
namespace {

using mailformat::kContentExt;
using mailformat::kDescriptorExt;

TEST_F(FilerFixture, FilesPairsWithTheirEntries) {
  pair("\"Ann\"   <ann@example.org>  trailing", "txt", "Lunch",
       {"To: bob@example.org", "Date:\tTue,  4 Mar 2003 10:00:00 +0100", "X-DATE-RECEIVED: 03/04/03 09:00:00",
        "Charset: iso-8859-1"},
       "Hi");
  pair("ann@example.org", "txt", "Lunch", {}, "Again");
  pair("ann@example.org", "txt", "notes.txt", {}, "n");
  pair("", "vcf", "", {}, "BEGIN:VCARD");
  FilingReport r = runFiler();
  EXPECT_TRUE(r.errors.empty()) << r.errors.front();
  EXPECT_EQ(r.newMessages, 4u);
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_EQ(px::test::readFile(docs + "Lunch.txt"), "Hi");
  EXPECT_EQ(px::test::readFile(docs + "Lunch (2).txt"), "Again");
  EXPECT_EQ(value(docs, "Lunch.txt", "Address"), "\"Ann\" <ann@example.org>");
  EXPECT_EQ(value(docs, "Lunch.txt", "Flags"), "4609");
  EXPECT_EQ(value(docs, "Lunch.txt", "Sent"), "Tue, 4 Mar 2003 10:00:00 +0100");
  EXPECT_EQ(value(docs, "Lunch.txt", "Time"), FormatShortDate(mailformat::UtcToLocal(ParseShortDate("03/04/03 09:00:00"))));
  EXPECT_EQ(value(docs, "Lunch.txt", "Charset"), "iso-8859-1");
  EXPECT_EQ(value(docs, "Lunch.txt", "Title"), "<none>");
  EXPECT_EQ(mailformat::ParseMessageId(value(docs, "Lunch.txt", "MsgID")).part, 1u);
  EXPECT_EQ(value(docs, "Lunch.txt", "Recv").size(), 8u);
  // A subject that ends in its own extension loses it.
  EXPECT_TRUE(exists(docs + "notes.txt"));
  // A contact card arrives unsealed.
  EXPECT_EQ(value(docs, "(no subject).vcf", "Flags"), "4608");
  EXPECT_EQ(unread.GetUnreadCount(docs).own, 4);
  EXPECT_TRUE(newMail.Contains(docs));
  // Nothing is left: a second run files nothing.
  filed.clear();
  r = runFiler();
  EXPECT_EQ(r.newMessages, 0u);
  EXPECT_TRUE(filed.empty());
  EXPECT_EQ(sections(docs).size(), 4u);
}

TEST_F(FilerFixture, OnlyTheFirstPartCountsAndPartsShareTheLatestTime) {
  pair("ann", "txt", "Report", {"MsgID: 9:001/003", "X-DATE-RECEIVED: 01/02/03 04:05:06"}, "body");
  pair("ann", "pdf", "a.pdf", {"MsgID: 9:002/003", "X-DATE-RECEIVED: 01/02/03 04:05:09"}, "%PDF");
  pair("ann", "jpg", "b.jpg", {"MsgID: 9:003/003", "X-DATE-RECEIVED: 01/02/03 04:05:07"}, "jpg");
  FilingReport r = runFiler();
  EXPECT_EQ(r.newMessages, 1u);
  EXPECT_EQ(r.documents, 3u);
  EXPECT_EQ(unread.GetUnreadCount(docs).own, 1);
  const std::string latest = value(docs, "a.pdf", "Time");
  EXPECT_EQ(value(docs, "Report.txt", "Time"), latest);
  EXPECT_EQ(value(docs, "b.jpg", "Time"), latest);
}

TEST_F(FilerFixture, FolderValuesStayInsideTheDocuments) {
  px::test::makeDirs(home.path("outside"));
  ASSERT_EQ(::symlink(home.path("outside").c_str(), (docs + "link").c_str()), 0);
  const struct {
    const char* folder;
    std::string where;
  } cases[] = {
      {"_Folder: Work\\Projects", docs + "Work/Projects/"},
      {"_Folder: ../../outside", docs},
      {"_Folder: /etc", docs},
      {"_Folder: link", docs},
      {"_Folder: link\\deeper", docs},
      {"_Folder: Plumadex.ini", docs},
      {"_Folder: C:\\Windows", docs},
  };
  int i = 0;
  for (const auto& c : cases) pair("ann", "txt", "m" + std::to_string(i++), {c.folder, "_Read"}, "x");
  FilingReport r = runFiler();
  EXPECT_TRUE(r.errors.empty());
  i = 0;
  for (const auto& c : cases) {
    std::string file = c.where + "m" + std::to_string(i++) + ".txt";
    EXPECT_TRUE(exists(file)) << c.folder << " -> " << file;
  }
  EXPECT_FALSE(exists(home.path("outside/m3.txt")));
  EXPECT_FALSE(exists(docs + "Plumadex.ini/m5.txt"));
  // Read mail counts as new mail but not as unread.
  EXPECT_EQ(unread.GetUnreadCount(docs).own, 0);
}

TEST_F(FilerFixture, MarkerKindsOnlyFromTheirOwnSources) {
  // The program's own folder marker creates its folder and files nothing.
  pair("", "$$$_", "", {"_Folder: Made\\Here"}, "");
  // A receipt kind that did not come from the service's unpacker is just a file.
  pair("mallory", "$$$r", "forged", {"MsgID: 1"}, "x");
  FilingReport r = runFiler();
  EXPECT_TRUE(exists(docs + "Made/Here/"));
  EXPECT_TRUE(sections(docs + "Made/Here/").empty());
  EXPECT_TRUE(exists(docs + "forged.___r"));
  EXPECT_EQ(r.receipts, 0u);
}

TEST_F(FilerFixture, ReceiptsBecomeDeliveryRecords) {
  // The user's sent message, registered under its id.
  px::test::writeFile(docs + "Sent note.txt", "hello");
  {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteString("Sent note.txt", "Flags", "8193");
    ix.WriteString("Sent note.txt", "MsgID", "555:001/001");
    EXPECT_TRUE(ix.Release().ok());
  }
  sent->WriteString("$$$LNK.555:001/001", "Path", docs);
  sent->WriteString("$$$LNK.555:001/001", "ID", "Sent note.txt");
  sent->WriteString("$$$LNK.555:001/001", "Sent", "03/04/03 09:00:00");
  EnvelopeSpec e;
  e.from = "bob";
  e.ext = "$$$r";
  e.msgid = "555";
  e.received = "03/05/03 10:00:00";
  download(Container(Envelope(e), ""), "bob", "Sent note");
  download(Container(Envelope(e), ""), "bob", "Sent note");  // the same receipt twice
  std::vector<std::string> updated;
  FilingServices s = services();
  s.deliveryRecorded = [&](const std::string& f, const std::string& sec) { updated.push_back(f + sec); };
  MailFiler f(s);
  FilingReport r = f.Run();
  EXPECT_EQ(r.receipts, 2u);
  EXPECT_EQ(r.newMessages, 0u);
  EXPECT_EQ(value(docs, "Sent note.txt", "Delivered"),
            FormatShortDate(mailformat::UtcToLocal(ParseShortDate("03/05/03 10:00:00"))) + " bob");
  EXPECT_EQ(updated, (std::vector<std::string>{docs + "Sent note.txt"}));
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_EQ(sections(docs).size(), 1u);
}

TEST_F(FilerFixture, ServiceDownloadsAreUnpackedAndFiled) {
  EnvelopeSpec e;
  e.subject = "From the service";
  download(Container(Envelope(e), "text"));
  EnvelopeSpec raw;
  raw.ext = "msg_";
  download(Container(Envelope(raw), "From: x@example.org\r\nSubject: Raw one\r\n\r\nbody\r\n"));
  EnvelopeSpec out;
  out.subject = "Mine";
  out.outbound = true;
  download(Container(Envelope(out), "m"));
  FilingReport r = runFiler();
  EXPECT_TRUE(r.corrupted.empty());
  EXPECT_EQ(value(docs, "From the service.txt", "MsgID"), "0777");
  EXPECT_EQ(value(docs, "From the service.txt", "Address"), "ann");
  EXPECT_EQ(value(docs, "From the service.txt", "To"), "bob");
  EXPECT_TRUE(exists(docs + "Raw one.txt"));
  EXPECT_EQ(value(docs, "Mine.txt", "Flags"), "8193");
  EXPECT_TRUE(spoolFiles().empty());
}

TEST_F(FilerFixture, BadMailIsKeptAsideAndReported) {
  for (int i = 0; i < 11; ++i) download("garbage" + std::to_string(i), "sender" + std::to_string(i), "s");
  std::string good = download(Container(Envelope({}), "fine"));
  // An encrypted body with no decryption.
  EnvelopeSpec e;
  e.ext = "$$$PGP$$$txt";
  e.subject = "Secret";
  download(Container(Envelope(e), "-----BEGIN PGP MESSAGE-----"));
  FilingReport r = runFiler();
  EXPECT_EQ(r.corrupted.size(), 11u);
  EXPECT_NE(std::find(r.corrupted.begin(), r.corrupted.end(), "sender0  (Subject:  s)"), r.corrupted.end());
  EXPECT_EQ(r.undecryptable, (std::vector<std::string>{"ann  (Subject:  Secret)"}));
  EXPECT_TRUE(r.noDecryption);
  EXPECT_TRUE(exists(docs + "Hello.txt"));
  // Nothing was deleted: 11 downloads with their markers, the encrypted pair.
  EXPECT_EQ(r.quarantined.size(), 24u);
  for (const auto& q : r.quarantined) EXPECT_TRUE(q.starts_with(quarantine) && exists(q)) << q;
  EXPECT_TRUE(spoolFiles().empty());
  // Eleven corrupted messages: boxes of ten and one, after the decryption warning.
  const auto& p = messages.Pending();
  ASSERT_GE(p.size(), 4u);
  size_t boxes = 0;
  for (const auto& m : p)
    if (m.find("corrupted in transit") != std::string::npos) ++boxes;
  EXPECT_EQ(boxes, 2u);
}

class FakeDecryptor : public Decryptor {
public:
  bool Available() const override { return true; }
  bool Decrypt(const std::string& in, const std::string& out, std::string* error) override {
    std::string text = px::test::readFile(in);
    if (text.starts_with("bad")) {
      *error = "no key";
      return false;
    }
    px::test::writeFile(out, "plain:" + text);
    return true;
  }
};

TEST_F(FilerFixture, DecryptionThroughItsSeam) {
  FakeDecryptor dec;
  decryptor = &dec;
  EnvelopeSpec e;
  e.ext = "$$$PGP$$$txt";
  e.subject = "Secret";
  download(Container(Envelope(e), "cipher"));
  e.subject = "Broken";
  download(Container(Envelope(e), "bad cipher"));
  FilingReport r = runFiler();
  EXPECT_FALSE(r.noDecryption);
  EXPECT_EQ(px::test::readFile(docs + "Secret.txt"), "plain:cipher");
  EXPECT_EQ(value(docs, "Secret.txt", "Flags"), std::to_string(0x1241));
  EXPECT_EQ(r.undecryptable.size(), 1u);
  EXPECT_FALSE(exists(docs + "Broken.txt"));
}

TEST_F(FilerFixture, ShownFolderGetsNoNewMailMark) {
  shown = docs + "Work/";
  pair("ann", "txt", "a", {"_Folder: Work"}, "x");
  pair("ann", "txt", "b", {"_Folder: Play"}, "x");
  runFiler();
  EXPECT_FALSE(newMail.Contains(docs + "Work/"));
  EXPECT_TRUE(newMail.Contains(docs + "Play/"));
  EXPECT_FALSE(newMail.Contains(docs));
  EXPECT_EQ(unread.GetUnreadCount(docs + "Work/").own, 1);
}

TEST_F(FilerFixture, OutboundAndDraftEntries) {
  pair("me@example.org", "txt", "Sent one", {"_Outbound"}, "x", "bob@example.org, cy@example.org");
  pair("me@example.org", "txt", "Draft one", {"_Draft"}, "x", "bob@example.org");
  FilingReport r = runFiler();
  EXPECT_EQ(r.newMessages, 0u);
  EXPECT_EQ(value(docs, "Sent one.txt", "Flags"), "8193");
  EXPECT_EQ(value(docs, "Sent one.txt", "Address"), "bob@example.org, cy@example.org");
  EXPECT_EQ(value(docs, "Sent one.txt", "MsgID"), "<none>");
  EXPECT_EQ(value(docs, "Draft one.txt", "Flags"), std::to_string(0x6400));
}

TEST_F(FilerFixture, SubjectInItsOwnCharsetNamesTheFile) {
  pair("ann", "txt", "Caf\xe9 (2)", {"Charset: iso-8859-1"}, "x");
  pair("ann", "txt", "Caf\xe9", {"Charset: iso-8859-1"}, "x");
  pair("ann", "txt", "Caf\xe9", {"Charset: iso-8859-1"}, "x");
  runFiler();
  // File names are UTF-8; titles stay in the message's charset.
  EXPECT_TRUE(exists(docs + "Caf\xc3\xa9 (2).txt"));
  EXPECT_TRUE(exists(docs + "Caf\xc3\xa9.txt"));
  EXPECT_TRUE(exists(docs + "Caf\xc3\xa9 (3).txt"));
  EXPECT_EQ(value(docs, "Caf\xc3\xa9.txt", "Title"), "Caf\xe9");
  // The number only keeps the files apart: the titles are the messages' own subjects.
  EXPECT_EQ(value(docs, "Caf\xc3\xa9 (3).txt", "Title"), "Caf\xe9");
  EXPECT_EQ(value(docs, "Caf\xc3\xa9 (2).txt", "Title"), "Caf\xe9 (2)");
}

TEST_F(FilerFixture, EightBitTextWithoutACharsetIsConvertedOnce) {
  pair("J\xfcrgen <j@example.org>", "txt", "Men\xfc", {"To: K\xe4the <k@example.org>"}, "x");
  runFiler();
  EXPECT_TRUE(exists(docs + "Men\xc3\xbc.txt"));
  EXPECT_EQ(value(docs, "Men\xc3\xbc.txt", "Address"), "\"J\xc3\xbcrgen\" <j@example.org>");
  EXPECT_EQ(value(docs, "Men\xc3\xbc.txt", "To"), "K\xc3\xa4the <k@example.org>");
  EXPECT_EQ(value(docs, "Men\xc3\xbc.txt", "Charset"), "<none>");
}

// Filing runs in slices: a Step stops when its time is up and the next goes on where it
// stopped. The slices are measured by a clock that moves a millisecond each time it is read,
// so a slice of a few milliseconds takes a few files.
TEST_F(FilerFixture, WorksInSlicesWithProgress) {
  constexpr size_t kMessages = 30;
  constexpr int kBudgetMs = 4;
  for (size_t i = 0; i < kMessages; ++i) pair("ann", "txt", "same", {}, std::to_string(i));
  FilingServices svc = services();
  int64_t ticks = 0;
  svc.clockMs = [&ticks] { return ++ticks; };
  MailFiler f(svc);
  ASSERT_TRUE(f.Begin());
  FilingProgress last = f.Progress();
  EXPECT_GE(last.phase, 1);
  size_t steps = 0, partSlices = 0;
  while (f.Step(kBudgetMs)) {
    ++steps;
    const FilingProgress p = f.Progress();
    SCOPED_TRACE(steps);
    // Every slice moves on, and no slice takes more than its budget's worth of files.
    EXPECT_TRUE(p.phase > last.phase || (p.phase == last.phase && p.done > last.done));
    if (p.phase == 4) {
      EXPECT_EQ(p.total, kMessages);
      EXPECT_LT(p.done, p.total);
      EXPECT_LE(p.done - (last.phase == 4 ? last.done : 0), static_cast<size_t>(kBudgetMs));
      ++partSlices;
    }
    last = p;
    ASSERT_LT(steps, 10 * kMessages) << "the slices do not move on";
  }
  // The burst took many slices, each a part of it.
  EXPECT_GE(partSlices, kMessages / kBudgetMs);
  EXPECT_TRUE(f.Done());
  EXPECT_EQ(f.Progress().phase, 0);
  EXPECT_EQ(f.Report().newMessages, kMessages);
  EXPECT_TRUE(exists(docs + "same (30).txt"));
  EXPECT_TRUE(spoolFiles().empty());
}

TEST_F(FilerFixture, OneFilerAtATime) {
  pair("ann", "txt", "a", {}, "x");
  MailFiler first(services());
  ASSERT_TRUE(first.Begin());
  MailFiler second(services());
  EXPECT_FALSE(second.Begin());
  EXPECT_TRUE(second.Report().busy);
  while (first.Step(100)) {
  }
  EXPECT_TRUE(exists(docs + "a.txt"));
}

// A crash after the contents moved: the journal finishes the batch, nothing is filed twice.
TEST_F(FilerFixture, InterruptedBatchIsFinishedByTheNextRun) {
  std::string moved = pair("ann", "txt", "Moved", {"MsgID: 42:001"}, "m");
  std::string indexed = pair("ann", "txt", "Indexed", {"MsgID: 43:001"}, "i");
  std::string untouched = pair("ann", "txt", "Untouched", {}, "u");
  // State at the crash: both contents in place, only "Indexed" has its entry saved.
  ASSERT_EQ(::rename(spool->PathOf(moved, kContentExt).c_str(), (docs + "Moved.txt").c_str()), 0);
  ASSERT_EQ(::rename(spool->PathOf(indexed, kContentExt).c_str(), (docs + "Indexed.txt").c_str()), 0);
  {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteString("Indexed.txt", "Flags", "4609");
    ix.WriteString("Indexed.txt", "MsgID", "43:001");
    EXPECT_TRUE(ix.Release().ok());
  }
  px::test::writeFile(spoolDir + ".filing.journal",
                      moved + "\t" + docs + "\tMoved.txt\t42:001\t\n" + indexed + "\t" + docs +
                          "\tIndexed.txt\t43:001\t\n" + untouched + "\t" + docs + "\tUntouched.txt\t1:001\t\n");
  FilingReport r = runFiler();
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(value(docs, "Moved.txt", "MsgID"), "42:001");
  EXPECT_EQ(value(docs, "Moved.txt", "Address"), "ann");
  EXPECT_EQ(px::test::readFile(docs + "Untouched.txt"), "u");
  EXPECT_EQ(sections(docs), (StringList{"Indexed.txt", "Moved.txt", "Untouched.txt"}));
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_FALSE(exists(spoolDir + ".filing.journal"));
  // Indexed was counted before the crash; Moved and Untouched now.
  EXPECT_EQ(r.newMessages, 2u);
}

class FakeRules : public SortingRules {
public:
  std::string copyTo, moveTo;
  void Evaluate(const SortInput& m, std::vector<SortAction>& out) override {
    if (m.subject != "sort me") return;
    out.push_back({SortAction::Copy, m.baseId, copyTo, {}});
    out.push_back({SortAction::Copy, m.baseId, moveTo, {}});
    out.push_back({SortAction::Delete, m.baseId, {}, moveTo});
  }
};

TEST_F(FilerFixture, SortingRulesCopyAndMoveThroughTheirSeam) {
  FakeRules fr;
  fr.copyTo = docs + "Copies/";
  fr.moveTo = docs + "Moved/";
  px::test::makeDirs(fr.copyTo);
  px::test::makeDirs(fr.moveTo);
  rules = &fr;
  pair("ann", "txt", "sort me", {"MsgID: 77:001"}, "body");
  pair("ann", "pdf", "att.pdf", {"MsgID: 77:002"}, "pdf");
  pair("ann", "txt", "keep me", {}, "k");
  FilingReport r = runFiler();
  EXPECT_TRUE(exists(docs + "Copies/sort me.txt"));
  EXPECT_TRUE(exists(docs + "Copies/att.pdf"));
  EXPECT_TRUE(exists(docs + "Moved/sort me.txt"));
  EXPECT_FALSE(exists(docs + "sort me.txt"));
  // A move rule moves: the trash gets no second copy.
  EXPECT_FALSE(exists(trash + "sort me.txt"));
  EXPECT_TRUE(exists(docs + "Moved/att.pdf"));
  EXPECT_TRUE(newMail.Contains(docs + "Moved/"));
  EXPECT_TRUE(exists(docs + "keep me.txt"));
  // The moved message is still new mail, now in its folder.
  EXPECT_EQ(r.newMessages, 2u);
  EXPECT_TRUE(newMail.Contains(docs + "Copies/"));
}

}  // namespace
}  // namespace px::incoming::test
