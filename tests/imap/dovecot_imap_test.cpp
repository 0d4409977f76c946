// Receiving over IMAP from a real server: Dovecot on 127.0.0.1, started for these tests with
// TLS from a test CA and Maildirs the tests fill.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "mailformat/pseudo_headers.h"
#include "pop3/receive_fixture.h"
#include <QCoreApplication>

#include "transport/imap/imap_client.h"
#include "transport/imap/imap_idle.h"
#include "transport/imap/thread_recv_imap.h"
#include "transport/pop3/account_check.h"

namespace px::test {
namespace {

using transport::LinkStatus;
using transport::pop3::Security;

class DovecotImapTest : public ::testing::Test, public ReceiveFixture {
protected:
  static void SetUpTestSuite() {
    server_ = new DovecotServer(true);
    if (!server_->Start(&startError_)) {
      delete server_;
      server_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    if (!server_) {
      if (::getuid() != 0) GTEST_SKIP() << startError_;
      FAIL() << startError_;
    }
    trust_ = std::make_unique<ScopedCertFile>(server_->ca().caFile);
    user_ = server_->NewUser();
    ASSERT_FALSE(user_.empty());
  }
  DovecotServer& server() { return *server_; }
  transport::ExternalAccount Imap(bool keep = false, int port = 0, Security security = Security::Tls) {
    auto a = Account(user_ + "@example.org", "localhost:" + std::to_string(port ? port : server_->imapsPort()), user_,
                     "pw-" + user_, security, keep);
    a.SetImap(true);
    return a;
  }
  transport::ChainReport ReceiveImap(const transport::ExternalAccount& a, int timeoutMs = 5000) {
    transport::ChainSetup setup;
    setup.spool = &spool;
    setup.leftOnServer = &leftOnServer;
    setup.isBlocked = isBlocked;
    transport::ThreadRecvChain chain(setup);
    transport::imap::AddExternalLinks(chain, {a}, timeoutMs);
    return chain.Run();
  }
  static std::string Expected(const std::string& original, const std::string& account) {
    return mailformat::InsertAccountHeader(original, account);
  }
  // Whether Dovecot marked any message of the user as read.
  bool AnySeen() {
    for (const auto& f : server().MessageFiles(user_)) {
      size_t info = f.find(":2,");
      if (info != std::string::npos && f.find('S', info) != std::string::npos) return true;
    }
    return false;
  }

  static DovecotServer* server_;
  static std::string startError_;
  std::unique_ptr<ScopedCertFile> trust_;
  std::string user_;
};

DovecotServer* DovecotImapTest::server_ = nullptr;
std::string DovecotImapTest::startError_;

TEST_F(DovecotImapTest, ReceivesByteForByteAndExpungesWhatWasFiled) {
  std::vector<std::string> originals = {
      MakeMessage("plain", "<a@x>"),
      MakeMessage("dots", "<b@x>", ".leading dot\r\n..two dots\r\n.\r\nafter a lone dot\r\n"),
      // No empty line at all: the account line follows the last line.
      "From: x@example.org\r\nSubject: header only\r\n",
      MakeMessage("big", "<c@x>", [] {
        std::string body;
        for (int i = 0; i < 3000; ++i) body += std::string(998, 'a' + i % 26) + "\r\n";
        return body;
      }()),
  };
  for (const auto& m : originals) server().PutMessage(user_, m);
  for (Security security : {Security::Tls, Security::StartTls}) {
    SCOPED_TRACE(security == Security::Tls ? "IMAPS" : "STARTTLS");
    auto account = Imap(false, security == Security::Tls ? server().imapsPort() : server().imapPort(), security);
    auto report = ReceiveImap(account);
    ASSERT_EQ(report.visits.size(), 1u);
    EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
    if (security == Security::Tls) {
      EXPECT_EQ(report.messagesSpooled, 4);
      auto spooled = Spooled();
      std::vector<std::string> expected;
      for (const auto& m : originals) expected.push_back(Expected(m, account.name));
      std::sort(spooled.begin(), spooled.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(spooled, expected);
    } else {
      EXPECT_EQ(report.messagesSpooled, 0);  // nothing left
    }
    EXPECT_TRUE(server().Messages(user_).empty());
  }
  // Nothing is remembered of messages that are gone but the folder's state.
  for (const auto& line : leftOnServer.WithPrefix("imap:")) EXPECT_NE(line.find(" state "), std::string::npos) << line;
}

TEST_F(DovecotImapTest, KeepLeavesMailUnreadAndFetchesEachOnceThenDeletesWithoutFetchingAgain) {
  for (int i = 0; i < 3; ++i) server().PutMessage(user_, MakeMessage("kept " + std::to_string(i), "<k" + std::to_string(i) + "@x>"));
  auto report = ReceiveImap(Imap(true));
  EXPECT_EQ(report.messagesSpooled, 3) << report.visits[0].result.error;
  EXPECT_EQ(server().Messages(user_).size(), 3u);
  EXPECT_FALSE(AnySeen());
  // Unchanged: nothing fetched.
  EXPECT_EQ(ReceiveImap(Imap(true)).messagesSpooled, 0);
  server().PutMessage(user_, MakeMessage("kept 3", "<k3@x>"));
  EXPECT_EQ(ReceiveImap(Imap(true)).messagesSpooled, 1);
  EXPECT_EQ(Spooled().size(), 4u);
  EXPECT_FALSE(AnySeen());
  // Keep turned off: the remembered messages are deleted, none fetched again.
  report = ReceiveImap(Imap(false));
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
  EXPECT_EQ(report.messagesSpooled, 0);
  EXPECT_TRUE(server().Messages(user_).empty());
  EXPECT_EQ(Spooled().size(), 4u);
}

TEST_F(DovecotImapTest, ANewUidValidityDoesNotBringTheMailAgain) {
  server().PutMessage(user_, MakeMessage("one", "<u1@x>"));
  server().PutMessage(user_, "From: a@example.org\r\nSubject: no id\r\n\r\nbody\r\n");
  server().PutMessage(user_, MakeMessage("same id", "<dup@x>", "first\r\n"));
  server().PutMessage(user_, MakeMessage("same id", "<dup@x>", "second\r\n"));
  ASSERT_EQ(ReceiveImap(Imap(true)).messagesSpooled, 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // UIDVALIDITY is a time
  server().RenumberMailbox(user_);
  server().PutMessage(user_, MakeMessage("after", "<u2@x>"));
  auto report = ReceiveImap(Imap(true));
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
  EXPECT_EQ(report.messagesSpooled, 1);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"after", "no id", "one", "same id", "same id"}));
  EXPECT_EQ(ReceiveImap(Imap(true)).messagesSpooled, 0);
}

TEST_F(DovecotImapTest, ReceivesFromTheChosenFoldersOnly) {
  server().PutMessage(user_, MakeMessage("inbox", "<i@x>"));
  server().PutMessage(user_, MakeMessage("work", "<w@x>"), "Work");
  server().PutMessage(user_, MakeMessage("other", "<o@x>"), "Other");
  auto account = Imap(false);
  account.SetImapFolders({"INBOX", "Work", "Missing"});
  auto report = ReceiveImap(account);
  // The missing folder is reported; the others are received all the same.
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::ReceiveFailed);
  EXPECT_NE(report.visits[0].result.error.find("Missing"), std::string::npos);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"inbox", "work"}));
  EXPECT_EQ(server().Messages(user_, "Other").size(), 1u);
  EXPECT_TRUE(server().Messages(user_, "Work").empty());
}

TEST_F(DovecotImapTest, WrongPasswordAndAccountCheck) {
  auto account = Imap();
  auto check = transport::pop3::CheckAccount(account, 5000);
  EXPECT_TRUE(check.works) << check.detail;
  account.password = "wrong";
  check = transport::pop3::CheckAccount(account, 5000);
  EXPECT_EQ(check.message, transport::pop3::kInvalidLogin);
  server().PutMessage(user_, MakeMessage("stays", "<s@x>"));
  auto report = ReceiveImap(account);
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::WrongPassword);
  EXPECT_EQ(server().Messages(user_).size(), 1u);
}

TEST_F(DovecotImapTest, IdleWakesUpWhenMailArrives) {
  transport::imap::ImapClient client;
  client.SetTimeout(5000);
  ASSERT_TRUE(client.Connect("localhost", server().imapsPort(), Security::Tls)) << client.errorText();
  ASSERT_TRUE(client.Login(user_, "pw-" + user_)) << client.errorText();
  ASSERT_TRUE(client.Has("IDLE"));
  transport::imap::MailboxState box;
  ASSERT_TRUE(client.Select("INBOX", true, box)) << client.errorText();
  EXPECT_EQ(box.exists, 0);
  // Nothing happens: the wait ends by itself and the session goes on.
  bool grew = true;
  ASSERT_TRUE(client.Idle(300, grew)) << client.errorText();
  EXPECT_FALSE(grew);
  std::thread deliver([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server().PutMessage(user_, MakeMessage("news", "<n@x>"));
  });
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Idle(20000, grew)) << client.errorText();
  deliver.join();
  EXPECT_TRUE(grew);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(client.mailbox().exists, 1);
  // Stop from another thread ends a wait at once.
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    client.Stop();
  });
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Idle(20000, grew));
  stopper.join();
  EXPECT_EQ(client.error(), transport::ErrorKind::Stopped);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(DovecotImapTest, TheWatchSaysWhenMailArrivesAndStopsAtOnce) {
  transport::imap::IdleTiming timing;
  timing.idleMs = 2000;
  timing.timeoutMs = 5000;
  transport::imap::ImapIdleWatch watch(timing);
  int news = 0;
  QString which;
  // Told on this thread (the watch's workers emit; the connection queues it here).
  QObject::connect(&watch, &transport::imap::ImapIdleWatch::newMail, &watch, [&](const QString& a) {
    ++news;
    which = a;
  });
  auto account = Imap();
  auto unwatched = account;
  unwatched.name = "no password";
  unwatched.password.clear();
  watch.Update({account, unwatched});
  EXPECT_EQ(watch.Watching(), 1);
  // Mail that arrives while the watch waits on the server is told. On a busy machine the watch
  // may still be signing in when the first message lands, so more follow until one is told.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto nextPut = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  int put = 0;
  while (news == 0 && std::chrono::steady_clock::now() < until) {
    if (std::chrono::steady_clock::now() >= nextPut) {
      server().PutMessage(user_, MakeMessage("news " + std::to_string(++put), "<w" + std::to_string(put) + "@x>"));
      nextPut = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  EXPECT_GE(news, 1);
  EXPECT_EQ(which.toStdString(), account.name);
  // Unchanged accounts keep their watch; a changed one is watched anew; stopping ends them all
  // (a watch that ignored Stop would hold the test here until ctest's time limit).
  watch.Update({account});
  EXPECT_EQ(watch.Watching(), 1);
  watch.StopAll();
  EXPECT_EQ(watch.Watching(), 0);
}

// A relay cuts the first session after so many bytes from the server; the next run goes
// through whole. Whatever the cut, every message is filed exactly once and none leaves the
// server before it is in the spool.
TEST_F(DovecotImapTest, CutSessionsLoseNothingAndBringNothingTwice) {
  const long cuts[] = {200, 1500, 4000, 9000, 16000, 30000, 60000};
  for (long cut : cuts) {
    SCOPED_TRACE("cut after " + std::to_string(cut));
    ReceiveFixture fresh;
    const std::string user = server().NewUser();
    ASSERT_FALSE(user.empty());
    std::vector<std::string> subjects;
    for (int i = 0; i < 8; ++i) {
      std::string subject = "m" + std::to_string(i);
      subjects.push_back(subject);
      server().PutMessage(user, MakeMessage(subject, "<" + subject + "." + user + "@x>", std::string(3000, 'x') + "\r\n"));
    }
    CutProxy proxy;
    std::string error;
    ASSERT_TRUE(proxy.Start(server().imapsPort(), cut, &error)) << error;
    auto a = Account(user + "@example.org", "localhost:" + std::to_string(proxy.port()), user, "pw-" + user,
                     Security::Tls, false);
    a.SetImap(true);
    auto run = [&] {
      transport::ChainSetup setup;
      setup.spool = &fresh.spool;
      setup.leftOnServer = &fresh.leftOnServer;
      transport::ThreadRecvChain chain(setup);
      transport::imap::AddExternalLinks(chain, {a}, 5000);
      return chain.Run();
    };
    run();
    // Gone from the server means in the spool.
    std::vector<std::string> present = Subjects(server().Messages(user));
    std::vector<std::string> spooled = fresh.SpooledSubjects();
    std::vector<std::string> both = present;
    both.insert(both.end(), spooled.begin(), spooled.end());
    std::sort(both.begin(), both.end());
    both.erase(std::unique(both.begin(), both.end()), both.end());
    EXPECT_EQ(both, subjects);
    auto report = run();
    EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
    EXPECT_EQ(fresh.SpooledSubjects(), subjects);
    EXPECT_TRUE(server().Messages(user).empty());
  }
}

}  // namespace
}  // namespace px::test
