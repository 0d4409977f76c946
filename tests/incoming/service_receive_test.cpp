// The service's receive link against the loopback peer, with filing after each run: what the
// service holds arrives exactly once, whatever the peer does wrong on the way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "incoming/blocked_senders.h"
#include "incoming/filer_fixture.h"
#include "incoming/mail_preview.h"
#include "transport/left_on_server.h"
#include "transport/peer_fixture.h"
#include "transport/service_protocol.h"
#include "transport/service_receive.h"

namespace px::incoming::test {
namespace {

using px::test::ServicePeer;
using transport::LinkResult;
using transport::LinkStatus;

class Recorder : public transport::ReceiveEvents {
public:
  int64_t total = -1;
  int spooled = 0;
  bool finished = false;
  void ReceiveStarting(int64_t t) override { total = t; }
  void ReceiveFinished() override { finished = true; }
  void MessageSpooled(const std::string&) override { ++spooled; }
  // Preview runs report into the list, as the desk's chain does.
  incoming::MailPreviewList* list = nullptr;
  void PreviewListed(const transport::TMailPreviewItem& item) override {
    if (list) list->Listed(item);
  }
  void PreviewHandled(const std::string& account, const std::string& key) override {
    if (list) list->Handled(account, key);
  }
};

class ServiceReceive : public FilerFixture {
protected:
  static void SetUpTestSuite() {
    std::vector<std::string> users{"ann:pw", "bob:pw"};
    for (int i = 0; i < 20; ++i) users.push_back("r" + std::to_string(i) + ":pw");
    peer_ = new ServicePeer(users);
  }
  static void TearDownTestSuite() {
    delete peer_;
    peer_ = nullptr;
  }
  void SetUp() override {
    FilerFixture::SetUp();
    ASSERT_TRUE(peer_->Running());
    peer_->ClearFaults();
    left = std::make_unique<transport::LeftOnServerList>(data + "msgid.lst");
  }

  // Puts a stored record into a user's mailbox as the service keeps it; returns its name.
  std::string store(const std::string& user, const std::string& record, const std::string& from,
                    const std::string& subject, const std::string& extra = {}) {
    const std::string tmp = home.path("record.tmp");
    px::test::writeFile(tmp, record);
    int fd = ::open(tmp.c_str(), O_RDONLY);
    transport::HttpClient c(peer_->Settings());
    auto r = c.PostStream(peer_->Url("/_test/store?user=" + user + "&from=" + from + "&subject=" +
                                     transport::EncodeQueryValue(subject) + extra),
                          fd, static_cast<int64_t>(record.size()));
    ::close(fd);
    EXPECT_TRUE(r.Ok()) << r.error;
    return r.body;
  }
  std::string message(const std::string& user, const std::string& subject, const std::string& from = "ann",
                      const std::string& id = "") {
    EnvelopeSpec e;
    e.from = from;
    e.to = {user};
    e.subject = subject;
    e.msgid = id;
    return store(user, Container(Envelope(e), "text of " + subject), from, subject,
                 id.empty() ? std::string() : "&messageid=" + id + "&currpart=1");
  }

  LinkResult receive(const std::string& user, bool keep = false, transport::ServiceReceiveLink** out = nullptr) {
    transport::ServiceAccount a;
    a.user = user;
    a.password = "pw";
    a.host = peer_->Host();
    a.http = peer_->Settings();
    a.http.lowSpeedTimeSec = 5;
    a.keepOnServer = keep;
    a.sync = false;
    transport::ServiceReceiveLink link(a);
    left->LoadIfNeeded();
    transport::ReceiveContext ctx{*spool, *left,
                                  [this](std::string_view k) { return blocked.IsBlocked(k); }, events};
    LinkResult r = link.Run(ctx);
    left->SaveIfModified();
    return r;
  }
  size_t mailboxCount(const std::string& user) {
    size_t n = 0;
    QDir d(QString::fromStdString(peer_->Mailbox(user)));
    for (const auto& f : d.entryList(QDir::Files))
      if (f.endsWith(".pxm")) ++n;
    return n;
  }
  size_t countInLog(const std::string& needle) {
    const std::string log = peer_->Log();
    size_t n = 0;
    for (size_t p = log.find(needle); p != std::string::npos; p = log.find(needle, p + 1)) ++n;
    return n;
  }

  static ServicePeer* peer_;
  std::unique_ptr<transport::LeftOnServerList> left;
  BlockedSenders blocked;
  Recorder events;
};
ServicePeer* ServiceReceive::peer_ = nullptr;

TEST_F(ServiceReceive, FetchesConfirmsAndFilesWithReceipts) {
  message("bob", "First", "ann", "123");
  message("bob", "Second", "someone@example.org");
  LinkResult r = receive("bob");
  ASSERT_EQ(r.status, LinkStatus::Ok) << r.error;
  EXPECT_EQ(r.messagesSpooled, 2);
  EXPECT_EQ(events.spooled, 2);
  EXPECT_GT(events.total, 0);
  EXPECT_TRUE(events.finished);
  EXPECT_EQ(mailboxCount("bob"), 0u);
  FilingReport f = runFiler();
  EXPECT_EQ(f.newMessages, 2u);
  EXPECT_EQ(px::test::readFile(docs + "First.txt"), "text of First");
  EXPECT_EQ(value(docs, "First.txt", "MsgID"), "0123");
  // A sender on the service gets a receipt; one from outside does not.
  EXPECT_EQ(mailboxCount("ann"), 1u);
  EXPECT_EQ(left->size(), 0u);
}

// An upload the service stored but never confirmed is uploaded again by its sender: the
// service then holds it twice. A download whose confirmation was lost is offered again. Either
// way the recipient files the message once, in the same run and in a later one.
TEST_F(ServiceReceive, RepeatsOfAMessageAreFiledOnce) {
  message("bob", "Stored twice", "ann", "900");
  message("bob", "Stored twice", "ann", "900");
  message("bob", "Another", "ann", "901");
  ASSERT_TRUE(peer_->AddFault("confirm", "fault=status&status=500"));
  LinkResult lost = receive("bob");
  EXPECT_EQ(lost.status, LinkStatus::ReceiveFailed);
  FilingReport first = runFiler();
  // The unconfirmed message is offered again (the list of fetched messages is gone too).
  left->Release();
  ::unlink((data + "msgid.lst").c_str());
  LinkResult r = receive("bob");
  ASSERT_EQ(r.status, LinkStatus::Ok) << r.error;
  FilingReport second = runFiler();
  EXPECT_EQ(first.newMessages + second.newMessages, 2u);
  EXPECT_EQ(first.repeats + second.repeats, 2u);
  EXPECT_EQ(sections(docs), (StringList{"Another.txt", "Stored twice.txt"}));
  EXPECT_EQ(mailboxCount("bob"), 0u);
}

TEST_F(ServiceReceive, BlockedSendersAreDeletedUnread) {
  message("r1", "Spam", "spammer");
  message("r1", "Ham", "ann");
  blocked.Block("Spammer@plumadex.net");
  LinkResult r = receive("r1");
  ASSERT_EQ(r.status, LinkStatus::Ok) << r.error;
  EXPECT_EQ(r.messagesSpooled, 1);
  EXPECT_EQ(mailboxCount("r1"), 0u);
  runFiler();
  EXPECT_TRUE(exists(docs + "Ham.txt"));
  EXPECT_FALSE(exists(docs + "Spam.txt"));
}

TEST_F(ServiceReceive, KeepOnServerFetchesOnceAndDeletesWhenSwitchedOff) {
  message("r2", "Kept", "ann");
  ASSERT_EQ(receive("r2", true).messagesSpooled, 1);
  EXPECT_EQ(mailboxCount("r2"), 1u);
  EXPECT_EQ(left->size(), 1u);
  EXPECT_EQ(receive("r2", true).messagesSpooled, 0);
  runFiler();
  EXPECT_TRUE(exists(docs + "Kept.txt"));
  // Switched off: deleted on the service without fetching, and forgotten.
  EXPECT_EQ(receive("r2", false).messagesSpooled, 0);
  EXPECT_EQ(mailboxCount("r2"), 0u);
  EXPECT_EQ(left->size(), 0u);
  EXPECT_TRUE(spoolFiles().empty());
}

// Each fault: the first run may fail, the second (without the fault) gets the rest, and every
// message ends filed exactly once.
TEST_F(ServiceReceive, FaultTable) {
  const struct {
    const char* kind;
    const char* query;
    LinkStatus first;
  } cases[] = {
      {"getfile", "fault=drop_after&bytes=40", LinkStatus::ReceiveFailed},
      {"getfile", "fault=wrong_size", LinkStatus::ReceiveFailed},
      {"getfile", "fault=status&status=404", LinkStatus::ReceiveFailed},
      {"getfile", "fault=status&status=500", LinkStatus::ReceiveFailed},
      {"index", "fault=status&status=401", LinkStatus::WrongPassword},
      {"index", "fault=status&status=500", LinkStatus::ConnectFailed},
      {"index", "fault=drop_after&bytes=30", LinkStatus::ConnectFailed},
      // The reply is lost after the service deleted the file; the client may ask again on a
      // fresh connection and be told OK.
      {"confirm", "fault=store_then_drop", LinkStatus::Stopped},
      {"confirm", "fault=drop_after&bytes=0", LinkStatus::ReceiveFailed},
      {"confirm", "fault=status&status=500", LinkStatus::ReceiveFailed},
      {"index", "fault=listing&variant=nodecl", LinkStatus::Ok},
      {"index", "fault=listing&variant=names", LinkStatus::ReceiveFailed},
      {"index", "fault=listing&variant=badxml", LinkStatus::ConnectFailed},
      {"index", "fault=listing&variant=huge", LinkStatus::ConnectFailed},
  };
  int n = 3;
  for (const auto& c : cases) {
    const std::string user = "r" + std::to_string(n++);
    SCOPED_TRACE(std::string(c.kind) + " " + c.query);
    std::vector<std::string> subjects;
    for (int i = 0; i < 3; ++i) {
      subjects.push_back(user + "-m" + std::to_string(i));
      message(user, subjects.back());
    }
    peer_->ClearFaults();
    ASSERT_TRUE(peer_->AddFault(c.kind, c.query));
    LinkResult first = receive(user);
    if (c.first != LinkStatus::Stopped) {
      EXPECT_EQ(first.status, c.first) << first.error;
    }
    runFiler();
    peer_->ClearFaults();
    LinkResult second = receive(user);
    EXPECT_EQ(second.status, LinkStatus::Ok) << second.error;
    runFiler();
    for (const auto& s : subjects) {
      EXPECT_TRUE(exists(docs + s + ".txt")) << s;
      EXPECT_FALSE(exists(docs + s + " (2).txt")) << s;
    }
    EXPECT_EQ(mailboxCount(user), 0u);
    EXPECT_TRUE(spoolFiles().empty());
  }
}

TEST_F(ServiceReceive, DamagedRecordsAreKeptAsideAndDoNotHoldUpTheRest) {
  message("r18", "Before");
  store("r18", "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff" "BZh9junk", "ann", "Lengths");
  std::string good = Container(Envelope({}), "a body long enough to damage");
  good[good.size() - 8] ^= 0x5A;
  store("r18", good, "ann", "Bzip");
  message("r18", "After");
  LinkResult r = receive("r18");
  ASSERT_EQ(r.status, LinkStatus::Ok) << r.error;
  FilingReport f = runFiler();
  EXPECT_TRUE(exists(docs + "Before.txt"));
  EXPECT_TRUE(exists(docs + "After.txt"));
  EXPECT_EQ(f.corrupted.size(), 2u);
  EXPECT_EQ(f.quarantined.size(), 4u);
  EXPECT_EQ(mailboxCount("r18"), 0u);
}

TEST_F(ServiceReceive, PreviewListsThenActsOnTickedRows) {
  message("r17", "Look", "ann", "41");
  message("r17", "Drop", "ann");
  message("r17", "Stays", "bob");
  EnvelopeSpec receipt;
  receipt.ext = "$$$r";
  store("r17", Container(Envelope(receipt), ""), "ann", "receipt", "&ext=$$$r");
  incoming::MailPreviewList list;
  events.list = &list;
  transport::ServiceAccount a;
  a.user = "r17";
  a.password = "pw";
  a.host = peer_->Host();
  a.http = peer_->Settings();
  a.sync = false;
  left->LoadIfNeeded();
  transport::ReceiveContext ctx{*spool, *left, {}, events};
  using Mode = transport::PreviewOrder::Mode;
  auto run = [&](Mode mode) {
    transport::ServiceReceiveLink link(a);
    transport::PreviewOrder order;
    order.mode = mode;
    if (mode != Mode::Listing) order.items = list.Ticked("Plumadex server");
    EXPECT_TRUE(link.SetPreview(std::move(order)));
    return link.Run(ctx).status;
  };
  auto tickOnly = [&](const std::string& subject) {
    for (const auto* r : list.Rows("Plumadex server")) list.SetTicked(r->account, r->fileName, r->subject == subject);
  };
  ASSERT_EQ(run(Mode::Listing), LinkStatus::Ok);
  // Receipts are never listed; nothing was fetched or confirmed.
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Accounts(), (std::vector<std::string>{"Plumadex server"}));
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_EQ(mailboxCount("r17"), 4u);
  tickOnly("Drop");
  ASSERT_EQ(run(Mode::Delete), LinkStatus::Ok);
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(mailboxCount("r17"), 3u);
  EXPECT_TRUE(spoolFiles().empty());
  tickOnly("Look");
  ASSERT_EQ(run(Mode::Receive), LinkStatus::Ok);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.Rows("Plumadex server")[0]->subject, "Stays");  // the unticked row is left alone
  EXPECT_EQ(mailboxCount("r17"), 2u);  // "Stays" and the receipt
  runFiler();
  EXPECT_TRUE(exists(docs + "Look.txt"));
  EXPECT_FALSE(exists(docs + "Drop.txt"));
  EXPECT_FALSE(exists(docs + "Stays.txt"));
}

TEST_F(ServiceReceive, StopEndsASlowDownloadUnconfirmed) {
  message("r19", "Slow");
  ASSERT_TRUE(peer_->AddFault("getfile", "fault=trickle&rate=5"));
  transport::ServiceAccount a;
  a.user = "r19";
  a.password = "pw";
  a.host = peer_->Host();
  a.http = peer_->Settings();
  a.sync = false;
  transport::ServiceReceiveLink link(a);
  left->LoadIfNeeded();
  transport::ReceiveContext ctx{*spool, *left, {}, events};
  LinkResult r;
  auto started = std::chrono::steady_clock::now();
  std::thread t([&] { r = link.Run(ctx); });
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  link.Stop();
  t.join();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(r.status, LinkStatus::Stopped);
  EXPECT_TRUE(spoolFiles().empty());
  EXPECT_EQ(mailboxCount("r19"), 1u);
  peer_->ClearFaults();
  ASSERT_EQ(receive("r19").status, LinkStatus::Ok);
  runFiler();
  EXPECT_TRUE(exists(docs + "Slow.txt"));
}

}  // namespace
}  // namespace px::incoming::test
