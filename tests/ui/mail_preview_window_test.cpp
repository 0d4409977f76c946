// "Plumadex Mail", the preview window: tabs per account, ticked rows, the buttons enabled only
// with a tick, Delete asking first, the rows going as the run reports them.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTreeWidget>

#include "incoming/blocked_senders.h"
#include "incoming/mail_preview.h"
#include "incoming/ui/frm_mail_preview.h"
#include "support/test_support.h"

namespace px::incoming {
namespace {

transport::TMailPreviewItem Item(const std::string& account, const std::string& key, const std::string& from,
                                 const std::string& subject, int64_t size) {
  transport::TMailPreviewItem i;
  i.account = account;
  i.fileName = key;
  i.sender = from;
  i.subject = subject;
  i.size = size;
  i.date = 46000.0 + static_cast<double>(std::stoi(key)) / 24.0;
  return i;
}

class MailPreviewWindow : public ::testing::Test {
protected:
  void SetUp() override {
    blocked.Load(home.path("blacklist.lst"));
    list.Listed(Item("Work", "1", "Boss <boss@work.example>", "Budget", 499));
    list.Listed(Item("Work", "2", "spam@bad.example", "=?UTF-8?B?V0lOIOKCrA==?=", 1500));
    list.Listed(Item("Plumadex server", "3", "ann", "Hello", 500));
  }
  px::test::TempHome home;
  BlockedSenders blocked;
  MailPreviewList list;
};

TEST_F(MailPreviewWindow, ShowsEachAccountsRowsAndActsOnTheTickedOnes) {
  TfrmMailPreview w(list, blocked);
  w.show();
  EXPECT_EQ(w.windowTitle(), "Plumadex Mail");
  ASSERT_EQ(w.tabAccounts->count(), 2);
  EXPECT_EQ(w.tabAccounts->tabText(0), "  Work  ");
  EXPECT_EQ(w.tabAccounts->tabText(1), "  Plumadex server  ");
  ASSERT_EQ(w.lstMessages->topLevelItemCount(), 2);
  QTreeWidgetItem* spam = w.lstMessages->topLevelItem(1);
  EXPECT_EQ(spam->text(0), "spam@bad.example");
  EXPECT_EQ(spam->text(1), QString::fromUtf8("WIN €"));
  EXPECT_EQ(spam->text(3), "2K");
  EXPECT_EQ(w.lstMessages->topLevelItem(0)->text(3), "0K");
  EXPECT_FALSE(spam->text(2).isEmpty());
  EXPECT_TRUE(w.btnDelete->isEnabled());

  // Unticking every row disables the three action buttons; Select All brings them back.
  QTest::mouseClick(w.btnUnselectAll, Qt::LeftButton);
  EXPECT_FALSE(w.btnReceive->isEnabled());
  EXPECT_FALSE(w.btnDelete->isEnabled());
  EXPECT_FALSE(w.btnBlock->isEnabled());
  spam = w.lstMessages->topLevelItem(1);
  spam->setCheckState(0, Qt::Checked);
  EXPECT_TRUE(w.btnDelete->isEnabled());
  EXPECT_EQ(list.Ticked("Work").size(), 1u);

  std::vector<std::pair<std::string, bool>> started;
  w.startAction = [&](const std::string& account, bool deleteOnly) { started.emplace_back(account, deleteOnly); };
  bool answer = false;
  int asked = 0;
  w.confirmDelete = [&] {
    ++asked;
    return answer;
  };
  QTest::mouseClick(w.btnDelete, Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(started.empty());  // "No": nothing happens
  answer = true;
  QTest::mouseClick(w.btnDelete, Qt::LeftButton);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], std::make_pair(std::string("Work"), true));
  // While the run goes the tabs and buttons rest; its report takes the row out.
  EXPECT_FALSE(w.tabAccounts->isEnabled());
  EXPECT_FALSE(w.btnReceive->isEnabled());
  list.Handled("Work", "2");
  w.RunEnded();
  EXPECT_TRUE(w.tabAccounts->isEnabled());
  ASSERT_EQ(w.lstMessages->topLevelItemCount(), 1);
  EXPECT_EQ(w.lstMessages->topLevelItem(0)->text(1), "Budget");
  EXPECT_FALSE(w.btnReceive->isEnabled());  // the row left is unticked

  // Receive on the other tab names that account only.
  w.tabAccounts->setCurrentIndex(1);
  ASSERT_EQ(w.lstMessages->topLevelItemCount(), 1);
  QTest::mouseClick(w.btnReceive, Qt::LeftButton);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[1], std::make_pair(std::string("Plumadex server"), false));
  list.Handled("Plumadex server", "3");
  w.RunEnded();
  EXPECT_EQ(w.tabAccounts->count(), 1);
  EXPECT_TRUE(w.isVisible());
  list.Handled("Work", "1");
  w.RunEnded();
  EXPECT_FALSE(w.isVisible());  // nothing left: the window closes
}

TEST_F(MailPreviewWindow, BlockSelectedBlocksTheSendersAndSaysSo) {
  TfrmMailPreview w(list, blocked);
  w.show();
  w.lstMessages->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  std::string told;
  w.inform = [&](const std::string& t) { told = t; };
  QTest::mouseClick(w.btnBlock, Qt::LeftButton);
  EXPECT_TRUE(blocked.IsBlocked("spam@bad.example"));
  EXPECT_FALSE(blocked.IsBlocked("boss@work.example"));
  EXPECT_NE(told.find("spam@bad.example"), std::string::npos);
  ASSERT_EQ(w.lstMessages->topLevelItemCount(), 1);
  EXPECT_EQ(w.lstMessages->topLevelItem(0)->text(1), "Budget");
  EXPECT_NE(px::test::readFile(home.path("blacklist.lst")).find("spam@bad.example"), std::string::npos);
}

}  // namespace
}  // namespace px::incoming
