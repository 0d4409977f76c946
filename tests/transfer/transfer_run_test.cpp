// The desk's transfer run: what starts it, the end-of-run handler (filing, notices of both
// sides, new-mail totals, re-arming the automatic check), Stop and Skip, against the loopback
// service peer and scripted receive links.
#include "desk/transfer_run.h"

#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "mailformat/spool.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "transport/crypto_seam.h"
#include "transport/outgoing.h"
#include "transport/peer_fixture.h"
#include "transport/service_protocol.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace px::desk {
namespace {

// Runs the event loop until the run has ended (a run that never ends is stopped by the test
// harness's time limit).
bool Ended(TransferRun& run) {
  test::RunUntilSignal(&run, &TransferRun::ended, [&] { return run.Active(); });
  return !run.Active();
}

using px::test::ServicePeer;
using px::test::makeDirs;
using px::test::writeFile;

class RecordingPresenter : public MessagePresenter {
public:
  void ShowBox(MessageKind, const std::string& text) override { shown.push_back(text); }
  void CloseBox() override {}
  std::vector<std::string> shown;
};

// Runs the event loop until cond holds or five seconds have passed.
template <class F>
void WaitFor(F cond) {
  for (int i = 0; i < 500 && !cond(); ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
}

// A receive link that reports a fixed outcome, or waits until stopped.
class ScriptedLink : public transport::ReceiveLink {
public:
  ScriptedLink(std::string name, transport::LinkResult result, bool waitForStop = false)
      : name_(std::move(name)), result_(std::move(result)), wait_(waitForStop) {}
  std::string AccountName() const override { return name_; }
  transport::LinkResult Run(transport::ReceiveContext& ctx) override {
    ctx.events.ReceiveStarting(1000);
    ctx.events.Progress(400);
    while (wait_ && !stop_.load()) QThread::msleep(10);
    ctx.events.ReceiveFinished();
    if (stop_.load()) return {transport::LinkStatus::Stopped, 0, "stopped", 0};
    return result_;
  }
  void Stop() override { stop_ = true; }

private:
  std::string name_;
  transport::LinkResult result_;
  bool wait_;
  std::atomic<bool> stop_{false};
};

TEST(TransferNotices, BothSidesAreReportedWhenTheyDiffer) {
  struct Case {
    int receive, send;
    std::vector<int> shown;
  };
  const std::vector<Case> cases = {
      {0, 0, {}}, {1, 0, {1}}, {0, 3, {3}}, {1, 3, {1, 3}}, {2, 2, {2}}, {4, 0, {}}, {3, 1, {3, 1}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> want;
    for (int code : c.shown) want.push_back(transport::TransferErrorNotice(code));
    EXPECT_EQ(TransferRun::ErrorNotices(c.receive, c.send), want) << c.receive << "/" << c.send;
  }
}

class TransferRunTest : public ::testing::Test {
protected:
  void SetUp() override {
    queue.SetPresenter(&presenter);
    setup.messages = &queue;
    setup.hasUser = [this] { return hasUser; };
    setup.fileMail = [this] {
      ++filings;
      return filedNow;
    };
    setup.playSound = [this](const std::string& s) { sounds.push_back(s); };
    setup.rearmAutoCheck = [this] { ++rearmed; };
    setup.prepareReceive = [this]() -> std::unique_ptr<transport::ThreadRecvChain> {
      if (links.empty()) return nullptr;
      transport::ChainSetup cs;
      cs.spool = &spool;
      cs.leftOnServer = nullptr;
      auto chain = std::make_unique<transport::ThreadRecvChain>(cs);
      for (auto& l : links) chain->AddLink(std::move(l));
      links.clear();
      return chain;
    };
  }

  RecordingPresenter presenter;
  MessageQueue queue;
  QTemporaryDir spoolDir;
  RandomSource spoolRandom;
  mailformat::MailSpool spool{spoolDir.path().toStdString() + "/", spoolRandom};
  TransferSetup setup;
  bool hasUser = true;
  int filings = 0;
  int filedNow = 0;
  int rearmed = 0;
  std::vector<std::string> sounds;
  std::vector<std::unique_ptr<transport::ReceiveLink>> links;
};

TEST_F(TransferRunTest, NothingHappensWithoutAServiceUser) {
  hasUser = false;
  TransferRun run(setup);
  EXPECT_FALSE(run.Start(true, true, true));
  EXPECT_FALSE(run.Active());
}

TEST_F(TransferRunTest, AManualReceiveFindingNothingShowsZeroAndAnAutomaticOneStaysQuiet) {
  TransferRun run(setup);
  ASSERT_TRUE(run.Start(true, true, false));
  ASSERT_TRUE(Ended(run));
  EXPECT_EQ(filings, 1);
  EXPECT_EQ(rearmed, 1);
  EXPECT_EQ(run.Snapshot().status, QStringLiteral(" 0 new message(s)"));
  EXPECT_TRUE(sounds.empty());

  TransferRun automatic(setup);
  ASSERT_TRUE(automatic.Start(false, true, false));
  ASSERT_TRUE(Ended(automatic));
  EXPECT_TRUE(automatic.Snapshot().status.isEmpty());
}

TEST_F(TransferRunTest, NewMessagesAddUpAndBeep) {
  TransferRun run(setup);
  filedNow = 2;
  run.Start(false, true, false);
  ASSERT_TRUE(Ended(run));
  filedNow = 3;
  run.Start(false, true, false);
  ASSERT_TRUE(Ended(run));
  EXPECT_EQ(run.NewMailTotal(), 5);
  EXPECT_EQ(run.Snapshot().status, QStringLiteral(" 5 new message(s)"));
  EXPECT_EQ(sounds, (std::vector<std::string>{"MailBeep", "MailBeep"}));
}

TEST_F(TransferRunTest, FilingThatGoesOnAfterTheRunIsCountedWhenItEnds) {
  TransferRun run(setup);
  filedNow = -1;  // filing runs on from the event loop
  run.Start(true, true, false);
  ASSERT_TRUE(Ended(run));
  EXPECT_EQ(run.NewMailTotal(), 0);
  run.FilingFinished(4);
  EXPECT_EQ(run.NewMailTotal(), 4);
  EXPECT_EQ(run.Snapshot().status, QStringLiteral(" 4 new message(s)"));
  run.FilingFinished(7);  // filing of the transfer timer: not this run's
  EXPECT_EQ(run.NewMailTotal(), 4);
}

TEST_F(TransferRunTest, FailedAccountsAreNamedAfterTheRun) {
  links.push_back(std::make_unique<ScriptedLink>(
      "work", transport::LinkResult{transport::LinkStatus::ConnectFailed, 0, "refused", 0}));
  links.push_back(std::make_unique<ScriptedLink>(
      "home", transport::LinkResult{transport::LinkStatus::ReceiveFailed, 0, "cut", 0}));
  TransferRun run(setup);
  run.Start(true, true, false);
  EXPECT_TRUE(run.Receiving());
  ASSERT_TRUE(Ended(run));
  queue.ShowQueuedMessages();
  EXPECT_EQ(presenter.shown,
            (std::vector<std::string>{"Cannot connect to work. Please check external e-mail settings.",
                                      "An error occurred during communication with home. Try connecting again."}));
}

TEST_F(TransferRunTest, AWrongPasswordIsToldAsSuchAndTheStatusDoesNotStayAtConnecting) {
  links.push_back(std::make_unique<ScriptedLink>(
      "work", transport::LinkResult{transport::LinkStatus::WrongPassword, 0, "Invalid user name or password.", 0}));
  links.push_back(std::make_unique<ScriptedLink>(
      "home", transport::LinkResult{transport::LinkStatus::ConnectFailed, 0, "refused", 0}));
  filedNow = -1;  // filing goes on after the run, as in the desk
  TransferRun run(setup);
  ASSERT_TRUE(run.Start(false, true, false));
  ASSERT_TRUE(Ended(run));
  EXPECT_FALSE(run.Snapshot().status.contains(QStringLiteral("Connecting"))) << run.Snapshot().status.toStdString();
  EXPECT_FALSE(run.Snapshot().receiveConnecting);
  queue.ShowQueuedMessages();
  EXPECT_EQ(presenter.shown,
            (std::vector<std::string>{
                "Cannot connect to home. Please check external e-mail settings.",
                "The server refused the user name or password of work. Please check external e-mail settings."}));
}

TEST_F(TransferRunTest, AFailedSaveOfTheSentRegisterIsToldAfterTheRun) {
  // A file where the register's folder should be: the save cannot succeed, even for root.
  const std::string blocker = spoolDir.path().toStdString() + "/blocker";
  px::test::writeFile(blocker, "not a folder");
  TPXIniBase sent(blocker + "/sent.ini");
  sent.WriteString("$$$LNK.1", "Flags", "9216");
  setup.saveSentRegister = [&] { return sent.UpdateFile(); };
  TransferRun run(setup);
  ASSERT_TRUE(run.Start(true, true, false));
  ASSERT_TRUE(Ended(run));
  queue.ShowQueuedMessages();
  ASSERT_EQ(presenter.shown.size(), 1u);
  EXPECT_EQ(presenter.shown[0].rfind("Cannot ", 0), 0u) << presenter.shown[0];
  EXPECT_NE(presenter.shown[0].find(blocker + "/sent.ini\r\rError 20: "), std::string::npos)
      << presenter.shown[0];
  EXPECT_TRUE(sent.Modified());  // kept for the next try
}

TEST_F(TransferRunTest, AbortReceivingEndsTheRunWithoutNotices) {
  links.push_back(std::make_unique<ScriptedLink>("slow", transport::LinkResult{}, true));
  links.push_back(std::make_unique<ScriptedLink>(
      "never", transport::LinkResult{transport::LinkStatus::ConnectFailed, 0, "refused", 0}));
  TransferRun run(setup);
  run.Start(true, true, false);
  WaitFor([&] { return run.Snapshot().receiveMaximum > 0; });
  EXPECT_EQ(run.Snapshot().receiveMaximum, 1000);
  run.StopReceive();
  ASSERT_TRUE(Ended(run));
  EXPECT_TRUE(presenter.shown.empty());
  EXPECT_EQ(filings, 1);  // what arrived before the stop is still filed
}

TEST_F(TransferRunTest, SkipGoesOnWithTheNextAccount) {
  links.push_back(std::make_unique<ScriptedLink>("slow", transport::LinkResult{}, true));
  links.push_back(std::make_unique<ScriptedLink>(
      "next", transport::LinkResult{transport::LinkStatus::ConnectFailed, 0, "refused", 0}));
  TransferRun run(setup);
  run.Start(true, true, false);
  WaitFor([&] { return run.Snapshot().receiveMaximum > 0; });
  run.Skip();
  ASSERT_TRUE(Ended(run));
  queue.ShowQueuedMessages();
  EXPECT_EQ(presenter.shown,
            (std::vector<std::string>{"Cannot connect to next. Please check external e-mail settings."}));
}

// Sending through the peer: the run stamps what was accepted and the end-of-run handler files.
class TransferSendPeer : public TransferRunTest {
protected:
  static void SetUpTestSuite() { peer_ = new ServicePeer({"alice:secret", "bob:pw"}); }
  static void TearDownTestSuite() {
    delete peer_;
    peer_ = nullptr;
  }
  void SetUp() override {
    TransferRunTest::SetUp();
    ASSERT_TRUE(peer_->Running());
    docs = home.path("Documents/");
    makeDirs(docs);
    sent = std::make_unique<TPXIniBase>(home.path("sent.ini"));
    setup.sendContext.sent = sent.get();
    setup.sendContext.registry = &registry;
    setup.sendContext.random = &random;
    setup.sendContext.crypto = &crypto;
    setup.prepareSend = [this]() -> std::optional<transport::SendJob> {
      transport::SnapshotInputs in;
      in.sent = sent.get();
      in.registry = &registry;
      in.random = &random;
      in.crypto = &crypto;
      in.trashFolder = docs + "TRASH/";
      in.ownFromAddress = "alice";
      transport::SendSnapshot snap = transport::TakeSendSnapshot(in);
      if (snap.messages.empty()) return std::nullopt;
      transport::SendJob job;
      job.messages = snap.messages;
      job.service.http = peer_->Settings();
      job.service.host = peer_->Host();
      job.service.user = "alice";
      job.service.password = password;
      job.service.ownFromAddress = "alice";
      job.service.tempFolder = temp.path().toStdString() + "/";
      return job;
    };
  }
  void Queue(const std::string& name, const std::string& id) {
    writeFile(docs + name, "hello bob\n");
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteInteger(name, "Flags", 0x2400);
    ix.WriteString(name, "Address", "bob");
    ix.WriteString(name, "MsgID", id);
    EXPECT_TRUE(ix.Release().ok());
    sent->WriteString("$$$LNK." + id, "Path", docs);
    sent->WriteString("$$$LNK." + id, "ID", name);
    sent->WriteInteger("$$$LNK." + id, "Flags", 0x2400);
    EXPECT_TRUE(sent->UpdateFile().ok());
  }
  std::string Doc(const std::string& name, const std::string& key) {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    return ix.ReadString(name, key, "");
  }

  static ServicePeer* peer_;
  px::test::TempHome home;
  QTemporaryDir temp;
  std::string docs;
  std::unique_ptr<TPXIniBase> sent;
  store::IniRegistry registry;
  RandomSource random;
  transport::NoCrypto crypto;
  std::string password = "secret";
};
ServicePeer* TransferSendPeer::peer_ = nullptr;

TEST_F(TransferSendPeer, SendAndReceiveEndTogetherAndTheMessageIsStamped) {
  Queue("note.txt", "1A2B3C4D.00000001");
  links.push_back(std::make_unique<ScriptedLink>("home", transport::LinkResult{}));
  TransferRun run(setup);
  ASSERT_TRUE(run.Start(true, true, true));
  EXPECT_TRUE(run.Sending());
  EXPECT_GT(run.Snapshot().sendMaximum, 0);
  ASSERT_TRUE(Ended(run));
  EXPECT_FALSE(Doc("note.txt", "Sent").empty());
  EXPECT_EQ(run.SendErrorCode(), 0);
  EXPECT_TRUE(presenter.shown.empty());
  EXPECT_EQ(filings, 1);
  EXPECT_EQ(rearmed, 1);

  // Nothing pending any more: a send-only run starts no thread and ends on its next tick.
  TransferRun again(setup);
  again.Start(true, false, true);
  EXPECT_FALSE(again.Sending());
  ASSERT_TRUE(Ended(again));

  // A send-only run does not stay at "Connecting...": it says where the message went.
  Queue("second.txt", "1A2B3C4D.00000003");
  TransferRun sendOnly(setup);
  sendOnly.Start(true, false, true);
  ASSERT_TRUE(Ended(sendOnly));
  EXPECT_FALSE(Doc("second.txt", "Sent").empty());
  EXPECT_EQ(sendOnly.Snapshot().status, QStringLiteral(" Sent to bob"));
  EXPECT_EQ(sendOnly.Snapshot().log, QStringList{QStringLiteral("Sent to bob")});
}

TEST_F(TransferSendPeer, AMessageQueuedAfterTheStartGoesWithTheNextRunAndIsStampedInTheDesksRegister) {
  // The desk opens its register after the run was made, and the compose windows queue into it.
  store::TPXIniFile desk(registry, home.path("sent.ini"));
  setup.sendContext.sent = sent.get();  // the copy read at construction: must not be used
  TPXCustomIni* register_ = &desk;
  TransferSetup withDesk = setup;
  withDesk.sentRegister = [&] { return register_; };
  withDesk.prepareSend = [this, &desk]() -> std::optional<transport::SendJob> {
    transport::SnapshotInputs in;
    in.sent = &desk;
    in.registry = &registry;
    in.random = &random;
    in.crypto = &crypto;
    in.trashFolder = docs + "TRASH/";
    in.ownFromAddress = "alice";
    transport::SendSnapshot snap = transport::TakeSendSnapshot(in);
    if (snap.messages.empty()) return std::nullopt;
    transport::SendJob job;
    job.messages = snap.messages;
    job.service.http = peer_->Settings();
    job.service.host = peer_->Host();
    job.service.user = "alice";
    job.service.password = password;
    job.service.ownFromAddress = "alice";
    job.service.tempFolder = temp.path().toStdString() + "/";
    return job;
  };
  TransferRun later(withDesk);
  writeFile(docs + "late.txt", "hello bob\n");
  {
    store::TPXIniFile ix(registry, store::IndexPathOf(docs));
    ix.WriteInteger("late.txt", "Flags", 0x2400);
    ix.WriteString("late.txt", "Address", "\"Bob\" <bob>, carol@example.org");
    ix.WriteString("late.txt", "MsgID", "1A2B3C4D.00000004");
    ASSERT_TRUE(ix.Release().ok());
  }
  desk.WriteString("$$$LNK.1A2B3C4D.00000004", "Path", docs);
  desk.WriteString("$$$LNK.1A2B3C4D.00000004", "ID", "late.txt");
  desk.WriteInteger("$$$LNK.1A2B3C4D.00000004", "Flags", 0x2400);
  ASSERT_TRUE(later.Start(true, false, true));
  ASSERT_TRUE(Ended(later));
  EXPECT_EQ(later.SendErrorCode(), 0);
  EXPECT_FALSE(Doc("late.txt", "Sent").empty());
  // Stamped in the register it was queued in, so the bookkeeping of the desk sees it.
  EXPECT_FALSE(transport::HasPendingMail(desk));
  EXPECT_EQ(later.Snapshot().log, QStringList{QStringLiteral("Sent to \"Bob\" <bob>, carol@example.org")});
  (void)desk.Release();
}

TEST_F(TransferSendPeer, AWrongPasswordIsNotHiddenBehindAReceiveFailure) {
  Queue("note.txt", "1A2B3C4D.00000002");
  password = "wrong";
  transport::LinkResult failed{transport::LinkStatus::ConnectFailed, transport::teConnect, "down", 0};
  links.push_back(std::make_unique<ScriptedLink>("home", failed));
  TransferRun run(setup);
  run.Start(true, true, true);
  ASSERT_TRUE(Ended(run));
  EXPECT_EQ(run.SendErrorCode(), transport::teAuthorisation);
  EXPECT_TRUE(Doc("note.txt", "Sent").empty());
  std::vector<std::string> want = {transport::TransferErrorNotice(transport::teConnect),
                                   transport::TransferErrorNotice(transport::teAuthorisation),
                                   "Cannot connect to home. Please check external e-mail settings."};
  for (auto& w : want)
    if (!w.empty() && w[0] == kConnectionNotice) w.erase(0, 1);
  queue.ShowQueuedMessages();
  EXPECT_EQ(presenter.shown, want);
}

}  // namespace
}  // namespace px::desk
