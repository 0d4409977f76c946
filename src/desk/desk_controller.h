#pragma once
// The desk without its widgets: the start-up sequence, the timers and their jobs, requests
// handed over by later starts, and the orderly shutdown. TfrmDesk owns one and supplies the
// window-side hooks; tests drive it headless with a fake clock.
#include "desk/desk_hooks.h"
#include "desk/desk_state.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace px::platform {
class SingleInstance;
}
namespace px::store {
class UnreadList;
class NewMailList;
class TPXIniFile;
}

namespace px::desk {

// Time and deferred calls, so the splash minimum can be tested without waiting.
class DeskClock {
public:
  virtual ~DeskClock() = default;
  virtual int64_t NowMs() const = 0;
  // Calls fn once after ms milliseconds, from the event loop.
  virtual void After(int ms, std::function<void()> fn) = 0;
};

// The real clock: a monotonic timer and QTimer::singleShot.
class QtDeskClock final : public DeskClock {
public:
  QtDeskClock();
  int64_t NowMs() const override;
  void After(int ms, std::function<void()> fn) override;

private:
  QObject context_;
  QElapsedTimer timer_;
};

// The welcome request that the installer hands over: the two welcome messages are filed.
inline constexpr std::string_view kWelcomeQuery = "?subject=Send%20Me%20One%20More%20Welcome";

// The timers of the desk, created stopped with their intervals.
struct DeskTimers {
  DeskTimers();
  QTimer tmrApp;         // 100, one-shot dispatcher by appTag
  QTimer tmrClock;       // 1000
  QTimer tmrTraffic;     // 30000
  QTimer tmrCheckMail;   // Mail Check Interval x 60000
  QTimer tmrIP;          // 500, while a transfer runs
  QTimer tmrMouse;       // 200
  QTimer tmrRun;         // 1000, while temporary copies are open
  QTimer tmrHint;        // 500
  QTimer tmrAutoExpand;  // 500
  QTimer tmrTypeAddr;    // 500
  QTimer tmrFilterType;  // 500
  QTimer tmrFilterMove;  // 500
  int appTag = 0;
};

// Tags of tmrApp.
enum AppTag : int { kTagInitDesk = 1, kTagTerminate = 2, kTagServerPreview = 3, kTagReapplySkin = 4 };

class DeskController : public QObject {
  Q_OBJECT
public:
  enum class StartResult {
    Run,             // this is the desk: the window is shown and tmrApp armed
    HandedOver,      // another desk runs and took this start's request
    AlreadyRunning,  // another desk runs; "Plumadex is already running" has been queued
  };

  // `clock` may be null (the real clock is used).
  DeskController(DeskState& state, DeskHooks& hooks, std::unique_ptr<DeskClock> clock = nullptr,
                 QObject* parent = nullptr);
  ~DeskController() override;

  DeskState& state() { return state_; }
  DeskTimers& timers() { return timers_; }
  DeskClock& clock() { return *clock_; }

  // Start-up steps 5-12: temporary folder, hand-over file, single instance, registry, data
  // locations and User.ini, TLS roots; arms tmrApp with the initialisation. `singleInstance`
  // false skips the lock (tests of the sequence).
  StartResult FormCreate(bool singleInstance = true);

  // The desk initialisation (steps 13-37). Returns before the end while the splash waits for
  // its minimum time; the rest then runs from the event loop.
  void InitDesk();
  bool Initialised() const { return state_.initialised; }

  // Requests from later starts (and the desk's own): mailto URLs and "/web:" + digit. Held
  // until the initialisation has ended, then handled in arrival order.
  void HandleRequest(const std::string& request);
  // Reads and deletes the hand-over file and handles its first line.
  void ProcessHandOverFile();

  // Timer jobs (also called directly by tests).
  void OnApp();
  void OnClock();
  void OnTraffic();
  void OnCheckMail();
  // Reads Auto Check Mail and Mail Check Interval into tmrCheckMail (start-up and options).
  void ApplyCheckMailSettings();
  // Other parts ask for termination from inside an event this way.
  void RequestApp(int tag);

  // Shutdown. CanClose: the close query; Destroy: everything the desk frees, in order.
  bool CanClose();
  void Destroy();

  // Step numbers in the order they ran (start-up and initialisation), for diagnostics and tests.
  const std::vector<int>& Trace() const { return trace_; }
  // Appends one line to the event log (PLUMADEX_EVENT_LOG), when set.
  void Log(const std::string& line);
  void SetEventLog(std::string path) { eventLog_ = std::move(path); }
  platform::SingleInstance* Instance() const { return instance_.get(); }

signals:
  void initialised();

private:
  void step(int n) { trace_.push_back(n); }
  // Runs fn; any exception is swallowed (a guarded step leaves its feature uninitialised).
  void guarded(int n, const std::function<void()>& fn);
  void InitSteps();   // steps 14-29
  void FinishInit();  // steps 30-37
  void ReportInitFailure(const std::string& what);
  void RunTraffic(bool reportErrors);
  void HandleNow(const std::string& request);
  void FileWelcomeMessages();

  DeskState& state_;
  DeskHooks& hooks_;
  std::unique_ptr<DeskClock> clock_;
  DeskTimers timers_;
  std::unique_ptr<platform::SingleInstance> instance_;
  // The process-wide lists and the outgoing register, shared through the state.
  std::vector<int> trace_;
  std::vector<std::string> deferred_;
  bool initRunning_ = false;
  bool destroyed_ = false;
  std::string lastTrafficError_;
  std::string eventLog_;
};

}  // namespace px::desk
