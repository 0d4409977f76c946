// The Mail Sorting window: a person makes "mail from the bank goes to Finance", tests it on a
// folder, orders and ticks rules, and the file holds what the window showed.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "incoming/mail_sort.h"
#include "incoming/ui/frm_mail_sort.h"
#include "store/index_file.h"
#include "store/list_file.h"
#include "support/test_support.h"

namespace px::incoming {
namespace {

TEST(MailSortWindow, ARuleMadeInTheWindowIsSavedAndTested) {
  px::test::TempHome home;
  const std::string docs = home.path("Documents/"), trash = docs + "TRASH/";
  px::test::makeDirs(docs + "Finance/");
  px::test::makeDirs(trash);
  px::test::writeFile(docs + "Statement.txt", "s");
  px::test::writeFile(docs + "Other.txt", "o");
  px::test::writeFile(docs + "Plumadex.ini",
                      "[Statement.txt]\r\nAddress=\"Bank\" <news@bank.example>\r\nMsgID=1:001\r\nFlags=4609\r\n"
                      "[Other.txt]\r\nAddress=ann@example.org\r\nMsgID=2:001\r\nFlags=4609\r\n");
  const std::string file = home.path("mailsort.lst");
  px::test::writeFile(file, "Old|-OC " + docs + "Finance/|S < x\r\n");
  MailSortRules rules;
  rules.Load(file);
  store::IniRegistry registry;
  TfrmMailSort w(rules, registry, docs, trash);
  ASSERT_EQ(w.lstRules->count(), 1);
  EXPECT_EQ(w.lstRules->item(0)->checkState(), Qt::Unchecked);  // disabled rules show unticked

  QTest::mouseClick(w.btnNew, Qt::LeftButton);
  ASSERT_EQ(w.lstRules->count(), 2);
  EXPECT_EQ(w.lstRules->currentItem()->text(), "Rule 001");
  w.edtName->setText("Bank");
  QTest::mouseClick(w.btnRename, Qt::LeftButton);
  w.cbAction->setCurrentIndex(1);
  w.edtFolder->setText(QString::fromStdString(docs + "Finance/"));
  emit w.edtFolder->editingFinished();
  w.cbField[0]->setChecked(true);
  w.edtValue->setText("\"Bank\" <NEWS@bank.example>");
  QTest::mouseClick(w.btnAddCondition, Qt::LeftButton);
  ASSERT_EQ(w.lstConditions->count(), 1);
  EXPECT_EQ(w.lstConditions->item(0)->text(), "\"From\" includes \"news@bank.example\"");
  // Ticking "Account" unticks the address fields.
  w.cbField[6]->setChecked(true);
  EXPECT_FALSE(w.cbField[0]->isChecked());
  w.cbField[6]->setChecked(false);

  w.chooseFolder = [&] { return docs; };
  QTest::mouseClick(w.btnTest, Qt::LeftButton);
  ASSERT_EQ(w.lstTest->count(), 1);
  EXPECT_TRUE(w.lstTest->item(0)->text().startsWith("Statement"));

  // The new rule goes first, and the old one is ticked on.
  QTest::mouseClick(w.btnUp, Qt::LeftButton);
  EXPECT_EQ(w.lstRules->item(0)->text(), "Bank");
  w.lstRules->item(1)->setCheckState(Qt::Checked);
  QTest::mouseClick(w.btnClose, Qt::LeftButton);
  EXPECT_EQ(store::ReadListFile(file),
            (StringList{"Bank|OM " + docs + "Finance/|F < news@bank.example", "Old|OC " + docs + "Finance/|S < x"}));
  // Nothing was moved by the test.
  EXPECT_TRUE(QFile::exists(QString::fromStdString(docs + "Statement.txt")));
}

TEST(MailSortWindow, DeletingARuleChoosesTheNextOne) {
  px::test::TempHome home;
  const std::string file = home.path("mailsort.lst");
  px::test::writeFile(file, "a|OD|S < 1\r\nb|OD|S < 2\r\nc|OD|S < 3\r\n");
  MailSortRules rules;
  rules.Load(file);
  store::IniRegistry registry;
  TfrmMailSort w(rules, registry, home.path("Documents/"), home.path("Documents/TRASH/"));
  w.lstRules->setCurrentRow(1);
  QTest::mouseClick(w.btnDelete, Qt::LeftButton);
  EXPECT_EQ(w.lstRules->currentItem()->text(), "c");
  QTest::mouseClick(w.btnDelete, Qt::LeftButton);
  EXPECT_EQ(w.lstRules->currentItem()->text(), "a");  // the last went: the previous one
}

}  // namespace
}  // namespace px::incoming
