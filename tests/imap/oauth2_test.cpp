// OAuth2 sign-in: the pieces, then the whole flow against a loopback authorization server
// (tests/imap/oauth2_server.py) with a stand-in browser.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "pop3/receive_fixture.h"
#include "transport/imap/thread_recv_imap.h"
#include "support/test_paths.h"
#include "transport/oauth2.h"

namespace px::test {
namespace {

using namespace transport::oauth2;

TEST(OAuth2, SaslStringsAndPkce) {
  EXPECT_EQ(XOAuth2("jo@example.org", "tok"), std::string("user=jo@example.org\x01" "auth=Bearer tok\x01\x01"));
  EXPECT_EQ(OAuthBearer("jo@example.org", "imap.example.org", 993, "tok"),
            std::string("n,a=jo@example.org,\x01host=imap.example.org\x01port=993\x01" "auth=Bearer tok\x01\x01"));
  // RFC 7636, appendix B.
  EXPECT_EQ(ChallengeOf("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"), "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM");
  Pkce a = MakePkce(), b = MakePkce();
  EXPECT_NE(a.verifier, b.verifier);
  EXPECT_GE(a.verifier.size(), 43u);
  EXPECT_LE(a.verifier.size(), 128u);
  EXPECT_EQ(a.verifier.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"),
            std::string::npos);
  EXPECT_EQ(a.challenge, ChallengeOf(a.verifier));
}

TEST(OAuth2, TokenReplies) {
  std::string error;
  auto t = ParseTokenReply(R"({"access_token":"A","refresh_token":"R","expires_in":3600})", 1000, &error);
  ASSERT_TRUE(t) << error;
  EXPECT_EQ(t->accessToken, "A");
  EXPECT_EQ(t->refreshToken, "R");
  EXPECT_EQ(t->expiresAtMs, 1000 + 3600 * 1000);
  struct Case {
    const char* json;
    const char* error;
  } bad[] = {
      {R"({"error":"invalid_grant"})", "please sign in again"},
      {R"({"error":"invalid_client"})", "refused"},
      {R"({"access_token":"A\r\nB"})", "no usable token"},
      {R"({"access_token":""})", "no usable token"},
      {"<html>", "not understood"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(ParseTokenReply(c.json, 0, &error)) << c.json;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.json << ": " << error;
  }
}

TEST(OAuth2, PresetsAndAccountWords) {
  EXPECT_EQ(PresetForAddress("Jo@GMail.com")->name, "google");
  EXPECT_EQ(PresetForAddress("jo@outlook.com")->name, "microsoft");
  EXPECT_FALSE(PresetForAddress("jo@example.org"));
  for (const auto& p : Presets()) EXPECT_TRUE(p.clientId.empty()) << p.name;  // no secrets ship

  transport::ExternalAccount a;
  EXPECT_FALSE(ProviderOf(a));
  Provider google = *PresetNamed("google");
  google.clientId = "my-client.apps";
  SetProvider(a, google);
  EXPECT_EQ(transport::FormatAccountSettings(a), "oauth2=google oauth2-client=my-client.apps");
  Provider custom{"custom", "https://id.example.org/auth", "https://id.example.org/token", "mail offline", "c1"};
  SetProvider(a, custom);
  transport::ExternalAccount b;
  transport::ApplyAccountSettings(transport::FormatAccountSettings(a), b);
  auto back = ProviderOf(b);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->authorizeUrl, custom.authorizeUrl);
  EXPECT_EQ(back->tokenUrl, custom.tokenUrl);
  EXPECT_EQ(back->scope, "mail offline");
  EXPECT_EQ(back->clientId, "c1");
  SetProvider(b, std::nullopt);
  EXPECT_EQ(transport::FormatAccountSettings(b), "");
}

class OAuth2Flow : public ::testing::Test {
protected:
  void SetUp() override {
    std::string error;
    auto ca = MakeTestCa(dir_.path().toStdString(), &error);
    ASSERT_TRUE(ca) << error;
    ca_ = *ca;
    server_.start("/usr/bin/python3", {QStringLiteral(PX_TEST_DATA "/../imap/oauth2_server.py"), "--cert",
                                       QString::fromStdString(ca_.certFile), "--key",
                                       QString::fromStdString(ca_.keyFile), "--client", "px-test"});
    ASSERT_TRUE(server_.waitForStarted(10000) && server_.waitForReadyRead(15000))
        << server_.readAllStandardError().toStdString();
    port_ = server_.readLine().trimmed().toInt();
    ASSERT_GT(port_, 0);
    trust_ = std::make_unique<ScopedCertFile>(ca_.caFile);
    provider_ = {"custom", "https://localhost:" + std::to_string(port_) + "/authorize",
                 "https://localhost:" + std::to_string(port_) + "/token", "mail", "px-test"};
  }
  void TearDown() override {
    server_.kill();
    server_.waitForFinished(5000);
    for (auto& b : browsers_) b->waitForFinished(20000);
  }
  // The user's browser: it follows the provider's page back to the loopback port.
  std::function<bool(const std::string&)> Browser() {
    return [this](const std::string& url) {
      auto p = std::make_unique<QProcess>();
      p->start("/usr/bin/python3", {QStringLiteral(PX_TEST_DATA "/../imap/browser.py"), QString::fromStdString(url),
                                    QString::fromStdString(ca_.caFile)});
      opened_.push_back(url);
      bool ok = p->waitForStarted(10000);
      browsers_.push_back(std::move(p));
      return ok;
    };
  }

  QTemporaryDir dir_;
  TestCa ca_;
  QProcess server_;
  int port_ = 0;
  std::unique_ptr<ScopedCertFile> trust_;
  Provider provider_;
  std::vector<std::unique_ptr<QProcess>> browsers_;
  std::vector<std::string> opened_;
};

TEST_F(OAuth2Flow, SignInThenRenewSilently) {
  std::string error;
  auto tokens = SignIn(provider_, ProviderHttpSettings(), "jo@example.org", Browser(), 30000, &error);
  ASSERT_TRUE(tokens) << error;
  EXPECT_FALSE(tokens->accessToken.empty());
  EXPECT_FALSE(tokens->refreshToken.empty());
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_NE(opened_[0].find("code_challenge_method=S256"), std::string::npos);
  EXPECT_NE(opened_[0].find("redirect_uri=http%3A%2F%2F127.0.0.1%3A"), std::string::npos);
  // Renewed without the user; the server rotates the refresh token and forgets the old one.
  auto renewed = Refresh(provider_, ProviderHttpSettings(), tokens->refreshToken, &error);
  ASSERT_TRUE(renewed) << error;
  EXPECT_NE(renewed->accessToken, tokens->accessToken);
  EXPECT_NE(renewed->refreshToken, tokens->refreshToken);
  EXPECT_FALSE(Refresh(provider_, ProviderHttpSettings(), tokens->refreshToken, &error));
  EXPECT_NE(error.find("sign in again"), std::string::npos) << error;
}

TEST_F(OAuth2Flow, RefusalAndWrongCertificateAreClearErrors) {
  std::string error;
  EXPECT_FALSE(SignIn(provider_, ProviderHttpSettings(), "refuse@example.org", Browser(), 30000, &error));
  EXPECT_NE(error.find("refused"), std::string::npos) << error;
  // Nobody comes back: the wait ends.
  EXPECT_FALSE(SignIn(provider_, ProviderHttpSettings(), "", [](const std::string&) { return true; }, 500, &error));
  EXPECT_NE(error.find("in time"), std::string::npos) << error;
  // A token endpoint whose certificate is not trusted is refused.
  transport::HttpSettings untrusted;
  untrusted.caFile = ca_.otherCaFile;
  EXPECT_FALSE(Refresh(provider_, untrusted, "whatever", &error));
  EXPECT_NE(error.find("Cannot reach"), std::string::npos) << error;
}

// A real server that takes OAuth2: Dovecot's oauth2 passdb asks the loopback authorization
// server about each token. The account keeps only the refresh token; a run renews it.
TEST_F(OAuth2Flow, DovecotTakesTheTokenOverImapAndPop3) {
  if (::getuid() != 0) GTEST_SKIP() << "Dovecot is started as root by the tests";
  DovecotServer dovecot(true);
  // Dovecot's auth process reads the CA from the test folder.
  ::chmod(dir_.path().toLocal8Bit().constData(), 0755);
  dovecot.EnableOAuth("https://127.0.0.1:" + std::to_string(port_) + "/introspect", ca_.caFile);
  std::string error;
  ASSERT_TRUE(dovecot.Start(&error)) << error;
  // Both test CAs are trusted: Dovecot's and the authorization server's.
  const std::string bundle = dir_.path().toStdString() + "/both.pem";
  writeFile(bundle, readFile(ca_.caFile) + readFile(dovecot.ca().caFile));
  ScopedCertFile trustBoth(bundle);

  const std::string user = dovecot.NewUser();
  dovecot.PutMessage(user, MakeMessage("by token", "<t@x>"));
  auto tokens = SignIn(provider_, ProviderHttpSettings(), user, Browser(), 30000, &error);
  ASSERT_TRUE(tokens) << error;

  ReceiveFixture f;
  auto receive = [&](const transport::ExternalAccount& a) {
    transport::ChainSetup setup;
    setup.spool = &f.spool;
    setup.leftOnServer = &f.leftOnServer;
    transport::ThreadRecvChain chain(setup);
    transport::imap::AddExternalLinks(chain, {a}, 5000);
    return chain.Run();
  };
  for (bool imap : {true, false}) {
    SCOPED_TRACE(imap ? "IMAP" : "POP3");
    auto a = Account(user + "@example.org",
                     "localhost:" + std::to_string(imap ? dovecot.imapsPort() : dovecot.pop3sPort()), user,
                     tokens->refreshToken, transport::pop3::Security::Tls, true);
    a.SetImap(imap);
    SetProvider(a, provider_);
    auto report = receive(a);
    ASSERT_EQ(report.visits.size(), 1u);
    EXPECT_EQ(report.visits[0].result.status, transport::LinkStatus::Ok)
        << report.visits[0].result.error << "\n" << dovecot.Log();
    // The server rotated the refresh token: the new one comes back to be saved.
    ASSERT_FALSE(report.visits[0].result.renewedSecret.empty());
    tokens->refreshToken = report.visits[0].result.renewedSecret;
  }
  EXPECT_EQ(f.SpooledSubjects(), (std::vector<std::string>{"by token", "by token"}));
  // A token the server does not know is a refusal, not a question for a password.
  auto a = Account(user + "@example.org", "localhost:" + std::to_string(dovecot.imapsPort()), user, "stale",
                   transport::pop3::Security::Tls, true);
  a.SetImap(true);
  SetProvider(a, provider_);
  auto report = receive(a);
  EXPECT_EQ(report.visits[0].result.status, transport::LinkStatus::ConnectFailed);
  EXPECT_NE(report.visits[0].result.error.find("sign in again"), std::string::npos) << report.visits[0].result.error;
}

}  // namespace
}  // namespace px::test
