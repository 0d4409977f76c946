// The desk's filing of received mail runs from the event loop in slices and ends with a report;
// grid rows of received mail offer their sender for blocking.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <utility>
#include <vector>

#include "desk/desk_mail.h"
#include "foundation/locations.h"
#include "store/doc_record.h"
#include "store/index_file.h"
#include "store/list_file.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"
#include "support/test_support.h"

namespace px::desk {
namespace {

struct DeskMailTest : ::testing::Test {
  px::test::TempHome home;
  DeskState state;
  void SetUp() override {
    state.locations = ComputeLocations();
    MakeDataFolders(state.locations);
    state.unreadList = std::make_unique<store::UnreadList>();
    state.newMailList = std::make_unique<store::NewMailList>();
  }
  // Runs the event loop until the filing ends; its (newMessages, changed).
  static std::pair<qint64, bool> waitForEnd(DeskMail& mail) {
    QEventLoop loop;
    std::pair<qint64, bool> out{-1, false};
    QObject::connect(&mail, &DeskMail::filingFinished, &loop, [&](qint64 n, bool changed) {
      out = {n, changed};
      loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return out;
  }
  void rawMessage(int n) {
    px::test::writeFile(state.locations.inbox + "0000" + std::to_string(n) + ".msg_",
                        "From: \"Ann\" <ann@example.org>\r\nSubject: Note " + std::to_string(n) +
                            "\r\n\r\nHello\r\n");
  }
};

TEST_F(DeskMailTest, FilesFromTheEventLoopAndReportsTheEnd) {
  for (int i = 0; i < 40; ++i) rawMessage(i);
  DeskMail mail(state);
  mail.SetSliceMs(1);
  bool transfer = true;
  mail.transferRunning = [&transfer] { return transfer; };
  EXPECT_FALSE(mail.StartFiling());  // not while the receivers still add files
  transfer = false;
  mail.shownFolder = [this] { return state.locations.documents; };
  ASSERT_TRUE(mail.StartFiling());
  EXPECT_TRUE(mail.Filing());
  EXPECT_FALSE(mail.StartFiling());  // one run at a time
  auto end = waitForEnd(mail);
  EXPECT_EQ(end.first, 40);
  EXPECT_TRUE(end.second);
  EXPECT_FALSE(mail.Filing());
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(state.locations.documents + "Note 39.txt")));
  EXPECT_EQ(state.unreadList->GetUnreadCount(state.locations.documents).own, 40);
  // The shown folder gets no new-mail mark.
  EXPECT_FALSE(state.newMailList->Contains(state.locations.documents));
  // Nothing waits: the next tick files nothing.
  ASSERT_TRUE(mail.StartFiling());
  end = waitForEnd(mail);
  EXPECT_EQ(end.first, 0);
  EXPECT_FALSE(end.second);
}

TEST_F(DeskMailTest, QuarantinedMailIsFiledAgainOnRequest) {
  const std::string q = state.locations.dataRoot + "Quarantine/";
  px::test::makeDirs(q);
  px::test::writeFile(q + "0001.err_", "From: \"Ann\" <ann@example.org>\r\nSubject: Kept aside\r\n\r\nHello\r\n");
  DeskMail mail(state);
  bool transfer = true;
  mail.transferRunning = [&transfer] { return transfer; };
  EXPECT_EQ(mail.RefileQuarantine(), 0u);  // not while a transfer runs
  transfer = false;
  EXPECT_EQ(mail.RefileQuarantine(), 1u);
  EXPECT_EQ(waitForEnd(mail).first, 1);
  EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(state.locations.documents + "Kept aside.txt")));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(q + "0001.err_")));
}

TEST_F(DeskMailTest, ReceivedRowsOfferTheirSenderForBlocking) {
  store::DocRecord r;
  r.flags = store::dfReceived | 0x0201;
  r.address = "\"Ann\" <Ann@Example.org>";
  EXPECT_EQ(DeskMail::BlockableSender(r), "ann@example.org");
  r.flags = 0x2001;
  EXPECT_EQ(DeskMail::BlockableSender(r), "");
  EXPECT_EQ(DeskMail::BlockQuestion("ann@example.org"),
            "Messages from ann@example.org will blocked. You will not receive any messages from them until "
            "you unblock them in E-mail Blocking section of Options.");

  DeskMail mail(state);
  mail.LoadLists();
  ASSERT_EQ(state.blockedSenders.get(), &mail.blocked());
  mail.Block("ann@example.org");
  EXPECT_EQ(store::ReadListFile(mail.BlockedListPath()), (StringList{"ann@example.org"}));
  mail.Unblock("ann@example.org");
  EXPECT_TRUE(store::ReadListFile(mail.BlockedListPath()).empty());
}

}  // namespace
}  // namespace px::desk
