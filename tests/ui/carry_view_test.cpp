// Carrying in the desk's widgets: click-carry-click onto a folder node, Escape, press-drag within
// the grid, Ctrl+X/Ctrl+V, Restore from the trash, files dropped from another program and the
// busy refusal.
#include "desk/desk_state.h"
#include "desk/ui/carry_view.h"
#include "desk/ui/desk_prompts.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/tree_view.h"
#include "foundation/message_queue.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "ui/browser_frame.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QGuiApplication>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <filesystem>

#include <gtest/gtest.h>

using namespace px;
using namespace px::desk;

namespace {

// The desk's dialogs, with the name of a new document answered from the test.
class NamePrompts : public DialogPrompts {
public:
  NamePrompts(QWidget* parent, const std::optional<std::string>& answer) : DialogPrompts(parent), answer_(answer) {}
  std::optional<std::string> AskText(const std::string&, const std::string&, const std::string&) override {
    return answer_;
  }

private:
  const std::optional<std::string>& answer_;
};

class CarryTest : public ::testing::Test {
protected:
  void SetUp() override {
    state.locations = ComputeLocations();
    MakeDataFolders(state.locations);
    docs = state.locations.documents;
    test::makeDirs(docs + "Work");
    test::makeDirs(docs + "Other");
    test::writeFile(docs + "Work/report.doc", "report");
    test::writeFile(docs + "Work/notes.txt", "notes");
    test::writeFile(docs + "Work/plan.txt", "plan");
    host.resize(900, 600);
    view = LayBrowser(state, host, trees, gridHost, status, QRect(0, 0, 300, 600), QRect(300, 0, 600, 560));
    browser = &view->browser();
    carry = new DeskCarry(*view, state, &host);
    view->SetCarry(carry);
    browser->SetPrompts(std::make_unique<NamePrompts>(&host, nameAnswer));
    browser->BuildTrees();
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    view->tree(0)->ExpandNode(browser->root(0));
    browser->ShowNode(Node("Work"));
  }
  void TearDown() override {
    carry->PutDown();
    view.reset();
  }

  TreeNode* Node(const std::string& rel) { return view->tree(0)->Model().FindNode(docs + rel + "/", true); }
  GridModel& model() { return browser->grid()->model(); }
  // The middle of a row's name zone in the grid's viewport.
  QPoint NamePoint(const std::string& name) {
    const int r = model().FindRecord(browser->ShownFolder(), name);
    EXPECT_GE(r, 0) << name;
    const int v = model().VisibleOfRecord(static_cast<size_t>(r));
    const int h = view->grid()->grid()->rowHeight();
    return QPoint(110, (v - view->grid()->grid()->topRow()) * h + h / 2);
  }
  QWidget* gridPort() { return view->grid()->grid()->viewport(); }
  QPoint NodePoint(TreeNode* n) {
    EXPECT_TRUE(view->tree(0)->ShowsNode(n));
    return view->tree(0)->NodeRect(n).center();
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> out;
    for (auto m : state.messages.Pending()) {
      m.pop_back();
      out.push_back(m);
    }
    return out;
  }

  test::TempHome home;
  DeskState state;
  std::string docs;
  QWidget host;
  QTabWidget* trees = nullptr;
  QWidget* gridHost = nullptr;
  QLabel* status = nullptr;
  std::unique_ptr<DeskBrowserView> view;
  DeskBrowser* browser = nullptr;
  DeskCarry* carry = nullptr;
  std::optional<std::string> nameAnswer;
};

TEST_F(CarryTest, ClickedRowsAreCarriedToAFolderNodeAndMovedByTheSwitch) {
  browser->SetDragDefault(true);
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("report.doc"));
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("notes.txt"));
  EXPECT_EQ(model().SelectedCount(), 2u);
  EXPECT_EQ(carry->hand().state(), Hand::Documents);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::DragMoveCursor);
  EXPECT_TRUE(carry->DragWindow()->isVisible());
  EXPECT_FALSE(carry->DragWindow()->picture().isNull());
  QTest::mouseClick(view->tree(0)->viewport(), Qt::LeftButton, {}, NodePoint(Node("Other")));
  QTest::qWait(kDropFeedbackMs + 150);
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/report.doc"));
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/notes.txt"));
  EXPECT_FALSE(std::filesystem::exists(docs + "Work/report.doc"));
  EXPECT_TRUE(std::filesystem::exists(docs + "Work/plan.txt"));
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(carry->DragWindow()->isVisible());
  EXPECT_EQ(browser->ShownFolder(), docs + "Work/");  // the drop does not change the folder shown
}

TEST_F(CarryTest, CtrlCopiesWhateverTheSwitchSaysAndEscapePutsDown) {
  browser->SetDragDefault(true);
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("plan.txt"));
  QTest::mouseClick(view->tree(0)->viewport(), Qt::LeftButton, Qt::ControlModifier, NodePoint(Node("Other")));
  QTest::qWait(kDropFeedbackMs + 150);
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/plan.txt"));
  EXPECT_TRUE(std::filesystem::exists(docs + "Work/plan.txt"));
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("plan.txt"));
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("notes.txt"));
  ASSERT_EQ(model().SelectedCount(), 2u);
  QTest::keyClick(view->grid()->grid(), Qt::Key_Escape);
  EXPECT_EQ(model().SelectedCount(), 0u);
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(CarryTest, ARightClickOutsideTheSelectionPutsDownAndAClickOnASelectedNameDropsOnlyIt) {
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("plan.txt"));
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("notes.txt"));
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("report.doc"));
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("notes.txt"));
  EXPECT_EQ(model().SelectedCount(), 2u);
  EXPECT_FALSE(model().rows()[model().FindRecord(docs + "Work/", "notes.txt")].selected);
  QTest::mouseClick(view->tree(0)->viewport(), Qt::RightButton, {}, NodePoint(Node("Other")));
  EXPECT_EQ(model().SelectedCount(), 0u);
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
}

TEST_F(CarryTest, PressingAndMovingWithinTheGridKeepsTheRowInHand) {
  const QPoint p = NamePoint("report.doc");
  QTest::mousePress(gridPort(), Qt::LeftButton, {}, p);
  QTest::mouseRelease(gridPort(), Qt::LeftButton, {}, p);
  ASSERT_EQ(model().SelectedCount(), 1u);
  // A press on the selected row and a release after moving: it stays selected.
  QTest::mousePress(gridPort(), Qt::LeftButton, {}, p);
  carry->hand().MoveWithButton(gridPort()->mapToGlobal(p).x() + 5, gridPort()->mapToGlobal(p).y());
  QTest::mouseRelease(gridPort(), Qt::LeftButton, {}, p + QPoint(5, 0));
  EXPECT_EQ(model().SelectedCount(), 1u);
  EXPECT_EQ(carry->hand().state(), Hand::Documents);
}

TEST_F(CarryTest, CutAndPasteMovesIntoTheShownFolderAndFilesGoOutAsAList) {
  model().SelectOnly(model().FindRecord(docs + "Work/", "report.doc"));
  carry->CopySelection(true);
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  ASSERT_EQ(mime->urls().size(), 1);
  EXPECT_EQ(mime->urls().front().toLocalFile().toStdString(), docs + "Work/report.doc");
  EXPECT_TRUE(mime->data(QStringLiteral("x-special/gnome-copied-files")).startsWith("cut\nfile://"));
  browser->ShowNode(Node("Other"));
  carry->Paste();
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/report.doc"));
  EXPECT_FALSE(std::filesystem::exists(docs + "Work/report.doc"));
  EXPECT_GE(model().FindRecord(docs + "Other/", "report.doc"), 0);
  EXPECT_TRUE(carry->clipboard().Empty());
  // Copied and pasted into its own folder: a second document.
  model().SelectOnly(model().FindRecord(docs + "Other/", "report.doc"));
  carry->CopySelection(false);
  carry->Paste();
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/report (2).doc"));
}

TEST_F(CarryTest, RestoreBringsADeletedDocumentBackToItsFolder) {
  model().SelectOnly(model().FindRecord(docs + "Work/", "notes.txt"));
  browser->DeleteAction();
  ASSERT_TRUE(std::filesystem::exists(state.locations.trash + "notes.txt"));
  TreeNode* trash = nullptr;
  for (auto& c : browser->root(0)->children)
    if (c->image == niTrashFull || c->image == niTrashEmpty) trash = c.get();
  ASSERT_NE(trash, nullptr);
  browser->ShowNode(trash);
  model().SelectOnly(model().FindRecord(state.locations.trash, "notes.txt"));
  ASSERT_TRUE(carry->RestoreAvailable());
  carry->RestoreSelection();
  EXPECT_TRUE(std::filesystem::exists(docs + "Work/notes.txt"));
  EXPECT_FALSE(std::filesystem::exists(state.locations.trash + "notes.txt"));
  // Its folder gone meanwhile, a document comes back to the documents folder.
  browser->ShowNode(Node("Work"));
  model().SelectOnly(model().FindRecord(docs + "Work/", "plan.txt"));
  browser->DeleteAction();
  std::filesystem::remove_all(docs + "Work");
  browser->ShowNode(trash);
  model().SelectOnly(model().FindRecord(state.locations.trash, "plan.txt"));
  carry->RestoreSelection();
  EXPECT_TRUE(std::filesystem::exists(docs + "plan.txt"));
}

TEST_F(CarryTest, FilesFromAnotherProgramAreStoredCopiedOrMovedWithShift) {
  const std::string outside = home.path("elsewhere/");
  test::makeDirs(outside);
  test::writeFile(outside + "photo one.jpg", "jpg");
  test::writeFile(outside + "letter.odt", "odt");
  carry->DropFromOutside(Node("Other"), {outside + "photo one.jpg"}, false);
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/photo one.jpg"));
  EXPECT_TRUE(std::filesystem::exists(outside + "photo one.jpg"));
  carry->DropFromOutside(nullptr, {outside + "letter.odt"}, true);  // onto the grid of Work
  EXPECT_TRUE(std::filesystem::exists(docs + "Work/letter.odt"));
  EXPECT_FALSE(std::filesystem::exists(outside + "letter.odt"));
  EXPECT_GE(model().FindRecord(docs + "Work/", "letter.odt"), 0);
}

TEST_F(CarryTest, CardFilesDroppedOnContactsAreImportedThere) {
  const std::string outside = home.path("elsewhere/");
  test::makeDirs(outside);
  test::writeFile(outside + "friends.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Janet Jackson\r\nEND:VCARD\r\n");
  test::writeFile(outside + "OLD.VCF", "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Old;One\r\nEND:VCARD\r\n");
  test::writeFile(outside + "letter.odt", "odt");
  std::vector<std::pair<std::vector<std::string>, std::string>> imports;
  browser->importCards = [&](const std::vector<std::string>& cards, const std::string& folder) {
    imports.emplace_back(cards, folder);
  };
  // On the "My Contacts" node, and on the contacts grid.
  carry->DropFromOutside(browser->root(1), {outside + "friends.vcf", outside + "letter.odt"}, false);
  ASSERT_TRUE(browser->SwitchTab(GridTab::Contacts));
  carry->DropFromOutside(nullptr, {outside + "OLD.VCF"}, false);
  ASSERT_EQ(imports.size(), 2u);
  EXPECT_EQ(imports[0].first, std::vector<std::string>{outside + "friends.vcf"});
  EXPECT_EQ(imports[0].second, state.locations.contacts);
  EXPECT_EQ(imports[1].first, std::vector<std::string>{outside + "OLD.VCF"});
  // Nothing was stored as a plain document in the Contacts folder.
  EXPECT_FALSE(std::filesystem::exists(state.locations.contacts + "friends.vcf"));
  EXPECT_FALSE(std::filesystem::exists(state.locations.contacts + "letter.odt"));
  // A card dropped on a folder of the files tab stays a document.
  ASSERT_TRUE(browser->SwitchTab(GridTab::Files));
  carry->DropFromOutside(Node("Other"), {outside + "friends.vcf"}, false);
  EXPECT_EQ(imports.size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/friends.vcf"));
}

TEST_F(CarryTest, ADropWhileBusyIsRefusedAndNothingMoves) {
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("plan.txt"));
  ASSERT_EQ(carry->hand().state(), Hand::Documents);
  state.busy = true;
  carry->DropOnNode(Node("Other"), {});
  state.busy = false;
  EXPECT_TRUE(std::filesystem::exists(docs + "Work/plan.txt"));
  EXPECT_FALSE(std::filesystem::exists(docs + "Other/plan.txt"));
  const auto msgs = Messages();
  ASSERT_FALSE(msgs.empty());
  EXPECT_EQ(msgs.back(), std::string(kBusyDropRefusal));
  EXPECT_EQ(carry->hand().state(), Hand::Documents);  // still in hand
}

TEST_F(CarryTest, AFolderIsCarriedIntoAnotherAndTheTreeFollows) {
  test::makeDirs(docs + "Work/Sub");
  TreeNode* work = Node("Work");
  view->tree(0)->Model().Load(work);
  TreeNode* sub = view->tree(0)->Model().FindNode(docs + "Work/Sub/", true);
  ASSERT_NE(sub, nullptr);
  browser->SetDragDefault(true);
  carry->hand().HoldFolder(sub->path);
  carry->DropOnNode(Node("Other"), {});
  EXPECT_TRUE(std::filesystem::is_directory(docs + "Other/Sub"));
  EXPECT_FALSE(std::filesystem::exists(docs + "Work/Sub"));
  EXPECT_NE(FindTreeNode(*browser->root(0), docs + "Other/Sub/", nullptr), nullptr);
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
}

TEST_F(CarryTest, AStickerDroppedOnAFolderBecomesANamedDocument) {
  carry->hand().HoldSticker("Buy milk", "");
  nameAnswer = "Shopping";
  carry->DropOnNode(Node("Other"), {});
  EXPECT_EQ(test::readFile(docs + "Other/Shopping.txt"), "Buy milk");
  // Cancelling the name leaves nothing behind.
  carry->hand().HoldSticker("Other note", "");
  nameAnswer.reset();
  carry->DropOnNode(Node("Other"), {});
  EXPECT_FALSE(std::filesystem::exists(state.locations.tempFolder + "(Temporary Sticker File).txt"));
  int documents = 0;
  for (const auto& e : std::filesystem::directory_iterator(docs + "Other"))
    documents += e.path().filename() != "Plumadex.ini";
  EXPECT_EQ(documents, 1);
}

}  // namespace

namespace {

TEST_F(CarryTest, CopyInARowMenuSetsTheDefaultAndKeepsTheRowInHand) {
  browser->SetDragDefault(true);
  model().SelectOnly(model().FindRecord(docs + "Work/", "plan.txt"));
  carry->KeepInHand(false);
  EXPECT_EQ(state.settings.CopyMove(), 0);
  EXPECT_EQ(carry->hand().state(), Hand::Documents);
  EXPECT_EQ(model().SelectedCount(), 1u);
}

TEST_F(CarryTest, ClickingTheShownFolderPicksItUpAndAClickElsewhereDropsIt) {
  test::makeDirs(docs + "Other/Inner");
  browser->ShowNode(Node("Work"));
  browser->SetDragDefault(true);
  QTest::mouseClick(view->tree(0)->viewport(), Qt::LeftButton, {}, NodePoint(Node("Work")));
  ASSERT_EQ(carry->hand().state(), Hand::Folder);
  EXPECT_EQ(carry->hand().folder(), docs + "Work/");
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ClosedHandCursor);
  // A tab switch is refused while a folder is in hand.
  EXPECT_FALSE(browser->SwitchTab(GridTab::Contacts));
  QTest::mouseClick(view->tree(0)->viewport(), Qt::LeftButton, {}, NodePoint(Node("Other")));
  QTest::qWait(kDropFeedbackMs + 150);
  EXPECT_TRUE(std::filesystem::exists(docs + "Other/Work/report.doc"));
  EXPECT_FALSE(std::filesystem::exists(docs + "Work"));
  EXPECT_EQ(browser->ShownFolder(), docs + "Other/Work/");
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
}

TEST_F(CarryTest, DocumentsInHandGoAlongToTheContactsTabAndComeBack) {
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("plan.txt"));
  ASSERT_TRUE(browser->SwitchTab(GridTab::Contacts));
  EXPECT_EQ(carry->hand().state(), Hand::Snapshot);
  // A right click there puts them down and returns to the files tab.
  QTest::mouseClick(view->tree(1)->viewport(), Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
  EXPECT_EQ(browser->CurrentTab(), GridTab::Files);
}

}  // namespace

namespace {

// A drag of the desk's rows that ended anywhere leaves nothing in hand: a later click on a folder
// node only shows that folder and moves nothing.
TEST_F(CarryTest, ADragThatEndedLeavesNothingInHand) {
  struct Case {
    const char* what;
    Qt::DropAction outcome;
  };
  const Case cases[] = {{"another program took copies", Qt::CopyAction},
                        {"another program moved it", Qt::MoveAction},
                        {"cancelled", Qt::IgnoreAction}};
  browser->SetDragDefault(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    browser->ShowNode(Node("Work"));
    int drags = 0;
    carry->runDrag = [&](QDrag&) {
      ++drags;
      return c.outcome;
    };
    const QPoint p = NamePoint("report.doc");
    QTest::mousePress(gridPort(), Qt::LeftButton, {}, p);
    QMouseEvent move(QEvent::MouseMove, QPointF(p + QPoint(12, 0)), QPointF(gridPort()->mapToGlobal(p + QPoint(12, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(gridPort(), &move);
    QTest::mouseRelease(gridPort(), Qt::LeftButton, {}, p + QPoint(12, 0));
    EXPECT_EQ(drags, 1);
    EXPECT_EQ(carry->hand().state(), Hand::Empty);
    EXPECT_EQ(model().SelectedCount(), 0u);
    EXPECT_FALSE(carry->DragWindow()->isVisible());
    QTest::mouseClick(view->tree(0)->viewport(), Qt::LeftButton, {}, NodePoint(Node("Other")));
    QTest::qWait(kDropFeedbackMs + 150);
    EXPECT_TRUE(std::filesystem::exists(docs + "Work/report.doc"));
    EXPECT_FALSE(std::filesystem::exists(docs + "Other/report.doc"));
    EXPECT_EQ(browser->ShownFolder(), docs + "Other/");
  }
}

// Documents in hand survive a click on the Contacts tab and go to the contact or group clicked
// there: a message to the person, or to the group.
TEST_F(CarryTest, DocumentsCarriedToTheContactsTabGoToTheContactOrGroupClicked) {
  const std::string contacts = state.locations.contacts;
  test::makeDirs(contacts + "Team");
  test::writeFile(contacts + "ann.vcf", "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Smith;Ann\r\nEMAIL;INTERNET:ann@example.org\r\nEND:VCARD\r\n");
  {
    store::TPXIniFile ini(state.indexRegistry, store::IndexPathOf(contacts));
    ini.WriteString("ann.vcf", "Title", "Smith, Ann");
    ini.WriteString("ann.vcf", "Address", "ann@example.org");
    ini.WriteString("Team.", "Title", "Team");
  }
  {
    store::TPXIniFile ini(state.indexRegistry, store::IndexPathOf(contacts + "Team/"));
    ini.WriteString("$$$AB.ann.vcf", "Flags", "0");
  }
  std::vector<std::pair<std::vector<std::string>, std::string>> sent;
  browser->sendToPerson = [&](const std::vector<std::string>& files, const std::string& to) { sent.push_back({files, to}); };
  browser->sendToGroup = [&](const std::vector<std::string>& files, const std::string& group) {
    sent.push_back({files, "group " + group});
  };
  for (const char* target : {"Ann", "Team"}) {
    SCOPED_TRACE(target);
    QTest::mouseClick(gridPort(), Qt::LeftButton, {}, NamePoint("plan.txt"));
    ASSERT_EQ(carry->hand().state(), Hand::Documents);
    QTabBar* bar = trees->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(DeskBrowser::Ix(GridTab::Contacts)).center());
    QTest::qWait(50);
    ASSERT_EQ(browser->CurrentTab(), GridTab::Contacts);
    ASSERT_EQ(carry->hand().state(), Hand::Snapshot);
    // Still seen in hand there.
    EXPECT_TRUE(carry->DragWindow()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model().size() >= 2; }, 2000));
    int record = -1;
    for (size_t r = 0; r < model().size(); ++r)
      if (model().rows()[r].title.find(target) != std::string::npos) record = static_cast<int>(r);
    ASSERT_GE(record, 0);
    const int v = model().VisibleOfRecord(static_cast<size_t>(record));
    const int h = view->grid()->grid()->rowHeight();
    QTest::mouseClick(gridPort(), Qt::LeftButton, {}, QPoint(110, (v - view->grid()->grid()->topRow()) * h + h / 2));
    QTest::qWait(50);
    EXPECT_EQ(carry->hand().state(), Hand::Empty);
    EXPECT_EQ(browser->CurrentTab(), GridTab::Files);
    browser->ShowNode(Node("Work"));
  }
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].first, (std::vector<std::string>{docs + "Work/plan.txt"}));
  EXPECT_NE(sent[0].second.find("Ann"), std::string::npos) << sent[0].second;
  EXPECT_NE(sent[0].second.find("<ann@example.org>"), std::string::npos) << sent[0].second;
  EXPECT_EQ(sent[1].first, (std::vector<std::string>{docs + "Work/plan.txt"}));
  EXPECT_EQ(sent[1].second, "group " + contacts + "Team/");
}

TEST_F(CarryTest, OpeningARowLeavesNothingInHand) {
  bool opened = false;
  browser->openDocument = [&opened](const store::DocRecord&) { return opened = true; };
  const QPoint name = NamePoint("plan.txt");
  QTest::mouseDClick(gridPort(), Qt::LeftButton, {}, name);
  QTest::qWait(50);
  EXPECT_TRUE(opened);
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
  EXPECT_EQ(model().SelectedCount(), 0u);
  // The type icon opens too, and leaves the hand empty.
  opened = false;
  QTest::mouseClick(gridPort(), Qt::LeftButton, {}, QPoint(10, name.y()));
  QTest::qWait(50);
  EXPECT_TRUE(opened);
  EXPECT_EQ(carry->hand().state(), Hand::Empty);
}

}  // namespace
