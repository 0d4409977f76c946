// Send runs against the loopback peer: delivery, and the fault table (every fault leaves the
// register and the documents pending, no temporary file, the right code; the next run sends
// each message exactly once).
#include "transport/send_thread.h"

#include "foundation/random.h"
#include "store/index_file.h"
#include "support/test_paths.h"
#include "support/test_support.h"
#include "transport/crypto_seam.h"
#include "transport/outgoing.h"
#include "transport/peer_fixture.h"
#include "transport/sent_stamp.h"
#include "transport/service_protocol.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>

namespace px::transport {
namespace {

using px::test::makeDirs;
using px::test::ServicePeer;
using px::test::writeFile;

class SendRunPeer : public ::testing::Test {
protected:
  static void SetUpTestSuite() { peer_ = new ServicePeer({"alice:secret", "bob:pw", "carol:pw"}); }
  static void TearDownTestSuite() {
    delete peer_;
    peer_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(peer_->Running());
    peer_->ClearFaults();
    docs = home.path("Documents/");
    makeDirs(docs);
    sent = std::make_unique<TPXIniBase>(home.path("sent.ini"));
  }

  void Queue(const std::string& name, const std::string& id, const std::string& content,
             const std::string& address = "bob, dave@example.org") {
    writeFile(docs + name, content);
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteInteger(name, "Flags", 0x2400);
    ix.WriteString(name, "Address", address);
    ix.WriteString(name, "MsgID", id);
    EXPECT_TRUE(ix.Release().ok());
    sent->WriteString("$$$LNK." + id, "Path", docs);
    sent->WriteString("$$$LNK." + id, "ID", name);
    sent->WriteInteger("$$$LNK." + id, "Flags", 0x2400);
    EXPECT_TRUE(sent->UpdateFile().ok());
  }

  struct Outcome {
    int code = 0;
    std::vector<MessageReport> reports;
  };
  Outcome Run(const std::string& password = "secret") {
    SnapshotInputs in;
    in.sent = sent.get();
    in.registry = &registry;
    in.random = &random;
    in.crypto = &crypto;
    in.trashFolder = docs + "TRASH/";
    in.ownFromAddress = "alice";
    SendSnapshot snap = TakeSendSnapshot(in);
    Outcome out;
    if (snap.messages.empty()) return out;
    SendJob job;
    job.messages = snap.messages;
    job.service.http = peer_->Settings();
    job.service.host = peer_->Host();
    job.service.user = "alice";
    job.service.password = password;
    job.service.ownFromAddress = "alice";
    job.service.tempFolder = temp.path().toStdString() + "/";
    SendContext ctx;
    ctx.sent = sent.get();
    ctx.registry = &registry;
    ctx.random = &random;
    ctx.crypto = &crypto;
    SendRun run(ctx);
    EXPECT_TRUE(run.Start(std::move(job)));
    test::RunUntilSignal(&run, &SendRun::finished, [&] { return run.Running(); });
    out.code = run.ErrorCode();
    out.reports = run.Reports();
    return out;
  }

  std::string Doc(const std::string& name, const std::string& key) {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    return ix.ReadString(name, key, "");
  }
  bool TempEmpty() const { return QDir(temp.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty(); }

  // How many times each part (message id + part number) reached the peer.
  static std::map<std::string, int> Arrivals() {
    std::map<std::string, int> n;
    const QJsonArray log = QJsonDocument::fromJson(QByteArray::fromStdString(peer_->Log())).array();
    for (const auto& v : log) {
      const QJsonObject e = v.toObject();
      if (e["kind"].toString() != "putmail") continue;
      for (const auto& r : e["records"].toArray()) {
        const QJsonObject rec = r.toObject();
        ++n[(rec["messageid"].toString() + ":" + rec["currpart"].toString()).toStdString()];
      }
    }
    return n;
  }

  static ServicePeer* peer_;
  px::test::TempHome home;
  QTemporaryDir temp;
  std::string docs;
  store::IniRegistry registry;
  RandomSource random;
  NoCrypto crypto;
  std::unique_ptr<TPXIniBase> sent;
};
ServicePeer* SendRunPeer::peer_ = nullptr;

std::string Unique(const char* tag) {
  static int n = 0;
  return std::string(tag) + std::to_string(QDateTime::currentMSecsSinceEpoch()) + std::to_string(++n);
}

TEST_F(SendRunPeer, DeliversEachPartToEachServiceRecipient) {
  const std::string base = Unique("9");
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  const size_t before = QDir(QString::fromStdString(peer_->Mailbox("carol"))).entryList(QDir::Files).size();
  Queue("letter.txt", base + ":001/002", "Dear Bob,\r\n", "bob, carol, dave@example.org");
  Queue("photo.bin", base + ":002/002", big, "ignored: later parts take the first part's list");
  const Outcome out = Run();
  EXPECT_EQ(out.code, teNone);
  ASSERT_EQ(out.reports.size(), 1u);
  EXPECT_EQ(out.reports[0].state, MessageReport::Sent);
  EXPECT_FALSE(Doc("letter.txt", "Sent").empty());
  EXPECT_FALSE(sent->ReadString("$$$LNK." + base + ":002/002", "Sent", "").empty());
  EXPECT_TRUE(TempEmpty());
  const auto n = Arrivals();
  EXPECT_EQ(n.at(base + ":1"), 1);
  EXPECT_EQ(n.at(base + ":2"), 1);
  // Two stored records for carol (one per part), each exactly as uploaded.
  const QStringList box = QDir(QString::fromStdString(peer_->Mailbox("carol"))).entryList({"*.pxm"}, QDir::Files);
  EXPECT_EQ(static_cast<size_t>(box.size()), before / 2 + 2);
  // Nothing is left to send.
  EXPECT_TRUE(Run().reports.empty());
}

struct Fault {
  const char* query;
  int code;
  int arrivalsAfterRetry;  // an upload the peer stored without confirming it is sent once more
};

TEST_F(SendRunPeer, FaultTableLeavesEverythingPendingAndTheNextRunSendsOnce) {
  const Fault faults[] = {
      {"fault=drop_after&bytes=100", teCommunication, 1},
      {"fault=status&status=401", teAuthorisation, 1},
      {"fault=status&status=404", teCommunication, 1},
      {"fault=status&status=500", teCommunication, 1},
      {"fault=wrong_size", teCommunication, 2},  // stored, but the reply does not confirm it
      {"fault=store_then_drop", teCommunication, 2},
      {"fault=drop_after&bytes=0", teCommunication, 1},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.query);
    const std::string base = Unique("8");
    const std::string name = "doc" + base + ".txt";
    Queue(name, base + ":001/001", std::string(200000, 'x'));
    ASSERT_TRUE(peer_->AddFault("putmail", f.query));
    const Outcome failed = Run();
    EXPECT_EQ(failed.code, f.code);
    ASSERT_EQ(failed.reports.size(), 1u);
    EXPECT_EQ(failed.reports[0].state, MessageReport::Failed);
    EXPECT_EQ(failed.reports[0].text.find("secret"), std::string::npos);
    EXPECT_EQ(sent->ReadString("$$$LNK." + base + ":001/001", "Sent", ""), "");
    EXPECT_EQ(Doc(name, "Sent"), "");
    EXPECT_EQ(Doc(name, "Flags"), std::to_string(0x2400));
    EXPECT_TRUE(TempEmpty());
    EXPECT_TRUE(HasPendingMail(*sent));

    const Outcome retried = Run();
    EXPECT_EQ(retried.code, teNone);
    EXPECT_EQ(Arrivals()[base + ":1"], f.arrivalsAfterRetry);
    EXPECT_TRUE(Run().reports.empty());
    EXPECT_EQ(Arrivals()[base + ":1"], f.arrivalsAfterRetry);
  }
}

TEST_F(SendRunPeer, AFailureStopsTheRunAndAWrongPasswordIsCode3) {
  const std::string a = Unique("7"), b = Unique("7");
  Queue("first.txt", a + ":001/001", "one");
  Queue("second.txt", b + ":001/001", "two");
  Outcome out = Run("not-the-password");
  EXPECT_EQ(out.code, teAuthorisation);
  ASSERT_EQ(out.reports.size(), 2u);
  EXPECT_EQ(out.reports[0].state, MessageReport::Failed);
  EXPECT_EQ(out.reports[1].state, MessageReport::Waiting);
  EXPECT_EQ(out.reports[0].text.find("not-the-password"), std::string::npos);
  out = Run();
  EXPECT_EQ(out.code, teNone);
  EXPECT_EQ(Arrivals()[a + ":1"], 1);
  EXPECT_EQ(Arrivals()[b + ":1"], 1);
}

// The headless road: service set, outbox, send, as scripts use it.
TEST_F(SendRunPeer, CommandLineQueuesAndSends) {
  const QString cli = PX_BINARY_DIR "/src/plumadex-cli";
  if (!QFile::exists(cli)) GTEST_SKIP() << "plumadex-cli is not built";
  QTemporaryDir root;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PLUMADEX_HOME", root.path());
  env.insert("PLUMADEX_SERVICE_CA", QString::fromStdString(peer_->CaFile()));
  auto run = [&](const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(cli, args);
    p.waitForStarted();
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
  };
  ASSERT_EQ(run({"service", "set", "--user", "alice", "--server", QString::fromStdString(peer_->Host()),
                 "--password-stdin"}, "secret\n").first, 0);
  const std::string userIni = px::test::readFile(root.path().toStdString() + "/data/User.ini");
  EXPECT_EQ(userIni.find("secret"), std::string::npos);
  EXPECT_NE(userIni.find("Local Server=" + peer_->Host()), std::string::npos);
  const std::string docsDir = root.path().toStdString() + "/Documents/";
  makeDirs(docsDir);
  writeFile(docsDir + "hello.txt", "Hello Bob\r\n");
  writeFile(docsDir + "notes.txt", "More\r\n");
  auto [rc, text] = run({"outbox", QString::fromStdString(docsDir + "hello.txt"), QString::fromStdString(docsDir + "notes.txt"),
                         "--to", "bob"});
  ASSERT_EQ(rc, 0) << text.toStdString();
  std::tie(rc, text) = run({"send"});
  EXPECT_EQ(rc, 0) << text.toStdString();
  EXPECT_TRUE(text.startsWith("sent ")) << text.toStdString();
  EXPECT_NE(text.indexOf("(2 parts)"), -1);
  // Sent, sealed and no longer pending once the command ends.
  TPXIniBase index(docsDir + "Plumadex.ini");
  StringList sections;
  index.ReadSections(sections);
  for (const auto& s : sections) EXPECT_EQ(index.ReadInteger(s, "Flags", 0), 0x2001) << s;
  std::tie(rc, text) = run({"send"});
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(text.startsWith("nothing to send"));

  // A failed run exits non-zero and names the message.
  writeFile(docsDir + "later.txt", "x");
  ASSERT_EQ(run({"outbox", QString::fromStdString(docsDir + "later.txt"), "--to", "bob"}).first, 0);
  ASSERT_TRUE(peer_->AddFault("putmail", "fault=status&status=500"));
  std::tie(rc, text) = run({"send"});
  EXPECT_NE(rc, 0);
  EXPECT_TRUE(text.startsWith("failed ")) << text.toStdString();
  EXPECT_NE(text.indexOf("An error occurred during communication with Plumadex server"), -1);
}

}  // namespace
}  // namespace px::transport

namespace px::transport {
namespace {

TEST_F(SendRunPeer, StopEndsTheRunWithoutStampingOrACode) {
  const std::string base = Unique("6");
  Queue("slow.txt", base + ":001/001", std::string(50000, 'y'));
  ASSERT_TRUE(peer_->AddFault("putmail", "fault=delay&seconds=8"));
  SnapshotInputs in;
  in.sent = sent.get();
  in.registry = &registry;
  in.random = &random;
  in.crypto = &crypto;
  SendSnapshot snap = TakeSendSnapshot(in);
  ASSERT_EQ(snap.messages.size(), 1u);
  SendJob job;
  job.messages = snap.messages;
  job.service.http = peer_->Settings();
  job.service.host = peer_->Host();
  job.service.user = "alice";
  job.service.password = "secret";
  job.service.tempFolder = temp.path().toStdString() + "/";
  SendContext ctx;
  ctx.sent = sent.get();
  ctx.registry = &registry;
  ctx.random = &random;
  ctx.crypto = &crypto;
  SendRun run(ctx);
  ASSERT_TRUE(run.Start(std::move(job)));
  QTimer::singleShot(300, &run, [&run] { run.Stop(); });
  test::RunUntilSignal(&run, &SendRun::finished, [&] { return run.Running(); });
  EXPECT_TRUE(run.Stopped());
  EXPECT_EQ(run.ErrorCode(), teNone);  // the user stopped it: no code message
  EXPECT_EQ(run.Reports()[0].state, MessageReport::Failed);
  EXPECT_EQ(Doc("slow.txt", "Sent"), "");
  EXPECT_TRUE(TempEmpty());
}

TEST_F(SendRunPeer, KeyIsWithdrawnWhenNoPgpIsAvailable) {
  const std::string dataRoot = home.path("data/");
  makeDirs(dataRoot);
  writeFile(dataRoot + "plumadex.skr", "secret ring");
  writeFile(dataRoot + "plumadex.pkr", "public ring");
  const std::string base = Unique("5");
  Queue("note.txt", base + ":001/001", "n");
  SnapshotInputs in;
  in.sent = sent.get();
  in.registry = &registry;
  in.random = &random;
  in.crypto = &crypto;
  SendJob job;
  job.messages = TakeSendSnapshot(in).messages;
  job.service.http = peer_->Settings();
  job.service.host = peer_->Host();
  job.service.user = "alice";
  job.service.password = "secret";
  job.service.tempFolder = temp.path().toStdString() + "/";
  job.withdrawKey = true;
  SendContext ctx;
  ctx.sent = sent.get();
  ctx.registry = &registry;
  ctx.random = &random;
  ctx.crypto = &crypto;
  ctx.dataRoot = dataRoot;
  SendRun run(ctx);
  ASSERT_TRUE(run.Start(std::move(job)));
  test::RunUntilSignal(&run, &SendRun::finished, [&] { return run.Running(); });
  EXPECT_EQ(run.ErrorCode(), teNone);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(dataRoot + "plumadex.skr")));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(dataRoot + "plumadex.pkr")));
  // Put aside, not deleted: the secret key is still there.
  EXPECT_EQ(px::test::readFile(dataRoot + "plumadex.skr.withdrawn"), "secret ring");
  EXPECT_EQ(px::test::readFile(dataRoot + "plumadex.pkr.withdrawn"), "public ring");
  EXPECT_NE(peer_->Log().find("\"op\": \"delkey\""), std::string::npos);
}

}  // namespace
}  // namespace px::transport

namespace px::transport {
namespace {

// The peer's receiving side, as the receive run will use it: listing, getfile, confirm.
TEST_F(SendRunPeer, PeerListsServesAndConfirmsStoredMail) {
  ServicePeer peer({"alice:secret", "erin:pw"});
  ASSERT_TRUE(peer.Running());
  const std::string base = Unique("4");
  Queue("hello.txt", base + ":001/001", "Hello Erin\r\n", "erin");
  SnapshotInputs in;
  in.sent = sent.get();
  in.registry = &registry;
  in.random = &random;
  in.crypto = &crypto;
  SendJob job;
  job.messages = TakeSendSnapshot(in).messages;
  job.service.http = peer.Settings();
  job.service.host = peer.Host();
  job.service.user = "alice";
  job.service.password = "secret";
  job.service.tempFolder = temp.path().toStdString() + "/";
  SendContext ctx{sent.get(), &registry, &random, &crypto, nullptr, {}};
  SendRun run(ctx);
  ASSERT_TRUE(run.Start(std::move(job)));
  test::RunUntilSignal(&run, &SendRun::finished, [&] { return run.Running(); });
  ASSERT_EQ(run.ErrorCode(), teNone);

  HttpClient c(peer.Settings());
  c.SetBasicAuth("erin", "pw");
  c.SetExtraHeader("Content-Encoding", "deflate");
  HttpResult listing = c.Get(peer.Url(ListingPath()));
  ASSERT_TRUE(listing.Ok());
  const QString xml = QString::fromLatin1(listing.body.data(), static_cast<int>(listing.body.size()));
  QRegularExpressionMatch m = QRegularExpression("<file name=\"([^\"]+)\" size=\"(\\d+)\"/>").match(xml);
  ASSERT_TRUE(m.hasMatch()) << listing.body;
  const std::string name = m.captured(1).toStdString();
  EXPECT_NE(xml.indexOf("<Subject>hello</Subject>"), -1);
  EXPECT_NE(xml.indexOf(QString::fromStdString("messageid=\"" + base + "\" currpart=\"1\"")), -1);
  HttpResult file = c.Get(peer.Url(GetFilePath(name)));
  ASSERT_TRUE(file.Ok());
  EXPECT_EQ(std::to_string(file.body.size()), m.captured(2).toStdString());
  EXPECT_EQ(file.body, px::test::readFile(peer.Mailbox("erin") + name));
  // Kept on the server, then confirmed with a receipt for the sender.
  ASSERT_TRUE(c.Get(peer.Url(ConfirmPath(name, true, "", "", ""))).Ok());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(peer.Mailbox("erin") + name)));
  ASSERT_TRUE(c.Get(peer.Url(ConfirmPath(name, false, "alice", base, "hello"))).Ok());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(peer.Mailbox("erin") + name)));
  c.SetBasicAuth("alice", "secret");
  listing = c.Get(peer.Url(ListingPath()));
  EXPECT_NE(listing.body.find("ext=\"$$$r\""), std::string::npos);
  // A name that is not one of the peer's is refused, not looked up.
  EXPECT_EQ(c.Get(peer.Url(GetFilePath("../../ca.pem"))).status, 404);
}

}  // namespace
}  // namespace px::transport
