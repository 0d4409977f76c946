// Submission to a local aiosmtpd server: TLS, log-in, every recipient's reply, and the ways a
// server can fail us.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "smtp/smtp_fixture.h"
#include "support/test_support.h"
#include "transport/smtp/smtp_client.h"

using namespace px;
using namespace px::transport;
using namespace px::transport::testing;

namespace {

const std::string kMessage =
    "From: ann@example.org\r\nTo: bob@example.net\r\nSubject: test\r\nMessage-ID: <1@example.org>\r\n"
    "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\nHello\r\n.\r\n..dots\r\n";

class SmtpClientTest : public ::testing::Test {
protected:
  SmtpConfig Config(const SmtpTestServer& server, SmtpSecurity security = SmtpSecurity::StartTls) {
    SmtpConfig c;
    c.host = "127.0.0.1";
    c.port = server.port();
    c.security = security;
    c.user = "alice";
    c.password = "secret";
    c.caFile = TestCa::Get().caFile();
    c.systemRoots = false;
    c.connectTimeoutSec = 10;
    c.replyTimeoutSec = 20;
    return c;
  }

  SmtpResult Send(SmtpClient& client, const std::vector<std::string>& rcpts, const std::string& bytes = kMessage) {
    std::string path = home.path("out.eml");
    test::writeFile(path, bytes);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    SmtpResult r = client.Send("ann@example.org", rcpts, fd, static_cast<int64_t>(bytes.size()));
    ::close(fd);
    return r;
  }

  test::TempHome home;
};

}  // namespace

TEST_F(SmtpClientTest, DeliversOverStartTlsAndImplicitTlsWithLogIn) {
  for (SmtpSecurity sec : {SmtpSecurity::StartTls, SmtpSecurity::Tls}) {
    SCOPED_TRACE(std::string(SecurityName(sec)));
    ServerOptions o;
    o.mode = sec == SmtpSecurity::Tls ? "tls" : "starttls";
    SmtpTestServer server(o);
    SmtpClient client(Config(server, sec));
    SmtpResult r = Send(client, {"bob@example.net", "hidden@example.com"});
    EXPECT_TRUE(r.accepted) << r.error;
    EXPECT_TRUE(r.refused.empty());
    // A second message over the same client.
    SmtpResult r2 = Send(client, {"carol@example.com"});
    EXPECT_TRUE(r2.accepted) << r2.error;

    auto got = server.Messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].eml, kMessage);  // byte for byte, dot lines included
    EXPECT_EQ(got[0].meta["mail_from"].toString(), "ann@example.org");
    EXPECT_EQ(Strings(got[0].meta["rcpt_tos"].toArray()),
              (std::vector<std::string>{"bob@example.net", "hidden@example.com"}));
    EXPECT_EQ(got[0].meta["user"].toString(), "alice");
    EXPECT_EQ(Strings(got[1].meta["rcpt_tos"].toArray()), std::vector<std::string>{"carol@example.com"});
  }
}

TEST_F(SmtpClientTest, PlainOnlyWhenChosen) {
  ServerOptions o;
  o.mode = "plain";
  o.users = {};
  SmtpTestServer server(o);
  SmtpConfig c = Config(server, SmtpSecurity::StartTls);
  c.user.clear();
  {
    SmtpClient client(c);
    SmtpResult r = Send(client, {"bob@example.net"});
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(r.failure, SmtpFailure::Tls);
  }
  c.security = SmtpSecurity::Plain;
  SmtpClient client(c);
  EXPECT_TRUE(Send(client, {"bob@example.net"}).accepted);
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SmtpClientTest, BadServersGiveClearFailures) {
  struct Case {
    const char* label;
    ServerOptions options;
    std::string password;
    std::vector<std::string> rcpts;
    SmtpFailure failure;
    bool accepted;
    size_t stored;
  };
  auto opts = [](std::vector<std::string> extra, bool other = false) {
    ServerOptions o;
    o.extra = std::move(extra);
    o.otherCert = other;
    return o;
  };
  const std::vector<Case> cases = {
      {"wrong password", opts({}), "wrong", {"bob@example.net"}, SmtpFailure::Login, false, 0},
      {"TLS refused", opts({"--no-starttls"}), "secret", {"bob@example.net"}, SmtpFailure::Tls, false, 0},
      {"certificate for another host", opts({}, true), "secret", {"bob@example.net"}, SmtpFailure::Certificate,
       false, 0},
      {"552 on one recipient", opts({"--refuse", "full@example.net=552"}), "secret",
       {"bob@example.net", "full@example.net"}, SmtpFailure::None, true, 1},
      {"every recipient refused", opts({"--refuse", "full@example.net=550"}), "secret", {"full@example.net"},
       SmtpFailure::Refused, false, 0},
      {"421 at once", opts({"--close-on-mail", "1"}), "secret", {"bob@example.net"}, SmtpFailure::Closing, false, 0},
      {"dropped after the data", opts({"--drop-after-data"}), "secret", {"bob@example.net"}, SmtpFailure::Dropped,
       false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SmtpTestServer server(c.options);
    SmtpConfig cfg = Config(server);
    cfg.password = c.password;
    SmtpClient client(cfg);
    SmtpResult r = Send(client, c.rcpts);
    EXPECT_EQ(r.accepted, c.accepted) << r.error;
    if (!c.accepted) {
      EXPECT_EQ(r.failure, c.failure) << r.error;
    }
    EXPECT_EQ(server.Messages().size(), c.stored);
    std::string text = DescribeSmtpFailure(r, "127.0.0.1");
    EXPECT_EQ(text.find(c.password), std::string::npos);
    EXPECT_EQ(r.error.find(c.password), std::string::npos);
    if (!c.accepted) {
      EXPECT_FALSE(text.empty());
    }
    if (std::string(c.label) == "552 on one recipient") {
      ASSERT_EQ(r.refused.size(), 1u);
      EXPECT_EQ(r.refused[0].address, "full@example.net");
      EXPECT_EQ(r.refused[0].code, 552);
      EXPECT_TRUE(r.PartlyRefused());
      auto got = server.Messages();
      EXPECT_EQ(Strings(got[0].meta["rcpt_tos"].toArray()), std::vector<std::string>{"bob@example.net"});
    }
    if (std::string(c.label) == "dropped after the data") EXPECT_TRUE(r.mayHaveBeenDelivered);
    else EXPECT_FALSE(r.mayHaveBeenDelivered);
  }
}

TEST_F(SmtpClientTest, A421MidRunStopsWithTheLaterMessageUnsent) {
  ServerOptions o;
  o.extra = {"--close-on-mail", "2"};
  SmtpTestServer server(o);
  SmtpClient client(Config(server));
  EXPECT_TRUE(Send(client, {"bob@example.net"}).accepted);
  SmtpResult r = Send(client, {"carol@example.com"});
  EXPECT_FALSE(r.accepted);
  EXPECT_EQ(r.failure, SmtpFailure::Closing);
  EXPECT_NE(DescribeSmtpFailure(r, "mail").find("421"), std::string::npos);
  EXPECT_EQ(server.Messages().size(), 1u);
}

TEST_F(SmtpClientTest, AServerThatNeverAnswersTheDataTimesOutOrIsStopped) {
  ServerOptions o;
  o.extra = {"--silent-data"};
  SmtpTestServer server(o);
  {
    SmtpConfig c = Config(server);
    c.replyTimeoutSec = 2;
    SmtpClient client(c);
    SmtpResult r = Send(client, {"bob@example.net"});
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(r.failure, SmtpFailure::TimedOut);
    EXPECT_TRUE(r.mayHaveBeenDelivered);
  }
  {
    SmtpConfig c = Config(server);
    c.replyTimeoutSec = 600;
    SmtpClient client(c);
    std::thread stopper([&client] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      client.Stop();
    });
    SmtpResult r = Send(client, {"bob@example.net"});
    stopper.join();
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(r.failure, SmtpFailure::Stopped);
    // Once stopped, the client sends nothing more.
    EXPECT_EQ(Send(client, {"bob@example.net"}).failure, SmtpFailure::Stopped);
  }
}

TEST_F(SmtpClientTest, CheckLogsInWithoutSending) {
  SmtpTestServer server;
  SmtpConfig c = Config(server);
  EXPECT_TRUE(SmtpClient(c).Check().accepted);
  c.password = "nope";
  SmtpResult r = SmtpClient(c).Check();
  EXPECT_FALSE(r.accepted);
  EXPECT_EQ(r.failure, SmtpFailure::Login);
  EXPECT_TRUE(server.Messages().empty());
}
