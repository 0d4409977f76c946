#include "desk/transfer_run.h"

#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/accounts.h"
#include "transport/smtp/smtp_setting.h"

#include <gtest/gtest.h>

namespace px::desk {
namespace {

TEST(MailSetUp, AnyOfServiceUserOutgoingServerOrIncomingAccount) {
  RandomSource random(5);
  Settings none;
  EXPECT_FALSE(HasMailSetUp(none));

  Settings service;
  service.SetID("jo");
  EXPECT_TRUE(HasMailSetUp(service));

  // Only their own POP3 account: the run still receives.
  Settings pop;
  transport::ExternalAccount a;
  a.name = "Home";
  a.server = "pop.example.org";
  a.user = "jo";
  transport::WriteAccount(pop, a, random);
  EXPECT_TRUE(HasMailSetUp(pop));

  Settings smtp;
  transport::SmtpServerSetting s;
  s.account = "me@example.org";
  s.host = "smtp.example.org";
  transport::WriteSmtpSetting(smtp, s, random);
  EXPECT_TRUE(HasMailSetUp(smtp));
}

}  // namespace
}  // namespace px::desk
