// The readers on files made here (words split across pieces, runs, spans and window borders, as
// real writers produce them) and on real documents made by other programs.
#include "search/extractor.h"
#include "search/rtf_reader.h"
#include "search/search_engine.h"

#include "foundation/charset.h"
#include "search/zip_fixture.h"
#include "support/test_support.h"

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-utils.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

namespace px::search {
namespace {

using px::test::TempHome;
using px::test::writeFile;

class CollectSink final : public TextSink {
public:
  bool Put(std::string_view s) override {
    text += s;
    ++pieces;
    return true;
  }
  std::string text;
  int pieces = 0;
};

std::string textOf(const std::string& path) {
  CollectSink s;
  const ExtractStatus st = ExtractText(path, s);
  EXPECT_TRUE(st.ok) << path;
  return s.text;
}

bool found(const std::string& path, std::vector<std::string> keywords, unsigned flags = 0) {
  TSearchEngine e;
  e.Configure(flags | SF_SCANOTHERFORMATS, std::move(keywords));
  return e.SearchFile(path).match;
}

void put16(std::string& b, size_t off, uint16_t v) {
  b[off] = static_cast<char>(v & 0xFF);
  b[off + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, size_t off, uint32_t v) {
  put16(b, off, static_cast<uint16_t>(v));
  put16(b, off + 2, static_cast<uint16_t>(v >> 16));
}

// A Word 97 file: the text in two pieces, the first UTF-16LE, the second 8-bit (Windows-1252),
// with the piece table in "1Table".
struct WordPieces {
  std::string doc;
  std::string table;
};
WordPieces makeWordStreams(const std::u16string& first, const std::string& second1252, uint32_t secondOffset = 3072) {
  WordPieces w;
  w.doc.assign(4096 + second1252.size(), '\0');
  put16(w.doc, 0, 0xA5EC);
  put16(w.doc, 2, 0x00C1);
  put16(w.doc, 0x0A, 0x0200 | 0x0004);
  for (size_t i = 0; i < first.size(); ++i) put16(w.doc, 1024 + 2 * i, first[i]);
  if (secondOffset + second1252.size() <= w.doc.size())
    std::memcpy(w.doc.data() + secondOffset, second1252.data(), second1252.size());
  // Clx: one property run, then the piece table.
  std::string clx;
  clx += '\x01';
  clx += std::string("\x02\x00\xAA\xBB", 4);
  clx += '\x02';
  const uint32_t lcb = 4 * 3 + 8 * 2;
  clx += std::string(4, '\0');
  put32(clx, clx.size() - 4, lcb);
  std::string plc(lcb, '\0');
  put32(plc, 0, 0);
  put32(plc, 4, static_cast<uint32_t>(first.size()));
  put32(plc, 8, static_cast<uint32_t>(first.size() + second1252.size()));
  put32(plc, 12 + 2, 1024);                                 // UTF-16 piece
  put32(plc, 20 + 2, (secondOffset * 2) | 0x40000000u);     // 8-bit piece
  clx += plc;
  w.table.assign(512, '\0');
  w.table += clx;
  put32(w.doc, 0x1A2, 512);
  put32(w.doc, 0x1A6, static_cast<uint32_t>(clx.size()));
  return w;
}

void writeOle(const std::string& path, const std::vector<std::pair<const char*, std::string>>& streams) {
  gsf_init();
  GError* err = nullptr;
  GsfOutput* out = gsf_output_stdio_new(path.c_str(), &err);
  ASSERT_NE(out, nullptr);
  GsfOutfile* ole = gsf_outfile_msole_new(out);
  for (const auto& [name, bytes] : streams) {
    GsfOutput* s = gsf_outfile_new_child(ole, name, FALSE);
    gsf_output_write(s, bytes.size(), reinterpret_cast<const guint8*>(bytes.data()));
    gsf_output_close(s);
    g_object_unref(s);
  }
  gsf_output_close(GSF_OUTPUT(ole));
  g_object_unref(ole);
  g_object_unref(out);
}

TEST(WordReader, ReadsUtf16And8BitPiecesAsOneText) {
  TempHome home;
  const WordPieces w = makeWordStreams(u"Quarterly repo", "rt caf\xE9\x0Dnext line");
  const std::string path = home.path("report.doc");
  writeOle(path, {{"WordDocument", w.doc}, {"1Table", w.table}});
  const std::string text = textOf(path);
  EXPECT_NE(text.find("Quarterly report café\nnext line"), std::string::npos) << text;
  EXPECT_TRUE(found(path, {"REPORT", "CAFÉ"}, SF_WHOLEWORDS));
  EXPECT_FALSE(found(path, {"quarterly", "absent"}));
}

TEST(WordReader, PiecesOutsideTheStreamAreSkippedNotRead) {
  TempHome home;
  // The second piece points far beyond the stream: the first is still read, nothing crashes.
  const WordPieces w = makeWordStreams(u"Quarterly repo", "rt", 0x3FFFFF00u / 2);
  std::string text;
  CollectSink s;
  EXPECT_TRUE(WordTextFromStreams(w.doc, w.table, s));
  EXPECT_NE(s.text.find("Quarterly repo"), std::string::npos);
  // A piece table beyond the table stream: the reader declines (the caller scans the file plain).
  WordPieces bad = w;
  put32(bad.doc, 0x1A2, 0x7FFFFFF0u);
  CollectSink s2;
  // fcMin/fcMac are 0, so the range reader gives the empty range
  WordTextFromStreams(bad.doc, bad.table, s2);
  EXPECT_EQ(s2.text.find("Quarterly"), std::string::npos);
}

TEST(WordReader, SniffsWordPerfectRichTextAndNonCompoundFiles) {
  TempHome home;
  writeFile(home.path("wp.doc"), std::string("\xFFWPC", 4) + "plain words here");
  EXPECT_TRUE(found(home.path("wp.doc"), {"words"}));
  writeFile(home.path("rich.doc"), "{\\rtf1\\ansi caf\\'e9 au lait}");
  EXPECT_TRUE(found(home.path("rich.doc"), {"café"}));
  EXPECT_FALSE(found(home.path("rich.doc"), {"rtf1"}));  // control words are not text
  writeFile(home.path("notole.doc"), "just some text saved as .doc");
  EXPECT_TRUE(found(home.path("notole.doc"), {"saved"}));
}

TEST(WordReader, MissingFileIsReportedUnreadable) {
  TSearchEngine e;
  e.Configure(SF_SCANOTHERFORMATS, {"x"});
  const FileAnswer a = e.SearchFile("/nonexistent/dir/file.doc");
  EXPECT_TRUE(a.unreadable);
  EXPECT_EQ(a.error, ENOENT);
  EXPECT_FALSE(a.match);
}

TEST(RichTextReader, DecodesEscapesInTheDocumentsCodePage) {
  TempHome home;
  struct Case {
    const char* rtf;
    const char* keyword;
    bool expected;
  } cases[] = {
      {"{\\rtf1\\ansi\\ansicpg1252 caf\\'e9}", "café", true},
      {"{\\rtf1\\ansi\\ansicpg1251 \\'cc\\'ee\\'f1\\'ea\\'e2\\'e0}", "москва", true},
      {"{\\rtf1\\ansi\\uc1 \\u1052?\\u1086?\\u1089?\\u1082?\\u1074?\\u1072?}", "Москва", true},
      {"{\\rtf1\\ansi\\uc1 x\\u-3913?y}", "x\xEF\x82\xB7y", true},  // negative \u is the unit + 65536
      {"{\\rtf1\\ansi {\\b Hel}lo wor\r\nld}", "hello world", true},
      {"{\\rtf1\\ansi{\\fonttbl{\\f0 Times New Roman;}}text}", "roman", false},
      {"{\\rtf1\\ansi{\\*\\generator Writer 5;}text}", "writer", false},
      {"{\\rtf1\\ansi a\\par b}", "a b", true},
  };
  for (const Case& c : cases) {
    const std::string path = home.path("case.rtf");
    writeFile(path, c.rtf);
    EXPECT_EQ(found(path, {c.keyword}, SF_WHOLEWORDS), c.expected) << c.rtf;
  }
}

TEST(RichTextReader, BinaryDataIsSkippedAndLargeFilesAreStreamed) {
  TempHome home;
  // 3 MiB of picture data given as \bin, then text; the reader never holds the file whole.
  std::string rtf = "{\\rtf1\\ansi {\\pict\\bin3145728 ";
  rtf += std::string(3u << 20, 'k');
  rtf += "}needle in the text}";
  const std::string path = home.path("big.rtf");
  writeFile(path, rtf);
  CollectSink s;
  ASSERT_TRUE(ExtractText(path, s).ok);
  EXPECT_EQ(s.text, "needle in the text");
  EXPECT_FALSE(found(path, {"kkkk"}));
}

TEST(RichTextReader, DecoderGivesTheSameTextHoweverTheBytesAreCut) {
  const std::string rtf = "{\\rtf1\\ansi\\ansicpg1251\\uc1 \\'cc\\'ee x\\u1052?y {\\*\\x z}\\par end}";
  CollectSink whole;
  {
    RtfDecoder d(whole);
    d.Feed(rtf);
    d.Finish();
  }
  for (size_t step = 1; step < 7; ++step) {
    CollectSink s;
    RtfDecoder d(s);
    for (size_t i = 0; i < rtf.size(); i += step) d.Feed(std::string_view(rtf).substr(i, step));
    d.Finish();
    EXPECT_EQ(s.text, whole.text) << step;
  }
  EXPECT_EQ(whole.text, "Мо xМy \nend");
}

TEST(WriteReader, WriteFileIsScannedAsItsBytes) {
  TempHome home;
  writeFile(home.path("old.wri"), std::string("\x31\xBE\x00\x00", 4) + std::string(124, '\0') + "minutes of the meeting");
  EXPECT_TRUE(found(home.path("old.wri"), {"meeting"}));
}

TEST(PlainReader, KeywordAcrossTheWindowBorderIsFound) {
  TempHome home;
  const std::string path = home.path("big.txt");
  for (size_t cut : {3u, 5u, 9u}) {
    std::string text((1u << 20) - cut, 'a');
    text += " borderline ";
    text += std::string(100, 'b');
    writeFile(path, text);
    EXPECT_TRUE(found(path, {"borderline"}, SF_WHOLEWORDS)) << cut;
  }
  // "inter|net" cut by the border is not the whole word "net".
  std::string text((1u << 20) - 5, 'a');
  text += " internet ";
  writeFile(path, text);
  EXPECT_FALSE(found(path, {"net"}, SF_WHOLEWORDS));
  EXPECT_TRUE(found(path, {"net"}));
}

TEST(PlainReader, CodePageOfTheFileIsDetectedAndConverted) {
  TempHome home;
  std::string russian;
  for (int i = 0; i < 40; ++i) russian += "Это простой текст на русском языке, который говорит о том, что программа должна правильно определить кодировку этого документа. ";
  const std::string path = home.path("ru.txt");
  writeFile(path, EncodeToCodePage(russian, 1251));
  EXPECT_TRUE(found(path, {"КОДИРОВКУ"}, SF_WHOLEWORDS));
  EXPECT_EQ(SampleCodePage("plain ascii"), kCodePageUtf8);
  EXPECT_EQ(SampleCodePage("caf\xC3\xA9"), kCodePageUtf8);
}

TEST(PlainReader, EmptyFileNeverMatches) {
  TempHome home;
  writeFile(home.path("empty.txt"), "");
  TSearchEngine e;
  e.Configure(0, {});
  EXPECT_FALSE(e.SearchFile(home.path("empty.txt")).match);
  writeFile(home.path("one.txt"), "x");
  EXPECT_TRUE(e.SearchFile(home.path("one.txt")).match);
  e.Configure(SF_ANYSTRINGS, {});
  EXPECT_FALSE(e.SearchFile(home.path("one.txt")).match);
}

TEST(PlainReader, WithoutOtherFormatsEveryFileIsBytes) {
  TempHome home;
  writeFile(home.path("a.rtf"), "{\\rtf1 caf\\'e9}");
  TSearchEngine e;
  e.Configure(0, {"rtf1"});
  EXPECT_TRUE(e.SearchFile(home.path("a.rtf")).match);
}

TEST(ZipXmlReader, OpenDocumentAndOfficeXmlJoinRunsInsideAParagraph) {
  TempHome home;
  writeZip(home.path("a.odt"),
           {{"mimetype", "application/vnd.oasis.opendocument.text"},
            {"content.xml",
             "<?xml version=\"1.0\"?><office:document-content xmlns:office=\"o\" xmlns:text=\"t\"><office:body>"
             "<text:p>Hel<text:span>lo</text:span> w&amp;orld</text:p><text:p>next<text:s/>para</text:p>"
             "</office:body></office:document-content>"}});
  EXPECT_EQ(textOf(home.path("a.odt")), "\nHello w&orld\nnext para");
  EXPECT_TRUE(found(home.path("a.odt"), {"hello"}, SF_WHOLEWORDS));
  EXPECT_FALSE(found(home.path("a.odt"), {"worldnext"}));

  writeZip(home.path("b.docx"),
           {{"word/document.xml",
             "<w:document xmlns:w=\"w\"><w:body><w:p><w:r><w:t>Invo</w:t></w:r><w:r><w:t>ice</w:t></w:r>"
             "<w:r><w:tab/><w:t>total</w:t></w:r></w:p></w:body></w:document>"},
            {"word/header1.xml", "<w:hdr xmlns:w=\"w\"><w:p><w:r><w:t>Kavenstow letterhead</w:t></w:r></w:p></w:hdr>"}});
  EXPECT_TRUE(found(home.path("b.docx"), {"invoice", "total", "letterhead"}, SF_WHOLEWORDS));
  // Not a zip after all: scanned plain.
  writeFile(home.path("c.docx"), "not a zip but words");
  EXPECT_TRUE(found(home.path("c.docx"), {"words"}));
}

TEST(HtmlAndMailReaders, MarkupIsNotTextAndPartsAreDecoded) {
  TempHome home;
  writeFile(home.path("p.html"),
            "<html><head><title>T</title></head><body><p class=\"needle\">Pri<b>ce</b> &eacute;t&eacute;</p></body></html>");
  EXPECT_TRUE(found(home.path("p.html"), {"price", "été"}, SF_WHOLEWORDS));
  EXPECT_FALSE(found(home.path("p.html"), {"needle"}));

  writeFile(home.path("m.eml"),
            "From: a@example.org\r\nSubject: hi\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
            "Un caf=C3=A9 cr=\r\nème, s'il vous pla=C3=AEt\r\n");
  EXPECT_TRUE(found(home.path("m.eml"), {"café", "crème"}, SF_WHOLEWORDS));
}

// A PDF as a writer makes it: objects, a content stream that places text in pieces, and the
// cross-reference table with the byte offsets of the objects.
std::string makePdf(const std::vector<std::string>& pageStreams) {
  std::vector<std::string> objects;
  std::string kids;
  const size_t n = pageStreams.size();
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  for (size_t i = 0; i < n; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (size_t i = 0; i < n; ++i) {
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                      "/Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(pageStreams[i].size()) + " >>\nstream\n" + pageStreams[i] +
                      "\nendstream");
  }
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

TEST(PdfReader, PagesTextWithWordsSplitAcrossShowOperators) {
  TempHome home;
  writeFile(home.path("a.pdf"),
            makePdf({"BT /F1 12 Tf 72 700 Td [(Quar) -10 (terly)] TJ ( report) Tj ET",
                     "BT /F1 12 Tf 72 700 Td (Second page about the bakery) Tj ET"}));
  const std::string text = textOf(home.path("a.pdf"));
  EXPECT_NE(text.find("Quarterly report"), std::string::npos) << text;
  EXPECT_TRUE(found(home.path("a.pdf"), {"quarterly", "bakery"}, SF_WHOLEWORDS));
  EXPECT_FALSE(found(home.path("a.pdf"), {"Helvetica"}));  // the font's name is not text
  // Not a PDF after all (or damaged beyond repair): its bytes are scanned.
  writeFile(home.path("b.pdf"), "just words in a file named pdf");
  EXPECT_TRUE(found(home.path("b.pdf"), {"words"}));
  EXPECT_EQ(KindOfFile(home.path("B.PDF"), true), DocKind::Pdf);
}

// Real documents made by other programs (installed for the tests, scripts/deps/search.list).
constexpr const char* kMimetypeData = "/usr/share/gocode/src/github.com/gabriel-vasile/mimetype/testdata/";

TEST(RealDocuments, ReadsDocumentsOfOtherWriters) {
  const std::string doc = std::string(kMimetypeData) + "doc.doc";
  struct stat st{};
  ASSERT_EQ(::stat(doc.c_str(), &st), 0) << "install scripts/deps/search.list";
  // Written by LibreOffice: text in the piece table
  EXPECT_TRUE(found(doc, {"Libre Writer"}, SF_WHOLEWORDS));
  EXPECT_FALSE(found(doc, {"WordDocument"}));
  EXPECT_TRUE(found(std::string(kMimetypeData) + "docx.docx", {"asdasdasdasd"}, SF_WHOLEWORDS));
  EXPECT_TRUE(found(std::string(kMimetypeData) + "odt.odt", {"hello", "world"}, SF_WHOLEWORDS));
  const std::string rtf = "/usr/share/doc/librtf-writer-perl/examples/la_dame.rtf";
  EXPECT_TRUE(found(rtf, {"flétris", "Apollinaire"}, SF_WHOLEWORDS));
  EXPECT_TRUE(found(rtf, {"FERMÉ LA PORTE"}, SF_WHOLEWORDS));
  EXPECT_FALSE(found(rtf, {"Times New Roman"}));
}

TEST(RealDocuments, WordFileOfAnotherWriter) {
  const std::string doc = "/usr/share/gocode/src/github.com/rclone/rclone/backend/drive/test/files/example2.doc";
  struct stat st{};
  if (::stat(doc.c_str(), &st) != 0) GTEST_SKIP() << "install scripts/deps/search.list";
  // Written by LibreOffice with German styles: the body from the piece table, not the style names.
  EXPECT_TRUE(found(doc, {"Phasellus auctor", "Maecenas egestas"}, SF_WHOLEWORDS));
  EXPECT_TRUE(found(doc, {"suspendisse", "posuere"}, SF_WHOLEWORDS));
  EXPECT_FALSE(found(doc, {"Liberation Serif"}));
  EXPECT_FALSE(found(doc, {"Beschriftung"}));
}

}  // namespace
}  // namespace px::search
