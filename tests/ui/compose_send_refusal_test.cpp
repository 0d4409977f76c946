// Send Now in the message window asks first whether the chosen From has a way out: a message
// that cannot be routed is refused in the window with the reason, never left pending silently.
#include "compose/ui/frm_edit.h"
#include "compose/ui/message_windows.h"
#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "store/index_file.h"
#include "support/test_support.h"
#include "transport/accounts.h"
#include "transport/identities.h"
#include "transport/smtp/smtp_setting.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace px::compose::ui {
namespace {

// The web engine is set up for this program (root included) by the message window tests'
// start-up of the same program.

class Recorded : public MessagePresenter {
public:
  void ShowBox(MessageKind, const std::string& text) override { texts.push_back(text); }
  void CloseBox() override {}
  std::vector<std::string> texts;
};

TEST(SendRefusalInTheWindow, AFromWithoutAnOutgoingServerIsRefusedAndTheWindowStays) {
  px::test::TempHome home;
  const std::string docs = home.path("Documents/"), temp = home.path("tmp/");
  px::test::makeDirs(docs);
  px::test::makeDirs(temp);
  px::test::makeDirs(home.path("data"));
  // Own accounts only: one that can send, one that only receives.
  Settings settings;
  settings.SetName("Jo");
  RandomSource random(5);
  for (const char* name : {"jo@example.org", "old@example.net"}) {
    transport::ExternalAccount a;
    a.name = name;
    a.enabled = true;
    a.server = "pop.example.org";
    a.user = "jo";
    transport::WriteAccount(settings, a, random);
  }
  transport::SmtpServerSetting smtp;
  smtp.account = "jo@example.org";
  smtp.host = "smtp.example.org";
  transport::WriteSmtpSetting(settings, smtp, random);

  store::IniRegistry registry;
  TPXIniBase sent(home.path("data/sent.ini"));
  MessageQueue messages;
  Recorded shown;
  messages.SetPresenter(&shown);
  std::vector<std::string> sendRuns;
  MessageWindowsConfig cfg;
  cfg.settings = &settings;
  cfg.messages = &messages;
  cfg.opServices.registry = &registry;
  cfg.opServices.sent = &sent;
  cfg.tempFolder = temp;
  cfg.dataRoot = home.path("data/");
  cfg.documentsFolder = docs;
  cfg.sendNow = [&](const std::string& base) { sendRuns.push_back(base); };
  cfg.sendRefusal = [&](const std::string& from, const std::string& recipients) {
    return transport::SendRefusal(settings, from, recipients);
  };
  auto windows = std::make_unique<MessageWindows>(std::move(cfg));
  TfrmEdit* w = windows->NewMessage(docs, "bob@example.net");
  ASSERT_NE(w, nullptr);
  QPointer<TfrmEdit> alive(w);
  // From offers the user's own addresses, in full; never blank.
  auto* from = w->findChild<QComboBox*>(QStringLiteral("cbFrom"));
  ASSERT_NE(from, nullptr);
  QStringList offered;
  for (int i = 0; i < from->count(); ++i) offered << from->itemText(i);
  EXPECT_EQ(offered, (QStringList{"\"Jo\" <jo@example.org>", "\"Jo\" <old@example.net>"}));
  EXPECT_EQ(from->currentText(), QStringLiteral("\"Jo\" <jo@example.org>"));

  from->setEditText(QStringLiteral("\"Jo\" <old@example.net>"));
  w->btnSendNow()->click();
  QApplication::processEvents();
  ASSERT_FALSE(alive.isNull());
  EXPECT_TRUE(w->isVisible() || !w->isHidden());
  ASSERT_EQ(shown.texts.size(), 1u);
  EXPECT_EQ(shown.texts[0].rfind("Sorry, but", 0), 0u) << shown.texts[0];
  EXPECT_NE(shown.texts[0].find("old@example.net"), std::string::npos);
  EXPECT_TRUE(sendRuns.empty());
  EXPECT_TRUE(w->btnSendNow()->isEnabled());

  from->setEditText(QStringLiteral("\"Jo\" <jo@example.org>"));
  w->btnSendNow()->click();
  QElapsedTimer t;
  t.start();
  while (windows->Filed().empty() && t.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(10);
  }
  ASSERT_FALSE(windows->Filed().empty());
  EXPECT_EQ(sendRuns.size(), 1u);
  for (QWidget* top : QApplication::topLevelWidgets())
    if (auto* f = qobject_cast<TfrmEdit*>(top)) delete f;
  windows.reset();
  messages.SetPresenter(nullptr);
}

}  // namespace
}  // namespace px::compose::ui
