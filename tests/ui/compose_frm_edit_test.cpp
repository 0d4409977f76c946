// The message window over a real folder: reading plain and HTML mail, replying, forwarding,
// drafts that are reopened and sent later, links, drops and closing.
#include "compose/ui/frm_edit.h"
#include "compose/ui/mail_web_view.h"
#include "compose/ui/message_windows.h"
#include "foundation/message_queue.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "mailformat/mhtml_writer.h"
#include "store/doc_record.h"
#include "store/index_file.h"
#include "support/test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <gtest/gtest.h>

namespace px::compose::ui {
namespace {

// Set before the application starts: CI runs the tests as root, where Chromium's sandbox
// cannot start. Only the tests switch it off; the program keeps it.
const bool kSandboxOff = [] {
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
  return true;
}();

// Runs the event loop until `done` holds or `ms` have passed.
template <typename F>
bool WaitFor(F done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(10);
  }
  return true;
}

struct ComposeWindowTest : ::testing::Test {
  px::test::TempHome home;
  std::string docs, temp;
  store::IniRegistry registry;
  MessageQueue messages;
  Settings settings;
  std::unique_ptr<TPXIniBase> sent;
  std::vector<QUrl> opened;
  std::vector<QString> asked;
  int answer = QMessageBox::No;
  std::vector<std::string> sendRuns;
  std::unique_ptr<MessageWindows> windows;

  void SetUp() override {
    docs = home.path("Documents/");
    temp = home.path("tmp/");
    px::test::makeDirs(docs + "Mail");
    px::test::makeDirs(temp);
    px::test::makeDirs(home.path("data"));
    settings.SetID("me");
    settings.SetName("Me");
    settings.SetMessageFormat(1);
    sent = std::make_unique<TPXIniBase>(home.path("data/sent.ini"));
    MessageWindowsConfig cfg;
    cfg.settings = &settings;
    cfg.messages = &messages;
    cfg.opServices.registry = &registry;
    cfg.opServices.sent = sent.get();
    cfg.tempFolder = temp;
    cfg.dataRoot = home.path("data/");
    cfg.documentsFolder = docs;
    cfg.sendNow = [this](const std::string& base) { sendRuns.push_back(base); };
    cfg.openUrl = [this](const QUrl& u) { opened.push_back(u); };
    cfg.ask = [this](const QString& text, bool) {
      asked.push_back(text);
      return answer;
    };
    windows = std::make_unique<MessageWindows>(std::move(cfg));
  }
  void TearDown() override {
    std::vector<QPointer<TfrmEdit>> left;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* f = qobject_cast<TfrmEdit*>(w)) left.emplace_back(f);
    for (auto& f : left) delete f.data();
    windows.reset();
  }
  void Entry(const std::string& folder, const std::string& name, const std::string& bytes, const StringList& keys) {
    px::test::writeFile(folder + name, bytes);
    store::TPXIniFile ini(registry, store::IndexPathOf(folder));
    for (const auto& k : keys) {
      const size_t eq = k.find('=');
      ini.WriteString(name, k.substr(0, eq), k.substr(eq + 1));
    }
    EXPECT_TRUE(ini.Release().ok());
  }
  std::string Value(const std::string& folder, const std::string& section, const std::string& key) {
    store::TPXIniFile ini(registry, store::IndexPathOf(folder));
    return ini.ReadString(section, key, "<none>");
  }
  StringList Sections(const std::string& folder) {
    store::TPXIniFile ini(registry, store::IndexPathOf(folder));
    StringList s;
    ini.ReadSections(s);
    return s;
  }
  std::string Received(const std::string& name = "hello.txt") {
    const std::string folder = docs + "Mail/";
    Entry(folder, name, "Hello Ann,\r\n> earlier words\r\nsee https://example.org/x\r\n",
          {"Title=hello", "Flags=4609", "Address=\"Ann\" <ann@x.org>", "To=me, bob@x.org", "Cc=carl@x.org",
           "Sent=Thu, 10 Dec 2026 10:00:00 +0000", "MsgID=20261210100000000123:001/001"});
    return folder;
  }
};

TEST_F(ComposeWindowTest, ReadsPlainMailWithItsHeaderLinesAndRepliesToAll) {
  const std::string folder = Received();
  TfrmEdit* w = windows->OpenDocument(folder, "hello.txt");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Mode(), emTextViewer);
  EXPECT_TRUE(w->txtText()->isReadOnly());
  EXPECT_TRUE(w->pnlInfo()->isVisible());
  EXPECT_TRUE(w->action(QStringLiteral("aReplyAll"))->isVisible());
  EXPECT_FALSE(w->ComposeHeaderShown());
  EXPECT_TRUE(w->txtText()->toPlainText().startsWith(QStringLiteral("Hello Ann,")));

  w->Reply(true);
  EXPECT_TRUE(w->ComposeHeaderShown());
  EXPECT_EQ(w->Mode(), emTextEditor);
  EXPECT_EQ(w->edtTo()->text(), QStringLiteral("\"Ann\" <ann@x.org>, bob@x.org"));
  EXPECT_EQ(w->edtCc()->text(), QStringLiteral("carl@x.org"));
  EXPECT_EQ(w->edtSubject()->text(), QStringLiteral("Re: hello"));
  const QString body = w->txtText()->toPlainText();
  EXPECT_TRUE(body.contains(QStringLiteral("> From: \"Ann\" <ann@x.org>"))) << body.toStdString();
  EXPECT_TRUE(body.contains(QStringLiteral(">> earlier words"))) << body.toStdString();
  EXPECT_TRUE(w->btnSendLater()->isEnabled());

  w->btnSendLater()->click();
  ASSERT_TRUE(WaitFor([&] { return !windows->Filed().empty(); }));
  const FiledMessage& m = windows->Filed().back();
  ASSERT_TRUE(m.ok);
  ASSERT_EQ(m.documents.size(), 1u);
  EXPECT_EQ(m.documents[0], "Re_ hello.txt");
  EXPECT_EQ(Value(folder, m.documents[0], "Flags"), "9216");
  EXPECT_EQ(Value(folder, m.documents[0], "Original"), "R," + folder + "hello.txt");
  EXPECT_EQ(Value(folder, m.documents[0], "Charset"), "US-ASCII");
  EXPECT_TRUE(sendRuns.empty());
  // The original is untouched.
  EXPECT_EQ(px::test::readFile(folder + "hello.txt").substr(0, 10), "Hello Ann,");
}

TEST_F(ComposeWindowTest, ForwardKeepsTheOtherPartsAndSendNowStartsARun) {
  const std::string folder = Received();
  Entry(folder, "pic.png", "PNG", {"Flags=4097", "MsgID=20261210100000000123:002/002"});
  {
    store::TPXIniFile ini(registry, store::IndexPathOf(folder));
    ini.WriteString("hello.txt", "MsgID", "20261210100000000123:001/002");
    EXPECT_TRUE(ini.Release().ok());
  }
  TfrmEdit* w = windows->OpenDocument(folder, "hello.txt");
  ASSERT_NE(w, nullptr);
  w->Forward();
  EXPECT_EQ(w->edtTo()->text(), QString());
  EXPECT_EQ(w->edtSubject()->text(), QStringLiteral("Fwd: hello"));
  ASSERT_EQ(w->lstAttach()->count(), 1);
  EXPECT_EQ(w->lstAttach()->item(0)->text(), QStringLiteral("pic.png"));
  EXPECT_FALSE(w->btnSendLater()->isEnabled());
  w->edtTo()->setText(QStringLiteral("dan@x.org"));
  emit w->edtTo()->textEdited(w->edtTo()->text());
  EXPECT_TRUE(w->btnSendNow()->isEnabled());
  w->btnSendNow()->click();
  ASSERT_TRUE(WaitFor([&] { return !windows->Filed().empty(); }));
  const FiledMessage& m = windows->Filed().back();
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.documents.size(), 2u);
  EXPECT_EQ(sendRuns, (std::vector<std::string>{m.seriesBase}));
}

TEST_F(ComposeWindowTest, ClosingAModifiedMessageAsksAndCancelKeepsIt) {
  TfrmEdit* w = windows->NewMessage(docs + "Mail/");
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->ComposeHeaderShown());
  w->txtText()->setFocus();
  QTest::keyClicks(w->txtText(), "draft text");
  answer = QMessageBox::Cancel;
  EXPECT_FALSE(w->close());
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], QStringLiteral("Save changes"));
  answer = QMessageBox::Yes;  // queued as with Send Later: without To a draft
  w->close();
  ASSERT_TRUE(WaitFor([&] { return !windows->Filed().empty(); }));
  const FiledMessage& m = windows->Filed().back();
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(Value(m.folder, m.documents[0], "Flags"), std::to_string(0x6400));
}

TEST_F(ComposeWindowTest, MailtoOpensAFilledInMessage) {
  TfrmEdit* w = windows->NewMessage(docs, "mailto:ann@x.org?cc=bob@x.org&subject=Plans%20for%20May&body=Hi%0AAnn");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->edtTo()->text(), QStringLiteral("ann@x.org"));
  EXPECT_EQ(w->edtCc()->text(), QStringLiteral("bob@x.org"));
  EXPECT_EQ(w->edtSubject()->text(), QStringLiteral("Plans for May"));
  EXPECT_TRUE(w->txtText()->toPlainText().startsWith(QStringLiteral("Hi\nAnn")));
  EXPECT_EQ(w->windowTitle(), QStringLiteral("New message in Documents"));
}

TEST_F(ComposeWindowTest, DraftReopenedAndSentLaterReplacesTheOldVersion) {
  settings.SetMessageFormat(0);  // HTML
  const std::string folder = docs + "Mail/";
  const std::string pic = temp + "dot.png";
  {
    QImage img(4, 4, QImage::Format_RGB32);
    img.fill(Qt::red);
    img.save(QString::fromStdString(pic));
  }
  px::test::writeFile(temp + "notes.pdf", "%PDF-1.4");
  TfrmEdit* w = windows->NewMessage(folder);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Mode(), emHtmlEditor);
  w->htmlEdit()->setFocus();
  QTest::keyClicks(w->htmlEdit(), "Picture below");
  w->HtmlWrap()->InsertImage(pic);
  w->AttachFiles({QString::fromStdString(temp + "notes.pdf")});
  w->edtSubject()->setText(QStringLiteral("Spring"));
  w->btnSaveDraft()->click();
  ASSERT_TRUE(WaitFor([&] { return !windows->Filed().empty(); }));
  const FiledMessage first = windows->Filed().back();
  ASSERT_TRUE(first.ok);
  ASSERT_EQ(first.documents.size(), 2u);
  EXPECT_EQ(first.documents[0], "Spring.eml");
  const std::string eml = px::test::readFile(folder + "Spring.eml");
  EXPECT_NE(eml.find("multipart/related"), std::string::npos);
  EXPECT_NE(eml.find("Content-ID: <"), std::string::npos);
  EXPECT_EQ(Value(folder, "Spring.eml", "Flags"), std::to_string(0x6400));

  // Reopened from the grid: a pending message comes back as a composer with its recipients.
  TfrmEdit* again = windows->OpenDocument(folder, "Spring.eml");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->ComposeHeaderShown());
  EXPECT_EQ(again->Mode(), emHtmlEditor);
  EXPECT_TRUE(again->htmlEdit()->toPlainText().contains(QStringLiteral("Picture below")));
  again->edtTo()->setText(QStringLiteral("ann@x.org"));
  emit again->edtTo()->textEdited(again->edtTo()->text());
  ASSERT_EQ(again->lstAttach()->count(), 1);
  again->btnSendLater()->click();
  ASSERT_TRUE(WaitFor([&] { return windows->Filed().size() == 2u; }));
  const FiledMessage second = windows->Filed().back();
  ASSERT_TRUE(second.ok);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder + "Spring.eml")));
  EXPECT_EQ(Value(folder, second.documents[0], "Flags"), "9216");
  EXPECT_EQ(Value(folder, second.documents[0], "Address"), "ann@x.org");
  EXPECT_EQ(second.documents[1], first.documents[1]);  // the attachment is reused, not copied again
}

TEST_F(ComposeWindowTest, DroppedFilesBecomeAttachments) {
  TfrmEdit* w = windows->NewMessage(docs);
  ASSERT_NE(w, nullptr);
  px::test::writeFile(temp + "a.txt", "a");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(temp + "a.txt"))});
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w->txtText()->viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w->txtText()->viewport(), &drop);
  ASSERT_EQ(w->lstAttach()->count(), 1);
  EXPECT_EQ(w->lstAttach()->item(0)->text(), QStringLiteral("a.txt"));
}

TEST_F(ComposeWindowTest, LinksGoThroughTheCheck) {
  const std::string folder = Received();
  TfrmEdit* w = windows->OpenDocument(folder, "hello.txt");
  ASSERT_NE(w, nullptr);
  w->OpenLink(QUrl(QStringLiteral("https://example.org/x")), QStringLiteral("https://example.org/x"));
  w->OpenLink(QUrl(QStringLiteral("tel:+1234")), {});
  w->OpenLink(QUrl(QStringLiteral("javascript:alert(1)")), {});
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://example.org/x")));
  ASSERT_EQ(asked.size(), 1u);  // tel: asked, the answer was No
  answer = QMessageBox::Yes;
  w->OpenLink(QUrl(QStringLiteral("https://evil.example.net/")), QStringLiteral("https://bank.example.org/"));
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(opened.size(), 2u);
}

TEST_F(ComposeWindowTest, PrintsTextMessagesAndComposedHtmlToPdf) {
  const std::string folder = Received();
  settings.SetMessageFormat(0);  // replies in HTML
  TfrmEdit* w = windows->OpenDocument(folder, "hello.txt");
  ASSERT_NE(w, nullptr);
  const QString pdf = QString::fromStdString(temp + "hello.pdf");
  ASSERT_TRUE(w->ExportPdf(pdf));
  EXPECT_EQ(px::test::readFile(temp + "hello.pdf").substr(0, 5), "%PDF-");
  w->Reply(false);
  ASSERT_EQ(w->Mode(), emHtmlEditor);
  ASSERT_TRUE(w->ExportPdf(QString::fromStdString(temp + "reply.pdf")));
}

TEST_F(ComposeWindowTest, HtmlMailBlocksRemoteContentUntilAllowed) {
  const std::string folder = docs + "Mail/";
  Entry(folder, "news.htm",
        "<html><head><meta charset=\"windows-1251\"></head><body><p>\xCF\xF0\xE8\xE2\xE5\xF2</p>"
        "<img src=\"http://127.0.0.1:9/pixel.gif\"><a href=\"https://example.org/\">site</a></body></html>",
        {"Title=News", "Flags=4609", "Address=news@x.org", "To=me", "Charset=windows-1251"});
  TfrmEdit* w = windows->OpenDocument(folder, "news.htm");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Mode(), emHtmlViewer);
  ASSERT_TRUE(WaitFor([&] { return w->webView()->LoadFinished(); }, 30000));
  ASSERT_TRUE(WaitFor([&] { return w->RemoteContentBarShown(); }, 10000));
  EXPECT_GE(w->webView()->BlockedRequests(), 1);
  EXPECT_FALSE(w->webView()->RemoteAllowed());
  EXPECT_EQ(w->webView()->ShownTextOf(QUrl(QStringLiteral("https://example.org/"))), QStringLiteral("site"));
  w->AllowRemoteContent();
  EXPECT_TRUE(w->webView()->RemoteAllowed());
  EXPECT_FALSE(w->RemoteContentBarShown());

  // Reply to it quotes the text decoded once.
  settings.SetMessageFormat(1);
  TfrmEdit* r = windows->OpenDocument(folder, "news.htm");
  ASSERT_NE(r, nullptr);
  r->Reply(false);
  EXPECT_TRUE(r->txtText()->toPlainText().contains(QString::fromUtf8("> \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82")))
      << r->txtText()->toPlainText().toStdString();
}

}  // namespace
}  // namespace px::compose::ui
