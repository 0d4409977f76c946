#pragma once
// A stop request from another thread for a worker that runs one network client after another
// (the account check: the incoming, then the outgoing server). The worker attaches each client's
// own Stop; a stop that came first stops the next client as soon as it is attached.
#include <functional>
#include <mutex>

namespace px::transport {

class StopSwitch {
public:
  // Any thread: stops the attached client now and every later one as it is attached.
  void Stop() {
    std::function<void()> stop;
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
      stop = stop_;
    }
    if (stop) stop();
  }
  bool Stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
  }
  // The worker's current client (its Stop is thread-safe); Detach before the client goes.
  void Attach(std::function<void()> stop) {
    bool now = false;
    {
      std::lock_guard lock(mutex_);
      stop_ = stop;
      now = stopped_;
    }
    if (now && stop) stop();
  }
  void Detach() {
    std::lock_guard lock(mutex_);
    stop_ = nullptr;
  }

private:
  mutable std::mutex mutex_;
  bool stopped_ = false;
  std::function<void()> stop_;
};

// Attaches a client's Stop for the life of the scope (no switch: nothing happens).
class StopAttached {
public:
  StopAttached(StopSwitch* sw, std::function<void()> stop) : sw_(sw) {
    if (sw_) sw_->Attach(std::move(stop));
  }
  ~StopAttached() {
    if (sw_) sw_->Detach();
  }
  StopAttached(const StopAttached&) = delete;
  StopAttached& operator=(const StopAttached&) = delete;

private:
  StopSwitch* sw_;
};

}  // namespace px::transport
