// A scripted server's faults: whatever breaks, the messages before the fault are in the spool
// exactly once, the server keeps every message whose deletion it did not acknowledge, and the
// next run leaves no duplicate and loses nothing.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <thread>

#include "pop3/receive_fixture.h"

namespace px::test {
namespace {

using transport::LinkStatus;
using transport::pop3::Security;

class FakeServerTest : public ::testing::Test, public ReceiveFixture {
protected:
  transport::ExternalAccount AccountOn(const FakePop3Server& s, bool keep = false) {
    return Account("fake@example.org", "127.0.0.1:" + std::to_string(s.port()), "fake", s.password(),
                   Security::Plain, keep);
  }
  std::vector<std::string> Fill(FakePop3Server& s, int n) {
    std::vector<std::string> subjects;
    for (int i = 1; i <= n; ++i) {
      subjects.push_back("m" + std::to_string(i));
      s.PutMessage(MakeMessage(subjects.back(), "<" + subjects.back() + "@x>", "line\r\n.dot\r\n"));
    }
    return subjects;
  }
};

struct Fault {
  const char* fault;
  int at;
  bool keep;
  LinkStatus status;                  // of the faulty run
  std::vector<std::string> spooled;   // after the faulty run
  std::vector<std::string> onServer;  // after the faulty run
};

TEST_F(FakeServerTest, FaultTable) {
  const std::vector<std::string> all = {"m1", "m2", "m3", "m4"};
  const Fault faults[] = {
      // Cut in the middle of message 3: 1 and 2 are safe, nothing deleted (no QUIT).
      {"cut-retr", 3, false, LinkStatus::ReceiveFailed, {"m1", "m2"}, all},
      // Cut when QUIT is sent: everything fetched, nothing deleted.
      {"cut-quit", 0, false, LinkStatus::ReceiveFailed, all, all},
      // QUIT never answered.
      {"silent-quit", 0, false, LinkStatus::ReceiveFailed, all, all},
      // DELE of message 2 refused: it stays, the rest go.
      {"dele-err", 2, false, LinkStatus::ReceiveFailed, all, {"m2"}},
      // A line that never ends: the session is given up after message 1.
      {"endless-line", 2, false, LinkStatus::ReceiveFailed, {"m1"}, all},
      // A 3 MiB line: that message is skipped and stays; the others are fetched and deleted.
      {"long-line", 2, false, LinkStatus::ReceiveFailed, {"m1", "m3", "m4"}, {"m2"}},
      // Far more than LIST said: the same.
      {"long-retr", 2, false, LinkStatus::ReceiveFailed, {"m1", "m3", "m4"}, {"m2"}},
      // No UIDL: keys fall back to the Message-ID.
      {"no-uidl", 0, false, LinkStatus::Ok, all, {}},
      {"no-uidl", 0, true, LinkStatus::Ok, all, all},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(std::string(f.fault) + (f.keep ? " keep" : ""));
    ReceiveFixture run;
    FakePop3Server server;
    std::string error;
    ASSERT_TRUE(server.Start(f.fault, f.at, &error)) << error;
    Fill(server, 4);
    auto r1 = run.Receive(AccountOn(server, f.keep), 1500);
    ASSERT_EQ(r1.visits.size(), 1u);
    EXPECT_EQ(r1.visits[0].result.status, f.status) << r1.visits[0].result.error;
    if (f.status == LinkStatus::ReceiveFailed) EXPECT_EQ(r1.receiveFailures, "fake@example.org");
    EXPECT_EQ(run.SpooledSubjects(), f.spooled);
    EXPECT_EQ(Subjects(server.Messages()), f.onServer);

    // The next run against a well-behaved server (the same mailbox).
    ASSERT_TRUE(server.Restart(std::string(f.fault) == "no-uidl" ? "no-uidl" : "none", 0, &error)) << error;
    auto r2 = run.Receive(AccountOn(server, f.keep), 1500);
    EXPECT_EQ(r2.visits[0].result.status, LinkStatus::Ok) << r2.visits[0].result.error;
    EXPECT_EQ(run.SpooledSubjects(), all);
    EXPECT_EQ(Subjects(server.Messages()), f.keep ? all : std::vector<std::string>{});
    // Every spooled copy is whole: the last body line is there.
    for (const auto& m : run.Spooled()) EXPECT_TRUE(m.ends_with("line\r\n.dot\r\n") || m.find("long line") != std::string::npos);
  }
}

TEST_F(FakeServerTest, KeepWithoutUidlTellsDuplicatesAndMissingIdsApart) {
  FakePop3Server server;
  std::string error;
  ASSERT_TRUE(server.Start("no-uidl", 0, &error)) << error;
  server.PutMessage(MakeMessage("d1", "<dup@x>", "one\r\n"));
  server.PutMessage(MakeMessage("d2", "<dup@x>", "two\r\n"));
  server.PutMessage(MakeMessage("n1", "", "three\r\n"));
  server.PutMessage(MakeMessage("n2", "", "four\r\n"));
  auto keep = AccountOn(server, true);
  EXPECT_EQ(Receive(keep).messagesSpooled, 4);
  EXPECT_EQ(Receive(keep).messagesSpooled, 0);
  server.PutMessage(MakeMessage("d3", "<dup@x>", "five\r\n"));
  EXPECT_EQ(Receive(keep).messagesSpooled, 1);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"d1", "d2", "d3", "n1", "n2"}));
  // Keep off: everything goes without being fetched again.
  EXPECT_EQ(Receive(AccountOn(server, false)).messagesSpooled, 0);
  EXPECT_TRUE(server.Messages().empty());
  EXPECT_EQ(Spooled().size(), 5u);
}

TEST_F(FakeServerTest, BigHeaderLeavesThatMessageOnTheServer) {
  FakePop3Server server;
  std::string error;
  ASSERT_TRUE(server.Start("big-top", 2, &error)) << error;
  Fill(server, 3);
  // A blocked-sender list makes the receiver read every header first.
  isBlocked = [](std::string_view) { return false; };
  auto r = Receive(AccountOn(server));
  EXPECT_EQ(r.visits[0].result.status, LinkStatus::ReceiveFailed);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"m1", "m3"}));
  EXPECT_EQ(Subjects(server.Messages()), (std::vector<std::string>{"m2"}));
}

// A server that trickles a message a byte a second answers every single read in time; the
// run's deadline (grace + size / minimum rate) gives up on it all the same, keeps what came
// before, deletes nothing it did not get, and the next run fetches the rest once.
TEST_F(FakeServerTest, DrippingServerIsGivenUpOn) {
  FakePop3Server server;
  std::string error;
  ASSERT_TRUE(server.Start("drip", 2, &error)) << error;
  auto subjects = Fill(server, 3);
  transport::pop3::Pop3Pace pace;
  pace.graceMs = 1500;
  pace.minBytesPerSecond = 1000;
  transport::ChainSetup setup;
  setup.spool = &spool;
  setup.leftOnServer = &leftOnServer;
  auto started = std::chrono::steady_clock::now();
  transport::ChainReport r;
  {
    transport::ThreadRecvChain chain(setup);
    chain.AddLink(std::make_unique<transport::pop3::ThreadRecvPOP>(AccountOn(server), 30000, pace));
    r = chain.Run();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  ASSERT_EQ(r.visits.size(), 1u);
  EXPECT_EQ(r.visits[0].result.status, LinkStatus::ReceiveFailed);
  EXPECT_NE(r.visits[0].result.error.find("too slow"), std::string::npos) << r.visits[0].result.error;
  EXPECT_EQ(SpooledSubjects(), std::vector<std::string>{"m1"});
  EXPECT_EQ(server.Messages().size(), 3u);
  ASSERT_TRUE(server.Restart("none", 0, &error)) << error;
  Receive(AccountOn(server));
  EXPECT_EQ(SpooledSubjects(), subjects);
  EXPECT_TRUE(server.Messages().empty());
}

// The key a server gives a message (its UIDL) travels in the spool name, so the filer knows a
// message fetched a second time; the left-on-server list is on the disk before any deletion.
TEST_F(FakeServerTest, FetchedMessagesAreKeyedAndRememberedBeforeTheirDeletion) {
  FakePop3Server server;
  std::string error;
  ASSERT_TRUE(server.Start("silent-quit", 0, &error)) << error;
  Fill(server, 2);
  auto r = Receive(AccountOn(server), 2000);
  EXPECT_EQ(r.visits[0].result.status, LinkStatus::ReceiveFailed);
  auto names = spool.List(mailformat::kRawExt);
  ASSERT_EQ(names.size(), 2u);
  for (const auto& n : names) EXPECT_FALSE(mailformat::RawKeyOf(n).empty()) << n;
  // QUIT went unanswered, so nothing was deleted: both keys are on the disk, and a new run
  // deletes the two without fetching them again.
  transport::LeftOnServerList onDisk(home.path("msgid.lst"));
  onDisk.LoadIfNeeded();
  EXPECT_EQ(onDisk.size(), 2u);
  ASSERT_TRUE(server.Restart("none", 0, &error)) << error;
  auto again = Receive(AccountOn(server));
  EXPECT_EQ(again.messagesSpooled, 0);
  EXPECT_TRUE(server.Messages().empty());
}

// The spool's disk has no room left to file what arrives: the message that came stays on the
// server too (no DELE), nothing more is fetched, and the user is told the disk is full. Once
// there is room, the next run deletes it without fetching it again and fetches the rest.
TEST_F(FakeServerTest, NoRoomToFileKeepsMessagesOnTheServer) {
  const std::string disk = home.path("small/");
  makeDirs(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  writeFile(disk + "filler", std::string(1700 * 1024, 'f'));
  RandomSource rnd(5);
  mailformat::MailSpool smallSpool(disk + "Inbox/", rnd);
  FakePop3Server server;
  std::string error;
  ASSERT_TRUE(server.Start("none", 0, &error)) << error;
  auto subjects = Fill(server, 3);
  auto run = [&] {
    transport::ChainSetup setup;
    setup.spool = &smallSpool;
    setup.leftOnServer = &leftOnServer;
    transport::ThreadRecvChain chain(setup);
    chain.AddLink(std::make_unique<transport::pop3::ThreadRecvPOP>(AccountOn(server), 5000));
    return chain.Run();
  };
  auto r = run();
  ASSERT_EQ(r.visits.size(), 1u);
  EXPECT_EQ(r.visits[0].result.status, LinkStatus::ReceiveFailed);
  EXPECT_NE(r.visits[0].result.error.find("disk is full"), std::string::npos) << r.visits[0].result.error;
  EXPECT_EQ(Subjects(SpoolMessages(disk + "Inbox")), std::vector<std::string>{"m1"});
  EXPECT_EQ(server.Messages().size(), 3u);
  ::unlink((disk + "filler").c_str());
  run();
  EXPECT_EQ(Subjects(SpoolMessages(disk + "Inbox")), subjects);
  EXPECT_TRUE(server.Messages().empty());
}

TEST_F(FakeServerTest, WrongPasswordIsToldApartFromAConnectFailure) {
  FakePop3Server server;
  std::string error;
  ASSERT_TRUE(server.Start("bad-pass", 0, &error)) << error;
  Fill(server, 1);
  auto r = Receive(AccountOn(server));
  EXPECT_EQ(r.visits[0].result.status, LinkStatus::WrongPassword);
  EXPECT_EQ(r.visits[0].result.error, "Invalid user name or password.");
  EXPECT_EQ(r.wrongPasswords, "fake@example.org");
  EXPECT_EQ(r.connectFailures, "");
  EXPECT_TRUE(Spooled().empty());
}

TEST_F(FakeServerTest, ARefusedPasswordIsAskedAgainOncePerRun) {
  FakePop3Server server;
  std::string error;
  ASSERT_TRUE(server.Start("none", 0, &error)) << error;
  auto wrong = AccountOn(server);
  wrong.password = "not it";
  struct Case {
    std::vector<std::string> answers;  // given in turn when asked again
    LinkStatus status;
    size_t spooled;
  } const cases[] = {
      {{"still wrong", server.password()}, LinkStatus::WrongPassword, 0},  // asked once only
      {{""}, LinkStatus::WrongPassword, 0},                                 // the user gave none
      {{server.password()}, LinkStatus::Ok, 1},
  };
  Fill(server, 1);
  for (const auto& c : cases) {
    size_t asked = 0;
    askPasswordAgain = [&](const std::string& account) -> std::optional<std::string> {
      EXPECT_EQ(account, wrong.name);
      return c.answers[std::min(asked++, c.answers.size() - 1)];
    };
    auto r = Receive(wrong);
    EXPECT_EQ(asked, 1u);
    EXPECT_EQ(r.visits[0].result.status, c.status);
    EXPECT_EQ(r.wrongPasswords, c.status == LinkStatus::Ok ? "" : wrong.name);
    EXPECT_EQ(r.connectFailures, "");
    EXPECT_EQ(Spooled().size(), c.spooled);
  }
  askPasswordAgain = nullptr;
}

TEST_F(FakeServerTest, SkipAndStopOnASlowServer) {
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "Abort receiving" : "Skip");
    ReceiveFixture run;
    FakePop3Server slow, quick;
    std::string error;
    ASSERT_TRUE(slow.Start("slow", 0, &error)) << error;
    ASSERT_TRUE(quick.Start("none", 0, &error)) << error;
    Fill(slow, 20);
    quick.PutMessage(MakeMessage("quick", "<q@x>"));
    transport::ChainSetup setup;
    setup.spool = &run.spool;
    setup.leftOnServer = &run.leftOnServer;
    transport::ThreadRecvChain chain(setup);
    auto slowAccount = AccountOn(slow);
    slowAccount.name = "slow@example.org";
    chain.AddLink(std::make_unique<transport::pop3::ThreadRecvPOP>(slowAccount, 30000));
    chain.AddLink(std::make_unique<transport::pop3::ThreadRecvPOP>(AccountOn(quick), 30000));
    std::atomic<int> spooled{0};
    QObject::connect(&chain, &transport::ThreadRecvChain::messageSpooled, [&] { ++spooled; });
    chain.Start();
    // Wait until the slow account has delivered a message, then press the button.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (run.Spooled().empty() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto pressed = std::chrono::steady_clock::now();
    if (stop) chain.Stop();
    else chain.Skip();
    ASSERT_TRUE(chain.Wait(20000));
    // Honoured at once, not after the server's next line.
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(2));
    const auto& report = chain.Report();
    EXPECT_EQ(report.visits[0].result.status, LinkStatus::Stopped);
    EXPECT_TRUE(report.receiveFailures.empty());
    EXPECT_EQ(report.stopped, stop);
    EXPECT_EQ(report.visits[1].visited, !stop);
    EXPECT_EQ(quick.Messages().empty(), !stop);
    // Nothing was deleted on the slow server; the next run fetches the rest once.
    EXPECT_EQ(slow.Messages().size(), 20u);
    size_t first = run.Spooled().size() - (stop ? 0 : 1);
    EXPECT_GE(first, 1u) << ::testing::PrintToString(run.SpooledSubjects());
    ASSERT_TRUE(slow.Restart("none", 0, &error)) << error;
    auto again = run.Receive(AccountOn(slow), 5000);
    EXPECT_EQ(again.messagesSpooled, static_cast<int>(20 - first));
    EXPECT_TRUE(slow.Messages().empty());
    EXPECT_EQ(run.Spooled().size(), 20u + (stop ? 0 : 1));
  }
}

}  // namespace
}  // namespace px::test
