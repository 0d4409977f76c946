#include "desk/account_editor.h"

#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/accounts.h"
#include "transport/smtp/smtp_setting.h"

#include <gtest/gtest.h>

namespace px::desk {
namespace {

using transport::pop3::Security;

AccountForm Form(std::string name, std::string server = "pop.example.org:995", std::string user = "jo") {
  AccountForm f;
  f.name = std::move(name);
  f.server = std::move(server);
  f.user = std::move(user);
  f.password = "secret";
  return f;
}

AccountForm WithSmtp(AccountForm f, std::string server, std::string user = {}) {
  f.smtpServer = std::move(server);
  if (!user.empty()) {
    f.smtpSameLogin = false;
    f.smtpUser = std::move(user);
  }
  return f;
}

struct FormCase {
  const char* what;
  AccountForm form;
  const char* messageStart;  // "" when accepted
};

class AccountFormChecks : public ::testing::TestWithParam<FormCase> {};

TEST_P(AccountFormChecks, RefusesWhatWouldBreakTheSettings) {
  const FormCase& c = GetParam();
  const std::string msg = CheckAccountForm(c.form, "", {"taken@example.org"});
  if (*c.messageStart == 0)
    EXPECT_EQ(msg, "") << c.what;
  else
    EXPECT_EQ(msg.rfind(c.messageStart, 0), 0u) << c.what << ": " << msg;
}

INSTANTIATE_TEST_SUITE_P(
    Accounts, AccountFormChecks,
    ::testing::Values(
        FormCase{"plain", Form("jo@example.org"), ""},
        FormCase{"host without port", Form("jo@example.org", "pop.example.org"), ""},
        FormCase{"empty name", Form(" "), "Please enter a name"},
        FormCase{"name with =", Form("a=b"), "Sorry, but the account name"},
        FormCase{"name with [", Form("[x"), "Sorry, but the account name"},
        FormCase{"name with ]", Form("x]"), "Sorry, but the account name"},
        FormCase{"name with CR", Form("a\rb"), "Sorry, but the account name"},
        FormCase{"name with LF", Form("a\nb"), "Sorry, but the account name"},
        FormCase{"taken name", Form("taken@example.org"), "Sorry, but an account named"},
        FormCase{"no server", Form("a", ""), "Please enter the e-mail server"},
        FormCase{"server with =", Form("a", "pop=x"), "Sorry, but the server name"},
        FormCase{"server with ]", Form("a", "pop]x"), "Sorry, but the server name"},
        FormCase{"server with LF", Form("a", "pop\nx"), "Sorry, but the server name"},
        FormCase{"server with blank", Form("a", "pop x"), "Sorry, but the server name"},
        FormCase{"port zero", Form("a", "pop:0"), "Sorry, but the port"},
        FormCase{"port too big", Form("a", "pop:70000"), "Sorry, but the port"},
        FormCase{"port not a number", Form("a", "pop:pop3"), "Sorry, but the port"},
        FormCase{"no host", Form("a", ":995"), "Sorry, but the port"},
        FormCase{"service marker", Form("a", "plumadex"), "Sorry, but the Plumadex server"},
        FormCase{"no user", Form("a", "pop", " "), "Please enter the user name"},
        FormCase{"user with blank", Form("a", "pop", "jo smith"), "Sorry, but the user name"},
        FormCase{"outgoing host:port", WithSmtp(Form("a"), "smtp.example.org:587"), ""},
        FormCase{"outgoing IPv6", WithSmtp(Form("a"), "[::1]:2525"), ""},
        FormCase{"outgoing only", WithSmtp(Form("a", ""), "smtp.example.org"), ""},
        FormCase{"outgoing bad port", WithSmtp(Form("a"), "smtp:0"), "Sorry, but the outgoing server"},
        FormCase{"outgoing with blank", WithSmtp(Form("a"), "smtp x"), "Sorry, but the outgoing server"},
        FormCase{"outgoing with =", WithSmtp(Form("a"), "smtp=x"), "Sorry, but the outgoing server"},
        FormCase{"outgoing user with LF", WithSmtp(Form("a"), "smtp", "jo\nx"), "Sorry, but the user name"}));

TEST(AccountEditor, AddEditRenameRemoveAndEnable) {
  Settings s;
  RandomSource random(7);
  AccountEditor ed(s, random);
  AccountForm f = Form("jo@example.org", "127.0.0.1:1995");
  f.security = Security::StartTls;
  f.keep = true;
  ASSERT_EQ(ed.Save(f, ""), "");
  auto all = ed.Accounts();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].server, "127.0.0.1:1995");
  EXPECT_EQ(all[0].security, Security::StartTls);
  EXPECT_TRUE(all[0].keep);
  EXPECT_TRUE(all[0].enabled);
  EXPECT_EQ(all[0].password, "secret");
  // The stored form of the password is scrambled, never the clear text.
  EXPECT_EQ(s.ReadString("External Accounts", "jo@example.org").find("secret"), std::string::npos);

  // A second account cannot take the first one's name; nothing changes.
  EXPECT_NE(ed.Save(Form("jo@example.org", "other"), ""), "");
  EXPECT_EQ(ed.Accounts().size(), 1u);

  // Renamed, password no longer saved.
  AccountForm g = FormOf(all[0]);
  g.name = "Work";
  g.savePassword = false;
  ASSERT_EQ(ed.Save(g, "jo@example.org"), "");
  all = ed.Accounts();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "Work");
  EXPECT_EQ(all[0].password, "");
  EXPECT_EQ(all[0].security, Security::StartTls);
  EXPECT_FALSE(s.ValueExists("External Accounts", "jo@example.org"));

  EXPECT_TRUE(ed.SetEnabled("Work", false));
  EXPECT_FALSE(ed.Accounts()[0].enabled);
  EXPECT_TRUE(ed.Remove("Work"));
  EXPECT_TRUE(ed.Accounts().empty());
  EXPECT_FALSE(s.ValueExists("External Account Settings", "Work"));
}

TEST(AccountEditor, RefusedFormWritesNothing) {
  Settings s;
  RandomSource random(7);
  AccountEditor ed(s, random);
  ASSERT_EQ(ed.Save(Form("Home", "pop.example.org"), ""), "");
  const std::string before = s.ReadString("External Accounts", "Home");
  AccountForm bad = Form("Home", "pop.example.org:99999");
  EXPECT_NE(ed.Save(bad, "Home"), "");
  bad = Form("Ho=me");
  EXPECT_NE(ed.Save(bad, "Home"), "");
  EXPECT_EQ(s.ReadString("External Accounts", "Home"), before);
  EXPECT_EQ(ed.Names(), std::vector<std::string>{"Home"});
}

TEST(AccountEditor, OutgoingServerIsKeptBesideTheAccount) {
  Settings s;
  RandomSource random(7);
  AccountEditor ed(s, random);
  AccountForm f = WithSmtp(Form("jo@example.org", "pop.example.org"), "smtp.example.org:2525");
  f.smtpSecurity = transport::SmtpSecurity::Tls;
  ASSERT_EQ(ed.Save(f, ""), "");
  auto smtp = transport::ReadSmtpSetting(s, "jo@example.org");
  ASSERT_TRUE(smtp);
  EXPECT_EQ(smtp->host, "smtp.example.org");
  EXPECT_EQ(smtp->port, 2525);
  EXPECT_EQ(smtp->security, transport::SmtpSecurity::Tls);
  EXPECT_EQ(smtp->user, "jo");        // the incoming log-in
  EXPECT_EQ(smtp->password, "secret");
  // The form reads back as it was saved.
  auto forms = ed.Forms();
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(forms[0].smtpServer, "smtp.example.org:2525");
  EXPECT_TRUE(forms[0].smtpSameLogin);
  // The POP3 protection stays beside the outgoing words.
  f.security = Security::StartTls;
  f.smtpSameLogin = false;
  f.smtpUser = "jo smith";
  f.smtpPassword = "other";
  ASSERT_EQ(ed.Save(f, "jo@example.org"), "");
  EXPECT_EQ(ed.Accounts()[0].security, Security::StartTls);
  smtp = transport::ReadSmtpSetting(s, "jo@example.org");
  ASSERT_TRUE(smtp);
  EXPECT_EQ(smtp->user, "jo smith");
  EXPECT_EQ(smtp->password, "other");
  EXPECT_EQ(s.ReadString("External Account Settings", "jo@example.org").find("other"), std::string::npos);
  EXPECT_FALSE(ed.Forms()[0].smtpSameLogin);

  // Not saving passwords drops both; renaming carries the outgoing server along.
  f.savePassword = false;
  f.name = "Work";
  ASSERT_EQ(ed.Save(f, "jo@example.org"), "");
  smtp = transport::ReadSmtpSetting(s, "Work");
  ASSERT_TRUE(smtp);
  EXPECT_EQ(smtp->password, "");
  EXPECT_FALSE(transport::ReadSmtpSetting(s, "jo@example.org"));

  // Clearing the outgoing server removes it and keeps the account.
  f.smtpServer = "";
  ASSERT_EQ(ed.Save(f, "Work"), "");
  EXPECT_FALSE(transport::ReadSmtpSetting(s, "Work"));
  EXPECT_EQ(ed.Accounts()[0].security, Security::StartTls);
}

TEST(AccountEditor, SavingThePasswordAndTheSameLoginAreIndependent) {
  for (bool savePassword : {true, false}) {
    SCOPED_TRACE(savePassword ? "password saved" : "password not saved");
    Settings s;
    RandomSource random(7);
    AccountEditor ed(s, random);
    AccountForm f = WithSmtp(Form("jo@example.org", "pop.example.org"), "smtp.example.org:587");
    ASSERT_TRUE(f.smtpSameLogin);
    f.savePassword = savePassword;
    ASSERT_EQ(ed.Save(f, ""), "");
    auto forms = ed.Forms();
    ASSERT_EQ(forms.size(), 1u);
    EXPECT_TRUE(forms[0].smtpSameLogin);
    EXPECT_EQ(forms[0].savePassword, savePassword);
    // A password saved later for the account (the password window's "Save password on disk")
    // is the outgoing server's too, and the choice stays.
    auto account = ed.Accounts()[0];
    account.password = "later";
    transport::WriteAccount(s, account, random);
    forms = ed.Forms();
    EXPECT_TRUE(forms[0].smtpSameLogin);
    auto smtp = transport::ReadSmtpSetting(s, "jo@example.org");
    ASSERT_TRUE(smtp);
    EXPECT_EQ(smtp->user, "jo");
    EXPECT_EQ(smtp->password, "later");
    EXPECT_EQ(transport::ReadSmtpSettings(s)[0].password, "later");
    // Saving the form again (password still not kept) leaves the choice as it is.
    f.savePassword = false;
    f.password = "";
    ASSERT_EQ(ed.Save(forms[0].savePassword ? forms[0] : f, "jo@example.org"), "");
    EXPECT_TRUE(ed.Forms()[0].smtpSameLogin);
  }
}

TEST(AccountEditor, AccountThatOnlySends) {
  Settings s;
  RandomSource random(7);
  AccountEditor ed(s, random);
  AccountForm f = WithSmtp(Form("me@example.org", ""), "127.0.0.1:2525");
  f.smtpSecurity = transport::SmtpSecurity::Plain;
  ASSERT_EQ(ed.Save(f, ""), "");
  EXPECT_TRUE(ed.Accounts().empty());  // nothing to receive from
  EXPECT_EQ(ed.Names(), std::vector<std::string>{"me@example.org"});
  auto forms = ed.Forms();
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(forms[0].server, "");
  EXPECT_EQ(forms[0].user, "jo");
  EXPECT_EQ(forms[0].smtpServer, "127.0.0.1:2525");
  // Its name is taken for a new account too.
  EXPECT_NE(ed.Save(Form("me@example.org"), ""), "");

  // Given an incoming server later, it becomes an ordinary account; cleared again, it only sends.
  AccountForm g = forms[0];
  g.server = "pop.example.org";
  ASSERT_EQ(ed.Save(g, "me@example.org"), "");
  ASSERT_EQ(ed.Accounts().size(), 1u);
  EXPECT_TRUE(transport::ReadSmtpSetting(s, "me@example.org"));
  g.server = "";
  ASSERT_EQ(ed.Save(g, "me@example.org"), "");
  EXPECT_TRUE(ed.Accounts().empty());
  EXPECT_TRUE(transport::ReadSmtpSetting(s, "me@example.org"));

  EXPECT_TRUE(ed.Remove("me@example.org"));
  EXPECT_TRUE(ed.Forms().empty());
  EXPECT_FALSE(s.ValueExists("External Account Settings", "me@example.org"));
}

}  // namespace
}  // namespace px::desk

namespace px::desk {
namespace {

TEST(AccountEditor, ImapAccountKeepsItsFoldersAndUnknownWords) {
  Settings s;
  RandomSource random(7);
  AccountEditor ed(s, random);
  AccountForm f = Form("jo@example.org", "imap.example.org:993");
  f.imap = true;
  f.folders = " INBOX ,Lists/Work,, Archive ";
  ASSERT_EQ(ed.Save(f, ""), "");
  auto a = ed.Accounts().at(0);
  EXPECT_TRUE(a.IsImap());
  EXPECT_EQ(a.ImapFolders(), (std::vector<std::string>{"INBOX", "Lists/Work", "Archive"}));
  // A word of a later version stays when the account is saved again; POP3 again drops the folders.
  s.WriteString("External Account Settings", "jo@example.org",
                s.ReadString("External Account Settings", "jo@example.org") + " future=1");
  AccountForm g = FormOf(ed.Accounts().at(0));
  EXPECT_TRUE(g.imap);
  EXPECT_EQ(g.folders, "INBOX, Lists/Work, Archive");
  g.imap = false;
  ASSERT_EQ(ed.Save(g, "jo@example.org"), "");
  a = ed.Accounts().at(0);
  EXPECT_FALSE(a.IsImap());
  EXPECT_EQ(a.Option("future"), "1");
  EXPECT_EQ(a.Option("folders"), "");
  AccountForm bad = f;
  bad.folders = "INBOX\nA1 LOGOUT";
  EXPECT_NE(CheckAccountForm(bad, "", {}), "");
}

}  // namespace
}  // namespace px::desk
