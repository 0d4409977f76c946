// The addresses the user sends as, the From of a reply, and the refusal of a From that has no
// way out.
#include "transport/identities.h"

#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/accounts.h"
#include "transport/smtp/smtp_setting.h"

#include <gtest/gtest.h>

namespace px::transport {
namespace {

void AddAccount(Settings& s, const std::string& name, bool enabled, const std::string& smtpHost = {}) {
  RandomSource random(3);
  ExternalAccount a;
  a.name = name;
  a.enabled = enabled;
  a.server = "pop.example.org";
  a.user = "jo";
  WriteAccount(s, a, random);
  if (!smtpHost.empty()) {
    SmtpServerSetting smtp;
    smtp.account = name;
    smtp.host = smtpHost;
    WriteSmtpSetting(s, smtp, random);
  }
}

TEST(SenderIdentities, TheServiceAddressInFullAndEveryEnabledAccount) {
  struct Case {
    std::string id, name;
    std::vector<std::pair<std::string, bool>> accounts;  // name, enabled
    StringList want;
  };
  const std::vector<Case> cases = {
      // A service user: the address carries the service's mail domain.
      {"alice", "Alice Liddell", {}, {"\"Alice Liddell\" <alice@plumadex.net>"}},
      {"alice", "", {}, {"alice@plumadex.net"}},
      // Own accounts only: never blank.
      {"", "Jo", {{"jo@example.org", true}}, {"\"Jo\" <jo@example.org>"}},
      // Both, in order; a disabled account is not offered.
      {"alice",
       "Alice",
       {{"alice@example.com", true}, {"old@example.net", false}, {"work@example.org", true}},
       {"\"Alice\" <alice@plumadex.net>", "\"Alice\" <alice@example.com>", "\"Alice\" <work@example.org>"}},
      // Nobody at all.
      {"", "", {}, {}},
  };
  for (const auto& c : cases) {
    Settings s;
    s.SetID(c.id);
    s.SetName(c.name);
    for (const auto& [name, enabled] : c.accounts) AddAccount(s, name, enabled);
    EXPECT_EQ(SenderAddresses(s), c.want) << c.id << "/" << c.name;
  }
}

TEST(SenderIdentities, AnOutgoingOnlyAccountIsOffered) {
  Settings s;
  s.SetName("Jo");
  RandomSource random(3);
  SmtpServerSetting smtp;
  smtp.account = "jo@example.org";
  smtp.host = "smtp.example.org";
  WriteSmtpSetting(s, smtp, random);
  EXPECT_EQ(SenderAddresses(s), StringList{"\"Jo\" <jo@example.org>"});
}

TEST(SenderIdentities, AReplyStartsFromTheAddressTheOriginalCameTo) {
  Settings s;
  s.SetID("alice");
  s.SetName("Alice");
  AddAccount(s, "alice@example.com", true);
  AddAccount(s, "work@example.org", true);
  const auto ids = SenderIdentities(s);
  struct Case {
    std::string to, cc, account, want;
  };
  const std::vector<Case> cases = {
      {"\"Alice\" <work@example.org>", "", "", "\"Alice\" <work@example.org>"},
      {"bob@example.net", "WORK@example.org", "", "\"Alice\" <work@example.org>"},
      // Service users are stored without the service's domain.
      {"alice", "", "", "\"Alice\" <alice@plumadex.net>"},
      {"list@example.net", "", "alice@example.com", "\"Alice\" <alice@example.com>"},
      {"list@example.net", "", "", "\"Alice\" <alice@plumadex.net>"},
  };
  for (const auto& c : cases) EXPECT_EQ(IdentityForReply(ids, c.to, c.cc, c.account), c.want) << c.to;
}

TEST(SendRefusal, AFromWithoutAWayOutIsRefusedWithAReason) {
  Settings service;
  service.SetID("alice");
  AddAccount(service, "alice@example.com", true, "smtp.example.com");
  AddAccount(service, "nosmtp@example.org", true);
  EXPECT_EQ(SendRefusal(service, "\"A\" <alice@plumadex.net>", "bob@example.net"), "");
  EXPECT_EQ(SendRefusal(service, "alice", "bob@example.net"), "");
  EXPECT_EQ(SendRefusal(service, "alice@example.com", "bob@example.net"), "");
  // Mail only for users of the service goes through the service.
  EXPECT_EQ(SendRefusal(service, "nosmtp@example.org", "bob, carol@plumadex.net"), "");
  const std::string refused = SendRefusal(service, "nosmtp@example.org", "bob@example.net");
  EXPECT_NE(refused.find("Sorry, but"), std::string::npos);
  EXPECT_NE(refused.find("nosmtp@example.org"), std::string::npos);

  Settings own;
  AddAccount(own, "jo@example.org", true);
  EXPECT_NE(SendRefusal(own, "jo@example.org", "bob@example.net"), "");
  EXPECT_NE(SendRefusal(own, "", "bob@example.net"), "");
  EXPECT_NE(SendRefusal(own, "jo", "bob"), "");  // no service to take it
}

}  // namespace
}  // namespace px::transport
