// Send runs that take the SMTP route: queued documents arrive at the local SMTP server as one
// standard MIME message, and are stamped and sealed exactly as the service route leaves them.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <memory>

#include "foundation/dates.h"
#include "foundation/random.h"
#include "smtp/smtp_fixture.h"
#include "foundation/ini_file.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "transport/crypto_seam.h"
#include "transport/outgoing.h"
#include "transport/send_thread.h"
#include "transport/sent_stamp.h"
#include "transport/smtp/smtp_route.h"

using namespace px;
using namespace px::transport;
using namespace px::transport::testing;

namespace {

class SmtpRouteTest : public ::testing::Test {
protected:
  void SetUp() override {
    docs = home.path("Documents/");
    test::makeDirs(docs);
    sent = std::make_unique<TPXIniBase>(home.path("sent.ini"));
  }

  // Queues one part of a message; the first part carries the lists.
  void Queue(const std::string& name, const std::string& id, const std::string& content, bool first = true,
             const std::string& title = {}) {
    test::writeFile(docs + name, content);
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteInteger(name, "Flags", 0x2400);
    if (first) {
      ix.WriteString(name, "Address", "\"Bob Example\" <bob@example.net>");
      ix.WriteString(name, "Cc", "carol@example.com");
      ix.WriteString(name, "Bcc", "hidden@example.org");
      ix.WriteString(name, "From", "\"Ann\" <ann@example.org>");
    }
    if (!title.empty()) ix.WriteString(name, "Title", title);
    ix.WriteString(name, "MsgID", id);
    EXPECT_TRUE(ix.Release().ok());
    sent->WriteString("$$$LNK." + id, "Path", docs);
    sent->WriteString("$$$LNK." + id, "ID", name);
    sent->WriteInteger("$$$LNK." + id, "Flags", 0x2400);
    EXPECT_TRUE(sent->UpdateFile().ok());
  }

  SmtpRouteSettings Smtp(const SmtpTestServer* server) {
    SmtpRouteSettings s;
    if (server) {
      SmtpServerSetting a;
      a.account = "ann@example.org";
      a.host = "127.0.0.1";
      a.port = server->port();
      a.security = SmtpSecurity::StartTls;
      a.user = "alice";
      a.password = "secret";
      s.servers.push_back(a);
    }
    s.caFile = TestCa::Get().caFile();
    s.systemRoots = false;
    s.ownFromAddress = "ann@example.org";
    s.tempFolder = temp.path().toStdString() + "/";
    s.serviceSetUp = false;
    s.replyTimeoutSec = 20;
    return s;
  }

  std::vector<MessageReport> Run(const SmtpRouteSettings& smtp) {
    SnapshotInputs in;
    in.sent = sent.get();
    in.registry = &registry;
    in.random = &random;
    in.crypto = &crypto;
    in.trashFolder = docs + "TRASH/";
    in.ownFromAddress = "ann@example.org";
    SendSnapshot snap = TakeSendSnapshot(in);
    if (snap.messages.empty()) return {};
    SendJob job;
    job.messages = snap.messages;
    job.smtp = smtp;
    SendContext ctx;
    ctx.sent = sent.get();
    ctx.registry = &registry;
    ctx.random = &random;
    ctx.crypto = &crypto;
    SendRun run(ctx);
    EXPECT_TRUE(run.Start(std::move(job)));
    test::RunUntilSignal(&run, &SendRun::finished, [&] { return run.Running(); });
    EXPECT_EQ(run.ErrorCode(), 0);
    return run.Reports();
  }

  std::string Doc(const std::string& name, const std::string& key) {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    return ix.ReadString(name, key, "");
  }
  bool TempEmpty() const {
    return QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty();
  }

  test::TempHome home;
  QTemporaryDir temp;
  std::string docs;
  store::IniRegistry registry;
  RandomSource random;
  NoCrypto crypto;
  std::unique_ptr<TPXIniBase> sent;
};

std::string Pdf() {
  std::string s(70000, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 2654435761u) >> 11);
  return s;
}

}  // namespace

TEST_F(SmtpRouteTest, AMessageArrivesWholeAndIsSealedLikeAServiceMessage) {
  SmtpTestServer server;
  Queue("Figures.txt", "700:001/002", "Dear Bob,\r\nthe figures.\r\n", true, "Figures \xE2\x80\x94 Q4");
  Queue("report.pdf", "700:002/002", Pdf(), false);
  auto reports = Run(Smtp(&server));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, MessageReport::Sent) << reports[0].text;
  EXPECT_TRUE(TempEmpty());

  auto got = server.Messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].meta["mail_from"].toString(), "ann@example.org");
  EXPECT_EQ(Strings(got[0].meta["rcpt_tos"].toArray()),
            (std::vector<std::string>{"bob@example.net", "carol@example.com", "hidden@example.org"}));
  QJsonObject py = ReadWithPython(got[0].path);
  EXPECT_TRUE(py["defects"].toArray().isEmpty());
  QJsonObject h = py["headers"].toObject();
  EXPECT_EQ(h["Subject"].toString(), QString::fromUtf8("Figures \xE2\x80\x94 Q4"));
  EXPECT_EQ(h["From"].toString(), "Ann <ann@example.org>");
  EXPECT_EQ(h["To"].toString(), "Bob Example <bob@example.net>");
  EXPECT_EQ(h["Cc"].toString(), "carol@example.com");
  EXPECT_FALSE(h.contains("Bcc"));
  EXPECT_TRUE(h["Message-ID"].toString().endsWith("@example.org>"));
  QJsonArray parts = py["parts"].toArray();
  ASSERT_EQ(parts.size(), 3);
  EXPECT_EQ(parts[1].toObject()["sha256"].toString().toStdString(), Sha256("Dear Bob,\r\nthe figures.\r\n"));
  EXPECT_EQ(parts[2].toObject()["filename"].toString(), "report.pdf");
  EXPECT_EQ(parts[2].toObject()["sha256"].toString().toStdString(), Sha256(Pdf()));

  // Stamped at once, then sealed by the bookkeeping, the same as the service route.
  EXPECT_FALSE(sent->ReadString("$$$LNK.700:001/002", "Sent", "").empty());
  EXPECT_FALSE(Doc("report.pdf", "Sent").empty());
  CommitSentMail(*sent, registry, NowDateTime(), false);
  EXPECT_EQ(Doc("Figures.txt", "Flags"), "8193");
  EXPECT_EQ(Doc("report.pdf", "Flags"), "8193");
  EXPECT_EQ(Doc("report.pdf", "Address"), "\"Bob Example\" <bob@example.net>");
  // A second run sends nothing again.
  EXPECT_TRUE(Run(Smtp(&server)).empty());
  EXPECT_EQ(server.Messages().size(), 1u);
}

// A reply keeps its place in the thread: the ids the compose window put on its body's entry.
TEST_F(SmtpRouteTest, AReplyCarriesItsThreadHeaders) {
  SmtpTestServer server;
  Queue("Re_ plans.txt", "702:001/001", "> earlier\r\nyes\r\n", true, "Re: plans");
  {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteString("Re_ plans.txt", "In-Reply-To", "<m2@x.org>");
    ix.WriteString("Re_ plans.txt", "References", "<m1@x.org> <m2@x.org>");
    ASSERT_TRUE(ix.Release().ok());
  }
  auto reports = Run(Smtp(&server));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, MessageReport::Sent) << reports[0].text;
  auto got = server.Messages();
  ASSERT_EQ(got.size(), 1u);
  QJsonObject h = ReadWithPython(got[0].path)["headers"].toObject();
  EXPECT_EQ(h["In-Reply-To"].toString(), "<m2@x.org>");
  EXPECT_EQ(h["References"].toString(), "<m1@x.org> <m2@x.org>");
  EXPECT_EQ(h["Subject"].toString(), "Re: plans");
}

TEST_F(SmtpRouteTest, WithoutAnOutgoingServerTheMessageWaitsAndSaysWhatToSetUp) {
  Queue("note.txt", "701:001/001", "hi\r\n");
  auto reports = Run(Smtp(nullptr));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, MessageReport::Failed);
  EXPECT_NE(reports[0].text.find("ann@example.org"), std::string::npos);
  EXPECT_NE(reports[0].text.find("accounts smtp"), std::string::npos);
  EXPECT_EQ(Doc("note.txt", "Flags"), "9216");
  EXPECT_TRUE(Doc("note.txt", "Sent").empty());
  EXPECT_TRUE(sent->ReadString("$$$LNK.701:001/001", "Sent", "").empty());
}

TEST_F(SmtpRouteTest, AMessageMarkedForEncryptionNeverGoesOutInClear) {
  SmtpTestServer server;
  Queue("secret.txt", "704:001/001", "for your eyes\r\n");
  {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteInteger("secret.txt", "Flags", 0x2440);
  }
  SmtpRouteSettings smtp = Smtp(&server);
  OutgoingMessage m;
  m.base = "704";
  OutgoingPart p;
  p.fileName = "secret.txt";
  p.filePath = docs + "secret.txt";
  p.flags = 0x2440;
  m.parts.push_back(p);
  m.to = {"bob@example.net"};
  RandomSource r;
  SmtpRoute route(smtp, r);
  RouteOutcome out = route.Deliver(m, nullptr);
  EXPECT_FALSE(out.accepted);
  EXPECT_TRUE(out.messageOnly);
  EXPECT_NE(out.text.find("encrypted"), std::string::npos);
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(SmtpRouteTest, ADropAfterTheDataLeavesItPendingAndTheNextRunSendsIt) {
  Queue("note.txt", "702:001/001", "hi\r\n");
  {
    ServerOptions o;
    o.extra = {"--drop-after-data"};
    SmtpTestServer bad(o);
    auto reports = Run(Smtp(&bad));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].state, MessageReport::Failed);
    EXPECT_NE(reports[0].text.find("twice"), std::string::npos);
    EXPECT_TRUE(Doc("note.txt", "Sent").empty());
    EXPECT_TRUE(TempEmpty());
  }
  SmtpTestServer good;
  auto reports = Run(Smtp(&good));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, MessageReport::Sent) << reports[0].text;
  EXPECT_EQ(good.Messages().size(), 1u);
}

TEST_F(SmtpRouteTest, ARecipientRefusedByTheServerIsNamedAndTheRestIsSent) {
  ServerOptions o;
  o.extra = {"--refuse", "carol@example.com=552"};
  SmtpTestServer server(o);
  Queue("note.txt", "703:001/001", "hi\r\n");
  auto reports = Run(Smtp(&server));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, MessageReport::Sent);
  EXPECT_NE(reports[0].notice.find("carol@example.com"), std::string::npos);
  EXPECT_NE(reports[0].notice.find("552"), std::string::npos);
  auto got = server.Messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Strings(got[0].meta["rcpt_tos"].toArray()),
            (std::vector<std::string>{"bob@example.net", "hidden@example.org"}));
}

// A mailbox that is busy (450) keeps the message pending for that recipient alone; a refusal for
// good (550) is named once and never tried again; the next run sends only to who still waits.
TEST_F(SmtpRouteTest, ABusyMailboxKeepsTheMessagePendingForThatRecipientOnly) {
  ServerOptions o;
  o.extra = {"--refuse", "carol@example.com=450x1", "--refuse", "hidden@example.org=550"};
  SmtpTestServer server(o);
  Queue("note.txt", "705:001/001", "hi\r\n");
  auto reports = Run(Smtp(&server));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, MessageReport::Failed);
  EXPECT_EQ(reports[0].code, 0);
  const std::string& text = reports[0].text;
  EXPECT_NE(text.find("carol@example.com"), std::string::npos) << text;
  EXPECT_NE(text.find("450"), std::string::npos) << text;
  EXPECT_NE(text.find("hidden@example.org"), std::string::npos) << text;
  EXPECT_NE(text.find("550"), std::string::npos) << text;
  // Still pending, in the documents and in the register, which says who has it.
  EXPECT_TRUE(Doc("note.txt", "Sent").empty());
  EXPECT_EQ(Doc("note.txt", "Flags"), "9216");
  {
    TPXIniBase onDisk(home.path("sent.ini"));
    EXPECT_TRUE(onDisk.ReadString("$$$LNK.705:001/001", "Sent", "").empty());
    EXPECT_EQ(onDisk.ReadString("$$$LNK.705:001/001", "Accepted", ""), "bob@example.net");
    EXPECT_EQ(onDisk.ReadString("$$$LNK.705:001/001", "Refused", ""), "hidden@example.org");
  }
  auto got = server.Messages();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(Strings(got[0].meta["rcpt_tos"].toArray()), (std::vector<std::string>{"bob@example.net"}));

  // The mailbox has room now: only carol gets it, and the message counts as sent.
  reports = Run(Smtp(&server));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].state, MessageReport::Sent) << reports[0].text;
  got = server.Messages();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(Strings(got[1].meta["rcpt_tos"].toArray()), (std::vector<std::string>{"carol@example.com"}));
  // The same message: the headers still name everyone, the Message-ID is the first one's.
  QJsonObject first = ReadWithPython(got[0].path)["headers"].toObject();
  QJsonObject second = ReadWithPython(got[1].path)["headers"].toObject();
  EXPECT_EQ(second["Message-ID"].toString(), first["Message-ID"].toString());
  EXPECT_EQ(second["Cc"].toString(), "carol@example.com");
  EXPECT_FALSE(Doc("note.txt", "Sent").empty());
  EXPECT_TRUE(Run(Smtp(&server)).empty());
  EXPECT_EQ(server.Messages().size(), 2u);
}

// Every recipient busy: nothing is settled, everything waits; every recipient refused for
// good: the message is not sent and each address is named.
TEST_F(SmtpRouteTest, RefusalsOfEveryRecipientNameThemAndKeepTheMessage) {
  struct Case {
    const char* code;
    bool later;
  } cases[] = {{"451", true}, {"553", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ServerOptions o;
    for (const char* a : {"bob@example.net", "carol@example.com", "hidden@example.org"})
      o.extra.insert(o.extra.end(), {"--refuse", std::string(a) + "=" + c.code});
    SmtpTestServer server(o);
    const std::string id = std::string("706") + c.code + ":001/001";
    Queue("note" + std::string(c.code) + ".txt", id, "hi\r\n");
    auto reports = Run(Smtp(&server));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].state, MessageReport::Failed);
    for (const char* a : {"bob@example.net", "carol@example.com", "hidden@example.org"})
      EXPECT_NE(reports[0].text.find(a), std::string::npos) << reports[0].text;
    EXPECT_EQ(reports[0].text.find("next run") != std::string::npos, c.later) << reports[0].text;
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_TRUE(sent->ReadString("$$$LNK." + id, "Sent", "").empty());
    EXPECT_TRUE(sent->ReadString("$$$LNK." + id, "Accepted", "").empty());
    EXPECT_TRUE(sent->ReadString("$$$LNK." + id, "Refused", "").empty());
    // The next run tries everyone again.
    sent->EraseSection("$$$LNK." + id);
    ASSERT_TRUE(sent->UpdateFile().ok());
  }
}

TEST(SmtpRouteChoice, ServiceUsersGoThroughTheServiceTheRestThroughTheSendersServer) {
  OutgoingMessage m;
  m.parts.resize(1);
  m.parts[0].from = "ann@example.org";
  SmtpRouteSettings s;
  SmtpServerSetting a;
  a.account = "ann@example.org";
  a.host = "smtp.example.org";
  s.servers.push_back(a);
  s.serviceSetUp = true;

  m.to = {"bob", "carol@plumadex.net"};
  EXPECT_EQ(RouteOf(m, s), SendRoute::Service);
  m.bccList = {"dave@example.com"};
  EXPECT_EQ(RouteOf(m, s), SendRoute::Smtp);
  m.parts[0].from = "other@example.org";
  EXPECT_EQ(RouteOf(m, s), SendRoute::Service);  // no server of its own: the service as before
  s.serviceSetUp = false;
  EXPECT_EQ(RouteOf(m, s), SendRoute::Smtp);     // where it waits, saying what to set up
}
