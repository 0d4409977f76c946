#include "store/ui/collision_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace px::store;
using namespace px::store::ui;

TEST(OpsCollisionDialog, AnswersFollowTheControls) {
  CollisionQuestion q{"Report.doc", "Report (2)", "", true, true};
  TfrmRename dlg(q);
  EXPECT_EQ(dlg.windowTitle(), "Plumadex");
  EXPECT_EQ(dlg.edtName->text(), "Report (2)");
  ASSERT_NE(dlg.cbApplyAll, nullptr);
  dlg.edtName->setText("Other");
  dlg.cbApplyAll->setChecked(true);
  dlg.accept();
  CollisionAnswer a = dlg.Answer();
  EXPECT_EQ(a.action, CollisionAction::Rename);
  EXPECT_EQ(a.title, "Other");
  EXPECT_TRUE(a.applyToAll);

  TfrmRename replace(q);
  replace.rbReplace->setChecked(true);
  replace.accept();
  EXPECT_EQ(replace.Answer().action, CollisionAction::Replace);

  TfrmRename cancel(q);
  cancel.reject();
  EXPECT_EQ(cancel.Answer().action, CollisionAction::Skip);

  CollisionQuestion single{"F", "F (2)", "", false, false};
  TfrmRename folder(single);
  EXPECT_EQ(folder.cbApplyAll, nullptr);
  EXPECT_FALSE(folder.rbReplace->isEnabled());
}
