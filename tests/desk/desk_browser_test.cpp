// The desk's browser without widgets: a fake grid and trees, scripted dialogs, a temporary home.
#include <gtest/gtest.h>

#include "contacts/contact_folder.h"
#include "desk/desk_browser.h"
#include "desk/grid_listing.h"
#include "desk/quickboard.h"
#include "desk/desk_state.h"
#include "foundation/locations.h"
#include "incoming/blocked_senders.h"
#include "store/desk_actions.h"
#include "store/doc_operations.h"
#include "store/index_file.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <deque>
#include <functional>
#include <filesystem>

namespace px::desk {
namespace {

namespace fs = std::filesystem;

class FakeGrid : public GridSurface {
public:
  GridModel& model() override { return model_; }
  const GridModel& model() const override { return model_; }
  void SetBusy(bool on) override { busy = on; }
  void ShowListingProgress(int percent, size_t entries) override {
    progress.push_back(percent);
    if (percent >= 0) progressEntries = entries;
  }
  std::vector<int> progress;
  size_t progressEntries = 0;
  void Clear() override { model_ = GridModel(); }
  void TakeModel(GridModel&& m) override { model_ = std::move(m); }
  void SetRows(store::DocRows rows) override {
    GridOptions o;
    o.tab = tab;
    model_.SetRows(std::move(rows), o);
  }
  int TopRow() const override { return top; }
  void SetTopRow(int row) override { top = row; }
  int CurrentSorting() const override { return 0; }
  void SetTab(GridTab t) override { tab = t; }
  void SetSortLocked(bool) override {}
  void SetFixedSorting(int) override {}
  int ViewFilterIndex() const override { return 0; }
  int StickerMarkUnderPointer() const override { return stickerRow; }
  void RepaintRows() override { ++repaints; }
  void UpdateRange() override {}
  void SelectionTouched() override {}

  GridModel model_;
  GridTab tab = GridTab::Files;
  bool busy = false;
  int top = 0;
  int stickerRow = -1;
  int repaints = 0;
};

class FakeTree : public TreeSurface {
public:
  void SelectNode(TreeNode* node) override { current = node; }
  void ExpandNode(TreeNode* node) override { expanded.push_back(node); }
  TreeNode* CurrentNode() const override { return current; }
  void SetCountLook(bool, std::optional<uint32_t>) override {}

  TreeNode* current = nullptr;
  std::vector<TreeNode*> expanded;
};

// Answers the dialogs in order; a question nobody scripted fails the test.
class ScriptedPrompts : public DeskPrompts {
public:
  struct Log {
    std::vector<std::string> asked;
    std::deque<std::optional<std::string>> texts;
    std::deque<bool> answers;
    std::deque<std::string> folders;
    std::deque<std::optional<int>> colours;
    std::deque<store::CollisionAnswer> collisions;
    std::vector<store::CollisionQuestion> collisionQuestions;
    std::vector<std::string> refusals;  // what the folder chooser was told about the node asked
    const TreeNode* refusalNode = nullptr;
  };
  explicit ScriptedPrompts(Log& log) : log_(log) {}
  std::optional<std::string> AskText(const std::string&, const std::string& prompt, const std::string&) override {
    log_.asked.push_back(prompt);
    if (log_.texts.empty()) {
      ADD_FAILURE() << "unexpected text prompt: " << prompt;
      return std::nullopt;
    }
    auto t = log_.texts.front();
    log_.texts.pop_front();
    return t;
  }
  bool AskYesNo(const std::string& question) override { return Answer(question); }
  bool AskOkCancel(const std::string& question) override { return Answer(question); }
  std::string ChooseCarryFolder(const std::string& caption, const TreeEnvironment&,
                                const std::function<std::string(const TreeNode*)>& refusal) override {
    log_.asked.push_back(caption);
    if (log_.refusalNode) log_.refusals.push_back(refusal(log_.refusalNode));
    if (log_.folders.empty()) return {};
    std::string f = log_.folders.front();
    log_.folders.pop_front();
    return f;
  }
  std::optional<int> ChooseColour(int) override {
    log_.asked.push_back("colour");
    if (log_.colours.empty()) return std::nullopt;
    auto c = log_.colours.front();
    log_.colours.pop_front();
    return c;
  }

  store::CollisionAnswer AskCollision(const store::CollisionQuestion& q) override {
    log_.asked.push_back("collision " + q.fileName);
    log_.collisionQuestions.push_back(q);
    if (log_.collisions.empty()) {
      ADD_FAILURE() << "unexpected collision question: " << q.fileName;
      return {};
    }
    auto a = log_.collisions.front();
    log_.collisions.pop_front();
    return a;
  }

private:
  bool Answer(const std::string& question) {
    log_.asked.push_back(question);
    if (log_.answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << question;
      return false;
    }
    const bool a = log_.answers.front();
    log_.answers.pop_front();
    return a;
  }
  Log& log_;
};

class Shown : public MessagePresenter {
public:
  void ShowBox(MessageKind, const std::string& text) override { texts.push_back(text); }
  void CloseBox() override {}
  std::vector<std::string> texts;
};

class DeskBrowserTest : public ::testing::Test {
protected:
  void SetUp() override {
    state.locations = ComputeLocations();
    MakeDataFolders(state.locations);
    state.messages.SetPresenter(&shown);
    docs = state.locations.documents;
    test::makeDirs(docs + "Work");
    test::makeDirs(docs + "Other");
    test::writeFile(docs + "Work/report.doc", "report");
    test::writeFile(docs + "Work/notes.txt", "notes");
    browser = std::make_unique<DeskBrowser>(state, grid, std::make_unique<ScriptedPrompts>(log));
    for (int t = 0; t < 3; ++t) browser->SetTreeSurface(t, &trees[t]);
    browser->BuildTrees();
  }
  void TearDown() override {
    browser.reset();
    state.messages.SetPresenter(nullptr);
  }

  TreeNode* Node(const std::string& rel) { return browser->Model(0).FindNode(docs + rel, true); }
  void Select(const std::string& name) {
    const int r = grid.model().FindRecord(browser->ShownFolder(), name);
    ASSERT_GE(r, 0) << name;
    grid.model().SelectOnly(r);
  }
  bool Exists(const std::string& rel) { return fs::exists(docs + rel); }
  TreeNode* Trash() {
    for (auto& c : browser->root(0)->children)
      if (c->image == niTrashFull || c->image == niTrashEmpty) return c.get();
    return nullptr;
  }

  test::TempHome home;
  DeskState state;
  Shown shown;
  FakeGrid grid;
  FakeTree trees[3];
  ScriptedPrompts::Log log;
  std::string docs;
  std::unique_ptr<DeskBrowser> browser;
};

TEST_F(DeskBrowserTest, DeleteMovesTheSelectionIntoTheTrashAndTheTrashShowsFull) {
  browser->ShowNode(Node("Work/"));
  ASSERT_EQ(grid.model().size(), 2u);
  Select("report.doc");
  browser->DeleteAction();
  EXPECT_FALSE(Exists("Work/report.doc"));
  EXPECT_TRUE(fs::exists(state.locations.trash + "report.doc"));
  EXPECT_EQ(grid.model().size(), 1u);
  ASSERT_NE(Trash(), nullptr);
  EXPECT_EQ(Trash()->image, niTrashFull);
  EXPECT_TRUE(shown.texts.empty());
  // Emptying the trash asks first; No leaves it as it is.
  log.answers = {false};
  grid.model().ClearSelection();
  browser->EmptyTrashAction();
  EXPECT_TRUE(fs::exists(state.locations.trash + "report.doc"));
  log.answers = {true};
  browser->EmptyTrashAction();
  EXPECT_FALSE(fs::exists(state.locations.trash + "report.doc"));
  EXPECT_EQ(Trash()->image, niTrashEmpty);
  EXPECT_EQ(log.asked, (std::vector<std::string>{std::string(store::kEmptyTrashQuestion),
                                                 std::string(store::kEmptyTrashQuestion)}));
}

// Deleting inside the trash erases for good: the desk asks first, naming how many.
TEST_F(DeskBrowserTest, DeleteInsideTheTrashAsksBeforeErasing) {
  struct Case {
    const char* what;
    std::vector<std::string> selected;
    bool answer;
    const char* question;
  };
  const Case cases[] = {
      {"one, No keeps it", {"a.txt"}, false, "Delete this document for good? It cannot be restored afterwards."},
      {"one, Yes erases", {"a.txt"}, true, "Delete this document for good? It cannot be restored afterwards."},
      {"two, Yes erases both", {"a.txt", "b.txt"}, true, "Delete these 2 documents for good? They cannot be restored afterwards."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* n : {"a.txt", "b.txt"}) test::writeFile(state.locations.trash + n, n);
    browser->ShowNode(Trash());
    grid.model().ClearSelection();
    for (const auto& n : c.selected) {
      const int r = grid.model().FindRecord(browser->ShownFolder(), n);
      ASSERT_GE(r, 0) << n;
      grid.model().SetSelected(r, true);
    }
    log.asked.clear();
    log.answers = {c.answer};
    browser->DeleteAction();
    EXPECT_EQ(log.asked, (std::vector<std::string>{c.question}));
    for (const auto& n : c.selected) EXPECT_EQ(fs::exists(state.locations.trash + n), !c.answer) << n;
  }
  // A folder inside the trash, deleted from the tree, is asked about by name.
  test::makeDirs(state.locations.trash + "Old/");
  test::writeFile(state.locations.trash + "Old/x.txt", "x");
  browser->ReloadChildren(Trash());
  TreeNode* old = browser->Model(0).FindNode(state.locations.trash + "Old/", true);
  ASSERT_NE(old, nullptr);
  log.asked.clear();
  log.answers = {false};
  browser->DeleteFolderNode(old);
  EXPECT_TRUE(fs::exists(state.locations.trash + "Old/x.txt"));
  ASSERT_EQ(log.asked.size(), 1u);
  EXPECT_NE(log.asked[0].find("\"Old\""), std::string::npos) << log.asked[0];
}

// Every placing action of the desk asks when a name is taken: Replace, Keep both, Skip.
TEST_F(DeskBrowserTest, NameCollisionsAreAskedAndTheAnswerIsFollowed) {
  using store::CollisionAction;
  struct Case {
    const char* what;
    CollisionAction action;
    const char* title;
    const char* expectOld;       // what Other/notes.txt holds afterwards
    const char* expectNewFile;   // a second file made ("" none)
  };
  const Case cases[] = {
      {"replace", CollisionAction::Replace, "", "notes", ""},
      {"keep both", CollisionAction::Rename, "notes (2)", "old", "Other/notes (2).txt"},
      {"keep both, edited", CollisionAction::Rename, "kept", "old", "Other/kept.txt"},
      {"skip", CollisionAction::Skip, "", "old", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(docs + "Other");
    test::makeDirs(docs + "Other");
    test::writeFile(docs + "Other/notes.txt", "old");
    browser->ShowNode(Node("Work/"));
    Select("notes.txt");
    log.folders = {docs + "Other/"};
    log.collisions = {{c.action, c.title, false}};
    log.collisionQuestions.clear();
    browser->CarryToAction(false);
    ASSERT_EQ(log.collisionQuestions.size(), 1u);
    EXPECT_EQ(log.collisionQuestions[0].fileName, "notes.txt");
    EXPECT_EQ(log.collisionQuestions[0].proposedTitle, "notes (2)");
    EXPECT_TRUE(log.collisionQuestions[0].offerReplace);
    EXPECT_EQ(test::readFile(docs + "Other/notes.txt"), c.expectOld);
    if (*c.expectNewFile) {
      EXPECT_EQ(test::readFile(docs + c.expectNewFile), "notes");
    }
    EXPECT_EQ(fs::exists(docs + "Other/notes (2).txt"), std::string(c.expectNewFile) == "Other/notes (2).txt");
    EXPECT_TRUE(Exists("Work/notes.txt"));
  }
  // Duplicate under a name that is taken asks too; the name offered first is a free one.
  browser->ShowNode(Node("Work/"));
  Select("notes.txt");
  log.asked.clear();
  log.texts = {std::string("report")};
  test::writeFile(docs + "Work/report.txt", "other");
  log.collisions = {{CollisionAction::Skip, "", false}};
  browser->aDuplicateExecute();
  EXPECT_EQ(log.asked, (std::vector<std::string>{std::string(store::kNewDocumentPrompt), "collision report.txt"}));
  EXPECT_EQ(test::readFile(docs + "Work/report.txt"), "other");
}

TEST_F(DeskBrowserTest, DuplicateKeepsTheEntryOfTheOriginal) {
  {
    store::TPXIniFile ini(state.indexRegistry, store::IndexPathOf(docs + "Work/"));
    ini.WriteString("notes.txt", "Flags", std::to_string(FlagsWithColour(0, 2)));
    ini.WriteString("notes.txt", "Sticker", "remember");
  }
  browser->ShowNode(Node("Work/"));
  Select("notes.txt");
  log.texts = {std::nullopt};
  browser->aDuplicateExecute();
  // The name offered is the free one.
  Select("notes.txt");
  log.texts = {std::string("notes (2)")};
  browser->aDuplicateExecute();
  const int r = grid.model().FindRecord(docs + "Work/", "notes (2).txt");
  ASSERT_GE(r, 0);
  EXPECT_EQ(store::ColourOfFlags(grid.model().rows()[r].flags), 2);
  EXPECT_EQ(grid.model().rows()[r].sticker, "remember");
}

// A link row duplicated by the menu, by dropping it on its own folder or by Ctrl+V there: the
// copy goes beside the link, where the user sees the row, never into the linked file's folder.
TEST_F(DeskBrowserTest, ALinkRowIsDuplicatedBesideTheLinkByTheMenuADropAndAPaste) {
  {
    store::TPXIniFile work(state.indexRegistry, store::IndexPathOf(docs + "Work/"));
    work.WriteString("notes.txt", "Title", "notes");
    work.WriteString("notes.txt", "Sticker", "linked");
  }
  enum class Way { Menu, Drop, Paste };
  const std::pair<Way, const char*> ways[] = {{Way::Menu, "ByMenu/"}, {Way::Drop, "ByDrop/"}, {Way::Paste, "ByPaste/"}};
  for (const auto& [way, folder] : ways) {
    test::makeDirs(docs + folder);
    store::TPXIniFile links(state.indexRegistry, store::IndexPathOf(docs + folder));
    links.WriteString(std::string(store::kLinkPrefix) + "notes.txt", "Path", docs + "Work/");
    links.WriteString(std::string(store::kLinkPrefix) + "notes.txt", "ID", "notes.txt");
  }
  browser->ReloadChildren(0, Node(""));
  browser->SetDragDefault(false);
  for (const auto& [way, folder] : ways) {
    SCOPED_TRACE(folder);
    ASSERT_NE(Node(folder), nullptr);
    browser->ShowNode(Node(folder));
    ASSERT_EQ(grid.model().size(), 1u);
    ASSERT_TRUE(grid.model().rows()[0].IsLink());
    grid.model().SelectOnly(0);
    switch (way) {
      case Way::Menu:
        log.texts = {std::string("notes")};
        browser->aDuplicateExecute();
        break;
      case Way::Drop: {
        // Onto another node of the same folder (as a favourite shows it).
        TreeNode same;
        same.path = docs + folder;
        same.caption = "same";
        same.image = niFolder;
        CarryHand hand;
        hand.HoldDocuments(0);
        int taken = 0;
        const auto out = browser->DropCarried(hand, &same, false, false, [&] { ++taken; });
        EXPECT_EQ(out.action, DropAction::Duplicate);
        EXPECT_EQ(taken, 1);
        break;
      }
      case Way::Paste: {
        DeskClipboard clip;
        clip.Put(store::SnapshotSelection(grid.model().rows()), false);
        EXPECT_TRUE(browser->Paste(clip).ran);
        break;
      }
    }
    EXPECT_EQ(test::readFile(docs + folder + "notes.txt"), "notes");
    EXPECT_FALSE(Exists("Work/notes (2).txt"));
    const int r = grid.model().FindRecord(docs + folder, "notes.txt");
    ASSERT_GE(r, 0);
    EXPECT_FALSE(grid.model().rows()[r].IsLink());
    EXPECT_EQ(grid.model().rows()[r].sticker, "linked");
  }
  EXPECT_TRUE(shown.texts.empty());
}

// Folders made or removed outside the desk show at once in every node the tree shows, closed
// and childless ones too.
TEST_F(DeskBrowserTest, TheTreeFollowsSubfoldersMadeOutsideInEveryShownNode) {
  TreeNode* work = Node("Work/");
  ASSERT_NE(work, nullptr);
  for (TreeNode* n = work->parent; n; n = n->parent) n->expanded = true;
  ASSERT_TRUE(work->children.empty());
  ASSERT_FALSE(work->expanded);
  struct Case {
    const char* what;
    std::function<void()> change;
    const char* parent;  // the node that must show the change
    const char* child;
    bool present;
  };
  const Case cases[] = {
      {"a closed node without subfolders gets one", [&] { test::makeDirs(docs + "Work/New"); }, "Work/", "Work/New/", true},
      {"an open node gets another", [&] { test::makeDirs(docs + "Third"); }, "", "Third/", true},
      {"a subfolder goes away", [&] { fs::remove_all(docs + "Other"); }, "", "Other/", false},
      {"a closed node that has children gets one more", [&] { test::makeDirs(docs + "Work/Newer"); }, "Work/", "Work/Newer/", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    browser->CheckTreeChanges();  // watches what is shown now
    c.change();
    browser->CheckTreeChanges();
    TreeNode* parent = browser->Model(0).FindNode(docs + c.parent, false);
    ASSERT_NE(parent, nullptr);
    bool found = false;
    for (const auto& ch : parent->children) found = found || ch->path == docs + c.child;
    EXPECT_EQ(found, c.present);
    if (c.present) {
      EXPECT_TRUE(browser->Model(0).hasChildren(browser->Model(0).IndexOf(parent)));
    }
  }
}

TEST_F(DeskBrowserTest, OpenFoldersAreOpenAgainAfterARestart) {
  test::makeDirs(docs + "Work/2025/Q1");
  TreeNode* work = Node("Work/");
  ASSERT_NE(work, nullptr);
  browser->Model(0).Load(work);
  work->expanded = true;
  TreeNode* year = Node("Work/2025/");
  ASSERT_NE(year, nullptr);
  browser->Model(0).Load(year);
  year->expanded = true;
  browser->CheckTreeChanges();  // the clock tick keeps the list
  browser.reset();
  FakeTree fresh[3];
  browser = std::make_unique<DeskBrowser>(state, grid, std::make_unique<ScriptedPrompts>(log));
  for (int t = 0; t < 3; ++t) browser->SetTreeSurface(t, &fresh[t]);
  browser->BuildTrees();
  for (const char* rel : {"Work/", "Work/2025/"}) {
    SCOPED_TRACE(rel);
    TreeNode* n = browser->Model(0).FindNode(docs + rel, false);
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(n->expanded);
    EXPECT_NE(std::find(fresh[0].expanded.begin(), fresh[0].expanded.end(), n), fresh[0].expanded.end());
  }
  // A folder that was closed stays closed.
  TreeNode* other = browser->Model(0).FindNode(docs + "Other/", false);
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(other->expanded);
  for (int t = 0; t < 3; ++t) browser->SetTreeSurface(t, nullptr);
  browser.reset();
  for (int t = 0; t < 3; ++t) fresh[t].current = nullptr;
  browser = std::make_unique<DeskBrowser>(state, grid, std::make_unique<ScriptedPrompts>(log));
  for (int t = 0; t < 3; ++t) browser->SetTreeSurface(t, &trees[t]);
  browser->BuildTrees();
}

// A large folder is listed in a worker; while it takes longer than a moment the grid shows a
// progress bar (naming how many documents), which goes once the rows are in.
TEST_F(DeskBrowserTest, ALargeFolderShowsAProgressBarWhileItLists) {
  test::makeDirs(docs + "Bulk");
  for (int i = 0; i < 3000; ++i) test::writeFile(docs + "Bulk/bulk " + std::to_string(i) + ".txt", "x");
  browser->ReloadChildren(0, browser->Model(0).FindNode(docs, true));
  ASSERT_NE(Node("Bulk/"), nullptr);
  browser->ShowNode(Node("Bulk/"));
  ASSERT_TRUE(browser->ListingRunning());
  QElapsedTimer t;
  t.start();
  while (browser->ListingRunning() && t.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  QCoreApplication::processEvents();
  ASSERT_EQ(grid.model().size(), 3000u);
  ASSERT_FALSE(grid.progress.empty());
  EXPECT_EQ(grid.progress.back(), -1);  // gone once the rows are in
  const bool shown = std::any_of(grid.progress.begin(), grid.progress.end(), [](int p) { return p >= 0; });
  if (shown) {
    EXPECT_EQ(grid.progressEntries, 3000u);
  }
}

TEST(GridListingProgress, TheListingReportsHowFarItIs) {
  test::TempHome home;
  const std::string folder = home.path("Docs/");
  test::makeDirs(folder);
  for (int i = 0; i < 10; ++i) test::writeFile(folder + std::to_string(i) + ".txt", "x");
  ListingRequest req;
  req.folder = folder;
  req.progress = std::make_shared<std::atomic<int>>(0);
  store::IniRegistry registry;
  req.ctx.registry = &registry;
  const ListingOutcome out = RunListing(req);
  EXPECT_EQ(out.model.size(), 10u);
  EXPECT_EQ(req.progress->load(), 100);
}

TEST_F(DeskBrowserTest, DeleteOnARestrictedNodeIsRefusedAndTouchesNothing) {
  TreeNode* computer = nullptr;
  for (auto& c : browser->root(0)->children)
    if (c->image == niComputer) computer = c.get();
  ASSERT_NE(computer, nullptr);
  browser->ShowNode(computer);
  store::DocRows rows(1);
  rows[0].name = docs + "Work/report.doc";
  rows[0].selected = true;
  grid.SetRows(rows);
  grid.model().SelectOnly(0);
  browser->DeleteAction();
  EXPECT_TRUE(Exists("Work/report.doc"));
  EXPECT_EQ(shown.texts, (std::vector<std::string>{std::string(store::kCannotDeleteFiles)}));
  // The folder node itself: the documents root cannot go.
  shown.texts.clear();
  browser->DeleteFolderNode(browser->root(0));
  EXPECT_EQ(shown.texts, (std::vector<std::string>{std::string(store::kCannotDeleteFolder)}));
  EXPECT_TRUE(fs::exists(docs));
}

TEST_F(DeskBrowserTest, RenameAsksForTheNameAndRefusesWhatCannotBe) {
  test::writeFile(docs + "Work/plan.doc", "plan");
  browser->ShowNode(Node("Work/"));
  Select("report.doc");
  // Cancelled: nothing changes.
  log.texts = {std::nullopt};
  browser->RenameAction();
  EXPECT_TRUE(Exists("Work/report.doc"));
  EXPECT_EQ(log.asked, (std::vector<std::string>{std::string(store::kRenameDialogTitle)}));
  // A name the folder already holds is refused with its text; nothing moves.
  log.texts = {std::string("plan")};
  Select("report.doc");
  browser->RenameAction();
  EXPECT_TRUE(Exists("Work/report.doc"));
  ASSERT_EQ(shown.texts.size(), 1u);
  EXPECT_EQ(shown.texts[0],
            store::RenameRefusal(docs + "Work/", "report.doc", "plan", "doc"));
  EXPECT_FALSE(shown.texts[0].empty());
  // A good name renames it.
  shown.texts.clear();
  log.texts = {std::string("summary")};
  Select("report.doc");
  browser->RenameAction();
  EXPECT_FALSE(Exists("Work/report.doc"));
  EXPECT_TRUE(Exists("Work/summary.doc"));
  EXPECT_EQ(test::readFile(docs + "Work/plan.doc"), "plan");
  EXPECT_TRUE(shown.texts.empty());
  EXPECT_GE(grid.model().FindRecord(docs + "Work/", "summary.doc"), 0);
}

TEST_F(DeskBrowserTest, RenameOfAFolderNodeFollowsTheShownNodeAndRefusesSpecialNodes) {
  TreeNode* work = Node("Work/");
  browser->ShowNode(work);
  log.texts = {std::nullopt};
  browser->RenameFolderNode(work);
  EXPECT_TRUE(Exists("Work"));
  log.texts = {std::string("Projects")};
  browser->RenameFolderNode(work);
  EXPECT_FALSE(Exists("Work"));
  EXPECT_TRUE(Exists("Projects/report.doc"));
  ASSERT_NE(browser->ShownNode(), nullptr);
  EXPECT_EQ(browser->ShownFolder(), docs + "Projects/");
  EXPECT_EQ(grid.model().size(), 2u);
  // The documents root: refused before any dialog.
  log.asked.clear();
  browser->RenameFolderNode(browser->root(0));
  EXPECT_TRUE(log.asked.empty());
  EXPECT_EQ(shown.texts, (std::vector<std::string>{std::string(store::kCannotRenameFolder)}));
}

// The sorting rules follow a folder the desk renames or moves, saved at once, with one message
// naming every rule that changed.
TEST_F(DeskBrowserTest, RulesFollowAFolderRenamedOrMovedInTheDesk) {
  const std::string file = state.locations.dataRoot + "mailsort.lst";
  test::writeFile(file, "Boss|OM " + docs + "Work/|F < boss@x.example\r\n" +
                            "Minutes|OC " + docs + "Work/|S < minutes\r\n" +
                            "Rest|OM " + docs + "Other/|F < ann@x.example\r\n");
  if (!state.sortRules) state.sortRules = std::make_unique<incoming::MailSortRules>();
  state.sortRules->Load(file);
  log.texts = {std::string("Projects")};
  browser->RenameFolderNode(Node("Work/"));
  ASSERT_TRUE(Exists("Projects/report.doc"));
  const auto& rules = state.sortRules->Rules();
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].folder, docs + "Projects/");
  EXPECT_EQ(rules[1].folder, docs + "Projects/");
  EXPECT_EQ(rules[2].folder, docs + "Other/");
  EXPECT_NE(test::readFile(file).find("Boss|OM " + docs + "Projects/|"), std::string::npos);
  state.messages.ShowQueuedMessages();
  ASSERT_EQ(shown.texts.size(), 1u);
  EXPECT_NE(shown.texts[0].find("mail sorting rules"), std::string::npos);
  EXPECT_NE(shown.texts[0].find("Boss"), std::string::npos);
  EXPECT_NE(shown.texts[0].find("Minutes"), std::string::npos);
  EXPECT_EQ(shown.texts[0].find("Rest"), std::string::npos);

  // Moved (as a drop of its node on another does) by the desk's operations: the rules go along.
  store::OpItem item;
  item.folder = docs;
  item.name = "Projects";
  item.title = "Projects";
  item.targetFolder = docs + "Other/";
  std::vector<store::OpItem> items{item};
  browser->Operations().RunOnSelection(store::opMove, items);
  ASSERT_TRUE(Exists("Other/Projects/report.doc"));
  EXPECT_EQ(state.sortRules->Rules()[0].folder, docs + "Other/Projects/");
  EXPECT_NE(test::readFile(file).find("Minutes|OC " + docs + "Other/Projects/|"), std::string::npos);
}

TEST_F(DeskBrowserTest, NewFolderIsMadeAndShownBelowItsParent) {
  TreeNode* work = Node("Work/");
  browser->ShowNode(work);
  log.texts = {std::nullopt};
  browser->CreateTreeNode(work);
  EXPECT_FALSE(Exists("Work/Drafts"));
  log.texts = {std::string("  Drafts ")};
  browser->CreateTreeNode(work);
  EXPECT_TRUE(fs::is_directory(docs + "Work/Drafts"));
  ASSERT_TRUE(work->childrenLoaded);
  ASSERT_EQ(work->children.size(), 1u);
  EXPECT_EQ(work->children[0]->caption, "Drafts");
  EXPECT_TRUE(work->expanded);
  // Nowhere to create it: refused without asking.
  log.asked.clear();
  browser->CreateTreeNode(nullptr);
  EXPECT_TRUE(log.asked.empty());
  EXPECT_EQ(shown.texts, (std::vector<std::string>{std::string(store::kCannotCreateFiles)}));
}

TEST_F(DeskBrowserTest, DuplicateMakesACopyBesideTheFileUnderTheNameAsked) {
  browser->ShowNode(Node("Work/"));
  Select("notes.txt");
  log.texts = {std::nullopt};
  browser->aDuplicateExecute();
  EXPECT_EQ(log.asked, (std::vector<std::string>{std::string(store::kNewDocumentPrompt)}));
  EXPECT_EQ(grid.model().size(), 2u);
  Select("notes.txt");
  log.texts = {std::string("notes copy")};
  browser->aDuplicateExecute();
  EXPECT_EQ(test::readFile(docs + "Work/notes copy.txt"), "notes");
  EXPECT_EQ(test::readFile(docs + "Work/notes.txt"), "notes");
  EXPECT_EQ(grid.model().size(), 3u);
}

TEST_F(DeskBrowserTest, ColourGoesToTheSelectionAndIsRemembered) {
  browser->ShowNode(Node("Work/"));
  Select("notes.txt");
  const int r = grid.model().FindRecord(docs + "Work/", "notes.txt");
  // No colour on the row: the chooser opens; cancelled, nothing changes.
  log.colours = {std::nullopt};
  browser->ColourClick(r);
  EXPECT_EQ(store::ColourOfFlags(grid.model().rows()[r].flags), 0);
  log.colours = {3};
  browser->ColourClick(r);
  EXPECT_EQ(state.settings.LastColour(), 3);
  EXPECT_EQ(store::ColourOfFlags(grid.model().rows()[r].flags), 3);
  // Stored in the index: the colour survives a new listing.
  browser->Relist();
  const int again = grid.model().FindRecord(docs + "Work/", "notes.txt");
  ASSERT_GE(again, 0);
  EXPECT_EQ(store::ColourOfFlags(grid.model().rows()[again].flags), 3);
  EXPECT_EQ(log.asked, (std::vector<std::string>{"colour", "colour"}));
}

TEST_F(DeskBrowserTest, ATabSwitchIsRefusedWhileBusy) {
  browser->ShowNode(Node("Work/"));
  state.busy = true;
  EXPECT_FALSE(browser->SwitchTab(GridTab::Contacts));
  EXPECT_EQ(browser->CurrentTab(), GridTab::Files);
  EXPECT_EQ(browser->ShownFolder(), docs + "Work/");
  state.busy = false;
  std::vector<GridTab> changes;
  QObject::connect(browser.get(), &DeskBrowser::TabChanged, [&](GridTab t) { changes.push_back(t); });
  EXPECT_TRUE(browser->SwitchTab(GridTab::Tools));
  EXPECT_EQ(grid.tab, GridTab::Tools);
  EXPECT_EQ(browser->TabBeforeOptions(), GridTab::Files);
  EXPECT_EQ(changes, (std::vector<GridTab>{GridTab::Tools}));
  // The tools tab has no grid menu.
  EXPECT_FALSE(browser->GridMenuFor(-1).shown);
}

TEST_F(DeskBrowserTest, ContactsImportedByAnotherProcessShowAtTheNextTick) {
  state.initialised = true;
  ASSERT_TRUE(browser->SwitchTab(GridTab::Contacts));
  EXPECT_EQ(browser->ShownFolder(), state.locations.contacts);
  EXPECT_EQ(grid.model().size(), 0u);
  EXPECT_TRUE(browser->WatchesShownFolder());
  // plumadex-cli import-contacts: its own index registry and address map.
  store::IniRegistry cliRegistry;
  contacts::AddressMap cliMap;
  RandomSource random;
  const contacts::ImportResult r = contacts::ImportContactCards(
      state.locations.contacts,
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Jackson;Janet\r\nEMAIL:janet@example.com\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Public;John\r\nEMAIL:jqp@example.net\r\nEND:VCARD\r\n",
      cliRegistry, cliMap, true, random);
  ASSERT_EQ(r.imported, 2);
  browser->CheckFolderChanges();  // the clock tick
  EXPECT_EQ(grid.model().size(), 2u);
  // A card changed by hand in the folder shows too (only its index entry changes the rows).
  store::TPXIniFile index(cliRegistry, store::IndexPathOf(state.locations.contacts));
  index.WriteString(r.files[0], "Title", "Jackson, Janet Damita");
  ASSERT_TRUE(index.Release().ok());
  browser->CheckFolderChanges();
  const int row = grid.model().FindRecord(state.locations.contacts, r.files[0]);
  ASSERT_GE(row, 0);
  EXPECT_EQ(grid.model().rows()[row].title, "Jackson, Janet Damita");
}

TEST_F(DeskBrowserTest, CopyToRunsIntoTheChosenFolderAndTheChooserRefusesTheSourceOnMove) {
  browser->ShowNode(Node("Work/"));
  Select("notes.txt");
  log.folders = {docs + "Other/"};
  browser->CarryToAction(false);
  EXPECT_TRUE(Exists("Other/notes.txt"));
  EXPECT_TRUE(Exists("Work/notes.txt"));
  // Moving into the folder it comes from is refused in the chooser.
  Select("notes.txt");
  log.refusalNode = Node("Work/");
  log.folders = {""};
  browser->CarryToAction(true);
  ASSERT_EQ(log.refusals.size(), 1u);
  EXPECT_FALSE(log.refusals[0].empty());
  EXPECT_TRUE(Exists("Work/notes.txt"));
}

TEST_F(DeskBrowserTest, BlockSenderAsksFirstAndUnblockDoesNot) {
  state.blockedSenders = std::make_unique<incoming::BlockedSenders>();
  store::DocRows rows(1);
  rows[0].name = "mail.txt";
  rows[0].folder = docs;
  rows[0].flags = store::dfReceived;
  rows[0].address = "\"Ann\" <Ann@Example.org>";
  grid.SetRows(rows);
  GridMenu menu = browser->GridMenuFor(0);
  ASSERT_EQ(menu.blockText, "Block Sender");
  ASSERT_EQ(menu.sender, "ann@example.org");
  log.answers = {false};
  browser->BlockSenderAction(menu.sender);
  EXPECT_FALSE(state.blockedSenders->IsBlocked("ann@example.org"));
  log.answers = {true};
  browser->BlockSenderAction(menu.sender);
  EXPECT_TRUE(state.blockedSenders->IsBlocked("ann@example.org"));
  EXPECT_EQ(log.asked.size(), 2u);
  menu = browser->GridMenuFor(0);
  EXPECT_EQ(menu.blockText, "Unblock Sender");
  browser->BlockSenderAction(menu.sender);
  EXPECT_FALSE(state.blockedSenders->IsBlocked("ann@example.org"));
  EXPECT_EQ(log.asked.size(), 2u);
  // Over empty space, and without the list, there is nothing to block.
  EXPECT_EQ(browser->GridMenuFor(-1).blockText, "");
  state.blockedSenders.reset();
  EXPECT_EQ(browser->GridMenuFor(0).blockText, "");
}

TEST_F(DeskBrowserTest, AnOpenedDocumentIsReadAndTheMenuMarksReadOrUnread) {
  // Two received messages, unread, as filing leaves them.
  {
    store::TPXIniFile ix(state.indexRegistry, store::IndexPathOf(docs + "Work/"));
    ix.WriteInteger("notes.txt", "Flags", 0x1201);
    ix.WriteString("notes.txt", "MsgID", "A:001");
    ix.WriteInteger("report.doc", "Flags", 0x1201);
    ix.WriteString("report.doc", "MsgID", "B:001");
    ASSERT_TRUE(ix.Release().ok());
  }
  browser->ShowNode(Node("Work/"));  // the listing counts the folder's unread entries
  ASSERT_TRUE(state.unreadList);
  auto own = [&] { return state.unreadList->GetUnreadCount(docs + "Work/").own; };
  auto flagsOf = [&](const std::string& name) {
    store::TPXIniFile ix(state.indexRegistry, store::IndexPathOf(docs + "Work/"));
    return ix.ReadInteger(name, "Flags", 0);
  };
  const auto record = [&](const std::string& name) { return grid.model().FindRecord(docs + "Work/", name); };
  ASSERT_EQ(own(), 2);

  // Opened in the message window (the opener takes it) or in its program: read.
  browser->openDocument = [](const store::DocRecord& r) { return r.name == "notes.txt"; };
  std::vector<std::string> handed;
  browser->openWithDesktop = [&](const std::string& path) { handed.push_back(path); };
  browser->OpenRecord(record("notes.txt"));
  EXPECT_EQ(flagsOf("notes.txt") & store::dfUnread, 0);
  EXPECT_EQ(grid.model().rows()[record("notes.txt")].flags & store::dfUnread, 0);
  EXPECT_EQ(own(), 1);
  browser->OpenRecord(record("report.doc"));
  EXPECT_EQ(handed.size(), 1u);
  EXPECT_EQ(flagsOf("report.doc") & store::dfUnread, 0);
  EXPECT_EQ(own(), 0);
  // Received and sealed bits stay.
  EXPECT_EQ(flagsOf("report.doc"), 0x1001);

  // Mark as Unread, then as Read, on the selection.
  Select("report.doc");
  GridMenu menu = browser->GridMenuFor(record("report.doc"));
  EXPECT_FALSE(menu.markRead);
  EXPECT_TRUE(menu.markUnread);
  browser->SetReadMark(false);
  EXPECT_EQ(flagsOf("report.doc"), 0x1201);
  EXPECT_EQ(own(), 1);
  menu = browser->GridMenuFor(record("report.doc"));
  EXPECT_TRUE(menu.markRead);
  browser->SetReadMark(true);
  EXPECT_EQ(flagsOf("report.doc"), 0x1001);
  EXPECT_EQ(own(), 0);
  // A second listing agrees with the index.
  browser->Relist();
  EXPECT_EQ(grid.model().rows()[record("report.doc")].flags & store::dfUnread, 0);
  EXPECT_EQ(own(), 0);
}

TEST_F(DeskBrowserTest, OpeningARowGoesToTheOpenerFirstAndNeverRunsAProgram) {
  std::vector<std::string> handed;
  browser->openWithDesktop = [&](const std::string& path) { handed.push_back(path); };
  test::writeFile(docs + "Work/tool.sh", "#!/bin/sh\n");
  fs::permissions(docs + "Work/tool.sh", fs::perms::owner_exec, fs::perm_options::add);
  browser->ShowNode(Node("Work/"));
  const auto record = [&](const std::string& name) { return grid.model().FindRecord(docs + "Work/", name); };
  browser->OpenRecord(record("tool.sh"));
  EXPECT_TRUE(handed.empty());
  browser->OpenRecord(record("report.doc"));
  EXPECT_EQ(handed, (std::vector<std::string>{docs + "Work/report.doc"}));
  // The desk's document opener takes what it knows.
  int taken = 0;
  browser->openDocument = [&](const store::DocRecord&) { return ++taken > 0; };
  browser->OpenRecord(record("notes.txt"));
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(handed.size(), 1u);
  browser->OpenRecord(-1);
  browser->OpenRecord(99);
  EXPECT_EQ(taken, 1);
}

// The Quickboard given to the browser follows its renames and deletes: the slots take the new
// paths, and a deleted document's slot empties.
TEST_F(DeskBrowserTest, QuickboardButtonsFollowRenamesAndDeletes) {
  SystemQuickboardFs fs({}, {});
  Quickboard::Env env;
  env.iniPath = state.locations.QuickboardIni();
  env.iconsFolder = state.locations.icons;
  env.trashFolder = state.locations.trash;
  env.fs = &fs;
  test::writeFile(env.iniPath, "[$$.Plumadex]\r\nContents=" + docs + "Work/|" + docs + "Work/notes.txt|" + docs +
                                   "Other/\r\n[" + docs + "Work/notes.txt]\r\nCaption=Mine\r\n");
  Quickboard qb(env);
  (void)qb.Load();
  browser->SetQuickboard(&qb);
  TreeNode* work = Node("Work/");
  browser->ShowNode(work);
  log.texts = {std::string("Projects")};
  browser->RenameFolderNode(work);
  ASSERT_TRUE(Exists("Projects/notes.txt"));
  EXPECT_EQ(qb.Item(0)->path, docs + "Projects/");
  EXPECT_EQ(qb.Item(1)->path, docs + "Projects/notes.txt");
  EXPECT_EQ(qb.Item(1)->label, "Mine");
  Select("notes.txt");
  browser->DeleteAction();
  EXPECT_TRUE(qb.Item(1)->Empty());
  const std::string saved = test::readFile(env.iniPath);
  EXPECT_NE(saved.find("Contents=" + docs + "Projects/||" + docs + "Other/"), std::string::npos) << saved;
  browser->SetQuickboard(nullptr);
}


}  // namespace
}  // namespace px::desk
