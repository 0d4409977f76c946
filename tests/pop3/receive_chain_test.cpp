// The receive chain over scripted links: order, ticks, passwords, Skip and Stop, failure texts.
#include "transport/receive_chain.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <thread>

#include "foundation/random.h"
#include "mailformat/spool.h"
#include "support/test_support.h"
#include "transport/left_on_server.h"

namespace px::transport {
namespace {

struct Script {
  std::vector<std::string>* log;
  LinkStatus status = LinkStatus::Ok;
  int errorCode = 0;
  bool service = false;
  bool needsPassword = false;
  bool blockUntilStopped = false;
  std::string addLine;  // added to the left-on-server list while running
};

class ScriptedLink : public ReceiveLink {
public:
  ScriptedLink(std::string name, Script s) : name_(std::move(name)), s_(std::move(s)) {}
  std::string AccountName() const override { return name_; }
  bool IsService() const override { return s_.service; }
  bool NeedsPassword() const override { return s_.needsPassword && password_.empty(); }
  void SetPassword(const std::string& p) override { password_ = p; }
  LinkResult Run(ReceiveContext& ctx) override {
    s_.log->push_back(name_ + (password_.empty() ? "" : ":" + password_));
    ctx.events.ShowSkip();
    if (!s_.addLine.empty()) ctx.leftOnServer.Add(s_.addLine);
    if (s_.blockUntilStopped) {
      started_ = true;
      while (!stopped_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return {LinkStatus::Stopped, 0, {}, 0};
    }
    return {s_.status, s_.errorCode, s_.status == LinkStatus::Ok ? "" : "failed", 1};
  }
  void Stop() override { stopped_ = true; }
  std::atomic<bool> started_{false};

private:
  std::string name_;
  Script s_;
  std::string password_;
  std::atomic<bool> stopped_{false};
};

class ChainTest : public ::testing::Test {
protected:
  test::TempHome home;
  RandomSource random{7};
  mailformat::MailSpool spool{home.path("Inbox/"), random};
  LeftOnServerList list{home.path("msgid.lst")};
  std::vector<std::string> log;

  ChainSetup MakeSetup() {
    ChainSetup s;
    s.spool = &spool;
    s.leftOnServer = &list;
    return s;
  }
  Script S(LinkStatus st = LinkStatus::Ok) {
    Script s;
    s.log = &log;
    s.status = st;
    return s;
  }
};

TEST_F(ChainTest, VisitsInOrderAndCollectsFailureNames) {
  ThreadRecvChain chain(MakeSetup());
  Script service = S();
  service.service = true;
  chain.AddLink(std::make_unique<ScriptedLink>("Plumadex server", service));
  chain.AddLink(std::make_unique<ScriptedLink>("a@x", S(LinkStatus::ConnectFailed)));
  chain.AddLink(std::make_unique<ScriptedLink>("b@x", S(LinkStatus::ReceiveFailed)));
  chain.AddLink(std::make_unique<ScriptedLink>("c@x", S(LinkStatus::WrongPassword)));
  chain.AddLink(std::make_unique<ScriptedLink>("d@x", S(LinkStatus::ReceiveFailed)));
  ChainReport r = chain.Run();
  EXPECT_EQ(log, (std::vector<std::string>{"Plumadex server", "a@x", "b@x", "c@x", "d@x"}));
  EXPECT_EQ(r.connectFailures, "a@x");
  EXPECT_EQ(r.wrongPasswords, "c@x");  // a refused password is not an outage
  EXPECT_EQ(r.receiveFailures, "b@x, d@x");
  EXPECT_EQ(r.messagesSpooled, 5);
  EXPECT_FALSE(r.stopped);
}

TEST_F(ChainTest, WrongServicePasswordEndsTheRun) {
  ThreadRecvChain chain(MakeSetup());
  Script service = S(LinkStatus::ConnectFailed);
  service.service = true;
  service.errorCode = 3;
  chain.AddLink(std::make_unique<ScriptedLink>("Plumadex server", service));
  chain.AddLink(std::make_unique<ScriptedLink>("a@x", S()));
  ChainReport r = chain.Run();
  EXPECT_EQ(log, (std::vector<std::string>{"Plumadex server"}));
  EXPECT_EQ(r.errorCode, 3);
  ASSERT_EQ(r.visits.size(), 2u);
  EXPECT_FALSE(r.visits[1].visited);
}

TEST_F(ChainTest, UntickedAndPasswordlessAccountsArePassedOver) {
  ChainSetup setup = MakeSetup();
  std::vector<std::string> asked;
  setup.askPassword = [&](const std::string& account) -> std::optional<std::string> {
    asked.push_back(account);
    if (account == "p@x") return std::string("secret");
    if (account == "q@x") return std::string();
    return std::nullopt;
  };
  ThreadRecvChain chain(setup);
  Script needs = S();
  needs.needsPassword = true;
  chain.AddLink(std::make_unique<ScriptedLink>("a@x", S()));
  chain.AddLink(std::make_unique<ScriptedLink>("p@x", needs));
  chain.AddLink(std::make_unique<ScriptedLink>("q@x", needs));
  chain.AddLink(std::make_unique<ScriptedLink>("r@x", needs));
  chain.SetTicked(0, false);
  ChainReport r = chain.Run();
  EXPECT_EQ(log, (std::vector<std::string>{"p@x:secret"}));
  EXPECT_EQ(asked, (std::vector<std::string>{"p@x", "q@x", "r@x"}));
  EXPECT_TRUE(r.connectFailures.empty());
}

TEST_F(ChainTest, SkipMovesOnStopEndsTheRun) {
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "skip");
    log.clear();
    ThreadRecvChain chain(MakeSetup());
    Script slow = S();
    slow.blockUntilStopped = true;
    auto first = std::make_unique<ScriptedLink>("slow@x", slow);
    ScriptedLink* slowLink = first.get();
    chain.AddLink(std::move(first));
    chain.AddLink(std::make_unique<ScriptedLink>("next@x", S()));
    bool finished = false;
    QObject::connect(&chain, &ThreadRecvChain::finished, [&] { finished = true; });
    chain.Start();
    while (!slowLink->started_) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (stop) chain.Stop();
    else chain.Skip();
    ASSERT_TRUE(chain.Wait(5000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(finished);
    EXPECT_EQ(chain.Report().stopped, stop);
    EXPECT_EQ(log.size(), stop ? 1u : 2u);
    EXPECT_TRUE(chain.Report().receiveFailures.empty());
  }
}

// A password is asked on the owner's thread while the worker waits for the answer; nothing on
// the owner's side waits for the worker meanwhile, so the owner may answer, stop the run, or
// drop the chain (the desk closing) with the question open.
TEST_F(ChainTest, AnOpenPasswordQuestionNeverHoldsTheOwnerAndStopEndsIt) {
  enum class Owner { Answers, Stops, DropsTheChain };
  for (Owner how : {Owner::Answers, Owner::Stops, Owner::DropsTheChain}) {
    SCOPED_TRACE(static_cast<int>(how));
    log.clear();
    auto chain = std::make_unique<ThreadRecvChain>(MakeSetup());
    Script needs = S();
    needs.needsPassword = true;
    chain->AddLink(std::make_unique<ScriptedLink>("p@x", needs));
    chain->AddLink(std::make_unique<ScriptedLink>("a@x", S()));
    QEventLoop loop;
    bool finished = false;
    std::vector<std::string> asked;
    QObject::connect(chain.get(), &ThreadRecvChain::finished, &loop, [&] {
      finished = true;
      loop.quit();
    });
    QObject::connect(chain.get(), &ThreadRecvChain::passwordWanted, &loop,
                     [&](int index, const QString& account, bool again) {
                       asked.push_back(std::to_string(index) + account.toStdString() + (again ? " again" : ""));
                       switch (how) {
                         case Owner::Answers: chain->AnswerPassword(std::string("secret")); break;
                         case Owner::Stops: chain->Stop(); break;
                         case Owner::DropsTheChain:
                           // Stops the worker and joins it: returns only if the worker let go.
                           chain.reset();
                           loop.quit();
                           break;
                       }
                     });
    chain->Start();
    loop.exec();
    EXPECT_EQ(asked, std::vector<std::string>{"0p@x"});
    switch (how) {
      case Owner::Answers:
        EXPECT_TRUE(finished);
        EXPECT_EQ(log, (std::vector<std::string>{"p@x:secret", "a@x"}));
        EXPECT_FALSE(chain->Report().stopped);
        break;
      case Owner::Stops:
        EXPECT_TRUE(finished);
        EXPECT_TRUE(log.empty());
        EXPECT_TRUE(chain->Report().stopped);
        EXPECT_FALSE(chain->Report().visits[0].visited);
        break;
      case Owner::DropsTheChain:
        EXPECT_EQ(chain, nullptr);
        EXPECT_TRUE(log.empty());
        break;
    }
  }
}

TEST_F(ChainTest, LeftOnServerListIsSavedWhenChanged) {
  ThreadRecvChain chain(MakeSetup());
  Script s = S();
  s.addLine = "user@pop.x uidl:17";
  chain.AddLink(std::make_unique<ScriptedLink>("a@x", s));
  chain.Run();
  EXPECT_EQ(test::readFile(home.path("msgid.lst")), "user@pop.x uidl:17\r\n");
  EXPECT_FALSE(list.loaded());
}

TEST(LeftOnServerListTest, SortedPrefixOperations) {
  LeftOnServerList l;
  l.LoadIfNeeded();
  for (auto s : {"u@h b", "u@h a", "v@h c", "u@hx d", "u@h a"}) l.Add(s);
  EXPECT_EQ(l.size(), 4u);
  EXPECT_TRUE(l.Contains("u@h a"));
  EXPECT_EQ(l.WithPrefix("u@h "), (StringList{"u@h a", "u@h b"}));
  EXPECT_EQ(l.ReplacePrefix("u@h ", "w@h "), 2u);
  EXPECT_EQ(l.WithPrefix("w@h "), (StringList{"w@h a", "w@h b"}));
  EXPECT_EQ(l.RemovePrefix("w@h "), 2u);
  EXPECT_EQ(l.size(), 2u);
  EXPECT_TRUE(l.modified());
}

}  // namespace
}  // namespace px::transport
