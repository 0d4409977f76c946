#include "desk/ui/frm_options.h"

#include "foundation/settings.h"
#include "incoming/blocked_senders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace px::desk {
namespace {

struct Fixture {
  Settings settings;
  std::vector<std::string> notes;
  int checkMail = 0;
  int fonts = 0;
  int appearance = 0;
  OptionsServices Services() {
    OptionsServices s;
    s.settings = &settings;
    s.notify = [this](const std::string& t) { notes.push_back(t); };
    s.checkMailChanged = [this] { ++checkMail; };
    s.fontChanged = [this](FontRole) { ++fonts; };
    s.appearanceSaved = [this] { ++appearance; };
    return s;
  }
};

TEST(OptionsWindow, PagesAndWaitingPagesSayWhy) {
  Fixture f;
  TfrmOptions w(f.Services(), OptionPage::Encryption);
  EXPECT_EQ(w.lstPages->count(), kOptionPageCount);
  EXPECT_EQ(w.pnlPages->currentWidget()->objectName(), QStringLiteral("pnlSetEncryption"));
  for (auto p : {OptionPage::Encryption, OptionPage::Import, OptionPage::Wizard}) {
    ASSERT_NE(w.Note(p), nullptr);
    EXPECT_FALSE(w.Note(p)->text().isEmpty());
    // Every button on a waiting page is disabled: no click leads nowhere.
    for (auto* b : w.Panel(p)->findChildren<QPushButton*>()) EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
  }
  EXPECT_FALSE(w.rbPXSkin->isEnabled());
  // Without a service address there is no password to change.
  w.ShowSettings(OptionPage::PXMail);
  EXPECT_FALSE(w.edtOldPassword->isEnabled());
  EXPECT_TRUE(w.lblServiceAddress->text().contains(QStringLiteral("No Plumadex address")));
}

TEST(OptionsWindow, ImportContactsRunsWhenTheDeskOffersIt) {
  Fixture f;
  OptionsServices svc = f.Services();
  int imports = 0;
  svc.importContacts = [&imports] { ++imports; };
  TfrmOptions w(std::move(svc), OptionPage::Import);
  auto* btn = w.Panel(OptionPage::Import)->findChild<QPushButton*>(QStringLiteral("btnImportContacts"));
  ASSERT_NE(btn, nullptr);
  EXPECT_TRUE(btn->isEnabled());
  btn->click();
  EXPECT_EQ(imports, 1);
  // Importing mail and accounts is still to come.
  for (auto* b : w.Panel(OptionPage::Import)->findChildren<QPushButton*>())
    if (b != btn) EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
}

TEST(OptionsWindow, LeavingAPageSavesWhatChanged) {
  Fixture f;
  f.settings.SetName("Jo");
  TfrmOptions w(f.Services(), OptionPage::Personal);
  EXPECT_EQ(w.edtUserName->text(), QStringLiteral("Jo"));
  EXPECT_FALSE(w.edtSignature->isVisibleTo(&w));
  w.edtUserName->setText(QStringLiteral("Jo Smith"));
  w.chkUseSignature->setChecked(true);
  EXPECT_TRUE(w.edtSignature->isVisibleTo(&w));
  w.edtSignature->setPlainText(QStringLiteral("Jo\nLab"));
  w.btnFromAddClick();
  w.edtFrom->setText(QStringLiteral(" jo@work.org "));
  w.btnFromSaveClick();
  ASSERT_EQ(w.lstFrom->count(), 1);
  w.lstFrom->item(0)->setCheckState(Qt::Checked);
  w.cbFrom->setChecked(true);
  w.lstPages->setCurrentRow(static_cast<int>(OptionPage::PXMail));  // leaving saves
  EXPECT_EQ(w.Shown(), OptionPage::PXMail);
  EXPECT_EQ(f.settings.Name(), "Jo Smith");
  EXPECT_TRUE(f.settings.UseSignature());
  EXPECT_EQ(f.settings.Signature(), "Jo~Lab");
  EXPECT_TRUE(f.settings.UseAlternativeFromAddress());
  EXPECT_EQ(f.settings.AlternativeFromAddress(), "jo@work.org");
  EXPECT_EQ(OwnFromAddress(f.settings), "jo@work.org");
  EXPECT_FALSE(f.settings.ValueExists(kUserSection, "Message Format"));

  // A refused local server keeps the page and writes nothing.
  w.cbLocal->setChecked(true);
  w.edtLocalServer->setText(QStringLiteral("bad host"));
  w.lstPages->setCurrentRow(static_cast<int>(OptionPage::Appearance));
  EXPECT_EQ(w.Shown(), OptionPage::PXMail);
  ASSERT_EQ(f.notes.size(), 1u);
  EXPECT_FALSE(f.settings.UseLocalServer());
  w.edtLocalServer->setText(QStringLiteral("mail.lan:8443"));
  w.chkAutoCheck->setChecked(true);
  w.edtInterval->setValue(1);
  w.btnApplySettings->click();
  EXPECT_TRUE(f.settings.UseLocalServer());
  EXPECT_EQ(f.settings.LocalServer(), "mail.lan:8443");
  EXPECT_TRUE(f.settings.AutoCheckMail());
  EXPECT_EQ(f.settings.MailCheckInterval(), 1);
  EXPECT_EQ(f.checkMail, 1);
}

TEST(OptionsWindow, AChangedLocalServerAppliesAtOnce) {
  Fixture f;
  int changed = 0;
  OptionsServices svc = f.Services();
  svc.serverChanged = [&] { ++changed; };
  TfrmOptions w(std::move(svc), OptionPage::PXMail);
  // Ticked with no server yet: nothing is kept until there is one.
  w.cbLocal->setChecked(true);
  EXPECT_FALSE(f.settings.UseLocalServer());
  w.edtLocalServer->setText(QStringLiteral("mail.lan:8443"));
  emit w.edtLocalServer->editingFinished();
  // Without leaving the page: the address set-up and the next transfer use it.
  EXPECT_EQ(w.Shown(), OptionPage::PXMail);
  EXPECT_TRUE(f.settings.UseLocalServer());
  EXPECT_EQ(f.settings.LocalServer(), "mail.lan:8443");
  EXPECT_EQ(changed, 1);
  w.cbLocal->setChecked(false);
  EXPECT_FALSE(f.settings.UseLocalServer());
  EXPECT_EQ(changed, 2);
  EXPECT_TRUE(f.notes.empty());
}

TEST(OptionsWindow, FontsAndColoursActAtOnce) {
  Fixture f;
  OptionsServices svc = f.Services();
  svc.chooseFont = [](const FontValue& current, const std::string& caption) -> std::optional<FontValue> {
    EXPECT_EQ(caption, "Select font for the file list");
    FontValue v = current;
    v.name = "DejaVu Sans Mono";
    v.size = 14;
    return v;
  };
  svc.chooseColor = [](ColorRef, std::string& custom) -> std::optional<ColorRef> {
    custom = "255,0";
    return 0x0000FF00;
  };
  TfrmOptions w(std::move(svc), OptionPage::Appearance);
  w.btnGridFont->click();
  EXPECT_EQ(f.fonts, 1);
  EXPECT_EQ(f.settings.FileFont(FontValue{}).name, "DejaVu Sans Mono");
  EXPECT_EQ(f.settings.FileFont(FontValue{}).size, 14);
  w.pnlHighlightFontColor->click();
  EXPECT_EQ(f.settings.CustomColors(), "255,0");
  // The colour itself is a page value: saved when the page is left.
  EXPECT_FALSE(f.settings.ValueExists(kSettingsSection, "Highlight Font Color"));
  w.chkHighlightFontColor->setChecked(true);
  w.chkHighlightFontBold->setChecked(false);
  w.btnApplySettings->click();
  EXPECT_EQ(f.settings.HighlightFontColor(), 0x0000FF00u);
  EXPECT_TRUE(f.settings.UseHighlightFontColor());
  EXPECT_FALSE(f.settings.HighlightFontBold());
  EXPECT_EQ(f.appearance, 1);
}

TEST(OptionsWindow, PasswordChangeAndBlockedSenders) {
  Fixture f;
  f.settings.SetID("jo");
  QTemporaryDir dir;
  incoming::BlockedSenders blocked;
  const std::string file = dir.path().toStdString() + "/blacklist.lst";
  blocked.Load(file);
  OptionsServices svc = f.Services();
  svc.blocked = &blocked;
  std::vector<std::string> sent;
  svc.changePassword = [&](const std::string& o, const std::string& n, bool save) {
    sent.push_back(o + "|" + n + "|" + (save ? "save" : "no"));
    transport::PasswordChangeOutcome r;
    r.reply = n == "newsecret" ? transport::PasswordChangeReply::Changed : transport::PasswordChangeReply::WrongOldPassword;
    r.message = "told";
    r.kind = r.reply == transport::PasswordChangeReply::Changed ? MessageKind::Information : MessageKind::Error;
    r.clearOldPassword = r.reply != transport::PasswordChangeReply::Changed;
    return r;
  };
  TfrmOptions w(std::move(svc), OptionPage::PXMail);
  EXPECT_TRUE(w.edtOldPassword->isEnabled());
  EXPECT_FALSE(w.btnChangePassword->isVisibleTo(&w));
  w.edtOldPassword->setText(QStringLiteral("old123"));
  w.edtNewPassword->setText(QStringLiteral("short"));
  w.edtConfirmPassword->setText(QStringLiteral("short"));
  EXPECT_TRUE(w.btnChangePassword->isVisibleTo(&w));
  w.btnChangePasswordClick();
  EXPECT_TRUE(sent.empty());
  ASSERT_EQ(f.notes.size(), 1u);
  EXPECT_EQ(f.notes[0], "Your new password is too short. Password must be from 6 to 20 characters long.");
  EXPECT_TRUE(w.edtNewPassword->text().isEmpty());
  w.edtNewPassword->setText(QStringLiteral("other12"));
  w.edtConfirmPassword->setText(QStringLiteral(" other12 "));
  w.btnChangePasswordClick();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], "old123|other12|no");
  EXPECT_TRUE(w.edtOldPassword->text().isEmpty());  // the old one was wrong
  w.edtOldPassword->setText(QStringLiteral("old123"));
  w.edtNewPassword->setText(QStringLiteral("newsecret"));
  w.edtConfirmPassword->setText(QStringLiteral("newsecret"));
  w.chkSavePassword->setChecked(true);
  w.btnChangePasswordClick();
  EXPECT_EQ(sent.back(), "old123|newsecret|save");

  w.ShowSettings(OptionPage::BlackList);
  w.edtBlocked->setText(QStringLiteral("\"Spam\" <Spam@Example.org>"));
  w.btnBlockedAddClick();
  ASSERT_EQ(w.lstBlocked->count(), 1);
  EXPECT_EQ(w.lstBlocked->item(0)->text(), QStringLiteral("spam@example.org"));
  incoming::BlockedSenders reread;
  reread.Load(file);
  EXPECT_TRUE(reread.IsBlocked("spam@example.org"));
  w.lstBlocked->item(0)->setSelected(true);
  w.btnBlockedRemoveClick();
  EXPECT_EQ(w.lstBlocked->count(), 0);
  EXPECT_EQ(blocked.Size(), 0u);
}

}  // namespace
}  // namespace px::desk
