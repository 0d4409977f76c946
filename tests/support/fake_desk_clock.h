#pragma once
// A desk clock that moves only when a test says so; timers due by then run in Advance().
#include "desk/desk_controller.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace px::test {

class FakeDeskClock : public desk::DeskClock {
public:
  explicit FakeDeskClock(int64_t start = 0) : now(start) {}
  int64_t now;
  std::vector<std::pair<int64_t, std::function<void()>>> due;
  int64_t NowMs() const override { return now; }
  void After(int ms, std::function<void()> fn) override { due.emplace_back(now + ms, std::move(fn)); }
  void Advance(int64_t ms) {
    now += ms;
    auto ready = std::move(due);
    due.clear();
    for (auto& [at, fn] : ready) {
      if (at <= now) fn();
      else due.emplace_back(at, std::move(fn));
    }
  }
};

}  // namespace px::test
