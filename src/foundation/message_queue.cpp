#include "foundation/message_queue.h"

namespace px {

namespace {
// Resets a flag however the guarded call ends (a presenter may throw).
struct FlagGuard {
  bool& flag;
  explicit FlagGuard(bool& f) : flag(f) { flag = true; }
  ~FlagGuard() { flag = false; }
};

MessageKind KindOf(char c) {
  switch (c) {
    case 1: return MessageKind::Error;
    case 2: return MessageKind::Information;
    default: return MessageKind::Warning;
  }
}
}  // namespace

void MessageQueue::QueueMessage(MessageKind kind, std::string_view text) {
  if (text.empty()) return;
  std::string entry(text);
  entry.push_back(static_cast<char>(static_cast<int>(kind)));
  const bool coded = IsCoded(entry);

  if (coded && !queue_.empty()) {
    // A notice never waits behind a plain message; it replaces an older notice of the same or
    // a lower code.
    std::string& last = queue_.back();
    if (static_cast<unsigned char>(last[0]) <= static_cast<unsigned char>(entry[0])) last = std::move(entry);
    return;
  }
  if (coded && boxOnScreen_) {
    if (!current_.empty() &&
        static_cast<unsigned char>(current_[0]) <= static_cast<unsigned char>(entry[0])) {
      queue_.push_back(std::move(entry));
      if (presenter_) presenter_->CloseBox();
    }
    return;
  }
  queue_.push_back(std::move(entry));
  if (!boxOnScreen_ && !showing_ && !held_ && wakeUp_) wakeUp_();
}

void MessageQueue::ShowQueuedMessages() {
  if (!presenter_ || held_) return;
  if (boxOnScreen_ || showing_) {
    if (boxOnScreen_) presenter_->RaiseBox();
    return;
  }
  FlagGuard loop(showing_);
  for (;;) {
    if (queue_.empty()) {
      if (busy_) {
        busy_ = false;
        presenter_->LeaveBusy();
      }
      return;
    }
    current_ = std::move(queue_.front());
    queue_.pop_front();
    const MessageKind kind = KindOf(current_.back());
    std::string shown = current_.substr(0, current_.size() - 1);
    if (IsCoded(shown)) shown.erase(0, 1);
    if (!busy_) {
      busy_ = true;
      presenter_->EnterBusy();
    }
    {
      FlagGuard onScreen(boxOnScreen_);
      presenter_->ShowBox(kind, shown);
    }
  }
}

}  // namespace px
