// Reading ".mht"/".eml" documents written by other programs into HTML plus resources, as the
// HTML editor's loader does.
#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/random.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_loader.h"
#include "support/test_support.h"

using namespace px;
using namespace px::mailformat;
namespace fs = std::filesystem;

namespace {

class MhtmlLoader : public ::testing::Test {
protected:
  void SetUp() override {
    tmp = home.path("tmp/");
    test::makeDirs(tmp);
  }
  bool Read(const std::string& bytes, const std::string& name = "doc.mht") {
    return ReadMhtmlBytes(bytes, name, tmp, random, doc);
  }
  test::TempHome home;
  std::string tmp;
  RandomSource random{7};
  MhtmlDocument doc;
};

// A page saved by a web browser: the picture is found by its location, and the names a sender
// chose cannot reach outside the resource folder.
const char* kSavedPage =
    "From: <Saved by a browser>\r\n"
    "Subject: A page\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/related;\r\n"
    "\ttype=\"text/html\";\r\n"
    "\tboundary=\"----=_NextPart_000_0000_01C2\"\r\n"
    "\r\n"
    "This is a multi-part message in MIME format.\r\n"
    "\r\n"
    "------=_NextPart_000_0000_01C2\r\n"
    "Content-Type: text/html;\r\n"
    "\tcharset=\"iso-8859-1\"\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "Content-Location: http://example.com/page.html\r\n"
    "\r\n"
    "<HTML><BODY>Caf=E9 <IMG src=3D\"http://example.com/img/logo.gif\">=\r\n"
    "<IMG src=3D\"cid:part1@example\"><IMG src=3D\"../../evil.gif\"></BODY></HTML>\r\n"
    "\r\n"
    "------=_NextPart_000_0000_01C2\r\n"
    "Content-Type: image/gif\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Location: http://example.com/img/logo.gif\r\n"
    "\r\n"
    "R0lGODlh\r\n"
    "AQ==\r\n"
    "\r\n"
    "------=_NextPart_000_0000_01C2\r\n"
    "Content-Type: image/png\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-ID: <part1@example>\r\n"
    "\r\n"
    "iVBORw0KGgo=\r\n"
    "------=_NextPart_000_0000_01C2\r\n"
    "Content-Type: image/gif\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Location: ../../evil.gif\r\n"
    "\r\n"
    "R0lGODlh\r\n"
    "------=_NextPart_000_0000_01C2\r\n"
    "Content-Type: image/gif\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Location: http://example.com/other/logo.gif\r\n"
    "\r\n"
    "R0lGODlh\r\n"
    "------=_NextPart_000_0000_01C2--   \r\n";

}  // namespace

TEST_F(MhtmlLoader, SavedPageGivesHtmlAndResources) {
  ASSERT_TRUE(Read(kSavedPage));
  EXPECT_TRUE(doc.related);
  EXPECT_EQ(doc.charset, "iso-8859-1");
  EXPECT_NE(doc.html.find("Caf\xC3\xA9 <IMG src=\"http://example.com/img/logo.gif\"><IMG"), std::string::npos);
  ASSERT_FALSE(doc.resourceFolder.empty());
  EXPECT_EQ(doc.resourceFolder.rfind(tmp + "PX", 0), 0u);

  auto logo = doc.references.find(ReferenceKey("http://example.com/img/logo.gif"));
  ASSERT_NE(logo, doc.references.end());
  EXPECT_EQ(test::readFile(logo->second), std::string("GIF89a\x01", 7));
  auto cid = doc.references.find("cid:part1@example");
  ASSERT_NE(cid, doc.references.end());
  EXPECT_EQ(test::readFile(cid->second), "\x89PNG\r\n\x1a\n");
  EXPECT_EQ(fs::path(cid->second).extension(), ".png");

  // Every extracted file lies directly inside the resource folder, with distinct names.
  std::set<std::string> names;
  for (const auto& [key, path] : doc.references) {
    EXPECT_EQ(fs::path(path).parent_path().string() + "/", doc.resourceFolder) << key;
    names.insert(fs::path(path).filename().string());
  }
  EXPECT_EQ(names.size(), doc.references.size());
  EXPECT_EQ(doc.references.size(), 4u);
  EXPECT_FALSE(fs::exists(home.path("evil.gif")));
}

TEST_F(MhtmlLoader, AlternativeTakesHtmlOverPlainText) {
  std::string both =
      "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
      "--b\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      + Base64Lines("<P>html</P>") + "\r\n--b--\r\n";
  ASSERT_TRUE(Read(both, "x.eml"));
  EXPECT_EQ(doc.html, "<P>html</P>");
  EXPECT_FALSE(doc.related);
  EXPECT_TRUE(doc.resourceFolder.empty());

  std::string plainOnly =
      "Content-Type: multipart/alternative; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\nfish & chips\r\ncaf\xE9\r\n--b--\r\n";
  ASSERT_TRUE(Read(plainOnly));
  EXPECT_NE(doc.html.find("fish &amp; chips<BR>"), std::string::npos);
  EXPECT_NE(doc.html.find("caf\xC3\xA9"), std::string::npos);
}

TEST_F(MhtmlLoader, MalformedDocumentsAreReadAsFarAsTheyGo) {
  // A missing closing boundary, a boundary that is never used, no header at all.
  ASSERT_TRUE(Read("Content-Type: multipart/related; boundary=\"q\"\r\n\r\n--q\r\nContent-Type: text/html\r\n\r\n<P>a"));
  EXPECT_EQ(doc.html, "<P>a");
  ASSERT_TRUE(Read("Content-Type: multipart/related; boundary=\"q\"\r\n\r\nno parts here\r\n"));
  EXPECT_EQ(doc.html, "");
  ASSERT_TRUE(Read("\r\njust text"));
  ASSERT_TRUE(Read(""));
  // Deep nesting stops at the cap instead of recursing without end.
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "Content-Type: multipart/mixed; boundary=\"x\"\r\n\r\n--x\r\n";
  ASSERT_TRUE(Read(deep));
}

TEST_F(MhtmlLoader, UnreadableFileFails) {
  EXPECT_FALSE(ReadMhtmlDocument(home.path("missing.mht"), tmp, random, doc));
}

TEST_F(MhtmlLoader, OtherExtensionsAreHtmlAsTheyStand) {
  ASSERT_TRUE(Read("<HTML><META charset=iso-8859-1>caf\xE9</HTML>", "page.htm"));
  EXPECT_EQ(doc.charset, "iso-8859-1");
  EXPECT_NE(doc.html.find("caf\xC3\xA9"), std::string::npos);
}
