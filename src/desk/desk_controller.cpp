#include "desk/desk_controller.h"

#include "platform/single_instance.h"
#include "store/folder_listing.h"
#include "store/pending_register.h"
#include "store/index_file.h"
#include "store/leftover_sweep.h"
#include "store/run_mark.h"
#include "store/move_journal.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"
#include "transport/address_setup.h"

#include <ctime>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <exception>
#include <fstream>

namespace px::desk {

namespace {

template <typename R>
R CallOr(const std::function<R()>& fn, R def) {
  return fn ? fn() : def;
}
void Call(const std::function<void()>& fn) {
  if (fn) fn();
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && StartsWithNoCase(s.substr(s.size() - suffix.size()), suffix);
}

// The request of this start, when its first argument is one.
std::string RequestOf(const std::vector<std::string>& args) {
  if (args.empty()) return {};
  const std::string& a = args.front();
  if (StartsWithNoCase(a, "mailto:")) return a;
  if (a.size() > 5 && StartsWithNoCase(a, "/web:")) return a;
  return {};
}

constexpr const char* kAlreadyRunning = "Plumadex is already running";
constexpr const char* kNoAddress =
    "Your Plumadex address has not been set up. You will not be able to send or receive mail in "
    "Plumadex. To set up your address, choose \"Set up Plumadex address...\" in Options (Plumadex mail "
    "configuration).";
constexpr const char* kCloseFilesFirst = "Sorry, but you must close all opened files before exiting from Plumadex.";

}  // namespace

// --- Clock ---

QtDeskClock::QtDeskClock() { timer_.start(); }

int64_t QtDeskClock::NowMs() const { return timer_.elapsed(); }

void QtDeskClock::After(int ms, std::function<void()> fn) {
  QTimer::singleShot(ms < 0 ? 0 : ms, &context_, std::move(fn));
}

// --- Timers ---

DeskTimers::DeskTimers() {
  auto init = [](QTimer& t, int ms) {
    t.setInterval(ms);
    t.setSingleShot(false);
  };
  init(tmrApp, 100);
  init(tmrClock, 1000);
  init(tmrTraffic, 30000);
  init(tmrCheckMail, 900000);
  init(tmrIP, 500);
  init(tmrMouse, 200);
  init(tmrRun, 1000);
  init(tmrHint, 500);
  init(tmrAutoExpand, 500);
  init(tmrTypeAddr, 500);
  init(tmrFilterType, 500);
  init(tmrFilterMove, 500);
}

// --- Controller ---

DeskController::DeskController(DeskState& state, DeskHooks& hooks, std::unique_ptr<DeskClock> clock,
                               QObject* parent)
    : QObject(parent), state_(state), hooks_(hooks), clock_(std::move(clock)) {
  if (!clock_) clock_ = std::make_unique<QtDeskClock>();
  connect(&timers_.tmrApp, &QTimer::timeout, this, &DeskController::OnApp);
  connect(&timers_.tmrClock, &QTimer::timeout, this, &DeskController::OnClock);
  connect(&timers_.tmrTraffic, &QTimer::timeout, this, &DeskController::OnTraffic);
  connect(&timers_.tmrCheckMail, &QTimer::timeout, this, &DeskController::OnCheckMail);
  auto forward = [this](QTimer& t, std::function<void()> DeskHooks::*hook) {
    connect(&t, &QTimer::timeout, this, [this, hook] { Call(hooks_.*hook); });
  };
  forward(timers_.tmrIP, &DeskHooks::pollTransfer);
  forward(timers_.tmrMouse, &DeskHooks::mouseHousekeeping);
  forward(timers_.tmrRun, &DeskHooks::watchOpenedDocuments);
  forward(timers_.tmrHint, &DeskHooks::hintTick);
  forward(timers_.tmrAutoExpand, &DeskHooks::autoExpand);
  forward(timers_.tmrTypeAddr, &DeskHooks::clearTypeAhead);
  forward(timers_.tmrFilterType, &DeskHooks::filterType);
  forward(timers_.tmrFilterMove, &DeskHooks::filterMove);
}

DeskController::~DeskController() = default;

void DeskController::Log(const std::string& line) {
  if (eventLog_.empty()) return;
  std::ofstream f(eventLog_, std::ios::app | std::ios::binary);
  f << line << '\n';
}

void DeskController::guarded(int n, const std::function<void()>& fn) {
  try {
    if (fn) fn();
  } catch (const std::exception& e) {
    Log("step " + std::to_string(n) + " failed: " + e.what());
  } catch (...) {
    Log("step " + std::to_string(n) + " failed");
  }
}

DeskController::StartResult DeskController::FormCreate(bool singleInstance) {
  Locations& loc = state_.locations;
  if (loc.dataRoot.empty()) loc = ComputeLocations();

  // 5. Temporary folder, private to this run.
  step(5);
  MakeTempFolder(loc);

  // 6. A mailto argument of this start goes to the hand-over file.
  step(6);
  const std::string request = RequestOf(state_.arguments);
  if (StartsWithNoCase(request, "mailto:") && platform::SingleInstance::IsAcceptableRequest(request)) {
    std::ofstream f(loc.HandOverFile(), std::ios::binary | std::ios::trunc);
    f << request << "\r\n";
  }

  // 7. Single instance: the lock decides.
  step(7);
  if (singleInstance) {
    instance_ = std::make_unique<platform::SingleInstance>(loc.runtimeFolder);
    const auto role = instance_->Claim();
    if (role == platform::SingleInstance::Role::Second) {
      // Without a request of its own, a second start asks the running desk to come forward.
      const bool handed = instance_->Send(request.empty() ? platform::SingleInstance::kShowRequest : request);
      // A second start never keeps data files or its own temporary folder.
      RemoveTempFolder(loc);
      instance_.reset();
      if (handed) {
        Log("handed over: " + request);
        return StartResult::HandedOver;
      }
      state_.messages.QueueMessage(MessageKind::Information, kAlreadyRunning);
      Log("already running");
      return StartResult::AlreadyRunning;
    }
    if (role == platform::SingleInstance::Role::First) {
      connect(instance_.get(), &platform::SingleInstance::RequestReceived, this,
              [this](const QString& r) {
                Log("request received: " + r.toStdString());
                HandleRequest(r.toStdString());
              });
      Log("listening");
    }
  }

  // 8. (The window installs its message hook.)
  step(8);

  // 9. Registry values.
  step(9);
  if (!state_.registry)
    state_.registry = std::make_unique<platform::IniRegistryStore>(platform::RegistryFilePath());
  state_.previousVersion = platform::UpdateProgramVersion(*state_.registry);

  // 10. Data locations and User.ini.
  step(10);
  MakeDataFolders(loc);
  state_.settings.Open(loc.UserIni());
  // A settings file that cannot be written is said once, not at every change.
  state_.settings.SetSaveFailureHandler([this](const FileStatus& st) {
    state_.messages.QueueMessage(MessageKind::Error, st.message);
  });

  // 11. Trusted roots of the TLS connections.
  step(11);
  state_.tlsRoots = loc.programFolder + "plumadex.pem";

  // 12. The initialisation runs from the event loop, as soon as it turns: the window shows first.
  step(12);
  timers_.appTag = kTagInitDesk;
  timers_.tmrApp.start(0);
  return StartResult::Run;
}

void DeskController::RequestApp(int tag) {
  timers_.appTag = tag;
  timers_.tmrApp.start();
}

void DeskController::OnApp() {
  timers_.tmrApp.stop();
  timers_.tmrApp.setInterval(100);
  const int tag = timers_.appTag;
  timers_.appTag = 0;
  switch (tag) {
    case kTagInitDesk:
      InitDesk();
      break;
    case kTagTerminate:
      Call(hooks_.terminate);
      break;
    case kTagServerPreview:
      Call(hooks_.showServerPreview);
      break;
    case kTagReapplySkin:
      guarded(0, hooks_.reapplySkin);
      break;
    default:
      break;
  }
}

void DeskController::InitDesk() {
  if (initRunning_ || state_.initialised) return;
  initRunning_ = true;
  // Messages raised while the desk starts wait until it is up, so they never stall the start.
  state_.messages.Hold();

  step(13);
  guarded(13, hooks_.applySkin);

  // A failure in a step that is not guarded is reported; the desk still comes up, so the user
  // is never left in front of the curtain.
  try {
    InitSteps();
  } catch (const std::exception& e) {
    ReportInitFailure(e.what());
  } catch (...) {
    ReportInitFailure({});
  }
  // 30. The splash shows while the steps above run; a ready desk is never held behind it.
  if (!state_.closing && !destroyed_) FinishInit();
}

void DeskController::InitSteps() {
  platform::Registry& reg = *state_.registry;
  Settings& s = state_.settings;
  step(14);
  state_.checkVersionMarker = reg.ValueExists(platform::kProgramKey, platform::kCheckVersionValue);
  state_.userId = s.ID();

  step(15);
  if (transport::NeedsAddressSetup(s, state_.checkVersionMarker)) {
    Call(hooks_.runAddressSetup);
    state_.userId = s.ID();
  }

  step(16);
  // A user of their own mail accounts only has chosen to go without a service address.
  if (state_.userId.empty() && !transport::OwnAccountsOnly(s))
    state_.messages.QueueMessage(MessageKind::Warning, kNoAddress);

  step(17);
  if (state_.checkVersionMarker && !state_.userId.empty() && CallOr(hooks_.runVersionCheck, false))
    reg.DeleteValue(platform::kProgramKey, platform::kCheckVersionValue);

  step(18);
  state_.ownFromAddress = OwnFromAddress(s);

  step(19);
  if (hooks_.playSound) hooks_.playSound("SystemStart");

  step(20);
  Call(hooks_.showSplash);

  step(21);
  // What an earlier run left behind when it was stopped half-way: batches first, so that a
  // document moved before the stop gets its entry, then the parked and temporary files.
  store::RecoverJournals(store::JournalFolderOf(state_.locations.dataRoot), state_.indexRegistry);
  {
    const time_t now = std::time(nullptr);
    state_.runMark = std::make_unique<store::RunMark>(state_.locations.dataRoot, now);
    store::SweepAfterStoppedRuns(state_.locations, state_.indexRegistry, *state_.runMark, now);
  }
  state_.unreadList = std::make_unique<store::UnreadList>();
  state_.newMailList = std::make_unique<store::NewMailList>();
  state_.newMailList->Load(state_.locations.NewMailList());
  Call(hooks_.createLists);
  step(22);
  Call(hooks_.startThreads);
  step(23);
  state_.sentIni = std::make_unique<store::TPXIniFile>(state_.indexRegistry, state_.locations.SentIni());
  {
    // The folders the tree marks as holding pending mail.
    store::PendingFolders pending;
    const FileStatus st = store::RefreshPendingFolders(*state_.sentIni, pending);
    if (!st.ok()) Log("sent.ini: " + st.message);
    state_.pendingFolders.assign(pending.Folders().begin(), pending.Folders().end());
  }
  Call(hooks_.openSentRegister);
  step(24);
  Call(hooks_.bindShellFolders);

  step(25);
  guarded(25, [this] { state_.unreadList->Load(state_.locations.UnreadList()); });
  guarded(25, hooks_.loadUnreadList);
  guarded(25, hooks_.buildTrees);
  guarded(25, hooks_.syncContacts);
  guarded(25, hooks_.loadQuickboard);
  guarded(25, hooks_.initEncryption);

  step(26);
  Call(hooks_.readLayout);
  step(27);
  Call(hooks_.initLayout);
  step(28);
  ApplyCheckMailSettings();
  step(29);
  Call(hooks_.readMailSettings);

}

void DeskController::ReportInitFailure(const std::string& what) {
  Log("start-up failed: " + what);
  state_.messages.QueueMessage(MessageKind::Error, what.empty() ? std::string("The desk could not be fully set up.") : what);
}

void DeskController::FinishInit() {
  step(30);
  Call(hooks_.removeSplash);

  try {
    step(31);
    timers_.tmrClock.start();
    OnClock();
    Call(hooks_.repaint);

    step(32);
    Call(hooks_.selectFirstNode);

    step(33);
    RunTraffic(false);
    timers_.tmrMouse.start();
    timers_.tmrTraffic.start();

    step(34);
    if (!state_.arguments.empty()) {
      const std::string& a = state_.arguments.front();
      if (a.size() > 5 && StartsWithNoCase(a, "/web:") && a[5] >= '0' && a[5] <= '9' && hooks_.saveBrowserPage)
        hooks_.saveBrowserPage(a[5] - '0');
    }

    step(35);
    ProcessHandOverFile();

    step(36);
    Call(hooks_.checkDefaultMailProgram);

    step(37);
    if (state_.settings.NewInstall()) {
      state_.settings.ClearNewInstall();
      (void)state_.settings.UpdateFile();  // a failure reaches the settings' save-failure handler
      Call(hooks_.openWizard);
    }
  } catch (const std::exception& e) {
    ReportInitFailure(e.what());
  } catch (...) {
    ReportInitFailure({});
  }

  state_.initialised = true;
  initRunning_ = false;
  Log("initialised");
  emit initialised();

  // Requests that arrived while the desk was starting.
  std::vector<std::string> waiting;
  waiting.swap(deferred_);
  for (const std::string& r : waiting) HandleNow(r);
  state_.messages.Release();
}

void DeskController::HandleRequest(const std::string& request) {
  if (!platform::SingleInstance::IsAcceptableRequest(request)) return;
  if (!state_.initialised) {
    deferred_.push_back(request);
    return;
  }
  HandleNow(request);
}

void DeskController::HandleNow(const std::string& request) {
  if (state_.closing) return;
  if (request == platform::SingleInstance::kShowRequest) {
    Log("show");
    Call(hooks_.bringToFront);
  } else if (StartsWithNoCase(request, "mailto:")) {
    Log("mailto: " + request);
    // The desk comes forward first, so the message window opened for the link ends up in front.
    Call(hooks_.bringToFront);
    if (EndsWithNoCase(request, kWelcomeQuery)) FileWelcomeMessages();
    else if (hooks_.openMailto) hooks_.openMailto(request);
  } else if (request.size() > 5 && request[5] >= '0' && request[5] <= '9') {
    Log("web: " + request.substr(5, 1));
    if (hooks_.saveBrowserPage) hooks_.saveBrowserPage(request[5] - '0');
  }
}

void DeskController::ProcessHandOverFile() {
  const std::string path = state_.locations.HandOverFile();
  QFile file(QString::fromStdString(path));
  if (state_.locations.tempFolder.empty() || !file.exists()) return;
  std::string line;
  if (file.open(QIODevice::ReadOnly)) {
    QByteArray first = file.read(platform::SingleInstance::kMaxRequest + 2);
    const qsizetype nl = first.indexOf('\n');
    if (nl >= 0) first.truncate(nl);
    if (first.endsWith('\r')) first.chop(1);
    line = first.toStdString();
    file.close();
  }
  file.remove();
  if (!StartsWithNoCase(line, "mailto:") || !platform::SingleInstance::IsAcceptableRequest(line)) return;
  Log("mailto: " + line);
  if (EndsWithNoCase(line, kWelcomeQuery)) FileWelcomeMessages();
  else if (hooks_.openMailto) hooks_.openMailto(line);
}

void DeskController::FileWelcomeMessages() {
  const Locations& loc = state_.locations;
  for (const char* name : {"Getting Started Tutorial.msg_", "Welcome to Plumadex!.msg_"}) {
    const QString from = QString::fromStdString(loc.programFolder + name);
    const QString to = QString::fromStdString(loc.inbox + name);
    if (QFileInfo::exists(from)) {
      QFile::remove(to);
      QFile::copy(from, to);
    }
  }
  RunTraffic(true);
}

// --- Timers ---

void DeskController::OnClock() {
  Call(hooks_.showClock);
  // The folder watch waits while an operation or a run changes the folders.
  if (!state_.busy && CallOr(hooks_.filesTabShown, false) && timers_.tmrTraffic.isActive())
    Call(hooks_.checkFolderChanges);
}

void DeskController::RunTraffic(bool reportErrors) {
  // Filing waits while an operation runs; the next interval tries again.
  if (state_.busy) return;
  state_.busy = true;
  struct Busy {
    bool& flag;
    ~Busy() { flag = false; }
  } busy{state_.busy};
  try {
    bool changed = CallOr(hooks_.fileReceivedMail, false);
    changed = CallOr(hooks_.commitSentMail, false) || changed;
    if (changed && CallOr(hooks_.folderSelected, false)) Call(hooks_.relistFolder);
    lastTrafficError_.clear();
  } catch (const std::exception& e) {
    const std::string text = e.what();
    Log("traffic failed: " + text);
    // One box per kind of failure, not one every 30 seconds.
    if (reportErrors && !text.empty() && text != lastTrafficError_)
      state_.messages.QueueMessage(MessageKind::Error, text);
    lastTrafficError_ = text;
  } catch (...) {
    Log("traffic failed");
  }
}

void DeskController::OnTraffic() {
  timers_.tmrTraffic.stop();
  // Whatever happens in the work below, mail filing goes on at the next interval.
  struct Reenable {
    DeskController& c;
    ~Reenable() {
      if (!c.state_.closing && !c.destroyed_) c.timers_.tmrTraffic.start();
    }
  } reenable{*this};
  RunTraffic(true);
}

void DeskController::OnCheckMail() {
  if (timers_.tmrIP.isActive()) return;
  if (!CallOr(hooks_.internetAvailable, true)) return;
  if (hooks_.startTransfer) hooks_.startTransfer(TransferKind::Receive);
}

void DeskController::ApplyCheckMailSettings() {
  const Settings& s = state_.settings;
  timers_.tmrCheckMail.stop();
  timers_.tmrCheckMail.setInterval(s.MailCheckInterval() * 60000);
  if (s.AutoCheckMail()) timers_.tmrCheckMail.start();
}

// --- Shutdown ---

bool DeskController::CanClose() {
  if (state_.busy || state_.messages.Busy()) return false;
  if (timers_.tmrIP.isActive() && !CallOr(hooks_.stopTransferForClose, false)) return false;
  if (CallOr(hooks_.openedDocumentsStillOpen, false)) {
    Call(hooks_.bringOpenedDocumentToFront);
    state_.messages.QueueMessage(MessageKind::Warning, kCloseFilesFirst);
    return false;
  }
  if (hooks_.playSound) hooks_.playSound("SystemExit");
  Call(hooks_.hideOptionsPanels);
  Call(hooks_.removeSkin);
  state_.closing = true;
  return true;
}

void DeskController::Destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  state_.closing = true;
  for (QTimer* t : {&timers_.tmrMouse, &timers_.tmrHint, &timers_.tmrRun, &timers_.tmrApp, &timers_.tmrTraffic,
                    &timers_.tmrIP, &timers_.tmrClock, &timers_.tmrCheckMail, &timers_.tmrAutoExpand,
                    &timers_.tmrTypeAddr, &timers_.tmrFilterType, &timers_.tmrFilterMove})
    t->stop();
  // Each part frees its own; one failure must not keep the rest (lists, User.ini) unsaved.
  guarded(0, hooks_.restoreMailProgram);
  guarded(0, hooks_.closeChangeNotification);
  guarded(0, hooks_.stopThreads);
  guarded(0, hooks_.freeQuickboard);
  guarded(0, hooks_.rememberTopRow);
  guarded(0, hooks_.saveComposeSize);
  if (const FileStatus st = state_.settings.UpdateFile(); !st.ok()) Log("User.ini: " + st.message);
  guarded(0, hooks_.clearGrid);
  guarded(0, hooks_.deleteImportScratch);
  state_.userId.clear();
  guarded(0, hooks_.closeSentRegister);
  if (state_.sentIni) {
    const FileStatus st = state_.sentIni->Release();
    if (!st.ok()) Log("sent.ini: " + st.message);
    state_.sentIni.reset();
  }
  guarded(0, hooks_.freeLists);
  guarded(0, hooks_.saveUnreadList);
  guarded(0, hooks_.saveNewMailList);
  if (state_.unreadList) {
    const FileStatus st = state_.unreadList->Save(state_.locations.UnreadList());
    if (!st.ok()) Log("unread.lst: " + st.message);
  }
  if (state_.newMailList) {
    const FileStatus st = state_.newMailList->Save(state_.locations.NewMailList());
    if (!st.ok()) Log("newmail.lst: " + st.message);
  }
  state_.unreadList.reset();
  state_.newMailList.reset();
  RemoveTempFolder(state_.locations);
  guarded(0, hooks_.closeHelp);
  instance_.reset();
  Log("closed");
}

}  // namespace px::desk
