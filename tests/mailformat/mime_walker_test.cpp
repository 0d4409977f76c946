// The MIME walker under both readers: boundary lines, the line break before a boundary, and
// results that do not depend on how the input arrives.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

#include "foundation/random.h"
#include "mailformat/line_reader.h"
#include "mailformat/mhtml_reader.h"
#include "mailformat/mime_reader.h"
#include "mailformat/mime_walker.h"
#include "mime_test_util.h"

namespace px::mailformat {
namespace {

using testing::Crlf;
using testing::Fixture;
using testing::SpoolFixture;

// ---- boundary lines ----------------------------------------------------------------------------

TEST(MimeWalker, BoundaryLinesAreThoseThatBeginWithTheBoundary) {
  struct Case { const char* line; MimeStop::Kind kind; size_t level; };
  const Case cases[] = {
      {"--outer", MimeStop::Delim, 0},
      {"--outer \t ", MimeStop::Delim, 0},
      {"--outer--", MimeStop::Close, 0},
      {"--outer-->", MimeStop::Close, 0},       // text after the closing "--" is ignored
      {"--outer-- end of list", MimeStop::Close, 0},
      {"--outerX", MimeStop::None, 0},          // another boundary sharing the prefix: body
      {"--outer x", MimeStop::None, 0},
      {"--outer-in", MimeStop::Delim, 1},       // the inner boundary extends the outer one
      {"--outer-in--", MimeStop::Close, 1},
      {"--outer-in-->", MimeStop::Close, 1},
      {"--outer--in", MimeStop::Close, 0},
      {" --outer", MimeStop::None, 0},
      {"-outer", MimeStop::None, 0},
      {"", MimeStop::None, 0},
  };
  LineReader in;
  in.OpenMemory("");
  MimeWalker w(in);
  w.Open("--outer");
  w.Open("--outer-in");
  for (const Case& c : cases) {
    LinePiece p;
    p.text = c.line;
    MimeStop s = w.Classify(p);
    EXPECT_EQ(s.kind, c.kind) << c.line;
    if (c.kind != MimeStop::None) EXPECT_EQ(s.level, c.level) << c.line;
  }
  // Only whole lines count.
  LinePiece piece;
  piece.text = "--outer";
  piece.last = false;
  EXPECT_EQ(w.Classify(piece).kind, MimeStop::None);
}

TEST(MimeWalker, ClosingLineWithTextAfterItEndsTheLastAttachment) {
  // Seen in real mail: "--b-->" closes the message; the epilogue after it is no attachment.
  const std::string msg = Crlf(
      "Subject: S\nContent-Type: multipart/mixed; boundary=b\n\n"
      "--b\nContent-Type: text/plain\n\nbody\n"
      "--b\nContent-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: base64\n\nAAECAw==\n"
      "--b-->\nThe list footer, not part of any attachment.\n");
  SpoolFixture f;
  auto parts = f.Split(msg);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].content, "body");
  EXPECT_EQ(parts[1].d.name, "a.bin");
  EXPECT_EQ(parts[1].content, std::string("\x00\x01\x02\x03", 4));

  // The HTML reader reads boundaries the same way.
  QTemporaryDir tmp;
  RandomSource random(1);
  MhtmlDocument doc;
  ASSERT_TRUE(ReadMhtmlMemory(Crlf("Content-Type: multipart/alternative; boundary=a\n\n"
                                   "--a\nContent-Type: text/plain\n\nplain\n"
                                   "--a\nContent-Type: text/html\n\n<b>html</b>\n--a-->\nepilogue\n"),
                              tmp.path().toStdString() + "/", random, doc));
  EXPECT_EQ(doc.html, "<b>html</b>");
}

TEST(MimeWalker, LineBreakBeforeABoundaryBelongsToTheBoundary) {
  // Every text attachment comes out exactly as it was attached, whatever its last line.
  const std::string bodies[] = {"no final break", "one final break\r\n", "empty line after\r\n\r\n",
                                "", "\r\n", "a\r\nb"};
  for (const char* encoding : {"7bit", "8bit", "quoted-printable"}) {
    for (const std::string& body : bodies) {
      SpoolFixture f;
      auto parts = f.Split(Crlf(std::string("Content-Type: multipart/mixed; boundary=b\n\n--b\n\nx\n") +
                                "--b\nContent-Type: application/pgp-signature; name=signature.asc\n"
                                "Content-Transfer-Encoding: " + encoding + "\n\n") +
                           body + "\r\n--b--\r\n");
      ASSERT_EQ(parts.size(), 2u) << encoding << " " << body;
      EXPECT_EQ(parts[0].content, "x");
      EXPECT_EQ(parts[1].content, body) << encoding;
    }
  }
  // A body that runs to the end of the message keeps the message's own last line break.
  SpoolFixture f;
  EXPECT_EQ(f.Split("Subject: S\r\n\r\nlast\r\n")[0].content, "last\r\n");
  EXPECT_EQ(f.Split("Subject: S\r\n\r\nlast")[0].content, "last");
}

// ---- however the input arrives --------------------------------------------------------------------

// Keeps the parts in memory, descriptor text and content.
class MemorySink : public PartSink {
public:
  bool Begin() override {
    content_.clear();
    return true;
  }
  bool Write(std::string_view bytes) override {
    content_.append(bytes);
    return true;
  }
  bool End(PartDescriptor d) override {
    parts.push_back(FormatPartDescriptor(d) + "\n----\n" + content_);
    return true;
  }
  void Abort() override { content_.clear(); }
  std::vector<std::string> parts;

private:
  std::string content_;
};

std::vector<std::string> SplitToMemory(LineReader& in, bool textOnly) {
  MemorySink sink;
  SplitMessage(in, sink, SplitOptions{}, textOnly);
  return sink.parts;
}

struct MhtmlResult {
  bool ok = false;
  std::string html, charset;
  std::map<std::string, std::string> resources;  // reference -> file bytes
};

MhtmlResult ReadToMemory(LineReader& in) {
  QTemporaryDir tmp;
  RandomSource random(9);
  MhtmlDocument doc;
  MhtmlResult r;
  r.ok = ReadMhtmlStream(in, tmp.path().toStdString() + "/", random, doc);
  r.html = doc.html;
  r.charset = doc.charset;
  for (const auto& [ref, path] : doc.references) r.resources[ref] = px::test::readFile(path);
  return r;
}

std::vector<std::pair<std::string, std::string>> EveryMessage() {
  std::vector<std::pair<std::string, std::string>> all;
  for (const char* dir : {"", "real/"}) {
    QDir d(QString(PX_TEST_DATA) + "/mime/" + dir);
    for (const QString& n : d.entryList({"*.eml"}, QDir::Files, QDir::Name))
      all.emplace_back(dir + n.toStdString(), Fixture(dir + n.toStdString()));
  }
  // Lines longer than the walker's whole-line limit: a long header, a long body line that
  // begins like a boundary, and a boundary line with a long tail of blanks.
  std::string longLine(MimeWalker::kWholeLine + 10, 'x');
  all.emplace_back("long lines", Crlf("Subject: " + longLine + "\nX-Long: a\n " + longLine +
                                      "\nContent-Type: multipart/mixed; boundary=b\n\n"
                                      "--b\n\n--b" + longLine + "\nbody\n--b" +
                                      std::string(MimeWalker::kWholeLine, ' ') + "\n\nsecond\n--b--\n"));
  all.emplace_back("no final line break",
                   Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n--b\n"
                        "Content-Type: multipart/alternative; boundary=c\n\n--c\n\ntwo, and the last line is long"));
  all.emplace_back("bare line feeds", "Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n\n--b\n\ntwo\r\n--b--\n");
  return all;
}

TEST(MimeWalker, ChunkedInputGivesTheSameResultAsTheWholeBuffer) {
  const auto messages = EveryMessage();
  ASSERT_GE(messages.size(), 19u);
  for (const auto& [name, bytes] : messages) {
    for (bool textOnly : {false, true}) {
      LineReader whole;
      whole.OpenMemory(bytes);
      const auto expected = SplitToMemory(whole, textOnly);
      ASSERT_FALSE(expected.empty()) << name;
      for (size_t chunk = 1; chunk <= 7; ++chunk) {
        LineReader in(chunk);
        in.OpenMemoryInChunks(bytes, chunk);
        EXPECT_EQ(SplitToMemory(in, textOnly), expected) << name << " in chunks of " << chunk;
      }
    }
    LineReader whole;
    whole.OpenMemory(bytes);
    const MhtmlResult expected = ReadToMemory(whole);
    for (size_t chunk = 1; chunk <= 7; ++chunk) {
      LineReader in(chunk);
      in.OpenMemoryInChunks(bytes, chunk);
      MhtmlResult r = ReadToMemory(in);
      EXPECT_EQ(r.ok, expected.ok) << name << " " << chunk;
      EXPECT_EQ(r.html, expected.html) << name << " in chunks of " << chunk;
      EXPECT_EQ(r.charset, expected.charset) << name;
      EXPECT_EQ(r.resources, expected.resources) << name << " in chunks of " << chunk;
    }
  }
}

TEST(MimeWalker, LongLinesComeAsAFirstPieceOfTheWholeLineLimitThenTheRest) {
  const std::string line(MimeWalker::kWholeLine * 3 + 5, 'q');
  const std::string input = "short\r\n" + line + "\r\nend";
  for (size_t chunk : {size_t(3), size_t(1) << 20}) {
    LineReader in(chunk);
    in.OpenMemoryInChunks(input, chunk);
    MimeWalker w(in);
    LinePiece p;
    ASSERT_TRUE(w.Next(p));
    EXPECT_EQ(p.text, "short");
    EXPECT_TRUE(p.first && p.last);
    ASSERT_TRUE(w.Next(p));
    EXPECT_TRUE(p.first);
    EXPECT_FALSE(p.last);
    EXPECT_EQ(p.text.size(), MimeWalker::kWholeLine) << chunk;
    std::string joined(p.text);
    while (w.Next(p) && !p.first) {
      joined.append(p.text);
      if (p.last) break;
    }
    EXPECT_EQ(joined, line);
    ASSERT_TRUE(w.Next(p));
    EXPECT_EQ(p.text, "end");
    EXPECT_FALSE(p.ended);
  }
}

TEST(MimeWalker, LastLineWithoutLineEndIsReadWhole) {
  // The unread rest is moved to the front of the buffer before the end is found: the last line
  // must be taken from where it was moved to.
  QTemporaryDir dir;
  const std::string path = dir.path().toStdString() + "/m";
  px::test::writeFile(path, "01\r\nabcdefghijkl");
  LineReader in(16);
  ASSERT_TRUE(in.OpenFile(path));
  LinePiece p;
  ASSERT_TRUE(in.Next(p));
  EXPECT_EQ(p.text, "01");
  ASSERT_TRUE(in.Next(p));
  EXPECT_EQ(p.text, "abcdefghijkl");
  EXPECT_TRUE(p.first && p.last);
  EXPECT_FALSE(p.ended);
  EXPECT_FALSE(in.Next(p));
}

}  // namespace
}  // namespace px::mailformat
