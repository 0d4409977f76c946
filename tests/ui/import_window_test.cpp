// "Import to Plumadex" over its model: what was found is listed ticked, "Browse..." adds a
// source, the ticks steer "Import", the run shows its progress and closes the window, Cancel
// before the run just closes it.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "foundation/random.h"
#include "foundation/settings.h"
#include "import/ui/frm_import.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "support/thunderbird_profile.h"

namespace px::import::ui {
namespace {

class ImportWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    tb = test::MakeThunderbirdProfile(home.path("home/"));
    test::makeDirs(home.path("docs/Contacts"));
    test::makeDirs(home.path("data/Inbox"));
    context.contactsFolder = home.path("docs/Contacts/");
    context.registry = &registry;
    context.settings = &settings;
    context.random = &random;
  }
  test::TempHome home;
  test::ThunderbirdProfile tb;
  store::IniRegistry registry;
  Settings settings;
  RandomSource random{3};
  ImportContext context;
};

TEST_F(ImportWindowTest, BrowsedSourcesAreListedTickedAndTheRunClosesTheWindow) {
  ImportModel model(home.path("data/Inbox/"), home.path("data/Import/"));
  TfrmImport w(model, context);
  w.show();
  EXPECT_EQ(w.lstImport->count(), 0);
  EXPECT_FALSE(w.btnImport->isEnabled());
  std::string asked;
  w.choosePath = [&](const std::string& kind, bool folder, const QString&) {
    asked = kind;
    EXPECT_TRUE(folder);
    return QString::fromStdString(tb.profile);
  };
  w.Browse("thunderbird");
  EXPECT_EQ(asked, "thunderbird");
  ASSERT_EQ(w.lstImport->count(), 3);
  EXPECT_TRUE(w.btnImport->isEnabled());
  EXPECT_TRUE(w.lstAccounts->isVisibleTo(&w));
  EXPECT_EQ(w.lstAccounts->count(), 1);

  // Unticking everything turns "Import" off; a tick turns it on again.
  QTest::mouseClick(w.btnUnselect, Qt::LeftButton);
  EXPECT_FALSE(w.btnImport->isEnabled());
  EXPECT_FALSE(w.lstAccounts->isVisibleTo(&w));
  w.lstImport->item(0)->setCheckState(Qt::Checked);
  EXPECT_TRUE(model.items()[0].checked);
  EXPECT_TRUE(w.btnImport->isEnabled());

  QTest::mouseClick(w.btnImport, Qt::LeftButton);
  EXPECT_TRUE(w.lblWorking->isVisibleTo(&w));
  EXPECT_FALSE(w.lstImport->isVisibleTo(&w));
  QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 15000);
  EXPECT_EQ(w.result(), QDialog::Accepted);
  EXPECT_EQ(model.totals().messages, 4u);
  EXPECT_EQ(model.totals().contacts, 0);  // not ticked
  EXPECT_EQ(w.lblCount->text().right(19), QStringLiteral(" messages processed"));
}

TEST_F(ImportWindowTest, NothingFoundSaysSoAndCancelClosesBeforeTheRun) {
  ImportModel model(home.path("data/Inbox/"), home.path("data/Import/"));
  TfrmImport w(model, context);
  w.show();
  EXPECT_TRUE(w.lblSelect->text().contains(QStringLiteral("Browse")));
  // A place that holds nothing to import: said in a message, nothing listed.
  w.choosePath = [&](const std::string&, bool, const QString&) { return QString::fromStdString(home.path("docs/")); };
  QTimer closer;
  closer.setInterval(50);
  QObject::connect(&closer, &QTimer::timeout, [] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (top->inherits("QMessageBox") && top->isVisible()) top->close();
  });
  closer.start();
  w.Browse("maildir");
  closer.stop();
  EXPECT_EQ(w.lstImport->count(), 0);
  QTest::mouseClick(w.btnCancel, Qt::LeftButton);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace px::import::ui
