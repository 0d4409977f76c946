#include "foundation/message_queue.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace px;

namespace {

const std::string kNotice = std::string(1, kConnectionNotice);
const std::string kCannotConnect =
    "Cannot connect to Plumadex server. Please make sure you are connected to the Internet and try again.";

// Records what would be shown; lets a test run code "while a box is on screen".
class FakePresenter : public MessagePresenter {
public:
  struct Shown {
    MessageKind kind;
    std::string text;
  };
  std::vector<Shown> shown;
  int closed = 0;
  int busyEnter = 0;
  int busyLeave = 0;
  // Called while the n-th box (0-based) is on screen.
  std::function<void(size_t)> whileShown;
  bool closeRequested = false;

  void ShowBox(MessageKind kind, const std::string& text) override {
    shown.push_back({kind, text});
    closeRequested = false;
    if (whileShown) whileShown(shown.size() - 1);
  }
  void CloseBox() override {
    ++closed;
    closeRequested = true;
  }
  void EnterBusy() override { ++busyEnter; }
  void LeaveBusy() override { ++busyLeave; }
};

}  // namespace

TEST(MessageQueue, PlainMessagesQueuedDuringABoxAreShownInOrder) {
  FakePresenter p;
  MessageQueue q(&p);
  p.whileShown = [&](size_t n) {
    if (n == 0) {
      q.QueueMessage(MessageKind::Error, "second");
      q.QueueMessage(MessageKind::Information, "third");
      EXPECT_EQ(q.Pending().size(), 2u);  // only queued while the first box is open
    }
  };
  q.QueueMessage(MessageKind::Warning, "first");
  q.ShowQueuedMessages();
  ASSERT_EQ(p.shown.size(), 3u);
  EXPECT_EQ(p.shown[0].text, "first");
  EXPECT_EQ(p.shown[0].kind, MessageKind::Warning);
  EXPECT_EQ(p.shown[1].text, "second");
  EXPECT_EQ(p.shown[1].kind, MessageKind::Error);
  EXPECT_EQ(p.shown[2].text, "third");
  EXPECT_EQ(p.shown[2].kind, MessageKind::Information);
  EXPECT_EQ(p.busyEnter, 1);
  EXPECT_EQ(p.busyLeave, 1);
  EXPECT_FALSE(q.Busy());
  EXPECT_FALSE(q.BoxOnScreen());
}

TEST(MessageQueue, NewerNoticeClosesTheNoticeOnScreen) {
  FakePresenter p;
  MessageQueue q(&p);
  p.whileShown = [&](size_t n) {
    if (n == 0) {
      q.QueueMessage(MessageKind::Error, kNotice + kCannotConnect);
  q.ShowQueuedMessages();
      EXPECT_TRUE(p.closeRequested);
      q.QueueMessage(MessageKind::Error, kNotice + "Wrong user name or password.");
      EXPECT_EQ(q.Pending().size(), 1u);  // only one box is ever waiting
    }
  };
  q.QueueMessage(MessageKind::Error, kNotice + kCannotConnect);
  q.ShowQueuedMessages();
  ASSERT_EQ(p.shown.size(), 2u);
  EXPECT_EQ(p.shown[1].text, "Wrong user name or password.");
  // The code character never appears in the text.
  for (const auto& s : p.shown) EXPECT_EQ(s.text.find(kConnectionNotice), std::string::npos);
}

TEST(MessageQueue, NoticeBehindAPlainMessageIsDropped) {
  FakePresenter p;
  MessageQueue q(&p);
  p.whileShown = [&](size_t n) {
    if (n == 0) {
      q.QueueMessage(MessageKind::Warning, "Sorry, but you cannot delete this folder.");
      q.QueueMessage(MessageKind::Error, kNotice + kCannotConnect);
  q.ShowQueuedMessages();
      EXPECT_EQ(p.closed, 0);
    }
  };
  q.QueueMessage(MessageKind::Information, "There are no new messages in your mailbox");
  q.ShowQueuedMessages();
  ASSERT_EQ(p.shown.size(), 2u);
  EXPECT_EQ(p.shown[1].text, "Sorry, but you cannot delete this folder.");
}

TEST(MessageQueue, NoticeWhilePlainBoxIsOnScreenIsDropped) {
  FakePresenter p;
  MessageQueue q(&p);
  p.whileShown = [&](size_t n) {
    if (n == 0) q.QueueMessage(MessageKind::Error, kNotice + kCannotConnect);
  };
  q.QueueMessage(MessageKind::Warning, "plain");
  q.ShowQueuedMessages();
  EXPECT_EQ(p.shown.size(), 1u);
  EXPECT_EQ(p.closed, 0);
}

TEST(MessageQueue, QueueingNeverShowsAndWakesTheOwnerUp) {
  FakePresenter p;
  MessageQueue q(&p);
  int wakeUps = 0;
  q.SetWakeUp([&] { ++wakeUps; });
  q.QueueMessage(MessageKind::Error, "Cannot move x");
  q.QueueMessage(MessageKind::Error, "Cannot move y");
  EXPECT_TRUE(p.shown.empty());  // an operation that queues goes on undisturbed
  EXPECT_EQ(wakeUps, 2);
  // Messages raised while the owner shows the queue need no second wake-up.
  p.whileShown = [&](size_t n) {
    if (n == 0) q.QueueMessage(MessageKind::Information, "third");
  };
  q.ShowQueuedMessages();
  ASSERT_EQ(p.shown.size(), 3u);
  EXPECT_EQ(p.shown[2].text, "third");
  EXPECT_EQ(wakeUps, 2);
  // Held messages wait for the release, which shows them.
  q.Hold();
  q.QueueMessage(MessageKind::Warning, "held");
  EXPECT_EQ(wakeUps, 2);
  q.Release();
  EXPECT_EQ(p.shown.back().text, "held");
}

TEST(MessageQueue, EmptyTextIgnoredAndHeldQueueShowsOnRelease) {
  FakePresenter p;
  MessageQueue q(&p);
  q.QueueMessage(MessageKind::Warning, "");
  EXPECT_TRUE(p.shown.empty());
  q.Hold();
  q.QueueMessage(MessageKind::Warning, "one");
  q.QueueMessage(MessageKind::Warning, "two");
  EXPECT_TRUE(p.shown.empty());
  q.Release();
  ASSERT_EQ(p.shown.size(), 2u);
  EXPECT_EQ(p.shown[0].text, "one");
}

TEST(MessageQueue, WithoutPresenterMessagesWait) {
  MessageQueue q;
  q.QueueMessage(MessageKind::Information, "later");
  ASSERT_EQ(q.Pending().size(), 1u);
  EXPECT_EQ(q.Pending()[0], std::string("later") + char(2));
  FakePresenter p;
  q.SetPresenter(&p);
  q.ShowQueuedMessages();
  ASSERT_EQ(p.shown.size(), 1u);
  EXPECT_EQ(p.shown[0].kind, MessageKind::Information);
}
