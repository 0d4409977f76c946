#pragma once
// The process-wide message queue: messages that need no answer (refusals, transfer errors,
// confirmations) are queued and shown one at a time, in order, each in a box with one OK button
// titled "Plumadex". A message may carry a notice code (its first character, below 32) so that a
// newer notice replaces an older one instead of piling up behind it.
//
// The queue logic is plain code; showing a box is left to a MessagePresenter (the real one is a
// QMessageBox in the widget layer, tests use a fake). Main thread only.
//
// Queueing never shows anything: a box runs an event loop, and an operation that raised a
// message half-way must not have timers list folders or save indexes under it. The owner of the
// presenter shows the queue at safe points (ShowQueuedMessages): the desk after an operation,
// and from its event loop, which the wake-up asks for whenever a message arrives.
#include <cstddef>
#include <functional>
#include <deque>
#include <string>
#include <string_view>

namespace px {

enum class MessageKind : int { Warning = 0, Error = 1, Information = 2 };

// Code of the two connection notices raised by transfers ("Cannot connect to Plumadex
// server. ..." and "Wrong user name or password."). Prefix the text with it to queue a coded
// notice: std::string(1, kConnectionNotice) + text.
inline constexpr char kConnectionNotice = 19;

// Shows message boxes for the queue.
class MessagePresenter {
public:
  virtual ~MessagePresenter() = default;
  // Shows one box modally (plain text; "\r" is a line break) and returns when it has been closed.
  // While it is open the event loop runs, so QueueMessage may be re-entered.
  virtual void ShowBox(MessageKind kind, const std::string& text) = 0;
  // Closes the box on screen as if OK had been pressed (a newer notice supersedes it).
  virtual void CloseBox() = 0;
  // Brings the box on screen to the front and focuses it.
  virtual void RaiseBox() {}
  // The queue starts showing messages: save the cursor, switch to the default one, hide the
  // information pop-up.
  virtual void EnterBusy() {}
  // The queue has run empty: restore the saved cursor.
  virtual void LeaveBusy() {}
};

class MessageQueue {
public:
  explicit MessageQueue(MessagePresenter* presenter = nullptr) : presenter_(presenter) {}
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // Without a presenter messages are only queued (headless runs, tests of other parts).
  void SetPresenter(MessagePresenter* presenter) { presenter_ = presenter; }
  MessagePresenter* Presenter() const { return presenter_; }

  // Called when a message has been queued and no box is on screen; the desk posts a
  // ShowQueuedMessages to its event loop. Must not show anything itself.
  void SetWakeUp(std::function<void()> fn) { wakeUp_ = std::move(fn); }

  // Adds a message; an empty text is ignored. Never shows it (see above); a newer notice
  // closes the notice on screen.
  void QueueMessage(MessageKind kind, std::string_view text);
  // Shows queued messages until the queue is empty (a safe point of the caller's choosing).
  void ShowQueuedMessages();

  bool BoxOnScreen() const { return boxOnScreen_; }
  bool Busy() const { return busy_; }
  // Entries waiting behind the box on screen (text with code, followed by the kind character).
  const std::deque<std::string>& Pending() const { return queue_; }
  // The entry shown last or being shown (empty before the first).
  const std::string& Current() const { return current_; }
  // While held (the desk is still starting), messages are queued but not shown; Release shows
  // what has gathered.
  void Hold() { held_ = true; }
  void Release() {
    held_ = false;
    ShowQueuedMessages();
  }
  bool Held() const { return held_; }
  // Drops everything waiting (shutdown).
  void Clear() { queue_.clear(); }

private:
  static bool IsCoded(std::string_view entry) {
    return !entry.empty() && static_cast<unsigned char>(entry[0]) < 32;
  }

  MessagePresenter* presenter_ = nullptr;
  std::function<void()> wakeUp_;
  std::deque<std::string> queue_;
  std::string current_;
  bool boxOnScreen_ = false;
  bool busy_ = false;
  bool showing_ = false;  // the show loop is running (re-entry guard)
  bool held_ = false;
};

}  // namespace px
