// The outgoing-server setting in User.ini: its words beside the account's other settings,
// older files without it, and the choice of server by sender address.
#include <gtest/gtest.h>

#include "foundation/random.h"
#include "foundation/settings.h"
#include "support/test_support.h"
#include "transport/accounts.h"
#include "transport/smtp/smtp_setting.h"

using namespace px;
using namespace px::transport;

TEST(SmtpSetting, WordsReadBackAndKeepThePasswordScrambled) {
  RandomSource random(3);
  SmtpServerSetting s;
  s.account = "ann@example.org";
  s.host = "smtp.example.org";
  s.security = SmtpSecurity::Tls;
  s.user = "ann smith%1";
  s.password = "p\xC3\xA4ss word";
  s.fromAddresses = {"ann@example.org", "\"Ann\" <ANN@work.example>"};
  std::string v = FormatSmtpWords(s, random);
  EXPECT_EQ(v.rfind("smtp=smtp.example.org:465 smtp-security=tls smtp-user=ann%20smith%251 "
                    "smtp-from=ann@example.org,ANN@work.example smtp-password=", 0), 0u) << v;
  EXPECT_EQ(v.find("ss word"), std::string::npos);
  auto back = ParseSmtpWords(s.account, "security=tls " + v + " later=1");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->host, "smtp.example.org");
  EXPECT_EQ(back->EffectivePort(), 465);
  EXPECT_EQ(back->security, SmtpSecurity::Tls);
  EXPECT_EQ(back->user, "ann smith%1");
  EXPECT_EQ(back->password, s.password);
  EXPECT_EQ(back->fromAddresses, (std::vector<std::string>{"ann@example.org", "ANN@work.example"}));

  SmtpServerSetting v6;
  v6.host = "::1";
  v6.port = 2525;
  v6.security = SmtpSecurity::Plain;
  auto b6 = ParseSmtpWords("x", FormatSmtpWords(v6, random));
  ASSERT_TRUE(b6);
  EXPECT_EQ(b6->host, "::1");
  EXPECT_EQ(b6->port, 2525);
  EXPECT_EQ(b6->security, SmtpSecurity::Plain);
  EXPECT_TRUE(b6->user.empty());
  EXPECT_TRUE(b6->password.empty());
}

TEST(SmtpSetting, WordsItDidNotWriteAreNotGuessed) {
  for (const char* bad : {"", "security=tls", "smtp=host:25", "smtp=host:99999 smtp-security=tls",
                          "smtp=host:25 smtp-security=ssl2", "smtp=host:25 smtp-security=tls smtp-password=abc",
                          "smtp-security=plain", "smtp smtp-security=tls"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseSmtpWords("x", bad));
  }
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParseServerAddress("mail.example.org", host, port));
  EXPECT_EQ(port, 0);
  EXPECT_TRUE(ParseServerAddress("[::1]:587", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_FALSE(ParseServerAddress("host:", host, port));
  EXPECT_FALSE(ParseServerAddress("ho st", host, port));
  EXPECT_FALSE(ParseServerAddress("host:0", host, port));
}

TEST(SmtpSetting, LivesBesideTheAccountsOtherSettingsAndLeavesThemAlone) {
  test::TempHome home;
  std::string ini = home.path("User.ini");
  test::writeFile(ini, "[User]\r\nID=ann\r\n[External Accounts]\r\nann@example.org=1 pop.example.org ann\r\n"
                       "[External Account Settings]\r\nann@example.org=security=starttls\r\n");
  Settings settings(ini);
  EXPECT_TRUE(ReadSmtpSettings(settings).empty());
  RandomSource random(1);
  SmtpServerSetting s;
  s.account = "ann@example.org";
  s.host = "smtp.example.org";
  s.user = "ann";
  s.password = "pw";
  WriteSmtpSetting(settings, s, random);
  s.host = "smtp2.example.org";
  WriteSmtpSetting(settings, s, random);  // replaces, never repeats
  EXPECT_EQ(settings.ReadString(kExternalAccountsSection, "ann@example.org"), "1 pop.example.org ann");

  Settings again(ini);
  auto all = ReadSmtpSettings(again);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].host, "smtp2.example.org");
  EXPECT_EQ(all[0].EffectivePort(), 587);
  EXPECT_EQ(all[0].password, "pw");
  // The account code reads its own words and keeps ours when it saves the account.
  auto account = ReadAccount(again, "ann@example.org");
  ASSERT_TRUE(account);
  EXPECT_EQ(account->security, pop3::Security::StartTls);
  WriteAccount(again, *account, random);
  ASSERT_EQ(ReadSmtpSettings(again).size(), 1u);
  DeleteSmtpSetting(again, "ann@example.org");
  EXPECT_TRUE(ReadSmtpSettings(again).empty());
  EXPECT_EQ(again.ReadString(kAccountSettingsSection, "ann@example.org"), "security=starttls");
}

TEST(SmtpSetting, TheSendersServerIsFoundByListedAddressThenByAccountName) {
  SmtpServerSetting a, b;
  a.account = "ann@example.org";
  b.account = "work";
  b.fromAddresses = {"ann@work.example"};
  std::vector<SmtpServerSetting> all{a, b};
  EXPECT_EQ(FindSmtpServerFor(all, "\"Ann\" <ANN@Example.org>"), &all[0]);
  EXPECT_EQ(FindSmtpServerFor(all, "ann@work.example"), &all[1]);
  EXPECT_EQ(FindSmtpServerFor(all, "someone@else.example"), nullptr);
  EXPECT_EQ(FindSmtpServerFor(all, ""), nullptr);
}
