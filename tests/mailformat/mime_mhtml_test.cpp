// The streaming MHTML reader.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "foundation/random.h"
#include "mailformat/mhtml_reader.h"
#include "mime_test_util.h"

namespace px::mailformat {
namespace {

using testing::Crlf;
using testing::Fixture;

struct MhtmlFixture {
  QTemporaryDir dir;
  RandomSource random{7};
  std::string temp() const { return dir.path().toStdString() + "/"; }
  bool Read(const std::string& bytes, MhtmlDocument& doc) {
    return ReadMhtmlMemory(bytes, temp(), random, doc);
  }
  std::string Ref(const MhtmlDocument& doc, const std::string& key) {
    auto it = doc.references.find(key);
    return it == doc.references.end() ? std::string() : it->second;
  }
};

TEST(MimeMhtml, RelatedDocumentGivesItsHtmlAndExtractsThePictures) {
  MhtmlFixture f;
  MhtmlDocument doc;
  ASSERT_TRUE(f.Read(Fixture("inline_images.eml"), doc));
  EXPECT_TRUE(doc.related);
  EXPECT_EQ(doc.header.contentType, "multipart/related");
  EXPECT_EQ(doc.header.type, "multipart/alternative");
  EXPECT_EQ(doc.charset, "iso-8859-1");
  // Converted to UTF-8 from the part's charset.
  EXPECT_NE(doc.html.find("Caf\xC3\xA9 by the lake"), std::string::npos);
  EXPECT_NE(doc.html.find("<IMG src=\"cid:img1@example.org\">"), std::string::npos);
  ASSERT_FALSE(doc.resourceFolder.empty());
  EXPECT_TRUE(doc.resourceFolder.starts_with(f.temp() + "PX"));
  std::string png = f.Ref(doc, "cid:img1@example.org");
  std::string gif = f.Ref(doc, "images\\lake.gif");
  ASSERT_FALSE(png.empty());
  ASSERT_FALSE(gif.empty());
  EXPECT_EQ(png, doc.resourceFolder + "img1@example.org.png");
  EXPECT_EQ(gif, doc.resourceFolder + "lake.gif");
  EXPECT_EQ(px::test::readFile(png).substr(0, 4), "\x89PNG");
  EXPECT_EQ(px::test::readFile(gif).substr(0, 6), "GIF89a");
  // A location that climbs out of its folder is cut to its last element and made unique.
  std::string other = f.Ref(doc, "..\\..\\other\\lake.gif");
  EXPECT_EQ(other, doc.resourceFolder + "lake (2).gif");
  EXPECT_EQ(QDir(QString::fromStdString(doc.resourceFolder)).entryList(QDir::Files).size(), 3);
}

TEST(MimeMhtml, AlternativePrefersHtmlAndFallsBackToPlainText) {
  MhtmlFixture f;
  MhtmlDocument doc;
  ASSERT_TRUE(f.Read(Fixture("alternative.eml"), doc));
  EXPECT_EQ(doc.html, "<p>Lunch at noon? See you there.</p>");
  EXPECT_TRUE(doc.resourceFolder.empty());

  MhtmlDocument plain;
  ASSERT_TRUE(f.Read(Crlf("Content-Type: multipart/alternative; boundary=a\n\n--a\n"
                          "Content-Type: text/plain\n\n1 < 2\nsecond\n--a--\n"),
                     plain));
  EXPECT_EQ(plain.html, "1 &lt; 2<BR>\r\nsecond");
}

TEST(MimeMhtml, SinglePartDocumentsAndOtherTypes) {
  MhtmlFixture f;
  MhtmlDocument doc;
  ASSERT_TRUE(f.Read(Crlf("Content-Type: text/html\nContent-Transfer-Encoding: base64\n\nPGI+aGk8L2I+\n"), doc));
  EXPECT_EQ(doc.html, "<b>hi</b>");
  ASSERT_TRUE(f.Read(Crlf("Content-Type: application/pdf\n\nxx\n"), doc));
  EXPECT_EQ(doc.html, "");
  // Without a Content-Type a message is plain text, also when it is quoted-printable.
  ASSERT_TRUE(f.Read(Crlf("From: a@b.example\nSubject: hi\n\nfish & chips\nbye\n"), doc));
  EXPECT_EQ(doc.html, "fish &amp; chips<BR>\r\nbye");
  ASSERT_TRUE(f.Read(Crlf("Subject: hi\nContent-Transfer-Encoding: quoted-printable\n\ncaf=C3=A9\n"), doc));
  EXPECT_EQ(doc.html, "caf\xC3\xA9");
}

TEST(MimeMhtml, HostileNamesStayInsideTheResourceFolder) {
  MhtmlFixture f;
  MhtmlDocument doc;
  std::string msg = "Content-Type: multipart/related; boundary=r\n\n";
  for (const char* h : {"Content-ID: <../../../evil.png>", "Content-Location: /etc/passwd",
                        "Content-Location: Plumadex.ini", "Content-ID: <..>", "Content-Location: C:\\x\\..",
                        "Content-ID: <a\\b>"})
    msg += std::string("--r\nContent-Type: image/png\n") + h + "\n\nx\n";
  msg += "--r--\n";
  ASSERT_TRUE(f.Read(Crlf(msg), doc));
  ASSERT_EQ(doc.references.size(), 6u);
  for (const auto& [key, path] : doc.references) {
    ASSERT_TRUE(path.starts_with(doc.resourceFolder)) << path;
    std::string name = path.substr(doc.resourceFolder.size());
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name, "..");
    EXPECT_NE(name, "Plumadex.ini");
    EXPECT_FALSE(name.starts_with(".")) << name;
  }
  // Nothing was written beside the resource folder.
  EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);
}

// Many parts of one reference, and many references of one file name: the first part of a
// reference is the one shown, so later ones write nothing; names are numbered without testing
// every number from the start; at most maxResources files are written.
TEST(MimeMhtml, ManyPartsOfOneNameAreNumberedOnceAndBounded) {
  MhtmlFixture f;
  MhtmlDocument doc;
  std::string msg = "Content-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n<P>x</P>\n";
  for (int i = 0; i < 300; ++i)
    msg += "--r\nContent-Type: image/png\nContent-Location: http://example.org/same.png\n\nsame " +
           std::to_string(i) + "\n";
  for (int i = 0; i < 40; ++i)
    msg += "--r\nContent-Type: image/png\nContent-Location: http://example.org/" + std::to_string(i) +
           "/pic.png\n\npic " + std::to_string(i) + "\n";
  msg += "--r--\n";
  MhtmlLimits limits;
  limits.maxResources = 30;
  ASSERT_TRUE(ReadMhtmlMemory(Crlf(msg), f.temp(), f.random, doc, limits));
  EXPECT_EQ(px::test::readFile(f.Ref(doc, "http:\\\\example.org\\same.png")), "same 0");
  EXPECT_EQ(doc.references.size(), 30u);
  EXPECT_EQ(f.Ref(doc, "http:\\\\example.org\\0\\pic.png"), doc.resourceFolder + "pic.png");
  EXPECT_EQ(f.Ref(doc, "http:\\\\example.org\\1\\pic.png"), doc.resourceFolder + "pic (2).png");
  EXPECT_EQ(f.Ref(doc, "http:\\\\example.org\\28\\pic.png"), doc.resourceFolder + "pic (29).png");
  EXPECT_EQ(QDir(QString::fromStdString(doc.resourceFolder)).entryList(QDir::Files).size(), 30);
}

// A long resource name is cut in its stem; the extension stays.
TEST(MimeMhtml, LongResourceNameKeepsItsExtension) {
  MhtmlFixture f;
  MhtmlDocument doc;
  const std::string stem(300, 'n');
  std::string msg = "Content-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n<P>x</P>\n"
                    "--r\nContent-Type: image/png\nContent-Location: " + stem + ".png\n\nx\n--r--\n";
  ASSERT_TRUE(f.Read(Crlf(msg), doc));
  const std::string path = f.Ref(doc, stem + ".png");
  ASSERT_FALSE(path.empty());
  const std::string name = path.substr(doc.resourceFolder.size());
  EXPECT_LE(name.size(), 200u);
  EXPECT_TRUE(name.ends_with("nnn.png")) << name;
}

TEST(MimeMhtml, UnreadableDocumentFailsAndLeavesNoFolder) {
  MhtmlFixture f;
  MhtmlDocument doc;
  EXPECT_FALSE(ReadMhtmlFile(f.temp() + "missing.eml", f.temp(), f.random, doc));
  std::string folder = f.temp() + "dir.eml";
  QDir().mkpath(QString::fromStdString(folder));
  EXPECT_FALSE(ReadMhtmlFile(folder, f.temp(), f.random, doc));
  EXPECT_EQ(QDir(f.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 1);
}

}  // namespace
}  // namespace px::mailformat
