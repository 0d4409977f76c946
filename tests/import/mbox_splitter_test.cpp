// The mailbox splitter: line ends of every kind, quoted separators, bytes passed unchanged,
// and the same messages whatever the chunks the input arrives in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/mbox_splitter.h"

namespace px::import {
namespace {

// Collects messages as text with "\n" after every line.
class Collect : public MboxSink {
public:
  void BeginMessage(uint64_t offset) override {
    messages.emplace_back();
    offsets.push_back(offset);
  }
  void LinePiece(std::string_view text, bool first, bool last) override {
    if (first) ++pieceLines;
    if (!last) ++splitLines;
    messages.back().append(text);
    if (last) messages.back() += '\n';
  }
  void EndMessage() override { ++ended; }
  std::vector<std::string> messages;
  std::vector<uint64_t> offsets;
  int ended = 0, pieceLines = 0, splitLines = 0;
};

std::vector<std::string> Split(std::string_view in, size_t chunk = 0) {
  Collect c;
  MboxSplitter s(c);
  if (chunk == 0) {
    s.Feed(in);
  } else {
    for (size_t i = 0; i < in.size(); i += chunk) s.Feed(in.substr(i, chunk));
  }
  s.Finish();
  EXPECT_EQ(c.ended, static_cast<int>(c.messages.size()));
  return c.messages;
}

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> messages;
};

TEST(MboxSplitter, SplitsEveryKindOfMailbox) {
  using namespace std::string_literals;
  const std::vector<Case> cases = {
      {"LF", "From a\nA: 1\n\nbody\n\nFrom b\nB: 2\n\nsecond\n", {"A: 1\n\nbody\n", "B: 2\n\nsecond\n"}},
      {"CRLF", "From a\r\nA: 1\r\n\r\nbody\r\n\r\nFrom b\r\nB: 2\r\n", {"A: 1\n\nbody\n", "B: 2\n"}},
      {"lone CR", "From a\rA: 1\r\rbody\r\rFrom b\rB: 2\r", {"A: 1\n\nbody\n", "B: 2\n"}},
      {"mixed", "From a\nA: 1\r\n\rx\n\r\nFrom b\rB\n", {"A: 1\n\nx\n", "B\n"}},
      {"no final line end", "From a\nA: 1\n\nlast words", {"A: 1\n\nlast words\n"}},
      {"NUL kept", "From a\nA\n\nx\0y\n"s, {"A\n\nx\0y\n"s}},
      {"text before first separator dropped", "junk\nmore\nFrom a\nA\n", {"A\n"}},
      {"no separator", "just text\nno mail\n", {}},
      {"empty", "", {}},
      {"quoted separators lose one >", "From a\nA\n\n>From here\n>>From there\n> From not\nFromage\n",
       {"A\n\nFrom here\n>From there\n> From not\nFromage\n"}},
      {"only one empty line before a separator is the mailbox's", "From a\nA\n\nx\n\n\n\nFrom b\nB\n",
       {"A\n\nx\n\n\n", "B\n"}},
      {"empty message", "From a\nFrom b\nB\n", {"", "B\n"}},
      {"separator at the very end", "From a\nA\nFrom b", {"A\n", ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Split(c.input), c.messages) << c.name;
    for (size_t chunk = 1; chunk <= 7; ++chunk) EXPECT_EQ(Split(c.input, chunk), c.messages) << c.name << " in chunks of " << chunk;
  }
}

TEST(MboxSplitter, OffsetsPointAtSeparators) {
  Collect c;
  MboxSplitter s(c);
  const std::string in = "x\r\nFrom a\r\nA\r\n\r\nFrom b\rB\r";
  s.Feed(in);
  s.Finish();
  ASSERT_EQ(c.offsets.size(), 2u);
  EXPECT_EQ(in.substr(c.offsets[0], 6), "From a");
  EXPECT_EQ(in.substr(c.offsets[1], 6), "From b");
  EXPECT_EQ(s.strayBytes(), 1u);
}

TEST(MboxSplitter, LongLinesArriveInBoundedPieces) {
  Collect c;
  MboxSplitter s(c);
  const std::string longLine(MboxSplitter::kMaxPiece * 3 + 5, 'x');
  s.Feed("From a\nA\n\n" + longLine + "\nFrom b\n");
  s.Finish();
  ASSERT_EQ(c.messages.size(), 2u);
  EXPECT_EQ(c.messages[0], "A\n\n" + longLine + "\n");
  EXPECT_EQ(c.splitLines, 3);
  // A long line that starts "From " in the middle of a piece is no separator.
  Collect d;
  MboxSplitter t(d);
  t.Feed("From a\n" + std::string(MboxSplitter::kMaxPiece, 'y') + "From b\n");
  t.Finish();
  EXPECT_EQ(d.messages.size(), 1u);
}

TEST(MboxSplitter, SingleModeKeepsEveryLine) {
  Collect c;
  MboxSplitter s(c, MboxSplitter::Mode::Single);
  s.Feed("A: 1\r\n\r\nFrom me\n>From you\n\n");
  s.Finish();
  ASSERT_EQ(c.messages.size(), 1u);
  EXPECT_EQ(c.messages[0], "A: 1\n\nFrom me\n>From you\n\n");
}

}  // namespace
}  // namespace px::import
