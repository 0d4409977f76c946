// The outgoing register: the snapshot a send run works on, stamping and the later bookkeeping.
#include "transport/outgoing.h"
#include "transport/sent_stamp.h"

#include "foundation/dates.h"
#include "foundation/random.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "transport/crypto_seam.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace px::transport {
namespace {

using px::test::makeDirs;
using px::test::writeFile;

class Register : public ::testing::Test {
protected:
  void SetUp() override {
    docs = home.path("Documents/");
    trash = docs + "TRASH/";
    makeDirs(docs);
    makeDirs(trash);
    sent = std::make_unique<TPXIniBase>(home.path("sent.ini"));
  }
  // A pending document queued as id in the register.
  void Queue(const std::string& folder, const std::string& name, const std::string& id, int flags = 0x2400,
             const std::string& address = "bob, carol@example.org", bool withFile = true) {
    if (withFile) writeFile(folder + name, "content of " + name);
    store::TPXIniFile ix(registry, store::IndexPathOf(folder));
    ix.WriteInteger(name, "Flags", flags);
    ix.WriteString(name, "Address", address);
    ix.WriteString(name, "MsgID", id);
    ix.WriteString(name, "Time", "12/01/26 10:00:00");
    EXPECT_TRUE(ix.Release().ok());
    const std::string section = "$$$LNK." + id;
    sent->WriteString(section, "Path", folder);
    sent->WriteString(section, "ID", name);
    sent->WriteInteger(section, "Flags", flags);
  }
  std::string Doc(const std::string& folder, const std::string& name, const std::string& key) {
    store::TPXIniFile ix(registry, store::IndexPathOf(folder));
    return ix.ReadString(name, key, "");
  }
  SendSnapshot Take(std::set<std::string> only = {}) {
    SnapshotInputs in;
    in.sent = sent.get();
    in.registry = &registry;
    in.random = &random;
    in.crypto = &crypto;
    in.trashFolder = trash;
    in.ownFromAddress = "alice";
    in.onlyBases = std::move(only);
    return TakeSendSnapshot(in);
  }

  px::test::TempHome home;
  std::string docs, trash;
  store::IniRegistry registry;
  RandomSource random{3};
  NoCrypto crypto;
  std::unique_ptr<TPXIniBase> sent;
};

TEST_F(Register, PartsAreRenumberedInDocumentsAndRegister) {
  Queue(docs, "a.txt", "555:001/002");
  Queue(docs, "b.doc", "555:002/002");
  Queue(docs, "c.pdf", "555:003/003");
  Queue(docs, "single.txt", "444");
  SendSnapshot snap = Take();
  ASSERT_TRUE(snap.saveError.ok());
  ASSERT_EQ(snap.messages.size(), 2u);
  // The smaller identifier goes first.
  EXPECT_EQ(snap.messages[0].base, "444");
  EXPECT_EQ(snap.messages[0].parts[0].msgId, "444:001/001");
  const OutgoingMessage& m = snap.messages[1];
  ASSERT_EQ(m.parts.size(), 3u);
  const char* want[] = {"555:001/003", "555:002/003", "555:003/003"};
  const char* names[] = {"a.txt", "b.doc", "c.pdf"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(m.parts[i].msgId, want[i]);
    EXPECT_EQ(m.parts[i].registerSection, std::string("$$$LNK.") + want[i]);
    EXPECT_EQ(Doc(docs, names[i], "MsgID"), want[i]);
    EXPECT_EQ(sent->ReadString(std::string("$$$LNK.") + want[i], "ID", ""), names[i]);
  }
  EXPECT_FALSE(sent->SectionExists("$$$LNK.555:001/002"));
  EXPECT_EQ(m.to, (StringList{"bob", "carol@example.org"}));
  EXPECT_TRUE(m.sameService);
  EXPECT_EQ(m.estimate, m.parts[0].fileSize + m.parts[1].fileSize + m.parts[2].fileSize + 3000);
  // Saved at once.
  TPXIniBase reread(home.path("sent.ini"));
  EXPECT_TRUE(reread.SectionExists("$$$LNK.555:002/003"));
}

TEST_F(Register, HousekeepingAndWhatIsNotSent) {
  Queue(trash, "thrown.txt", "100:001/001");
  Queue(docs, "gone.txt", "101:001/001", 0x2400, "bob", false);
  Queue(docs, "draft.txt", "102:001/001", 0x6400);
  Queue(docs, "ok.txt", "103:001/001");
  Queue(docs, "other.txt", "104:001/001");
  sent->WriteString("$$$LNK.105:001/001", "Path", docs);
  sent->WriteString("$$$LNK.105:001/001", "ID", "no-entry.txt");
  Queue(docs, "done.txt", "106:001/001");
  sent->WriteString("$$$LNK.106:001/001", "Sent", "12/01/26 11:00:00");
  Queue(docs, "nobody.txt", "107:001/001", 0x2400, "");
  sent->WriteString("$$$LNK.108:001/001", "Path", "C:\\Users\\me\\Documents\\");
  sent->WriteString("$$$LNK.108:001/001", "ID", "old.txt");
  sent->WriteInteger("$$$LNK.108:001/001", "Flags", 0x2400);

  SendSnapshot snap = Take({"103", "105", "107", "101", "100", "108"});
  ASSERT_EQ(snap.messages.size(), 1u);
  EXPECT_EQ(snap.messages[0].base, "103");
  EXPECT_FALSE(sent->SectionExists("$$$LNK.100:001/001"));  // in the trash
  EXPECT_FALSE(sent->SectionExists("$$$LNK.101:001/001"));  // file gone: reported
  EXPECT_FALSE(sent->SectionExists("$$$LNK.105:001/001"));  // no index entry
  EXPECT_TRUE(sent->SectionExists("$$$LNK.102:001/001"));   // a draft waits
  EXPECT_TRUE(sent->SectionExists("$$$LNK.104:001/001"));   // not in the filter
  EXPECT_TRUE(sent->SectionExists("$$$LNK.107:001/001"));   // no recipients: reported, kept
  EXPECT_TRUE(sent->SectionExists("$$$LNK.108:001/001"));   // a foreign path is never erased
  ASSERT_EQ(snap.warnings.size(), 2u);
  EXPECT_NE(snap.warnings[0].find("gone.txt"), std::string::npos);
  EXPECT_NE(snap.warnings[1].find("no recipients"), std::string::npos);
  EXPECT_TRUE(HasPendingMail(*sent));
}

TEST_F(Register, EncryptedAndOversizedPartsAreHeldBack) {
  Queue(docs, "secret.txt", "200:001/002", 0x2440);
  Queue(docs, "secret2.txt", "200:002/002", 0x2440);
  Queue(docs, "huge.bin", "201:001/001", 0x2400, "bob", false);
  const int fd = ::open((docs + "huge.bin").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(4ull << 30) + 1), 0);  // sparse
  ::close(fd);
  SendSnapshot snap = Take();
  EXPECT_TRUE(snap.messages.empty());
  ASSERT_EQ(snap.warnings.size(), 2u);
  EXPECT_NE(snap.warnings[0].find("larger than 4 GB"), std::string::npos);
  EXPECT_NE(snap.warnings[1].find("encryption is not available"), std::string::npos);
  EXPECT_TRUE(sent->SectionExists("$$$LNK.200:001/002"));
  EXPECT_TRUE(sent->SectionExists("$$$LNK.201:001/001"));
}

TEST_F(Register, StampingRecordsRepliesAndCommitFinishesTheParts) {
  makeDirs(docs + "In/");
  writeFile(docs + "In/question.txt", "?");
  {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs + "In/"));
    ix.WriteInteger("question.txt", "Flags", 0x1001);
  }
  Queue(docs, "answer.txt", "300:001/002", 0x2440, "bob, carol");
  Queue(docs, "card.vcf", "300:002/002", 0x2400, "someone else");
  {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteString("answer.txt", "Cc", "dave");
    ix.WriteString("answer.txt", "Original", "R," + docs + "In/question.txt");
    ix.WriteString("card.vcf", "Time", "12/01/26 10:30:00");
  }
  // The PGP bridge would send it; here the message is made by hand around the held-back check.
  OutgoingMessage m;
  m.base = "300";
  m.address = "bob, carol";
  m.cc = "dave";
  for (auto [name, id] : {std::pair{"answer.txt", "300:001/002"}, std::pair{"card.vcf", "300:002/002"}}) {
    OutgoingPart p;
    p.registerSection = std::string("$$$LNK.") + id;
    p.folder = docs;
    p.docSection = name;
    p.fileName = name;
    m.parts.push_back(p);
  }
  const DateTime when = MakeDateTime(2026, 12, 2, 9, 30, 0);
  ASSERT_TRUE(StampSent(m, when, *sent, registry).ok());
  EXPECT_EQ(sent->ReadString("$$$LNK.300:001/002", "Sent", ""), "12/02/26 09:30:00");
  EXPECT_EQ(Doc(docs, "answer.txt", "Sent"), "12/02/26 09:30:00");
  EXPECT_EQ(Doc(docs, "card.vcf", "Address"), "bob, carol");  // the first part's lists
  EXPECT_EQ(Doc(docs, "card.vcf", "Cc"), "dave");
  EXPECT_EQ(Doc(docs, "answer.txt", "Original"), "");
  EXPECT_EQ(Doc(docs + "In/", "question.txt", "Replied"), "12/02/26 09:30:00 bob; carol; cc: dave");
  EXPECT_FALSE(HasPendingMail(*sent));
  // Saved at once: another reader sees the stamp.
  TPXIniBase reread(home.path("sent.ini"));
  EXPECT_EQ(reread.ReadString("$$$LNK.300:002/002", "Sent", ""), "12/02/26 09:30:00");

  const CommitResult c = CommitSentMail(*sent, registry, when + 0.01, false);
  EXPECT_TRUE(c.changed);
  EXPECT_TRUE(c.saveError.ok());
  EXPECT_EQ(Doc(docs, "answer.txt", "Flags"), std::to_string(0x2001));  // sealed, not encrypted without PGP
  EXPECT_EQ(Doc(docs, "card.vcf", "Flags"), std::to_string(0x2000));   // a card is never sealed
  EXPECT_EQ(Doc(docs, "answer.txt", "Time"), "12/02/26 09:30:00");
  EXPECT_EQ(Doc(docs, "card.vcf", "Time"), "12/02/26 09:30:00");
  EXPECT_EQ(sent->ReadString("$$$LNK.300:001/002", "Flags", ""), "8192");
  // Nothing more to do the next time; finished sections go after 60 days.
  EXPECT_FALSE(CommitSentMail(*sent, registry, when + 30, false).changed);
  EXPECT_TRUE(CommitSentMail(*sent, registry, when + 61, false).changed);
  EXPECT_FALSE(sent->SectionExists("$$$LNK.300:001/002"));
  EXPECT_FALSE(sent->SectionExists("$$$LNK.300:002/002"));
}

TEST(DeliveryRecord, CommasBecomeSemicolons) {
  EXPECT_EQ(DeliveryRecord("T", "a, b", "", "x,y"), "T a; b; bcc: x;y");
}

}  // namespace
}  // namespace px::transport
