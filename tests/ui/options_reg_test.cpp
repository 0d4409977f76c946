#include "transport/ui/frm_reg.h"

#include "foundation/settings.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace px::transport {
namespace {

TEST(RegWindows, OwnAccountsChoiceEndsTheWelcomeWithoutTheAddressWindow) {
  Settings s;
  bool opened = false;
  TfrmReg2 w(MakeWelcomeView(s), [&](RegMode) { opened = true; return false; });
  ASSERT_NE(w.Button(WelcomeChoice::OwnAccountsOnly), nullptr);
  EXPECT_EQ(w.Button(WelcomeChoice::UseThis), nullptr);
  w.Button(WelcomeChoice::OwnAccountsOnly)->click();
  EXPECT_FALSE(opened);
  EXPECT_EQ(w.Chosen(), WelcomeChoice::OwnAccountsOnly);
  EXPECT_EQ(w.result(), QDialog::Accepted);
}

TEST(RegWindows, AnUnfinishedAddressWindowKeepsTheWelcomeOpen) {
  Settings s;
  std::vector<RegMode> modes;
  bool complete = false;
  TfrmReg2 w(MakeWelcomeView(s), [&](RegMode m) { modes.push_back(m); return complete; });
  w.Button(WelcomeChoice::UseExisting)->click();
  EXPECT_FALSE(w.Chosen().has_value());
  complete = true;
  w.Button(WelcomeChoice::RegisterNew)->click();
  EXPECT_EQ(modes, (std::vector<RegMode>{RegMode::Verify, RegMode::Register}));
  EXPECT_EQ(w.Chosen(), WelcomeChoice::RegisterNew);
}

TEST(RegWindows, AddressWindowLowersTheUserNameChecksAndSendsOnce) {
  std::vector<std::pair<MessageKind, std::string>> shown;
  std::vector<RegFields> sent;
  RegResult answer;
  TfrmReg w(
      RegMode::Verify, [&](RegMode, const RegFields& f) { sent.push_back(f); return answer; },
      [&](MessageKind k, const std::string& t) { shown.emplace_back(k, t); }, "mail.plumadex.net");
  EXPECT_FALSE(w.btnVerify->isEnabled());
  QTest::keyClicks(w.edtName, "Jo");
  QTest::keyClicks(w.edtUser, "Jo.Smith");
  EXPECT_EQ(w.edtUser->text(), QStringLiteral("jo.smith"));
  QTest::keyClicks(w.edtPassword, "abcde");
  QTest::keyClicks(w.edtRepeat, "abcde");
  EXPECT_TRUE(w.btnVerify->isEnabled());
  w.btnActionClick();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, MessageKind::Warning);
  EXPECT_TRUE(w.edtPassword->text().isEmpty());
  EXPECT_FALSE(w.btnVerify->isEnabled());
  EXPECT_TRUE(sent.empty());

  QTest::keyClicks(w.edtPassword, "secret1");
  QTest::keyClicks(w.edtRepeat, "secret1");
  answer.outcome = RegOutcome::NoConnection;
  answer.kind = MessageKind::Error;
  answer.message = "Cannot connect";
  w.btnActionClick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].user, "jo.smith");
  EXPECT_FALSE(w.Completed());
  EXPECT_EQ(shown.back().first, MessageKind::Error);

  answer = RegResult{RegOutcome::Verified, true, "", MessageKind::Information};
  w.btnActionClick();
  EXPECT_TRUE(w.Completed());
}

TEST(RegWindows, AnExistingAddressCanNameItsServer) {
  std::vector<RegFields> sent;
  std::vector<std::string> shown;
  TfrmReg w(
      RegMode::Verify, [&](RegMode, const RegFields& f) {
        sent.push_back(f);
        return RegResult{RegOutcome::Verified, true, "", MessageKind::Information};
      },
      [&](MessageKind, const std::string& t) { shown.push_back(t); }, "mail.plumadex.net");
  ASSERT_NE(w.edtServer, nullptr);
  EXPECT_EQ(w.edtServer->text(), QStringLiteral("mail.plumadex.net"));  // the server in use
  QTest::keyClicks(w.edtName, "Jo");
  QTest::keyClicks(w.edtUser, "jo");
  QTest::keyClicks(w.edtPassword, "secret1");
  QTest::keyClicks(w.edtRepeat, "secret1");
  w.edtServer->setText(QStringLiteral("bad host"));
  w.btnActionClick();
  EXPECT_TRUE(sent.empty());
  ASSERT_EQ(shown.size(), 1u);
  QTest::keyClicks(w.edtPassword, "secret1");
  QTest::keyClicks(w.edtRepeat, "secret1");
  w.edtServer->setText(QStringLiteral(" mail.lan:8443 "));
  w.btnActionClick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].server, "mail.lan:8443");
  EXPECT_TRUE(w.Completed());
}

TEST(RegWindows, TheWelcomeAsksForAPlumadexAddress) {
  Settings s;
  TfrmReg2 welcome(MakeWelcomeView(s), [](RegMode) { return false; });
  auto* prompt = welcome.findChild<QLabel*>(QStringLiteral("lblPrompt"));
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(prompt->text(), QStringLiteral("You need to set up a Plumadex address."));
  // The title bar has room for the whole caption, not "Welcome…lumadex!".
  EXPECT_GT(welcome.minimumWidth(), welcome.fontMetrics().horizontalAdvance(welcome.windowTitle()));
}

}  // namespace
}  // namespace px::transport
