#include "desk/ui/frm_mail.h"
#include "desk/ui/password_prompt.h"
#include "desk/ui/progress_bar.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace px::desk {
namespace {

TransferSnapshot Receiving(int account, bool connecting, int64_t pos = 0, int64_t max = 0) {
  TransferSnapshot s;
  s.receiving = true;
  s.accounts = {QStringLiteral("Plumadex server"), QStringLiteral("Home"), QStringLiteral("Work")};
  s.accountTicked = {true, true, false};
  s.receiveAccount = account;
  s.receiveConnecting = connecting;
  s.receivePosition = pos;
  s.receiveMaximum = max;
  return s;
}

TEST(TransferWindow, ShowsTheVisitedAccountsRowAndItsButtons) {
  TfrmMail w;
  w.resize(460, 260);
  w.show();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Plumadex Connect"));
  int skips = 0, stops = 0;
  w.onSkip = [&] { ++skips; };
  w.onStop = [&] { ++stops; };

  w.Refresh(Receiving(1, true));
  ASSERT_EQ(w.lstAccounts->count(), 3);
  EXPECT_EQ(w.lstAccounts->item(2)->checkState(), Qt::Unchecked);
  EXPECT_EQ(w.lstAccounts->currentRow(), 1);
  EXPECT_TRUE(w.pnlAccountRow->isVisible());
  EXPECT_TRUE(w.lblConnecting->isVisible());
  EXPECT_FALSE(w.pbReceiveMail->isVisible());
  EXPECT_FALSE(w.lblSend->isEnabled());
  EXPECT_FALSE(w.btnStop->isVisible());
  // The row's controls sit on the visited row.
  const QRect row = w.lstAccounts->visualItemRect(w.lstAccounts->item(1));
  EXPECT_LE(w.pnlAccountRow->geometry().top(), row.center().y());
  EXPECT_GE(w.pnlAccountRow->geometry().bottom(), row.center().y());

  w.Refresh(Receiving(1, false, 500, 2000));
  EXPECT_TRUE(w.pbReceiveMail->isVisible());
  EXPECT_FALSE(w.lblConnecting->isVisible());
  EXPECT_EQ(w.pbReceiveMail->CaptionText(), QStringLiteral("25% (1K of 2K)"));
  w.btnSkip->click();
  EXPECT_EQ(skips, 1);
  EXPECT_FALSE(w.btnSkip->isVisible());
  // The next account can be skipped again.
  w.Refresh(Receiving(2, true));
  EXPECT_TRUE(w.btnSkip->isVisible());

  TransferSnapshot s = Receiving(-1, false);
  s.receiving = false;
  s.sending = true;
  w.Refresh(s);
  EXPECT_FALSE(w.pnlAccountRow->isVisible());
  EXPECT_TRUE(w.lblSend->isEnabled());
  EXPECT_FALSE(w.lblReceive->isEnabled());
  EXPECT_TRUE(w.btnStop->isVisible());
  w.btnStop->click();
  EXPECT_EQ(stops, 1);
}

TEST(TransferWindow, ClosingDuringARunOnlyMinimises) {
  TfrmMail w;
  w.show();
  w.close();
  EXPECT_TRUE(w.isVisible());
  w.SetRunActive(false);
  w.close();
  EXPECT_FALSE(w.isVisible());
}

TEST(PasswordWindow, OffersToSaveThePassword) {
  TfrmPassword dlg(QStringLiteral("Enter password for Home"));
  EXPECT_EQ(dlg.edtPassword->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dlg.chkSavePassword->text(), QStringLiteral("Save password on disk"));
  EXPECT_FALSE(dlg.chkSavePassword->isChecked());
  dlg.edtPassword->setText(QStringLiteral("secret"));
  dlg.chkSavePassword->setChecked(true);
  const PasswordAnswer a = dlg.Answer();
  EXPECT_EQ(a.password, "secret");
  EXPECT_TRUE(a.save);

  // Cancel gives nothing.
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->reject();
  });
  EXPECT_FALSE(AskPassword(nullptr, QStringLiteral("Enter password for Home")).has_value());
}

}  // namespace
}  // namespace px::desk
