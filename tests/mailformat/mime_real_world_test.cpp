// Messages shaped like those common mail programs and mailing lists send, split as a user would
// expect to find them in a folder.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <list>
#include <map>
#include <sstream>

#include "foundation/random.h"
#include "mailformat/codecs.h"
#include "mailformat/mhtml_reader.h"
#include "mailformat/part_descriptor.h"
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
  EXPECT_EQ(parts[1].content, "Does anyone use frost cloth on raised beds?\r\n");
  EXPECT_EQ(parts[1].Tag("Date: "), "Date: Thu, 3 Dec 2026 20:01:00 +0000");
  EXPECT_EQ(parts[2].d.name, "Re: Frost cloth");
  EXPECT_EQ(parts[2].d.from, "Cara <cara@example.com>");
  EXPECT_EQ(parts[2].Tag("Charset: "), "Charset: utf-8");
  EXPECT_EQ(parts[2].content, "Yes, it works well down to \xE2\x88\x92" "5 \xC2\xB0" "C.\r\n");
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


// Messages written the way other mail programs write them (tests/data/mime/real, made with
// Python's email package): every attached file comes out byte for byte as it was attached, under
// its own name, decoded once.
TEST(MimeRealWorld, AttachmentsOfOtherProgramsComeOutByteForByte) {
  const std::string dir = std::string(PX_TEST_DATA) + "/mime/real/";
  std::istringstream table(px::test::readFile(dir + "expected.tsv"));
  std::map<std::string, std::vector<Part>> split;
  std::list<SpoolFixture> spools;
  std::string row;
  int rows = 0;
  while (std::getline(table, row)) {
    if (row.empty() || row[0] == '#') continue;
    std::vector<std::string> col;
    std::istringstream cells(row);
    for (std::string c; std::getline(cells, c, '\t');) col.push_back(c);
    col.resize(5);
    const std::string& message = col[0];
    if (!split.count(message)) {
      SplitResult r;
      split[message] = spools.emplace_back().Split(px::test::readFile(dir + message), {}, &r);
      EXPECT_TRUE(r.ok()) << message;
    }
    const auto& parts = split[message];
    size_t index = std::stoul(col[1]);
    ASSERT_LE(index, parts.size()) << message;
    const Part& p = parts[index - 1];
    std::string charset = p.Tag("Charset: ").empty() ? "" : p.Tag("Charset: ").substr(9);
    EXPECT_EQ(p.d.kind, col[2]) << message << " part " << index;
    EXPECT_EQ(DescriptorTextToUtf8(p.d.name, charset), col[3]) << message << " part " << index;
    if (!col[4].empty())
      EXPECT_EQ(p.content, px::test::readFile(dir + "originals/" + col[4])) << message << " " << col[4];
    ++rows;
  }
  EXPECT_GE(rows, 20);
  // Nothing more than the listed parts: the epilogue after "--b-->" is not an attachment.
  EXPECT_EQ(split["office_client.eml"].size(), 4u);
  EXPECT_EQ(split["flowed_client.eml"].size(), 5u);
  EXPECT_EQ(split["signed.eml"].size(), 2u);
  EXPECT_EQ(split["forwarded_whole.eml"].size(), 3u);
  EXPECT_EQ(split["html_related.eml"].size(), 2u);  // the picture stays inside the message
}

TEST(MimeRealWorld, DispositionFileNameWinsOverTheTypeName) {
  for (bool dispositionFirst : {false, true}) {
    std::string type = "Content-Type: image/bmp; name=\"clock.bmp,69c\"\n";
    std::string disposition = "Content-Disposition: attachment; filename=\"clock.bmp\"\n";
    SpoolFixture f;
    auto parts = f.Split(testing::Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n--b\n" +
                                       (dispositionFirst ? disposition + type : type + disposition) +
                                       "Content-Transfer-Encoding: base64\n\nQk0=\n--b--\n"));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].d.name, "clock.bmp") << dispositionFirst;
    EXPECT_EQ(parts[1].d.kind, "bmp");
  }
  // Without a file name in the disposition the type's name stays.
  SpoolFixture f;
  auto parts = f.Split(testing::Crlf("Content-Type: image/png; name=\"a.png\"\n"
                                     "Content-Disposition: inline\n\nx\n"));
  EXPECT_EQ(parts[0].d.name, "a.png");
}

TEST(MimeRealWorld, NamesAreInTheDescriptorsCharsetAndDecodeOnce) {
  // The message's text is ISO-8859-1 (its subject says so), its attachments named every way.
  struct Case { const char* headers; const char* name; const char* charset; };
  const Case cases[] = {
      {"Content-Type: application/pdf; name=\"=?utf-8?Q?r=C3=A9sum=C3=A9.pdf?=\"", "r\xC3\xA9sum\xC3\xA9.pdf", ""},
      {"Content-Type: application/pdf; name=\"=?iso-8859-1?Q?r=E9sum=E9.pdf?=\"", "r\xC3\xA9sum\xC3\xA9.pdf", ""},
      {"Content-Type: application/pdf; name=\"=?UTF-8?B?csOpc3Vtw6kucGRm?=\"", "r\xC3\xA9sum\xC3\xA9.pdf", ""},
      {"Content-Type: application/pdf\nContent-Disposition: attachment; filename*=utf-8''r%C3%A9sum%C3%A9.pdf",
       "r\xC3\xA9sum\xC3\xA9.pdf", ""},
      {"Content-Type: application/pdf\nContent-Disposition: attachment; filename*=iso-8859-1'fr'r%E9sum%E9.pdf",
       "r\xC3\xA9sum\xC3\xA9.pdf", ""},
      {"Content-Type: application/pdf; name=\"resume.pdf\"", "resume.pdf", ""},
      // Raw 8-bit bytes in the part's charset.
      {"Content-Type: application/pdf; charset=iso-8859-1; name=\"r\xE9sum\xE9.pdf\"", "r\xC3\xA9sum\xC3\xA9.pdf", ""},
      // A named text file keeps its charset, and its name is written in it.
      {"Content-Type: text/plain; charset=iso-8859-1; name=\"=?utf-8?Q?r=C3=A9sum=C3=A9.txt?=\"",
       "r\xC3\xA9sum\xC3\xA9.txt", "iso-8859-1"},
      {"Content-Type: text/plain; charset=utf-8; name=\"=?iso-8859-1?Q?r=E9sum=E9.txt?=\"",
       "r\xC3\xA9sum\xC3\xA9.txt", "utf-8"},
  };
  for (const Case& c : cases) {
    SpoolFixture f;
    auto parts = f.Split(testing::Crlf(std::string("From: =?utf-8?Q?Ren=C3=A9?= <r@x>\n"
                                                   "Subject: =?iso-8859-1?Q?Lebenslauf_f=FCr_Anna?=\n"
                                                   "Content-Type: multipart/mixed; boundary=b\n\n"
                                                   "--b\nContent-Type: text/plain; charset=iso-8859-1\n\nHallo\n--b\n") +
                                       c.headers + "\n\nx\n--b--\n"));
    ASSERT_EQ(parts.size(), 2u) << c.headers;
    auto charsetOf = [](const Part& p) {
      std::string t = p.Tag("Charset: ");
      return t.empty() ? t : t.substr(9);
    };
    // The body: its subject and sender in its own charset.
    EXPECT_EQ(charsetOf(parts[0]), "iso-8859-1");
    EXPECT_EQ(parts[0].d.name, "Lebenslauf f\xFCr Anna");
    EXPECT_EQ(DescriptorTextToUtf8(parts[0].d.name, charsetOf(parts[0])), "Lebenslauf f\xC3\xBCr Anna");
    EXPECT_EQ(DescriptorTextToUtf8(parts[0].d.from, charsetOf(parts[0])), "Ren\xC3\xA9 <r@x>");
    // The attachment: decoded once, whichever way it was named.
    EXPECT_EQ(charsetOf(parts[1]), c.charset) << c.headers;
    EXPECT_EQ(DescriptorTextToUtf8(parts[1].d.name, charsetOf(parts[1])), c.name) << c.headers;
    EXPECT_EQ(DescriptorTextToUtf8(parts[1].d.from, charsetOf(parts[1])), "Ren\xC3\xA9 <r@x>") << c.headers;
  }
  // Without a "Charset:" line, 8-bit text that is not UTF-8 is in the default charset.
  EXPECT_EQ(DescriptorTextToUtf8("Gr\xFC\xDF" "e", ""), "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(DescriptorTextToUtf8("Gr\xC3\xBC\xC3\x9F" "e", ""), "Gr\xC3\xBC\xC3\x9F" "e");
}

}  // namespace
}  // namespace px::mailformat
