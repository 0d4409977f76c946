#include "desk/ui/open_with_dialog.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace px::desk {
namespace {

platform::DesktopEntry App(const std::string& id, const std::string& name) {
  platform::DesktopEntry e;
  e.id = id;
  e.name = name;
  e.application = true;
  e.exec = name + " %f";
  return e;
}

TEST(OpenWithDialogTest, TheTypesProgramsComeFirstAndHeadersCannotBeChosen) {
  TfrmOpenWith dlg("photo.png", "image/png", {App("viewer.desktop", "Viewer")},
                   {App("editor.desktop", "Editor"), App("gimp.desktop", "Painter")});
  QListWidget* list = dlg.List();
  ASSERT_EQ(list->count(), 5);  // two headers and three programs
  EXPECT_EQ(list->item(0)->flags(), Qt::NoItemFlags);
  EXPECT_EQ(list->currentRow(), 1);  // the type's first program is preselected
  EXPECT_EQ(list->item(3)->text(), QStringLiteral("Editor"));
  auto* open = dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
  EXPECT_TRUE(open->isEnabled());

  list->setCurrentRow(4);
  QTimer::singleShot(0, &dlg, [&] { dlg.accept(); });
  dlg.exec();
  ASSERT_TRUE(dlg.Chosen());
  EXPECT_EQ(dlg.Chosen()->id, "gimp.desktop");

  TfrmOpenWith cancelled("a.bin", "application/octet-stream", {}, {App("editor.desktop", "Editor")});
  QTimer::singleShot(0, &cancelled, [&] { cancelled.reject(); });
  cancelled.exec();
  EXPECT_FALSE(cancelled.Chosen());
}

}  // namespace
}  // namespace px::desk
