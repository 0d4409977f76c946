// Receiving from a real POP3 server: Dovecot on 127.0.0.1, started for these tests, with TLS
// from a test CA and Maildirs the tests fill.
#include <gtest/gtest.h>

#include <QProcess>

#include "mailformat/pseudo_headers.h"
#include "pop3/receive_fixture.h"
#include "support/test_paths.h"
#include "transport/pop3/account_check.h"
#include "transport/pop3/pop3_preview.h"

namespace px::test {
namespace {

using transport::LinkStatus;
using transport::pop3::Security;

class DovecotTest : public ::testing::Test, public ReceiveFixture {
protected:
  static void SetUpTestSuite() {
    server_ = new DovecotServer;
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
  transport::ExternalAccount Tls(bool keep = false) {
    return Account(user_ + "@example.org", "localhost:" + std::to_string(server_->pop3sPort()), user_, "pw-" + user_,
                   Security::Tls, keep);
  }
  static std::string Expected(const std::string& original, const std::string& account) {
    return mailformat::InsertAccountHeader(original, account);
  }

  static DovecotServer* server_;
  static std::string startError_;
  std::unique_ptr<ScopedCertFile> trust_;
  std::string user_;
};

DovecotServer* DovecotTest::server_ = nullptr;
std::string DovecotTest::startError_;

TEST_F(DovecotTest, TlsReceiveEmptiesTheMailboxByteForByte) {
  std::vector<std::string> originals = {
      MakeMessage("plain", "<a@x>"),
      MakeMessage("dots", "<b@x>", ".leading dot\r\n..two dots\r\n.\r\nafter a lone dot\r\n"),
      // Headers that would steer filing are neutralised; the receiver's own line comes last.
      "From: mallory@example.org\r\nSubject: forged\r\n_Folder: ../../etc\r\nX-Plumadex-Account: someone\r\n"
      "$$$Plumadex$$$\r\n\r\nbody\r\n",
      // No empty line at all: the account line follows the last line.
      "From: x@example.org\r\nSubject: header only\r\n",
      MakeMessage("big", "<c@x>", [] {
        std::string body;
        for (int i = 0; i < 3000; ++i) body += std::string(998, 'a' + i % 26) + "\r\n";
        return body;
      }()),
  };
  for (const auto& m : originals) server().PutMessage(user_, m);
  auto account = Tls();
  auto report = Receive(account);
  ASSERT_EQ(report.visits.size(), 1u);
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
  EXPECT_EQ(report.messagesSpooled, 5);
  EXPECT_TRUE(server().Messages(user_).empty());

  auto got = Spooled();
  ASSERT_EQ(got.size(), originals.size());
  std::sort(got.begin(), got.end(), [](auto& a, auto& b) { return SubjectOf(a) < SubjectOf(b); });
  std::sort(originals.begin(), originals.end(), [](auto& a, auto& b) { return SubjectOf(a) < SubjectOf(b); });
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(SubjectOf(originals[i]));
    if (SubjectOf(originals[i]) == "forged") {
      EXPECT_EQ(got[i],
                "From: mallory@example.org\r\nSubject: forged\r\nX-Neutralised-_Folder: ../../etc\r\n"
                "X-Neutralised-X-Plumadex-Account: someone\r\nX-Neutralised-$$$Plumadex$$$\r\n"
                "X-Plumadex-Account: " + account.name + "\r\n\r\nbody\r\n");
    } else {
      // Byte for byte, dots unstuffed, with the account line at the end of the header.
      EXPECT_TRUE(got[i] == Expected(originals[i], account.name)) << got[i].substr(0, 300);
    }
  }
  // Nothing is remembered once the server acknowledged the deletions.
  leftOnServer.LoadIfNeeded();
  EXPECT_EQ(leftOnServer.size(), 0u);
  EXPECT_EQ(readFile(home.path("msgid.lst")), "");
}

TEST_F(DovecotTest, StartTlsPlainAndCertificateChecks) {
  server().PutMessage(user_, MakeMessage("one", "<1@x>"));
  const std::string plainPort = std::to_string(server().pop3Port());
  const std::string tlsPort = std::to_string(server().pop3sPort());
  struct Case {
    const char* what;
    std::string server;
    Security security;
    std::string trust;
    bool works;
  };
  const Case cases[] = {
      {"STLS to an IP address in the certificate", "127.0.0.1:" + plainPort, Security::StartTls, server().ca().caFile, true},
      {"POP3S by host name", "localhost:" + tlsPort, Security::Tls, server().ca().caFile, true},
      {"auto on a plain port means STLS", "localhost:" + plainPort, Security::Auto, server().ca().caFile, true},
      {"plain text when the account says so", "127.0.0.1:" + plainPort, Security::Plain, server().ca().caFile, true},
      {"a certificate from another CA", "localhost:" + tlsPort, Security::Tls, server().ca().otherCaFile, false},
      {"STLS with a certificate from another CA", "localhost:" + plainPort, Security::StartTls, server().ca().otherCaFile, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedCertFile trust(c.trust);
    auto a = Account("x", c.server, user_, "pw-" + user_, c.security);
    auto check = transport::pop3::CheckAccount(a, 5000);
    EXPECT_EQ(check.works, c.works) << check.detail;
    if (c.works) {
      EXPECT_EQ(check.message, "This account works.");
      EXPECT_EQ(check.detail.starts_with("Encrypted"), c.security != Security::Plain);
    } else {
      EXPECT_EQ(check.message, "Cannot connect to this e-mail server.");
      EXPECT_NE(check.detail.find("certificate"), std::string::npos) << check.detail;
    }
  }
  // A rejected certificate fetches nothing and deletes nothing.
  ScopedCertFile wrong(server().ca().otherCaFile);
  auto report = Receive(Tls());
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::ConnectFailed);
  EXPECT_EQ(report.connectFailures, user_ + "@example.org");
  EXPECT_TRUE(Spooled().empty());
  EXPECT_EQ(server().Messages(user_).size(), 1u);
}

TEST_F(DovecotTest, KeepOnServerByUidlWithMissingAndDuplicateMessageIds) {
  server().PutMessage(user_, MakeMessage("m1", "<same@x>"));
  server().PutMessage(user_, MakeMessage("m2", "<same@x>"));
  server().PutMessage(user_, MakeMessage("m3", ""));
  server().PutMessage(user_, MakeMessage("m4", ""));
  auto keep = Tls(true);
  auto r1 = Receive(keep);
  ASSERT_EQ(r1.messagesSpooled, 4) << r1.visits[0].result.error << " status " << int(r1.visits[0].result.status) << " visited " << r1.visits[0].visited << " on server " << server().Messages(user_).size();
  EXPECT_EQ(server().Messages(user_).size(), 4u);
  // A second run fetches nothing new.
  auto r2 = Receive(keep);
  EXPECT_EQ(r2.messagesSpooled, 0);
  server().PutMessage(user_, MakeMessage("m5", "<same@x>"));
  auto r3 = Receive(keep);
  EXPECT_EQ(r3.messagesSpooled, 1);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"m1", "m2", "m3", "m4", "m5"}));
  leftOnServer.LoadIfNeeded();
  EXPECT_EQ(leftOnServer.WithPrefix(transport::pop3::ThreadRecvPOP::KeyPrefix(keep)).size(), 5u);
  // Keep turned off: the remembered messages are deleted without being fetched again.
  auto r4 = Receive(Tls(false));
  EXPECT_EQ(r4.messagesSpooled, 0);
  EXPECT_TRUE(server().Messages(user_).empty());
  EXPECT_EQ(Spooled().size(), 5u);
  leftOnServer.LoadIfNeeded();
  EXPECT_EQ(leftOnServer.size(), 0u);
}

TEST_F(DovecotTest, BlockedSendersAreNotFetched) {
  server().PutMessage(user_, MakeMessage("wanted", "<w@x>"));
  server().PutMessage(user_, MakeMessage("spam", "<s@x>", "buy\r\n", "\"Spam\" <SPAM@Example.org>"));
  isBlocked = [](std::string_view key) { return key == "spam@example.org"; };
  // Kept on the server: the blocked message stays there and is not remembered.
  auto r1 = Receive(Tls(true));
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"wanted"}));
  EXPECT_EQ(server().Messages(user_).size(), 2u);
  leftOnServer.LoadIfNeeded();
  EXPECT_EQ(leftOnServer.size(), 1u);
  // Not kept: it is deleted unread.
  auto r2 = Receive(Tls(false));
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"wanted"}));
  EXPECT_TRUE(server().Messages(user_).empty());
}

TEST_F(DovecotTest, BadAccountsAreReportedAndTheChainGoesOn) {
  server().PutMessage(user_, MakeMessage("good", "<g@x>"));
  auto wrongPassword = Tls();
  wrongPassword.name = "wrong@example.org";
  wrongPassword.password = "not it";
  auto refused = Account("refused@example.org", "127.0.0.1:1", "u", "p", Security::Tls);
  auto unknown = Account("unknown@example.org", "no-such-host.invalid", "u", "p", Security::Tls);
  auto good = Tls();
  auto report = Receive({wrongPassword, refused, unknown, good});
  EXPECT_EQ(report.connectFailures, "refused@example.org, unknown@example.org");
  EXPECT_EQ(report.wrongPasswords, "wrong@example.org");
  EXPECT_EQ(report.receiveFailures, "");
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::WrongPassword);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"good"}));

  struct Case {
    transport::ExternalAccount account;
    const char* message;
  };
  for (const auto& c : {Case{wrongPassword, "Invalid user name or password."},
                        Case{refused, "Cannot connect to this e-mail server."},
                        Case{unknown, "Cannot find this e-mail server."}}) {
    SCOPED_TRACE(c.account.name);
    auto check = transport::pop3::CheckAccount(c.account, 5000);
    EXPECT_FALSE(check.works);
    EXPECT_EQ(check.message, c.message);
  }
}

TEST_F(DovecotTest, CommandLineAddsTestsAndReceives) {
  server().PutMessage(user_, MakeMessage("via cli 1", "<c1@x>"));
  server().PutMessage(user_, MakeMessage("via cli 2", "<c2@x>"));
  auto cli = [&](const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLUMADEX_HOME", QString::fromStdString(home.root()));
    env.insert("SSL_CERT_FILE", QString::fromStdString(server().ca().caFile));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), args);
    p.waitForStarted();
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
  };
  const QString name = QString::fromStdString(user_) + "@example.org";
  const QString srv = "localhost:" + QString::number(server().pop3sPort());
  auto add = cli({"accounts", "add", name, "--server", srv, "--user", QString::fromStdString(user_),
                  "--password-stdin", "--security", "tls"},
                 QByteArray::fromStdString("pw-" + user_ + "\n"));
  EXPECT_EQ(add.first, 0) << add.second.toStdString();
  auto list = cli({"accounts", "list"});
  EXPECT_EQ(list.first, 0);
  EXPECT_TRUE(list.second.contains(name));
  EXPECT_TRUE(list.second.contains("password saved"));
  EXPECT_FALSE(list.second.contains(QString::fromStdString("pw-" + user_)));
  EXPECT_FALSE(readFile(home.path("data/User.ini")).find("pw-" + user_) != std::string::npos);
  auto test = cli({"accounts", "test", name, "--timeout", "10"});
  EXPECT_EQ(test.first, 0) << test.second.toStdString();
  EXPECT_TRUE(test.second.startsWith("This account works."));
  auto receive = cli({"receive", "--timeout", "10"});
  EXPECT_EQ(receive.first, 0) << receive.second.toStdString();
  // Received and then filed: a line per message, nothing left in the spool.
  EXPECT_EQ(receive.second.count("sender@example.org"), 2) << receive.second.toStdString();
  EXPECT_TRUE(SpoolMessages(home.path("data/Inbox")).empty());
  EXPECT_TRUE(server().Messages(user_).empty());
  auto remove = cli({"accounts", "remove", name});
  EXPECT_EQ(remove.first, 0);
  EXPECT_FALSE(cli({"accounts", "list"}).second.contains(name));
}

}  // namespace
}  // namespace px::test

namespace px::test {
namespace {

TEST_F(DovecotTest, ConnectionsCutByARelayLoseAndDuplicateNothing) {
  struct Case {
    const char* what;
    long cutAfter;  // 0: the QUIT is swallowed
    Security security;
  };
  // A TLS session cut in the middle of a RETR (about the fourth message), and a plain session
  // whose QUIT never reaches the server.
  for (const Case& c : {Case{"cut mid-RETR over TLS", 70000, Security::Tls},
                        Case{"QUIT never arrives", 0, Security::Plain}}) {
    SCOPED_TRACE(c.what);
    const std::string user = server().NewUser();
    std::vector<std::string> subjects;
    for (int i = 1; i <= 6; ++i) {
      subjects.push_back("cut " + std::to_string(i));
      server().PutMessage(user, MakeMessage(subjects.back(), "<cut" + std::to_string(i) + "@x>",
                                            std::string(20000, char('a' + i)) + "\r\n"));
    }
    ReceiveFixture run;
    CutProxy proxy;
    std::string error;
    ASSERT_TRUE(proxy.Start(c.security == Security::Tls ? server().pop3sPort() : server().pop3Port(), c.cutAfter,
                            &error))
        << error;
    auto account = Account(user + "@example.org", "localhost:" + std::to_string(proxy.port()), user, "pw-" + user,
                           c.security);
    auto r1 = run.Receive(account);
    EXPECT_EQ(r1.visits[0].result.status, LinkStatus::ReceiveFailed) << r1.visits[0].result.error;
    // Nothing was deleted: the server never saw QUIT.
    EXPECT_EQ(server().Messages(user).size(), 6u);
    auto first = run.SpooledSubjects();
    if (c.cutAfter) {
      EXPECT_GE(first.size(), 1u);
      EXPECT_LT(first.size(), 6u);
    } else {
      EXPECT_EQ(first, subjects);
    }
    // The next run (the relay now passes everything): each message once, the mailbox empty.
    auto r2 = run.Receive(account);
    EXPECT_EQ(r2.visits[0].result.status, LinkStatus::Ok) << r2.visits[0].result.error;
    EXPECT_EQ(run.SpooledSubjects(), subjects);
    EXPECT_TRUE(server().Messages(user).empty());
    // Every message in the spool is whole.
    for (const auto& m : run.Spooled()) EXPECT_TRUE(m.ends_with(std::string(20000, m[m.size() - 3]) + "\r\n"));
  }
}

}  // namespace
}  // namespace px::test

namespace px::test {
namespace {

// Rules on the sender, the account and the text sort POP3 mail as it is filed, once.
TEST_F(DovecotTest, ReceivedMailIsSortedByTheRules) {
  server().PutMessage(user_, MakeMessage("Statement", "<r1@x>", "Your balance.\r\n", "Bank <news@bank.example>"));
  server().PutMessage(user_, MakeMessage("Hello", "<r2@x>", "You won the LOTTERY!\r\n", "x@spam.example"));
  server().PutMessage(user_, MakeMessage("Minutes", "<r3@x>", "Notes.\r\n"));
  auto cli = [&](const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLUMADEX_HOME", QString::fromStdString(home.root()));
    env.insert("SSL_CERT_FILE", QString::fromStdString(server().ca().caFile));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PX_BINARY_DIR "/src/plumadex-cli"), args);
    p.waitForStarted();
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
  };
  const QString name = QString::fromStdString(user_) + "@example.org";
  const QString srv = "localhost:" + QString::number(server().pop3sPort());
  ASSERT_EQ(cli({"accounts", "add", name, "--server", srv, "--user", QString::fromStdString(user_),
                 "--password-stdin", "--security", "tls"},
                QByteArray::fromStdString("pw-" + user_ + "\n")).first, 0);
  const std::string docs = home.path("Documents/");
  makeDirs(docs + "Finance/");
  makeDirs(docs + "Accounts/");
  ASSERT_EQ(cli({"rules", "add", "Bank", "--move", "Finance", "F < news@bank.example"}).first, 0);
  ASSERT_EQ(cli({"rules", "add", "Copy all", "--copy", "Accounts", "A < " + name.toUpper()}).first, 0);
  ASSERT_EQ(cli({"rules", "add", "Lottery", "--delete", "X < lottery"}).first, 0);
  auto receive = cli({"receive", "--timeout", "10"});
  ASSERT_EQ(receive.first, 0) << receive.second.toStdString();
  auto there = [](const std::string& p) { return QFileInfo::exists(QString::fromStdString(p)); };
  EXPECT_TRUE(there(docs + "Finance/Statement.txt"));
  EXPECT_FALSE(there(docs + "Statement.txt"));
  EXPECT_TRUE(there(docs + "Minutes.txt"));
  EXPECT_TRUE(there(docs + "Accounts/Minutes.txt"));
  EXPECT_TRUE(there(docs + "Accounts/Statement.txt"));
  EXPECT_TRUE(there(docs + "TRASH/Hello.txt"));
  EXPECT_FALSE(there(docs + "Hello.txt"));
  EXPECT_TRUE(server().Messages(user_).empty());
  // Nothing comes, or is sorted, twice.
  receive = cli({"receive", "--timeout", "10"});
  EXPECT_EQ(receive.first, 0);
  EXPECT_FALSE(there(docs + "Accounts/Minutes (2).txt"));
  EXPECT_FALSE(there(docs + "Finance/Statement (2).txt"));
}

}  // namespace
}  // namespace px::test

namespace px::test {
namespace {

// The preview reads headers and sizes only: the messages stay on the server, whole.
TEST_F(DovecotTest, PreviewListsWaitingMailWithoutTakingIt) {
  server().PutMessage(user_, MakeMessage("=?utf-8?q?Caf=C3=A9?=", "<p1@x>", std::string(499, 'a')));
  server().PutMessage(user_, MakeMessage("Second", "<p2@x>", "b\r\n", "Bank <news@bank.example>"));
  transport::ExternalAccount a = Tls();
  auto r = transport::pop3::PreviewAccount(a, 10000);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[0].subject, "Café");
  EXPECT_EQ(r.rows[1].from, "Bank <news@bank.example>");
  EXPECT_FALSE(r.rows[0].key.empty());
  EXPECT_NE(r.rows[0].key, r.rows[1].key);
  EXPECT_GT(r.rows[0].size, 499);
  EXPECT_EQ(r.rows[1].date, "Thu, 10 Dec 2026 10:00:00 +0000");
  EXPECT_EQ(server().Messages(user_).size(), 2u);
  EXPECT_EQ(transport::pop3::PreviewSizeText(499), "0K");
  EXPECT_EQ(transport::pop3::PreviewSizeText(500), "1K");
}

}  // namespace
}  // namespace px::test

namespace px::test {
namespace {

using Mode = transport::PreviewOrder::Mode;

std::vector<std::string> RowSubjects(const incoming::MailPreviewList& list, const std::string& account) {
  std::vector<std::string> out;
  for (const auto* r : list.Rows(account)) out.push_back(r->subject);
  std::sort(out.begin(), out.end());
  return out;
}

void TickOnly(incoming::MailPreviewList& list, const std::string& account, const std::string& word) {
  for (const auto* r : list.Rows(account)) list.SetTicked(account, r->fileName, r->subject.find(word) != std::string::npos);
}

// The preview of two accounts, then deleting and receiving chosen rows on one of them. The
// second action works from the first listing although the server has renumbered its messages
// since: every message is found by its key, never by its old position.
TEST_F(DovecotTest, PreviewRunsListThenDeleteAndReceiveOnlyTheChosenMailByKey) {
  for (const char* subject : {"keep 1", "spam 1", "keep 2", "spam 2", "wanted"})
    server().PutMessage(user_, MakeMessage(subject, std::string("<") + subject + "@x>"));
  const std::string other = server().NewUser();
  server().PutMessage(other, MakeMessage("other", "<o@x>"));
  transport::ExternalAccount a = Tls();
  transport::ExternalAccount b = Account(other + "@example.org", "localhost:" + std::to_string(server().pop3sPort()),
                                         other, "pw-" + other, Security::Tls, false);
  incoming::MailPreviewList list;
  auto report = PreviewRun({a, b}, list);
  ASSERT_EQ(report.visits.size(), 2u);
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
  EXPECT_EQ(list.Accounts(), (std::vector<std::string>{a.name, b.name}));  // one tab per account
  EXPECT_EQ(RowSubjects(list, a.name), (std::vector<std::string>{"keep 1", "keep 2", "spam 1", "spam 2", "wanted"}));
  for (const auto* r : list.Rows(a.name)) {
    EXPECT_TRUE(r->ticked);
    EXPECT_GT(r->size, 0);
    EXPECT_FALSE(r->fileName.empty());
  }
  EXPECT_TRUE(Spooled().empty());  // nothing downloaded to be previewed
  EXPECT_EQ(server().Messages(user_).size(), 5u);

  // Delete selected: the spam goes, the others stay on the server and in the list.
  TickOnly(list, a.name, "spam");
  incoming::MailPreviewList stale = list;  // the listing the second action works from
  report = PreviewRun({a, b}, list, Mode::Delete, a.name);
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
  EXPECT_EQ(RowSubjects(list, a.name), (std::vector<std::string>{"keep 1", "keep 2", "wanted"}));
  EXPECT_EQ(Subjects(server().Messages(user_)), (std::vector<std::string>{"keep 1", "keep 2", "wanted"}));
  EXPECT_TRUE(Spooled().empty());

  // Receive selected, from the old listing: "wanted" was message 5 and is now message 3.
  TickOnly(stale, a.name, "wanted");
  report = PreviewRun({a, b}, stale, Mode::Receive, a.name);
  EXPECT_EQ(report.visits[0].result.status, LinkStatus::Ok) << report.visits[0].result.error;
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"wanted"}));
  EXPECT_EQ(Subjects(server().Messages(user_)), (std::vector<std::string>{"keep 1", "keep 2"}));
  EXPECT_EQ(RowSubjects(stale, a.name), (std::vector<std::string>{"keep 1", "keep 2", "spam 1", "spam 2"}));
  // The other account was not touched by either action.
  EXPECT_EQ(server().Messages(other).size(), 1u);
  // A new listing shows what waits now; the received mail is not remembered as waiting.
  incoming::MailPreviewList again;
  PreviewRun({a}, again);
  EXPECT_EQ(RowSubjects(again, a.name), (std::vector<std::string>{"keep 1", "keep 2"}));
}

// An account that keeps its mail on the server: a received row stays there but is not listed
// as waiting again, and a normal run later does not fetch it a second time.
TEST_F(DovecotTest, PreviewReceiveOnAnAccountThatKeepsMailIsNotFetchedTwice) {
  server().PutMessage(user_, MakeMessage("kept", "<k@x>"));
  server().PutMessage(user_, MakeMessage("later", "<l@x>"));
  transport::ExternalAccount a = Tls(true);
  incoming::MailPreviewList list;
  PreviewRun({a}, list);
  TickOnly(list, a.name, "kept");
  PreviewRun({a}, list, Mode::Receive, a.name);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"kept"}));
  EXPECT_EQ(server().Messages(user_).size(), 2u);
  incoming::MailPreviewList again;
  PreviewRun({a}, again);
  EXPECT_EQ(RowSubjects(again, a.name), (std::vector<std::string>{"later"}));
  Receive(a);
  EXPECT_EQ(SpooledSubjects(), (std::vector<std::string>{"kept", "later"}));
}

}  // namespace
}  // namespace px::test
