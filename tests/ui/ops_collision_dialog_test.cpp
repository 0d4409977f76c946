// The name-collision dialog: the model's answer for every button, and the window over it.
#include "dialogs/collision_prompt.h"
#include "dialogs/ui/frm_rename.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace px::store;
using namespace px::dialogs;
using namespace px::dialogs::ui;

TEST(OpsCollisionDialog, EachButtonGivesItsAnswer) {
  struct Case {
    const char* what;
    bool several, replaceOffered;
    CollisionAction pressed;
    const char* edited;
    bool forAll;
    CollisionAction action;
    const char* title;
    bool applyToAll;
  };
  const Case cases[] = {
      {"replace", true, true, CollisionAction::Replace, "Report (2)", false, CollisionAction::Replace, "", false},
      {"replace for all", true, true, CollisionAction::Replace, "", true, CollisionAction::Replace, "", true},
      {"keep both, proposed name", true, true, CollisionAction::Rename, "Report (2)", false, CollisionAction::Rename, "Report (2)", false},
      {"keep both, edited name", true, true, CollisionAction::Rename, "  Other  ", true, CollisionAction::Rename, "Other", true},
      {"keep both, emptied name takes the proposed", false, true, CollisionAction::Rename, " ", false, CollisionAction::Rename, "Report (2)", false},
      {"skip for all", true, true, CollisionAction::Skip, "", true, CollisionAction::Skip, "", true},
      {"for all on one document is not kept", false, true, CollisionAction::Skip, "", true, CollisionAction::Skip, "", false},
      {"replace not offered skips", false, false, CollisionAction::Replace, "", false, CollisionAction::Skip, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CollisionPrompt p(CollisionQuestion{"Report.doc", "Report (2)", "", c.several, c.replaceOffered});
    const CollisionAnswer a = p.Choose(c.pressed, c.edited, c.forAll);
    EXPECT_EQ(a.action, c.action);
    EXPECT_EQ(a.title, c.title);
    EXPECT_EQ(a.applyToAll, c.applyToAll);
  }
  CollisionPrompt p(CollisionQuestion{"Report.doc", "Report (2)", "", true, true});
  EXPECT_EQ(p.Dismissed().action, CollisionAction::Skip);
  EXPECT_FALSE(p.Dismissed().applyToAll);
}

TEST(OpsCollisionDialog, ANameInAnotherCharsetIsShownAndReturnedInIt) {
  // "Отчёт (2)" in windows-1251.
  const std::string cp1251 = "\xCE\xF2\xF7\xB8\xF2 (2)";
  CollisionPrompt p(CollisionQuestion{"x.doc", cp1251, "windows-1251", false, true});
  EXPECT_EQ(p.ProposedName(), "Отчёт (2)");
  EXPECT_EQ(p.Choose(CollisionAction::Rename, "Отчёт (2)", false).title, cp1251);
  EXPECT_EQ(p.Choose(CollisionAction::Rename, "Отчёт", false).title, "\xCE\xF2\xF7\xB8\xF2");
}

TEST(OpsCollisionDialog, TheWindowAnswersThroughItsButtons) {
  CollisionQuestion q{"Report.doc", "Report (2)", "", true, true};
  {
    TfrmRename dlg(q);
    EXPECT_EQ(dlg.windowTitle(), "Plumadex");
    EXPECT_EQ(dlg.edtName->text(), "Report (2)");
    ASSERT_NE(dlg.chkAll, nullptr);
    EXPECT_TRUE(dlg.btnKeepBoth->isDefault());
    dlg.edtName->setText("Other");
    dlg.chkAll->setChecked(true);
    QTest::mouseClick(dlg.btnKeepBoth, Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    const CollisionAnswer a = dlg.Answer();
    EXPECT_EQ(a.action, CollisionAction::Rename);
    EXPECT_EQ(a.title, "Other");
    EXPECT_TRUE(a.applyToAll);
  }
  {
    TfrmRename dlg(q);
    QTest::mouseClick(dlg.btnReplace, Qt::LeftButton);
    EXPECT_EQ(dlg.Answer().action, CollisionAction::Replace);
  }
  {
    TfrmRename dlg(q);
    QTest::mouseClick(dlg.btnSkip, Qt::LeftButton);
    EXPECT_EQ(dlg.Answer().action, CollisionAction::Skip);
  }
  {
    TfrmRename dlg(q);
    dlg.edtName->clear();
    EXPECT_FALSE(dlg.btnKeepBoth->isEnabled());
    dlg.reject();
    EXPECT_EQ(dlg.Answer().action, CollisionAction::Skip);
  }
  // One folder: no "for all", and a folder is never replaced.
  TfrmRename folder(CollisionQuestion{"F", "F (2)", "", false, false});
  EXPECT_EQ(folder.chkAll, nullptr);
  EXPECT_FALSE(folder.btnReplace->isEnabled());
  // Sized from its layout: nothing is cut off at the font in use.
  folder.show();
  EXPECT_GE(folder.width(), folder.sizeHint().width());
  EXPECT_GE(folder.height(), folder.sizeHint().height());
}
