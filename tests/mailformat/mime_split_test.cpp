// The spool splitter on hand-made messages like those other mail programs send.
#include <gtest/gtest.h>

#include <QDir>

#include "foundation/dates.h"
#include "mailformat/mail_date.h"
#include "mailformat/mime_header.h"
#include "mailformat/mime_reader.h"
#include "mailformat/text_extract.h"
#include "mime_test_util.h"

namespace px::mailformat {
namespace {

using testing::Crlf;
using testing::Fixture;
using testing::Part;
using testing::SpoolFixture;

TEST(MimeSplit, MessageWithoutMimeIsOneTextPartNamedAfterItsSubject) {
  SpoolFixture f;
  SplitResult r;
  auto parts = f.Split(Fixture("plain.eml"), {}, &r);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(parts.size(), 1u);
  const Part& p = parts[0];
  EXPECT_EQ(p.d.to, "rob@example.com");
  EXPECT_EQ(p.d.from, "Quinn <quinn@example.com>");
  EXPECT_EQ(p.d.kind, "txt");
  EXPECT_EQ(p.d.name, "No MIME at all");
  EXPECT_EQ(p.content, "Just text.\r\nSecond line.\r\n");
  EXPECT_EQ(p.Tag("Date: "), "Date: Sat, 8 Mar 2025 08:00:00 +0000");
  EXPECT_EQ(p.Tag("X-DATE-RECEIVED: "), "X-DATE-RECEIVED: 03/08/25 08:00:00");
  // A single part gets no message id.
  EXPECT_EQ(p.Tag("MsgID: "), "");
}

TEST(MimeSplit, AlternativeInsideMixedIsKeptAsOneEmlPartBesideTheAttachment) {
  SpoolFixture f;
  auto parts = f.Split(Crlf(
      "From: a@x\nTo: b@y\nSubject: S\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"m\"\n\n"
      "--m\nContent-Type: multipart/alternative; boundary=\"a\"\n\n"
      "--a\nContent-Type: text/plain\n\nplain\n--a\nContent-Type: text/html\n\n<b>html</b>\n--a--\n"
      "--m\nContent-Type: image/png; name=\"p.png\"\nContent-Transfer-Encoding: base64\n\nAAEC\n--m--\n"));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].d.kind, "eml");
  EXPECT_EQ(parts[0].d.name, "S");
  // Outer headers first, then only the inner Content-Type.
  EXPECT_EQ(parts[0].content,
            Crlf("From: a@x\nTo: b@y\nSubject: S\nMIME-Version: 1.0\n"
                 "Content-Type: multipart/alternative; boundary=\"a\"\n\n"
                 "--a\nContent-Type: text/plain\n\nplain\n--a\nContent-Type: text/html\n\n<b>html</b>\n--a--"));
  EXPECT_EQ(parts[1].d.kind, "png");
  EXPECT_EQ(parts[1].d.name, "p.png");
  EXPECT_EQ(parts[1].content, std::string("\x00\x01\x02", 3));
  // The group shares one base with part numbers in production order.
  std::string id1 = parts[0].Tag("MsgID: "), id2 = parts[1].Tag("MsgID: ");
  ASSERT_FALSE(id1.empty());
  EXPECT_TRUE(id1.ends_with(":001"));
  EXPECT_TRUE(id2.ends_with(":002"));
  EXPECT_EQ(id1.substr(0, id1.size() - 4), id2.substr(0, id2.size() - 4));
  EXPECT_EQ(parts[0].d.tagged.back(), id1);  // the id is the last line
}

TEST(MimeSplit, Base64AttachmentDecodesToTheOriginalBytes) {
  SpoolFixture f;
  auto parts = f.Split(Fixture("base64_attachment.eml"));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].d.kind, "txt");
  EXPECT_EQ(parts[0].content, "The report is attached.");
  EXPECT_EQ(parts[0].Tag("Charset: "), "Charset: utf-8");
  EXPECT_EQ(parts[1].d.kind, "pdf");
  EXPECT_EQ(parts[1].d.name, "report.pdf");
  EXPECT_EQ(parts[1].content, Fixture("report.pdf.bin"));
  // -0500: 09:00 local is 14:00 UTC.
  EXPECT_EQ(parts[1].Tag("X-DATE-RECEIVED: "), "X-DATE-RECEIVED: 03/03/25 14:00:00");
}

TEST(MimeSplit, ForwardedMessageJoinsTheGroupWithItsOwnHeaders) {
  SpoolFixture f;
  auto parts = f.Split(Fixture("forwarded.eml"));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].d.name, "Fwd: Minutes");
  EXPECT_EQ(parts[0].content, "See the message below.");
  EXPECT_EQ(parts[1].d.from, "Ivan <ivan@example.com>");
  EXPECT_EQ(parts[1].d.name, "Minutes");
  EXPECT_EQ(parts[1].content, "The minutes are attached.");
  EXPECT_EQ(parts[2].d.kind, "txt");
  EXPECT_EQ(parts[2].d.name, "minutes.txt");
  EXPECT_EQ(parts[2].content, "1. Budget\r\n2. Dates");
  for (const Part& p : parts) EXPECT_FALSE(p.Tag("MsgID: ").empty());
}

TEST(MimeSplit, BrokenBoundariesStillYieldEveryPart) {
  // The inner multipart is never closed and the outer boundaries carry trailing blanks: the
  // outer boundary still ends the inner part, and nothing after it is lost.
  SpoolFixture f;
  auto parts = f.Split(Fixture("broken_boundary.eml"));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].content, "first");
  EXPECT_EQ(parts[1].d.name, "second.txt");
  EXPECT_EQ(parts[1].content, "second");
}

TEST(MimeSplit, MissingBoundaryMakesTheRestOnePart) {
  SpoolFixture f;
  auto parts = f.Split(Crlf("Subject: S\nContent-Type: multipart/mixed; boundary=\"zz\"\n\nno parts here\nat all\n"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].d.kind, "eml");
  EXPECT_NE(parts[0].content.find("no parts here\r\nat all\r\n"), std::string::npos);
}

TEST(MimeSplit, MissingClosingBoundaryEndsAtTheEndOfTheFile) {
  SpoolFixture f;
  auto parts = f.Split(Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n--b\n\ntwo\n"));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].content, "two\r\n");
}

TEST(MimeSplit, BoundaryThatExtendsAnotherDoesNotEndIt) {
  SpoolFixture f;
  auto parts = f.Split(Crlf(
      "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: multipart/mixed; boundary=b2\n\n"
      "--b2\n\ninner\n--b2--\n--b\n\nouter\n--b--\n"));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].content, "inner");
  EXPECT_EQ(parts[1].content, "outer");
}

TEST(MimeSplit, SubPartWithoutContentTypeIsPlainTextAndInheritsTheMessageValues) {
  SpoolFixture f;
  auto parts = f.Split(Crlf(
      "From: a@x\nSubject: Hello\nDate: Tue, 4 Mar 2003 10:00:00 +0100\n"
      "Content-Type: multipart/mixed; boundary=b; charset=koi8-r\n\n--b\n\nbody\n--b--\n"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].d.kind, "txt");
  EXPECT_EQ(parts[0].d.from, "a@x");
  EXPECT_EQ(parts[0].d.name, "Hello");
  EXPECT_EQ(parts[0].Tag("Charset: "), "Charset: koi8-r");
  EXPECT_EQ(parts[0].Tag("Date: "), "Date: Tue, 4 Mar 2003 10:00:00 +0100");
}

TEST(MimeSplit, QuotedPrintableSoftBreaksAreJoined) {
  SpoolFixture f;
  auto parts = f.Split(Crlf("Content-Transfer-Encoding: quoted-printable\n\nabc=\ndef\nx=3Dy\n"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].content, "abcdef\r\nx=y\r\n");
}

TEST(MimeSplit, UuencodedBodyIsDecoded) {
  SpoolFixture f;
  auto parts = f.Split(Fixture("uuencoded.eml"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].d.kind, "txt");
  EXPECT_EQ(parts[0].d.name, "hello.txt");
  EXPECT_EQ(parts[0].content, "hello world\n");
}

TEST(MimeSplit, EncodedWordsInSubjectAndFileName) {
  SpoolFixture f;
  auto parts = f.Split(Fixture("encoded_words.eml"));
  ASSERT_EQ(parts.size(), 2u);
  // The text part's lines are in its charset (adjacent words joined without the blank); the
  // sender's UTF-8 name is written in it too.
  EXPECT_EQ(parts[0].Tag("Charset: "), "Charset: iso-8859-1");
  EXPECT_EQ(parts[0].d.name, "R\xE9sum\xE9 attached");
  EXPECT_EQ(parts[0].d.from, "J\xFCrgen M\xFCller <juergen@example.de>");
  // A named file that is not text has no charset: its lines are UTF-8.
  EXPECT_EQ(parts[1].Tag("Charset: "), "");
  EXPECT_EQ(parts[1].d.name, "Lebenslauf M\xC3\xBCller.txt");
  EXPECT_EQ(parts[1].d.from, "J\xC3\xBCrgen M\xC3\xBCller <juergen@example.de>");
  EXPECT_EQ(parts[1].content, "Hallo");
}

TEST(MimeSplit, ExtendedParameterFileNames) {
  SpoolFixture f;
  auto parts = f.Split(Crlf(
      "Subject: =?iso-8859-1?Q?caf=E9?=\nContent-Type: multipart/mixed; boundary=b\n\n"
      "--b\nContent-Type: application/pdf\nContent-Disposition: attachment;\n filename*=utf-8''M%C3%BCller%20CV.pdf\n\nx\n"
      "--b\nContent-Type: application/pdf\nContent-Disposition: attachment; filename*=iso-8859-1'de'M%FCller.pdf\n\nx\n"
      "--b\nContent-Type: text/plain; name=\"plain.txt\"\n\nx\n"
      // Long names come in numbered pieces, encoded or not.
      "--b\nContent-Type: application/pdf\nContent-Disposition: attachment;\n"
      " filename*0*=utf-8''Quartalsbericht%20M%C3%BC;\n filename*1*=nchen%202026.pdf\n\nx\n"
      "--b\nContent-Type: application/pdf\nContent-Disposition: attachment;\n"
      " filename*0=\"Annual report \"; filename*1=\"2026.pdf\"\n\nx\n--b--\n"));
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0].d.name, "M\xC3\xBCller CV.pdf");
  EXPECT_EQ(parts[1].d.name, "M\xC3\xBCller.pdf");
  // A plain name is not converted with the charset of the subject's encoded word.
  EXPECT_EQ(parts[2].d.name, "plain.txt");
  EXPECT_EQ(parts[3].d.name, "Quartalsbericht M\xC3\xBCnchen 2026.pdf");
  EXPECT_EQ(parts[3].d.kind, "pdf");
  EXPECT_EQ(parts[4].d.name, "Annual report 2026.pdf");
}

TEST(MimeSplit, UnnamedPartsTakeTheKindOfTheirType) {
  // Text stays "txt"; a picture or document without a file name keeps a matching extension.
  SpoolFixture f;
  auto parts = f.Split(Crlf(
      "Subject: Scan\nContent-Type: multipart/mixed; boundary=b\n\n"
      "--b\n\nbody\n"
      "--b\nContent-Type: image/jpeg\nContent-Transfer-Encoding: base64\n\n/9j/\n"
      "--b\nContent-Type: application/pdf\n\n%PDF\n"
      "--b\nContent-Type: message/delivery-status\n\nStatus: 5.0.0\n"
      "--b\nContent-Type: application/x-unheard-of\n\nx\n--b--\n"));
  ASSERT_EQ(parts.size(), 5u);
  const char* kinds[] = {"txt", "jpg", "pdf", "txt", "bin"};
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i].d.kind, kinds[i]) << i;
    EXPECT_EQ(parts[i].d.name, "Scan") << i;
  }
}

TEST(MimeSplit, HtmlBodyIsKeptAsEmlButANamedHtmlAttachmentIsDecoded) {
  SpoolFixture f;
  auto parts = f.Split(Crlf(
      "Content-Type: multipart/mixed; boundary=b\n\n"
      "--b\nContent-Type: text/html\nContent-Transfer-Encoding: base64\n\nPGI+aGk8L2I+\n"
      "--b\nContent-Type: text/html; name=page.html\nContent-Transfer-Encoding: base64\n\nPGI+aGk8L2I+\n"
      "--b\nContent-Type: text/html\nContent-Location: http://example.com/news/index.htm\n"
      "Content-Transfer-Encoding: quoted-printable\n\n<p class=3D\"x\">caf=C3=A9</p>\n--b--\n"));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].d.kind, "eml");
  EXPECT_NE(parts[0].content.find("Content-Transfer-Encoding: base64\r\n\r\nPGI+aGk8L2I+"), std::string::npos);
  EXPECT_EQ(parts[1].d.kind, "html");
  EXPECT_EQ(parts[1].content, "<b>hi</b>");
  // A page named by its location is a file too, not MIME text under an ".htm" name.
  EXPECT_EQ(parts[2].d.kind, "htm");
  EXPECT_EQ(parts[2].d.name, "index.htm");
  EXPECT_EQ(parts[2].content, "<p class=\"x\">caf\xC3\xA9</p>");
}

TEST(MimeSplit, ReceivedDateWinsOverDateAndZonesAreApplied) {
  struct Case { const char* received; const char* expected; };
  const Case cases[] = {
      {"from a by b; Tue, 4 Mar 2003 10:15:00 +0100", "X-DATE-RECEIVED: 03/04/03 09:15:00"},
      {"from a by b; Tue, 4 Mar 2003 10:15:00 -0500", "X-DATE-RECEIVED: 03/04/03 15:15:00"},
      {"from a by b; Tue, 4 Mar 2003 10:15:00 GMT", "X-DATE-RECEIVED: 03/04/03 10:15:00"},
      {"from a by b; Tue, 4 Mar 2003 10:15:00 +0000 (UTC)", "X-DATE-RECEIVED: 03/04/03 10:15:00"},
  };
  for (const Case& c : cases) {
    SpoolFixture f;
    auto parts = f.Split(Crlf(std::string("Received: by c; Mon, 1 Jan 2001 00:00:00 +0000\nReceived: ") +
                              c.received + "\nReceived: from z; Wed, 5 Mar 2003 00:00:00 +0000\n"
                              "Date: Sat, 1 Mar 2003 00:00:00 +0000\n\nx\n"));
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].Tag("X-DATE-RECEIVED: "), c.expected) << c.received;
  }
  SpoolFixture f;
  auto parts = f.Split(Crlf("Date: not a date\n\nx\n"));
  EXPECT_EQ(parts[0].Tag("X-DATE-RECEIVED"), "");
}

TEST(MimeSplit, ParseMailDateForms) {
  EXPECT_EQ(FormatShortDate(ParseMailDate("Tue, 4 Mar 2003 10:00:00 +0100")), "03/04/03 09:00:00");
  EXPECT_EQ(FormatShortDate(ParseMailDate("4 Mar 2003 10:00 +0100")), "03/04/03 09:00:00");
  EXPECT_EQ(FormatShortDate(ParseMailDate("Sun, 31 Dec 1950 23:30:00 -0100")), "01/01/51 00:30:00");
  EXPECT_EQ(ParseMailDate(""), 0);
  EXPECT_EQ(ParseMailDate("yesterday"), 0);
  EXPECT_EQ(ParseMailDate("Tue, 4 Mar"), 0);
}

// ---- untrusted input ---------------------------------------------------------------------------

TEST(MimeSplit, PseudoHeadersCountOnlyFromTrustedSources) {
  const std::string msg = Crlf("_Folder: Work\\Projects\n_Outbound: *\nX-Plumadex-Account: home\n"
                               "From: me@x\nSubject: S\n\nbody\n");
  {
    SpoolFixture f;
    auto parts = f.Split(msg);  // network mail
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].Tag("_Folder"), "");
    EXPECT_FALSE(parts[0].HasLine("_Outbound"));
    EXPECT_EQ(parts[0].Tag("X-Plumadex-Account"), "");
  }
  {
    SpoolFixture f;
    SplitOptions o;
    o.trust = SourceTrust::Trusted;
    auto parts = f.Split(msg, o);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].Tag("_Folder: "), "_Folder: Work\\Projects");
    EXPECT_TRUE(parts[0].HasLine("_Outbound"));
    EXPECT_EQ(parts[0].Tag("X-Plumadex-Account: "), "X-Plumadex-Account: home");
  }
}

TEST(MimeSplit, ReceiverTrustHonoursOnlyTheAccountLineItAppended) {
  SplitOptions o;
  o.trust = SourceTrust::Receiver;
  {
    SpoolFixture f;  // a forged line from the sender, then the receiver's own last line
    auto parts = f.Split(InsertAccountHeader(Crlf("X-Plumadex-Account: forged\n_Folder: x\nSubject: S\n\nbody\n"), "pop"), o);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].Tag("X-Plumadex-Account: "), "X-Plumadex-Account: pop");
    EXPECT_EQ(parts[0].Tag("_Folder"), "");
  }
  {
    SpoolFixture f;  // an account line that is not the last header is the sender's
    auto parts = f.Split(Crlf("X-Plumadex-Account: forged\nSubject: S\n\nbody\n"), o);
    EXPECT_EQ(parts[0].Tag("X-Plumadex-Account"), "");
  }
}

TEST(MimeSplit, PseudoHeadersInsideTheMessageNeverCount) {
  SpoolFixture f;
  SplitOptions o;
  o.trust = SourceTrust::Trusted;
  auto parts = f.Split(Crlf("_Folder: Good\nContent-Type: multipart/mixed; boundary=b\n\n"
                            "--b\nContent-Type: text/html\n_Folder: Evil\n$$$Plumadex$$$: 1\n\n<p>x</p>\n"
                            "--b\nContent-Type: message/rfc822\n\n_Outbound: *\n_Folder: Evil2\n\ninner\n--b--\n"),
                       o);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].Tag("_Folder: "), "_Folder: Good");
  EXPECT_EQ(parts[1].Tag("_Folder: "), "_Folder: Good");
  EXPECT_TRUE(parts[1].HasLine("_Read"));
  EXPECT_FALSE(parts[1].HasLine("_Outbound"));
  // The copy stored in the EML text has them neutralised.
  EXPECT_TRUE(parts[0].content.starts_with("_Folder: Good\r\n"));
  EXPECT_NE(parts[0].content.find("\r\nX-Neutralised-_Folder: Evil\r\nX-Neutralised-$$$Plumadex$$$: 1\r\n"),
            std::string::npos);
}

TEST(MimeSplit, FolderValueNeverLeadsOutsideTheDataRoot) {
  struct Case { const char* value; const char* expected; };  // expected "" = no _Folder line
  const Case cases[] = {
      {"Work\\Projects", "_Folder: Work\\Projects"},
      {"Work/Projects/", "_Folder: Work\\Projects"},
      {"TRASH", "_Folder: TRASH"},
      {"", "_Folder: "},
      {"..\\..\\etc", ""},
      {"a/../../b", ""},
      {"/etc", ""},
      {"\\\\server\\share", ""},
      {"C:\\Windows", ""},
      {"a/./b", ""},
  };
  for (const Case& c : cases) {
    SpoolFixture f;
    SplitOptions o;
    o.trust = SourceTrust::Trusted;
    auto parts = f.Split(Crlf(std::string("_Folder: ") + c.value + "\nSubject: S\n\nx\n"), o);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].Tag("_Folder"), c.expected) << c.value;
  }
}

TEST(MimeSplit, ProgramMarkMakesSentOrReadMail) {
  SplitOptions o;
  o.trust = SourceTrust::Trusted;
  o.ownAddress = "me@example.com";
  {
    SpoolFixture f;
    auto parts = f.Split(Crlf("$$$Plumadex$$$: 1\nFrom: Me <ME@example.com>\n\nx\n"), o);
    EXPECT_TRUE(parts[0].HasLine("_Outbound"));
  }
  {
    SpoolFixture f;
    auto parts = f.Split(Crlf("_Folder: In\nReceived: from a; Tue, 4 Mar 2003 10:00:00 +0000\nFrom: me@example.com\n\nx\n"), o);
    EXPECT_TRUE(parts[0].HasLine("_Read"));
  }
  {
    SpoolFixture f;
    auto parts = f.Split(Crlf("_Folder: In\n_Draft: *\n\nx\n"), o);
    EXPECT_TRUE(parts[0].HasLine("_Draft"));
    EXPECT_FALSE(parts[0].HasLine("_Read"));
  }
}

TEST(MimeSplit, UnreadMarkKeepsImportedMailUnreadOnlyFromTrustedSources) {
  const std::string raw = Crlf("_Folder: In\n_Unread: *\nFrom: a@example.org\n\nx\n");
  {
    SpoolFixture f;
    SplitOptions o;
    o.trust = SourceTrust::Trusted;
    auto parts = f.Split(raw, o);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_FALSE(parts[0].HasLine("_Read"));
    EXPECT_EQ(parts[0].Tag("_Folder"), "_Folder: In");
  }
  // From the network neither line counts (and the mail is no import, so no "_Read" either).
  SpoolFixture f;
  auto parts = f.Split(raw);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_FALSE(parts[0].HasLine("_Read"));
  EXPECT_EQ(parts[0].Tag("_Folder"), "");
  EXPECT_TRUE(IsPseudoHeaderLine("_unread: *"));
}

TEST(MimeSplit, AttachmentNamesAreCleanedBeforeTheyNameAFile) {
  struct Case { const char* header; const char* kind; };
  const Case cases[] = {
      {"name=\"../../etc/passwd\"", "bin"},
      {"name=\"C:\\\\Windows\\\\evil.exe\"", "exe"},
      {"name=\"x.$$$_\"", "____"},
      {"name=\"x.$$$r\"", "___r"},
      {"name=\"Plumadex.ini\"", "ini"},
      {"name=\"$$$AB.x\"", "x"},
      {"name=\"..\"", "bin"},
      {"name=\"a=0D=0Ab.txt\"", "txt"},
  };
  for (const Case& c : cases) {
    SpoolFixture f;
    auto parts = f.Split(Crlf(std::string("Content-Type: application/octet-stream; ") + c.header + "\n\nx\n"));
    ASSERT_EQ(parts.size(), 1u) << c.header;
    const std::string& name = parts[0].d.name;
    EXPECT_EQ(parts[0].d.kind, c.kind) << c.header;
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_EQ(name.find('\\'), std::string::npos) << name;
    EXPECT_EQ(name.find('\r'), std::string::npos) << name;
    EXPECT_NE(name, "..");
    EXPECT_FALSE(name.starts_with("$$")) << name;
    EXPECT_FALSE(name == "Plumadex.ini") << name;
    EXPECT_FALSE(IsMarkerKind(parts[0].d.kind));
  }
  // An encoded word that hides a line break cannot add descriptor lines.
  SpoolFixture f;
  auto parts = f.Split(Crlf("Subject: =?utf-8?Q?a=0D=0A=5FFolder=3A_x?=\nTo: =?utf-8?Q?b=0A_Outbound?=\n\nx\n"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].d.tagged.size(), 2u);  // only "To: ..." and "Charset: utf-8"
  EXPECT_EQ(parts[0].Tag("_Folder"), "");
  EXPECT_FALSE(parts[0].HasLine("_Outbound"));
}

// A name too long for a file is cut in its stem, on a character boundary, keeping its
// extension; a part named after its Subject gets no control characters either.
TEST(MimeSplit, LongAttachmentNameKeepsItsExtensionAndSubjectNamesAreCleaned) {
  struct Case { std::string name; std::string ext; };
  const Case cases[] = {
      {std::string(300, 'a') + ".pdf", ".pdf"},
      {std::string(150, 'x') + std::string(60, 'y') + "\xc3\xa9\xc3\xa9\xc3\xa9.docx", ".docx"},
      {"\xe2\x82\xac" + std::string(400, 'b') + ".tar.gz", ".gz"},
  };
  for (const Case& c : cases) {
    SpoolFixture f;
    auto parts = f.Split(Crlf("Content-Type: application/octet-stream; name=\"" + c.name + "\"\n\nx\n"));
    ASSERT_EQ(parts.size(), 1u);
    const std::string& name = parts[0].d.name;
    EXPECT_LE(name.size(), 200u);
    EXPECT_TRUE(name.ends_with(c.ext)) << name;
    EXPECT_EQ(parts[0].d.kind, c.ext.substr(1));
    EXPECT_TRUE(IsValidUtf8(name)) << name;
  }
  SpoolFixture f;
  auto parts = f.Split(Crlf("Subject: a\x01" "b\x1b[2Jc\x7f\n\nbody\n"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].d.name, "a_b_[2Jc_");
}

// ---- bounds ------------------------------------------------------------------------------------

TEST(MimeSplit, NestingDeeperThanTheCapIsKeptAsOneUndecodedPart) {
  std::string msg;
  const int depth = 150;
  for (int i = 0; i < depth; ++i)
    msg += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\n\n--b" + std::to_string(i) + "\n";
  msg += "Content-Type: text/plain\n\ndeep text\n";
  for (int i = depth - 1; i >= 0; --i) msg += "--b" + std::to_string(i) + "--\n";
  msg += "";
  SpoolFixture f;
  auto parts = f.Split(Crlf(msg));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].d.kind, "eml");
  EXPECT_NE(parts[0].content.find("deep text"), std::string::npos);
  EXPECT_NE(parts[0].content.find("--b149--"), std::string::npos);
}

TEST(MimeSplit, PartCountIsBoundedAndTheRestIsKept) {
  std::string msg = "Content-Type: multipart/mixed; boundary=b\n\n";
  for (int i = 0; i < 30; ++i) msg += "--b\n\npart " + std::to_string(i) + "\n";
  msg += "--b--\n";
  SpoolFixture f;
  SplitOptions o;
  o.maxParts = 10;
  auto parts = f.Split(Crlf(msg), o);
  ASSERT_EQ(parts.size(), 10u);
  EXPECT_NE(parts.back().content.find("part 29"), std::string::npos);
}

TEST(MimeSplit, LongLinesAndBareLineFeedsAreHandled) {
  std::string big(3 << 20, 'A');  // a 3 MB base64 line without breaks
  SpoolFixture f;
  auto parts = f.Split("Content-Transfer-Encoding: base64\n\n" + big + "\n");
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].content.size(), big.size() / 4 * 3);
  EXPECT_EQ(parts[0].content.find_first_not_of('\0'), std::string::npos);
}

TEST(MimeSplit, EmptyInputMakesOneEmptyPart) {
  SpoolFixture f;
  auto parts = f.Split("");
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].content, "");
  EXPECT_EQ(parts[0].d.kind, "txt");
}

// ---- text extraction ----------------------------------------------------------------------------

TEST(MimeExtract, TextOfAnAlternativeMessageIsItsPlainPart) {
  EmlText t = ExtractEmlTextFromBytes(Fixture("alternative.eml"));
  ASSERT_TRUE(t.found);
  EXPECT_EQ(t.charset, "utf-8");
  ASSERT_EQ(t.lines.size(), 2u);
  EXPECT_EQ(t.lines[0], "Lunch at noon? ");
  EXPECT_EQ(t.lines[1], "See you there.");
}

TEST(MimeExtract, RelatedMessageGivesTheTextInsideItsAlternative) {
  EmlText t = ExtractEmlTextFromBytes(Fixture("inline_images.eml"));
  ASSERT_TRUE(t.found);
  EXPECT_EQ(t.charset, "iso-8859-1");
  ASSERT_FALSE(t.lines.empty());
  EXPECT_EQ(t.lines[0], "Here are the photos. Caf\xE9 by the lake.");
}

TEST(MimeExtract, HtmlOnlyMessageHasNoText) {
  EmlText t = ExtractEmlTextFromBytes(Crlf("Content-Type: text/html\n\n<p>x</p>\n"));
  EXPECT_FALSE(t.found);
  EXPECT_TRUE(t.lines.empty());
}

TEST(MimeExtract, ExtractionWritesNothing) {
  QTemporaryDir dir;
  std::string path = dir.path().toStdString() + "/m.eml";
  px::test::writeFile(path, Fixture("forwarded.eml"));
  EmlText t = ExtractEmlText(path);
  ASSERT_TRUE(t.found);
  EXPECT_EQ(t.lines, std::vector<std::string>{"See the message below."});
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);
}


// A small message that would multiply itself when split: nested multiparts holding many HTML
// parts, each stored whole, under a large header block. What it writes stays within a small
// multiple of its size; a message that cannot be split within that is kept whole.
TEST(MimeSplit, AmplifyingMessageStaysWithinItsBound) {
  struct Case {
    const char* what;
    std::string topHeaders;  // header lines of the message itself
    bool keptWhole;          // expected: one part holding the message as it came
  };
  std::string manyLines;
  for (int i = 0; manyLines.size() < 60 * 1024; ++i)
    manyLines += "X-Filler-" + std::to_string(i) + ": " + std::string(60, 'f') + "\n";
  const Case cases[] = {
      {"a large block of other header lines", "Subject: hello\n" + manyLines, false},
      {"a very long subject", "Subject: " + std::string(30 * 1024, 's') + "\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string msg = "From: a@example.org\nTo: b@example.org\n" + c.topHeaders +
                      "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n";
    for (int g = 0; g < 10; ++g) {
      msg += "--outer\nContent-Type: multipart/mixed; boundary=\"inner" + std::to_string(g) + "\"\n\n";
      for (int i = 0; i < 60; ++i)
        msg += "--inner" + std::to_string(g) + "\nContent-Type: text/html\n\n<P>" + std::to_string(i) + "</P>\n";
      msg += "--inner" + std::to_string(g) + "--\n";
    }
    msg += "--outer--\n";
    msg = Crlf(msg);

    SpoolFixture f;
    SplitResult r;
    auto parts = f.Split(msg, {}, &r);
    ASSERT_TRUE(r.ok()) << r.error;
    uint64_t written = 0;
    for (const auto& name : f.Files()) written += px::test::readFile(f.folder() + "/" + name).size();
    EXPECT_LE(written, 4 * msg.size() + (1u << 20));
    if (c.keptWhole) {
      ASSERT_EQ(parts.size(), 1u);
      EXPECT_EQ(parts[0].d.kind, "eml");
      EXPECT_NE(parts[0].content.find("<P>59</P>"), std::string::npos);
      EXPECT_NE(parts[0].content.find("--outer--"), std::string::npos);
    } else {
      ASSERT_EQ(parts.size(), 600u);
      // Each HTML part still shows who wrote it and about what, under its own type.
      EXPECT_NE(parts[0].content.find("From: a@example.org\r\n"), std::string::npos);
      EXPECT_NE(parts[0].content.find("Subject: hello\r\n"), std::string::npos);
      EXPECT_NE(parts[0].content.find("Content-Type: text/html\r\n"), std::string::npos);
      EXPECT_EQ(parts[0].content.find("X-Filler-"), std::string::npos);
      EXPECT_EQ(parts[0].content.find("multipart/mixed"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace px::mailformat

namespace px::mailformat {
namespace {

// A reply needs the message's own id and the ids before it in its thread: they travel on the
// descriptor and become index keys. Ids that are not "<...@...>" are dropped, and only the
// newest references are kept.
TEST(MimeSplit, MessageIdAndReferencesTravelToTheIndexKeys) {
  std::string refs;
  for (int i = 0; i < 30; ++i) refs += " <r" + std::to_string(i) + "@x.org>";
  const struct {
    std::string headers;
    std::string messageId, references;
  } cases[] = {
      {"Message-ID: <m1@x.org>\nIn-Reply-To: <p@x.org>\nReferences: <a@x.org>\n <p@x.org> junk <bad>\n",
       "<m1@x.org>", "<a@x.org> <p@x.org>"},
      {"Message-ID: <m2@x.org>\nIn-Reply-To: <p@x.org> (the parent)\n", "<m2@x.org>", "<p@x.org>"},
      {"Message-ID: not-an-id\nReferences:" + refs + "\n", "", refs.substr(refs.find("<r10@"))},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    SpoolFixture f;
    auto parts = f.Split(Crlf("From: a@x.org\nTo: b@y.org\nSubject: S\n" + c.headers + "\nbody\n"));
    ASSERT_EQ(parts.size(), 1u) << c.headers;
    EXPECT_EQ(parts[0].Tag("Message-ID: "), c.messageId.empty() ? "" : "Message-ID: " + c.messageId) << c.headers;
    EXPECT_EQ(parts[0].Tag("References: "), c.references.empty() ? "" : "References: " + c.references) << c.headers;
    const DescriptorTags t = ReadDescriptorTags(parts[0].d);
    EXPECT_EQ(t.Key("Message-ID"), c.messageId) << c.headers;
    EXPECT_EQ(t.Key("References"), c.references) << c.headers;
  }
}

// A picture beside the HTML (not inside a multipart/related) becomes a part of its own; its
// Content-ID goes with it, so that the viewer can show it where the HTML says "cid:".
TEST(MimeSplit, APictureBesideTheHtmlKeepsItsContentId) {
  SpoolFixture f;
  auto parts = f.Split(Crlf(
      "From: a@x.org\nTo: b@y.org\nSubject: S\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=\"m\"\n\n"
      "--m\nContent-Type: multipart/alternative; boundary=\"a\"\n\n"
      "--a\nContent-Type: text/plain\n\nplain\n--a\nContent-Type: text/html\n\n<img src=\"cid:pic1@x.org\">\n--a--\n"
      "--m\nContent-Type: image/png; name=\"p.png\"\nContent-ID: <pic1@x.org>\nContent-Transfer-Encoding: base64\n\n"
      "AAEC\n--m\nContent-Type: image/png; name=\"q.png\"\nContent-ID: <bad id>\n"
      "Content-Transfer-Encoding: base64\n\nAAEC\n--m--\n"));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].Tag("Content-ID: "), "");
  EXPECT_EQ(parts[1].Tag("Content-ID: "), "Content-ID: pic1@x.org");
  EXPECT_EQ(ReadDescriptorTags(parts[1].d).Key("Content-ID"), "pic1@x.org");
  EXPECT_EQ(parts[2].Tag("Content-ID: "), "");
}

}  // namespace
}  // namespace px::mailformat
