// The message window over a real folder: reading plain and HTML mail, replying, forwarding,
// drafts that are reopened and sent later, links, drops and closing.
#include "compose/ui/frm_edit.h"
#include "compose/ui/mail_web_view.h"
#include "compose/ui/message_windows.h"
#include "foundation/message_queue.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "foundation/ui/standard_font.h"
#include "mailformat/mhtml_writer.h"
#include "store/doc_record.h"
#include "store/index_file.h"
#include "transport/accounts.h"
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
#include <QToolButton>
#include <QMenu>
#include <QImage>
#include <QWebEngineScript>
#include <QWebEnginePage>
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

namespace px::compose::ui {
namespace {

// Set before the application starts, as the desk does: CI runs the tests as root, where the
// web engine starts only without Chromium's sandbox.
const bool kWebEngineReady = [] {
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
  PrepareWebEngineForUser();
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
  std::vector<std::string> openedParts;
  std::vector<QString> proposedSaves;
  QString saveTarget;
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
    cfg.openAttachment = [this](const std::string& path) { openedParts.push_back(path); };
    cfg.askSaveFile = [this](const QString& proposed) {
      proposedSaves.push_back(proposed);
      return saveTarget;
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
          {"Title=hello", "Flags=4609", "Address=\"Ann\" <ann@x.org>", "To=me, bob@x.org",
           "Cc=carl@x.org, work@corp.example", "Sent=Thu, 10 Dec 2026 10:00:00 +0000",
           "MsgID=20261210100000000123:001/001", "Message-ID=<m2@x.org>", "References=<m1@x.org>"});
    return folder;
  }
};

TEST_F(ComposeWindowTest, ReadsPlainMailWithItsHeaderLinesAndRepliesToAll) {
  const std::string folder = Received();
  // The user's account: its address is the user's too, and Reply To All leaves it out.
  transport::ExternalAccount work;
  work.name = "work@corp.example";
  work.enabled = true;
  work.server = "pop.corp.example";
  work.user = "work";
  RandomSource random;
  transport::WriteAccount(settings, work, random);
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
  // Its place in the thread, for the sender to write as In-Reply-To and References.
  EXPECT_EQ(Value(folder, m.documents[0], "In-Reply-To"), "<m2@x.org>");
  EXPECT_EQ(Value(folder, m.documents[0], "References"), "<m1@x.org> <m2@x.org>");
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
  ASSERT_EQ(m.documents.size(), 2u);
  EXPECT_EQ(sendRuns, (std::vector<std::string>{m.seriesBase}));
  // The picture went as a copy; the received message keeps its part as it was.
  EXPECT_NE(m.documents[1], "pic.png");
  EXPECT_EQ(px::test::readFile(folder + m.documents[1]), "PNG");
  EXPECT_EQ(Value(folder, m.documents[1], "Title"), "pic");
  EXPECT_EQ(Value(folder, "pic.png", "Flags"), "4097");
  EXPECT_EQ(Value(folder, "pic.png", "MsgID"), "20261210100000000123:002/002");
  EXPECT_EQ(Value(folder, "pic.png", "Address"), "<none>");
  EXPECT_EQ(px::test::readFile(folder + "pic.png"), "PNG");
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

TEST_F(ComposeWindowTest, SavingADocumentReplacesItWholeOrKeepsItAndTheChanges) {
  const std::string folder = docs + "Notes/";
  px::test::makeDirs(folder);
  Entry(folder, "notes.txt", "first line\r\nsecond", {"Title=notes"});
  TfrmEdit* w = windows->OpenDocument(folder, "notes.txt");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(w->Mode(), emTextEditor);
  w->txtText()->moveCursor(QTextCursor::End);
  QTest::keyClicks(w->txtText(), " more");
  ASSERT_TRUE(w->textModified());
  w->btnSave()->click();
  EXPECT_EQ(px::test::readFile(folder + "notes.txt"), "first line\r\nsecond more");
  EXPECT_FALSE(w->isVisible());

  // A disk too full for the new text: the document stays whole, the failure is told, and the
  // window stays open with its changes still marked.
  const std::string small = docs + "Small/";
  px::test::makeDirs(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=128k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{small};
  const std::string old = "old line\r\n" + std::string(20000, 'o');
  Entry(small, "big.txt", old, {"Title=big"});
  TfrmEdit* b = windows->OpenDocument(small, "big.txt");
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->Mode(), emTextEditor);
  b->show();
  // Fill the disk, leaving less than the new text needs.
  px::test::writeFile(small + "filler", std::string(80 * 1024, 'f'));
  b->txtText()->moveCursor(QTextCursor::End);
  b->txtText()->insertPlainText(QString(QStringLiteral("x")).repeated(30000));
  b->btnSave()->click();
  EXPECT_EQ(px::test::readFile(small + "big.txt"), old);
  EXPECT_TRUE(b->isVisible());
  EXPECT_TRUE(b->textModified());
  ASSERT_FALSE(messages.Pending().empty());
  EXPECT_NE(messages.Pending().back().find("big.txt"), std::string::npos) << messages.Pending().back();
  // Room again: the same window saves.
  ::unlink((small + "filler").c_str());
  b->btnSave()->click();
  EXPECT_EQ(px::test::readFile(small + "big.txt").size(), old.size() + 30000);
  EXPECT_FALSE(b->isVisible());
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

TEST(WebEngineSetUp, RootStartsTheEngineWithoutItsSandbox) {
  EXPECT_EQ(FlagsWithoutSandbox(""), "--no-sandbox");
  EXPECT_EQ(FlagsWithoutSandbox("--disable-gpu"), "--disable-gpu --no-sandbox");
  EXPECT_EQ(FlagsWithoutSandbox("--no-sandbox --disable-gpu"), "--no-sandbox --disable-gpu");
  if (::geteuid() != 0) GTEST_SKIP() << "not root";
  // This program set the engine up as the desk does.
  EXPECT_TRUE(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ').contains("--no-sandbox"));
  EXPECT_EQ(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), "1");
}

// A received HTML message whose pictures are parts of their own (beside the HTML, not inside
// it), with an attachment whose file got a number to stand beside another one.
TEST_F(ComposeWindowTest, HtmlMailShowsItsCidPicturesAndOffersItsParts) {
  const std::string folder = docs + "Mail/";
  const std::string base = "20261210100000000555";
  Entry(folder, "Pictures.eml",
        "From: ann@x.org\r\nSubject: Pictures\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
        "<html><body><p>Look</p><img id=\"p\" src=\"cid:pic1@x.org\"></body></html>\r\n",
        {"Title=Pictures", "Flags=4609", "Address=ann@x.org", "To=me", "MsgID=" + base + ":001/003"});
  {
    QImage img(7, 5, QImage::Format_RGB32);
    img.fill(Qt::blue);
    ASSERT_TRUE(img.save(QString::fromStdString(folder + "dot.png")));
  }
  Entry(folder, "dot.png", px::test::readFile(folder + "dot.png"),
        {"Flags=4097", "MsgID=" + base + ":002/003", "Content-ID=pic1@x.org"});
  Entry(folder, "notes (2).txt", "the notes", {"Title=notes", "Flags=4097", "MsgID=" + base + ":003/003"});
  TfrmEdit* w = windows->OpenDocument(folder, "Pictures.eml");
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(w->Mode(), emHtmlViewer);
  ASSERT_TRUE(WaitFor([&] { return w->webView()->LoadFinished(); }, 30000));
  int width = -1;
  w->webView()->page()->runJavaScript(QStringLiteral("document.getElementById('p').naturalWidth"),
                                      QWebEngineScript::ApplicationWorld,
                                      [&](const QVariant& v) { width = v.toInt(); });
  ASSERT_TRUE(WaitFor([&] { return width >= 0; }, 10000));
  EXPECT_EQ(width, 7);  // the picture, not a broken image

  // The parts: one button each, under their own names, with Open and "Save as...".
  const QList<QToolButton*> parts = w->pnlInfo()->findChildren<QToolButton*>(QStringLiteral("btnPart"));
  ASSERT_EQ(parts.size(), 2);
  EXPECT_EQ(parts[0]->text(), QStringLiteral("dot.png"));
  EXPECT_EQ(parts[1]->text(), QStringLiteral("notes.txt"));
  // The header lines a reply or forward quotes name them so too.
  const StringList& lines = w->model().Request().headerLines;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Attachments: dot.png, notes.txt"), lines.end());
  parts[1]->click();
  EXPECT_EQ(openedParts, (std::vector<std::string>{folder + "notes (2).txt"}));
  px::test::makeDirs(temp + "saved");
  saveTarget = QString::fromStdString(temp + "saved/my notes.txt");
  px::test::writeFile(temp + "saved/my notes.txt", "older");
  QAction* saveAs = parts[1]->menu()->findChild<QAction*>(QStringLiteral("aPartSaveAs"));
  ASSERT_NE(saveAs, nullptr);
  saveAs->trigger();
  ASSERT_EQ(proposedSaves.size(), 1u);
  EXPECT_TRUE(proposedSaves[0].endsWith(QStringLiteral("/notes.txt"))) << proposedSaves[0].toStdString();
  EXPECT_EQ(px::test::readFile(temp + "saved/my notes.txt"), "the notes");
  EXPECT_EQ(px::test::readFile(folder + "notes (2).txt"), "the notes");

  // An HTML reply quotes the picture too.
  settings.SetMessageFormat(0);
  TfrmEdit* r = windows->OpenDocument(folder, "Pictures.eml");
  ASSERT_NE(r, nullptr);
  r->Reply(false);
  ASSERT_EQ(r->Mode(), emHtmlEditor);
  EXPECT_NE(r->HtmlWrap()->Source().find("dot.png"), std::string::npos) << r->HtmlWrap()->Source();
}

TEST_F(ComposeWindowTest, RemoteFramesAreBlockedWithTheBarToAllowThem) {
  const std::string folder = docs + "Mail/";
  Entry(folder, "framed.htm", "<html><body><p>text</p><iframe src=\"http://127.0.0.1:9/frame.html\"></iframe></body></html>",
        {"Title=Framed", "Flags=4609", "Address=news@x.org", "To=me"});
  TfrmEdit* w = windows->OpenDocument(folder, "framed.htm");
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(WaitFor([&] { return w->webView()->LoadFinished(); }, 30000));
  ASSERT_TRUE(WaitFor([&] { return w->RemoteContentBarShown(); }, 10000));
  w->AllowRemoteContent();
  EXPECT_TRUE(w->webView()->RemoteAllowed());
  EXPECT_FALSE(w->RemoteContentBarShown());
}

// Keys and controls of the HTML composer.
TEST_F(ComposeWindowTest, ComposerKeysFontSizeAndFormatSwitch) {
  settings.SetMessageFormat(0);  // HTML
  TfrmEdit* w = windows->NewMessage(docs + "Mail/");
  ASSERT_NE(w, nullptr);
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  EXPECT_EQ(QApplication::activeWindow(), w);
  ASSERT_EQ(w->Mode(), emHtmlEditor);
  // The size list shows the size new text has: the desktop's font size, not the list's first.
  auto* size = w->findChild<QComboBox*>(QStringLiteral("cbSize"));
  ASSERT_NE(size, nullptr);
  EXPECT_EQ(size->currentText(), QString::number(px::ui::StandardFont().pointSize()));

  w->htmlEdit()->setFocus();
  QTest::keyClicks(w->htmlEdit(), "strong words");
  w->htmlEdit()->selectAll();
  QTest::keyClick(w->htmlEdit(), Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(w->htmlEdit()->textCursor().charFormat().fontWeight(), QFont::Bold);
  QTest::keyClick(w->htmlEdit(), Qt::Key_I, Qt::ControlModifier);
  EXPECT_TRUE(w->htmlEdit()->textCursor().charFormat().fontItalic());

  // Ctrl+A in From selects From's text, not the body.
  QLineEdit* from = w->cbFrom()->lineEdit();
  ASSERT_NE(from, nullptr);
  from->setText(QStringLiteral("\"Me\" <me>"));
  w->htmlEdit()->moveCursor(QTextCursor::End);
  from->setFocus();
  from->deselect();
  QTest::keyClick(from, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(from->selectedText(), from->text());
  EXPECT_FALSE(w->htmlEdit()->textCursor().hasSelection());
  // Ctrl+B there does not reach the body.
  w->htmlEdit()->selectAll();
  QTest::keyClick(from, Qt::Key_B, Qt::ControlModifier);
  EXPECT_EQ(w->htmlEdit()->textCursor().charFormat().fontWeight(), QFont::Bold);

  // Plain text and back, the words kept.
  QAction* format = w->action(QStringLiteral("aHtmlFormat"));
  ASSERT_NE(format, nullptr);
  EXPECT_TRUE(format->isVisible());
  EXPECT_TRUE(format->isChecked());
  format->trigger();
  EXPECT_EQ(w->Mode(), emTextEditor);
  EXPECT_TRUE(w->txtText()->toPlainText().contains(QStringLiteral("strong words")));
  QTest::keyClicks(w->txtText(), "plain ");
  format->trigger();
  EXPECT_EQ(w->Mode(), emHtmlEditor);
  EXPECT_TRUE(w->htmlEdit()->toPlainText().contains(QStringLiteral("plain strong words")));
  format->trigger();
  w->edtTo()->setText(QStringLiteral("ann@x.org"));
  emit w->edtTo()->textEdited(w->edtTo()->text());
  w->edtSubject()->setText(QStringLiteral("Plain"));
  w->btnSendLater()->click();
  ASSERT_TRUE(WaitFor([&] { return !windows->Filed().empty(); }));
  EXPECT_EQ(windows->Filed().back().documents[0], "Plain.txt");
}

// A mailto link handed over while the desk has the focus: the new message comes to the front.
TEST_F(ComposeWindowTest, MailtoWindowComesToTheFront) {
  QWidget desk;
  desk.resize(300, 200);
  desk.show();
  desk.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&desk));
  TfrmEdit* w = windows->NewMessage(docs, "mailto:ann@x.org");
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowActive(w));
  EXPECT_EQ(QApplication::activeWindow(), w);
}

}  // namespace
}  // namespace px::compose::ui
