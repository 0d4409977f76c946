// Saving HTML documents as ".eml"/".mht"/".htm" and reading them back.
#include <gtest/gtest.h>

#include <QUrl>

#include <filesystem>

#include "foundation/random.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_loader.h"
#include "mailformat/mhtml_writer.h"
#include "mailformat/mime_reader.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/spool.h"
#include "mailformat/text_extract.h"
#include "support/test_support.h"

using namespace px;
using namespace px::mailformat;
namespace fs = std::filesystem;

namespace {

// An editor that just holds the HTML it is given.
class FakeEditor : public HtmlEditor {
public:
  std::string html, base;
  std::string Html() const override { return html; }
  void SetHtml(std::string_view h, const std::string& b) override {
    html = h;
    base = b;
  }
  void PasteHtml(std::string_view h) override {
    size_t at = html.rfind("</BODY>");
    html.insert(at == std::string::npos ? html.size() : at, h);
  }
};

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(300, '\x01') + "IEND";
const std::string kGif = "GIF89a" + std::string(100, '\x7f');

std::string FileUrl(const std::string& path) {
  return QUrl::fromLocalFile(QString::fromStdString(path)).toString().toStdString();
}

size_t Count(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

class MhtmlWriter : public ::testing::Test {
protected:
  void SetUp() override {
    tmp = home.path("tmp/");
    test::makeDirs(tmp);
    test::makeDirs(home.path("docs/"));
  }
  test::TempHome home;
  std::string tmp;
  RandomSource random{42};
  FakeEditor editor;
};

}  // namespace

TEST_F(MhtmlWriter, DocumentWithoutPicturesIsTextAndHtmlAlternative) {
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<HTML><BODY><P>Caf\xC3\xA9 &amp; cr\xC3\xA8me, long line " + std::string(100, 'x') +
                  "</P></BODY></HTML>");
  wrap.SetDocumentCharset("windows-1252");
  std::string path = home.path("docs/note.eml");
  ASSERT_TRUE(wrap.Save(path)) << wrap.LastError();
  std::string mime = test::readFile(path);
  EXPECT_EQ(mime.rfind("MIME-Version: 1.0\r\nContent-Type: multipart/alternative;\r\n\ttype=\"text/html\";\r\n", 0), 0u);
  EXPECT_NE(mime.find("X-MimeOLE: Produced By Plumadex\r\n"), std::string::npos);
  EXPECT_EQ(Count(mime, "Content-Type: text/plain;\r\n\tcharset=\"windows-1252\"\r\nContent-Transfer-Encoding: 8bit"), 1u);
  EXPECT_EQ(Count(mime, "Content-Type: text/html;\r\n\tcharset=\"windows-1252\"\r\nContent-Transfer-Encoding: quoted-printable"), 1u);
  EXPECT_EQ(Count(mime, "----=_NextPart_000_0000_"), 4u);  // header, two parts, closing
  EXPECT_NE(mime.find("Caf\xE9 & cr\xE8me"), std::string::npos);  // the text part, in the charset
  for (size_t pos = 0, eol; (eol = mime.find("\r\n", pos)) != std::string::npos; pos = eol + 2)
    EXPECT_LE(eol - pos, 200u);

  // Read back: the editor shows the saved document, in UTF-8, with the charset remembered.
  EXPECT_EQ(wrap.DocumentCharset(), "windows-1252");
  EXPECT_NE(editor.html.find("Caf\xC3\xA9 &amp; cr\xC3\xA8me"), std::string::npos);
  EXPECT_FALSE(wrap.ReadWithResources());
}

TEST_F(MhtmlWriter, Utf8DocumentsGetBase64Html) {
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<HTML><HEAD><META charset=\"utf-8\"></HEAD><BODY>\xCE\xA9 ok</BODY></HTML>");
  wrap.SetDocumentCharset("UTF-8");
  std::string path = home.path("docs/u.mht");
  ASSERT_TRUE(wrap.Save(path));
  std::string mime = test::readFile(path);
  EXPECT_NE(mime.find("charset=\"UTF-8\"\r\nContent-Transfer-Encoding: base64"), std::string::npos);
  EXPECT_NE(editor.html.find("\xCE\xA9 ok"), std::string::npos);
}

TEST_F(MhtmlWriter, TextTheCharsetCannotHoldIsSavedAsUtf8) {
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<HTML><HEAD><META http-equiv=Content-Type content=\"text/html; charset=windows-1252\"></HEAD>"
                  "<BODY>Omega \xCE\xA9</BODY></HTML>");
  wrap.SetDocumentCharset("windows-1252");
  std::string path = home.path("docs/omega.eml");
  ASSERT_TRUE(wrap.Save(path));
  std::string mime = test::readFile(path);
  EXPECT_EQ(mime.find("windows-1252\""), std::string::npos);
  EXPECT_NE(mime.find("charset=\"UTF-8\""), std::string::npos);
  EXPECT_NE(editor.html.find("Omega \xCE\xA9"), std::string::npos);
  EXPECT_NE(editor.html.find("charset=UTF-8"), std::string::npos);  // the META tag says so too
}

TEST_F(MhtmlWriter, PicturesAreEmbeddedOnceAndReadBack) {
  std::string pic = tmp + "pic.png";
  test::writeFile(pic, kPng);
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<HTML><BODY background=\"" + FileUrl(pic) + "\"><P>Look<IMG src=\"" + FileUrl(pic) +
                  "\"> and <img SRC=" + pic + " alt=x></BODY></HTML>");
  std::string path = home.path("docs/pictures.eml");
  ASSERT_TRUE(wrap.Save(path)) << wrap.LastError();
  std::string mime = test::readFile(path);
  EXPECT_NE(mime.find("Content-Type: multipart/related;\r\n\ttype=\"multipart/alternative\";"), std::string::npos);
  EXPECT_EQ(Count(mime, "Content-ID: <"), 1u);
  EXPECT_EQ(Count(mime, "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <"), 1u);
  EXPECT_NE(mime.find("----=_NextPart_001_0000_"), std::string::npos);
  // The alternative part comes before the picture.
  EXPECT_LT(mime.find("multipart/alternative;\r\n\tboundary="), mime.find("Content-Type: image/png"));

  // After the save the editor shows the extracted copy, referenced three times.
  ASSERT_TRUE(wrap.ReadWithResources());
  ASSERT_FALSE(wrap.ResourceFolder().empty());
  std::vector<std::string> files;
  for (auto& e : fs::directory_iterator(wrap.ResourceFolder())) files.push_back(e.path().string());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(test::readFile(files[0]), kPng);
  EXPECT_EQ(Count(editor.html, "\"" + FileUrl(files[0]) + "\""), 3u);
  EXPECT_EQ(editor.html.find("cid:"), std::string::npos);

  // Saving again keeps one picture (the extracted copy is a resource of the document).
  ASSERT_TRUE(wrap.Save());
  EXPECT_EQ(Count(test::readFile(path), "Content-ID: <"), 1u);
}

TEST_F(MhtmlWriter, OnlyOwnAndInsertedFilesAreEmbedded) {
  std::string outside = home.path("docs/secret.gif");
  test::writeFile(outside, kGif);
  std::string inserted = home.path("docs/chosen.gif");
  test::writeFile(inserted, kGif);
  std::string link = tmp + "link.gif";
  fs::create_symlink(outside, link);
  std::string big = tmp + "big.png";
  test::writeFile(big, kPng + std::string(5000, 'x'));
  fs::create_directories(tmp + "dir.png");

  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.SetMaxResourceSize(2000);
  wrap.LoadSource("<HTML><BODY>"
                  "<IMG src=\"" + FileUrl(outside) + "\">"
                  "<IMG src=\"" + FileUrl(link) + "\">"
                  "<IMG src=\"" + FileUrl(big) + "\">"
                  "<IMG src=\"" + FileUrl(tmp + "dir.png") + "\">"
                  "<IMG src=\"/etc/hostname\">"
                  "<IMG src=\"http://example.com/x.gif\">"
                  "<IMG src=\"" + FileUrl(tmp + "missing.gif") + "\">"
                  "</BODY></HTML>");
  wrap.InsertImage(inserted);
  std::string path = home.path("docs/policy.eml");
  ASSERT_TRUE(wrap.Save(path));
  std::string mime = test::readFile(path);
  EXPECT_EQ(Count(mime, "Content-ID: <"), 1u);  // only the inserted picture
  EXPECT_EQ(Count(mime, "Content-Type: image/gif"), 1u);
  std::string html = editor.html;
  for (const std::string& kept : {FileUrl(outside), FileUrl(link), FileUrl(big), std::string("/etc/hostname"),
                                  std::string("http://example.com/x.gif")})
    EXPECT_NE(html.find("\"" + kept + "\""), std::string::npos) << kept;
  EXPECT_EQ(html.find(FileUrl(inserted)), std::string::npos);  // now the extracted copy
}

TEST_F(MhtmlWriter, SavingAsHtmCopiesResourcesBesideThePage) {
  std::string pic = tmp + "a b.gif";
  test::writeFile(pic, kGif);
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<HTML><BODY><IMG src=\"" + FileUrl(pic) + "\"></BODY></HTML>");
  ASSERT_TRUE(wrap.Save(home.path("docs/page.mht")));
  ASSERT_TRUE(wrap.ReadWithResources());
  std::string oldFolder = wrap.ResourceFolder();

  std::string htm = home.path("docs/page.htm");
  ASSERT_TRUE(wrap.Save(htm)) << wrap.LastError();
  std::string page = test::readFile(htm);
  std::vector<std::string> copies;
  for (auto& e : fs::directory_iterator(home.path("docs/page_files"))) copies.push_back(e.path().filename().string());
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(test::readFile(home.path("docs/page_files/") + copies[0]), kGif);
  EXPECT_NE(page.find("src=\"page_files/"), std::string::npos) << page;
  EXPECT_FALSE(fs::exists(oldFolder));  // the old extraction is cleaned up
  EXPECT_FALSE(wrap.ReadWithResources());
}

TEST_F(MhtmlWriter, NothingToSaveToIsAnError) {
  TDHTMLEditWrap wrap(editor, tmp, random);
  EXPECT_FALSE(wrap.Save());
  EXPECT_FALSE(wrap.LastError().empty());
  wrap.LoadSource("<P>x");
  EXPECT_FALSE(wrap.Save(home.path("no/such/folder/x.eml")));
  EXPECT_FALSE(wrap.LastError().empty());
}

// A saved message goes into the mail spool whole (the editor opens it again with its picture),
// and the search finds its text.
TEST_F(MhtmlWriter, SavedMessageReadsBackThroughTheSplitterAndTextExtraction) {
  std::string pic = tmp + "pic.png";
  test::writeFile(pic, kPng);
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<HTML><BODY><P>Hello there</P><IMG src=\"" + FileUrl(pic) + "\"></BODY></HTML>");
  wrap.SetDocumentCharset("iso-8859-1");
  std::string path = home.path("docs/spooled.eml");
  ASSERT_TRUE(wrap.Save(path));
  std::string mime = test::readFile(path);

  RandomSource spoolRandom(5);
  MailSpool spool(home.path("Inbox"), spoolRandom);
  spool.setSync(false);
  SplitResult r = SplitMessageBytes(mime, spool, SplitOptions{});
  ASSERT_TRUE(r.ok()) << r.error;
  ASSERT_EQ(r.parts.size(), 1u);
  PartDescriptor d = ParsePartDescriptor(test::readFile(spool.PathOf(r.parts[0], kDescriptorExt)));
  EXPECT_EQ(d.kind, "eml");
  std::string content = test::readFile(spool.PathOf(r.parts[0], kContentExt));
  EXPECT_NE(content.find("Content-ID: <"), std::string::npos);

  MhtmlDocument doc;
  ASSERT_TRUE(ReadMhtmlBytes(content, "x.eml", tmp, random, doc));
  ASSERT_EQ(doc.references.size(), 1u);
  EXPECT_EQ(test::readFile(doc.references.begin()->second), kPng);
  fs::remove_all(doc.resourceFolder);

  EmlText text = ExtractEmlTextFromBytes(mime);
  ASSERT_TRUE(text.found);
  EXPECT_EQ(text.charset, "iso-8859-1");
  ASSERT_FALSE(text.lines.empty());
  EXPECT_EQ(text.lines[0], "Hello there");
}

TEST_F(MhtmlWriter, UpperCaseExtensionStillSavesAMessage) {
  TDHTMLEditWrap wrap(editor, tmp, random);
  wrap.LoadSource("<HTML><BODY>x</BODY></HTML>");
  std::string path = home.path("docs/NOTE.EML");
  ASSERT_TRUE(wrap.Save(path));
  EXPECT_EQ(test::readFile(path).rfind("MIME-Version: 1.0\r\n", 0), 0u);
  EXPECT_NE(editor.html.find("x"), std::string::npos);
}
