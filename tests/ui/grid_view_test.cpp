// The grid and tree widgets over their models: clicks in row zones, header clicks and
// resizes, type-ahead, and the desk browser listing, deleting into the trash and colouring.
#include "desk/desk_state.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/icon_worker.h"
#include "desk/ui/tree_view.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "ui/browser_frame.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <filesystem>

#include <gtest/gtest.h>

using namespace px;
using namespace px::desk;

namespace {

store::DocRecord Rec(std::string title, std::string ext, double date, int flags, std::string msgId) {
  store::DocRecord r;
  r.folder = "/d/";
  r.title = std::move(title);
  r.ext = std::move(ext);
  r.name = r.title + "." + r.ext;
  r.date = date;
  r.flags = flags;
  r.msgId = std::move(msgId);
  return r;
}

class GridPanelTest : public ::testing::Test {
protected:
  void SetUp() override {
    panel = std::make_unique<GridPanel>(&settings, nullptr);
    panel->resize(1000, 600);
    panel->show();
    QApplication::processEvents();
  }
  QPoint RowPoint(int visibleRow, int x) const {
    const int h = panel->grid()->rowHeight();
    return {x, visibleRow * h + h / 2};
  }
  Settings settings;
  std::unique_ptr<GridPanel> panel;
};

TEST_F(GridPanelTest, ExpanderCollapsesTheBundleAndReportsTheFlags) {
  store::DocRows rows;
  rows.push_back(Rec("Hello", "txt", 200, 0x1001, "B:001/003"));
  rows.push_back(Rec("a", "pdf", 200, 0x1001, "B:002/003"));
  rows.push_back(Rec("b", "pdf", 200, 0x1001, "B:003/003"));
  panel->SetRows(std::move(rows));
  ASSERT_EQ(panel->model().VisibleCount(), 3u);
  int toggled = -1, flags = 0;
  QObject::connect(panel.get(), &GridPanel::CollapseToggled, [&](int r, int f) {
    toggled = r;
    flags = f;
  });
  QTest::mouseClick(panel->grid()->viewport(), Qt::LeftButton, {}, RowPoint(0, 32));
  EXPECT_EQ(toggled, 0);
  EXPECT_TRUE(flags & store::dfCollapsed);
  EXPECT_EQ(panel->model().VisibleCount(), 1u);
  EXPECT_TRUE(panel->model().rows()[0].selected);

  // The name zone removes and adds rows; the type icon opens.
  int opened = -1;
  QObject::connect(panel.get(), &GridPanel::openRecord, [&](int r) { opened = r; });
  QTest::mouseClick(panel->grid()->viewport(), Qt::LeftButton, {}, RowPoint(0, 200));
  EXPECT_FALSE(panel->model().rows()[0].selected);
  QTest::mouseClick(panel->grid()->viewport(), Qt::LeftButton, {}, RowPoint(0, 200));
  EXPECT_TRUE(panel->model().rows()[0].selected);
  panel->model().ClearSelection();
  QTest::mouseClick(panel->grid()->viewport(), Qt::LeftButton, {}, RowPoint(0, 8));
  EXPECT_EQ(opened, 0);
  EXPECT_TRUE(panel->model().rows()[0].selected);
}

TEST_F(GridPanelTest, ExpanderClickMakesTheParentTheOnlySelection) {
  store::DocRows rows;
  rows.push_back(Rec("Hello", "txt", 200, 0x1001, "B:001/002"));
  rows.push_back(Rec("a", "pdf", 200, 0x1001, "B:002/002"));
  rows.push_back(Rec("loose", "doc", 100, 0, ""));
  panel->SetRows(std::move(rows));
  ASSERT_EQ(panel->model().VisibleCount(), 3u);
  const size_t loose = static_cast<size_t>(panel->model().FindRecord("/d/", "loose.doc"));
  panel->model().SetSelected(loose, true);
  QTest::mouseClick(panel->grid()->viewport(), Qt::LeftButton, {}, RowPoint(0, 32));
  EXPECT_TRUE(panel->model().rows()[0].selected);
  EXPECT_FALSE(panel->model().rows()[loose].selected);
  EXPECT_EQ(panel->model().SelectedCount(), 1u);
}

TEST_F(GridPanelTest, KeyboardDeletesOnlyWhatIsInHandAndIsIdleOnTheToolsTab) {
  store::DocRows rows;
  rows.push_back(Rec("one", "doc", 100, 0, ""));
  rows.push_back(Rec("two", "doc", 200, 0, ""));
  panel->SetRows(std::move(rows));
  int deletes = 0, opened = -1;
  QObject::connect(panel.get(), &GridPanel::DeleteRequested, [&] { ++deletes; });
  QObject::connect(panel.get(), &GridPanel::openRecord, [&](int r) { opened = r; });
  panel->grid()->setFocus();
  QTest::keyClick(panel->grid(), Qt::Key_Delete);
  EXPECT_EQ(deletes, 0);
  panel->model().SelectOnly(0);
  QTest::keyClick(panel->grid(), Qt::Key_Delete);
  EXPECT_EQ(deletes, 1);

  panel->SetTab(GridTab::Tools);
  store::DocRows tools;
  tools.push_back(Rec("page", std::string(1, px::kFolderMarkerExt), 0, 0, ""));
  panel->SetRows(std::move(tools));
  panel->grid()->SetHotRow(0);
  panel->model().SelectOnly(0);
  QTest::keyClick(panel->grid(), Qt::Key_Return);
  QTest::keyClick(panel->grid(), Qt::Key_Delete);
  QTest::keyClick(panel->grid(), Qt::Key_Escape);
  EXPECT_EQ(opened, -1);
  EXPECT_EQ(deletes, 1);
  EXPECT_TRUE(panel->model().rows()[0].selected);
}

TEST_F(GridPanelTest, HeaderClicksSortAndSaveTheOrder) {
  store::DocRows rows;
  rows.push_back(Rec("b", "doc", 2, 0, ""));
  rows.push_back(Rec("a", "doc", 1, 0, ""));
  panel->SetRows(std::move(rows));
  auto sectionX = [&](int section) {
    int x = 0;
    for (int i = 0; i < section; ++i) x += panel->columns().sections[i];
    return x + panel->columns().sections[section] / 2;
  };
  const int y = panel->header()->height() / 2;
  QTest::mouseClick(panel->header(), Qt::LeftButton, {}, QPoint(sectionX(fsName), y));
  EXPECT_EQ(settings.Sorting(), 4);
  EXPECT_EQ(panel->model().rows()[0].title, "a");
  QTest::mouseClick(panel->header(), Qt::LeftButton, {}, QPoint(sectionX(fsSize), y));
  EXPECT_EQ(settings.Sorting(), -7);
  EXPECT_TRUE(settings.ShowSize());
  QTest::mouseClick(panel->header(), Qt::LeftButton, {}, QPoint(sectionX(fsDate), y));
  EXPECT_EQ(settings.Sorting(), -1);
  EXPECT_FALSE(settings.ShowSize());
  EXPECT_EQ(panel->model().rows()[0].title, "b");
}

TEST_F(GridPanelTest, DraggingTheNameEdgeFarStaysWithinClamps) {
  const int edge = panel->columns().sections[fsType] + panel->columns().sections[fsColour] +
                   panel->columns().sections[fsName];
  const int y = panel->header()->height() / 2;
  QTest::mousePress(panel->header(), Qt::LeftButton, {}, QPoint(edge, y));
  QMouseEvent move(QEvent::MouseMove, QPointF(edge + 5000, y), panel->header()->mapToGlobal(QPointF(edge + 5000, y)),
                   Qt::LeftButton, Qt::LeftButton, {});
  QApplication::sendEvent(panel->header(), &move);
  QTest::mouseRelease(panel->header(), Qt::LeftButton, {}, QPoint(edge + 5000, y));
  EXPECT_EQ(settings.FileAddressWidth(), 100);
  QTest::mousePress(panel->header(), Qt::LeftButton, {},
                    QPoint(panel->columns().sections[0] + panel->columns().sections[1] + panel->columns().sections[2], y));
  QTest::mouseRelease(panel->header(), Qt::LeftButton, {}, QPoint(0, y));
  EXPECT_LE(settings.FileAddressWidth(), 500);
  EXPECT_GE(panel->columns().sections[fsName], kMinNameWidth);
}

TEST_F(GridPanelTest, TypeAheadOnTheContactsTab) {
  panel->SetTab(GridTab::Contacts);
  store::DocRows rows;
  for (const char* n : {"Adler, Anna", "Berg, Bob", "Cole, Carl"}) rows.push_back(Rec(n, "vcf", 0, 0, ""));
  panel->SetRows(std::move(rows));
  QString status;
  QObject::connect(panel.get(), &GridPanel::StatusTextChanged, [&](const QString& s) { status = s; });
  panel->grid()->setFocus();
  QTest::keyClicks(panel->grid(), "bo");
  EXPECT_EQ(status, QStringLiteral("  Looking for:  bo"));
  ASSERT_GE(panel->grid()->HotRow(), 0);
  EXPECT_EQ(panel->model().rows()[panel->model().RecordOfVisible(panel->grid()->HotRow())].title, "Berg, Bob");
}

class BrowserTest : public ::testing::Test {
protected:
  void SetUp() override {
    state.locations = ComputeLocations();
    MakeDataFolders(state.locations);
    docs = state.locations.documents;
    test::makeDirs(docs + "Work");
    test::writeFile(docs + "Work/report.doc", "report");
    test::writeFile(docs + "Work/notes.txt", "notes");
    view = LayBrowser(state, host, trees, gridHost, status);
    browser = &view->browser();
    browser->BuildTrees();
  }
  void TearDown() override { view.reset(); }

  TreeNode* Work() { return view->tree(0)->Model().FindNode(docs + "Work/", true); }

  test::TempHome home;
  DeskState state;
  std::string docs;
  QWidget host;
  QTabWidget* trees = nullptr;
  QWidget* gridHost = nullptr;
  QLabel* status = nullptr;
  std::unique_ptr<DeskBrowserView> view;
  DeskBrowser* browser = nullptr;
};

TEST_F(BrowserTest, SelectingANodeListsIt) {
  ASSERT_NE(Work(), nullptr);
  browser->ShowNode(Work());
  EXPECT_EQ(browser->ShownFolder(), docs + "Work/");
  EXPECT_EQ(browser->grid()->model().size(), 2u);
  // The tools tab lists the option pages in page order.
  ASSERT_TRUE(browser->SwitchTab(GridTab::Tools));
  EXPECT_EQ(browser->grid()->model().size(), 8u);
  EXPECT_EQ(browser->grid()->model().rows()[0].title, "Personal settings");
  ASSERT_TRUE(browser->SwitchTab(GridTab::Files));
}

TEST_F(BrowserTest, OptionsButtonShowsTheToolsTreeAndReturnsToTheTabBefore) {
  QPushButton* btn = view->optionsButton();
  ASSERT_NE(btn, nullptr);
  EXPECT_EQ(btn->text(), QStringLiteral("Options  >>"));
  EXPECT_FALSE(trees->tabBar()->isTabVisible(2));
  trees->setCurrentIndex(1);
  ASSERT_EQ(browser->CurrentTab(), GridTab::Contacts);
  btn->click();
  EXPECT_EQ(browser->CurrentTab(), GridTab::Tools);
  EXPECT_EQ(btn->text(), QStringLiteral("<<  Options"));
  EXPECT_EQ(browser->grid()->model().size(), 8u);
  btn->click();
  EXPECT_EQ(browser->CurrentTab(), GridTab::Contacts);
  EXPECT_EQ(btn->text(), QStringLiteral("Options  >>"));
  // A tab clicked while the tools tree is shown leaves it as well.
  btn->click();
  trees->setCurrentIndex(0);
  EXPECT_EQ(browser->CurrentTab(), GridTab::Files);
  EXPECT_EQ(btn->text(), QStringLiteral("Options  >>"));
}

TEST_F(BrowserTest, ATabSwitchTheProgramMakesShowsOnTheTabs) {
  // Carrying documents back from the contacts switches to the files: the tabs follow.
  trees->setCurrentIndex(1);
  ASSERT_EQ(browser->CurrentTab(), GridTab::Contacts);
  ASSERT_TRUE(browser->SwitchTab(GridTab::Files));
  EXPECT_EQ(trees->currentIndex(), 0);
  ASSERT_TRUE(browser->SwitchTab(GridTab::Tools));
  EXPECT_EQ(trees->currentIndex(), 2);
  EXPECT_EQ(view->optionsButton()->text(), QStringLiteral("<<  Options"));
  // A refused switch leaves the tabs where they were.
  state.busy = true;
  trees->setCurrentIndex(1);
  EXPECT_EQ(trees->currentIndex(), 2);
  EXPECT_EQ(browser->CurrentTab(), GridTab::Tools);
  state.busy = false;
}

TEST_F(BrowserTest, FavoritesListTheirOwnFolderNeverTheDocuments) {
  test::writeFile(docs + "loose.txt", "x");
  TreeNode* fav = nullptr;
  for (auto& c : browser->root(0)->children)
    if (c->image == niFavorites) fav = c.get();
  ASSERT_NE(fav, nullptr);
  EXPECT_EQ(fav->path, state.locations.dataRoot + "Favorites/");
  browser->ShowNode(fav);
  EXPECT_EQ(browser->ShownFolder(), state.locations.dataRoot + "Favorites/");
  EXPECT_EQ(browser->grid()->model().size(), 0u);
  // A favourites node without a folder lists nothing.
  fav->path.clear();
  browser->ShowNode(browser->root(0));
  browser->ShowNode(fav);
  EXPECT_EQ(browser->grid()->model().size(), 0u);
  EXPECT_TRUE(browser->ShownFolder().empty());
}

TEST_F(BrowserTest, MoveDefaultReadsAsCopyOnRestrictedAndFavouritesNodesOnly) {
  int changes = 0;
  browser->dragDefaultChanged = [&] { ++changes; };
  browser->SetDragDefault(true);
  EXPECT_EQ(state.settings.CopyMove(), 1);
  browser->ShowNode(Work());
  EXPECT_TRUE(browser->DragMoves());
  TreeNode* fav = nullptr;
  TreeNode* computer = nullptr;
  for (auto& c : browser->root(0)->children) {
    if (c->image == niFavorites) fav = c.get();
    if (c->image == niComputer) computer = c.get();
  }
  ASSERT_NE(fav, nullptr);
  ASSERT_NE(computer, nullptr);
  const int before = changes;
  browser->ShowNode(fav);
  EXPECT_FALSE(browser->DragMoves());
  EXPECT_EQ(state.settings.CopyMove(), 1);  // the saved setting stays
  EXPECT_GT(changes, before);
  browser->ShowNode(computer);
  EXPECT_FALSE(browser->DragMoves());
  // The user may pick "move" again on such a node.
  browser->SetDragDefault(true);
  EXPECT_TRUE(browser->DragMoves());
  browser->ShowNode(Work());
  EXPECT_TRUE(browser->DragMoves());
  browser->SetDragDefault(false);
  browser->ShowNode(fav);
  EXPECT_FALSE(browser->DragMoves());
  EXPECT_EQ(state.settings.CopyMove(), 0);
}

TEST_F(BrowserTest, ReturningToAFolderRestoresItsTopRowUnderTheSameOrder) {
  for (int i = 0; i < 120; ++i) test::writeFile(docs + "Work/f" + std::to_string(i) + ".txt", "x");
  host.resize(900, 500);
  gridHost->resize(700, 400);
  view->grid()->resize(700, 400);
  host.show();
  QApplication::processEvents();
  TreeNode* other = browser->root(0);
  browser->ShowNode(Work());
  browser->grid()->SetTopRow(50);
  ASSERT_EQ(browser->grid()->TopRow(), 50);
  browser->ShowNode(other);
  browser->ShowNode(Work());
  EXPECT_EQ(browser->grid()->TopRow(), 50);
  // Under another order the list starts at the top.
  browser->grid()->SetTopRow(40);
  browser->ShowNode(other);
  state.settings.SetSorting(4);
  browser->ShowNode(Work());
  EXPECT_EQ(browser->grid()->TopRow(), 0);
}

TEST_F(BrowserTest, DeleteMovesTheSelectionIntoTheTrash) {
  browser->ShowNode(Work());
  auto& model = browser->grid()->model();
  const int r = model.FindRecord(docs + "Work/", "report.doc");
  ASSERT_GE(r, 0);
  model.SelectOnly(r);
  browser->DeleteAction();
  EXPECT_FALSE(std::filesystem::exists(docs + "Work/report.doc"));
  EXPECT_TRUE(std::filesystem::exists(state.locations.trash + "report.doc"));
  EXPECT_EQ(model.size(), 1u);
  TreeNode* trash = nullptr;
  for (auto& c : browser->root(0)->children)
    if (c->image == niTrashFull || c->image == niTrashEmpty) trash = c.get();
  ASSERT_NE(trash, nullptr);
  EXPECT_EQ(trash->image, niTrashFull);
  // A trash holding only files has nothing to expand; a folder put there shows below it.
  EXPECT_FALSE(trash->hasSubfolders);
  test::makeDirs(state.locations.trash + "Old");
  browser->CheckTrash();
  EXPECT_TRUE(trash->hasSubfolders);
  view->tree(0)->Model().Load(trash);
  test::makeDirs(state.locations.trash + "Older");
  browser->CheckTrash();
  ASSERT_EQ(trash->children.size(), 2u);
  EXPECT_EQ(trash->children[1]->caption, "Older");
}

TEST_F(BrowserTest, CollapsingAContactsBundleIsKeptInItsFlags) {
  const std::string contacts = state.locations.contacts;
  test::writeFile(contacts + "ann.vcf",
                  "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Example;Ann\r\nFN:Ann Example\r\n"
                  "EMAIL;INTERNET:ann@example.org\r\nEMAIL;INTERNET:ann@work.example\r\n"
                  "EMAIL;INTERNET:ann@home.example\r\nEND:VCARD\r\n");
  {
    store::IniRegistry reg;
    store::TPXIniFile ini(reg, store::IndexPathOf(contacts));
    ini.WriteString("ann.vcf", "Title", "Ann Example");
    ini.WriteString("ann.vcf", "Address", "ann@example.org");
    ini.WriteString("ann.vcf", "Addresses", "ann@work.example, ann@home.example");
  }
  host.resize(900, 500);
  gridHost->resize(700, 400);
  view->grid()->resize(700, 400);
  host.show();
  ASSERT_TRUE(browser->SwitchTab(GridTab::Contacts));
  browser->ShowNode(browser->root(1));
  QApplication::processEvents();
  auto& model = browser->grid()->model();
  ASSERT_EQ(model.VisibleCount(), 3u);
  const int h = view->grid()->grid()->rowHeight();
  QTest::mouseClick(view->grid()->grid()->viewport(), Qt::LeftButton, {}, QPoint(32, h / 2));
  EXPECT_EQ(model.VisibleCount(), 1u);
  {
    store::IniRegistry reg;
    store::TPXIniFile ini(reg, store::IndexPathOf(contacts));
    EXPECT_TRUE(std::stoi(ini.ReadString("ann.vcf", "Flags", "0")) & store::dfCollapsed);
  }
  // Listed again, the bundle stays collapsed.
  browser->ShowNode(browser->root(1));
  EXPECT_EQ(browser->grid()->model().VisibleCount(), 1u);
}

TEST_F(BrowserTest, WheelOverTheTreesAndTheGridMovesTheGrid) {
  for (int i = 0; i < 120; ++i) test::writeFile(docs + "Work/f" + std::to_string(i) + ".txt", "x");
  host.resize(900, 500);
  gridHost->resize(700, 400);
  view->grid()->resize(700, 400);
  host.show();
  QApplication::processEvents();
  browser->ShowNode(Work());
  QApplication::processEvents();
  TheGrid* g = view->grid()->grid();
  ASSERT_GT(g->verticalScrollBar()->maximum(), 3);
  auto wheel = [](QWidget* w, int delta) {
    QWheelEvent e(QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
  };
  ASSERT_EQ(g->topRow(), 0);
  wheel(g->viewport(), -120);
  EXPECT_EQ(g->topRow(), 1);
  wheel(view->tree(0)->viewport(), -240);
  EXPECT_EQ(g->topRow(), 3);
  wheel(g->verticalScrollBar(), 120);
  EXPECT_EQ(g->topRow(), 2);
  wheel(view->tree(1)->viewport(), 1200);
  EXPECT_EQ(g->topRow(), 0);
}

TEST_F(BrowserTest, FoldersMadeOrRemovedOutsideShowInTheTreeWithoutCollapsingOthers) {
  state.initialised = true;
  test::makeDirs(docs + "Work/Inner");
  TreeNode* work = Work();
  ASSERT_NE(work, nullptr);
  browser->ShowNode(work, true);
  ASSERT_TRUE(work->expanded);
  browser->CheckFolderChanges();  // the open folders are watched from here on

  test::makeDirs(docs + "Made by a shell");
  test::makeDirs(docs + "Work/Second");
  browser->CheckFolderChanges();
  TreeNode* root = browser->root(0);
  EXPECT_NE(FindTreeNode(*root, docs + "Made by a shell/", nullptr), nullptr);
  EXPECT_EQ(Work(), work);  // the same node, still open, with its new child
  EXPECT_TRUE(work->expanded);
  EXPECT_NE(FindTreeNode(*work, docs + "Work/Second/", nullptr), nullptr);
  EXPECT_EQ(browser->ShownNode(), work);
  const QModelIndex item = view->tree(0)->Model().IndexOf(work);
  ASSERT_TRUE(item.isValid());
  EXPECT_TRUE(view->tree(0)->isExpanded(item));
  EXPECT_EQ(view->tree(0)->model()->rowCount(item), 2);

  std::filesystem::remove_all(docs + "Made by a shell");
  browser->CheckFolderChanges();
  EXPECT_EQ(FindTreeNode(*root, docs + "Made by a shell/", nullptr), nullptr);
  EXPECT_TRUE(view->tree(0)->isExpanded(view->tree(0)->Model().IndexOf(work)));
}

TEST_F(BrowserTest, DuplicateAndDeletingOnlyASticker) {
  {
    store::IniRegistry reg;
    store::TPXIniFile ini(reg, store::IndexPathOf(docs + "Work/"));
    ini.WriteString("report.doc", "Sticker", "call Ann");
  }
  host.resize(900, 500);
  gridHost->resize(700, 400);
  view->grid()->resize(700, 400);
  host.show();
  browser->ShowNode(Work());
  QApplication::processEvents();
  auto& model = browser->grid()->model();
  const int notes = model.FindRecord(docs + "Work/", "notes.txt");
  ASSERT_GE(notes, 0);
  model.SelectOnly(notes);
  browser->aDuplicateExecute("notes again");
  EXPECT_EQ(test::readFile(docs + "Work/notes again.txt"), "notes");
  EXPECT_EQ(browser->grid()->model().size(), 3u);

  // With the pointer on a row's sticker mark Delete takes only the sticker.
  auto& rows = browser->grid()->model();
  const int report = rows.FindRecord(docs + "Work/", "report.doc");
  ASSERT_GE(report, 0);
  rows.SelectOnly(report);
  int visible = -1;
  for (size_t v = 0; v < rows.VisibleCount(); ++v)
    if (rows.RecordOfVisible(v) == static_cast<size_t>(report)) visible = static_cast<int>(v);
  ASSERT_GE(visible, 0);
  TheGrid* g = view->grid()->grid();
  const int h = g->rowHeight();
  QTest::mouseMove(g->viewport(), QPoint(50, visible * h + h / 2));
  ASSERT_EQ(browser->grid()->StickerMarkUnderPointer(), report);
  browser->DeleteAction();
  EXPECT_TRUE(std::filesystem::exists(docs + "Work/report.doc"));
  store::IniRegistry reg;
  store::TPXIniFile ini(reg, store::IndexPathOf(docs + "Work/"));
  EXPECT_EQ(ini.ReadString("report.doc", "Sticker", "-"), "-");
  EXPECT_TRUE(rows.rows()[report].sticker.empty());
}

TEST_F(BrowserTest, ColourLabelIsWrittenToTheIndex) {
  browser->ShowNode(Work());
  auto& model = browser->grid()->model();
  const int r = model.FindRecord(docs + "Work/", "notes.txt");
  ASSERT_GE(r, 0);
  model.SelectOnly(r);
  browser->ApplyColour(3);
  store::IniRegistry reg;
  store::TPXIniFile ini(reg, store::IndexPathOf(docs + "Work/"));
  EXPECT_EQ(store::ColourOfFlags(std::stoi(ini.ReadString("notes.txt", "Flags", "0"))), 3);
}

TEST_F(BrowserTest, LargeFoldersAreListedInAWorker) {
  const std::string big = docs + "Big/";
  test::makeDirs(big);
  for (size_t i = 0; i < kWorkerListingThreshold + 10; ++i) test::writeFile(big + "f" + std::to_string(i) + ".txt", "x");
  view->tree(0)->Model().Load(browser->root(0));
  TreeNode* node = view->tree(0)->Model().FindNode(big, true);
  ASSERT_NE(node, nullptr);
  bool listed = false;
  browser->listed = [&] { listed = true; };
  browser->ShowNode(node);
  EXPECT_TRUE(browser->listing().Running() || listed);
  QElapsedTimer t;
  t.start();
  while (!listed && t.elapsed() < 20000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_TRUE(listed);
  EXPECT_EQ(browser->grid()->model().size(), kWorkerListingThreshold + 10);
}

}  // namespace

namespace {

TEST(IconWorkerTest, MakesEachIconOnceAndHandsItOver) {
  IconWorker icons(16);
  QStringList ready;
  QObject::connect(&icons, &IconWorker::iconReady, [&](const QString& k) { ready << k; });
  const QString key = IconWorker::ExtKey("TXT");
  EXPECT_EQ(key, QStringLiteral("ext:txt"));
  EXPECT_TRUE(icons.Icon(key).isNull());  // not made yet
  icons.Icon(key);                        // asked again while pending: no second request
  EXPECT_EQ(icons.Pending(), 1);
  QElapsedTimer t;
  t.start();
  while (ready.isEmpty() && t.elapsed() < 10000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(ready, QStringList{key});
  EXPECT_EQ(icons.Pending(), 0);
  icons.Icon(key);  // cached (with or without an image): never asked again
  EXPECT_EQ(icons.Pending(), 0);
}

}  // namespace
