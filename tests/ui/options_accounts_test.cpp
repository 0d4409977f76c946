#include "desk/ui/frm_accounts.h"

#include "foundation/random.h"
#include "foundation/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace px::desk {
namespace {

TEST(AccountsWindow, AddTestAndSaveAnAccount) {
  Settings s;
  RandomSource random(3);
  AccountEditor ed(s, random);
  std::vector<std::string> shown;
  std::atomic<int> checks{0};
  transport::pop3::AccountCheck answer{false, transport::pop3::kInvalidLogin, "-ERR auth"};
  TfrmAccounts w(
      ed, [&](const transport::ExternalAccount& a, transport::StopSwitch&) { ++checks; EXPECT_EQ(a.server, "127.0.0.1:1995"); return answer; },
      [&](const std::string& m) { shown.push_back(m); });
  EXPECT_EQ(w.lstAccount->count(), 0);
  EXPECT_EQ(w.edtPassword->echoMode(), QLineEdit::Password);

  w.edtName->setText(QStringLiteral("Home"));
  w.edtServer->setText(QStringLiteral("127.0.0.1:1995"));
  w.edtUser->setText(QStringLiteral("jo"));
  w.edtPassword->setText(QStringLiteral("secret"));
  w.btnTestClick();
  QTRY_VERIFY(!w.Testing());
  EXPECT_EQ(checks.load(), 1);
  EXPECT_TRUE(w.lblResult->text().startsWith(QStringLiteral("Invalid user name or password.")));
  // A failed test writes nothing.
  EXPECT_TRUE(ed.Names().empty());

  w.chkSavePassword->setChecked(false);
  w.btnSaveClick();
  ASSERT_EQ(w.lstAccount->count(), 1);
  auto all = ed.Accounts();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].password, "");

  // A bad name is refused with a message and nothing changes.
  w.edtName->setText(QStringLiteral("Ho[me"));
  w.btnSaveClick();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(ed.Names(), std::vector<std::string>{"Home"});

  // Unticking in the list turns the account off.
  w.lstAccount->item(0)->setCheckState(Qt::Unchecked);
  EXPECT_FALSE(ed.Accounts()[0].enabled);

  w.btnRemoveClick();
  EXPECT_TRUE(ed.Names().empty());
  EXPECT_EQ(w.lstAccount->count(), 0);
}

TEST(AccountsWindow, OffersImapWithItsFolders) {
  Settings s;
  RandomSource random(3);
  AccountEditor ed(s, random);
  transport::ExternalAccount tested;
  TfrmAccounts w(
      ed, [&](const transport::ExternalAccount& a, transport::StopSwitch&) {
        tested = a;
        return transport::pop3::AccountCheck{true, transport::pop3::kAccountWorks, ""};
      },
      [](const std::string&) {});
  EXPECT_FALSE(w.edtFolders->isEnabled());
  w.edtName->setText(QStringLiteral("jo@example.org"));
  w.cbProtocol->setCurrentIndex(w.cbProtocol->findText(QStringLiteral("IMAP")));
  EXPECT_TRUE(w.edtFolders->isEnabled());
  EXPECT_EQ(w.cbSecurity->currentText(), QStringLiteral("TLS (port 993)"));
  w.edtServer->setText(QStringLiteral("imap.example.org"));
  w.edtUser->setText(QStringLiteral("jo"));
  w.edtPassword->setText(QStringLiteral("secret"));
  w.edtFolders->setText(QStringLiteral("INBOX, Work"));
  w.btnTestClick();
  QTRY_VERIFY(!w.Testing());
  EXPECT_TRUE(tested.IsImap());
  w.btnSaveClick();
  auto all = ed.Accounts();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].IsImap());
  EXPECT_EQ(all[0].ImapFolders(), (std::vector<std::string>{"INBOX", "Work"}));
  // Shown again as saved.
  w.lstAccount->setCurrentRow(-1);
  w.lstAccount->setCurrentRow(0);
  EXPECT_EQ(w.cbProtocol->currentText(), QStringLiteral("IMAP"));
  EXPECT_EQ(w.edtFolders->text(), QStringLiteral("INBOX, Work"));
}

TEST(AccountsWindow, OutgoingServerIsTestedAndSaved) {
  Settings s;
  RandomSource random(3);
  AccountEditor ed(s, random);
  std::vector<std::string> shown;
  std::atomic<int> smtpChecks{0};
  TfrmAccounts w(
      ed, [&](const transport::ExternalAccount&, transport::StopSwitch&) { return transport::pop3::AccountCheck{true, transport::pop3::kAccountWorks, ""}; },
      [&](const std::string& m) { shown.push_back(m); });
  w.SetSmtpChecker([&](const transport::SmtpServerSetting& smtp, transport::StopSwitch&) {
    ++smtpChecks;
    EXPECT_EQ(smtp.host, "127.0.0.1");
    EXPECT_EQ(smtp.port, 2525);
    EXPECT_EQ(smtp.user, "sender");
    return transport::pop3::AccountCheck{false, transport::pop3::kCannotConnect, "refused"};
  });
  // Without an outgoing server its other fields wait.
  EXPECT_FALSE(w.cbSmtpSecurity->isEnabled());
  EXPECT_FALSE(w.edtSmtpUser->isEnabled());

  w.edtName->setText(QStringLiteral("Home"));
  w.edtServer->setText(QStringLiteral("127.0.0.1:1995"));
  w.edtUser->setText(QStringLiteral("jo"));
  w.edtPassword->setText(QStringLiteral("secret"));
  w.edtSmtpServer->setText(QStringLiteral("127.0.0.1:2525"));
  EXPECT_TRUE(w.chkSmtpSameLogin->isEnabled());
  EXPECT_FALSE(w.edtSmtpUser->isEnabled());
  w.chkSmtpSameLogin->setChecked(false);
  EXPECT_TRUE(w.edtSmtpUser->isEnabled());
  EXPECT_EQ(w.edtSmtpPassword->echoMode(), QLineEdit::Password);
  w.edtSmtpUser->setText(QStringLiteral("sender"));
  w.edtSmtpPassword->setText(QStringLiteral("pw"));
  w.btnTestClick();
  QTRY_VERIFY(!w.Testing());
  EXPECT_EQ(smtpChecks.load(), 1);
  EXPECT_TRUE(w.lblResult->text().contains(QStringLiteral("Incoming: This account works.")));
  EXPECT_TRUE(w.lblResult->text().contains(QStringLiteral("Outgoing: Cannot connect")));
  EXPECT_TRUE(ed.Names().empty());

  w.cbSmtpSecurity->setCurrentIndex(w.cbSmtpSecurity->findData(static_cast<int>(transport::SmtpSecurity::Plain)));
  w.btnSaveClick();
  EXPECT_TRUE(shown.empty());
  auto smtp = transport::ReadSmtpSetting(s, "Home");
  ASSERT_TRUE(smtp);
  EXPECT_EQ(smtp->security, transport::SmtpSecurity::Plain);
  EXPECT_EQ(smtp->user, "sender");
  EXPECT_EQ(smtp->password, "pw");
  // Shown again as saved.
  w.lstAccount->setCurrentRow(0);
  EXPECT_EQ(w.edtSmtpServer->text(), QStringLiteral("127.0.0.1:2525"));
  EXPECT_FALSE(w.chkSmtpSameLogin->isChecked());
  EXPECT_EQ(w.edtSmtpUser->text(), QStringLiteral("sender"));

  // A bad outgoing server is refused and nothing changes.
  w.edtSmtpServer->setText(QStringLiteral("smtp host"));
  w.btnSaveClick();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(transport::ReadSmtpSetting(s, "Home")->port, 2525);
}

// A check still waiting on its server when the window closes is stopped, and the window waits
// for its worker: nothing of the window's runs on after it has gone.
TEST(AccountsWindow, ACheckStillRunningIsStoppedAndJoinedWhenTheWindowGoes) {
  Settings s;
  RandomSource random(3);
  AccountEditor ed(s, random);
  std::mutex m;
  std::condition_variable wake;
  bool started = false, stopped = false;
  std::atomic<bool> returned{false};
  {
    TfrmAccounts w(
        ed,
        [&](const transport::ExternalAccount&, transport::StopSwitch& stop) {
          // A server that never answers: only the client's Stop ends the wait.
          stop.Attach([&] {
            std::lock_guard lock(m);
            stopped = true;
            wake.notify_all();
          });
          std::unique_lock lock(m);
          started = true;
          wake.notify_all();
          wake.wait(lock, [&] { return stopped; });
          lock.unlock();
          stop.Detach();
          returned = true;
          return transport::pop3::AccountCheck{false, transport::pop3::kCannotConnect, "stopped"};
        },
        [](const std::string&) {});
    w.edtName->setText(QStringLiteral("Home"));
    w.edtServer->setText(QStringLiteral("127.0.0.1:1995"));
    w.edtUser->setText(QStringLiteral("jo"));
    w.edtPassword->setText(QStringLiteral("pw"));
    w.btnTestClick();
    std::unique_lock lock(m);
    wake.wait(lock, [&] { return started; });
  }
  EXPECT_TRUE(returned);
  EXPECT_TRUE(stopped);
  // The report the worker posted finds no window.
  QCoreApplication::processEvents();
}

}  // namespace
}  // namespace px::desk
