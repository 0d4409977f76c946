// The HTTPS client against the loopback peer: verification, status codes, uploads, aborts.
#include "transport/http_client.h"
#include "transport/peer_fixture.h"
#include "transport/service_protocol.h"
#include "transport/service_requests.h"

#include "foundation/dates.h"
#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "platform/registry.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace px::transport {
namespace {

using px::test::ServicePeer;

class HttpClientPeer : public ::testing::Test {
protected:
  static void SetUpTestSuite() { peer_ = new ServicePeer({"alice:secret", "bob:pw"}); }
  static void TearDownTestSuite() {
    delete peer_;
    peer_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(peer_->Running());
    peer_->ClearFaults();
  }
  static ServicePeer* peer_;
};
ServicePeer* HttpClientPeer::peer_ = nullptr;

TEST_F(HttpClientPeer, AuthenticatedGetAndStatusCodes) {
  HttpClient c(peer_->Settings());
  c.SetBasicAuth("alice", "secret");
  c.SetExtraHeader("Content-Encoding", "deflate");
  HttpResult r = c.Get(peer_->Url(ListingPath()));
  ASSERT_TRUE(r.Ok()) << r.error;
  EXPECT_NE(r.body.find("<mail>"), std::string::npos);

  // A wrong password is a 401: code 3 whatever the texts say.
  c.SetBasicAuth("alice", "wrong-password-xyz");
  r = c.Get(peer_->Url(ListingPath()));
  EXPECT_EQ(r.status, 401);
  EXPECT_EQ(ErrorCodeOf(r, teConnect), teAuthorisation);
  EXPECT_EQ(r.error.find("wrong-password-xyz"), std::string::npos);

  // 404 and 500: code 1 on the listing, code 2 on the send side.
  c.SetBasicAuth("alice", "secret");
  for (int status : {404, 500}) {
    ASSERT_TRUE(peer_->AddFault("index", "fault=status&status=" + std::to_string(status)));
    r = c.Get(peer_->Url(ListingPath()));
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(ErrorCodeOf(r, teConnect), teConnect);
    EXPECT_EQ(ErrorCodeOf(r, teCommunication), teCommunication);
  }
  // A 500 whose body holds "401" is still not an authorisation failure.
  HttpResult fake;
  fake.status = 500;
  fake.error = "HTTP error 500: see 401";
  EXPECT_EQ(ErrorCodeOf(fake, teCommunication), teCommunication);
}

TEST_F(HttpClientPeer, StreamUploadAndFormPost) {
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/stream";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  std::string junk(5000, 'x');
  ASSERT_EQ(::write(fd, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
  ::lseek(fd, 0, SEEK_SET);
  HttpClient c(peer_->Settings());
  c.SetBasicAuth("alice", "secret");
  // Not an upload record: the peer refuses it rather than storing junk.
  HttpResult r = c.PostStream(peer_->Url(PutMailPath({5000})), fd, 5000);
  EXPECT_EQ(r.status, 400);
  // A stream shorter than announced is never sent cut.
  ::lseek(fd, 0, SEEK_SET);
  r = c.PostStream(peer_->Url(PutMailPath({6000})), fd, 6000);
  EXPECT_FALSE(r.Ok());
  ::close(fd);

  r = c.PostForm(peer_->Url(KeyServerPath()), {{"type", "addkey"}, {"key", "-----BEGIN PGP PUBLIC KEY BLOCK-----\r\nabc"}});
  ASSERT_TRUE(r.Ok()) << r.error;
  EXPECT_FALSE(r.body.empty());
  c.SetBasicAuth("bob", "pw");
  r = c.PostForm(peer_->Url(KeyServerPath()), {{"type", "listkey"}, {"who", "alice"}});
  ASSERT_TRUE(r.Ok()) << r.error;
  EXPECT_NE(r.body.find("BEGIN PGP"), std::string::npos);
}

TEST_F(HttpClientPeer, DroppedAndAbortedRequestsFail) {
  HttpClient c(peer_->Settings());
  c.SetBasicAuth("alice", "secret");
  ASSERT_TRUE(peer_->AddFault("index", "fault=drop_after&bytes=10"));
  HttpResult r = c.Get(peer_->Url(ListingPath()));
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(ErrorCodeOf(r, teConnect), teConnect);

  // The progress callback stops a slow reply.
  ASSERT_TRUE(peer_->AddFault("index", "fault=trickle&rate=5"));
  int calls = 0;
  c.SetProgress([&](int64_t, int64_t, int64_t got, int64_t) { return ++calls < 3 && got >= 0; });
  r = c.Get(peer_->Url(ListingPath()));
  EXPECT_TRUE(r.aborted);
  EXPECT_FALSE(r.Ok());
  c.SetProgress({});

  // A hung server hits the low-speed abort instead of holding the run.
  HttpSettings quick = peer_->Settings();
  quick.lowSpeedTimeSec = 1;
  quick.lowSpeedLimit = 1000;
  HttpClient q(quick);
  q.SetBasicAuth("alice", "secret");
  ASSERT_TRUE(peer_->AddFault("index", "fault=delay&seconds=6"));
  r = q.Get(peer_->Url(ListingPath()));
  EXPECT_FALSE(r.Ok());
  EXPECT_FALSE(r.error.empty());
}

// The password change and the version report, end to end.
TEST_F(HttpClientPeer, PasswordChangeAndVersionReport) {
  HttpClient c(peer_->Settings());
  HttpResult r = c.Get(peer_->Url(PasswordChangePath("bob", "wrong", "newpass1")));
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(ReadPasswordChangeReply(r.body), PasswordChangeReply::WrongOldPassword);
  r = c.Get(peer_->Url(PasswordChangePath("nobody", "x", "newpass1")));
  EXPECT_EQ(ReadPasswordChangeReply(r.body), PasswordChangeReply::NoSuchUser);
  r = c.Get(peer_->Url(VersionReportPath("bob")));
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(StatusText(r.body), "OK");
  const std::string log = peer_->Log();
  EXPECT_NE(log.find("\"release\": \"01\""), std::string::npos);
  EXPECT_NE(log.find("\"password_is_placeholder\": true"), std::string::npos);
}

// Certificates that must be refused: another root, another host name, an expired leaf.
std::string StrayRoot(const QTemporaryDir& dir) {
  const QString key = dir.path() + "/stray.key", pem = dir.path() + "/stray.pem";
  QProcess p;
  p.start("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                      "-keyout", key, "-out", pem, "-days", "30", "-subj", "/CN=Stray Root"});
  p.waitForFinished(30000);
  return pem.toStdString();
}

TEST(HttpClientTls, RefusesWrongRootHostAndExpiredCertificates) {
  {
    ServicePeer peer({"alice:secret"});
    ASSERT_TRUE(peer.Running());
    QTemporaryDir dir;
    HttpSettings s = peer.Settings();
    s.caFile = StrayRoot(dir);
    HttpClient c(s);
    HttpResult r = c.Get(peer.Url(AccountTestPath()));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.status, 0);
    // No roots at all is a refusal too, never a fallback to the system's.
    s.caFile = dir.path().toStdString() + "/missing.pem";
    HttpClient none(s);
    EXPECT_FALSE(none.Get(peer.Url(AccountTestPath())).Ok());
    // The right roots work (the control case).
    HttpClient good(peer.Settings());
    good.SetBasicAuth("alice", "secret");
    EXPECT_TRUE(good.Get(peer.Url(AccountTestPath())).Ok());
    // Plain http is refused for service requests.
    EXPECT_FALSE(good.Get("http://" + peer.Host() + AccountTestPath()).Ok());
  }
  {
    ServicePeer peer({"alice:secret"}, {"--host-name", "other.example"});
    ASSERT_TRUE(peer.Running());
    HttpClient c(peer.Settings());
    c.SetBasicAuth("alice", "secret");
    HttpResult r = c.Get(peer.Url(AccountTestPath()));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.status, 0);
  }
  {
    ServicePeer peer({"alice:secret"}, {"--expired"});
    ASSERT_TRUE(peer.Running());
    HttpClient c(peer.Settings());
    c.SetBasicAuth("alice", "secret");
    HttpResult r = c.Get(peer.Url(AccountTestPath()));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.status, 0);
  }
}

TEST(HttpClient, LoggableUrlDropsQueryAndCredentials) {
  EXPECT_EQ(HttpClient::LoggableUrl("https://h:1/newuser/pass.phtml?id=a&pass=secret"), "https://h:1/newuser/pass.phtml");
  EXPECT_EQ(HttpClient::LoggableUrl("https://u:pw@h/x"), "https://h/x");
}

}  // namespace
}  // namespace px::transport

namespace px::transport {
namespace {

TEST_F(HttpClientPeer, PasswordChangeSavesOrForgetsTheNewPassword) {
  Settings settings;
  RandomSource random(1);
  HttpClient c(peer_->Settings());
  EXPECT_EQ(CheckNewPassword("12345"), kPasswordTooShort);
  EXPECT_EQ(CheckNewPassword("123456"), "");
  settings.SetPassword("SOMETHING");
  PasswordChangeOutcome o = ChangeServicePassword(c, peer_->Host(), "bob", "nope", "newsecret", true, settings, random);
  EXPECT_EQ(o.reply, PasswordChangeReply::WrongOldPassword);
  EXPECT_TRUE(o.clearOldPassword);
  EXPECT_EQ(settings.Password(), "SOMETHING");
  o = ChangeServicePassword(c, peer_->Host(), "bob", "pw", "newsecret", true, settings, random);
  EXPECT_EQ(o.reply, PasswordChangeReply::Changed);
  EXPECT_EQ(o.kind, MessageKind::Information);
  EXPECT_EQ(UnscramblePassword(settings.Password()), "newsecret");
  o = ChangeServicePassword(c, peer_->Host(), "bob", "newsecret", "pw", false, settings, random);
  EXPECT_EQ(o.reply, PasswordChangeReply::Changed);
  EXPECT_EQ(settings.Password(), "");
  // A failed request is the technical problem, shown as an error.
  ASSERT_TRUE(peer_->AddFault("pass", "fault=status&status=500"));
  o = ChangeServicePassword(c, peer_->Host(), "bob", "pw", "another1", true, settings, random);
  EXPECT_EQ(o.reply, PasswordChangeReply::Failed);
  EXPECT_EQ(o.kind, MessageKind::Error);
  // The log of the peer never saw a password in a form the client wrote to it.
  EXPECT_EQ(peer_->Log().find("newsecret"), std::string::npos);
}

TEST_F(HttpClientPeer, VersionReportDeletesTheMarkerOnlyOnOk) {
  platform::MemoryRegistry registry;
  HttpClient c(peer_->Settings());
  EXPECT_FALSE(ReportVersionOnce(c, peer_->Host(), "bob", registry));  // no marker: no request
  registry.WriteString(platform::kProgramKey, platform::kCheckVersionValue, "1");
  ASSERT_TRUE(peer_->AddFault("version", "fault=status&status=500"));
  EXPECT_FALSE(ReportVersionOnce(c, peer_->Host(), "bob", registry));
  EXPECT_TRUE(registry.ReadString(platform::kProgramKey, platform::kCheckVersionValue).has_value());
  EXPECT_TRUE(ReportVersionOnce(c, peer_->Host(), "bob", registry));
  EXPECT_FALSE(registry.ReadString(platform::kProgramKey, platform::kCheckVersionValue).has_value());
}

TEST(PublishedVersion, OncePerDayAndTheAnswers) {
  Settings settings;
  HttpSettings hs;
  hs.caFile = "/nonexistent";
  hs.connectTimeoutSec = 2;
  HttpClient c(hs);
  const DateTime now = MakeDateTime(2026, 12, 10, 15, 0, 0);
  settings.SetNextVersionCheck(DayNumber(now) + 1);
  EXPECT_EQ(CheckPublishedVersion(c, "127.0.0.1:1", settings, now).step, PublishedVersionStep::NotDue);
  settings.SetNextVersionCheck(DayNumber(now));
  EXPECT_EQ(CheckPublishedVersion(c, "127.0.0.1:1", settings, now).step, PublishedVersionStep::Failed);
  AnswerNewVersion(true, settings, now);
  EXPECT_EQ(settings.NextVersionCheck(), DayNumber(now));
  AnswerNewVersion(false, settings, now);
  EXPECT_EQ(settings.NextVersionCheck(), DayNumber(now) + 3);
  EXPECT_EQ(NewVersionQuestion("3.1"),
            "New version of Plumadex is available for download!\r\rCurrent version: 3.01\rNew version: 3.1\r\rWould "
            "you like to download the new version?");
}

}  // namespace
}  // namespace px::transport
