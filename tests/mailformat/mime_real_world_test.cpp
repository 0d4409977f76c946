// Messages shaped like those common mail programs and mailing lists send, split as a user would
// expect to find them in a folder.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "foundation/random.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_reader.h"
#include "mailformat/text_extract.h"
#include "mime_test_util.h"
#include "support/test_support.h"

namespace px::mailformat {
namespace {

using testing::Fixture;
using testing::Part;
using testing::SpoolFixture;

std::string Bytes(int from, int to) {
  std::string r;
  for (int i = from; i < to; ++i) r += static_cast<char>(i);
  return r;
}

TEST(MimeRealWorld, OutlookRelatedMessageIsOneEmlWithItsPicturesBesideTheAttachment) {
  SpoolFixture f;
  SplitResult r;
  auto parts = f.Split(Fixture("outlook_related.eml"), {}, &r);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].d.kind, "eml");
  EXPECT_EQ(parts[0].d.name, "Site visit photos");
  EXPECT_EQ(parts[0].d.from, "\"Anna Berg\" <anna@example.org>");
  EXPECT_EQ(parts[0].Tag("X-DATE-RECEIVED: "), "X-DATE-RECEIVED: 12/02/26 08:14:03");
  EXPECT_EQ(parts[1].d.kind, "pdf");
  EXPECT_EQ(parts[1].d.name, "Site report.pdf");
  std::string pdf = "%PDF-1.4\n" + Bytes(0, 256) + Bytes(0, 256);
  EXPECT_EQ(parts[1].content, pdf);

  // The kept message opens with its HTML and both pictures under their content ids.
  const std::string& eml = parts[0].content;
  EXPECT_EQ(eml.find("Content-Type: multipart/mixed"), std::string::npos);
  QTemporaryDir tmp;
  RandomSource random(3);
  MhtmlDocument doc;
  ASSERT_TRUE(ReadMhtmlMemory(eml, tmp.path().toStdString() + "/", random, doc));
  EXPECT_NE(doc.html.find("Two photos from the site below:"), std::string::npos);
  ASSERT_EQ(doc.references.size(), 2u);
  auto png = doc.references.find("cid:image001.png@01DA2C11.8DFC5B70");
  auto gif = doc.references.find("cid:image002.gif@01DA2C11.8DFC5B70");
  ASSERT_NE(png, doc.references.end());
  ASSERT_NE(gif, doc.references.end());
  EXPECT_EQ(px::test::readFile(png->second), Bytes(0, 90));
  EXPECT_EQ(px::test::readFile(gif->second), "GIF89a" + Bytes(200, 256));
}

TEST(MimeRealWorld, MessageWithAttachmentsOpensWithItsText) {
  // A whole message of another program opened as a document shows its body and pictures.
  QTemporaryDir tmp;
  RandomSource random(4);
  MhtmlDocument doc;
  ASSERT_TRUE(ReadMhtmlMemory(Fixture("outlook_related.eml"), tmp.path().toStdString() + "/", random, doc));
  EXPECT_NE(doc.html.find("Two photos from the site below:"), std::string::npos);
  EXPECT_TRUE(doc.related);
  EXPECT_EQ(doc.references.size(), 2u);
  // The first text wins; a later text part (a list footer, an attached page) does not.
  ASSERT_TRUE(ReadMhtmlMemory(Fixture("digest.eml"), tmp.path().toStdString() + "/", random, doc));
  EXPECT_EQ(doc.html.find("Today&#39;s Topics"), std::string::npos);
  EXPECT_NE(doc.html.find("Today's Topics:"), std::string::npos);
  EXPECT_EQ(doc.html.find("mailing list"), std::string::npos);
  ASSERT_TRUE(ReadMhtmlMemory(Fixture("disposition_name.eml"), tmp.path().toStdString() + "/", random, doc));
  EXPECT_TRUE(doc.html.starts_with("The photo."));
}

TEST(MimeRealWorld, AppleMailAttachmentInsideTheHtmlAlternativeBecomesAPartOfItsOwn) {
  // The alternative is kept whole for the viewer; the file attached inside it is found beside it.
  SpoolFixture f;
  SplitResult r;
  auto parts = f.Split(Fixture("apple_alternative.eml"), {}, &r);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].d.kind, "eml");
  EXPECT_EQ(parts[0].d.name, "Minutes");
  EXPECT_NE(parts[0].content.find("filename=minutes.pdf"), std::string::npos);
  EXPECT_EQ(parts[1].d.kind, "pdf");
  EXPECT_EQ(parts[1].d.name, "minutes.pdf");
  EXPECT_EQ(parts[1].content, "%PDF-1.4\n" + Bytes(0, 256) + Bytes(0, 256));
  EXPECT_EQ(parts[1].d.from, parts[0].d.from);
  EXPECT_EQ(parts[1].d.to, "team@example.com");
  EXPECT_EQ(parts[1].Tag("X-DATE-RECEIVED: "), parts[0].Tag("X-DATE-RECEIVED: "));
  EXPECT_EQ(parts[1].Tag("Charset: "), "");
  EXPECT_TRUE(parts[0].Tag("MsgID: ").ends_with(":001"));
  EXPECT_TRUE(parts[1].Tag("MsgID: ").ends_with(":002"));
  // Pictures of a related message stay inside it (the Outlook message above has only its PDF).
  EmlText text = ExtractEmlTextFromBytes(Fixture("apple_alternative.eml"));
  ASSERT_TRUE(text.found);
  ASSERT_FALSE(text.lines.empty());
  EXPECT_EQ(text.lines[0], "Minutes attached.");
  EXPECT_EQ(text.charset, "us-ascii");
}

TEST(MimeRealWorld, DigestMessagesBecomePartsNamedAfterTheirOwnSubjects) {
  // A digest part without Content-Type is a message, not text.
  SpoolFixture f;
  auto parts = f.Split(Fixture("digest.eml"));
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].d.name, "Gardening Digest, Vol 12, Issue 3");
  EXPECT_EQ(parts[1].d.kind, "txt");
  EXPECT_EQ(parts[1].d.name, "Frost cloth");
  EXPECT_EQ(parts[1].d.from, "Ben <ben@example.com>");
  EXPECT_EQ(parts[1].content, "Does anyone use frost cloth on raised beds?\r\n\r\n");
  EXPECT_EQ(parts[1].Tag("Date: "), "Date: Thu, 3 Dec 2026 20:01:00 +0000");
  EXPECT_EQ(parts[2].d.name, "Re: Frost cloth");
  EXPECT_EQ(parts[2].d.from, "Cara <cara@example.com>");
  EXPECT_EQ(parts[2].Tag("Charset: "), "Charset: utf-8");
  EXPECT_EQ(parts[2].content, "Yes, it works well down to \xE2\x88\x92" "5 \xC2\xB0" "C.\r\n\r\n");
  EXPECT_EQ(parts[3].d.name, "Gardening Digest, Vol 12, Issue 3");
  EXPECT_NE(parts[3].content.find("Gardening mailing list"), std::string::npos);
  for (const Part& p : parts) EXPECT_FALSE(p.Tag("MsgID: ").empty());
}

TEST(MimeRealWorld, EightBitMessageWithoutMimeKeepsItsBytes) {
  SpoolFixture f;
  auto parts = f.Split(Fixture("latin1_no_mime.eml"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].d.kind, "txt");
  EXPECT_EQ(parts[0].d.name, "Gr\xFC\xDF" "e aus M\xFCnchen");
  EXPECT_EQ(parts[0].d.from, "J\xFCrgen <juergen@example.de>");
  EXPECT_EQ(parts[0].content, "Gr\xFC\xDF Gott,\r\nbis Montag \xE0 10 Uhr.\r\n-- \r\nJ\xFCrgen\r\n");
  // No charset was declared: the part is in the default charset.
  EXPECT_EQ(parts[0].Tag("Charset: "), "");
  EXPECT_EQ(parts[0].Tag("X-DATE-RECEIVED: "), "X-DATE-RECEIVED: 12/07/26 07:00:00");

  // Opened as a document it reads in the mail default charset, not as broken UTF-8.
  QTemporaryDir tmp;
  RandomSource random(5);
  MhtmlDocument doc;
  ASSERT_TRUE(ReadMhtmlMemory(Fixture("latin1_no_mime.eml"), tmp.path().toStdString() + "/", random, doc));
  EXPECT_TRUE(doc.html.starts_with("Gr\xC3\xBC\xC3\x9F Gott,<BR>")) << doc.html;
}

TEST(MimeRealWorld, DispositionFileNameNamesAPictureWithoutContentTypeName) {
  SpoolFixture f;
  auto parts = f.Split(Fixture("disposition_name.eml"));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].d.kind, "txt");
  EXPECT_EQ(parts[0].d.name, "Photo");
  EXPECT_EQ(parts[1].d.kind, "jpg");
  EXPECT_EQ(parts[1].d.name, "beach day.jpg");
  EXPECT_EQ(parts[1].content, "\xFF\xD8\xFF\xE0" + Bytes(0, 100) + "\xFF\xD9");
  EXPECT_EQ(parts[1].Tag("X-DATE-RECEIVED: "), "X-DATE-RECEIVED: 12/08/26 17:00:00");
}

}  // namespace
}  // namespace px::mailformat
