// The HTML editor over Qt's rich-text document: saving with pictures, reading back, keys.
#include <gtest/gtest.h>

#include <QImage>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>

#include <filesystem>

#include "foundation/random.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_writer.h"
#include "mailformat/ui/text_document_editor.h"
#include "support/test_support.h"

using namespace px;
using namespace px::mailformat;
namespace fs = std::filesystem;

namespace {

size_t Count(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

class MhtmlEditor : public ::testing::Test {
protected:
  void SetUp() override {
    tmp = home.path("tmp/");
    test::makeDirs(tmp);
    test::makeDirs(home.path("docs/"));
    pic = tmp + "red.png";
    QImage img(4, 3, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(QString::fromStdString(pic), "PNG"));
  }
  test::TempHome home;
  std::string tmp, pic;
  RandomSource random{3};
};

}  // namespace

TEST_F(MhtmlEditor, PictureSurvivesSaveAndReload) {
  QTextEdit edit;
  TextDocumentEditor editor(&edit);
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<html><body><p>Hello <b>world</b></p></body></html>");
  QTextCursor c = edit.textCursor();
  c.movePosition(QTextCursor::End);
  edit.setTextCursor(c);
  wrap.InsertImage(pic);
  wrap.SetDocumentCharset("UTF-8");

  std::string path = home.path("docs/hello.eml");
  ASSERT_TRUE(wrap.Save(path)) << wrap.LastError();
  std::string mime = test::readFile(path);
  EXPECT_EQ(Count(mime, "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <"), 1u);
  EXPECT_NE(mime.find("Hello world"), std::string::npos);  // the text part

  // The document now shows the extracted picture, which Qt can load.
  ASSERT_TRUE(wrap.ReadWithResources());
  std::string html = editor.Html();
  EXPECT_EQ(html.find("cid:"), std::string::npos);
  size_t at = html.find("src=\"file://");
  ASSERT_NE(at, std::string::npos) << html;
  std::string url = html.substr(at + 5, html.find('"', at + 5) - at - 5);
  EXPECT_EQ(url.rfind(QUrl::fromLocalFile(QString::fromStdString(wrap.ResourceFolder())).toString().toStdString(), 0), 0u);
  QVariant image = edit.document()->resource(QTextDocument::ImageResource, QUrl(QString::fromStdString(url)));
  EXPECT_TRUE(image.isValid());
  EXPECT_NE(editor.Text().find("Hello world"), std::string::npos);

  // A second save writes the picture once more, not twice.
  ASSERT_TRUE(wrap.Save());
  EXPECT_EQ(Count(test::readFile(path), "Content-ID: <"), 1u);
}

TEST_F(MhtmlEditor, TextIsTheSourceConvertedToPlainText) {
  QTextEdit edit;
  TextDocumentEditor editor(&edit);
  editor.SetHtml("<p>one</p><p>two &amp; three</p><table><tr><td>a</td><td>b</td></tr></table>", "");
  const auto lines = HtmlToText(editor.Html()).lines;
  std::string expected;
  for (size_t i = 0; i < lines.size(); ++i) expected += (i ? "\r\n" : "") + lines[i];
  EXPECT_EQ(editor.Text(), expected);
  // Paragraphs stay apart by an empty line and table cells by tabs, as in every converted body.
  EXPECT_NE(editor.Text().find("\r\n\r\ntwo & three"), std::string::npos) << editor.Text();
  EXPECT_NE(editor.Text().find("a\t"), std::string::npos) << editor.Text();
}

TEST_F(MhtmlEditor, TabInsertsNonBreakingSpaces) {
  QTextEdit edit;
  HtmlEditKeys keys(&edit);
  edit.setPlainText("ab");
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  ASSERT_TRUE(keys.eventFilter(&edit, &tab));
  EXPECT_EQ(edit.document()->toRawText(), QString(8, QChar::Nbsp) + "ab");
}

TEST_F(MhtmlEditor, EnterInsideQuoteStartsUnquotedLine) {
  QTextEdit edit;
  HtmlEditKeys keys(&edit);
  edit.setHtml("<p>Hi</p><blockquote>quoted text</blockquote>");
  QTextCursor c(edit.document());
  c.movePosition(QTextCursor::End);
  edit.setTextCursor(c);
  ASSERT_GT(c.blockFormat().intProperty(QTextFormat::BlockQuoteLevel), 0);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  ASSERT_TRUE(keys.eventFilter(&edit, &enter));
  QTextCursor after = edit.textCursor();
  EXPECT_EQ(after.blockFormat().intProperty(QTextFormat::BlockQuoteLevel), 0);
  EXPECT_EQ(after.block().previous().text(), "quoted text");
  // Outside a quote Enter is left to the editor.
  c.movePosition(QTextCursor::Start);
  edit.setTextCursor(c);
  EXPECT_FALSE(keys.eventFilter(&edit, &enter));
}
