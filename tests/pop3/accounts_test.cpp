// Account records of "External Accounts": both forms, scrambled passwords, the settings kept
// beside them, and the command-line names.
#include "transport/accounts.h"

#include <gtest/gtest.h>

#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/pop3/network_message.h"
#include "transport/pop3/pop3_client.h"

namespace px::transport {
namespace {

using pop3::Security;

TEST(AccountRecordTest, ReadsBothForms) {
  RandomSource random(3);
  const std::string pw = ScramblePassword("s3cret pass", random);
  struct Case {
    std::string name, value;
    bool enabled;
    std::string server, user;
    bool keep;
    std::string password;
  };
  const Case cases[] = {
      {"a@b.org", "1 pop.b.org a", true, "pop.b.org", "a", false, ""},
      {"a@b.org", "1 pop.b.org a " + pw, true, "pop.b.org", "a", false, "s3cret pass"},
      {"a@b.org", "1 pop.b.org:995 a * " + pw, true, "pop.b.org:995", "a", true, "s3cret pass"},
      // Disabled with keep on: the fifth field is still the password.
      {"a@b.org", "0 pop.b.org a * " + pw, false, "pop.b.org", "a", true, "s3cret pass"},
      // A "-" server or user is empty; such an account is not visited.
      {"a@b.org", "1 - a", true, "", "a", false, ""},
      {"a@b.org", "1 pop.b.org -", true, "pop.b.org", "", false, ""},
      // Only "1" followed by a blank enables.
      {"a@b.org", "10 pop.b.org a", false, "pop.b.org", "a", false, ""},
      {"a@b.org", "  1   pop.b.org   a   *  ", true, "pop.b.org", "a", true, ""},
      // Unconfigured: from the name, disabled.
      {"joe@mail.example.com", "?", false, "pop.mail.example.com", "joe", false, ""},
      {"joe@plumadex.net", "?", false, "plumadex", "joe", false, ""},
      {"joe", "?", false, "plumadex", "joe", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ExternalAccount a = ParseAccountRecord(c.name, c.value);
    EXPECT_EQ(a.enabled, c.enabled);
    EXPECT_EQ(a.server, c.server);
    EXPECT_EQ(a.user, c.user);
    EXPECT_EQ(a.keep, c.keep);
    EXPECT_EQ(a.password, c.password);
    EXPECT_EQ(a.security, Security::Auto);
  }
}

TEST(AccountRecordTest, WritesTheConfiguredForm) {
  RandomSource random(5);
  ExternalAccount a;
  a.name = "a@b.org";
  a.enabled = true;
  a.server = "pop.b.org";
  a.user = "a";
  EXPECT_EQ(FormatAccountRecord(a, random), "1 pop.b.org a");
  a.keep = true;
  EXPECT_EQ(FormatAccountRecord(a, random), "1 pop.b.org a *");
  a.enabled = false;
  a.server.clear();
  a.password = "a password longer than twenty bytes";
  std::string v = FormatAccountRecord(a, random);
  EXPECT_TRUE(v.starts_with("0 - a * ")) << v;
  EXPECT_EQ(v.find("password"), std::string::npos);
  ExternalAccount back = ParseAccountRecord(a.name, v);
  EXPECT_EQ(back.password, a.password);
  EXPECT_TRUE(back.keep);
  EXPECT_FALSE(back.enabled);
}

TEST(AccountSettingsTest, StoredBesideTheRecordAndOlderFilesStillRead) {
  Settings settings;
  RandomSource random(9);
  // A file from before these settings existed.
  settings.WriteString("External Accounts", "old@x.org", "1 pop.x.org old * " + ScramblePassword("pw", random));
  auto old = ReadAccount(settings, "old@x.org");
  ASSERT_TRUE(old);
  EXPECT_EQ(old->security, Security::Auto);
  EXPECT_EQ(old->password, "pw");

  ExternalAccount a = *old;
  a.security = Security::Plain;
  a.SetOption("smtp", "smtp.x.org:587");
  WriteAccount(settings, a, random);
  EXPECT_EQ(settings.ReadString(kAccountSettingsSection, "old@x.org"), "security=plain smtp=smtp.x.org:587");
  // The record itself keeps its classic form.
  EXPECT_TRUE(settings.ReadString("External Accounts", "old@x.org").starts_with("1 pop.x.org old * "));
  auto back = ReadAccount(settings, "old@x.org");
  EXPECT_EQ(back->security, Security::Plain);
  EXPECT_EQ(back->Option("smtp"), "smtp.x.org:587");
  EXPECT_NE(DescribeAccount(*back).find("plain text (not encrypted)"), std::string::npos);
  EXPECT_EQ(DescribeAccount(*back).find("pw"), std::string::npos);

  // An unknown protection never reads as plain text.
  settings.WriteString(kAccountSettingsSection, "old@x.org", "security=rot13 future=1");
  back = ReadAccount(settings, "old@x.org");
  EXPECT_EQ(back->security, Security::Tls);
  EXPECT_EQ(back->Option("future"), "1");

  EXPECT_TRUE(RenameAccount(settings, "old@x.org", "new@x.org"));
  EXPECT_FALSE(ReadAccount(settings, "old@x.org"));
  EXPECT_EQ(ReadAccount(settings, "new@x.org")->Option("future"), "1");
  EXPECT_TRUE(AddUnconfiguredAccount(settings, "fresh@y.org"));
  EXPECT_FALSE(AddUnconfiguredAccount(settings, "fresh@y.org"));
  EXPECT_FALSE(AddUnconfiguredAccount(settings, "bad=name"));
  EXPECT_FALSE(RenameAccount(settings, "new@x.org", "fresh@y.org"));
  EXPECT_EQ(AccountNames(settings), (std::vector<std::string>{"new@x.org", "fresh@y.org"}));
  EXPECT_TRUE(DeleteAccount(settings, "new@x.org"));
  EXPECT_FALSE(settings.ValueExists(kAccountSettingsSection, "new@x.org"));
}

TEST(ServerAddressTest, HostAndPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
  };
  const Case cases[] = {
      {"pop.x.org", true, "pop.x.org", 0},
      {" pop.x.org:995 ", true, "pop.x.org", 995},
      {"[::1]:1110", true, "::1", 1110},
      {"::1", true, "::1", 0},
      {"pop.x.org:", false, "", 0},
      {"pop.x.org:0", false, "", 0},
      {"pop.x.org:70000", false, "", 0},
      {"pop.x.org:99x", false, "", 0},
      {"", false, "", 0},
      {"a b", false, "", 0},
      {"../etc", false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto a = pop3::ParseServerAddress(c.text);
    ASSERT_EQ(a.has_value(), c.ok);
    if (!a) continue;
    EXPECT_EQ(a->host, c.host);
    EXPECT_EQ(a->port, c.port);
  }
}

TEST(NetworkMessageTest, HeaderScanAgreesWithTheStreamedCopy) {
  const std::string header = "From: \"A\" <a@x.org>\r\nMessage-ID:\r\n <id@x>\r\nSubject: s\r\n";
  pop3::HeaderScan scan = pop3::ScanHeader(header + "\r\n");
  EXPECT_EQ(scan.messageId, "<id@x>");
  EXPECT_EQ(scan.from, "\"A\" <a@x.org>");
  pop3::HeaderScan streamed;
  for (std::string_view line : {"From: \"A\" <a@x.org>\r\n", "Message-ID:\r\n", " <id@x>\r\n", "Subject: s\r\n"})
    streamed.Add(line);
  streamed.Finish();
  EXPECT_EQ(streamed.digest, scan.digest);
  EXPECT_NE(pop3::ScanHeader("Subject: other\r\n\r\n").digest, scan.digest);
}

}  // namespace
}  // namespace px::transport
