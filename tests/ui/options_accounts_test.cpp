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
      ed, [&](const transport::ExternalAccount& a) { ++checks; EXPECT_EQ(a.server, "127.0.0.1:1995"); return answer; },
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

}  // namespace
}  // namespace px::desk
