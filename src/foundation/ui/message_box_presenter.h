#pragma once
// The message window: each queued message in a modal box titled "Plumadex" with one OK button,
// plain text only ("\r" is a line break).
#include "foundation/message_queue.h"

#include <QPointer>

#include <functional>

#include <QMessageBox>

namespace px::ui {

class MessageBoxPresenter final : public MessagePresenter {
public:
  // Headless (the offscreen platform, or asked for): messages go to stderr, nothing waits.
  MessageBoxPresenter();
  explicit MessageBoxPresenter(bool headless) : headless_(headless) {}

  void ShowBox(MessageKind kind, const std::string& text) override;
  void CloseBox() override;
  void RaiseBox() override;
  void EnterBusy() override;
  void LeaveBusy() override;

  // Called when showing begins: hide the information pop-up.
  void SetHidePopup(std::function<void()> fn) { hidePopup_ = std::move(fn); }
  // The box on screen (null when none); for tests.
  QMessageBox* Box() const { return box_; }
  // "\r\n" and "\r" become line breaks.
  static QString DisplayText(const std::string& text);

private:
  bool headless_ = false;
  QPointer<QMessageBox> box_;
  std::function<void()> hidePopup_;
  bool cursorSet_ = false;
};

// Shows the queue from the event loop: every message queued while no box is on screen posts one
// ShowQueuedMessages to context's thread, so boxes open only once the code that raised them has
// returned to the event loop.
void ShowFromEventLoop(MessageQueue& queue, QObject* context);

}  // namespace px::ui
