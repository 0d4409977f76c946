// The folder chooser of Copy to... and Move to...: folders only, read as they open, and a
// refused choice keeps the dialog open.
#include <gtest/gtest.h>

#include "desk/ui/folder_chooser.h"
#include "support/test_support.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QTreeView>

namespace px::desk {
namespace {

QModelIndex RowCaptioned(const QAbstractItemModel* m, const QModelIndex& parent, const QString& caption) {
  for (int r = 0; r < m->rowCount(parent); ++r)
    if (m->index(r, 0, parent).data().toString() == caption) return m->index(r, 0, parent);
  return {};
}

TEST(FolderChooserTest, ShowsFoldersOnlyReadsThemAsTheyOpenAndKeepsARefusedChoiceOpen) {
  test::TempHome home;
  const std::string docs = home.path("Documents/");
  test::makeDirs(docs + "Work/Sub/Deep");
  test::makeDirs(docs + "Zeta");
  test::makeDirs(home.path("Favorites/Links"));
  TreeEnvironment env;
  env.documentsFolder = docs;
  env.trashFolder = docs + "TRASH/";
  env.favoritesFolder = home.path("Favorites/");
  env.volumes = [] { return std::vector<MountItem>{}; };
  env.networkPlaces = [] { return std::vector<MountItem>{}; };

  QStringList captions;
  int subRowsBefore = -1, subRowsAfter = -1;
  bool topOpen = false;
  int refusals = 0;
  auto tree = [] {
    auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    return dlg ? dlg->findChild<QTreeView*>(QStringLiteral("tvwFolders")) : nullptr;
  };
  QTimer::singleShot(0, [&] {
    QTreeView* view = tree();
    ASSERT_NE(view, nullptr);
    const QAbstractItemModel* m = view->model();
    const QModelIndex top = m->index(0, 0);
    topOpen = view->isExpanded(top);
    for (int r = 0; r < m->rowCount(top); ++r) captions << m->index(r, 0, top).data().toString();
    const QModelIndex work = RowCaptioned(m, top, QStringLiteral("Work"));
    subRowsBefore = m->rowCount(work);
    view->expand(work);
    subRowsAfter = m->rowCount(work);
    view->setCurrentIndex(RowCaptioned(m, work, QStringLiteral("Sub")));
    qobject_cast<QDialog*>(view->window())->accept();
  });
  const std::string chosen = ChooseCarryFolder(nullptr, QStringLiteral("Move to"), env, [&](const TreeNode* n) {
    if (!n || n->caption != "Sub") return std::string();
    ++refusals;
    // The warning goes away, and the next choice is taken.
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
      QTimer::singleShot(0, [&] {
        QTreeView* view = tree();
        ASSERT_NE(view, nullptr);
        view->setCurrentIndex(RowCaptioned(view->model(), view->model()->index(0, 0), QStringLiteral("Zeta")));
        qobject_cast<QDialog*>(view->window())->accept();
      });
    });
    return std::string("Sorry, but not there.");
  });

  EXPECT_TRUE(topOpen);
  // Favourites and the computer are no place for documents.
  EXPECT_EQ(captions, (QStringList{QStringLiteral("Work"), QStringLiteral("Zeta")}));
  EXPECT_EQ(subRowsBefore, 0);
  EXPECT_EQ(subRowsAfter, 1);
  EXPECT_EQ(refusals, 1);
  EXPECT_EQ(chosen, docs + "Zeta/");
}

}  // namespace
}  // namespace px::desk
