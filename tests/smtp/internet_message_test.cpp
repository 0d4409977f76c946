// Building Internet messages from queued parts, read back with Python's email package and with
// the program's own MIME reader.
#include <gtest/gtest.h>

#include <QUrl>

#include "foundation/random.h"
#include "mailformat/mhtml_writer.h"
#include "mailformat/mime_reader.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/mime_test_util.h"
#include "smtp/smtp_fixture.h"
#include "support/test_support.h"
#include "transport/smtp/internet_message.h"

using namespace px;
using namespace px::transport;
using namespace px::transport::testing;

namespace {

class FakeEditor : public mailformat::HtmlEditor {
public:
  std::string html;
  std::string Html() const override { return html; }
  void SetHtml(std::string_view h, const std::string&) override { html = h; }
  void PasteHtml(std::string_view h) override { html += h; }
};

std::string Binary(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 7)) & 0xFF);
  return s;
}

std::string Crlf(std::string_view s) { return mailformat::testing::Crlf(s); }

class InternetMessageTest : public ::testing::Test {
protected:
  MimePart File(const std::string& name, const std::string& bytes, const std::string& charset = {}) {
    std::string path = home.path("docs/") + name;
    test::makeDirs(home.path("docs/"));
    test::writeFile(path, bytes);
    size_t dot = name.rfind('.');
    return {path, name, dot == std::string::npos ? std::string() : name.substr(dot + 1), charset};
  }

  std::string Build(const InternetMessage& m) {
    std::string out;
    const FileStatus st = WriteInternetMessage(m, random, [&out](std::string_view b) {
      out.append(b);
      return true;
    });
    EXPECT_TRUE(st.ok()) << st.message;
    return out;
  }

  // Writes the message to a file and reads it with Python.
  QJsonObject Python(const std::string& bytes) {
    std::string path = home.path("msg.eml");
    test::writeFile(path, bytes);
    return ReadWithPython(path);
  }

  std::vector<mailformat::testing::Part> Split(const std::string& bytes) { return spool.Split(bytes); }

  InternetMessage Basic() {
    InternetMessage m;
    m.from = "\"Ann Example\" <ann@example.org>";
    m.to = "\"Bob\" <bob@example.net>, carol@example.com";
    m.subject = "Quarterly figures";
    m.messageId = MakeMessageId("20261210150000123456789", m.from);
    return m;
  }

  test::TempHome home;
  RandomSource random{7};
  mailformat::testing::SpoolFixture spool;
};

// Every line is CR LF-terminated and at most 998 octets long.
void ExpectSafeLines(const std::string& bytes) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "unterminated last line";
    std::string_view line(bytes.data() + start, end - start);
    EXPECT_LE(line.size(), 998u);
    EXPECT_EQ(line.find('\n'), std::string_view::npos) << "bare LF";
    EXPECT_EQ(line.find('\r'), std::string_view::npos) << "bare CR";
    start = end + 2;
  }
}

}  // namespace

TEST_F(InternetMessageTest, TextBodiesArriveIntactInEveryShape) {
  struct Case {
    const char* label;
    std::string body;
    std::string charset;
    const char* encoding;
  };
  std::string longLine8bit = "Caf\xE9 " + std::string(1500, 'y') + "\r\n";
  const Case cases[] = {
      {"ascii", Crlf("Hello Bob,\n\nthe figures are attached.\n.\nAnn\n"), "", "7bit"},
      {"latin1", "Gr\xFC\xDF" "e aus K\xF6ln\r\n", "iso-8859-1", "quoted-printable"},
      {"utf8 long line", "\xCE\xA9 " + std::string(2000, 'x') + "\r\n", "utf-8", "quoted-printable"},
      {"8bit long line", longLine8bit, "windows-1252", "quoted-printable"},
      {"ascii long line", std::string(1200, 'a') + "\r\n", "", "quoted-printable"},
      {"no final newline", "last words", "", "quoted-printable"},
      {"trailing blanks", "tab\t\r\nblank \r\n", "", "7bit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    InternetMessage m = Basic();
    m.parts = {File("body.txt", c.body, c.charset)};
    std::string bytes = Build(m);
    ExpectSafeLines(bytes);
    QJsonObject py = Python(bytes);
    EXPECT_TRUE(py["defects"].toArray().isEmpty());
    EXPECT_EQ(py["content_type"].toString(), "text/plain");
    QJsonObject part = py["parts"].toArray()[0].toObject();
    EXPECT_EQ(part["cte"].toString().toStdString(), c.encoding);
    EXPECT_EQ(part["sha256"].toString().toStdString(), Sha256(c.body));
    EXPECT_EQ(part["charset"].toString().toStdString(), c.charset.empty() ? "utf-8" : c.charset);
    auto parts = Split(bytes);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].content, c.body);
  }
}

TEST_F(InternetMessageTest, AttachmentsCarryTheirBytesAndNames) {
  InternetMessage m = Basic();
  std::string pdf = Binary(200000, 1);
  std::string small = Binary(3, 2);
  std::string longName = "Gesch\xC3\xA4" "ftsbericht \xE2\x80\x94 Zusammenfassung f\xC3\xBCr den Vorstand und die "
                         "Aktion\xC3\xA4re 2026.pdf";
  m.parts = {File("body.txt", "See attached.\r\n"), File("figures.xls", pdf), File("x.bin", small),
             File("empty.dat", ""), File("Stra\xC3\x9F" "e.png", Binary(5000, 3)), File("a.pdf", pdf)};
  m.parts.back().name = longName;
  std::string bytes = Build(m);
  ExpectSafeLines(bytes);

  QJsonObject py = Python(bytes);
  EXPECT_TRUE(py["defects"].toArray().isEmpty());
  EXPECT_EQ(py["content_type"].toString(), "multipart/mixed");
  QJsonArray parts = py["parts"].toArray();
  ASSERT_EQ(parts.size(), 7);  // the container and six leaves
  struct Want {
    std::string name, bytes;
  };
  std::vector<Want> want = {{"figures.xls", pdf},
                            {"x.bin", small},
                            {"empty.dat", ""},
                            {"Stra\xC3\x9F" "e.png", Binary(5000, 3)},
                            {longName, pdf}};
  EXPECT_EQ(parts[1].toObject()["sha256"].toString().toStdString(), Sha256("See attached.\r\n"));
  EXPECT_TRUE(parts[1].toObject()["filename"].isNull());
  for (size_t i = 0; i < want.size(); ++i) {
    QJsonObject p = parts[int(i) + 2].toObject();
    SCOPED_TRACE(want[i].name);
    EXPECT_EQ(p["filename"].toString().toStdString(), want[i].name);
    EXPECT_EQ(p["sha256"].toString().toStdString(), Sha256(want[i].bytes));
    EXPECT_EQ(p["size"].toInt(), int(want[i].bytes.size()));
    EXPECT_TRUE(p["defects"].toArray().isEmpty());
  }

  // The program's own reader finds the same parts under the same names.
  auto own = Split(bytes);
  ASSERT_EQ(own.size(), 6u);
  // (The reader keeps the line break before the next boundary with a text.)
  EXPECT_TRUE(own[0].content.starts_with("See attached.\r\n"));
  EXPECT_EQ(own[0].content.find_first_not_of("\r\n", 13), std::string::npos);
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].name);
    EXPECT_EQ(own[i + 1].content, want[i].bytes);
    size_t dot = want[i].name.rfind('.');
    EXPECT_EQ(own[i + 1].d.name, want[i].name);
    EXPECT_EQ(own[i + 1].d.kind, want[i].name.substr(dot + 1));
  }
}

TEST_F(InternetMessageTest, HtmlBodyGoesAsAlternativeWithItsPictures) {
  std::string tmp = home.path("tmp/");
  test::makeDirs(tmp);
  std::string pic = tmp + "pic.png";
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + Binary(3000, 9);
  test::writeFile(pic, png);
  FakeEditor editor;
  mailformat::TDHTMLEditWrap wrap(editor, tmp, random);
  std::string url = QUrl::fromLocalFile(QString::fromStdString(pic)).toString().toStdString();
  wrap.LoadSource("<HTML><BODY><P>Caf\xC3\xA9 cr\xC3\xA8me " + std::string(1200, 'z') + "</P><IMG src=\"" + url +
                  "\"></BODY></HTML>");
  wrap.SetDocumentCharset("windows-1252");
  test::makeDirs(home.path("docs/"));
  std::string eml = home.path("docs/body.eml");
  ASSERT_TRUE(wrap.Save(eml)) << wrap.LastError();

  for (bool withAttachment : {false, true}) {
    SCOPED_TRACE(withAttachment ? "with attachment" : "alone");
    InternetMessage m = Basic();
    m.parts = {{eml, "body.eml", "eml", "windows-1252"}};
    if (withAttachment) m.parts.push_back(File("notes.txt", "n\r\n"));
    std::string bytes = Build(m);
    ExpectSafeLines(bytes);
    EXPECT_EQ(bytes.find("X-MimeOLE"), std::string::npos);
    EXPECT_EQ(bytes.find("MIME-Version"), bytes.rfind("MIME-Version"));

    QJsonObject py = Python(bytes);
    EXPECT_TRUE(py["defects"].toArray().isEmpty());
    EXPECT_EQ(py["content_type"].toString(), withAttachment ? "multipart/mixed" : "multipart/related");
    QJsonArray parts = py["parts"].toArray();
    std::vector<std::string> types;
    QJsonObject html, image, text;
    for (const auto& v : parts) {
      QJsonObject p = v.toObject();
      types.push_back(p["type"].toString().toStdString());
      if (p["type"] == "text/html") html = p;
      if (p["type"] == "image/png") image = p;
      if (p["type"] == "text/plain" && text.isEmpty()) text = p;
    }
    EXPECT_NE(std::find(types.begin(), types.end(), "multipart/alternative"), types.end());
    EXPECT_EQ(image["sha256"].toString().toStdString(), Sha256(png));
    EXPECT_FALSE(image["content_id"].toString().isEmpty());
    EXPECT_FALSE(html.isEmpty());
    // The 8-bit text part with its long line was re-encoded.
    EXPECT_EQ(text["cte"].toString(), "quoted-printable");
    EXPECT_EQ(text["charset"].toString(), "windows-1252");

    // The program's reader takes the HTML body as one stored ".eml" part, pictures and all.
    auto own = Split(bytes);
    ASSERT_EQ(own.size(), withAttachment ? 2u : 1u);
    EXPECT_EQ(own[0].d.kind, "eml");
    EXPECT_NE(own[0].content.find("cid:"), std::string::npos);
    if (withAttachment) {
      EXPECT_TRUE(own[1].content.starts_with("n\r\n"));
    }
  }
}

TEST_F(InternetMessageTest, HeadersAreEncodedAndBccStaysOutOfTheMessage) {
  InternetMessage m;
  m.from = "\"J\xC3\xBCrgen M\xC3\xBCller\" <juergen@example.de>";
  m.to = "\"Doe, John\" <john@example.com>; mary";
  m.cc = "\"Zo\xC3\xAB\" <zoe@example.org>";
  m.bcc = "hidden@example.net";
  m.subject = "Re: \xC3\x9C" "bersicht \xE2\x80\x94 " + std::string(120, 'w') + "\r\nBcc: evil@example.com";
  m.messageId = MakeMessageId("123:001/002", m.from);
  m.inReplyTo = "<orig@example.com>\r\nX-Evil: 1";
  m.references = "<first@example.com> <orig@example.com>";
  m.parts = {File("body.txt", "x\r\n")};
  std::string bytes = Build(m);
  ExpectSafeLines(bytes);
  std::string header = bytes.substr(0, bytes.find("\r\n\r\n") + 2);
  EXPECT_EQ(header.find("Bcc"), std::string::npos);
  EXPECT_EQ(header.find("hidden@"), std::string::npos);
  EXPECT_EQ(header.find("\r\nX-Evil"), std::string::npos);
  for (size_t at = 0, end; (end = header.find("\r\n", at)) != std::string::npos; at = end + 2)
    EXPECT_LE(end - at, 78u) << "header line not folded: " << header.substr(at, end - at);

  QJsonObject py = Python(bytes);
  EXPECT_TRUE(py["defects"].toArray().isEmpty());
  QJsonObject h = py["headers"].toObject();
  EXPECT_EQ(h["From"].toString(), QString::fromUtf8("J\xC3\xBCrgen M\xC3\xBCller <juergen@example.de>"));
  EXPECT_EQ(h["To"].toString(), QString::fromUtf8("\"Doe, John\" <john@example.com>, mary@plumadex.net"));
  EXPECT_EQ(h["Cc"].toString(), QString::fromUtf8("Zo\xC3\xAB <zoe@example.org>"));
  EXPECT_FALSE(h.contains("Bcc"));
  EXPECT_EQ(h["Subject"].toString(), QString::fromUtf8("Re: \xC3\x9C" "bersicht \xE2\x80\x94 ") +
                                         QString(120, 'w') + "  Bcc: evil@example.com");
  EXPECT_EQ(h["Message-ID"].toString(), "<123.001.002.plumadex@example.de>");
  EXPECT_EQ(h["References"].toString(), "<first@example.com> <orig@example.com>");
  EXPECT_TRUE(h["In-Reply-To"].toString().startsWith("<orig@example.com>"));
  EXPECT_TRUE(py["date_ok"].toBool());

  Envelope env = EnvelopeOf(m);
  EXPECT_EQ(env.mailFrom, "juergen@example.de");
  EXPECT_EQ(env.recipients, (std::vector<std::string>{"john@example.com", "mary@plumadex.net", "zoe@example.org",
                                                     "hidden@example.net"}));
}

TEST_F(InternetMessageTest, EnvelopeDropsDuplicatesAndReportsUnusableEntries) {
  InternetMessage m;
  m.from = "ann@example.org";
  m.to = "Bob@Example.net, \"Friends (GROUP)\", not an address, x@y@z";
  m.cc = "bob@example.net";
  m.bcc = "\"Bob again\" <BOB@example.NET>";
  Envelope env = EnvelopeOf(m);
  EXPECT_EQ(env.recipients, std::vector<std::string>{"Bob@Example.net"});
  EXPECT_EQ(env.invalid.size(), 3u);
}

TEST_F(InternetMessageTest, ADocumentSentAloneIsAnAttachment) {
  InternetMessage m = Basic();
  std::string doc = Binary(10000, 5);
  m.parts = {File("report.doc", doc)};
  std::string bytes = Build(m);
  QJsonObject py = Python(bytes);
  EXPECT_EQ(py["content_type"].toString(), "multipart/mixed");
  QJsonArray parts = py["parts"].toArray();
  ASSERT_EQ(parts.size(), 2);
  EXPECT_EQ(parts[1].toObject()["filename"].toString(), "report.doc");
  EXPECT_EQ(parts[1].toObject()["sha256"].toString().toStdString(), Sha256(doc));
}

TEST_F(InternetMessageTest, AnUnreadablePartFailsTheMessage) {
  InternetMessage m = Basic();
  m.parts = {File("body.txt", "x\r\n"), {home.path("docs/missing.pdf"), "missing.pdf", "pdf", ""}};
  std::string out;
  const FileStatus st = WriteInternetMessage(m, random, [&out](std::string_view b) {
    out.append(b);
    return true;
  });
  EXPECT_EQ(st.verb, "read");
  EXPECT_EQ(st.path, home.path("docs/missing.pdf"));
  EXPECT_NE(st.message.find("missing.pdf"), std::string::npos);
  // A sink that refuses fails the message too.
  EXPECT_EQ(WriteInternetMessage(Basic(), random, [](std::string_view) { return false; }).verb, "write");
}

TEST(MessageIdTest, FromBaseAndSenderDomain) {
  EXPECT_EQ(MakeMessageId("20261210", "\"A\" <a@Mail.Example.ORG>"), "20261210.plumadex@mail.example.org");
  EXPECT_EQ(MakeMessageId("20261210", "serviceuser"), "20261210.plumadex@plumadex.net");
  EXPECT_EQ(MakeMessageId("a<b>c\r\n", "x@y"), "abc.plumadex@y");
}
