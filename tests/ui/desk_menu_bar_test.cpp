// The desk's menu bar, toolbar and keys over the command table, and the context menus on the
// empty space of the grid and the trees.
#include "desk/desk_commands.h"
#include "desk/ui/desk_menu_bar.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/tree_view.h"
#include "support/fake_desk_clock.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

using namespace px;
using namespace px::desk;

namespace {

TEST(DeskCommandTable, EveryMenuHasItsCommandsAndLaterPartsCanAddTheirs) {
  DeskCommands c;
  EXPECT_EQ(DeskCommands::Menus(), (std::vector<std::string>{"File", "Edit", "View", "Mail", "Tools", "Help"}));
  for (const auto& menu : DeskCommands::Menus()) EXPECT_FALSE(c.InMenu(menu).empty()) << menu;
  const DeskCommand* n = c.Find("actNewMessage");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->shortcut, "Ctrl+N");
  EXPECT_TRUE(n->toolbar);
  // Nobody provides it yet: shown, disabled, and running it does nothing.
  EXPECT_FALSE(c.Enabled("actNewMessage"));
  EXPECT_FALSE(c.Run("actNewMessage"));
  int runs = 0;
  bool allowed = false;
  ASSERT_TRUE(c.Provide("actNewMessage", [&] { ++runs; }, [&] { return allowed; }));
  EXPECT_FALSE(c.Run("actNewMessage"));
  allowed = true;
  EXPECT_TRUE(c.Run("actNewMessage"));
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(c.Provide("actNoSuchThing", [] {}));
  // A later part adds its command where it belongs.
  DeskCommand imp;
  imp.id = "actImportContacts";
  imp.menus = {"File"};
  imp.text = "Import contacts...";
  ASSERT_TRUE(c.Add(imp, "actNewDocument"));
  EXPECT_FALSE(c.Add(imp));
  const auto file = c.InMenu("File");
  auto at = std::find_if(file.begin(), file.end(), [](const DeskCommand* d) { return d->id == "actNewDocument"; });
  ASSERT_NE(at, file.end());
  ASSERT_NE(at + 1, file.end());
  EXPECT_EQ((*(at + 1))->id, "actImportContacts");
}

class DeskMenuTest : public ::testing::Test {
protected:
  void SetUp() override {
    state.registry = std::make_unique<platform::MemoryRegistry>();
    DeskOptions options;
    options.singleInstance = false;
    auto c = std::make_unique<test::FakeDeskClock>(0);
    clock = c.get();
    options.clock = std::move(c);
    desk = std::make_unique<TfrmDesk>(state, std::move(options));
    desk->resize(1000, 700);
    desk->show();
    QApplication::processEvents();
    desk->controller().OnApp();
    QApplication::processEvents();
    desk->commands().Provide("actNewMessage", [this] { ++newMessages; });
  }
  void TearDown() override { desk.reset(); }

  // The entries of the popup menu that `open` brings up (closed again at once).
  QStringList PopupEntries(const std::function<void()>& open) {
    QStringList names;
    QTimer::singleShot(200, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (QAction* a : menu->actions())
          if (!a->isSeparator()) names << (a->objectName().isEmpty() ? a->text() : a->objectName());
        menu->close();
      }
    });
    open();
    return names;
  }

  test::TempHome home;
  DeskState state;
  test::FakeDeskClock* clock = nullptr;
  std::unique_ptr<TfrmDesk> desk;
  int newMessages = 0;
};

}  // namespace

TEST_F(DeskMenuTest, TheMenuBarHoldsEveryCommandWithItsShortcut) {
  QMenuBar* bar = desk->menuBar();
  ASSERT_NE(bar, nullptr);
  QStringList titles;
  for (QAction* a : bar->actions()) titles << a->text().remove(QLatin1Char('&'));
  EXPECT_EQ(titles, (QStringList{"File", "Edit", "View", "Mail", "Tools", "Help"}));
  for (const DeskCommand& c : desk->commands().All()) {
    QAction* a = desk->findChild<QAction*>(QString::fromStdString(c.id));
    ASSERT_NE(a, nullptr) << c.id;
    if (c.shortcut.empty()) continue;
    // Shown beside its text, whoever takes the key.
    const QString key = QKeySequence(QString::fromStdString(c.shortcut)).toString(QKeySequence::NativeText);
    EXPECT_TRUE(a->shortcut().toString(QKeySequence::NativeText) == key || a->text().endsWith(key)) << c.id;
  }
  // What the grid and the trees take themselves is shown only.
  EXPECT_TRUE(desk->findChild<QAction*>(QStringLiteral("actDelete"))->shortcut().isEmpty());
  // New Message is in File and in Mail, on the toolbar and behind Ctrl+N.
  QAction* newMessage = desk->findChild<QAction*>(QStringLiteral("actNewMessage"));
  EXPECT_EQ(newMessage->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
  EXPECT_TRUE(desk->findChild<QMenu*>(QStringLiteral("mnuFile"))->actions().contains(newMessage));
  EXPECT_TRUE(desk->findChild<QMenu*>(QStringLiteral("mnuMail"))->actions().contains(newMessage));
  auto* toolbar = desk->findChild<QToolBar*>(QStringLiteral("tbMail"));
  ASSERT_NE(toolbar, nullptr);
  EXPECT_TRUE(toolbar->actions().contains(newMessage));
  for (const char* id : {"actSendReceive", "actReceive", "actSend"})
    EXPECT_TRUE(toolbar->actions().contains(desk->findChild<QAction*>(QLatin1String(id)))) << id;

  newMessage->trigger();
  EXPECT_EQ(newMessages, 1);
  desk->activateWindow();
  QApplication::setActiveWindow(desk.get());
  QTest::keyClick(desk.get(), Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(newMessages, 2);
}

TEST_F(DeskMenuTest, AMenuEnablesItsEntriesAsTheTableSaysWhenItOpens) {
  QMenu* edit = desk->findChild<QMenu*>(QStringLiteral("mnuEdit"));
  ASSERT_NE(edit, nullptr);
  emit edit->aboutToShow();
  // Nothing is selected: nothing to delete or rename.
  EXPECT_FALSE(desk->findChild<QAction*>(QStringLiteral("actDelete"))->isEnabled());
  EXPECT_FALSE(desk->findChild<QAction*>(QStringLiteral("actRename"))->isEnabled());
  EXPECT_TRUE(desk->findChild<QAction*>(QStringLiteral("actPaste"))->isEnabled());
  emit edit->aboutToHide();
  QMenu* help = desk->findChild<QMenu*>(QStringLiteral("mnuHelp"));
  emit help->aboutToShow();
  EXPECT_TRUE(desk->findChild<QAction*>(QStringLiteral("actAbout"))->isEnabled());
}

TEST_F(DeskMenuTest, EmptySpaceOfTheGridAndTheTreesOffersWhatCanBeMadeThere) {
  auto* grid = desk->findChild<GridPanel*>();
  ASSERT_NE(grid, nullptr);
  QWidget* viewport = grid->grid()->viewport();
  const QPoint below(20, viewport->height() - 5);
  const QStringList onGrid =
      PopupEntries([&] { QTest::mousePress(viewport, Qt::RightButton, Qt::NoModifier, below); });
  for (const char* name : {"aNewFolder", "aNewMessage", "aNewDocument", "aPaste"})
    EXPECT_TRUE(onGrid.contains(QLatin1String(name))) << name << " in " << onGrid.join(',').toStdString();

  auto* tree = desk->findChild<TPXTreeView*>(QStringLiteral("FileTree"));
  ASSERT_NE(tree, nullptr);
  const QPoint empty(10, tree->viewport()->height() - 5);
  const QStringList onTree =
      PopupEntries([&] { emit tree->customContextMenuRequested(empty); });
  for (const char* name : {"aNewMessage", "aNewDocument", "aPaste"})
    EXPECT_TRUE(onTree.contains(QLatin1String(name))) << name << " in " << onTree.join(',').toStdString();
  EXPECT_FALSE(onTree.contains(QStringLiteral("Rename...")));
}

TEST(DeskMenuWhileStarting, TheMenusAndKeysWaitForTheCurtainToGo) {
  test::TempHome home;
  DeskState state;
  state.registry = std::make_unique<platform::MemoryRegistry>();
  DeskOptions options;
  options.singleInstance = false;
  auto c = std::make_unique<test::FakeDeskClock>(0);
  options.clock = std::move(c);
  auto desk = std::make_unique<TfrmDesk>(state, std::move(options));
  int runs = 0;
  desk->commands().Provide("actNewMessage", [&] { ++runs; });
  QAction* newMessage = desk->findChild<QAction*>(QStringLiteral("actNewMessage"));
  ASSERT_NE(newMessage, nullptr);
  EXPECT_FALSE(newMessage->isEnabled());
  newMessage->trigger();
  EXPECT_EQ(runs, 0);
  desk->show();
  desk->controller().OnApp();
  QApplication::processEvents();
  EXPECT_FALSE(desk->CurtainShown());
  EXPECT_TRUE(newMessage->isEnabled());
  newMessage->trigger();
  EXPECT_EQ(runs, 1);
}
