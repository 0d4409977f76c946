// The journeys: an ordinary day of mail, each walked from a fresh home through the welcome
// window, reaching every command the way a person does (tool bar, menu, shortcut, context
// menu), against real servers on loopback, and checked where a person would look: what the
// server received, the files and index entries on disk, what the windows show.
#include "journeys/journey_desk.h"

#include "compose/ui/frm_edit.h"
#include "compose/ui/mail_web_view.h"
#include "desk/desk_state.h"
#include "desk/folder_tree_model.h"
#include "desk/ui/frm_desk.h"
#include "desk/ui/grid_view.h"
#include "desk/ui/password_prompt.h"
#include "desk/ui/tree_view.h"
#include "import/ui/frm_import.h"
#include "incoming/ui/frm_mail_preview.h"
#include "incoming/ui/frm_mail_sort.h"
#include "pop3/pop3_servers.h"
#include "smtp/smtp_fixture.h"
#include "store/doc_record.h"
#include "support/test_paths.h"
#include "support/thunderbird_profile.h"
#include "transport/accounts.h"
#include "transport/accounts.h"
#include "transport/peer_fixture.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QMessageBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <QTabBar>
#include <QTreeWidget>
#include <QTreeView>
#include <QDialogButtonBox>
#include <QAbstractItemModel>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <gtest/gtest.h>

#include <map>

namespace px::journeys {
namespace {

using compose::ui::TfrmEdit;

// ---- what the journeys share ----------------------------------------------------------------

// The desk's "New message" command, reached in one of the ways a person looks for it.
enum class Way { Toolbar, Shortcut, MenuBar, GridMenu, EmptyGridMenu };
// The desk's command (tool bar, menu bar, Ctrl+N) and the context menus' entry.
const QString kNewMessage = QStringLiteral("actNewMessage");
const QString kNewMessageInMenu = QStringLiteral("aNewMessage");

// Opens the desk's menu that holds the action and clicks it; false when no menu holds it.
bool ClickMenuBarAction(JourneyDesk& d, const QString& name) {
  QMenuBar* bar = d.window().menuBar();
  QMenu* holder = nullptr;
  QAction* action = nullptr;
  for (QAction* top : bar->actions())
    if (QMenu* m = top->menu())
      for (QAction* a : m->actions())
        if (a->objectName() == name) holder = m, action = a;
  if (!action) return false;
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(holder->menuAction()).center());
  // The menu bar's menus pop up without a loop of their own.
  if (!WaitUntil([&] { return holder->isVisible(); }, 3000)) {
    d.user.ExpectMenuAction(name);  // some styles run it modally
  } else {
    ClickMenuAction(holder, action);
  }
  return true;
}

TfrmEdit* NewMessage(JourneyDesk& d, Way way) {
  const auto before = d.MessageWindows();
  desk::TfrmDesk& desk = d.window();
  switch (way) {
    case Way::Toolbar:
      if (!ClickToolbarAction(&desk, kNewMessage)) ADD_FAILURE() << "no \"New message\" on the desk's tool bar";
      break;
    case Way::Shortcut: {
      // The key goes where the keyboard is: the desk's grid, the desk being the active window.
      desk.activateWindow();
      EXPECT_TRUE(WaitUntil([&] { return desk.isActiveWindow(); }, 3000)) << "the desk is not the active window";
      QWidget* grid = d.Grid() ? static_cast<QWidget*>(d.Grid()->grid()) : &desk;
      grid->setFocus(Qt::MouseFocusReason);
      Press(QApplication::focusWidget() ? QApplication::focusWidget() : grid, Qt::Key_N, Qt::ControlModifier);
      break;
    }
    case Way::MenuBar:
      if (!ClickMenuBarAction(d, kNewMessage)) ADD_FAILURE() << "no \"New message\" in the desk's menu bar";
      break;
    case Way::GridMenu:
      d.user.ExpectMenuAction(kNewMessageInMenu);
      d.RightClickGridRow(0);
      break;
    case Way::EmptyGridMenu:
      d.user.ExpectMenuAction(kNewMessageInMenu);
      d.RightClickGridEmptySpace();
      break;
  }
  return d.WaitForNewMessageWindow(before, 10000);
}

// The editor the body is typed into.
QWidget* Body(TfrmEdit* w) {
  if (w->htmlEdit() && w->htmlEdit()->isVisible()) return w->htmlEdit();
  return w->txtText();
}

QString BodyText(TfrmEdit* w) {
  if (w->htmlEdit() && w->htmlEdit()->isVisible()) return w->htmlEdit()->toPlainText();
  return w->txtText()->toPlainText();
}

void TypeBody(TfrmEdit* w, const QString& text) {
  QWidget* body = Body(w);
  body->setFocus(Qt::MouseFocusReason);
  TypeMore(body, text);
}

// Chooses the From identity holding `address`; false when From does not offer it.
bool ChooseFrom(TfrmEdit* w, const QString& address) {
  QComboBox* from = w->cbFrom();
  const int i = from->findText(address, Qt::MatchContains);
  if (i < 0) return false;
  from->setCurrentIndex(i);
  return true;
}

QStringList FromChoices(TfrmEdit* w) {
  QStringList r;
  for (int i = 0; i < w->cbFrom()->count(); ++i) r << w->cbFrom()->itemText(i);
  return r;
}

// Attaches a file through the Attach button and the file chooser, typing its path.
void AttachThroughChooser(JourneyDesk& d, TfrmEdit* w, const std::string& path) {
  const int before = w->lstAttach()->count();
  d.user.ExpectDialog(QStringLiteral("QFileDialog"), [path](QWidget* dlg) {
    // The path goes in whole, as pasted: typed, the chooser's completion list pops up over it.
    auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    name->setFocus(Qt::MouseFocusReason);
    name->setText(QString::fromStdString(path));
    Press(name, Qt::Key_Return);
  });
  Click(Named<QPushButton>(w, QStringLiteral("btnAttach")));
  EXPECT_TRUE(WaitUntil([&] { return w->lstAttach()->count() == before + 1; }, 10000)) << "nothing was attached";
}

std::string SmtpRecipients(const transport::testing::Received& m) {
  std::string r;
  for (const auto& v : m.meta.value("rcpt_tos").toArray()) r += v.toString().toStdString() + " ";
  return r;
}

// Waits until the SMTP server has `n` messages; returns them.
std::vector<transport::testing::Received> WaitForSmtp(JourneyDesk& d, size_t n) {
  std::vector<transport::testing::Received> got;
  WaitUntil(
      [&] {
        got = d.Smtp().Messages();
        return got.size() >= n;
      },
      30000);
  EXPECT_EQ(got.size(), n) << "messages the SMTP server received; seen: "
                           << d.user.Messages().join(" | ").toStdString();
  return got;
}

// The index of a folder as sections of keys (the keys as written; values raw).
using Section = std::map<std::string, std::string>;
std::map<std::string, Section> ReadIndex(const std::string& folder) {
  std::map<std::string, Section> r;
  std::string text = test::readFile(folder + "Plumadex.ini");
  std::string current;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
      r[current];
    } else if (const size_t eq = line.find('='); eq != std::string::npos && !current.empty()) {
      r[current][line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return r;
}

int FlagsOf(const Section& s) {
  for (const auto& [k, v] : s)
    if (QString::fromStdString(k).compare(QStringLiteral("Flags"), Qt::CaseInsensitive) == 0)
      return std::atoi(v.c_str());
  return 0;
}

std::string ValueOf(const Section& s, const char* key) {
  for (const auto& [k, v] : s)
    if (QString::fromStdString(k).compare(QLatin1String(key), Qt::CaseInsensitive) == 0) return v;
  return {};
}

// The entry whose title (or, without one, file name) holds `title`.
std::optional<std::pair<std::string, Section>> EntryTitled(const std::string& folder, const std::string& title) {
  for (const auto& [name, s] : ReadIndex(folder)) {
    const std::string shown = ValueOf(s, "Title").empty() ? name : ValueOf(s, "Title");
    if (shown.find(title) != std::string::npos) return std::make_pair(name, s);
  }
  return std::nullopt;
}

// A small PNG picture: a red square.
std::string Png() {
  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

std::string Base64Lines(const std::string& bytes) {
  const QByteArray b = QByteArray::fromStdString(bytes).toBase64();
  std::string out;
  for (qsizetype i = 0; i < b.size(); i += 76) out += b.mid(i, 76).toStdString() + "\r\n";
  return out;
}

// Some bytes that are no text: every byte value, twice.
std::string BinaryBytes() {
  std::string s;
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

// Received mail: an HTML message with a picture by Content-ID, to alice, from carol, copied
// to erin, with a Message-ID in a thread.
std::string HtmlWithPicture(const std::string& to) {
  return "From: Carol Sender <carol@example.org>\r\n"
         "To: " + to + ", Dave <dave@example.org>\r\n"
         "Cc: erin@example.org\r\n"
         "Subject: Garden plans\r\n"
         "Date: Thu, 10 Dec 2026 09:30:00 +0100\r\n"
         "Message-ID: <plans-2@example.org>\r\n"
         "References: <plans-1@example.org>\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/related; boundary=\"rel\"\r\n"
         "\r\n"
         "--rel\r\n"
         "Content-Type: text/html; charset=utf-8\r\n"
         "\r\n"
         "<html><body><p>The roses go by the wall.</p><img id=\"plan\" src=\"cid:plan@example.org\"></body></html>\r\n"
         "--rel\r\n"
         "Content-Type: image/png\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "Content-ID: <plan@example.org>\r\n"
         "Content-Disposition: inline; filename=\"plan.png\"\r\n"
         "\r\n" +
         Base64Lines(Png()) +
         "--rel--\r\n";
}

std::string TextWithAttachment(const std::string& to, const std::string& attachment) {
  return "From: Carol Sender <carol@example.org>\r\n"
         "To: " + to + "\r\n"
         "Subject: Minutes\r\n"
         "Date: Thu, 10 Dec 2026 10:00:00 +0100\r\n"
         "Message-ID: <minutes-1@example.org>\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: multipart/mixed; boundary=\"mix\"\r\n"
         "\r\n"
         "--mix\r\n"
         "Content-Type: text/plain; charset=utf-8\r\n"
         "\r\n"
         "The minutes are attached.\r\n"
         "--mix\r\n"
         "Content-Type: application/octet-stream\r\n"
         "Content-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment; filename=\"minutes.bin\"\r\n"
         "\r\n" +
         Base64Lines(attachment) +
         "--mix--\r\n";
}

// Receives with the desk's "Receive only" and waits until the grid shows `subject`.
int ReceiveAndFind(JourneyDesk& d, const QString& subject) {
  d.RunTransfer(QStringLiteral("actReceive"));
  int row = -1;
  EXPECT_TRUE(WaitUntil([&] { return (row = d.GridRowOf(subject)) >= 0; }, 20000))
      << "the grid does not show \"" << subject.toStdString() << "\"; messages: "
      << d.user.Messages().join(" | ").toStdString();
  return row;
}

// Opens the grid's row in its message window.
TfrmEdit* OpenRow(JourneyDesk& d, int row) {
  const auto before = d.MessageWindows();
  d.DoubleClickGridRow(row);
  return d.WaitForNewMessageWindow(before, 15000);
}

// Reply, Reply all or Forward on an opened message's tool bar: the composer that comes up (a
// window of its own, or the viewer turned into one).
TfrmEdit* Answer(JourneyDesk& d, TfrmEdit* viewer, const QString& action) {
  const auto before = d.MessageWindows();
  if (!ClickToolbarAction(viewer, action)) {
    ADD_FAILURE() << "no " << action.toStdString() << " on the message window's tool bar";
    return nullptr;
  }
  TfrmEdit* found = nullptr;
  WaitUntil(
      [&] {
        for (auto* w : d.MessageWindows())
          if (std::find(before.begin(), before.end(), w) == before.end()) found = w;
        if (!found && viewer->ComposeHeaderShown()) found = viewer;
        return found != nullptr;
      },
      10000);
  return found;
}

// Closes a message window, answering "No" when it asks to keep what was typed.
void CloseWindow(JourneyDesk& d, TfrmEdit* w) {
  if (!w || !w->isVisible()) return;
  QPointer<TfrmEdit> window(w);
  bool asked = false;
  d.user.Expect(QStringLiteral("close question"),
                [](QWidget* box) {
                  auto* b = qobject_cast<QMessageBox*>(box);
                  return b && b->text().startsWith(QStringLiteral("Save changes"));
                },
                [&asked](QWidget* box) {
                  asked = true;
                  Click(static_cast<QMessageBox*>(box)->button(QMessageBox::No));
                });
  w->close();
  WaitUntil([&] { return !window || !window->isVisible(); }, 5000);
  if (!asked) d.user.Drop(QStringLiteral("close question"));
}

// Runs JavaScript in the message window's page (outside the page's own scripts, which stay off).
QVariant RunScript(compose::ui::MailWebView* view, const QString& script) {
  QVariant result;
  bool done = false;
  view->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
    result = v;
    done = true;
  });
  WaitUntil([&] { return done; }, 10000);
  return result;
}

// ---- the journeys -------------------------------------------------------------------------

// A new message to an Internet address through the user's SMTP account, with an attachment.
void SendThroughOwnSmtp(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  d.StartAsOwnAccountsUser(account);
  const std::string file = d.home() + "Résumé 2026.pdf";
  test::writeFile(file, "%PDF-1.4\n" + BinaryBytes());

  TfrmEdit* w = NewMessage(d, Way::Toolbar);
  ASSERT_NE(w, nullptr) << "no message window";
  EXPECT_TRUE(ChooseFrom(w, QStringLiteral("alice@example.org")))
      << "From offers: " << FromChoices(w).join(" | ").toStdString();
  Type(w->edtTo(), QStringLiteral("Bob <bob@example.net>"));
  Type(w->edtSubject(), QStringLiteral("Quarterly figures"));
  TypeBody(w, QStringLiteral("Here are the figures."));
  AttachThroughChooser(d, w, file);
  d.Shot("composed");
  Click(w->btnSendNow());

  const auto got = WaitForSmtp(d, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(SmtpRecipients(got[0]).find("bob@example.net"), std::string::npos);
  const ReadBack m = ReadWithPython(got[0].path);
  EXPECT_NE(m.from.find("alice@example.org"), std::string::npos) << m.from;
  EXPECT_EQ(m.subject, "Quarterly figures");
  EXPECT_NE(m.messageId.find('@'), std::string::npos) << m.messageId;
  EXPECT_FALSE(m.date.empty()) << "no readable Date";
  EXPECT_NE(m.body.find("Here are the figures."), std::string::npos) << m.body;
  ASSERT_EQ(m.attachments.size(), 1u);
  EXPECT_EQ(m.attachments[0].name, "Résumé 2026.pdf");
  EXPECT_EQ(m.attachments[0].sha256, Sha256(test::readFile(file)));

  // On disk the message stays in the documents folder as sent: outgoing, no longer pending.
  EXPECT_TRUE(WaitUntil(
      [&] {
        auto e = EntryTitled(d.Documents(), "Quarterly figures");
        return e && (FlagsOf(e->second) & store::dfOutgoing) && !(FlagsOf(e->second) & store::dfPending);
      },
      15000))
      << d.IndexText(d.Documents());
  d.Shot("sent");
}

// The same for a user of the service: the message goes to the service peer.
void SendThroughService(JourneyDesk& d) {
  test::ServicePeer& peer = d.Peer({"alice:pw-alice", "bob:pw-bob"});
  ASSERT_TRUE(peer.Running());
  d.StartAsServiceUser("alice", "pw-alice");
  ASSERT_EQ(d.state().settings.ID(), "alice") << "the address was not set up";
  const std::string file = d.home() + "holiday.jpg";
  test::writeFile(file, BinaryBytes());

  TfrmEdit* w = NewMessage(d, Way::Shortcut);
  ASSERT_NE(w, nullptr) << "no message window";
  EXPECT_TRUE(ChooseFrom(w, QStringLiteral("alice@"))) << "From offers: " << FromChoices(w).join(" | ").toStdString();
  Type(w->edtTo(), QStringLiteral("bob"));
  Type(w->edtSubject(), QStringLiteral("Holiday picture"));
  TypeBody(w, QStringLiteral("From the beach."));
  AttachThroughChooser(d, w, file);
  Click(w->btnSendNow());

  // The service holds one record per part for bob: the text and the picture, one message id.
  const QString box = QString::fromStdString(peer.Mailbox("bob"));
  QStringList records;
  WaitUntil(
      [&] {
        records = QDir(box).entryList({QStringLiteral("*.pxm")}, QDir::Files, QDir::Name);
        return records.size() >= 2;
      },
      30000);
  ASSERT_EQ(records.size(), 2) << "records delivered to bob; seen: " << d.user.Messages().join(" | ").toStdString();
  // Python unpacks each record (bzip2 envelope and file) and says what it holds.
  const QString script = QStringLiteral(
      "import bz2,hashlib,json,struct,sys\n"
      "out=[]\n"
      "for p in sys.argv[1:]:\n"
      "  d=open(p,'rb').read(); c,t,f=struct.unpack_from('<III',d,0)\n"
      "  meta=json.load(open(p+'.json'))\n"
      "  meta['sha256']=hashlib.sha256(bz2.decompress(d[12+c:])).hexdigest()\n"
      "  out.append(meta)\n"
      "print(json.dumps(out))\n");
  QStringList args{QStringLiteral("-c"), script};
  for (const auto& r : records) args << box + r;
  const std::string json = transport::testing::RunCommand(QStringLiteral("/usr/bin/python3"), args);
  const QJsonArray parts = QJsonDocument::fromJson(QByteArray::fromStdString(json)).array();
  ASSERT_EQ(parts.size(), 2);
  bool sawPicture = false, sawSubject = false;
  for (const auto& v : parts) {
    const QJsonObject p = v.toObject();
    EXPECT_NE(p.value("from").toString().indexOf(QStringLiteral("alice")), -1) << p.value("from").toString().toStdString();
    EXPECT_EQ(p.value("messageid").toString(), parts[0].toObject().value("messageid").toString()) << json;
    if (p.value("subject").toString() == QStringLiteral("Holiday picture")) sawSubject = true;
    if (p.value("sha256").toString().toStdString() == Sha256(test::readFile(file))) sawPicture = true;
  }
  EXPECT_TRUE(sawSubject) << json;
  EXPECT_TRUE(sawPicture) << "the picture did not arrive unchanged: " << json;
}

// Mail comes in by POP3 over TLS and is opened: the pictures show, the message becomes read.
void ReceiveAndOpen(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  d.Dovecot().PutMessage(account.user, HtmlWithPicture("Alice <alice@example.org>"));
  d.StartAsOwnAccountsUser(account);

  const int row = ReceiveAndFind(d, QStringLiteral("Garden plans"));
  ASSERT_GE(row, 0);
  EXPECT_TRUE(d.GridRowBold(row)) << "a new message shows unread";
  d.Shot("received");
  TfrmEdit* w = OpenRow(d, row);
  ASSERT_NE(w, nullptr) << "the message did not open";
  compose::ui::MailWebView* view = w->webView();
  ASSERT_TRUE(view && WaitUntil([&] { return view->isVisible(); }, 5000)) << "the message is not shown as HTML";
  // The picture comes from the message's own part.
  QVariant width;
  EXPECT_TRUE(WaitUntil(
      [&] {
        width = RunScript(view, QStringLiteral("(function(){var i=document.getElementById('plan');"
                                               "return i && i.complete ? i.naturalWidth : -1;})()"));
        return width.toInt() > 0;
      },
      15000))
      << "the cid picture did not load (naturalWidth " << width.toInt() << ")";
  d.Shot("opened");

  // Opened: read on disk and in the grid.
  auto entry = EntryTitled(d.Documents(), "Garden plans");
  ASSERT_TRUE(entry.has_value()) << d.IndexText(d.Documents());
  EXPECT_TRUE(WaitUntil(
      [&] {
        entry = EntryTitled(d.Documents(), "Garden plans");
        return entry && !(FlagsOf(entry->second) & store::dfUnread);
      },
      5000))
      << "still unread on disk: " << entry->first;
  EXPECT_TRUE(WaitUntil([&] { return !d.GridRowBold(d.GridRowOf(QStringLiteral("Garden plans"))); }, 5000))
      << "the grid still shows the message unread";
  CloseWindow(d, w);

}

// An IMAP account: the first message comes with Receive, the next one by itself while the
// desk runs (the server's IDLE says it has arrived); both stay on the server read as before.
void ReceiveOverImap(JourneyDesk& d) {
  OwnAccount account = d.MakeOwnAccount("alice@example.org");
  account.imap = true;
  d.Dovecot().PutMessage(account.user, HtmlWithPicture("Alice <alice@example.org>"));
  d.StartAsOwnAccountsUser(account);
  auto saved = transport::ReadAccount(d.state().settings, account.address);
  ASSERT_TRUE(saved && saved->IsImap()) << "the account was not saved as IMAP";

  ASSERT_GE(ReceiveAndFind(d, QStringLiteral("Garden plans")), 0);
  EXPECT_TRUE(d.Dovecot().Messages(account.user).empty()) << "the received message stayed on the server";
  d.Dovecot().PutMessage(account.user, TextWithAttachment("alice@example.org", "x"));
  EXPECT_TRUE(WaitUntil([&] { return EntryTitled(d.Documents(), "Minutes").has_value(); }, 60000))
      << "new mail did not arrive by itself: " << d.IndexText(d.Documents());
  d.Shot("arrived-by-idle");
}

// Reply and reply all to a received message: the thread's headers, the quoted text, the people.
void ReplyAndReplyAll(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  d.Dovecot().PutMessage(account.user, HtmlWithPicture("Alice <alice@example.org>"));
  d.StartAsOwnAccountsUser(account);
  const int row = ReceiveAndFind(d, QStringLiteral("Garden plans"));
  ASSERT_GE(row, 0);
  TfrmEdit* viewer = OpenRow(d, row);
  ASSERT_NE(viewer, nullptr);
  QPointer<TfrmEdit> open(viewer);

  TfrmEdit* reply = Answer(d, viewer, QStringLiteral("aReply"));
  ASSERT_NE(reply, nullptr) << "Reply opened no composer";
  EXPECT_TRUE(reply->edtTo()->text().contains(QStringLiteral("carol@example.org"))) << reply->edtTo()->text().toStdString();
  EXPECT_FALSE(reply->edtTo()->text().contains(QStringLiteral("dave@"))) << reply->edtTo()->text().toStdString();
  EXPECT_EQ(reply->edtSubject()->text(), QStringLiteral("Re: Garden plans"));
  EXPECT_TRUE(reply->cbFrom()->currentText().contains(QStringLiteral("alice@example.org")))
      << "Reply answers from " << reply->cbFrom()->currentText().toStdString();
  EXPECT_TRUE(BodyText(reply).contains(QStringLiteral("The roses go by the wall."))) << "the original is not quoted";
  Body(reply)->setFocus();
  QTest::keyClick(Body(reply), Qt::Key_Home, Qt::ControlModifier);
  TypeMore(Body(reply), QStringLiteral("Agreed.\n"));
  d.Shot("reply");
  Click(reply->btnSendNow());
  auto got = WaitForSmtp(d, 1);
  ASSERT_EQ(got.size(), 1u);
  ReadBack m = ReadWithPython(got[0].path);
  EXPECT_EQ(m.inReplyTo, "<plans-2@example.org>");
  EXPECT_NE(m.references.find("<plans-1@example.org>"), std::string::npos) << m.references;
  EXPECT_NE(m.references.find("<plans-2@example.org>"), std::string::npos) << m.references;
  EXPECT_NE(m.body.find("Agreed."), std::string::npos) << m.body;
  EXPECT_NE(m.body.find("The roses go by the wall."), std::string::npos) << m.body;
  EXPECT_EQ(SmtpRecipients(got[0]), "carol@example.org ");

  // Reply all: the sender, the other recipients and the copy, never the user's own address.
  if (!open || !open->isVisible() || open->ComposeHeaderShown()) {
    WaitUntil([&] { return !open || !open->isVisible(); }, 5000);
    viewer = OpenRow(d, d.GridRowOf(QStringLiteral("Garden plans")));
    ASSERT_NE(viewer, nullptr);
  }
  TfrmEdit* all = Answer(d, viewer, QStringLiteral("aReplyAll"));
  ASSERT_NE(all, nullptr) << "Reply all opened no composer";
  const QString people = all->edtTo()->text() + ", " + all->edtCc()->text();
  for (const char* who : {"carol@example.org", "dave@example.org", "erin@example.org"})
    EXPECT_TRUE(people.contains(QLatin1String(who))) << who << " missing from " << people.toStdString();
  EXPECT_FALSE(people.contains(QStringLiteral("alice@example.org"))) << people.toStdString();
  Click(all->btnSendNow());
  got = WaitForSmtp(d, 2);
  ASSERT_EQ(got.size(), 2u);
  const std::string rcpt = SmtpRecipients(got[1]);
  for (const char* who : {"carol@example.org", "dave@example.org", "erin@example.org"})
    EXPECT_NE(rcpt.find(who), std::string::npos) << rcpt;
  EXPECT_EQ(rcpt.find("alice@example.org"), std::string::npos) << rcpt;
  m = ReadWithPython(got[1].path);
  EXPECT_EQ(m.inReplyTo, "<plans-2@example.org>");
}

// Forward a received message with its attachment; the original stays as it was.
void ForwardWithAttachment(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  const std::string attachment = BinaryBytes();
  d.Dovecot().PutMessage(account.user, TextWithAttachment("alice@example.org", attachment));
  d.StartAsOwnAccountsUser(account);
  const int row = ReceiveAndFind(d, QStringLiteral("Minutes"));
  ASSERT_GE(row, 0);
  ASSERT_TRUE(EntryTitled(d.Documents(), "minutes.bin")) << d.IndexText(d.Documents());

  // The original as it was filed: its files and entries.
  std::map<std::string, std::string> filesBefore;
  for (const QString& f : QDir(QString::fromStdString(d.Documents())).entryList(QDir::Files | QDir::Hidden))
    if (!f.startsWith(QLatin1Char('.')) && f != QStringLiteral("Plumadex.ini"))
      filesBefore[f.toStdString()] = d.ReadDocument(f.toStdString());
  const auto indexBefore = ReadIndex(d.Documents());

  TfrmEdit* viewer = OpenRow(d, d.GridRowOf(QStringLiteral("Minutes")));
  ASSERT_NE(viewer, nullptr);
  TfrmEdit* fwd = Answer(d, viewer, QStringLiteral("aForward"));
  ASSERT_NE(fwd, nullptr) << "Forward opened no composer";
  EXPECT_EQ(fwd->edtSubject()->text(), QStringLiteral("Fwd: Minutes"));
  ASSERT_EQ(fwd->lstAttach()->count(), 1) << "the attachment was not carried over";
  EXPECT_TRUE(fwd->lstAttach()->item(0)->text().contains(QStringLiteral("minutes.bin")))
      << fwd->lstAttach()->item(0)->text().toStdString();
  Type(fwd->edtTo(), QStringLiteral("frank@example.net"));
  d.Shot("forward");
  Click(fwd->btnSendNow());
  const auto got = WaitForSmtp(d, 1);
  ASSERT_EQ(got.size(), 1u);
  const ReadBack m = ReadWithPython(got[0].path);
  ASSERT_EQ(m.attachments.size(), 1u) << "the forward went without its attachment";
  EXPECT_EQ(m.attachments[0].name, "minutes.bin");
  EXPECT_EQ(m.attachments[0].sha256, Sha256(attachment));

  // The original: the same files with the same bytes, its entries with the same keys; at most
  // its flags say it was forwarded, never pending or outgoing.
  for (const auto& [name, bytes] : filesBefore) EXPECT_EQ(d.ReadDocument(name), bytes) << name << " changed";
  const auto indexAfter = ReadIndex(d.Documents());
  for (const auto& [name, keys] : indexBefore) {
    auto it = indexAfter.find(name);
    ASSERT_NE(it, indexAfter.end()) << name << " lost its entry";
    for (const auto& [k, v] : keys) {
      if (QString::fromStdString(k).compare(QStringLiteral("Flags"), Qt::CaseInsensitive) == 0) continue;
      EXPECT_EQ(ValueOf(it->second, k.c_str()), v) << name << ": " << k;
    }
    EXPECT_FALSE(FlagsOf(it->second) & (store::dfPending | store::dfOutgoing)) << name << " became outgoing";
  }
}

// A draft is saved, its window closed, and it opens again as it was left.
void DraftSaveCloseReopen(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  d.StartAsOwnAccountsUser(account);
  TfrmEdit* w = NewMessage(d, Way::MenuBar);
  ASSERT_NE(w, nullptr) << "no message window";
  Type(w->edtTo(), QStringLiteral("henry@example.net"));
  Type(w->edtSubject(), QStringLiteral("Unfinished thoughts"));
  TypeBody(w, QStringLiteral("To be continued tomorrow."));
  QPointer<TfrmEdit> first(w);
  Click(w->btnSaveDraft());
  EXPECT_TRUE(WaitUntil([&] { return !first || !first->isVisible(); }, 5000)) << "the window stays open";

  int row = -1;
  ASSERT_TRUE(WaitUntil([&] { return (row = d.GridRowOf(QStringLiteral("Unfinished thoughts"))) >= 0; }, 10000))
      << d.IndexText(d.Documents());
  auto entry = EntryTitled(d.Documents(), "Unfinished thoughts");
  ASSERT_TRUE(entry.has_value());
  EXPECT_TRUE(FlagsOf(entry->second) & store::dfDraft) << entry->first;
  EXPECT_TRUE(d.Smtp().Messages().empty()) << "a draft is not sent";

  TfrmEdit* again = OpenRow(d, row);
  ASSERT_NE(again, nullptr) << "the draft did not open";
  EXPECT_TRUE(again->edtTo()->isVisible()) << "the draft opens for editing";
  EXPECT_TRUE(again->edtTo()->text().contains(QStringLiteral("henry@example.net"))) << again->edtTo()->text().toStdString();
  EXPECT_EQ(again->edtSubject()->text(), QStringLiteral("Unfinished thoughts"));
  EXPECT_TRUE(BodyText(again).contains(QStringLiteral("To be continued tomorrow."))) << BodyText(again).toStdString();
  d.Shot("draft-reopened");
  CloseWindow(d, again);
}

// A mailto link clicked in another program while the desk runs: the second start hands it over.
void MailtoWhileRunning(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  d.StartAsOwnAccountsUser(account);
  const auto before = d.MessageWindows();
  QProcess second;
  second.setProgram(QStringLiteral(PX_BINARY_DIR "/src/plumadex"));
  second.setArguments({QStringLiteral("mailto:gina@example.org?subject=Lunch&body=Noon%3F")});
  second.setProcessChannelMode(QProcess::ForwardedChannels);
  second.start();
  TfrmEdit* w = d.WaitForNewMessageWindow(before, 20000);
  EXPECT_TRUE(WaitUntil([&] { return second.state() == QProcess::NotRunning; }, 10000));
  EXPECT_EQ(second.exitCode(), 0);
  ASSERT_NE(w, nullptr) << "the running desk opened no message window";
  EXPECT_TRUE(w->edtTo()->text().contains(QStringLiteral("gina@example.org")));
  EXPECT_EQ(w->edtSubject()->text(), QStringLiteral("Lunch"));
  EXPECT_TRUE(BodyText(w).contains(QStringLiteral("Noon?")));
  // From is one of the user's identities, never the link's recipient.
  EXPECT_TRUE(w->cbFrom()->currentText().contains(QStringLiteral("alice@example.org")))
      << w->cbFrom()->currentText().toStdString();
  // In front of the desk, with the keyboard.
  EXPECT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == w; }, 5000))
      << "the message window stays behind the desk";
  d.Shot("mailto");
  CloseWindow(d, w);
}

// A wrong POP3 password: said as such, asked again; with the right one the mail comes in.
void WrongThenRightPassword(JourneyDesk& d) {
  OwnAccount account = d.MakeOwnAccount("alice@example.org");
  account.typedPassword = "not-the-password";
  d.Dovecot().PutMessage(account.user, TextWithAttachment("alice@example.org", "x"));
  d.StartAsOwnAccountsUser(account);

  bool asked = false;
  d.user.ExpectDialog(QStringLiteral("frmPassword"), [&, account](QWidget* w) {
    asked = true;
    auto* dlg = static_cast<desk::TfrmPassword*>(w);
    // Told apart from an outage: the question says the password was refused.
    EXPECT_TRUE(dlg->lblPrompt->text().contains(QStringLiteral("refused"))) << dlg->lblPrompt->text().toStdString();
    d.Shot("password-asked");
    Type(dlg->edtPassword, QString::fromStdString(account.password));
    if (!dlg->chkSavePassword->isChecked()) Click(dlg->chkSavePassword);
    Press(dlg->edtPassword, Qt::Key_Return);
  });
  const int row = ReceiveAndFind(d, QStringLiteral("Minutes"));
  EXPECT_TRUE(asked) << "the password was not asked again";
  EXPECT_GE(row, 0);
  for (const QString& text : d.user.Messages())
    EXPECT_FALSE(text.contains(QStringLiteral("Cannot connect"))) << "read as an outage: " << text.toStdString();
  EXPECT_FALSE(d.StatusText().contains(QStringLiteral("Connecting"))) << d.StatusText().toStdString();
  // The right password was saved: the next run asks nothing.
  d.RunTransfer(QStringLiteral("actReceive"));
}

// Someone moving from Thunderbird: File > Import... finds the profile in their home, imports its
// mail, address book and accounts; the mail is filed into folders like the profile's, read
// state and attachments kept, the people are contacts and the list a group.
void ImportFromThunderbird(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  const std::string home = d.home() + "person/";
  const test::ThunderbirdProfile tb = test::MakeThunderbirdProfile(home);
  // The import looks in the person's home folder.
  const QByteArray oldHome = qgetenv("HOME");
  qputenv("HOME", QByteArray::fromStdString(home));
  struct RestoreHome {
    QByteArray value;
    ~RestoreHome() { qputenv("HOME", value); }
  } restoreHome{oldHome};
  d.StartAsOwnAccountsUser(account);

  d.user.ExpectDialog(QStringLiteral("frmImport"), [&](QWidget* w) {
    auto* dlg = static_cast<import::ui::TfrmImport*>(w);
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Import to Plumadex"));
    // Mail, contacts and accounts of the profile, all ticked; the one usable account offered.
    EXPECT_EQ(dlg->lstImport->count(), 3);
    for (int i = 0; i < dlg->lstImport->count(); ++i) EXPECT_EQ(dlg->lstImport->item(i)->checkState(), Qt::Checked);
    EXPECT_EQ(dlg->lstAccounts->count(), 1);
    d.Shot("import-window");
    Click(dlg->btnImport);
  });
  d.user.ExpectMessage(QStringLiteral("Imported 4 messages, 3 contacts and 1 account"));
  ASSERT_TRUE(ClickMenuBarAction(d, QStringLiteral("actImport"))) << "no \"Import...\" in the desk's menu bar";
  ASSERT_TRUE(WaitUntil([&] { return d.user.Done(); }, 30000)) << d.user.Pending().join("; ").toStdString();

  // Filed after the window closed: the folders of the profile under Imported/thunderbird.
  const std::string local = d.Documents() + "Imported/thunderbird/Local Folders/";
  const std::string inbox = local + "Inbox/";
  EXPECT_TRUE(WaitUntil(
      [&] {
        return EntryTitled(inbox, "Oven plans") && EntryTitled(inbox, "Harvest festival") &&
               EntryTitled(inbox + "Projects/", "Roof repair") && EntryTitled(local + "Drafts/", "Draft reply");
      },
      30000))
      << d.IndexText(inbox);
  // Read in Thunderbird: read here; unread there: unread here.
  if (auto e = EntryTitled(inbox, "Harvest festival")) EXPECT_FALSE(FlagsOf(e->second) & store::dfUnread);
  if (auto e = EntryTitled(inbox, "Oven plans")) EXPECT_TRUE(FlagsOf(e->second) & store::dfUnread);
  // The attachment came along with its bytes.
  bool attachment = false;
  for (const QFileInfo& f : QDir(QString::fromStdString(inbox)).entryInfoList(QDir::Files, QDir::Name))
    if (f.fileName().contains(QStringLiteral("oven-plans")))
      attachment = attachment || test::readFile(f.filePath().toStdString()).find("Bricks: 200") != std::string::npos;
  EXPECT_TRUE(attachment) << d.IndexText(inbox);
  // Nothing outside the target; the "From " line of the body unquoted.
  EXPECT_FALSE(QDir(QString::fromStdString(d.Documents() + "Outside")).exists());

  // The people are contacts, the list a group of two; one account is waiting to be set up.
  const std::string contacts = d.state().locations.contacts;
  for (const char* who : {"Lopez", "Brandt", "Chen"}) EXPECT_TRUE(EntryTitled(contacts, who)) << who << d.IndexText(contacts);
  EXPECT_TRUE(QDir(QString::fromStdString(contacts + "Book Club")).exists());
  EXPECT_EQ(transport::AccountNames(d.state().settings), (std::vector<std::string>{"alice@example.org", "fred@example.org"}));

  // In the desk: the imported Inbox shows the two messages, the unread one bold.
  desk::TPXTreeView* tree = nullptr;
  for (auto* t : d.window().findChildren<desk::TPXTreeView*>())
    if (t->isVisible()) tree = t;
  ASSERT_NE(tree, nullptr);
  auto* model = static_cast<desk::FolderTreeModel*>(tree->model());
  desk::TreeNode* node = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (node = model->FindNode(inbox, true)) != nullptr; }, 10000)) << [&] {
    std::string r;
    desk::TreeNode* root = model->NodeOf(model->index(0, 0));
    if (root) { r = root->path + ":"; for (auto& c : root->children) r += " " + c->path; }
    return r;
  }();
  const QModelIndex index = model->IndexOf(node);
  tree->scrollTo(index);
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualRect(index).center());
  int row = -1;
  EXPECT_TRUE(WaitUntil([&] { return (row = d.GridRowOf(QStringLiteral("Oven plans"))) >= 0; }, 15000));
  if (row >= 0) EXPECT_TRUE(d.GridRowBold(row));
  EXPECT_GE(d.GridRowOf(QStringLiteral("Harvest festival")), 0);
  d.Shot("imported");
}

// Chooses a command from the desk's menu bar as a person does: the menu, then its entry.
bool ChooseFromMenu(JourneyDesk& d, const QString& menuName, const QString& actionName) {
  auto* bar = Named<QMenuBar>(&d.window(), QStringLiteral("mnuDesk"));
  auto* menu = Named<QMenu>(&d.window(), QStringLiteral("mnu") + menuName);
  if (!bar || !menu) return false;
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(menu->menuAction()).center());
  if (!WaitUntil([&] { return menu->isVisible(); }, 3000)) return false;
  for (QAction* a : menu->actions())
    if (a->objectName() == actionName) {
      if (!a->isEnabled()) {
        menu->close();
        return false;
      }
      ClickMenuAction(menu, a);
      return true;
    }
  menu->close();
  return false;
}

// "Mail from the bank goes to Finance": the rule made in the rules window, then a receive
// run files the bank's statement there and leaves the rest in the documents folder.
void SortBankMailIntoFinance(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  d.Dovecot().PutMessage(account.user, test::MakeMessage("Your statement", "<st@bank.example>", "Balance: 10\r\n",
                                                         "Bank <news@bank.example>"));
  d.Dovecot().PutMessage(account.user, test::MakeMessage("Lunch?", "<l@x>", "At noon\r\n", "Bob <bob@example.org>"));
  d.StartAsOwnAccountsUser(account);
  const std::string finance = d.Documents() + "Finance/";
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(finance)));

  // The rules window: a new rule "Bank", moving mail from the bank into Finance.
  d.user.ExpectDialog(QStringLiteral("frmMailSort"), [&](QWidget* window) {
    auto* w = static_cast<incoming::TfrmMailSort*>(window);
    Click(w->btnNew);
    Type(w->edtName, QStringLiteral("Bank"));
    Click(w->btnRename);
    w->cbAction->setCurrentIndex(1);  // "moved to folder"
    Type(w->edtFolder, QString::fromStdString(finance));
    Press(w->edtFolder, Qt::Key_Tab);
    Click(w->cbField[0]);  // From:
    Type(w->edtValue, QStringLiteral("news@bank.example"));
    Click(w->btnAddCondition);
    EXPECT_EQ(w->lstConditions->count(), 1);
    if (w->lstConditions->count() == 1)
      EXPECT_EQ(w->lstConditions->item(0)->text(), QStringLiteral("\"From\" includes \"news@bank.example\""));
    d.Shot("rule");
    Click(w->btnClose);
  });
  ASSERT_TRUE(ChooseFromMenu(d, QStringLiteral("Mail"), QStringLiteral("actMailSortRules")));
  ASSERT_TRUE(WaitUntil([&] { return d.user.Done() && !Named<incoming::TfrmMailSort>(nullptr, QStringLiteral("frmMailSort")); }, 20000))
      << "the rules window did not come and go";
  ASSERT_NE(d.state().sortRules->File(), "");
  EXPECT_NE(test::readFile(d.state().sortRules->File()).find("Bank|OM " + finance + "|F < news@bank.example"),
            std::string::npos)
      << test::readFile(d.state().sortRules->File());

  d.RunTransfer(QStringLiteral("actReceive"));
  EXPECT_TRUE(WaitUntil([&] { return EntryTitled(finance, "Your statement").has_value(); }, 20000))
      << "the statement is not in Finance: " << d.IndexText(finance);
  EXPECT_FALSE(EntryTitled(d.Documents(), "Your statement").has_value());
  EXPECT_TRUE(EntryTitled(d.Documents(), "Lunch?").has_value()) << d.IndexText(d.Documents());

  // Quick sort: Bob's message, from its context menu, into Finance too. The rule moving mail
  // there takes Bob as a second sender, and the rules window opens on it.
  int lunch = -1;
  ASSERT_TRUE(WaitUntil([&] { return (lunch = d.GridRowOf(QStringLiteral("Lunch?"))) >= 0; }, 10000));
  d.user.ExpectMenuAction(QStringLiteral("aSortMail"));
  d.user.Expect(
      QStringLiteral("folder chooser"),
      [](QWidget* w) { return w->findChild<QTreeView*>(QStringLiteral("tvwFolders")) != nullptr; },
      [&](QWidget* w) {
        auto* tree = w->findChild<QTreeView*>(QStringLiteral("tvwFolders"));
        QAbstractItemModel* m = tree->model();
        const QModelIndex root = m->index(0, 0);
        tree->expand(root);
        QModelIndex target;
        WaitUntil(
            [&] {
              if (m->canFetchMore(root)) m->fetchMore(root);
              for (int r = 0; r < m->rowCount(root); ++r)
                if (m->index(r, 0, root).data().toString().startsWith(QStringLiteral("Finance"))) target = m->index(r, 0, root);
              return target.isValid();
            },
            5000);
        EXPECT_TRUE(target.isValid()) << "no Finance in the folder chooser";
        tree->setCurrentIndex(target);
        d.Shot("sort-into");
        Click(w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
      });
  d.user.ExpectMessage(QStringLiteral("Incoming messages from bob@example.org will be placed into the folder 'Finance'"));
  d.user.ExpectDialog(QStringLiteral("frmMailSort"), [&](QWidget* window) {
    auto* w = static_cast<incoming::TfrmMailSort*>(window);
    EXPECT_TRUE(w->lstRules->currentItem() && w->lstRules->currentItem()->text() == QStringLiteral("Bank"));
    EXPECT_EQ(w->lstConditions->count(), 2);
    d.Shot("quick-sort-rule");
    Click(w->btnClose);
  });
  d.RightClickGridRow(lunch);
  EXPECT_TRUE(WaitUntil([&] { return d.user.Done(); }, 30000)) << "never came: " << d.user.Pending().join("; ").toStdString();
  EXPECT_NE(test::readFile(d.state().sortRules->File()).find("|F < news@bank.example|F < bob@example.org"),
            std::string::npos)
      << test::readFile(d.state().sortRules->File());

  // Apply Rules Now on the documents folder: Bob's message, already here, goes to Finance too.
  d.user.ExpectMessage(QStringLiteral("Messages copied: 0, moved: 1, moved to the Trash Bin: 0."));
  ASSERT_TRUE(ChooseFromMenu(d, QStringLiteral("Mail"), QStringLiteral("actApplyRules")));
  EXPECT_TRUE(WaitUntil([&] { return d.user.Done(); }, 20000)) << "never came: " << d.user.Pending().join("; ").toStdString();
  EXPECT_TRUE(EntryTitled(finance, "Lunch?").has_value()) << d.IndexText(finance);
  EXPECT_FALSE(EntryTitled(d.Documents(), "Lunch?").has_value());
  EXPECT_TRUE(WaitUntil([&] { return d.GridRowOf(QStringLiteral("Lunch?")) < 0; }, 5000)) << "the grid still shows it";
}

// 500 messages wait on the server: the preview lists them without downloading any, the spam is
// deleted there before anything is fetched, and one chosen message is received.
void PreviewAndDeleteSpam(JourneyDesk& d) {
  const OwnAccount account = d.MakeOwnAccount("alice@example.org");
  for (int i = 1; i <= 500; ++i) {
    const bool spam = i % 25 == 0;
    const std::string n = std::to_string(i);
    d.Dovecot().PutMessage(account.user,
                           test::MakeMessage(spam ? "WIN BIG " + n : "Note " + n, "<m" + n + "@x>", "text " + n + "\r\n",
                                             spam ? "Prize <spam@bad.example>" : "Bob <bob@example.org>"));
  }
  d.StartAsOwnAccountsUser(account);
  // The window, once the listing has run: the spam deleted first, then one message received.
  bool walked = false;
  d.user.ExpectDialog(QStringLiteral("frmMailPreview"), [&](QWidget* window) {
    auto* w = static_cast<incoming::TfrmMailPreview*>(window);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Plumadex Mail"));
    EXPECT_EQ(w->tabAccounts->count(), 1);
    EXPECT_EQ(w->tabAccounts->tabText(0), QStringLiteral("  alice@example.org  "));
    EXPECT_EQ(w->lstMessages->topLevelItemCount(), 500);
    EXPECT_EQ(d.Dovecot().Messages(account.user).size(), 500u);
    EXPECT_FALSE(EntryTitled(d.Documents(), "Note 1").has_value()) << "nothing is downloaded to be previewed";

    // Only the spam ticked, then deleted (the window asks first).
    Click(w->btnUnselectAll);
    EXPECT_FALSE(w->btnDelete->isEnabled());
    for (int r = 0; r < w->lstMessages->topLevelItemCount(); ++r) {
      QTreeWidgetItem* it = w->lstMessages->topLevelItem(r);
      if (it->text(1).startsWith(QStringLiteral("WIN BIG"))) it->setCheckState(0, Qt::Checked);
    }
    d.Shot("preview");
    d.user.ExpectMessage(QStringLiteral("Delete selected messages from server?"), QMessageBox::Yes);
    Click(w->btnDelete);
    EXPECT_TRUE(WaitUntil([&] { return w->lstMessages->topLevelItemCount() == 480 && w->btnSelectAll->isEnabled(); }, 15000))
        << w->lstMessages->topLevelItemCount();
    const auto left = d.Dovecot().Messages(account.user);
    EXPECT_EQ(left.size(), 480u);
    for (const auto& m : left) EXPECT_EQ(m.find("WIN BIG"), std::string::npos);

    // One message received from the list: it is filed; the others stay on the server.
    for (int r = 0; r < w->lstMessages->topLevelItemCount(); ++r) {
      QTreeWidgetItem* it = w->lstMessages->topLevelItem(r);
      if (it->text(1) == QStringLiteral("Note 7")) it->setCheckState(0, Qt::Checked);
    }
    Click(w->btnReceive);
    EXPECT_TRUE(WaitUntil([&] { return w->lstMessages->topLevelItemCount() == 479 && w->btnSelectAll->isEnabled(); }, 15000));
    d.Shot("received");
    Click(w->btnClose);
    walked = true;
  });
  ASSERT_TRUE(ChooseFromMenu(d, QStringLiteral("Mail"), QStringLiteral("actPreviewMail")));
  ASSERT_TRUE(WaitUntil([&] { return walked && !Named<incoming::TfrmMailPreview>(nullptr, QStringLiteral("frmMailPreview")); }, 90000))
      << "the preview window did not come and go: " << d.user.Messages().join(" | ").toStdString();
  EXPECT_TRUE(WaitUntil([&] { return EntryTitled(d.Documents(), "Note 7").has_value(); }, 20000))
      << d.IndexText(d.Documents());
  EXPECT_FALSE(EntryTitled(d.Documents(), "Note 8").has_value());
  EXPECT_EQ(d.Dovecot().Messages(account.user).size(), 479u);
}

// A journey that needs work still under way names it: it is skipped with that reason (set
// PLUMADEX_JOURNEYS_ALL=1 to walk it anyway).
struct Journey {
  const char* name;
  void (*walk)(JourneyDesk&);
  const char* waitingFor = nullptr;
  friend void PrintTo(const Journey& j, std::ostream* os) { *os << j.name; }
};

const Journey kJourneys[] = {
    {"SendThroughOwnSmtp", SendThroughOwnSmtp},
    {"SendThroughService", SendThroughService},
    {"ReceiveAndOpen", ReceiveAndOpen},
    {"ReceiveOverImap", ReceiveOverImap},
    {"ReplyAndReplyAll", ReplyAndReplyAll},
    {"ForwardWithAttachment", ForwardWithAttachment},
    {"DraftSaveCloseReopen", DraftSaveCloseReopen},
    {"MailtoWhileRunning", MailtoWhileRunning},
    {"WrongThenRightPassword", WrongThenRightPassword},
    {"ImportFromThunderbird", ImportFromThunderbird},
    {"SortBankMailIntoFinance", SortBankMailIntoFinance},
    {"PreviewAndDeleteSpam", PreviewAndDeleteSpam},
};

class Journeys : public ::testing::TestWithParam<Journey> {};

TEST_P(Journeys, Walk) {
  if (GetParam().waitingFor && !qEnvironmentVariableIsSet("PLUMADEX_JOURNEYS_ALL"))
    GTEST_SKIP() << "waiting for: " << GetParam().waitingFor;
  JourneyDesk d;
  GetParam().walk(d);
  if (::testing::Test::IsSkipped()) return;
  EXPECT_TRUE(d.user.Done()) << "never came: " << d.user.Pending().join("; ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Desk, Journeys, ::testing::ValuesIn(kJourneys),
                         [](const ::testing::TestParamInfo<Journey>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace px::journeys
