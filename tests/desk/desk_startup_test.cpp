#include "desk/desk_controller.h"
#include "support/fake_desk_clock.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <numeric>
#include <stdexcept>

using namespace px;
using namespace px::desk;

namespace {

class DeskStartupTest : public ::testing::Test {
protected:
  void SetUp() override {
    test::makeDirs(home.path("prog"));
    test::writeFile(home.path("prog/user0.ini"), "[User]\r\nID=anna\r\n");
    qputenv("PLUMADEX_PROGRAM_DIR", QByteArray::fromStdString(home.path("prog")));
    state.registry = std::make_unique<platform::MemoryRegistry>();
    auto c = std::make_unique<test::FakeDeskClock>(1000);
    clock = c.get();
    controller = std::make_unique<DeskController>(state, hooks, std::move(c));
    RecordAll();
  }
  void TearDown() override {
    if (controller) controller->Destroy();  // removes the run's temporary folder
    controller.reset();
    qunsetenv("PLUMADEX_PROGRAM_DIR");
  }

  // Every start-up hook records its name.
  void RecordAll() {
    auto rec = [this](const char* name) { return [this, name] { calls.push_back(name); }; };
    hooks.applySkin = rec("applySkin");
    hooks.runAddressSetup = rec("runAddressSetup");
    hooks.showSplash = rec("showSplash");
    hooks.createLists = rec("createLists");
    hooks.startThreads = rec("startThreads");
    hooks.openSentRegister = rec("openSentRegister");
    hooks.bindShellFolders = rec("bindShellFolders");
    hooks.loadUnreadList = rec("loadUnreadList");
    hooks.buildTrees = rec("buildTrees");
    hooks.syncContacts = rec("syncContacts");
    hooks.loadQuickboard = rec("loadQuickboard");
    hooks.initEncryption = rec("initEncryption");
    hooks.readLayout = rec("readLayout");
    hooks.initLayout = rec("initLayout");
    hooks.readMailSettings = rec("readMailSettings");
    hooks.removeSplash = rec("removeSplash");
    hooks.showClock = rec("showClock");
    hooks.selectFirstNode = rec("selectFirstNode");
    hooks.checkDefaultMailProgram = rec("checkDefaultMailProgram");
    hooks.openWizard = rec("openWizard");
    hooks.fileReceivedMail = [this] {
      calls.push_back("fileReceivedMail");
      return false;
    };
    hooks.openMailto = [this](const std::string& url) { mailtos.push_back(url); };
    hooks.saveBrowserPage = [this](int n) { webPages.push_back(n); };
  }

  // FormCreate and the initialisation up to its end (the splash wait included).
  void StartFully() {
    ASSERT_EQ(controller->FormCreate(false), DeskController::StartResult::Run);
    ASSERT_TRUE(controller->timers().tmrApp.isActive());
    controller->OnApp();
    ASSERT_TRUE(controller->Initialised());
  }

  test::TempHome home;
  DeskState state;
  DeskHooks hooks;
  test::FakeDeskClock* clock = nullptr;
  std::unique_ptr<DeskController> controller;
  std::vector<std::string> calls;
  std::vector<std::string> mailtos;
  std::vector<int> webPages;
};

}  // namespace

TEST_F(DeskStartupTest, StepsRunInTheirOrder) {
  StartFully();
  std::vector<int> expected(37 - 5 + 1);
  std::iota(expected.begin(), expected.end(), 5);
  EXPECT_EQ(controller->Trace(), expected);
  const std::vector<std::string> order = {
      "applySkin",        "showSplash",     "createLists",     "startThreads",   "openSentRegister",
      "bindShellFolders", "loadUnreadList", "buildTrees",      "syncContacts",   "loadQuickboard",
      "initEncryption",   "readLayout",     "initLayout",      "readMailSettings", "removeSplash",
      "showClock",        "selectFirstNode", "fileReceivedMail", "checkDefaultMailProgram"};
  EXPECT_EQ(calls, order);
  EXPECT_TRUE(controller->timers().tmrClock.isActive());
  EXPECT_TRUE(controller->timers().tmrTraffic.isActive());
  EXPECT_TRUE(controller->timers().tmrMouse.isActive());
  EXPECT_FALSE(controller->timers().tmrIP.isActive());
  EXPECT_EQ(state.previousVersion, "3.01");
  EXPECT_EQ(state.ownFromAddress, "anna");
}

TEST_F(DeskStartupTest, PendingFoldersAreRebuiltFromTheOutgoingRegister) {
  state.locations = ComputeLocations();
  MakeDataFolders(state.locations);
  const std::string docs = state.locations.documents;
  test::makeDirs(docs + "Out");
  test::writeFile(docs + "Out/letter.txt", "hello");
  test::writeFile(state.locations.SentIni(),
                  "[$$$LNK.B1:001]\r\nPath=" + docs + "Out/\r\nID=letter.txt\r\nFlags=9216\r\n"
                  "[$$$LNK.B2:001]\r\nPath=" + docs + "\r\nID=gone.txt\r\nFlags=9216\r\n"
                  "[$$$LNK.B3:001]\r\nPath=" + docs + "\r\nID=sent.txt\r\nFlags=8192\r\n");
  test::writeFile(docs + "sent.txt", "done");
  StartFully();
  EXPECT_EQ(state.pendingFolders, std::vector<std::string>{docs + "Out/"});
}

TEST_F(DeskStartupTest, GuardedStepsDoNotStopTheStart) {
  hooks.applySkin = [] { throw std::runtime_error("broken skin"); };
  hooks.buildTrees = [] { throw std::runtime_error("no trees"); };
  hooks.fileReceivedMail = []() -> bool { throw std::runtime_error("spool unreadable"); };
  StartFully();
  const auto has = [&](const char* n) { return std::find(calls.begin(), calls.end(), n) != calls.end(); };
  EXPECT_TRUE(has("loadUnreadList"));
  EXPECT_TRUE(has("syncContacts"));  // the rest of step 25 still runs
  EXPECT_TRUE(has("loadQuickboard"));
  EXPECT_TRUE(has("showSplash"));
  EXPECT_TRUE(has("checkDefaultMailProgram"));
  EXPECT_TRUE(controller->timers().tmrTraffic.isActive());
  EXPECT_TRUE(state.messages.Pending().empty());  // step 33 failures are not reported
}

TEST_F(DeskStartupTest, FailureOfAnUnguardedStepIsReportedAndTheDeskComesUp) {
  hooks.createLists = [] { throw std::runtime_error("Cannot read newmail.lst"); };
  StartFully();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "removeSplash"), 1);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "selectFirstNode"), 1);
  ASSERT_FALSE(state.messages.Pending().empty());
  EXPECT_EQ(state.messages.Pending().back().rfind("Cannot read newmail.lst", 0), 0u);
  EXPECT_TRUE(controller->timers().tmrTraffic.isActive());
}

TEST_F(DeskStartupTest, AReadyDeskIsNotHeldBehindTheSplash) {
  ASSERT_EQ(controller->FormCreate(false), DeskController::StartResult::Run);
  controller->OnApp();
  // The splash came up before the lists and trees were read and went as soon as they were.
  const auto at = [&](const char* name) { return std::find(calls.begin(), calls.end(), name) - calls.begin(); };
  EXPECT_LT(at("showSplash"), at("buildTrees"));
  EXPECT_LT(at("readMailSettings"), at("removeSplash"));
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "removeSplash"), 1);
  EXPECT_TRUE(controller->Initialised());
  EXPECT_TRUE(clock->due.empty());
}

TEST_F(DeskStartupTest, SlowStartRemovesTheSplashAtOnce) {
  hooks.readLayout = [this] { clock->now += 5000; };
  ASSERT_EQ(controller->FormCreate(false), DeskController::StartResult::Run);
  controller->OnApp();
  EXPECT_TRUE(controller->Initialised());
  EXPECT_TRUE(clock->due.empty());
}

TEST_F(DeskStartupTest, AddressSetupAndVersionMarker) {
  struct Case {
    bool idSet, marker, checkOk;
    bool setupRuns, warned, markerLeft;
  } cases[] = {
      {true, false, false, false, false, false},
      {false, false, false, true, true, false},
      {true, true, true, true, false, false},
      {true, true, false, true, false, true},
  };
  for (const Case& c : cases) {
    TearDown();
    calls.clear();
    test::TempHome h;
    test::makeDirs(h.path("prog"));
    test::writeFile(h.path("prog/user0.ini"), c.idSet ? "[User]\r\nID=anna\r\n" : "");
    qputenv("PLUMADEX_PROGRAM_DIR", QByteArray::fromStdString(h.path("prog")));
    DeskState st;
    st.registry = std::make_unique<platform::MemoryRegistry>();
    if (c.marker) st.registry->WriteString(platform::kProgramKey, platform::kCheckVersionValue, "");
    int checks = 0;
    hooks.runVersionCheck = [&] {
      ++checks;
      return c.checkOk;
    };
    auto fc = std::make_unique<test::FakeDeskClock>(1000);
    DeskController dc(st, hooks, std::move(fc));
    ASSERT_EQ(dc.FormCreate(false), DeskController::StartResult::Run);
    dc.OnApp();
    const bool setup = std::count(calls.begin(), calls.end(), "runAddressSetup") > 0;
    EXPECT_EQ(setup, c.setupRuns) << c.idSet << c.marker;
    const bool warned = !st.messages.Pending().empty() &&
                        st.messages.Pending().front().find("has not been set up") != std::string::npos;
    EXPECT_EQ(warned, c.warned) << c.idSet << c.marker;
    EXPECT_EQ(checks, c.marker && c.idSet ? 1 : 0);
    EXPECT_EQ(st.registry->ValueExists(platform::kProgramKey, platform::kCheckVersionValue), c.markerLeft);
    dc.Destroy();
    qunsetenv("PLUMADEX_PROGRAM_DIR");
  }
}

TEST_F(DeskStartupTest, CheckMailTimerFollowsItsSettings) {
  StartFully();
  QTimer& t = controller->timers().tmrCheckMail;
  struct Case {
    const char* autoCheck;
    const char* interval;
    bool active;
    int ms;
  } cases[] = {{"0", "5", false, 300000}, {"1", "5", true, 300000}, {"yes", "15", false, 900000},
               {"1", nullptr, true, 900000}};
  for (const Case& c : cases) {
    state.settings.WriteString("User", "Auto Check Mail", c.autoCheck);
    if (c.interval) state.settings.WriteString("User", "Mail Check Interval", c.interval);
    else state.settings.DeleteKey("User", "Mail Check Interval");
    controller->ApplyCheckMailSettings();
    EXPECT_EQ(t.isActive(), c.active) << c.autoCheck;
    EXPECT_EQ(t.interval(), c.ms) << c.autoCheck;
  }
  // No receive run while a transfer runs or without a connection.
  int starts = 0;
  bool online = true;
  hooks.startTransfer = [&](TransferKind k) {
    EXPECT_EQ(k, TransferKind::Receive);
    ++starts;
  };
  hooks.internetAvailable = [&] { return online; };
  controller->OnCheckMail();
  controller->timers().tmrIP.start();
  controller->OnCheckMail();
  controller->timers().tmrIP.stop();
  online = false;
  controller->OnCheckMail();
  EXPECT_EQ(starts, 1);
}

TEST_F(DeskStartupTest, TrafficReenablesItselfWhenItsWorkFails) {
  StartFully();
  int runs = 0;
  bool relisted = false;
  hooks.fileReceivedMail = [&]() -> bool {
    if (++runs <= 2) throw std::runtime_error("Cannot read the inbox");
    return true;
  };
  hooks.folderSelected = [] { return true; };
  hooks.relistFolder = [&] { relisted = true; };
  QTimer& t = controller->timers().tmrTraffic;
  controller->OnTraffic();
  EXPECT_TRUE(t.isActive());
  controller->OnTraffic();
  EXPECT_TRUE(t.isActive());
  // The same failure is reported once, not every 30 seconds.
  EXPECT_EQ(state.messages.Pending().size(), 1u);
  controller->OnTraffic();
  EXPECT_TRUE(relisted);
  EXPECT_TRUE(t.isActive());
}

TEST_F(DeskStartupTest, TrafficAndFolderWatchWaitWhileAnOperationRuns) {
  StartFully();
  int filings = 0, checks = 0;
  bool busyWhileFiling = false;
  hooks.fileReceivedMail = [&] {
    ++filings;
    busyWhileFiling = state.busy;
    return false;
  };
  hooks.filesTabShown = [] { return true; };
  hooks.checkFolderChanges = [&] { ++checks; };
  controller->timers().tmrTraffic.start();
  state.busy = true;  // a document operation is half-way
  controller->OnTraffic();
  controller->OnClock();
  EXPECT_EQ(filings, 0);
  EXPECT_EQ(checks, 0);
  EXPECT_TRUE(controller->timers().tmrTraffic.isActive());  // tries again at the next interval
  state.busy = false;
  controller->OnTraffic();
  controller->OnClock();
  EXPECT_EQ(filings, 1);
  EXPECT_EQ(checks, 1);
  // Filing is a run of its own: nothing else starts under it, and the flag drops after it.
  EXPECT_TRUE(busyWhileFiling);
  EXPECT_FALSE(state.busy);
}

TEST_F(DeskStartupTest, RequestsWaitForTheEndOfInitialisation) {
  // Requests handed over while the desk is still setting itself up wait for the end.
  bool sawEarly = false;
  hooks.readLayout = [&] {
    controller->HandleRequest("mailto:bob@example.org");
    controller->HandleRequest("rm -rf /");
    controller->HandleRequest("/web:2");
    sawEarly = !mailtos.empty() || !webPages.empty();
  };
  ASSERT_EQ(controller->FormCreate(false), DeskController::StartResult::Run);
  controller->OnApp();
  EXPECT_FALSE(sawEarly);
  EXPECT_EQ(mailtos, std::vector<std::string>{"mailto:bob@example.org"});
  EXPECT_EQ(webPages, std::vector<int>{2});
  controller->HandleRequest("mailto:carl@example.org");
  EXPECT_EQ(mailtos.size(), 2u);
}

TEST_F(DeskStartupTest, OwnArgumentsGoThroughTheHandOverFile) {
  state.arguments = {"mailto:dora@example.org?subject=Hi"};
  ASSERT_EQ(controller->FormCreate(false), DeskController::StartResult::Run);
  const std::string handOver = state.locations.HandOverFile();
  EXPECT_EQ(test::readFile(handOver), "mailto:dora@example.org?subject=Hi\r\n");
  controller->OnApp();
  EXPECT_EQ(mailtos, std::vector<std::string>{"mailto:dora@example.org?subject=Hi"});
  EXPECT_FALSE(QFile::exists(QString::fromStdString(handOver)));

  state.arguments = {"/web:7"};
  DeskState other;
  other.registry = std::make_unique<platform::MemoryRegistry>();
  other.arguments = {"/web:7"};
  auto fc = std::make_unique<test::FakeDeskClock>(1000);
  DeskController dc(other, hooks, std::move(fc));
  dc.FormCreate(false);
  dc.OnApp();
  EXPECT_EQ(webPages, std::vector<int>{7});
  dc.Destroy();
}

TEST_F(DeskStartupTest, WelcomeRequestFilesTheWelcomeMessages) {
  test::writeFile(home.path("prog/Getting Started Tutorial.msg_"), "tutorial");
  test::writeFile(home.path("prog/Welcome to Plumadex!.msg_"), "welcome");
  int traffic = 0;
  hooks.fileReceivedMail = [&] {
    ++traffic;
    return false;
  };
  StartFully();
  const int before = traffic;
  controller->HandleRequest(std::string("mailto:support@plumadex.com") + std::string(kWelcomeQuery));
  EXPECT_TRUE(mailtos.empty());
  EXPECT_EQ(test::readFile(state.locations.inbox + "Welcome to Plumadex!.msg_"), "welcome");
  EXPECT_EQ(test::readFile(state.locations.inbox + "Getting Started Tutorial.msg_"), "tutorial");
  EXPECT_EQ(traffic, before + 1);
}

TEST_F(DeskStartupTest, NewInstallOpensTheWizardOnce) {
  test::writeFile(home.path("prog/user0.ini"), "[User]\r\nID=anna\r\nNew Install=1\r\n");
  StartFully();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "openWizard"), 1);
  EXPECT_FALSE(Settings(state.locations.UserIni()).ValueExists("User", "New Install"));
}

TEST_F(DeskStartupTest, CloseRefusedWhileBusyOrTransferring) {
  StartFully();
  bool opened = false;
  hooks.openedDocumentsStillOpen = [&] { return opened; };
  state.busy = true;
  EXPECT_FALSE(controller->CanClose());
  state.busy = false;
  controller->timers().tmrIP.start();
  EXPECT_FALSE(controller->CanClose());
  controller->timers().tmrIP.stop();
  opened = true;
  EXPECT_FALSE(controller->CanClose());
  ASSERT_EQ(state.messages.Pending().size(), 1u);
  EXPECT_EQ(state.messages.Pending().front().rfind("Sorry, but you must close all opened files", 0), 0u);
  EXPECT_FALSE(state.closing);
  opened = false;
  EXPECT_TRUE(controller->CanClose());
  EXPECT_TRUE(state.closing);
}

TEST_F(DeskStartupTest, CloseDuringATransferAsksAndClosesOnlyOnceTheRunHasEnded) {
  StartFully();
  int asked = 0;
  bool stopAndWait = false;
  hooks.stopTransferForClose = [&] {
    ++asked;
    if (stopAndWait) controller->timers().tmrIP.stop();  // the run was stopped and has ended
    return stopAndWait;
  };
  controller->timers().tmrIP.start();
  EXPECT_FALSE(controller->CanClose());  // "No": the run goes on
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(state.closing);
  EXPECT_TRUE(controller->timers().tmrIP.isActive());
  stopAndWait = true;
  EXPECT_TRUE(controller->CanClose());
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(state.closing);
  // Without a run nothing is asked.
  state.closing = false;
  EXPECT_TRUE(controller->CanClose());
  EXPECT_EQ(asked, 2);
}

TEST_F(DeskStartupTest, ListsAndSettingsThatCannotBeSavedAtTheCloseAreLogged) {
  StartFully();
  const std::string log = home.path("events.log");
  controller->SetEventLog(log);
  state.unreadList->ChangeUnreadCount(state.locations.documents + "Inbox/", 2, false);  // to be saved
  // Folders where the lists go: the saves fail, for root as well.
  for (const std::string& path : {state.locations.UnreadList(), state.locations.NewMailList()}) {
    QFile::remove(QString::fromStdString(path));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path)));
  }
  // The settings file gives way to a folder: a change cannot be saved, at the close either.
  const std::string userIni = state.locations.UserIni();
  ASSERT_TRUE(QFile::remove(QString::fromStdString(userIni)));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(userIni)));
  state.settings.WriteString("User", "Auto Check Mail", "1");
  controller->Destroy();
  const std::string text = test::readFile(log);
  EXPECT_NE(text.find("User.ini: Cannot "), std::string::npos) << text;
  EXPECT_NE(text.find("unread.lst: Cannot write " + state.locations.UnreadList()), std::string::npos) << text;
  EXPECT_NE(text.find("newmail.lst: Cannot write " + state.locations.NewMailList()), std::string::npos) << text;
}

TEST_F(DeskStartupTest, DestroyStopsTimersSavesAndRemovesTheTemporaryFolder) {
  StartFully();
  bool savedUnread = false, savedNewMail = false;
  hooks.stopThreads = [] { throw std::runtime_error("thread hung"); };
  hooks.saveUnreadList = [&] { savedUnread = true; };
  hooks.saveNewMailList = [&] { savedNewMail = true; };
  const std::string temp = state.locations.tempFolder;
  ASSERT_TRUE(QFile::exists(QString::fromStdString(temp)));
  ASSERT_NE(state.unreadList, nullptr);
  ASSERT_NE(state.newMailList, nullptr);
  ASSERT_NE(state.sentIni, nullptr);
  controller->Destroy();
  EXPECT_TRUE(QFile::exists(QString::fromStdString(state.locations.NewMailList())));
  EXPECT_EQ(state.unreadList, nullptr);
  EXPECT_EQ(state.sentIni, nullptr);
  EXPECT_FALSE(controller->timers().tmrTraffic.isActive());
  EXPECT_FALSE(controller->timers().tmrClock.isActive());
  EXPECT_TRUE(savedUnread);
  EXPECT_TRUE(savedNewMail);
  EXPECT_TRUE(state.userId.empty());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(temp)));
  // A traffic run that ends after the close does not start its timer again.
  controller->OnTraffic();
  EXPECT_FALSE(controller->timers().tmrTraffic.isActive());
}
