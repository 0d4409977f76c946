#include "platform/single_instance.h"
#include "support/test_paths.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSysInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using namespace px::platform;

namespace {

// Runs the event loop until pred holds or the deadline passes.
bool WaitFor(const std::function<bool()>& pred, int ms = 15000) {
  QDeadlineTimer deadline(ms);
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace

TEST(SingleInstance, AcceptsOnlyMailtoAndWebRequests) {
  struct Case {
    std::string request;
    bool ok;
  } cases[] = {
      {"mailto:bob@example.org", true},
      {"MAILTO:bob@example.org?subject=Hi%20there", true},
      {"/web:1", true},
      {"/web:", false},
      {"/web:x", false},
      {"http://example.org", false},
      {"", false},
      {"mailto:a\nb", false},
      {"mailto:" + std::string(SingleInstance::kMaxRequest, 'a'), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SingleInstance::IsAcceptableRequest(c.request), c.ok) << c.request.substr(0, 40);
}

TEST(SingleInstance, LockDecidesAndRequestsArriveFiltered) {
  px::test::TempHome home;
  SingleInstance first(home.path("run"));
  ASSERT_EQ(first.Claim(), SingleInstance::Role::First);
  QStringList got;
  QObject::connect(&first, &SingleInstance::RequestReceived, [&](const QString& r) { got << r; });

  SingleInstance second(home.path("run"));
  EXPECT_EQ(second.Claim(), SingleInstance::Role::Second);
  EXPECT_FALSE(second.Send("hello"));  // not a request: never sent

  // A peer that writes more than the limit is cut off; one that writes junk is ignored.
  {
    QLocalSocket big;
    big.connectToServer(QString::fromStdString(first.SocketPath()));
    ASSERT_TRUE(big.waitForConnected(2000));
    big.write(QByteArray("mailto:") + QByteArray(SingleInstance::kMaxRequest + 10, 'a') + "\n");
    big.flush();
    QLocalSocket junk;
    junk.connectToServer(QString::fromStdString(first.SocketPath()));
    ASSERT_TRUE(junk.waitForConnected(2000));
    junk.write("rm -rf /\n");
    junk.flush();
    WaitFor([&] { return big.state() == QLocalSocket::UnconnectedState; }, 3000);
    QCoreApplication::processEvents();
  }
  ASSERT_TRUE(second.Send("mailto:bob@example.org"));
  ASSERT_TRUE(WaitFor([&] { return !got.isEmpty(); }));
  QCoreApplication::processEvents();
  EXPECT_EQ(got, QStringList{"mailto:bob@example.org"});
}

TEST(SingleInstance, LockAndSocketLeftByADeadDeskDoNotBlockTheNext) {
  px::test::TempHome home;
  px::test::makeDirs(home.path("run"));
  {
    SingleInstance probe(home.path("run"));
    // A lock of a process that no longer exists, and a socket file nobody listens on.
    px::test::writeFile(probe.LockPath(), "2147480000\nplumadex\n" + QSysInfo::machineHostName().toStdString() + "\n");
    px::test::writeFile(probe.SocketPath(), "");
  }
  SingleInstance next(home.path("run"));
  EXPECT_EQ(next.Claim(), SingleInstance::Role::First);
  SingleInstance other(home.path("run"));
  EXPECT_EQ(other.Claim(), SingleInstance::Role::Second);
  QStringList got;
  QObject::connect(&next, &SingleInstance::RequestReceived, [&](const QString& r) { got << r; });
  ASSERT_TRUE(other.Send("/web:1"));
  ASSERT_TRUE(WaitFor([&] { return !got.isEmpty(); }));
  EXPECT_EQ(got, QStringList{"/web:1"});
}

// Two real desks under the offscreen platform, on a private home.
class DeskProcesses : public ::testing::Test {
protected:
  void SetUp() override {
    binary_ = QString::fromUtf8(PX_BINARY_DIR) + "/src/plumadex";
    if (!QFile::exists(binary_)) GTEST_SKIP() << "plumadex is not built";
    px::test::makeDirs(home_.path("tmp"));
    // A user of their own mail accounts only: the start-up does not stop at the welcome window.
    px::test::makeDirs(home_.path("data"));
    px::test::writeFile(home_.path("data/User.ini"), "[User]\r\nOwn Accounts Only=1\r\n");
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert("QT_QPA_PLATFORM", "offscreen");
    env_.insert("PLUMADEX_HOME", QString::fromStdString(home_.root()));
    env_.insert("PLUMADEX_EVENT_LOG", QString::fromStdString(home_.path("events.log")));
    env_.insert("TMPDIR", QString::fromStdString(home_.path("tmp")));
    env_.remove("XDG_RUNTIME_DIR");
  }
  void TearDown() override {
    for (QProcess* p : procs_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
      delete p;
    }
  }
  QProcess* Start(const QStringList& args) {
    auto* p = new QProcess;
    p->setProcessEnvironment(env_);
    p->start(binary_, args);
    procs_.push_back(p);
    return p;
  }
  std::string Log() const { return px::test::readFile(home_.path("events.log")); }
  bool LogHas(const std::string& s) const { return Log().find(s) != std::string::npos; }

  px::test::TempHome home_;
  QString binary_;
  QProcessEnvironment env_;
  std::vector<QProcess*> procs_;
};

TEST_F(DeskProcesses, MailtoHandedOverWhileStartingIsProcessedAfterInitialisation) {
  QProcess* first = Start({});
  ASSERT_TRUE(WaitFor([&] { return LogHas("listening"); })) << Log();
  const std::string url = "mailto:bob@example.org?subject=Hello";
  QProcess* second = Start({QString::fromStdString(url)});
  ASSERT_TRUE(second->waitForFinished(15000));
  EXPECT_EQ(second->exitCode(), 0);
  ASSERT_TRUE(WaitFor([&] { return LogHas("mailto: " + url); })) << Log();
  const std::string log = Log();
  // Not lost, and handled only once the desk is up.
  EXPECT_LT(log.find("initialised"), log.find("mailto: " + url));
  EXPECT_EQ(log.find("mailto: " + url), log.rfind("mailto: " + url));
  EXPECT_EQ(first->state(), QProcess::Running);
  // The desk made its data folders.
  for (const char* p : {"data/User.ini", "data/Contacts", "data/Inbox", "data/Icons", "Documents/TRASH"})
    EXPECT_TRUE(QFile::exists(QString::fromStdString(home_.path(p)))) << p;
}

TEST_F(DeskProcesses, ASecondStartWithoutArgumentsBringsTheDeskForward) {
  QProcess* first = Start({});
  ASSERT_TRUE(WaitFor([&] { return LogHas("initialised"); })) << Log();
  QProcess* second = Start({});
  ASSERT_TRUE(second->waitForFinished(15000));
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(second->readAllStandardError().indexOf("Plumadex is already running"), -1);
  ASSERT_TRUE(WaitFor([&] { return LogHas("show"); })) << Log();
  EXPECT_EQ(first->state(), QProcess::Running);
}

TEST_F(DeskProcesses, TwoStartsAtOnceMakeOneDesk) {
  QProcess* a = Start({});
  QProcess* b = Start({});
  ASSERT_TRUE(WaitFor([&] { return a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning; }))
      << Log();
  QProcess* loser = a->state() == QProcess::NotRunning ? a : b;
  QProcess* winner = loser == a ? b : a;
  ASSERT_TRUE(WaitFor([&] { return LogHas("listening"); })) << Log();
  // The loser asked the winner to come forward, or said so when the winner was not listening yet.
  const bool toldUser = loser->readAllStandardError().indexOf("Plumadex is already running") != -1;
  if (!toldUser) ASSERT_TRUE(WaitFor([&] { return LogHas("show"); })) << Log();
  QCoreApplication::processEvents();
  EXPECT_EQ(winner->state(), QProcess::Running);
  const std::string log = Log();
  EXPECT_EQ(log.find("listening"), log.rfind("listening"));
}
